// The samplers against hand-computed values, and the Blur-to-radius rule.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "envmap/bicubic_taps.h"
#include "envmap/env_map.h"
#include "envmap/interleaved_sampler.h"

namespace lumet {
namespace {

// Catmull-Rom halfway between p1 and p2: (-p0 + 9 p1 + 9 p2 - p3) / 16.
float midpoint(float p0, float p1, float p2, float p3) {
    return (-p0 + 9.0f * p1 + 9.0f * p2 - p3) / 16.0f;
}

struct Planes {
    std::vector<float> r, g, b;
    std::int32_t w, h;
    Rgb bicubic(float u, float v) const {
        return sampleBicubicWrapX(r.data(), g.data(), b.data(), w, h, u, v);
    }
    Rgb bilinear(float u, float v) const {
        return sampleBilinearWrapX(r.data(), g.data(), b.data(), w, h, u, v);
    }
};

// Channel c of pixel (x, y): distinct values in every channel.
Planes makePlanes(std::int32_t w, std::int32_t h) {
    Planes p{{}, {}, {}, w, h};
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            p.r.push_back(static_cast<float>(x * x + 3 * y));
            p.g.push_back(static_cast<float>(10 * x - y * y));
            p.b.push_back(static_cast<float>((x + 1) * (y + 2) % 7));
        }
    }
    return p;
}

void expectSame(Rgb a, Rgb b) {
    EXPECT_FLOAT_EQ(a.r, b.r);
    EXPECT_FLOAT_EQ(a.g, b.g);
    EXPECT_FLOAT_EQ(a.b, b.b);
}

TEST(Bicubic, IsTheCubicOfTheRowCubicsToTheBit) {
    // Whatever form and layout the sampler computes in, each channel must be exactly the scalar
    // cubic across the columns of its four rows, then down them (the map resampler relies on the
    // same floats, and the planar and interleaved maps must reflect alike).
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-2.0f, 3.0f), coordinate(-1.5f, 2.5f);
    Planes p{{}, {}, {}, 37, 23};
    for (int i = 0; i < p.w * p.h; ++i) {
        p.r.push_back(value(rng)), p.g.push_back(value(rng)), p.b.push_back(value(rng));
    }
    // The interleaved form reads the same texels three floats apart.
    std::vector<float> rgb(interleavedFloats(p.w * p.h));
    interleaveRgb(p.r.data(), p.g.data(), p.b.data(), p.w * p.h, rgb.data());
    for (int n = 0; n < 2000; ++n) {
        const float u = coordinate(rng), v = coordinate(rng);
        const CubicTaps columns = wrappedColumnTaps(u, p.w), rows = clampedRowTaps(v, p.h);
        auto expected = [&](const std::vector<float>& plane) {
            float across[4];
            for (int k = 0; k < 4; ++k) {
                const float* line = plane.data() + rows.index[k] * p.w;
                across[k] = catmullRom(line[columns.index[0]], line[columns.index[1]],
                                       line[columns.index[2]], line[columns.index[3]], columns.t);
            }
            return catmullRom(across[0], across[1], across[2], across[3], rows.t);
        };
        const float want[3] = {expected(p.r), expected(p.g), expected(p.b)};
        for (const Rgb got : {p.bicubic(u, v), sampleBicubicRgb(rgb.data(), p.w, p.h, u, v)}) {
            ASSERT_EQ(std::memcmp(&got.r, &want[0], 4), 0) << u << ", " << v;
            ASSERT_EQ(std::memcmp(&got.g, &want[1], 4), 0) << u << ", " << v;
            ASSERT_EQ(std::memcmp(&got.b, &want[2], 4), 0) << u << ", " << v;
        }
    }
}

