// Smart edge and normals: the smart edge at points worked by hand (both qualities) and its
// properties (every depth, placement and mirroring in the frame, nothing carved without an edge),
// normals against the finite-difference slopes of analytic height fields, the cases the stages
// define exactly (flat and empty pixels, saturated blurs), and the whole geometry sequence's
// plateau and unit normals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "support/world_view.h"
#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/smart_edge.h"
#include "params/render_settings.h"
#include "render/geometry_sequence.h"
#include "test_worlds.h"
#include "text_like_alpha.h"

namespace {

using namespace lumet;
using lumet::testing::TestWorld;

// A layer of w x h, red left of column `split` and black from it on, fully opaque.
TestWorld twoColours(int w, int h, int depth, int split) {
    TestWorld world(w, h, depth);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) world.set(x, y, 1.0f, x < split ? 1.0f : 0.0f, 0.0f, 0.0f);
    return world;
}

// The smart edge over 16 x 16 working pixels (a frame of 16 / SS), the layer placed at (x, y),
// every coverage byte `coverage`, heights 0 but for a spike of 1 at (spikeX, 8).
std::vector<float> carveSpike(const TestWorld& layer, int x, int y, int SS, float strength,
                              int spikeX, std::uint8_t coverage = 255, float bevelDepth = 0.0f) {
    std::vector<std::uint8_t> alpha(256, coverage);
    std::vector<float> heights(256, 0.0f);
    heights[8 * 16 + spikeX] = 1.0f;
    applySmartEdge({viewOfWorld(layer.world, layer.depth), x, y}, {alpha.data(), 16, 16},
                   {heights.data(), 16, 16}, SS, 1.0f, bevelDepth, strength);
    return heights;
}

// Worked by hand for a layer split into red and black at working column 8. The Sobel edge is 4 on
// columns 7 and 8 of rows 1..14 and 0 elsewhere, normalised to 1. blur5 (radius 2 x SS: three box
// passes of radius 1, kernel (1 3 6 7 6 3 1) / 27 across) gives 13/27, 9/27, 4/27, 1/27 and 0 at
// 0, 1, 2, 3 and 4 columns out from them (rows 4..11), renormalised: E = 1, 9/13, 4/13, 1/13, 0.
// The carve keeps 1 - min(0.85, smoothstep(min(1, E x strength))) of the spike. blur7 (radius
// trunc(3 x strength + 1) x SS = 4 at strength 1 and SS 1, 1 or 2 at strength 0: again three
// passes of radius 1) leaves 49/729 of the carved spike in place and 42/729 on its neighbours
// above and below, and the blend moves a pixel min(1, 2E) x 0.6 of the way to that blur where
// E > 0.05.
TEST(SmartEdge, GrooveAcrossATwoColourSplitAsWorkedByHand) {
    auto smooth = [](double t) { return t * t * (3 - 2 * t); };
    const double stay = 0.4 + 0.6 * 49 / 729, spread = 0.6 * 42 / 729;
    const struct {
        int SS;
        float strength;
        int spikeX;
        double spike, below;
    } cases[] = {
        {1, 1.0f, 7, 0.15 * stay, 0.15 * spread},  // E 1: carved by the cap, 0.85
        {1, 1.0f, 8, 0.15 * stay, 0.15 * spread},  // the mirror image
        {1, 1.0f, 6, (1 - smooth(9.0 / 13)) * stay, (1 - smooth(9.0 / 13)) * spread},
        {1, 1.0f, 4, (1 - smooth(1.0 / 13)) * (1 - 2.0 / 13 * 0.6 * (1 - 49.0 / 729)),
         (1 - smooth(1.0 / 13)) * 2.0 / 13 * spread},
        {1, 1.0f, 3, 1.0, 0.0},      // E 0: untouched
        {1, 0.0f, 7, stay, spread},  // strength 0: no carve, the blend alone
        {2, 0.0f, 7, stay, spread},  // a frame of 8 x 8, its colours replicated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "SS " << c.SS << " strength " << c.strength << " spike at " << c.spikeX);
        const std::vector<float> h = carveSpike(twoColours(16 / c.SS, 16 / c.SS, 0, 8 / c.SS), 0, 0,
                                                c.SS, c.strength, c.spikeX);
        EXPECT_NEAR(h[8 * 16 + c.spikeX], c.spike, 1e-5);
        EXPECT_NEAR(h[9 * 16 + c.spikeX], c.below, 1e-6);
        EXPECT_NEAR(h[7 * 16 + c.spikeX], c.below, 1e-6);
    }
}

