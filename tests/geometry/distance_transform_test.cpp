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
#include "platform/platform.h"

namespace {

using lumet::DistanceTo;

// For every pixel: the smallest squared distance to a background pixel. A column without any
// background counts as one whose pixels lie (width + height) + y away vertically, so a plane
// without background measures (width + height) + y.
std::vector<float> exhaustive(const std::vector<std::uint8_t>& alpha, int w, int h,
                              DistanceTo background = DistanceTo::kBelowHalf) {
    auto isBackground = [&](int x, int y) {
        const std::uint8_t a = alpha[static_cast<size_t>(y) * w + x];
        return background == DistanceTo::kBelowHalf ? a < 128 : a >= 128;
    };
    std::vector<float> out(static_cast<size_t>(w) * h);
    const std::int64_t inf = w + h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::int64_t best = std::numeric_limits<std::int64_t>::max();
            for (int v = 0; v < w; ++v) {
                bool columnHasBackground = false;
                for (int yy = 0; yy < h; ++yy) {
                    if (!isBackground(v, yy)) continue;
                    columnHasBackground = true;
                    const std::int64_t d2 =
                        std::int64_t(x - v) * (x - v) + std::int64_t(y - yy) * (y - yy);
                    best = std::min(best, d2);
                }
                if (!columnHasBackground) {
                    const std::int64_t g = inf + y;
                    best = std::min(best, std::int64_t(x - v) * (x - v) + g * g);
                }
            }
            out[static_cast<size_t>(y) * w + x] = std::sqrt(static_cast<float>(best));
        }
    }
    return out;
}

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

TEST(DistanceTransform, SmallRowsAndSinglePixels) {
    // Background pixels are 0, and every pixel keeps its own exact distance.
    EXPECT_EQ(transform({0, 0, 0, 0}, 4, 1), (std::vector<float>{0, 0, 0, 0}));
    EXPECT_EQ(transform({0, 255, 255}, 3, 1), (std::vector<float>{0, 1, 2}));
    EXPECT_EQ(transform({255, 255, 0}, 3, 1), (std::vector<float>{2, 1, 0}));
    EXPECT_EQ(transform({255, 0, 255, 255, 255, 0}, 6, 1), (std::vector<float>{1, 0, 1, 2, 1, 0}));
    // A single inside pixel in a background plane, and a single background pixel in a full plane.
    std::vector<std::uint8_t> one(25, 0);
    one[12] = 255;
    auto d = transform(one, 5, 5);
    for (size_t i = 0; i < d.size(); ++i) EXPECT_EQ(d[i], i == 12 ? 1.0f : 0.0f);
    std::vector<std::uint8_t> hole(25, 255);
    hole[12] = 0;
    d = transform(hole, 5, 5);
    EXPECT_EQ(d[12], 0.0f);
    EXPECT_EQ(d[0], std::sqrt(8.0f));
    EXPECT_EQ(d[13], 1.0f);
    // 127 is background, 128 is inside.
    EXPECT_EQ(transform({127, 128, 128}, 3, 1), (std::vector<float>{0, 1, 2}));
}

TEST(DistanceTransform, PlaneWithoutBackgroundMeasuresWidthPlusHeightPlusRow) {
    const int w = 7, h = 5;
    const auto d = transform(std::vector<std::uint8_t>(w * h, 200), w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(d[y * w + x], static_cast<float>(w + h + y));
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

TEST(DistanceTransform, SameBytesForOneAndSixteenThreads) {
    std::mt19937 rng(7);
    const int w = 301, h = 203;
    std::vector<std::uint8_t> alpha(static_cast<size_t>(w) * h, 0);
    std::uniform_int_distribution<int> cx(0, w - 1), cy(0, h - 1), cr(3, 30);
    for (int disc = 0; disc < 20; ++disc) {
        const int x0 = cx(rng), y0 = cy(rng), r = cr(rng);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((x - x0) * (x - x0) + (y - y0) * (y - y0) <= r * r) alpha[y * w + x] = 255;
    }
    lumet::platform::setHardwareThreadOverride(1);
    const auto one = transform(alpha, w, h);
    lumet::platform::setHardwareThreadOverride(16);
    const auto sixteen = transform(alpha, w, h);
    lumet::platform::setHardwareThreadOverride(-1);
    ASSERT_EQ(0, std::memcmp(one.data(), sixteen.data(), one.size() * sizeof(float)));
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
