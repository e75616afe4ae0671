// Height map: the profile curves and the numbers the stage defines (widths, radii, limits), the
// style table, and whole-stage properties on shapes.
#include "geometry/height_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "params/render_settings.h"
#include "platform/plane.h"
#include "text_like_alpha.h"

namespace {

using namespace lumet;

RenderSettings settingsFor(int style, int profile, float depth, float softness) {
    RenderSettings s;
    std::memset(&s, 0, sizeof s);
    s.bevelStyle = style;
    s.edgeProfile = profile;
    s.bevelDepth = depth;
    s.bevelSoftness = softness;
    return s;
}

TEST(EdgeProfile, EndpointsAndShapes) {
    for (int profile = 0; profile <= 6; ++profile) {
        EXPECT_NEAR(edgeProfile(0.0f, profile), 0.0f, 1e-6f) << profile;
        EXPECT_NEAR(edgeProfile(1.0f, profile), 1.0f, 1e-6f) << profile;
        float previous = 0.0f;
        for (int i = 1; i <= 100; ++i) {  // every profile rises monotonically
            const float v = edgeProfile(i / 100.0f, profile);
            EXPECT_GE(v, previous - 1e-6f) << profile << " at " << i;
            previous = v;
        }
    }
    const float third = 1.0f / 3.0f;
    const float smoothThird = third * third * (3.0f - 2.0f * third);
    EXPECT_NEAR(edgeProfile(third, kProfileMesa), 1.0f - 0.15f * (1.0f - smoothThird), 1e-6f);
    EXPECT_NEAR(edgeProfile(0.6f, kProfileMesa), 1.0f - 0.15f * (1.0f - 0.6f * 0.6f * 1.8f), 1e-6f);
    EXPECT_NEAR(edgeProfile(0.5f, kProfileChiselHard), 0.5f, 1e-6f);  // smoothstep(0.5) = 0.5 too
    EXPECT_NEAR(edgeProfile(0.5f, kProfileSmooth), 0.5f, 1e-6f);
    EXPECT_NEAR(edgeProfile(0.25f, kProfileChiselSoft), 0.4375f + (0.15625f - 0.4375f) * 0.15f,
                1e-6f);
    EXPECT_EQ(edgeProfile(0.3f, 9), edgeProfile(0.3f, kProfileSmooth));
}

TEST(HeightMap, WidthsRadiiAndLimit) {
    EXPECT_EQ(bevelWidthOf(3.0f, 2), 60.0f);
    EXPECT_EQ(bevelWidthOf(0.0f, 1), 2.0f);
    EXPECT_EQ(bevelWidthOf(10.0f, 1), 40.0f);
    EXPECT_EQ(softeningRadiiOf(0.0f, 0.0f, 1).r1, 14);
    EXPECT_EQ(softeningRadiiOf(2.0f, 0.0f, 2).r1, 8);
    EXPECT_EQ(softeningRadiiOf(1.0f, 1.0f, 2).r2, 60);
    EXPECT_EQ(softeningRadiiOf(1.0f, 0.05f, 1).r2, 1);
    EXPECT_EQ(softeningRadiiOf(1.0f, 0.0f, 1).r2, 0);
    // A disc of radius 10 at SS 2 with depth 3: the width 60 is limited to 0.8 * 10 = 8.
    EXPECT_NEAR(bevelInverseWidth(60.0f, 10.0f, 2), 1.0f / 8.0f, 1e-6f);
    EXPECT_NEAR(bevelInverseWidth(60.0f, 3.0f, 2), 1.0f / 4.0f, 1e-6f);  // never below 2 SS
    EXPECT_NEAR(bevelInverseWidth(20.0f, 0.0f, 1), 1.0f / 20.0f, 1e-6f);
    EXPECT_NEAR(bevelInverseWidth(20.0f, 100.0f, 1), 1.0f / 20.0f, 1e-6f);
}

TEST(HeightMap, StyleTable) {
    const float inv = 0.1f;  // bevel width 10
    const int smooth = kProfileSmooth;
    // Inside at distance >= width: top of the bevel; at the edge (distance 0): bottom.
    EXPECT_FLOAT_EQ(bevelHeight(kInnerBevel, smooth, true, 20.0f, 0.0f, false, inv), 1.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kInnerBevel, smooth, true, 0.0f, 0.0f, false, inv), 0.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kInnerBevel, smooth, false, 0.0f, 3.0f, true, inv), 0.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kOuterBevel, smooth, true, 0.0f, 0.0f, true, inv), 1.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kOuterBevel, smooth, false, 0.0f, 0.0f, true, inv), 1.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kOuterBevel, smooth, false, 0.0f, 10.0f, true, inv), 0.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kOuterBevel, smooth, false, 0.0f, 0.0f, false, inv), 0.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kFullBevel, smooth, true, 5.0f, 0.0f, true, inv), 0.75f);
    EXPECT_FLOAT_EQ(bevelHeight(kFullBevel, smooth, false, 0.0f, 5.0f, true, inv), 0.25f);
    // Emboss reaches its top half way: 5 pixels from the edge with width 10.
    EXPECT_FLOAT_EQ(bevelHeight(kEmboss, smooth, true, 5.0f, 0.0f, true, inv), 1.0f);
    EXPECT_LT(bevelHeight(kEmboss, smooth, true, 4.0f, 0.0f, true, inv), 1.0f);
    EXPECT_FLOAT_EQ(bevelHeight(kEmboss, smooth, false, 0.0f, 5.0f, true, inv), 0.0f);
    // Pillow peaks at the outline, falls to 0.3 inside and 0 outside.
    EXPECT_FLOAT_EQ(bevelHeight(kPillow, smooth, true, 0.0f, 0.0f, true, inv), 1.0f);
    EXPECT_NEAR(bevelHeight(kPillow, smooth, true, 10.0f, 0.0f, true, inv), 0.3f, 1e-6f);
    EXPECT_FLOAT_EQ(bevelHeight(kPillow, smooth, false, 0.0f, 10.0f, true, inv), 0.0f);
    // Styles outside 2..5 behave as the inner bevel.
    EXPECT_EQ(bevelHeight(0, smooth, true, 3.0f, 0.0f, true, inv),
              bevelHeight(kInnerBevel, smooth, true, 3.0f, 0.0f, true, inv));
}

