// Smart edge and normals: the cases whose results the stages define exactly (single colour, flat
// and empty pixels, ramps, saturated blurs), colour edges at 16 bits, and thread-count
// independence of the stages and of the whole geometry sequence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "geometry/geometry_sequence.h"
#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/smart_edge.h"
#include "params/render_settings.h"
#include "platform/platform.h"
#include "test_worlds.h"
#include "text_like_alpha.h"

namespace {

using namespace lumet;
using lumet::testing::TestWorld;

// An opaque square (4 .. size-5) on a transparent ground; every pixel, transparent or not, carries
// the colour of its half, so the only colour edge is the split down the middle.
TestWorld splitSquare(int size, int depth, bool twoColours) {
    TestWorld world(size, size, depth);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool inside = x >= 4 && x < size - 4 && y >= 4 && y < size - 4;
            const bool left = x < size / 2 || !twoColours;
            world.set(x, y, inside ? 1.0f : 0.0f, left ? 0.9f : 0.1f, 0.5f, left ? 0.2f : 0.8f);
        }
    return world;
}

std::vector<std::uint8_t> coverageOf(int size) {
    std::vector<std::uint8_t> alpha(size * size, 0);
    for (int y = 4; y < size - 4; ++y)
        for (int x = 4; x < size - 4; ++x) alpha[y * size + x] = 255;
    return alpha;
}

TEST(SmartEdge, SingleColourLeavesHeightsUnchanged) {
    const int n = 40;
    TestWorld world = splitSquare(n, 0, false);
    const auto alpha = coverageOf(n);
    std::vector<float> hm(n * n);
    for (int i = 0; i < n * n; ++i) hm[i] = alpha[i] ? 0.25f + 0.001f * (i % 97) : 0.0f;
    const std::vector<float> before = hm;
    applySmartEdge(world.world, alpha.data(), hm.data(), n, n, 0, 0, n, n, 1.0f, 1.0f, 1, 0);
    EXPECT_EQ(hm, before);
}

TEST(SmartEdge, CarvesAlongColourSplitAtEveryDepth) {
    const int n = 40;
    const auto alpha = coverageOf(n);
    for (int depth : {0, 1, 2}) {
        TestWorld world = splitSquare(n, depth, true);
        std::vector<float> hm(n * n);
        for (int i = 0; i < n * n; ++i) hm[i] = alpha[i] ? 1.0f : 0.0f;
        // edgeStrength 1: the strongest pixels lose min(0.85, smooth(1)) = 85 % before blending.
        applySmartEdge(world.world, alpha.data(), hm.data(), n, n, 0, 0, n, n, 1.0f, 1.0f, 1,
                       depth);
        const int mid = n / 2;
        EXPECT_LT(hm[mid * n + mid], 0.6f) << depth;  // on the split
        EXPECT_LT(hm[mid * n + mid - 1], 0.6f) << depth;
        EXPECT_GT(hm[mid * n + 8], 0.95f) << depth;  // far from it
        EXPECT_EQ(hm[2 * n + 2], 0.0f) << depth;     // outside the layer
        for (int x = 0; x < n; ++x) EXPECT_NEAR(hm[mid * n + x], hm[mid * n + (n - 1 - x)], 1e-5f);
    }
    // At SS = 2 the colours are replicated: the carve follows the split at twice the size.
    TestWorld world = splitSquare(n, 0, true);
    std::vector<std::uint8_t> alpha2(4 * n * n);
    std::vector<float> hm2(4 * n * n);
    for (int y = 0; y < 2 * n; ++y)
        for (int x = 0; x < 2 * n; ++x) {
            alpha2[y * 2 * n + x] = alpha[(y / 2) * n + x / 2];
            hm2[y * 2 * n + x] = alpha2[y * 2 * n + x] ? 1.0f : 0.0f;
        }
    applySmartEdge(world.world, alpha2.data(), hm2.data(), n, n, 0, 0, 2 * n, 2 * n, 1.0f, 1.0f, 2,
                   0);
    EXPECT_LT(hm2[n * 2 * n + n], 0.6f);
    EXPECT_GT(hm2[n * 2 * n + 16], 0.95f);
}

