// The reference host's compute cache and hash suite: one computation per key however many threads
// ask, receipts that pin values against eviction, least-recently-used eviction under the byte
// budget, and deletion of every value when the class is unregistered.
#include "refhost/compute_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace refhost {
namespace {

// A test class whose options are {key number, value size}; values are heap ints recording the
// key. Counts every callback, and can hold computations until released.
struct Options {
    int key;
    std::size_t size;
};

struct Counters {
    std::atomic<int> computes{0};
    std::atomic<int> deletes{0};
    std::set<int> deleted;  // keys whose values were deleted
    std::mutex mutex;
    std::condition_variable changed;
    bool holdCompute = false;
    bool computeStarted = false;
    A_Err failWith = A_Err_NONE;
};
Counters* counters = nullptr;

A_Err keyOf(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeKeyP key) {
    const auto* o = static_cast<const Options*>(options);
    hashCreate(&o->key, sizeof o->key, key);
    return A_Err_NONE;
}

A_Err computeValue(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeValueRefconP* value) {
    const auto* o = static_cast<const Options*>(options);
    {
        std::unique_lock<std::mutex> lock(counters->mutex);
        counters->computeStarted = true;
        counters->changed.notify_all();
        counters->changed.wait(lock, [] { return !counters->holdCompute; });
        if (counters->failWith != A_Err_NONE) return counters->failWith;
    }
    ++counters->computes;
    *value = new int[2]{o->key, static_cast<int>(o->size)};
    return A_Err_NONE;
}

size_t sizeOf(AEGP_CCComputeValueRefconP value) { return static_cast<int*>(value)[1]; }

void deleteValue(AEGP_CCComputeValueRefconP value) {
    auto* v = static_cast<int*>(value);
    {
        std::lock_guard<std::mutex> lock(counters->mutex);
        counters->deleted.insert(v[0]);
    }
    ++counters->deletes;
    delete[] v;
}

const AEGP_ComputeCacheCallbacks kCallbacks = {keyOf, computeValue, sizeOf, deleteValue};
constexpr const char* kClass = "test.refhost.cache";

class ComputeCacheTest : public ::testing::Test {
protected:
    ComputeCacheTest() { counters = &counters_; }
    void SetUp() override { ASSERT_EQ(cache.registerClass(kClass, &kCallbacks), A_Err_NONE); }

    AEGP_CCCheckoutReceiptP checkout(ComputeCache& from, int key, std::size_t size = 10) {
        Options o{key, size};
        AEGP_CCCheckoutReceiptP receipt = nullptr;
        EXPECT_EQ(from.computeIfNeededAndCheckout(kClass, &o, true, &receipt), A_Err_NONE);
        EXPECT_NE(receipt, nullptr);
        return receipt;
    }
    static int keyIn(const ComputeCache& from, AEGP_CCCheckoutReceiptP receipt) {
        AEGP_CCComputeValueRefconP value = nullptr;
        EXPECT_EQ(from.receiptValue(receipt, &value), A_Err_NONE);
        return static_cast<int*>(value)[0];
    }

