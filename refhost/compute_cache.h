// The host's compute cache ("AEGP Compute Cache" suite, version 1) and hash suite ("AEGP Hash
// Suite", version 1). Values are keyed by the key their class's callback builds, shared by every
// caller and thread, handed out through checkout receipts that count references; a thread that
// asks for a key another thread is computing waits for that computation. Values nobody holds are
// evicted least recently used first once the values' total size (the class's size callback)
// passes the byte budget; the class's delete callback runs on eviction and on unregistration.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_HashSuite.h"

namespace refhost {

class ComputeCache {
public:
    static constexpr std::size_t kDefaultBudgetBytes = std::size_t{1} << 30;

    explicit ComputeCache(std::size_t budgetBytes = kDefaultBudgetBytes);
    // Deletes every value still held, through its class's delete callback.
    ~ComputeCache();
    ComputeCache(const ComputeCache&) = delete;
    ComputeCache& operator=(const ComputeCache&) = delete;

    // The process-wide cache behind computeCacheSuite(). Never destroyed: its values belong to
    // plug-ins that may already be unloaded when the process exits.
    static ComputeCache& shared();

    // The suite operations. Errors: A_Err_PARAMETER for an unknown class, a null argument or a
    // receipt this cache did not hand out; a callback's own error is passed on unchanged.
    A_Err registerClass(AEGP_CCComputeClassIdP classId,
                        const AEGP_ComputeCacheCallbacks* callbacks);
    A_Err unregisterClass(AEGP_CCComputeClassIdP classId);
    // Checks out the value of the options' key, computing it first when absent. When another
    // thread is computing the same key: waits for it if waitForOtherThread, else succeeds with a
    // null receipt.
    A_Err computeIfNeededAndCheckout(AEGP_CCComputeClassIdP classId, void* options,
                                     bool waitForOtherThread, AEGP_CCCheckoutReceiptP* receipt);
    // Checks out the value only if it is already computed; otherwise a null receipt.
    A_Err checkoutCached(AEGP_CCComputeClassIdP classId, void* options,
                         AEGP_CCCheckoutReceiptP* receipt);
    A_Err receiptValue(AEGP_CCCheckoutReceiptP receipt, AEGP_CCComputeValueRefconP* value) const;
    A_Err checkin(AEGP_CCCheckoutReceiptP receipt);

    void setBudget(std::size_t bytes);

    struct Stats {
        std::size_t values;        // computed values held (checked out or idle)
        std::size_t bytes;         // their total size as the size callbacks report it
        std::uint64_t computes;    // successful compute callbacks
        std::uint64_t deletes;     // delete callbacks run
        std::uint64_t evictions;   // deletes caused by the budget
        std::size_t openReceipts;  // receipts not yet checked in
    };
    Stats stats() const;

private:
    struct ClassRecord {
        AEGP_ComputeCacheCallbacks callbacks;
        bool registered = true;
    };
    struct Entry;
    struct Receipt;
    using Key = std::pair<std::string, std::string>;  // class id, key bytes
    using Victims = std::list<std::shared_ptr<Entry>>;

    A_Err makeKey(AEGP_CCComputeClassIdP classId, void* options, Key* key,
                  std::shared_ptr<ClassRecord>* record);
    AEGP_CCCheckoutReceiptP checkoutLocked(const std::shared_ptr<Entry>& entry);
    void evictLocked(Victims* victims);
    void deleteValues(Victims& victims);

    mutable std::mutex mutex_;
    std::condition_variable computed_;
    std::size_t budget_;
    std::size_t bytes_ = 0;
    std::uint64_t computes_ = 0, deletes_ = 0, evictions_ = 0;
    std::map<std::string, std::shared_ptr<ClassRecord>> classes_;
    std::map<Key, std::shared_ptr<Entry>> entries_;
    std::list<std::shared_ptr<Entry>> idle_;  // unreferenced values, most recently used first
    std::set<const Receipt*> receipts_;
};

// The suite tables; the compute-cache suite works on ComputeCache::shared().
const AEGP_ComputeCacheSuite1* computeCacheSuite();
const AEGP_HashSuite1* hashSuite();

// The hash behind the hash suite: 128 bits in two 64-bit FNV-1a lanes with distinct primes and
// offsets, each finished by a 64-bit avalanche mix. mixIn continues from an existing hash.
void hashCreate(const void* bytes, std::uint64_t size, AEGP_GUID* hash);
void hashMixIn(const void* bytes, std::uint64_t size, AEGP_GUID* hash);

}  // namespace refhost