TEST(SmartEdge, ReadsEveryDepthAndPlacementAlikeAndCarvesNothingWithoutAnEdge) {
    const std::vector<float> groove = carveSpike(twoColours(16, 16, 0, 8), 0, 0, 1, 1.0f, 7);
    // 16-bit 32768 and float 1.0 read as the 8-bit 255.
    for (int depth : {1, 2})
        EXPECT_EQ(carveSpike(twoColours(16, 16, depth, 8), 0, 0, 1, 1.0f, 7), groove);
    // A deeper bevel widens the groove (blur5 radius 5 at depth 0.5): 4 columns out from the edge
    // the spike, untouched at depth 0, is carved.
    EXPECT_LT(carveSpike(twoColours(16, 16, 0, 8), 0, 0, 1, 1.0f, 3, 255, 0.5f)[8 * 16 + 3], 0.99f);
    // A red layer overhanging the frame's top and left edges, ending at column 8: pixels outside
    // the frame are dropped, frame pixels outside the layer are black.
    EXPECT_EQ(carveSpike(twoColours(10, 18, 0, 10), -2, -1, 1, 1.0f, 7), groove);
    // The mirror image: a red layer of 8 x 16 placed at column 8, the spike at column 8.
    const std::vector<float> mirrored = carveSpike(twoColours(8, 16, 0, 8), 8, 0, 1, 1.0f, 8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_NEAR(mirrored[y * 16 + x], groove[y * 16 + 15 - x], 1e-6);

    std::vector<float> untouched(256, 0.0f);
    untouched[8 * 16 + 7] = 1.0f;
    EXPECT_EQ(carveSpike(twoColours(16, 16, 0, 16), 0, 0, 1, 1.0f, 7), untouched);    // one colour
    EXPECT_EQ(carveSpike(twoColours(16, 16, 0, 8), 0, 0, 1, 1.0f, 7, 9), untouched);  // coverage 9
    // Two rows: no Sobel row at all.
    const TestWorld low = twoColours(4, 2, 0, 2);
    std::vector<std::uint8_t> full(8, 255);
    std::vector<float> heights(8, 0.5f);
    applySmartEdge({viewOfWorld(low.world, 0), 0, 0}, {full.data(), 4, 2}, {heights.data(), 4, 2}, 1, 1.0f,
                   1.0f, 1.0f);
    EXPECT_EQ(heights, std::vector<float>(8, 0.5f));
}

std::vector<float> normalsOf(const std::vector<float>& hm, const std::vector<std::uint8_t>& alpha,
                             int w, int h, float depth) {
    std::vector<float> n(3 * w * h, 0.0f);
    computeNormals({alpha.data(), w, h}, {hm.data(), w, h}, {n.data(), w, h, 3}, depth, 1);
    return n;
}

TEST(Normals, FlatAndEmptyPixels) {
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
    // Empty pixels (height below 0.001, alpha below 2) stay flat even next to a step; a pixel with
    // height 0 but alpha 200 is processed and damped.
    std::vector<float> step(w * h, 0.0f);
    std::vector<std::uint8_t> alpha(w * h, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 15; x < w; ++x) step[y * w + x] = 0.5f;
    alpha[10 * w + 13] = 200;
    const auto n = normalsOf(step, alpha, w, h, 1.0f);
    EXPECT_EQ(n[3 * (10 * w + 12)], 0.0f);
    EXPECT_EQ(n[3 * (10 * w + 12) + 2], 1.0f);
    EXPECT_GT(n[3 * (10 * w + 13)], 0.0f);
}

// Normals of analytic height fields against their finite-difference slopes. The derivative
// filter (9 taps of -k/4 exp(-k^2/8), normalised by their absolute sum, along one axis; the
// normalised Gaussian along the other) answers a slope with a fixed gain, and exactly so on a
// quadratic field: the normal is (-s gain dh/dx, -s gain dh/dy, 1) normalised, s the strength
// max(0.4, sqrt(bevel depth) x 2.5 x SS). Heights stay below the plateau (0.8) and coverage is
// full, so neither the plateau nor the edge step changes the normal; a normal whose slope is below
// 0.02 is straight up.
TEST(Normals, AnalyticFieldsFollowTheirFiniteDifferenceSlopes) {
    // The filter's output for a slope of 1: sum k d[k] / sum |d[k]| = -sum k^2 exp(-k^2/8) / sum
    // |k| exp(-k^2/8) over k = 1..4 = -8.3958563 / 3.6108568.
    const double gain = -2.3251701;
    const int w = 44, h = 40;
    const double cx = 21.5, cy = 19.0;
    auto paraboloid = [&](double x, double y) {
        return 0.75 - 0.0012 * ((x - cx) * (x - cx) + (y - cy) * (y - cy));
    };
    auto cone = [&](double x, double y) { return 0.78 - 0.028 * std::hypot(x - cx, y - cy); };
    struct Field {
        const char* name;
        std::function<double(double, double)> f;
        double depth, tolerance, innerRadius;
    };
    const Field fields[] = {{"paraboloid", paraboloid, 1.0, 2e-5, 0.0},
                            {"cone", cone, 0.6, 4e-3, 9.0},
                            {"shallow paraboloid", paraboloid, 0.0, 2e-5, 0.0}};
    const std::vector<std::uint8_t> full(w * h, 255);
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        std::vector<float> heights(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) heights[y * w + x] = static_cast<float>(field.f(x, y));
        const auto n = normalsOf(heights, full, w, h, static_cast<float>(field.depth));
        const double s = std::max(0.4, std::sqrt(field.depth) * 2.5);
        double worst = 0;
        int tilted = 0;
        for (int y = 4; y < h - 4; ++y)
            for (int x = 4; x < w - 4; ++x) {
                if (std::hypot(x - cx, y - cy) < field.innerRadius || heights[y * w + x] > 0.8f)
                    continue;
                const double dx = (field.f(x + 1, y) - field.f(x - 1, y)) / 2;
                const double dy = (field.f(x, y + 1) - field.f(x, y - 1)) / 2;
                double nx = -s * gain * dx, ny = -s * gain * dy, nz = 1;
                const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
                nx /= length, ny /= length, nz /= length;
                if (nx * nx + ny * ny < 0.0004) {
                    nx = ny = 0, nz = 1;
                } else {
                    ++tilted;
                }
                const float* got = &n[3 * (y * w + x)];
                worst = std::max({worst, std::fabs(got[0] - nx), std::fabs(got[1] - ny),
                                  std::fabs(got[2] - nz)});
                // Rising height is where the normal leans.
                if (nx != 0) {
                    EXPECT_EQ(got[0] > 0, x < cx) << x << ", " << y;
                }
            }
        EXPECT_LT(worst, field.tolerance);
        EXPECT_GT(tilted, 100);
    }
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
    blurNormals({normals.data(), w, h, 3}, {alpha.data(), w, h}, {hm.data(), w, h}, 3);
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

TEST(GeometrySequence, SnapsThePlateauAndKeepsNormalsUnitAtBothQualities) {
    const int W = 70, H = 50;
    // Thin text strokes, and a disc wide enough for a plateau (heights of 0.95 and more).
    std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(W, H, 30);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (std::hypot(x - 48.5, y - 24.5) < 20) alpha[y * W + x] = 255;
    TestWorld world(W, H, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            world.set(x, y, alpha[y * W + x] / 255.0f, x < W / 2 ? 0.9f : 0.2f, 0.6f, 0.3f);
    for (int SS : {1, 2}) {
        for (int style : {kInnerBevel, kEmboss}) {
            const std::size_t count = static_cast<std::size_t>(SS * SS * W * H);
            std::vector<std::uint8_t> alphaSS(count);
            std::vector<float> hm(count), normals(3 * count);
            ASSERT_TRUE(runGeometrySequence(
                {alpha.data(), W, H}, {SS == 2 ? alphaSS.data() : nullptr, SS * W, SS * H},
                {hm.data(), SS * W, SS * H}, {normals.data(), SS * W, SS * H, 3}, SS, 1.0f,
                sequenceSettings(style), {viewOfWorld(world.world, 0), 0, 0}, false));
            ASSERT_GT(std::count(hm.begin(), hm.end(), 1.0f), 10) << "SS " << SS;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_FALSE(hm[i] >= 0.95f && hm[i] < 1.0f) << "SS " << SS << " pixel " << i;
                const float* n = &normals[3 * i];
                ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-4f) << i;
            }
        }
    }
}

TEST(GeometrySequence, RefusesMissingSupersampledPlane) {
    const int W = 8, H = 8;
    std::vector<std::uint8_t> alpha(W * H, 255);
    std::vector<float> hm(4 * W * H, 7.0f), normals(12 * W * H, 7.0f);
    EXPECT_FALSE(runGeometrySequence({alpha.data(), W, H}, {nullptr, 2 * W, 2 * H},
                                     {hm.data(), 2 * W, 2 * H}, {normals.data(), 2 * W, 2 * H, 3},
                                     2, 1.0f, sequenceSettings(kInnerBevel), {}, false));
    for (float v : hm) ASSERT_EQ(v, 7.0f);
}

}  // namespace
