// ParallelRows: its band layout, with groups of items kept whole, every item done once even when
// threads cannot be started; and the atomic merges under contention.
#include "parallel/parallel_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "parallel/frame_interrupt.h"
#include "platform/platform.h"

namespace {

std::vector<std::pair<int, int>> bands(int threads, int n, int group = 1) {
    lumet::platform::setHardwareThreadOverride(threads);
    std::mutex lock;
    std::vector<std::pair<int, int>> seen;
    lumet::ParallelRowGroups(n, group, [&](int begin, int end) {
        std::lock_guard<std::mutex> guard(lock);
        seen.emplace_back(begin, end);
    });
    lumet::platform::setHardwareThreadOverride(-1);
    std::sort(seen.begin(), seen.end());
    return seen;
}

TEST(ParallelRows, BandLayout) {
    // 1000 items on 12 threads: 11 bands of 83 and a last band of 87 (913 .. 999).
    const auto twelve = bands(12, 1000);
    ASSERT_EQ(twelve.size(), 12u);
    for (int t = 0; t < 11; ++t) EXPECT_EQ(twelve[t], std::make_pair(t * 83, t * 83 + 83));
    EXPECT_EQ(twelve[11], std::make_pair(913, 1000));
    // Fewer items than threads: one item each. More than 16 threads: 16 bands.
    EXPECT_EQ(bands(8, 3), (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {2, 3}}));
    EXPECT_EQ(bands(64, 1600).size(), 16u);
    // One item, or no thread count reported: one band on the calling thread.
    EXPECT_EQ(bands(8, 1), (std::vector<std::pair<int, int>>{{0, 1}}));
    EXPECT_EQ(bands(0, 50), (std::vector<std::pair<int, int>>{{0, 50}}));
    EXPECT_TRUE(bands(8, 0).empty());
    EXPECT_TRUE(bands(8, -3).empty());
}

TEST(ParallelRows, GroupsStayWhole) {
    // 250 items in groups of 8 (32 groups, the last one short) on 3 threads: bands of 10 groups,
    // the last band the rest. 11 items in groups of 4 on 8 threads: one band per group.
    EXPECT_EQ(bands(3, 250, 8), (std::vector<std::pair<int, int>>{{0, 80}, {80, 160}, {160, 250}}));
    EXPECT_EQ(bands(8, 11, 4), (std::vector<std::pair<int, int>>{{0, 4}, {4, 8}, {8, 11}}));
    // Under a frame interrupt the bands come in pieces: each begins at a multiple of the group,
    // and together they cover every item once.
    const lumet::FrameInterrupt interrupt{[](void*) { return 0; }, nullptr, nullptr};
    const lumet::FrameInterruptScope scope(interrupt);
    for (const auto& [threads, n, group] :
         {std::tuple{2, 1330, 128}, std::tuple{4, 4000, 8}, std::tuple{16, 77, 1}}) {
        std::vector<int> hits(n, 0);
        for (const auto& [begin, end] : bands(threads, n, group)) {
            EXPECT_EQ(begin % group, 0) << n << " in groups of " << group;
            for (int i = begin; i < end; ++i) ++hits[i];
        }
        EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), n) << n << " in groups of " << group;
    }
}

std::vector<int> coverage(int n) {
    std::vector<int> hits(n > 0 ? n : 0, 0);
    lumet::ParallelRows(n, [&](int begin, int end) {
        for (int i = begin; i < end; ++i) ++hits[i];
    });
    return hits;
}

TEST(ParallelRows, ThreadsThatCannotStartLeaveNoItemUndone) {
    lumet::platform::setHardwareThreadOverride(8);
    for (int limit : {0, 1, 5}) {
        lumet::platform::setThreadStartLimit(limit);
        for (int hit : coverage(997)) EXPECT_EQ(hit, 1) << "limit " << limit;
    }
    lumet::platform::setThreadStartLimit(-1);
    lumet::platform::setHardwareThreadOverride(-1);
}

TEST(AtomicMerges, ConcurrentMinimaAndMaximaKeepTheExtremes) {
    std::atomic<std::int32_t> low{1000000}, high{-1000000};
    std::atomic<float> highest{0.001f};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                const int v = (i * 7919 + t * 104729) % 200001 - 100000;
                lumet::AtomicMin(low, v);
                lumet::AtomicMax(high, v);
                lumet::AtomicMax(highest, static_cast<float>(v) * 0.5f);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    int expectedLow = 1000000, expectedHigh = -1000000;
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 20000; ++i) {
            const int v = (i * 7919 + t * 104729) % 200001 - 100000;
            expectedLow = std::min(expectedLow, v);
            expectedHigh = std::max(expectedHigh, v);
        }
    EXPECT_EQ(low.load(), expectedLow);
    EXPECT_EQ(high.load(), expectedHigh);
    EXPECT_EQ(highest.load(), static_cast<float>(expectedHigh) * 0.5f);
    // A value that does not improve the cell leaves it alone.
    std::atomic<float> cell{2.0f};
    lumet::AtomicMax(cell, 1.0f);
    EXPECT_EQ(cell.load(), 2.0f);
}

}  // namespace
