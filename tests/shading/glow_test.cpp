// Glow: the extraction numbers; at radius 1, where every box of both paths has radius 1, the
// spread of a white pixel worked by hand; the fallback's reach and kept mass at radii 65 and 100;
// and the two scales as the fallback's blurs at a quarter and the whole of 1.1 x the radius,
// weighted 0.55 and 0.45 under the square root; a shade over part of the frame.
#include "shading/glow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/shading_inputs.h"

namespace {

struct GlowInput {
    int W, H;
    std::vector<float> r, g, b;
    std::vector<std::uint8_t> alpha;
};

GlowInput randomInput(int W, int H, std::uint32_t seed) {
    GlowInput in{W,
                 H,
                 lumet::test::noisePlane(W * H, seed),
                 lumet::test::noisePlane(W * H, seed + 1),
                 lumet::test::noisePlane(W * H, seed + 2),
                 std::vector<std::uint8_t>(W * H)};
    const std::vector<float> cover = lumet::test::noisePlane(W * H, seed + 3);
    for (int i = 0; i < W * H; ++i)
        in.alpha[i] = static_cast<std::uint8_t>(cover[i] < 0.3f ? 0 : cover[i] * 255.0f);
    return in;
}

struct GlowOutput {
    std::vector<float> r, g, b, a;
};

GlowOutput runGlow(const GlowInput& in, float radius, bool withWorkPlanes,
                   bool withScratch = true) {
    const std::size_t n = in.r.size();
    GlowOutput out{std::vector<float>(n, -1.0f), std::vector<float>(n, -1.0f),
                   std::vector<float>(n, -1.0f), std::vector<float>(n, -1.0f)};
    std::vector<std::vector<float>> work(lumet::kGlowMostWorkPlanes, std::vector<float>(n));
    float* workPlanes[lumet::kGlowMostWorkPlanes];
    for (int i = 0; i < lumet::kGlowMostWorkPlanes; ++i) workPlanes[i] = work[i].data();
    std::vector<float> scratch(n);
    lumet::renderGlow(
        {in.r.data(), in.g.data(), in.b.data(), in.W, in.H}, {in.alpha.data(), in.W, in.H},
        {out.r.data(), out.g.data(), out.b.data(), out.a.data(), in.W, in.H}, radius,
        withScratch ? scratch.data() : nullptr, withWorkPlanes ? workPlanes : nullptr);
    return out;
}

// A W x H frame, empty but for one opaque white pixel at (x, y): an extraction of 1 in all four
// planes there.
GlowInput whitePixel(int W, int H, int x, int y) {
    GlowInput in{W,
                 H,
                 std::vector<float>(W * H),
                 std::vector<float>(W * H),
                 std::vector<float>(W * H),
                 std::vector<std::uint8_t>(W * H)};
    in.r[y * W + x] = in.g[y * W + x] = in.b[y * W + x] = 1.0f;
    in.alpha[y * W + x] = 255;
    return in;
}

TEST(Glow, ExtractionNumbers) {
    GlowInput in{3, 1, {0.3f, 0.8f, 0.9f}, {0.2f, 0.8f, 0.9f}, {0.1f, 0.8f, 0.9f}, {255, 1, 0}};
    for (float radius : {0.0f, 0.9f}) {  // below one pixel: no blur, the glow is the extraction
        const GlowOutput out = runGlow(in, radius, true);
        EXPECT_NEAR(out.a[0], 0.028f, 1e-6f);  // br 0.3: t = 0.1, smoothstep 0.028
        EXPECT_NEAR(out.r[0], 0.3f * 0.028f, 1e-7f);
        EXPECT_NEAR(out.b[0], 0.1f * 0.028f, 1e-7f);
        EXPECT_EQ(out.a[1], 1.0f);  // br 0.8 >= 0.75, alpha byte 1 is enough
        EXPECT_EQ(out.g[1], 0.8f);
        // Alpha byte 0 (a bright outer bevel outside the layer) is no glow source.
        EXPECT_EQ(out.r[2] + out.g[2] + out.b[2] + out.a[2], 0.0f);
    }
}

TEST(Glow, AtRadiusOneAWhitePixelSpreadsAsThreeBoxesOfRadiusOne) {
    // Radius 1: pass radii 1 and 1.1 (and the fallback's 1) make every box radius max(1, 0.45 x
    // ...) = 1, so each axis spreads by (1 3 6 7 6 3 1) / 27; the two passes' weights add up to 1,
    // and only the two-scale path takes the square root.
    const GlowInput in = whitePixel(15, 15, 7, 7);
    const double k[4] = {7, 6, 3, 1};
    for (bool twoScale : {true, false}) {
        const GlowOutput out = runGlow(in, 1.0f, twoScale);
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 15; ++x) {
                const int dx = std::abs(x - 7), dy = std::abs(y - 7), i = y * 15 + x;
                const double spread = dx < 4 && dy < 4 ? k[dx] * k[dy] / 729 : 0.0;
                EXPECT_NEAR(out.a[i], twoScale ? std::sqrt(spread) : spread, 1e-6)
                    << x << ", " << y;
                EXPECT_EQ(out.r[i], out.a[i]);
                EXPECT_EQ(out.b[i], out.a[i]);
            }
    }
}