std::vector<float> heights(const std::vector<std::uint8_t>& alpha, int w, int h,
                           const RenderSettings& settings, int SS) {
    std::vector<float> out(alpha.size(), 0.0f);
    computeHeightMap({alpha.data(), w, h}, {out.data(), w, h}, settings, SS);
    return out;
}

TEST(HeightMap, EmptyAndFullCoverage) {
    const int w = 40, h = 30;
    const std::vector<std::uint8_t> empty(w * h, 0), full(w * h, 255);
    for (int style : {kInnerBevel, kOuterBevel, kPillow})
        for (float v : heights(empty, w, h, settingsFor(style, kProfileRound, 1.0f, 0.2f), 1))
            EXPECT_NEAR(v, 0.0f, 1e-6f) << style;
    // Full coverage: no background anywhere, every pixel at the top of the bevel.
    for (float v : heights(full, w, h, settingsFor(kInnerBevel, kProfileSmooth, 1.0f, 0.0f), 1))
        EXPECT_NEAR(v, 1.0f, 1e-5f);
    for (float v : heights(full, w, h, settingsFor(kFullBevel, kProfileMesa, 1.0f, 0.0f), 2))
        EXPECT_NEAR(v, 1.0f, 1e-5f);
}

TEST(HeightMap, SymmetricShapeGivesSymmetricBoundedHeights) {
    // A disc centred in an odd-sized plane: heights are mirror-symmetric both ways.
    const int n = 61;
    std::vector<std::uint8_t> disc(n * n, 0);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if ((x - 30) * (x - 30) + (y - 30) * (y - 30) <= 18 * 18) disc[y * n + x] = 255;
    for (int style = kInnerBevel; style <= kPillow; ++style) {
        const auto hm = heights(disc, n, n, settingsFor(style, kProfileChiselSoft, 1.0f, 0.3f), 1);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const float v = hm[y * n + x];
                ASSERT_GE(v, -1e-6f);
                ASSERT_LE(v, 1.0f + 1e-5f);
                ASSERT_NEAR(v, hm[y * n + (n - 1 - x)], 1e-5f) << style;
                ASSERT_NEAR(v, hm[(n - 1 - y) * n + x], 1e-5f) << style;
                ASSERT_NEAR(v, hm[x * n + y], 1e-5f) << style;
            }
        // The inner bevel fades to exactly 0 where alpha is 0; outer styles rise outside.
        if (style == kInnerBevel) {
            EXPECT_EQ(hm[0], 0.0f);
        }
        if (style == kOuterBevel) {
            EXPECT_GT(hm[30 * n + 50], 0.1f);
        }
    }
}

TEST(HeightMap, WithoutMemoryForTheDistancesTheHeightsAreZero) {
    const int w = 120, h = 80;
    const std::vector<std::uint8_t> text = lumet::testing::textLikeAlpha(w, h, 40);
    const RenderSettings full = settingsFor(kFullBevel, kProfileRound, 1.5f, 0.4f);
    std::vector<float> hm(w * h, 0.5f);
    lumet::setPlaneAllocationLimit(w * h * sizeof(float));
    computeHeightMap({text.data(), w, h}, {hm.data(), w, h}, full, 1);
    lumet::setPlaneAllocationLimit(0);
    for (float v : hm) ASSERT_EQ(v, 0.0f);
}

}  // namespace
