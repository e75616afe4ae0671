// The blur primitives against direct sums: the fractional box blur with clamped edges, the
// three-pass box blur as three such blurs, and the Gaussian as a direct convolution that wraps in
// x and clamps in y; plus the results' independence of the thread count and the failure rules.
#include "parallel/blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/plane.h"
#include "platform/platform.h"

namespace {

using Plane = std::vector<float>;

Plane randomPlane(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Plane p(static_cast<size_t>(w) * h);
    for (float& v : p) v = unit(rng);
    return p;
}

// One axis of the fractional box filter by direct summation in double.
std::vector<double> directBoxAxis(const std::vector<double>& in, int w, int h, int r, double f,
                                  bool horizontal) {
    std::vector<double> out(in.size());
    const double size = 2.0 * r + 1.0 + 2.0 * f;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int k = -r - 1; k <= r + 1; ++k) {
                const double weight = (k == -r - 1 || k == r + 1) ? f : 1.0;
                const int sx = horizontal ? std::clamp(x + k, 0, w - 1) : x;
                const int sy = horizontal ? y : std::clamp(y + k, 0, h - 1);
                sum += weight * in[static_cast<size_t>(sy) * w + sx];
            }
            out[static_cast<size_t>(y) * w + x] = sum / size;
        }
    }
    return out;
}

std::vector<double> directBox(const std::vector<double>& in, int w, int h, int r, double f) {
    return directBoxAxis(directBoxAxis(in, w, h, r, f, true), w, h, r, f, false);
}

void expectNear(const Plane& got, const std::vector<double>& expected, double tolerance,
                const char* what) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], expected[i], tolerance) << what << " at " << i;
}

TEST(BoxBlur, EqualsDirectSumsWithClampedEdges) {
    // 4200 columns: bands wider than the vertical pass filters at once on machines with few cores.
    const int sizes[][2] = {{1, 1},   {1, 9},   {13, 1},  {7, 5},
                            {40, 23}, {64, 64}, {300, 4}, {4200, 2}};
    const struct {
        int r;
        float f;
    } radii[] = {{1, 0.0f}, {2, 0.0f},   {5, 0.0f},  {0, 0.5f},  {0, 0.25f},
                 {3, 0.3f}, {7, 0.999f}, {50, 0.0f}, {120, 0.6f}};
    for (auto [w, h] : sizes) {
        for (auto [r, f] : radii) {
            Plane plane = randomPlane(w, h, static_cast<unsigned>(w * 131 + h * 7 + r));
            Plane scratch(plane.size());
            const std::vector<double> expected =
                directBox(std::vector<double>(plane.begin(), plane.end()), w, h, r, f);
            lumet::boxBlur(plane.data(), scratch.data(), w, h, r, f);
            expectNear(plane, expected, 2e-5, "box");
        }
    }
}

TEST(BoxBlur, SmallRadiiAndConstantPlanes) {
    // r = 0 with a fraction below 0.001 changes nothing; r = 0, f = 0.5 is (0.25, 0.5, 0.25).
    Plane delta(9, 0.0f), scratch(9);
    delta[4] = 1.0f;
    Plane unchanged = delta;
    lumet::boxBlur(unchanged.data(), scratch.data(), 9, 1, 0, 0.0009f);
    EXPECT_EQ(unchanged, delta);
    Plane spread = delta;
    lumet::boxBlur(spread.data(), scratch.data(), 9, 1, 0, 0.5f);
    EXPECT_FLOAT_EQ(spread[3], 0.25f);
    EXPECT_FLOAT_EQ(spread[4], 0.5f);
    EXPECT_FLOAT_EQ(spread[5], 0.25f);
    EXPECT_EQ(spread[2], 0.0f);
    // Constant planes stay constant, borders included, for every blur.
    const int w = 37, h = 29;
    Plane constant(w * h, 0.7f), work(w * h);
    Plane box = constant;
    lumet::boxBlur(box.data(), work.data(), w, h, 6, 0.4f);
    Plane three = constant;
    lumet::threePassBoxBlur(three.data(), w, h, 25);
    Plane gauss = constant;
    lumet::gaussianBlurWrapX(gauss.data(), w, h, 9);
    for (int i = 0; i < w * h; ++i) {
        ASSERT_NEAR(box[i], 0.7f, 1e-6f);
        ASSERT_NEAR(three[i], 0.7f, 1e-6f);
        ASSERT_NEAR(gauss[i], 0.7f, 1e-6f);
    }
}

