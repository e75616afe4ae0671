// Alpha extraction at the three pixel depths with placement and content bounds, alpha edge
// smoothing, and the bilinear supersampling.
#include "host/host_worlds.h"
#include "support/world_view.h"
#include "geometry/alpha_extraction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "geometry/supersample.h"
#include "render/render_stages.h"
#include "test_worlds.h"

namespace {

using lumet::testing::TestWorld;

// Bounds as (minX, maxX, minY, maxY).
std::vector<int> corners(const lumet::ContentBounds& b) { return {b.minX, b.maxX, b.minY, b.maxY}; }

TEST(PixelDepth, FromRowStrideAndDeepFlag) {
    PF_EffectWorld world{};
    world.width = 10;
    world.rowbytes = 160;
    EXPECT_EQ(lumet::pixelDepthOf(world), lumet::kDepthFloat);
    world.world_flags = PF_WorldFlag_DEEP;
    EXPECT_EQ(lumet::pixelDepthOf(world), lumet::kDepthFloat);  // the stride decides first
    world.rowbytes = 159;
    EXPECT_EQ(lumet::pixelDepthOf(world), lumet::kDepth16);
    world.world_flags = PF_WorldFlag_WRITEABLE;
    EXPECT_EQ(lumet::pixelDepthOf(world), lumet::kDepth8);
}

TEST(AlphaExtraction, ConvertsEachDepth) {
    // Through whole worlds with padded strides. 16-bit alpha beyond full scale still reads as
    // opaque; float alpha is clamped, and NaN reads as transparent.
    const std::uint16_t raw16[5] = {32768, 16384, 1, 0, 65535};
    const float rawFloat[5] = {1.5f, 0.999f, -0.2f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
    TestWorld deep(5, 1, 1), flt(5, 1, 2), byte(5, 1, 0);
    for (int x = 0; x < 5; ++x) {
        deep.setRawAlpha16(x, 0, raw16[x]);
        flt.setRawAlphaFloat(x, 0, rawFloat[x]);
        byte.pixel(x, 0)[0] = static_cast<unsigned char>(x * 60);
    }
    std::vector<std::uint8_t> alpha(5);
    lumet::extractAlpha(viewOfWorld(deep.world, lumet::pixelDepthOf(deep.world)), 0, 0, alpha.data(), 5, 1);
    EXPECT_EQ(alpha, (std::vector<std::uint8_t>{255, 127, 0, 0, 255}));
    lumet::extractAlpha(viewOfWorld(flt.world, lumet::pixelDepthOf(flt.world)), 0, 0, alpha.data(), 5, 1);
    EXPECT_EQ(alpha, (std::vector<std::uint8_t>{255, 254, 0, 127, 0}));
    lumet::extractAlpha(viewOfWorld(byte.world, lumet::pixelDepthOf(byte.world)), 0, 0, alpha.data(), 5, 1);
    EXPECT_EQ(alpha, (std::vector<std::uint8_t>{0, 60, 120, 180, 240}));
}

TEST(AlphaExtraction, PlacementAndContentBounds) {
    // A 6 x 5 layer placed at (3, 2) in an 7 x 6 frame: only the overlap lands.
    TestWorld layer(6, 5, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            layer.pixel(x, y)[0] = static_cast<unsigned char>(10 + 10 * y + x);
    const int W = 7, H = 6;
    std::vector<std::uint8_t> alpha(W * H, 99);
    const std::vector<int> bounds =
        corners(lumet::extractAlpha(viewOfWorld(layer.world, 0), 3, 2, alpha.data(), W, H));
    for (int fy = 0; fy < H; ++fy)
        for (int fx = 0; fx < W; ++fx) {
            const int x = fx - 3, y = fy - 2;
            const int expected = (x >= 0 && y >= 0 && y < 5) ? 10 + 10 * y + x : 0;
            EXPECT_EQ(alpha[fy * W + fx], expected) << fx << "," << fy;
        }
    EXPECT_EQ(bounds, (std::vector<int>{3, 6, 2, 5}));

    // A single covered pixel, and a fully transparent layer (bounds keep min above max).
    TestWorld sparse(20, 20, 2);
    sparse.setRawAlphaFloat(13, 4, 0.5f);
    std::vector<std::uint8_t> frame(20 * 20);
    EXPECT_EQ(corners(lumet::extractAlpha(viewOfWorld(sparse.world, 2), 0, 0, frame.data(), 20, 20)),
              (std::vector<int>{13, 13, 4, 4}));
    TestWorld empty(20, 20, 1);
    EXPECT_EQ(corners(lumet::extractAlpha(viewOfWorld(empty.world, 1), 0, 0, frame.data(), 20, 20)),
              (std::vector<int>{20, 0, 20, 0}));

    // Placed up and left of the frame: the rows and columns above and left are cut. The colour
    // hash the same pass gives covers the whole layer, landed or not, and is the world's hash.
    std::vector<std::uint8_t> cut(4 * 4, 99);
    EXPECT_EQ(corners(lumet::extractAlpha(viewOfWorld(layer.world, 0), -3, -2, cut.data(), 4, 4, nullptr)),
              (std::vector<int>{0, 2, 0, 2}));
    EXPECT_EQ(cut[0], 10 + 10 * 2 + 3);
    EXPECT_EQ(cut[3], 0);
    std::uint64_t hash = 0, moved = 0;
    lumet::extractAlpha(viewOfWorld(layer.world, 0), -3, -2, cut.data(), 4, 4, &hash);
    EXPECT_EQ(hash, lumet::imagePixelHash(viewOfWorld(layer.world, 0)));
    layer.pixel(0, 0)[2] ^= 1;  // a colour byte of a pixel that does not land
    lumet::extractAlpha(viewOfWorld(layer.world, 0), -3, -2, cut.data(), 4, 4, &moved);
    EXPECT_NE(moved, hash);
    EXPECT_EQ(moved, lumet::imagePixelHash(viewOfWorld(layer.world, 0)));
}

TEST(AlphaSmoothing, HardEdgesBecomeAveragesSoftEdgesStay) {
    // A hard opaque square 10..19 in a 30 x 30 frame.
    const int W = 30, H = 30;
    std::vector<std::uint8_t> alpha(W * H, 0);
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x) alpha[y * W + x] = 255;
    ASSERT_TRUE(lumet::smoothAlphaEdgesInPlace(alpha.data(), W, H));
    EXPECT_EQ(alpha[15 * W + 9], 85);    // just outside a straight edge: 3 of 9 opaque
    EXPECT_EQ(alpha[15 * W + 10], 170);  // just inside: 6 of 9
    EXPECT_EQ(alpha[9 * W + 9], 28);     // outside a corner: 1 of 9
    EXPECT_EQ(alpha[10 * W + 10], 113);  // inside a corner: 4 of 9
    EXPECT_EQ(alpha[15 * W + 15], 255);
    EXPECT_EQ(alpha[15 * W + 8], 0);

    // Values other than 0 and 255 are never changed; border rows and columns never either.
    std::vector<std::uint8_t> soft(W * H, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) soft[y * W + x] = x < 15 ? 0 : (x == 15 ? 128 : 255);
    soft[0 * W + 16] = 0;  // border pixel next to opaque neighbours
    std::vector<std::uint8_t> smoothed = soft;
    lumet::smoothAlphaEdgesInPlace(smoothed.data(), W, H);
    for (int y = 0; y < H; ++y) {
        EXPECT_EQ(smoothed[y * W + 15], 128);
        EXPECT_EQ(smoothed[y * W + 14], 0);  // its neighbours reach only 128, never above 245
    }
    EXPECT_EQ(smoothed[16], 0);
    for (int x = 0; x < W; ++x) EXPECT_EQ(smoothed[(H - 1) * W + x], soft[(H - 1) * W + x]);

    // Frames under 3 pixels in either direction are left alone.
    std::vector<std::uint8_t> thin = {0, 255, 0, 255, 0, 255};
    lumet::smoothAlphaEdgesInPlace(thin.data(), 6, 1);
    EXPECT_EQ(thin, (std::vector<std::uint8_t>{0, 255, 0, 255, 0, 255}));
}

TEST(AlphaSmoothing, EqualsTheNaiveRuleOnRandomPlanes) {
    // Sparse hard edges and soft values in planes of widths around the 16-pixel blocks, against the
    // rule read pixel by pixel from a copy.
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const std::uint8_t values[] = {0, 0, 0, 0, 255, 255, 9, 10, 128, 245, 246};
    for (int W : {3, 17, 18, 33, 50}) {
        const int H = 7;
        std::vector<std::uint8_t> plane(W * H);
        for (std::uint8_t& v : plane) v = values[next() % sizeof values];
        std::vector<std::uint8_t> expected = plane;
        for (int y = 1; y < H - 1; ++y)
            for (int x = 1; x < W - 1; ++x) {
                const int centre = plane[y * W + x];
                if (centre != 0 && centre != 255) continue;
                bool low = false, high = false;
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int v = plane[(y + dy) * W + x + dx];
                        sum += v;
                        if (dx == 0 && dy == 0) continue;
                        low |= v < 10;
                        high |= v > 245;
                    }
                if (low && high) expected[y * W + x] = static_cast<std::uint8_t>(sum / 9);
            }
        ASSERT_TRUE(lumet::smoothAlphaEdgesInPlace(plane.data(), W, H));
        EXPECT_EQ(plane, expected) << W;
    }
}

TEST(Supersampling, DoublesWithThreeToOneWeights) {
    // Per axis: destination 0 copies source 0, 2k+1 weighs k and k+1 as 3:1, 2k weighs k-1 and k
    // as 1:3, the last copies the last source pixel; rounded half up. Worked by hand on 2 x 2:
    // (1, 1) is 100 x 3/16 + 200 x 3/16 + 40 x 1/16 = 58.75, (2, 1) 100 x 9/16 + 200 x 1/16 + 40 x
    // 3/16 = 76.25.
    const std::uint8_t square[4] = {0, 100, 200, 40};
    std::uint8_t out[16];
    lumet::resampleBilinear8(square, 2, 2, out, 4, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 16),
              (std::vector<std::uint8_t>{0, 25, 75, 100, 50, 59, 76, 85, 150, 126, 79, 55, 200, 160,
                                         80, 40}));
}

TEST(Supersampling, FramesUnderTwoPixelsReplicate) {
    const std::uint8_t single = 77;
    std::uint8_t out[4];
    lumet::resampleBilinear8(&single, 1, 1, out, 2, 2);
    for (std::uint8_t v : out) EXPECT_EQ(v, 77);
    const std::uint8_t row[3] = {0, 100, 200};
    std::uint8_t wide[12];
    lumet::resampleBilinear8(row, 3, 1, wide, 6, 2);
    const std::uint8_t expected[6] = {0, 25, 75, 125, 175, 200};
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(wide[x], expected[x]) << x;
        EXPECT_EQ(wide[6 + x], expected[x]) << x;
    }
}

}  // namespace
