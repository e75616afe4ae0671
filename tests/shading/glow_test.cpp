// Glow against a direct-sum reference: the extraction numbers, the pass radii, and the two-scale
// and fallback blurs recomputed with explicit window sums in double precision.
#include "shading/glow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/shading_inputs.h"

namespace {

using Plane = std::vector<double>;

// Box filter of radius r with the two taps just outside weighted f, clamped edges, by direct sums.
Plane directBox(const Plane& src, int W, int H, int r, double f) {
    Plane horizontal(src.size()), out(src.size());
    auto clampTo = [](int i, int n) { return std::min(std::max(i, 0), n - 1); };
    const double size = 2.0 * r + 1.0 + 2.0 * f;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double sum =
                f * (src[y * W + clampTo(x - r - 1, W)] + src[y * W + clampTo(x + r + 1, W)]);
            for (int k = -r; k <= r; ++k) sum += src[y * W + clampTo(x + k, W)];
            horizontal[y * W + x] = sum / size;
        }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double sum = f * (horizontal[clampTo(y - r - 1, H) * W + x] +
                              horizontal[clampTo(y + r + 1, H) * W + x]);
            for (int k = -r; k <= r; ++k) sum += horizontal[clampTo(y + k, H) * W + x];
            out[y * W + x] = sum / size;
        }
    return out;
}

Plane blurThree(Plane plane, int W, int H, double radius) {
    for (double factor : {0.45, 0.40, 0.35}) {
        const double r = std::max(
            1.0, static_cast<double>(static_cast<float>(factor) * static_cast<float>(radius)));
        const int whole = static_cast<int>(r);
        if (whole < 1 && r - whole < 0.001) continue;
        plane = directBox(plane, W, H, whole, r - whole);
    }
    return plane;
}

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

// The four extracted planes R, G, B, A.
std::vector<Plane> directExtract(const GlowInput& in) {
    std::vector<Plane> out(4, Plane(in.r.size()));
    for (std::size_t i = 0; i < in.r.size(); ++i) {
        if (in.alpha[i] == 0) continue;
        const double brightest = std::max({in.r[i], in.g[i], in.b[i]});
        const double t = std::clamp((brightest - 0.25) / 0.5, 0.0, 1.0);
        const double s = t * t * (3.0 - 2.0 * t);
        out[0][i] = in.r[i] * s;
        out[1][i] = in.g[i] * s;
        out[2][i] = in.b[i] * s;
        out[3][i] = s;
    }
    return out;
}

std::vector<Plane> directTwoScale(const GlowInput& in, double radius) {
    const std::vector<Plane> source = directExtract(in);
    std::vector<Plane> glow(4, Plane(in.r.size(), 0.0));
    const double scales[2] = {0.25, 1.0}, weights[2] = {0.55, 0.45};
    for (int pass = 0; pass < 2; ++pass) {
        const double rp = std::min(1200.0, std::max(1.0, radius * scales[pass] * 1.1));
        for (int c = 0; c < 4; ++c) {
            const Plane blurred = blurThree(source[c], in.W, in.H, rp);
            for (std::size_t i = 0; i < blurred.size(); ++i)
                glow[c][i] += weights[pass] * blurred[i];
        }
    }
    for (Plane& plane : glow)
        for (double& v : plane) v = std::sqrt(std::max(v, 0.0));
    for (double& v : glow[3]) v = std::min(1.0, v);
    return glow;
}

struct GlowOutput {
    std::vector<float> r, g, b, a;
};

GlowOutput runGlow(const GlowInput& in, float radius, bool withWorkPlanes,
                   bool withScratch = true) {
    const std::size_t n = in.r.size();
    GlowOutput out{std::vector<float>(n, -1.0f), std::vector<float>(n, -1.0f),
                   std::vector<float>(n, -1.0f), std::vector<float>(n, -1.0f)};
    std::vector<std::vector<float>> work(8, std::vector<float>(n));
    float* workPlanes[8];
    for (int i = 0; i < 8; ++i) workPlanes[i] = work[i].data();
    std::vector<float> scratch(n);
    lumet::renderGlow(
        {in.r.data(), in.g.data(), in.b.data(), in.W, in.H}, {in.alpha.data(), in.W, in.H},
        {out.r.data(), out.g.data(), out.b.data(), out.a.data(), in.W, in.H}, radius,
        withScratch ? scratch.data() : nullptr, withWorkPlanes ? workPlanes : nullptr);
    return out;
}

double maxError(const std::vector<float>& got, const Plane& expected) {
    double worst = 0.0;
    for (std::size_t i = 0; i < got.size(); ++i)
        worst = std::max(worst, std::fabs(got[i] - expected[i]));
    return worst;
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

TEST(Glow, TwoScaleBlurMatchesDirectSums) {
    const GlowInput in = randomInput(37, 23, 21);
    for (float radius : {1.0f, 6.3f, 65.0f, 500.0f}) {
        const GlowOutput out = runGlow(in, radius, true, radius < 10.0f);
        const std::vector<Plane> expected = directTwoScale(in, radius);
        EXPECT_LT(maxError(out.r, expected[0]), 2e-4) << radius;
        EXPECT_LT(maxError(out.g, expected[1]), 2e-4) << radius;
        EXPECT_LT(maxError(out.b, expected[2]), 2e-4) << radius;
        EXPECT_LT(maxError(out.a, expected[3]), 2e-4) << radius;
        for (float a : out.a) ASSERT_LE(a, 1.0f);
    }
}

TEST(Glow, FallbackWithoutWorkPlanesMatchesDirectSums) {
    const GlowInput in = randomInput(29, 31, 31);
    const float radius = 9.5f;
    const GlowOutput out = runGlow(in, radius, false);
    std::vector<Plane> expected = directExtract(in);
    for (Plane& plane : expected) plane = blurThree(plane, in.W, in.H, radius);
    EXPECT_LT(maxError(out.r, expected[0]), 1e-5);
    EXPECT_LT(maxError(out.a, expected[3]), 1e-5);

    // One missing work plane also selects the fallback.
    std::vector<std::vector<float>> work(8, std::vector<float>(in.r.size()));
    float* workPlanes[8];
    for (int i = 0; i < 8; ++i) workPlanes[i] = work[i].data();
    workPlanes[5] = nullptr;
    std::vector<float> r(in.r.size()), g(r), b(r), a(r);
    lumet::renderGlow(
        {in.r.data(), in.g.data(), in.b.data(), in.W, in.H}, {in.alpha.data(), in.W, in.H},
        {r.data(), g.data(), b.data(), a.data(), in.W, in.H}, radius, nullptr, workPlanes);
    EXPECT_EQ(r, out.r);
    EXPECT_EQ(a, out.a);
}

}  // namespace