TEST(Glow, FallbackReachesItsRadiiAndKeepsTheMass) {
    // Radius 65: boxes of 29.25, 26 and 22.75 reach 30 + 26 + 23 = 79 pixels; radius 100: 45, 40
    // and 35, whole, reach 120. The glow is 0 beyond, not at the reach, and sums to the pixel's 1.
    const int n = 243, c = 121;
    const GlowInput in = whitePixel(n, n, c, c);
    for (const auto& [radius, reach] : {std::pair{65.0f, 79}, std::pair{100.0f, 120}}) {
        const GlowOutput out = runGlow(in, radius, false);
        double mass = 0.0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                mass += out.a[y * n + x];
                if (std::max(std::abs(x - c), std::abs(y - c)) > reach) {
                    ASSERT_EQ(out.a[y * n + x], 0.0f) << radius << " at " << x << ", " << y;
                }
            }
        EXPECT_NEAR(mass, 1.0, 1e-4) << radius;
        EXPECT_GT(out.a[c * n + c + reach], 0.0f) << radius;
        EXPECT_GT(out.a[(c - reach) * n + c], 0.0f) << radius;
    }
}

TEST(Glow, TwoScalesAreTheFallbackAtAQuarterAndAtTheWholeRadiusUnderTheRoot) {
    // glow^2 = 0.55 x blur(0.25 x 1.1 R) + 0.45 x blur(1.1 R), each blur the fallback's.
    const GlowInput in = randomInput(37, 23, 21);
    for (float radius : {6.3f, 65.0f, 500.0f}) {
        const GlowOutput two = runGlow(in, radius, true, radius < 10.0f);
        const GlowOutput quarter = runGlow(in, radius * 0.25f * 1.1f, false);
        const GlowOutput whole = runGlow(in, radius * 1.1f, false);
        for (std::size_t i = 0; i < two.a.size(); ++i) {
            ASSERT_NEAR(two.r[i] * two.r[i], 0.55 * quarter.r[i] + 0.45 * whole.r[i], 1e-6) << i;
            ASSERT_NEAR(two.g[i] * two.g[i], 0.55 * quarter.g[i] + 0.45 * whole.g[i], 1e-6) << i;
            ASSERT_NEAR(two.b[i] * two.b[i], 0.55 * quarter.b[i] + 0.45 * whole.b[i], 1e-6) << i;
            ASSERT_NEAR(two.a[i] * two.a[i], 0.55 * quarter.a[i] + 0.45 * whole.a[i], 1e-6) << i;
        }
    }
}

TEST(Glow, AShadeOverPartOfTheFrameIsItsZeroPaddedCopyOnAnyThreadCount) {
    // The shade covers columns 9 .. 43 and rows 5 .. 34 of a 61 x 47 frame whose coverage reaches
    // beyond it; the glow is, bit for bit, that of the whole-frame shade with zeros around, on
    // one thread or on several (each channel then blurs in planes of its own).
    const GlowInput in = randomInput(61, 47, 7);
    const lumet::FrameWindow at{9, 5, 35, 30, in.W, in.H};
    GlowInput padded = in;
    std::vector<float> part[3];
    for (int y = 0; y < in.H; ++y)
        for (int x = 0; x < in.W; ++x) {
            if (!at.contains(x, y)) {
                padded.r[y * in.W + x] = padded.g[y * in.W + x] = padded.b[y * in.W + x] = 0.0f;
            } else {
                part[0].push_back(in.r[y * in.W + x]);
                part[1].push_back(in.g[y * in.W + x]);
                part[2].push_back(in.b[y * in.W + x]);
            }
        }
    for (float radius : {0.5f, 7.5f, 40.0f}) {
        const GlowOutput whole = runGlow(padded, radius, true);
        for (int threads : {1, 2, 3, 16}) {
            lumet::platform::setHardwareThreadOverride(threads);
            std::vector<std::vector<float>> work(lumet::kGlowMostWorkPlanes,
                                                 std::vector<float>(in.r.size()));
            float* workPlanes[lumet::kGlowMostWorkPlanes];
            for (int i = 0; i < lumet::kGlowMostWorkPlanes; ++i) workPlanes[i] = work[i].data();
            std::vector<float> r(in.r.size(), -1.0f), g(r), b(r), a(r);
            EXPECT_TRUE(lumet::renderGlow(
                {part[0].data(), part[1].data(), part[2].data(), at.width, at.height}, at,
                {in.alpha.data(), in.W, in.H}, {r.data(), g.data(), b.data(), a.data(), in.W, in.H},
                radius, nullptr, workPlanes));
            lumet::platform::setHardwareThreadOverride(-1);
            EXPECT_EQ(r, whole.r) << radius << " on " << threads;
            EXPECT_EQ(b, whole.b) << radius << " on " << threads;
            EXPECT_EQ(a, whole.a) << radius << " on " << threads;
        }
    }
}

TEST(Glow, OneMissingWorkPlaneSelectsTheFallback) {
    const GlowInput in = randomInput(29, 31, 31);
    const float radius = 9.5f;
    const GlowOutput fallback = runGlow(in, radius, false);
    std::vector<std::vector<float>> work(lumet::kGlowMostWorkPlanes,
                                         std::vector<float>(in.r.size()));
    float* workPlanes[lumet::kGlowMostWorkPlanes];
    for (int i = 0; i < lumet::kGlowMostWorkPlanes; ++i) workPlanes[i] = work[i].data();
    workPlanes[lumet::glowWorkPlaneCount() - 1] = nullptr;
    std::vector<float> r(in.r.size()), g(r), b(r), a(r);
    lumet::renderGlow(
        {in.r.data(), in.g.data(), in.b.data(), in.W, in.H}, {in.alpha.data(), in.W, in.H},
        {r.data(), g.data(), b.data(), a.data(), in.W, in.H}, radius, nullptr, workPlanes);
    EXPECT_EQ(r, fallback.r);
    EXPECT_EQ(a, fallback.a);
}

}  // namespace
