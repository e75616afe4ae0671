// GPU geometry operations against their CPU forms: the distance transform, the box blurs (exact
// zeros beyond their reach included) and the normals give the CPU's floats to the bit.
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
        EXPECT_TRUE(testing::sameBits(gpuPlane, cpuPlane));
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
    EXPECT_TRUE(testing::sameBits(a, cpuA));
    EXPECT_TRUE(testing::sameBits(b, cpuB));

    // A list of radii blurs in order and skips entries of 0 or less.
    std::vector<float> listed = source, expected = source;
    const std::int32_t radii[4] = {14, 0, -3, 30};
    ASSERT_TRUE(gpu::blurPlaneRadiiGpu(listed.data(), W, H, radii, 4));
    threePassBoxBlur(expected.data(), W, H, 14);
    threePassBoxBlur(expected.data(), W, H, 30);
    EXPECT_TRUE(testing::sameBits(listed, expected));
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
    EXPECT_TRUE(testing::sameBits(big, cpuBig));
}

// The device normals are the CPU's to the bit: blurred blobs at a weak and the strongest bevel,
// random heights and coverage (every branch: plateaus, faint edges, empty pixels), a ridge whose
// crease is where the slope turns, and a gentle ramp whose slope is snapped to flat.
TEST_F(GpuGeometry, NormalsAreTheCpuNormalsToTheBit) {
    GpuLockHold hold;
    const int W = 53, H = 37;
    const NormalTaps taps = normalTaps();
    struct Case {
        const char* name;
        std::vector<float> heights;
        std::vector<std::uint8_t> alpha;
        float bevelDepth;
    };
    std::vector<Case> cases;
    const std::vector<std::uint8_t> blob = testing::blobAlpha(W, H, 21);
    std::vector<float> blurred(W * H);
    for (int i = 0; i < W * H; ++i) blurred[i] = blob[i] / 255.0f;
    threePassBoxBlur(blurred.data(), W, H, 6);
    cases.push_back({"weak bevel", blurred, blob, 0.02f});
    cases.push_back({"strong bevel", blurred, blob, 3.0f});
    std::vector<std::uint8_t> randomAlpha(W * H);
    const std::vector<float> noise = testing::randomPlane(W * H, 5);
    for (int i = 0; i < W * H; ++i) randomAlpha[i] = static_cast<std::uint8_t>(noise[i] * 5.0f);
    cases.push_back({"random", testing::randomPlane(W * H, 4), randomAlpha, 1.5f});
    std::vector<float> ridge(W * H), ramp(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            ridge[y * W + x] = 1.0f - std::fabs(static_cast<float>(x - W / 2)) / (W / 2);
            ramp[y * W + x] = 0.2f + 0.01f * static_cast<float>(x);
        }
    cases.push_back({"ridge", ridge, std::vector<std::uint8_t>(W * H, 255), 1.0f});
    cases.push_back({"ramp", ramp, std::vector<std::uint8_t>(W * H, 255), 0.0f});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const float strength = normalStrengthOf(c.bevelDepth, 1);
        std::vector<float> gpuNormals(3 * W * H, -1.0f), cpuNormals(3 * W * H, 0.0f);
        ASSERT_TRUE(gpu::computeNormalsGpu(c.heights.data(), c.alpha.data(), gpuNormals.data(), W,
                                           H, strength, taps.smoothing, taps.derivative));
        computeNormals({c.alpha.data(), W, H}, {c.heights.data(), W, H},
                       {cpuNormals.data(), W, H, 3}, c.bevelDepth, 1);
        EXPECT_TRUE(testing::sameBits(gpuNormals, cpuNormals));
        // The cases reach the branches they are for: the ramp snapped flat, the ridge tilted.
        const int centre = 3 * (H / 2 * W + W / 4);
        if (c.heights == ramp) {
            EXPECT_EQ(gpuNormals[centre + 2], 1.0f);
        }
        if (c.heights == ridge) {
            EXPECT_LT(gpuNormals[centre + 2], 0.99f);
        }
    }
}

}  // namespace
}  // namespace lumet
