// The host's compute cache and hash suite (see compute_cache.h). One mutex guards the tables;
// the class callbacks (key, compute, delete) always run outside it, so a slow compute never
// blocks checkouts of other keys and a callback may call back into the cache.
#include "refhost/compute_cache.h"

#include <cstring>

#include "refhost/callback_faults.h"

namespace refhost {

struct ComputeCache::Entry {
    Key key;
    std::shared_ptr<ClassRecord> record;
    bool ready = false;     // false while its compute runs
    bool detached = false;  // removed from the table (class unregistered); deleted at last checkin
    void* value = nullptr;
    std::size_t size = 0;
    int references = 0;
    std::list<std::shared_ptr<Entry>>::iterator idlePosition;
    bool idle = false;
};

struct ComputeCache::Receipt {
    std::shared_ptr<Entry> entry;
};

ComputeCache::ComputeCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

ComputeCache::~ComputeCache() {
    Victims victims;
    for (auto& [key, entry] : entries_)
        if (entry->ready) victims.push_back(entry);
    entries_.clear();
    idle_.clear();
    deleteValues(victims);
}

ComputeCache& ComputeCache::shared() {
    static ComputeCache* cache = std::make_unique<ComputeCache>().release();
    return *cache;
}

A_Err ComputeCache::registerClass(AEGP_CCComputeClassIdP classId,
                                  const AEGP_ComputeCacheCallbacks* callbacks) {
    if (!classId || !callbacks || !callbacks->generate_key || !callbacks->compute ||
        !callbacks->approx_size_value || !callbacks->delete_compute_value)
        return A_Err_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& record = classes_[classId];
    if (record) return A_Err_PARAMETER;  // already registered
    record = std::make_shared<ClassRecord>();
    record->callbacks = *callbacks;
    return A_Err_NONE;
}

A_Err ComputeCache::unregisterClass(AEGP_CCComputeClassIdP classId) {
    if (!classId) return A_Err_PARAMETER;
    Victims victims;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = classes_.find(classId);
        if (found == classes_.end()) return A_Err_PARAMETER;
        found->second->registered = false;
        classes_.erase(found);
        for (auto it = entries_.begin(); it != entries_.end();) {
            const std::shared_ptr<Entry>& entry = it->second;
            if (entry->key.first != classId) {
                ++it;
                continue;
            }
            entry->detached = true;
            if (entry->idle) {
                idle_.erase(entry->idlePosition);
                entry->idle = false;
            }
            // Values still checked out (or still computing) go when their last receipt returns.
            if (entry->ready) bytes_ -= entry->size;
            if (entry->ready && entry->references == 0) victims.push_back(entry);
            it = entries_.erase(it);
        }
        computed_.notify_all();
    }
    deleteValues(victims);
    return A_Err_NONE;
}

A_Err ComputeCache::makeKey(AEGP_CCComputeClassIdP classId, void* options, Key* key,
                            std::shared_ptr<ClassRecord>* record) {
    if (!classId) return A_Err_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = classes_.find(classId);
        if (found == classes_.end()) return A_Err_PARAMETER;
        *record = found->second;
    }
    AEGP_GUID guid{};
    const A_Err err = (*record)->callbacks.generate_key(options, &guid);
    if (err != A_Err_NONE) return err;
    key->first = classId;
    key->second.assign(reinterpret_cast<const char*>(&guid), sizeof guid);
    return A_Err_NONE;
}

AEGP_CCCheckoutReceiptP ComputeCache::checkoutLocked(const std::shared_ptr<Entry>& entry) {
    if (entry->idle) {
        idle_.erase(entry->idlePosition);
        entry->idle = false;
    }
    ++entry->references;
    auto receipt = std::make_unique<Receipt>();
    receipt->entry = entry;
    receipts_.insert(receipt.get());
    return reinterpret_cast<AEGP_CCCheckoutReceiptP>(receipt.release());
}