TEST(Bicubic, HitsSamplesAndInterpolatesWithCatmullRomInBothAxes) {
    // One row of 4: rows clamp onto it, so only the horizontal cubic acts.
    Planes row{{0.0f, 1.0f, 1.0f, 0.0f}, {2.0f, 4.0f, 8.0f, 16.0f}, {5.0f, 5.0f, 5.0f, 5.0f}, 4, 1};
    // u = 0.5: fx = 1.5 between columns 1 and 2.
    const Rgb mid = row.bicubic(0.5f, 0.3f);
    EXPECT_NEAR(mid.r, 1.125f, 1e-6f);  // overshoot above both neighbours is kept
    EXPECT_NEAR(mid.g, midpoint(2, 4, 8, 16), 1e-5f);
    EXPECT_NEAR(mid.b, 5.0f, 1e-6f);
    // On a sample (u = 1/3: fx = 1) the value is the sample itself.
    EXPECT_NEAR(row.bicubic(1.0f / 3.0f, 0.0f).g, 4.0f, 1e-5f);
    // Near column 0 the left neighbour is the last column (wrap): fx = 0.5.
    EXPECT_NEAR(row.bicubic(0.5f / 3.0f, 0.0f).g, midpoint(16, 2, 4, 8), 1e-4f);
    // Undershoot below zero is kept as well.
    Planes dip{{1.0f, 0.0f, 0.0f, 1.0f}, {0, 0, 0, 0}, {0, 0, 0, 0}, 4, 1};
    EXPECT_NEAR(dip.bicubic(0.5f, 0.0f).r, -0.125f, 1e-6f);

    // One column of 4: the vertical cubic, with rows clamped at the top.
    Planes column{{1.0f, 3.0f, 9.0f, 27.0f}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1, 4};
    EXPECT_NEAR(column.bicubic(0.7f, 0.5f).r, midpoint(1, 3, 9, 27), 1e-4f);
    EXPECT_NEAR(column.bicubic(0.0f, 0.5f / 3.0f).r, midpoint(1, 1, 3, 9), 1e-4f);
    EXPECT_NEAR(column.bicubic(0.0f, 1.0f).r, 27.0f, 1e-5f);
}

TEST(Bicubic, WrapsInUAndClampsV) {
    const Planes p = makePlanes(7, 5);
    for (float v : {0.0f, 0.35f, 0.8f}) {
        expectSame(p.bicubic(1.25f, v), p.bicubic(0.25f, v));
        expectSame(p.bicubic(-0.75f, v), p.bicubic(0.25f, v));
        // 3.6f - 3 is not exactly 0.6f in float: equal up to that rounding.
        EXPECT_NEAR(p.bicubic(3.6f, v).g, p.bicubic(0.6f, v).g, 1e-3f);
    }
    expectSame(p.bicubic(0.4f, -0.3f), p.bicubic(0.4f, 0.0f));
    expectSame(p.bicubic(0.4f, 1.7f), p.bicubic(0.4f, 1.0f));
}

TEST(Bilinear, BlendsFourNeighboursWrapsAndClamps) {
    const Planes p = makePlanes(5, 4);
    auto at = [&](const std::vector<float>& plane, int x, int y) { return plane[y * 5 + x]; };
    // u = 0.375: fx = 1.5; v = 0.5: fy = 1.5.
    const Rgb c = p.bilinear(0.375f, 0.5f);
    EXPECT_NEAR(c.r, 0.25f * (at(p.r, 1, 1) + at(p.r, 2, 1) + at(p.r, 1, 2) + at(p.r, 2, 2)),
                1e-5f);
    EXPECT_NEAR(c.g, 0.25f * (at(p.g, 1, 1) + at(p.g, 2, 1) + at(p.g, 1, 2) + at(p.g, 2, 2)),
                1e-5f);
    // u = 0.125: fx = 0.5 (weights 0.75 / 0.25 on v = 0.25: fy = 0.75).
    const Rgb d = p.bilinear(0.125f, 0.25f);
    EXPECT_NEAR(d.b,
                at(p.b, 0, 0) * 0.5f * 0.25f + at(p.b, 1, 0) * 0.5f * 0.25f +
                    at(p.b, 0, 1) * 0.5f * 0.75f + at(p.b, 1, 1) * 0.5f * 0.75f,
                1e-5f);
    expectSame(p.bilinear(1.25f, 0.6f), p.bilinear(0.25f, 0.6f));
    expectSame(p.bilinear(0.3f, -0.3f), p.bilinear(0.3f, 0.0f));
    // v = 1 reads the last row only (its lower neighbour clamps onto it).
    EXPECT_NEAR(p.bilinear(0.0f, 1.0f).r, at(p.r, 0, 3), 1e-5f);
}

TEST(Samplers, NonFiniteCoordinatesStayInsideThePlanes) {
    const Planes p = makePlanes(4, 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    expectSame(p.bicubic(nan, nan), p.bicubic(0.0f, 0.0f));
    expectSame(p.bilinear(inf, -inf), p.bilinear(0.0f, 0.0f));
}

TEST(EnvBlurRadius, IsTheTruncatedSquareTimesHundred) {
    EXPECT_EQ(envBlurRadius(0.0f), 0);
    EXPECT_EQ(envBlurRadius(0.5f), 25);
    EXPECT_EQ(envBlurRadius(1.0f), 100);
    EXPECT_EQ(envBlurRadius(0.2f), 4);
    EXPECT_EQ(envBlurRadius(0.21f), 4);
    EXPECT_EQ(envBlurRadius(-0.5f), 0);
    EXPECT_EQ(envBlurRadius(std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace lumet