TEST(ThreePassBoxBlur, RadiiAndEquivalenceToThreeBoxBlurs) {
    auto radii = [](int r) {
        std::int32_t out[3];
        lumet::threePassRadii(r, out);
        return std::vector<int>(out, out + 3);
    };
    EXPECT_EQ(radii(1), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(radii(10), (std::vector<int>{4, 4, 3}));
    EXPECT_EQ(radii(100), (std::vector<int>{45, 40, 35}));
    EXPECT_EQ(radii(3000), (std::vector<int>{450, 400, 350}));

    const int w = 45, h = 31;
    for (int r : {1, 3, 10, 37}) {
        Plane plane = randomPlane(w, h, static_cast<unsigned>(r));
        std::vector<double> expected(plane.begin(), plane.end());
        for (int pass : radii(r)) expected = directBox(expected, w, h, pass, 0.0);
        lumet::threePassBoxBlur(plane.data(), w, h, r);
        expectNear(plane, expected, 3e-5, "three-pass");
    }
    // r < 1 changes nothing.
    Plane plane = randomPlane(w, h, 5);
    const Plane before = plane;
    lumet::threePassBoxBlur(plane.data(), w, h, 0);
    EXPECT_EQ(plane, before);
}

TEST(GaussianBlur, EqualsDirectWrappedConvolution) {
    const int sizes[][2] = {{1, 6}, {5, 1}, {17, 11}, {64, 9}};
    for (auto [w, h] : sizes) {
        for (int r : {1, 2, 6, 20}) {
            Plane plane = randomPlane(w, h, static_cast<unsigned>(w + 13 * r));
            const double sigma = std::max(0.1, r / 3.0);
            std::vector<double> kernel(2 * r + 1);
            double total = 0.0;
            for (int i = 0; i <= 2 * r; ++i)
                total += kernel[i] = std::exp(-(i - r) * (i - r) / (2 * sigma * sigma));
            for (double& k : kernel) k /= total;
            std::vector<double> across(plane.size()), expected(plane.size());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    double sum = 0.0;
                    for (int k = -r; k <= r; ++k)
                        sum += plane[y * w + (((x + k) % w) + w) % w] * kernel[k + r];
                    across[y * w + x] = sum;
                }
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    double sum = 0.0;
                    for (int k = -r; k <= r; ++k)
                        sum += across[std::clamp(y + k, 0, h - 1) * w + x] * kernel[k + r];
                    expected[y * w + x] = sum;
                }
            lumet::gaussianBlurWrapX(plane.data(), w, h, r);
            expectNear(plane, expected, 2e-6, "gaussian");
        }
    }
}

TEST(GaussianBlur, LargeRadiusIsCappedAndWrapsSymmetrically) {
    const int w = 1200, h = 3;
    Plane plane(w * h, 0.0f);
    for (int y = 0; y < h; ++y) plane[y * w] = 1.0f;
    lumet::gaussianBlurWrapX(plane.data(), w, h, 700);
    EXPECT_GT(plane[1], 0.0f);
    EXPECT_FLOAT_EQ(plane[1], plane[w - 1]);
    EXPECT_FLOAT_EQ(plane[400], plane[w - 400]);
    // With r capped at 500 nothing reaches 501 columns away on either side.
    EXPECT_EQ(plane[501], 0.0f);
    EXPECT_GT(plane[500], 0.0f);
}

TEST(Blurs, SameBytesForOneAndSixteenThreads) {
    const int w = 203, h = 157;
    auto run = [&](int threads) {
        lumet::platform::setHardwareThreadOverride(threads);
        Plane box = randomPlane(w, h, 1), scratch(w * h);
        lumet::boxBlur(box.data(), scratch.data(), w, h, 4, 0.35f);
        Plane three = randomPlane(w, h, 2);
        lumet::threePassBoxBlur(three.data(), w, h, 21);
        Plane gauss = randomPlane(w, h, 3);
        lumet::gaussianBlurWrapX(gauss.data(), w, h, 7);
        lumet::platform::setHardwareThreadOverride(-1);
        box.insert(box.end(), three.begin(), three.end());
        box.insert(box.end(), gauss.begin(), gauss.end());
        return box;
    };
    const Plane one = run(1), sixteen = run(16);
    ASSERT_EQ(0, std::memcmp(one.data(), sixteen.data(), one.size() * sizeof(float)));
}

TEST(Blurs, FailedScratchAllocationLeavesThePlaneUnchanged) {
    const int w = 64, h = 32;
    Plane three = randomPlane(w, h, 9), gauss = randomPlane(w, h, 10);
    const Plane threeBefore = three, gaussBefore = gauss;
    lumet::setPlaneAllocationLimit(w * h * sizeof(float));
    lumet::threePassBoxBlur(three.data(), w, h, 5);
    lumet::gaussianBlurWrapX(gauss.data(), w, h, 5);
    lumet::setPlaneAllocationLimit(0);
    EXPECT_EQ(three, threeBefore);
    EXPECT_EQ(gauss, gaussBefore);
}

}  // namespace