A_Err ComputeCache::computeIfNeededAndCheckout(AEGP_CCComputeClassIdP classId, void* options,
                                               bool waitForOtherThread,
                                               AEGP_CCCheckoutReceiptP* receipt) {
    if (!receipt) return A_Err_PARAMETER;
    *receipt = nullptr;
    Key key;
    std::shared_ptr<ClassRecord> record;
    if (const A_Err err = makeKey(classId, options, &key, &record)) return err;

    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!record->registered) return A_Err_PARAMETER;
        auto found = entries_.find(key);
        if (found == entries_.end()) break;
        std::shared_ptr<Entry> entry = found->second;
        if (entry->ready) {
            *receipt = checkoutLocked(entry);
            return A_Err_NONE;
        }
        // Another thread is computing it: a caller that will not wait hears so.
        if (!waitForOtherThread) return A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING;
        computed_.wait(lock, [&] { return entry->ready || entries_.count(key) == 0; });
    }

    // Absent: this thread computes it; others asking meanwhile wait on the placeholder.
    auto entry = std::make_shared<Entry>();
    entry->key = key;
    entry->record = record;
    entries_[key] = entry;
    lock.unlock();
    void* value = nullptr;
    A_Err err = record->callbacks.compute(options, &value);
    if (err == A_Err_NONE && !value) err = A_Err_GENERIC;  // success must yield a value
    const std::size_t size = err == A_Err_NONE ? record->callbacks.approx_size_value(value) : 0;
    lock.lock();

    if (err != A_Err_NONE) {
        if (!entry->detached) entries_.erase(key);
        computed_.notify_all();
        return err;
    }
    entry->value = value;
    entry->size = size;
    entry->ready = true;
    ++computes_;
    if (!entry->detached) bytes_ += size;
    *receipt = checkoutLocked(entry);
    computed_.notify_all();
    Victims victims;
    evictLocked(&victims);
    lock.unlock();
    deleteValues(victims);
    return A_Err_NONE;
}

A_Err ComputeCache::checkoutCached(AEGP_CCComputeClassIdP classId, void* options,
                                   AEGP_CCCheckoutReceiptP* receipt) {
    if (!receipt) return A_Err_PARAMETER;
    *receipt = nullptr;
    Key key;
    std::shared_ptr<ClassRecord> record;
    if (const A_Err err = makeKey(classId, options, &key, &record)) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end() || !found->second->ready) {
        return A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING;  // a miss, or a value still being computed
    }
    *receipt = checkoutLocked(found->second);
    return A_Err_NONE;
}

A_Err ComputeCache::receiptValue(AEGP_CCCheckoutReceiptP receipt,
                                 AEGP_CCComputeValueRefconP* value) const {
    if (!value) return A_Err_PARAMETER;
    const auto* r = reinterpret_cast<const Receipt*>(receipt);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!r || receipts_.count(r) == 0) return A_Err_PARAMETER;
    *value = r->entry->value;
    return A_Err_NONE;
}

A_Err ComputeCache::checkin(AEGP_CCCheckoutReceiptP receipt) {
    std::unique_ptr<Receipt> owned;
    Victims victims;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* r = reinterpret_cast<Receipt*>(receipt);
        if (!r || receipts_.erase(r) == 0) return A_Err_PARAMETER;
        owned.reset(r);
        const std::shared_ptr<Entry>& entry = owned->entry;
        if (--entry->references == 0) {
            if (entry->detached) {
                victims.push_back(entry);
            } else {
                idle_.push_front(entry);
                entry->idlePosition = idle_.begin();
                entry->idle = true;
                evictLocked(&victims);
            }
        }
    }
    deleteValues(victims);
    return A_Err_NONE;
}

void ComputeCache::evictLocked(Victims* victims) {
    while (bytes_ > budget_ && !idle_.empty()) {
        std::shared_ptr<Entry> entry = idle_.back();
        idle_.pop_back();
        entry->idle = false;
        entry->detached = true;
        entries_.erase(entry->key);
        bytes_ -= entry->size;
        ++evictions_;
        victims->push_back(std::move(entry));
    }
}

void ComputeCache::deleteValues(Victims& victims) {
    for (const std::shared_ptr<Entry>& entry : victims) {
        entry->record->callbacks.delete_compute_value(entry->value);
        entry->value = nullptr;
    }
    if (!victims.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        deletes_ += victims.size();
    }
    victims.clear();
}

void ComputeCache::setBudget(std::size_t bytes) {
    Victims victims;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        budget_ = bytes;
        evictLocked(&victims);
    }
    deleteValues(victims);
}

ComputeCache::Stats ComputeCache::stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t values = 0;
    for (const auto& [key, entry] : entries_)
        if (entry->ready) ++values;
    return {values, bytes_, computes_, deletes_, evictions_, receipts_.size()};
}

// ---- Hash suite -------------------------------------------------------------------------------