TEST(SmartEdge, IgnoresEdgesWhereCoverageIsFaint) {
    const int n = 40;
    TestWorld world = splitSquare(n, 0, true);
    std::vector<std::uint8_t> faint(n * n, 9);  // below 10 everywhere
    std::vector<float> hm(n * n, 0.5f);
    applySmartEdge(world.world, faint.data(), hm.data(), n, n, 0, 0, n, n, 1.0f, 1.0f, 1, 0);
    for (float v : hm) ASSERT_EQ(v, 0.5f);
}

TEST(Normals, TapsAndStrength) {
    const NormalTaps taps = normalTaps();
    float sumG = 0.0f, sumAbsD = 0.0f;
    for (int i = 0; i < 9; ++i) {
        sumG += taps.smoothing[i];
        sumAbsD += std::fabs(taps.derivative[i]);
        EXPECT_FLOAT_EQ(taps.smoothing[i], taps.smoothing[8 - i]);
        EXPECT_FLOAT_EQ(taps.derivative[i], -taps.derivative[8 - i]);
    }
    EXPECT_NEAR(sumG, 1.0f, 1e-6f);
    EXPECT_NEAR(sumAbsD, 1.0f, 1e-6f);
    EXPECT_EQ(taps.derivative[4], 0.0f);
    EXPECT_LT(taps.derivative[5], 0.0f);  // positive k weighs negatively
    EXPECT_FLOAT_EQ(normalStrengthOf(0.0f, 2), 0.4f);
    EXPECT_FLOAT_EQ(normalStrengthOf(4.0f, 2), 10.0f);
}

std::vector<float> normalsOf(const std::vector<float>& hm, const std::vector<std::uint8_t>& alpha,
                             int w, int h, float depth) {
    std::vector<float> n(3 * w * h, 0.0f);
    computeNormals(alpha.data(), hm.data(), n.data(), w, h, depth, 1);
    return n;
}

TEST(Normals, FlatEmptyAndRampCases) {
    const int w = 30, h = 20;
    // Constant heights inside full coverage: straight up everywhere.
    const std::vector<std::uint8_t> full(w * h, 255);
    for (float v : {0.0f, 0.5f, 1.0f}) {
        const auto n = normalsOf(std::vector<float>(w * h, v), full, w, h, 1.0f);
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(n[3 * i], 0.0f);
            ASSERT_EQ(n[3 * i + 1], 0.0f);
            ASSERT_EQ(n[3 * i + 2], 1.0f);
        }
    }
    // A ramp rising to the right by 0.05 per pixel (heights 0.1 .. 0.8 near the centre), s = 0.4.
    const NormalTaps taps = normalTaps();
    float moment = 0.0f;
    for (int k = -4; k <= 4; ++k) moment += k * taps.derivative[k + 4];
    std::vector<float> ramp(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ramp[y * w + x] = 0.1f + 0.025f * x;
    auto n = normalsOf(ramp, full, w, h, 0.0f);
    const int centre = 10 * w + 12;
    const float gx = 0.025f * moment;
    const float length = std::sqrt(0.16f * gx * gx + 1.0f);
    EXPECT_GT(n[3 * centre], 0.0f);  // leans towards rising height
    EXPECT_NEAR(n[3 * centre], -0.4f * gx / length, 1e-5f);
    EXPECT_NEAR(n[3 * centre + 1], 0.0f, 1e-6f);
    EXPECT_NEAR(n[3 * centre + 2], 1.0f / length, 1e-5f);
    // A gentle ramp has slopes below the threshold: straight up.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ramp[y * w + x] = 0.1f + 0.01f * x;
    n = normalsOf(ramp, full, w, h, 0.0f);
    EXPECT_EQ(n[3 * centre], 0.0f);
    EXPECT_EQ(n[3 * centre + 2], 1.0f);
    // Empty pixels (height below 0.001, alpha below 2) stay flat even next to a step; a pixel with
    // height 0 but alpha 200 is processed and damped.
    std::vector<float> step(w * h, 0.0f);
    std::vector<std::uint8_t> alpha(w * h, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 15; x < w; ++x) step[y * w + x] = 0.5f;
    alpha[10 * w + 13] = 200;
    n = normalsOf(step, alpha, w, h, 1.0f);
    EXPECT_EQ(n[3 * (10 * w + 12)], 0.0f);
    EXPECT_EQ(n[3 * (10 * w + 12) + 2], 1.0f);
    EXPECT_GT(n[3 * (10 * w + 13)], 0.0f);
}