    Counters counters_;
    ComputeCache cache;  // goes before the counters its callbacks report to
};

TEST_F(ComputeCacheTest, TwoThreadsAskingForOneKeyComputeOnce) {
    counters_.holdCompute = true;
    AEGP_CCCheckoutReceiptP receipts[2] = {nullptr, nullptr};
    std::thread first([&] { receipts[0] = checkout(cache, 7); });
    {
        std::unique_lock<std::mutex> lock(counters_.mutex);
        counters_.changed.wait(lock, [&] { return counters_.computeStarted; });
    }
    // While the first computes: a caller that will not wait, or only looks, hears that the value
    // is pending and gets no receipt (a caller that treated success as a receipt would crash)...
    Options o{7, 10};
    AEGP_CCCheckoutReceiptP none = reinterpret_cast<AEGP_CCCheckoutReceiptP>(&o);
    EXPECT_EQ(cache.computeIfNeededAndCheckout(kClass, &o, false, &none),
              A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(cache.checkoutCached(kClass, &o, &none), A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING);
    EXPECT_EQ(none, nullptr);
    // ...and one that waits gets the first one's value.
    std::thread second([&] { receipts[1] = checkout(cache, 7); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it reach the wait
    {
        std::lock_guard<std::mutex> lock(counters_.mutex);
        counters_.holdCompute = false;
    }
    counters_.changed.notify_all();
    first.join();
    second.join();
    EXPECT_EQ(counters_.computes, 1);
    ASSERT_NE(receipts[0], nullptr);
    ASSERT_NE(receipts[1], nullptr);
    AEGP_CCComputeValueRefconP a = nullptr, b = nullptr;
    cache.receiptValue(receipts[0], &a);
    cache.receiptValue(receipts[1], &b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(cache.stats().openReceipts, 2u);
    EXPECT_EQ(cache.checkin(receipts[0]), A_Err_NONE);
    EXPECT_EQ(cache.checkin(receipts[1]), A_Err_NONE);
    EXPECT_EQ(cache.checkin(receipts[1]), A_Err_PARAMETER);  // already checked in
    EXPECT_EQ(counters_.deletes, 0);                         // idle, still cached
    EXPECT_EQ(cache.stats().values, 1u);
}

TEST_F(ComputeCacheTest, ManyThreadsManyKeysComputeEachKeyOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const int key = (i + t) % 5;
                AEGP_CCCheckoutReceiptP r = checkout(cache, key);
                if (keyIn(cache, r) != key) ++wrong;
                cache.checkin(r);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(counters_.computes, 5);
}

TEST_F(ComputeCacheTest, EvictionTakesLeastRecentlyUsedAndNeverACheckedOutValue) {
    cache.setBudget(100);
    AEGP_CCCheckoutReceiptP a = checkout(cache, 1, 60);
    AEGP_CCCheckoutReceiptP b = checkout(cache, 2, 60);  // 120 bytes > 100, both held
    EXPECT_EQ(counters_.deletes, 0);
    EXPECT_EQ(cache.stats().bytes, 120u);
    cache.checkin(b);  // b idle and over budget: evicted; a still held
    EXPECT_EQ(counters_.deleted, std::set<int>{2});
    EXPECT_EQ(keyIn(cache, a), 1);
    cache.checkin(a);
    EXPECT_EQ(counters_.deletes, 1);  // 60 bytes fit

    // Idle now: 1 (60 bytes). Add 3 (20), touch 1, add 4 (30): 110 bytes, and the least
    // recently used value, 3, goes.
    cache.checkin(checkout(cache, 3, 20));
    cache.checkin(checkout(cache, 1, 60));  // cached: no compute, but now the most recent
    EXPECT_EQ(counters_.computes, 3);
    cache.checkin(checkout(cache, 4, 30));
    EXPECT_EQ(counters_.deleted, (std::set<int>{2, 3}));
    EXPECT_EQ(cache.stats().bytes, 90u);
    // A smaller budget evicts at once, sparing the held value until it comes back.
    AEGP_CCCheckoutReceiptP held = checkout(cache, 4, 30);
    cache.setBudget(0);
    EXPECT_EQ(counters_.deleted, (std::set<int>{1, 2, 3}));
    EXPECT_EQ(keyIn(cache, held), 4);
    cache.checkin(held);
    EXPECT_EQ(counters_.deleted, (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(cache.stats().values, 0u);
}

TEST_F(ComputeCacheTest, UnregisteringDeletesEveryValue) {
    EXPECT_EQ(cache.registerClass(kClass, &kCallbacks), A_Err_PARAMETER);  // twice
    for (int key = 0; key < 4; ++key) cache.checkin(checkout(cache, key));
    AEGP_CCCheckoutReceiptP held = checkout(cache, 9);
    EXPECT_EQ(cache.unregisterClass(kClass), A_Err_NONE);
    EXPECT_EQ(counters_.deletes, 4);  // the held one lives until checked in
    EXPECT_EQ(keyIn(cache, held), 9);
    EXPECT_EQ(cache.checkin(held), A_Err_NONE);
    EXPECT_EQ(counters_.deletes, 5);
    EXPECT_EQ(cache.stats().bytes, 0u);
    Options o{1, 10};
    AEGP_CCCheckoutReceiptP receipt = nullptr;
    EXPECT_EQ(cache.computeIfNeededAndCheckout(kClass, &o, true, &receipt), A_Err_PARAMETER);
    EXPECT_EQ(cache.unregisterClass(kClass), A_Err_PARAMETER);
    // Registered again, it starts empty.
    ASSERT_EQ(cache.registerClass(kClass, &kCallbacks), A_Err_NONE);
    cache.checkin(checkout(cache, 1));
    EXPECT_EQ(counters_.computes, 6);
    EXPECT_EQ(cache.unregisterClass(kClass), A_Err_NONE);
    EXPECT_EQ(counters_.deletes, 6);
}

TEST_F(ComputeCacheTest, FailedComputeIsPassedOnAndNotCached) {
    counters_.failWith = A_Err_ALLOC;
    Options o{3, 10};
    AEGP_CCCheckoutReceiptP receipt = nullptr;
    EXPECT_EQ(cache.computeIfNeededAndCheckout(kClass, &o, true, &receipt), A_Err_ALLOC);
    EXPECT_EQ(receipt, nullptr);
    EXPECT_EQ(cache.stats().values, 0u);
    counters_.failWith = A_Err_NONE;
    cache.checkin(checkout(cache, 3));
    EXPECT_EQ(counters_.computes, 1);
    EXPECT_EQ(cache.checkin(nullptr), A_Err_PARAMETER);
}

TEST(HashSuite, DeterministicOrderSensitiveAndSpreadsSmallChanges) {
    const AEGP_HashSuite1* suite = hashSuite();
    auto hash = [&](std::initializer_list<std::string> parts) {
        AEGP_GUID guid{};
        bool firstPart = true;
        for (const std::string& part : parts) {
            if (firstPart)
                EXPECT_EQ(suite->AEGP_CreateHashFromPtr(part.size(), part.data(), &guid), 0);
            else
                EXPECT_EQ(suite->AEGP_HashMixInPtr(part.size(), part.data(), &guid), 0);
            firstPart = false;
        }
        return std::string(reinterpret_cast<const char*>(&guid), sizeof guid);
    };
    EXPECT_EQ(hash({"abc", "def"}), hash({"abc", "def"}));
    EXPECT_NE(hash({"abc", "def"}), hash({"def", "abc"}));
    EXPECT_NE(hash({"abc", "def"}), hash({"abcd", "ef"}));
    EXPECT_NE(hash({"abc"}), hash({"abd"}));
    EXPECT_NE(hash({""}), hash({std::string(1, '\0')}));
    // Both 64-bit halves change for a one-bit change.
    const std::string a = hash({"veltra", std::string("\x01\x00\x00\x00", 4)});
    const std::string b = hash({"veltra", std::string("\x03\x00\x00\x00", 4)});
    EXPECT_NE(a.substr(0, 8), b.substr(0, 8));
    EXPECT_NE(a.substr(8), b.substr(8));
    AEGP_GUID guid{};
    EXPECT_EQ(suite->AEGP_CreateHashFromPtr(4, nullptr, &guid), A_Err_PARAMETER);
    EXPECT_EQ(suite->AEGP_HashMixInPtr(4, "abcd", nullptr), A_Err_PARAMETER);
}

TEST(ComputeCacheSuite, RoutesToTheSharedCache) {
    const AEGP_ComputeCacheSuite1* suite = computeCacheSuite();
    Counters local;
    counters = &local;
    ASSERT_EQ(suite->AEGP_ClassRegister("test.refhost.shared", &kCallbacks), A_Err_NONE);
    Options o{42, 10};
    AEGP_CCCheckoutReceiptP receipt = nullptr;
    // Nothing cached yet: a look-up misses with the cache's own error.
    EXPECT_EQ(suite->AEGP_CheckoutCached("test.refhost.shared", &o, &receipt),
              A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING);
    EXPECT_EQ(receipt, nullptr);
    ASSERT_EQ(suite->AEGP_ComputeIfNeededAndCheckout("test.refhost.shared", &o, true, &receipt),
              A_Err_NONE);
    AEGP_CCComputeValueRefconP value = nullptr;
    ASSERT_EQ(suite->AEGP_GetReceiptComputeValue(receipt, &value), A_Err_NONE);
    EXPECT_EQ(static_cast<int*>(value)[0], 42);
    EXPECT_EQ(suite->AEGP_CheckinComputeReceipt(receipt), A_Err_NONE);
    AEGP_CCCheckoutReceiptP cached = nullptr;
    ASSERT_EQ(suite->AEGP_CheckoutCached("test.refhost.shared", &o, &cached), A_Err_NONE);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(suite->AEGP_CheckinComputeReceipt(cached), A_Err_NONE);
    EXPECT_EQ(suite->AEGP_ClassUnregister("test.refhost.shared"), A_Err_NONE);
    EXPECT_EQ(local.deletes, 1);
    counters = nullptr;
}

}  // namespace
}  // namespace refhost
