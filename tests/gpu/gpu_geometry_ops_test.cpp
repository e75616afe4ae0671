// GPU geometry operations against their CPU forms: the distance transform gives identical
// distances, the box blurs agree within float rounding and give exact zeros beyond their reach, and
// the 7 x 7 normals equal a direct evaluation of their own taps while differing from the 9-tap CPU
// normals only slightly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "geometry/distance_transform.h"
#include "geometry/normals.h"
#include "gpu/gpu_ops.h"
#include "gpu_test_support.h"
#include "parallel/blur.h"

namespace lumet {
namespace {

using testing::GpuLockHold;

class GpuGeometry : public ::testing::Test {
protected:
    void SetUp() override { testing::requireGpuRuntime(); }
};

TEST_F(GpuGeometry, DistanceTransformIsIdenticalToTheCpu) {
    GpuLockHold hold;
    struct Case {
        int W, H;
        std::vector<std::uint8_t> alpha;
    };
    std::vector<Case> cases;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const int W = 23 + 9 * static_cast<int>(seed), H = 31 - 3 * static_cast<int>(seed);
        cases.push_back({W, H, testing::blobAlpha(W, H, seed)});
    }
    // Isolated background pixels: many parabolas of a single pixel each, the case a strict
    // separator test drops.
    {
        const int W = 41, H = 9;
        std::vector<std::uint8_t> alpha(W * H, 255);
        for (int i = 0; i < W * H; i += 7) alpha[i] = 0;
        cases.push_back({W, H, alpha});
    }
    // Single rows and columns, one background pixel, and a plane without background.
    cases.push_back({1, 17, std::vector<std::uint8_t>(17, 200)});
    cases.back().alpha[5] = 3;
    cases.push_back({19, 1, std::vector<std::uint8_t>(19, 255)});
    cases.back().alpha[18] = 127;
    cases.push_back({13, 11, std::vector<std::uint8_t>(13 * 11, 128)});
    cases.push_back({13, 11, std::vector<std::uint8_t>(13 * 11, 0)});

    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.W << " x " << c.H);
        std::vector<float> gpuDistance(c.alpha.size(), -7.0f), cpuDistance(c.alpha.size(), -7.0f);
        ASSERT_TRUE(gpu::distanceTransformGpu(c.alpha.data(), gpuDistance.data(), c.W, c.H));
        distanceTransformCpu(c.alpha.data(), cpuDistance.data(), c.W, c.H);
        // The CPU transform equals an exhaustive nearest-background search (geometry tests).
        EXPECT_EQ(std::memcmp(gpuDistance.data(), cpuDistance.data(), gpuDistance.size() * 4), 0);
    }
}

TEST_F(GpuGeometry, ThreePassBlursMatchTheCpuBlurs) {
    GpuLockHold hold;
    const int W = 61, H = 37;
    const std::vector<float> source = testing::randomPlane(W * H, 11);
    for (int radius : {1, 4, 10, 45, 3000}) {
        SCOPED_TRACE(radius);
        std::vector<float> gpuPlane = source, cpuPlane = source;
        ASSERT_TRUE(gpu::blurPlaneGpu(gpuPlane.data(), W, H, radius));
        threePassBoxBlur(cpuPlane.data(), W, H, radius);
        const testing::ErrorMeasure e =
            testing::compareFloats(gpuPlane.data(), cpuPlane.data(), W * H);
        EXPECT_LT(e.max, 2e-5);
    }
    std::vector<float> untouched = source;
    EXPECT_FALSE(gpu::blurPlaneGpu(untouched.data(), W, H, 0));
    EXPECT_EQ(untouched, source);

    // The pair blurs both planes with the same radius.
    std::vector<float> a = source, b = testing::randomPlane(W * H, 12);
    std::vector<float> cpuA = a, cpuB = b;
    ASSERT_TRUE(gpu::blurPlanePairGpu(a.data(), b.data(), W, H, 9));
    threePassBoxBlur(cpuA.data(), W, H, 9);
    threePassBoxBlur(cpuB.data(), W, H, 9);
    EXPECT_LT(testing::compareFloats(a.data(), cpuA.data(), W * H).max, 2e-5);
    EXPECT_LT(testing::compareFloats(b.data(), cpuB.data(), W * H).max, 2e-5);

    // A list of radii blurs in order and skips entries of 0 or less.
    std::vector<float> listed = source, expected = source;
    const std::int32_t radii[4] = {14, 0, -3, 30};
    ASSERT_TRUE(gpu::blurPlaneRadiiGpu(listed.data(), W, H, radii, 4));
    threePassBoxBlur(expected.data(), W, H, 14);
    threePassBoxBlur(expected.data(), W, H, 30);
    EXPECT_LT(testing::compareFloats(listed.data(), expected.data(), W * H).max, 2e-5);
    EXPECT_FALSE(gpu::blurPlaneRadiiGpu(listed.data(), W, H, radii, 0));

    // Exactly 0, not the running sums' residue, wherever no tap reaches a block of awkward values
    // (rows 4 to 7, columns 5 to 10; the three passes of radius 10 reach 4 + 4 + 3 = 11 further).
    std::vector<float> block(W * H, 0.0f);
    const float values[] = {0.1f, 0.7f, 1e-3f, 0.3f, 3.7e-5f, 0.9f};
    for (int i = 0; i < 24; ++i) block[(4 + i / 6) * W + 5 + i % 6] = values[i % 6];
    ASSERT_TRUE(gpu::blurPlaneGpu(block.data(), W, H, 10));
    EXPECT_GT(block[18 * W + 21], 0.0f);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (y > 18 || x > 21) {
                ASSERT_EQ(block[y * W + x], 0.0f) << x << ", " << y;
            }
        }
    }

    // A plane larger than any before (the scratch pair grows) still matches the CPU.
    std::vector<float> big = testing::randomPlane(2 * W * H, 13), cpuBig = big;
    ASSERT_TRUE(gpu::blurPlaneGpu(big.data(), 2 * W, H, 2));
    threePassBoxBlur(cpuBig.data(), 2 * W, H, 2);
    EXPECT_LT(testing::compareFloats(big.data(), cpuBig.data(), 2 * W * H).max, 2e-5);
}

