// ParallelRows covers [0, n) exactly once whatever the thread count, and runs everything when
// threads cannot be started.
#include "parallel/parallel_rows.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

namespace {

std::vector<int> coverage(int n) {
    std::vector<int> hits(n > 0 ? n : 0, 0);
    lumet::ParallelRows(n, [&](int begin, int end) {
        for (int i = begin; i < end; ++i) ++hits[i];
    });
    return hits;
}

TEST(ParallelRows, CoversEveryItemOnceForAnyThreadCount) {
    for (int threads : {0, 1, 2, 3, 12, 16, 40}) {
        lumet::platform::setHardwareThreadOverride(threads);
        for (int n : {0, -3, 1, 2, 7, 16, 1000, 1001}) {
            for (int hit : coverage(n)) EXPECT_EQ(hit, 1) << threads << " threads, n = " << n;
        }
    }
    lumet::platform::setHardwareThreadOverride(-1);
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

}  // namespace
