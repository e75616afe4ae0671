// The box blurs against direct sums: the fractional box blur with clamped edges, the three-pass box
// blur as three such blurs, the content-bounded blur against the whole plane's; and the failure
// rules. (The wrapping Gaussian is compared bit for bit with its direct convolution in
// envmap/gaussian_test.)
#include "parallel/blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/plane.h"
#include "platform/platform.h"
#include "support/naive_references.h"

namespace {

using Plane = std::vector<float>;
using lumet::testing::directBox;

Plane randomPlane(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Plane p(static_cast<size_t>(w) * h);
    for (float& v : p) v = unit(rng);
    return p;
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

// An output depends only on the samples in its window, not on where a pass started, in either
// direction: a corner cut out of the plane, far enough from the cut, blurs to the whole plane's
// floats bit for bit (also with NaN and values beyond the cap in it).
TEST(BoxBlur, LinesGiveTheSameFloatsWhereverTheirPassStarts) {
    const int w = 160, h = 140;
    Plane plane = randomPlane(w, h, 99);
    plane[5 * w + 3] = std::nanf("");
    plane[7 * w + 4] = 1.0e6f;
    plane[9 * w + 4] = -3.0f;
    plane[60 * w + 70] = std::nanf("");
    plane[61 * w + 90] = -7.0e5f;
    for (const auto& [r, f] : {std::pair{4, 0.0f}, std::pair{9, 0.35f}, std::pair{40, 0.0f}}) {
        Plane whole = plane, scratch(plane.size());
        lumet::boxBlur(whole.data(), scratch.data(), w, h, r, f);
        for (const auto& [cutX, cutY] : {std::pair{0, 17}, std::pair{1, 0}, std::pair{23, 64},
                                         std::pair{67, 3}, std::pair{110, 90}}) {
            const int pw = w - cutX, ph = h - cutY;
            Plane part(static_cast<size_t>(pw) * ph);
            for (int y = 0; y < ph; ++y)
                std::memcpy(&part[y * pw], &plane[(y + cutY) * w + cutX], pw * sizeof(float));
            lumet::boxBlur(part.data(), scratch.data(), pw, ph, r, f);
            // Pixels of the corner whose window reaches neither of its cut sides.
            const int from = r + 2;
            for (int y = cutY ? from : 0; y < ph; ++y) {
                const int x = cutX ? from : 0;
                if (x >= pw) break;
                ASSERT_EQ(0, std::memcmp(&part[y * pw + x], &whole[(y + cutY) * w + cutX + x],
                                         (pw - x) * sizeof(float)))
                    << r << " " << cutX << " " << cutY << " " << y;
            }
        }
    }
}

TEST(BoxBlur, FractionBelowOneThousandthAloneChangesNothing) {
    Plane delta(9, 0.0f), scratch(9);
    delta[4] = 1.0f;
    Plane unchanged = delta;
    lumet::boxBlur(unchanged.data(), scratch.data(), 9, 1, 0, 0.0009f);
    EXPECT_EQ(unchanged, delta);
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

// A blob of awkward values (its border large enough that every output it reaches stays clearly
// positive) in a plane of zeros: the box blurs give exactly 0 wherever no tap reaches the blob,
// match the direct sums elsewhere, and give the same floats wherever the blob lies: here in a
// small plane, and in one of 2139 columns (odd, past the vertical pass's 2048-column group, at an
// odd row and column), both by the interleaved rows and without memory for their buffers.
TEST(BoxBlur, ExactZerosBeyondTheReachAndTheSameFloatsWhereverTheContentLies) {
    constexpr int bw = 7, bh = 5;
    const float blob[bh][bw] = {{0.1f, 0.7f, 0.3f, 0.9f, 0.45f, 0.2f, 0.6f},
                                {0.8f, 1e-3f, 0.123f, 3.7e-5f, 0.77f, 1e-4f, 0.25f},
                                {0.3f, 0.5f, 1e-3f, 0.999f, 0.01f, 0.333f, 0.4f},
                                {0.65f, 2e-3f, 0.1f, 7e-6f, 0.3f, 0.05f, 0.15f},
                                {0.55f, 0.35f, 0.15f, 0.95f, 0.7f, 0.2f, 0.1f}};
    auto withBlob = [&](int w, int h, int x0, int y0) {
        Plane p(static_cast<size_t>(w) * h, 0.0f);
        for (int y = 0; y < bh; ++y)
            for (int x = 0; x < bw; ++x) p[(y0 + y) * w + x0 + x] = blob[y][x];
        return p;
    };
    const int m = 45;  // more than the widest reach below (42: three passes of 16, 14 and 12)
    const int aw = bw + 2 * m, ah = bh + 2 * m;
    const int bigW = 2139, bigH = 173, bx = 2061, by = 71;
    const struct {
        int r;
        float f;
        bool threePass;
    } blurs[] = {{1, 0.0f, false}, {3, 0.0f, false},   {12, 0.0f, false}, {0, 0.5f, false},
                 {2, 0.3f, false}, {29, 0.25f, false}, {10, 0.0f, true},  {37, 0.0f, true}};
    for (const auto& entry : blurs) {
        const int r = entry.r;
        const float f = entry.f;
        const bool threePass = entry.threePass;
        auto blur = [&](Plane& p, int w, int h) {
            Plane scratch(p.size());
            if (threePass)
                lumet::threePassBoxBlur(p.data(), w, h, r, scratch.data());
            else
                lumet::boxBlur(p.data(), scratch.data(), w, h, r, f);
        };
        Plane small = withBlob(aw, ah, m, m);
        std::vector<double> expected(small.begin(), small.end());
        if (threePass) {
            std::int32_t radii[3];
            lumet::threePassRadii(r, radii);
            for (int pass : radii) expected = directBox(expected, aw, ah, pass, 0.0);
        } else {
            expected = directBox(expected, aw, ah, r, f);
        }
        blur(small, aw, ah);
        expectNear(small, expected, 2e-6, "blob");
        for (size_t i = 0; i < small.size(); ++i) {
            // Positive wherever a tap reaches the blob, but for three passes, whose far corners
            // (~1e-10) are below the rounding of their sums.
            if (expected[i] == 0.0) {
                ASSERT_EQ(small[i], 0.0f) << "r " << r << " f " << f << " at " << i;
            } else if (!threePass) {
                ASSERT_GT(small[i], 0.0f) << "r " << r << " f " << f << " at " << i;
            }
        }
        Plane big = withBlob(bigW, bigH, bx, by);
        Plane bigWithoutBuffers = big;
        lumet::platform::setHardwareThreadOverride(1);
        blur(big, bigW, bigH);
        lumet::platform::setHardwareThreadOverride(-1);
        lumet::setPlaneAllocationLimit(1);
        blur(bigWithoutBuffers, bigW, bigH);
        lumet::setPlaneAllocationLimit(0);
        ASSERT_EQ(0, std::memcmp(big.data(), bigWithoutBuffers.data(), big.size() * sizeof(float)))
            << "r " << r << " f " << f;
        for (int y = 0; y < bigH; ++y)
            for (int x = 0; x < bigW; ++x) {
                const int sx = x - (bx - m), sy = y - (by - m);
                const bool inSmall = sx >= 0 && sx < aw && sy >= 0 && sy < ah;
                const float want = inSmall ? small[sy * aw + sx] : 0.0f;
                ASSERT_EQ(0, std::memcmp(&big[y * bigW + x], &want, sizeof(float)))
                    << "r " << r << " f " << f << " at " << x << ", " << y;
            }
    }
}

TEST(BoxBlur, FilteringOnlyWhatTheContentReachesGivesTheWholePlanesFloats) {
    // Planes zero outside a random rectangle (touching edges, single rows and columns, the whole
    // plane): the content-bounded blur, in place and into a plane of NaNs, split over threads or
    // on the calling thread, against the whole plane's blur, bit for bit, and its reported
    // rectangle against the reach; and the three-pass blur, which finds the content itself,
    // against three whole-plane blurs.
    std::mt19937 rng(11);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int n = 0; n < 60; ++n) {
        const int w = uniform(1, 260), h = uniform(1, 90);
        const int cw = uniform(1, w), ch = uniform(1, h);
        const lumet::FrameWindow content{uniform(0, w - cw), uniform(0, h - ch), cw, ch, w, h};
        Plane source(static_cast<size_t>(w) * h, 0.0f);
        const Plane values = randomPlane(cw, ch, n);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                source[(content.y + y) * w + content.x + x] = values[y * cw + x];
        const int r = uniform(0, 40);
        const float f = n % 3 == 0 ? 0.0f : std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
        Plane scratch(source.size()), whole = source;
        lumet::boxBlur(whole.data(), scratch.data(), w, h, r, f);
        Plane inPlace = source, into(source.size(), std::nanf(""));
        const lumet::FrameWindow reached =
            lumet::boxBlurContent(inPlace.data(), inPlace.data(), scratch.data(), r, f, content);
        const bool onThisThread = n % 2 == 1;
        lumet::boxBlurContent(source.data(), into.data(), scratch.data(), r, f, content,
                              onThisThread);
        ASSERT_EQ(0, std::memcmp(whole.data(), inPlace.data(), whole.size() * sizeof(float))) << n;
        ASSERT_EQ(0, std::memcmp(whole.data(), into.data(), whole.size() * sizeof(float))) << n;
        const bool blurs = r >= 1 || f >= 0.001f;
        const int reach = blurs ? r + (f != 0.0f ? 1 : 0) : 0;
        EXPECT_EQ(reached.x, std::max(0, content.x - reach)) << n;
        EXPECT_EQ(reached.x + reached.width, std::min(w, content.x + cw + reach)) << n;
        EXPECT_EQ(reached.y, std::max(0, content.y - reach)) << n;
        EXPECT_EQ(reached.y + reached.height, std::min(h, content.y + ch + reach)) << n;

        // The three-pass blur finds the content itself; a -0 counts as content.
        Plane three = source;
        if (n % 4 == 0) three[static_cast<size_t>(uniform(0, w * h - 1))] = -0.0f;
        Plane threeWhole = three;
        const int r3 = uniform(1, 30);
        std::int32_t radii[3];
        lumet::threePassRadii(r3, radii);
        for (int pass : radii) lumet::boxBlur(threeWhole.data(), scratch.data(), w, h, pass, 0.0f);
        lumet::threePassBoxBlur(three.data(), w, h, r3, scratch.data(), onThisThread);
        ASSERT_EQ(0, std::memcmp(threeWhole.data(), three.data(), three.size() * sizeof(float)))
            << n;
    }
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