// The GPU normal of one pixel, evaluated directly from its 7 x 7 taps.
void referenceGpuNormal(const std::vector<float>& h, const std::vector<std::uint8_t>& alpha, int W,
                        int H, int x, int y, float strength, float out[3]) {
    static const float derivK[7] = {0.219877f,  0.180779f,  0.049261f, 0.0f,
                                    -0.049261f, -0.180779f, -0.219877f};
    static const float smoothK[7] = {0.054489f, 0.124454f, 0.202380f, 0.237354f,
                                     0.202380f, 0.124454f, 0.054489f};
    const float hc = h[y * W + x], a = alpha[y * W + x];
    out[0] = 0.0;
    out[1] = 0.0;
    out[2] = 1.0;
    if (hc < 0.001f && a < 2.0f) return;
    double gx = 0, gy = 0;
    for (int ky = -3; ky <= 3; ++ky)
        for (int kx = -3; kx <= 3; ++kx) {
            const double v = h[std::clamp(y + ky, 0, H - 1) * W + std::clamp(x + kx, 0, W - 1)];
            gx += v * derivK[kx + 3] * smoothK[ky + 3];
            gy += v * smoothK[kx + 3] * derivK[ky + 3];
        }
    double n[3] = {-strength * gx, -strength * gy, 1.0};
    auto normalise = [&] {
        const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& c : n) c /= l;
    };
    normalise();
    if (hc > 0.8f) {
        const double p = std::pow((hc - 0.8) / 0.2, 3.0);
        n[0] *= 1 - 0.5 * p;
        n[1] *= 1 - 0.5 * p;
        normalise();
    }
    const double e = std::max<double>(hc, a / 255.0);
    if (e < 0.9) {
        const double b = (e / 0.9) * (e / 0.9);
        n[0] *= b;
        n[1] *= b;
        n[2] = (n[2] - 1) * b + 1;
        normalise();
    }
    for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(n[c]);
}

TEST_F(GpuGeometry, NormalsFollowTheirSevenBySevenTapsAndStayCloseToTheCpu) {
    GpuLockHold hold;
    const int W = 48, H = 40;
    const std::vector<std::uint8_t> alpha = testing::blobAlpha(W, H, 21);
    // A softened bevel-like height field from the coverage.
    std::vector<float> heights(W * H);
    for (int i = 0; i < W * H; ++i) heights[i] = alpha[i] / 255.0f;
    threePassBoxBlur(heights.data(), W, H, 6);
    const float strength = normalStrengthOf(1.5f, 1);

    std::vector<float> gpuNormals(3 * W * H, -1.0f), cpuNormals(3 * W * H, 0.0f);
    ASSERT_TRUE(
        gpu::computeNormalsGpu(heights.data(), alpha.data(), gpuNormals.data(), W, H, strength));
    computeNormals({alpha.data(), W, H}, {heights.data(), W, H}, {cpuNormals.data(), W, H, 3}, 1.5f,
                   1);

    double worstReference = 0.0, sumCpu = 0.0, worstCpu = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float ref[3];
            referenceGpuNormal(heights, alpha, W, H, x, y, strength, ref);
            const float* g = &gpuNormals[3 * (y * W + x)];
            const float* c = &cpuNormals[3 * (y * W + x)];
            for (int k = 0; k < 3; ++k) {
                worstReference = std::max(worstReference, double(std::fabs(g[k] - ref[k])));
                worstCpu = std::max(worstCpu, double(std::fabs(g[k] - c[k])));
                sumCpu += std::fabs(g[k] - c[k]);
            }
            EXPECT_NEAR(g[0] * g[0] + g[1] * g[1] + g[2] * g[2], 1.0f, 1e-4f);
        }
    EXPECT_LT(worstReference, 1e-5);
    // Different taps, same surface: close, but not the same.
    EXPECT_GT(worstCpu, 1e-4);
    EXPECT_LT(worstCpu, 0.1);
    EXPECT_LT(sumCpu / (3.0 * W * H), 0.01);

    // A gentle ramp (0.01 per pixel): the CPU snaps such slopes to flat, the kernel keeps them.
    std::vector<float> ramp(W * H);
    std::vector<std::uint8_t> opaque(W * H, 255);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ramp[y * W + x] = 0.2f + 0.01f * x;
    ASSERT_TRUE(gpu::computeNormalsGpu(ramp.data(), opaque.data(), gpuNormals.data(), W, H, 0.4f));
    computeNormals({opaque.data(), W, H}, {ramp.data(), W, H}, {cpuNormals.data(), W, H, 3}, 0.0f,
                   1);
    const int centre = 3 * (H / 2 * W + W / 2);
    EXPECT_EQ(cpuNormals[centre], 0.0f);
    EXPECT_EQ(cpuNormals[centre + 2], 1.0f);
    EXPECT_GT(gpuNormals[centre], 0.001f);  // leans towards rising height, +x
    EXPECT_LT(gpuNormals[centre], 0.02f);
}

}  // namespace
}  // namespace lumet
