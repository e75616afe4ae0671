// The distance transform against an exhaustive nearest-background search, on random small planes
// of every shape, on planes without background, and on planes whose squared column values pass
// 32 bits.
#include "geometry/distance_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "platform/plane.h"
#include "support/naive_references.h"

namespace {

using lumet::DistanceTo;
using lumet::testing::exhaustive;

std::vector<float> transform(const std::vector<std::uint8_t>& alpha, int w, int h,
                             DistanceTo background = DistanceTo::kBelowHalf) {
    std::vector<float> out(static_cast<size_t>(w) * h, std::numeric_limits<float>::quiet_NaN());
    lumet::distanceTransformCpu(alpha.data(), out.data(), w, h, background);
    return out;
}

std::vector<std::uint8_t> randomPlane(std::mt19937& rng, int w, int h, double backgroundShare) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> low(0, 127), high(128, 255);
    std::vector<std::uint8_t> alpha(static_cast<size_t>(w) * h);
    for (auto& a : alpha)
        a = static_cast<std::uint8_t>(unit(rng) < backgroundShare ? low(rng) : high(rng));
    return alpha;
}

TEST(DistanceTransform, EqualsExhaustiveSearchOnRandomPlanes) {
    std::mt19937 rng(12345);
    const int sizes[][2] = {{1, 1},  {1, 7},  {9, 1},   {2, 2},   {3, 5},
                            {17, 4}, {5, 23}, {16, 16}, {31, 12}, {40, 33}};
    for (auto [w, h] : sizes) {
        for (double share : {0.0, 0.01, 0.05, 0.3, 0.7, 1.0}) {
            for (int trial = 0; trial < 6; ++trial) {
                const auto alpha = randomPlane(rng, w, h, share);
                for (DistanceTo background : {DistanceTo::kBelowHalf, DistanceTo::kAtLeastHalf}) {
                    const auto expected = exhaustive(alpha, w, h, background);
                    const auto got = transform(alpha, w, h, background);
                    for (size_t i = 0; i < got.size(); ++i)
                        ASSERT_EQ(got[i], expected[i])
                            << w << "x" << h << " share " << share << " pixel " << i;
                }
            }
        }
    }
}

TEST(DistanceTransform, SeparatorsBeyond32BitsStayExact) {
    // Squared column values near (width + height)^2 pass 2^31 on long rows and tall columns.
    const int w = 50000;
    std::vector<std::uint8_t> row(w, 255);
    row[0] = 0;
    row[w - 1] = 0;
    row[w / 3] = 0;
    auto d = transform(row, w, 1);
    for (int x = 0; x < w; ++x) {
        const int nearest = std::min({x, std::abs(x - w / 3), w - 1 - x});
        ASSERT_EQ(d[x], static_cast<float>(nearest)) << x;
    }
    const int h = 40000;
    std::vector<std::uint8_t> column(2 * h, 255);
    column[2 * 1000] = 0;  // background only in column 0, row 1000
    d = transform(column, 2, h);
    for (int y = 0; y < h; y += 97) {
        const std::int64_t dy = std::abs(y - 1000);
        ASSERT_EQ(d[2 * y], std::sqrt(static_cast<float>(dy * dy))) << y;
        ASSERT_EQ(d[2 * y + 1], std::sqrt(static_cast<float>(dy * dy + 1))) << y;
    }
}

TEST(DistanceTransform, RowTooLongForExactFloatColumnsUsesIntegerColumns) {
    const int w = (1 << 24) - 1;  // width + 2 * height passes 2^24
    std::vector<std::uint8_t> row(w, 255);
    for (int x = 0; x < w; x += 1000) row[x] = 0;
    const auto d = transform(row, w, 1);
    for (int x = 0; x < w; x += 7) {
        const int left = x % 1000;
        const int nextBackground = x - left + 1000;
        const int nearest = nextBackground < w ? std::min(left, nextBackground - x) : left;
        ASSERT_EQ(d[x], static_cast<float>(nearest)) << x;
    }
}

TEST(DistanceTransform, RowsWithoutScratchAreWrittenWithZero) {
    const int w = 64, h = 8;
    std::vector<std::uint8_t> alpha(w * h, 255);
    alpha[0] = 0;
    lumet::setPlaneAllocationLimit(w * sizeof(std::int32_t));  // the row stacks cannot be had
    const auto d = transform(alpha, w, h);
    lumet::setPlaneAllocationLimit(0);
    for (float v : d) ASSERT_EQ(v, 0.0f);
}

}  // namespace