TEST(NormalBlur, SaturatedSlopesAndEmptyPixels) {
    const int w = 12, h = 10;
    std::vector<float> normals(3 * w * h);
    for (int i = 0; i < w * h; ++i) {
        normals[3 * i] = 0.9f;
        normals[3 * i + 1] = 0.8f;  // q = 1.45 >= 1 after any blur of a constant field
        normals[3 * i + 2] = 0.3f;
    }
    std::vector<std::uint8_t> alpha(w * h, 255);
    std::vector<float> hm(w * h, 0.5f);
    alpha[5] = 1;
    hm[5] = 0.0f;  // empty: untouched
    blurNormals(normals.data(), alpha.data(), hm.data(), w, h, 3);
    for (int i = 0; i < w * h; ++i) {
        if (i == 5) {
            EXPECT_EQ(normals[3 * i + 2], 0.3f);
            continue;
        }
        EXPECT_EQ(normals[3 * i + 2], 0.05f);
        EXPECT_NEAR(std::hypot(normals[3 * i], normals[3 * i + 1]), 1.0f, 1e-5f);
    }
}

RenderSettings sequenceSettings(int style) {
    RenderSettings s;
    std::memset(&s, 0, sizeof s);
    s.bevelStyle = style;
    s.edgeProfile = kProfileRound;
    s.bevelDepth = 1.2f;
    s.bevelSoftness = 0.2f;
    s.smartEdge = true;
    s.edgeStrength = 0.8f;
    return s;
}

TEST(GeometrySequence, ThreadCountIndependentAtBothQualities) {
    const int W = 70, H = 50;
    const std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(W, H, 30);
    TestWorld world(W, H, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            world.set(x, y, alpha[y * W + x] / 255.0f, x < W / 2 ? 0.9f : 0.2f, 0.6f, 0.3f);
    for (int SS : {1, 2}) {
        for (int style : {kInnerBevel, kEmboss}) {
            auto run = [&](int threads) {
                lumet::platform::setHardwareThreadOverride(threads);
                std::vector<std::uint8_t> alphaSS(SS * SS * W * H);
                std::vector<float> hm(SS * SS * W * H), normals(3 * SS * SS * W * H);
                EXPECT_TRUE(runGeometrySequence(
                    alpha.data(), SS == 2 ? alphaSS.data() : nullptr, hm.data(), normals.data(), W,
                    H, SS, sequenceSettings(style), &world.world, 0, 0, 0, false));
                lumet::platform::setHardwareThreadOverride(-1);
                hm.insert(hm.end(), normals.begin(), normals.end());
                return hm;
            };
            const auto one = run(1), sixteen = run(16);
            ASSERT_EQ(0, std::memcmp(one.data(), sixteen.data(), one.size() * sizeof(float)))
                << "SS " << SS << " style " << style;
            const size_t count = SS * SS * W * H;
            for (size_t i = 0; i < count; ++i) {
                ASSERT_FALSE(one[i] >= 0.95f && one[i] < 1.0f) << i;  // plateau snapped to 1
                const float* n = &one[count + 3 * i];
                ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-4f) << i;
            }
        }
    }
}

TEST(GeometrySequence, RefusesMissingSupersampledPlane) {
    const int W = 8, H = 8;
    std::vector<std::uint8_t> alpha(W * H, 255);
    std::vector<float> hm(4 * W * H, 7.0f), normals(12 * W * H, 7.0f);
    EXPECT_FALSE(runGeometrySequence(alpha.data(), nullptr, hm.data(), normals.data(), W, H, 2,
                                     sequenceSettings(kInnerBevel), nullptr, 0, 0, 0, false));
    for (float v : hm) ASSERT_EQ(v, 7.0f);
}

}  // namespace