namespace {

constexpr std::uint64_t kPrimeA = 0x00000100000001B3ull;   // the 64-bit FNV prime
constexpr std::uint64_t kPrimeB = 0x9E3779B97F4A7C15ull;   // odd: a bijective multiplier
constexpr std::uint64_t kOffsetA = 0xCBF29CE484222325ull;  // the 64-bit FNV offset basis
constexpr std::uint64_t kOffsetB = 0x84222325CBF29CE4ull;

std::uint64_t avalanche(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

void mixLanes(const void* bytes, std::uint64_t size, std::uint64_t lanes[2]) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint64_t a = lanes[0], b = lanes[1];
    for (std::uint64_t i = 0; i < size; ++i) {
        a = (a ^ p[i]) * kPrimeA;
        b = (b ^ p[i]) * kPrimeB;
    }
    // The length goes in too, so mixing "ab" then "c" differs from "a" then "bc".
    a = avalanche(a ^ size);
    b = avalanche(b ^ (size * 0x9E3779B97F4A7C15ull));
    lanes[0] = a;
    lanes[1] = b;
}

A_Err suiteCreateHash(const A_u_longlong size, const void* bytes, AEGP_GUID* hash) {
    if (A_Err err; hostCallbackFails("AEGP_CreateHashFromPtr", &err)) return err;
    if (!hash || (!bytes && size != 0)) return A_Err_PARAMETER;
    hashCreate(bytes, size, hash);
    return A_Err_NONE;
}

A_Err suiteMixIn(const A_u_longlong size, const void* bytes, AEGP_GUID* hash) {
    if (A_Err err; hostCallbackFails("AEGP_HashMixInPtr", &err)) return err;
    if (!hash || (!bytes && size != 0)) return A_Err_PARAMETER;
    hashMixIn(bytes, size, hash);
    return A_Err_NONE;
}

A_Err suiteRegister(AEGP_CCComputeClassIdP classId, const AEGP_ComputeCacheCallbacks* callbacks) {
    if (A_Err err; hostCallbackFails("AEGP_ClassRegister", &err)) return err;
    return ComputeCache::shared().registerClass(classId, callbacks);
}
A_Err suiteUnregister(AEGP_CCComputeClassIdP classId) {
    return ComputeCache::shared().unregisterClass(classId);
}
A_Err suiteComputeIfNeededAndCheckout(AEGP_CCComputeClassIdP classId,
                                      AEGP_CCComputeOptionsRefconP options, bool wait,
                                      AEGP_CCCheckoutReceiptP* receipt) {
    if (A_Err err; hostCallbackFails("AEGP_ComputeIfNeededAndCheckout", &err)) return err;
    return ComputeCache::shared().computeIfNeededAndCheckout(classId, options, wait, receipt);
}
A_Err suiteCheckoutCached(AEGP_CCComputeClassIdP classId, AEGP_CCComputeOptionsRefconP options,
                          AEGP_CCCheckoutReceiptP* receipt) {
    if (A_Err err; hostCallbackFails("AEGP_CheckoutCached", &err)) return err;
    return ComputeCache::shared().checkoutCached(classId, options, receipt);
}
A_Err suiteReceiptValue(const AEGP_CCCheckoutReceiptP receipt, AEGP_CCComputeValueRefconP* value) {
    if (A_Err err; hostCallbackFails("AEGP_GetReceiptComputeValue", &err)) return err;
    return ComputeCache::shared().receiptValue(receipt, value);
}
A_Err suiteCheckin(AEGP_CCCheckoutReceiptP receipt) {
    return ComputeCache::shared().checkin(receipt);
}

}  // namespace

void hashCreate(const void* bytes, std::uint64_t size, AEGP_GUID* hash) {
    std::uint64_t lanes[2] = {kOffsetA, kOffsetB};
    mixLanes(bytes, size, lanes);
    std::memcpy(hash, lanes, sizeof lanes);
}

void hashMixIn(const void* bytes, std::uint64_t size, AEGP_GUID* hash) {
    std::uint64_t lanes[2];
    std::memcpy(lanes, hash, sizeof lanes);
    mixLanes(bytes, size, lanes);
    std::memcpy(hash, lanes, sizeof lanes);
}

const AEGP_ComputeCacheSuite1* computeCacheSuite() {
    static const AEGP_ComputeCacheSuite1 suite = {
        suiteRegister,       suiteUnregister,   suiteComputeIfNeededAndCheckout,
        suiteCheckoutCached, suiteReceiptValue, suiteCheckin};
    return &suite;
}

const AEGP_HashSuite1* hashSuite() {
    static const AEGP_HashSuite1 suite = {suiteCreateHash, suiteMixIn};
    return &suite;
}

static_assert(sizeof(AEGP_GUID) == 16, "the hash fills a 128-bit GUID");

}  // namespace refhost
