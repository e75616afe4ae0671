// The loaders: source choice and resampling of the built-in maps, every Gallery fallback, the
// Diamond map, the highlight boost, and the fit and depths of a custom layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include "env_map_test_support.h"
#include "envmap/env_map_sharp.h"
#include "geometry/test_worlds.h"
#include "parallel/blur.h"
#include "platform/plane.h"
#include "platform/platform.h"

namespace lumet {
namespace {

using testing::MapPlanes;

constexpr std::int32_t kW = 96, kH = 48;  // small maps keep the tests quick

// Float planes of a raw built-in map, converted here independently of the loader.
std::vector<float> rawChannel(std::int32_t map, int channel) {
    const unsigned char* rgb = rawBuiltInMap(map);
    std::vector<float> plane(static_cast<std::size_t>(kRawMapW) * kRawMapH);
    for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = rgb[3 * i + channel] / 255.0f;
    return plane;
}

TEST(BuiltInLoader, ResamplesTheChosenRawMapBicubically) {
    MapPlanes map(kW, kH);
    lumet::platform::setHardwareThreadOverride(16);  // every band must resample the same way
    map.loadBuiltIn(0, 5);                           // Rim Light
    lumet::platform::setHardwareThreadOverride(-1);
    const std::vector<float> r = rawChannel(5, 0), g = rawChannel(5, 1), b = rawChannel(5, 2);
    for (std::int32_t y = 0; y < kH; ++y) {
        for (std::int32_t x = 0; x < kW; ++x) {
            const Rgb want =
                sampleBicubicWrapX(r.data(), g.data(), b.data(), kRawMapW, kRawMapH,
                                   static_cast<float>(x) / kW, static_cast<float>(y) / kH);
            ASSERT_EQ(map.planes[0][y * kW + x], want.r) << x << "," << y;
            ASSERT_EQ(map.planes[1][y * kW + x], want.g);
            ASSERT_EQ(map.planes[2][y * kW + x], want.b);
        }
    }
    // Blur 0: the smooth planes are the sharp planes.
    EXPECT_EQ(map.planes[3], map.planes[0]);
    EXPECT_EQ(map.planes[5], map.planes[2]);
}

TEST(BuiltInLoader, GalleryServesEveryValueThatNamesNoOtherMap) {
    for (std::int32_t radius : {0, 7}) {
        MapPlanes gallery(kW, kH);
        gallery.loadBuiltIn(radius, 1);
        for (std::int32_t hdriMap : {0, 10, 11, -3, 1000}) {
            MapPlanes other(kW, kH);
            other.loadBuiltIn(radius, hdriMap);
            EXPECT_TRUE(other.sharpEquals(gallery)) << hdriMap;
            EXPECT_TRUE(other.smoothEquals(gallery)) << hdriMap;
        }
        MapPlanes studio(kW, kH);
        studio.loadBuiltIn(radius, 2);
        EXPECT_FALSE(studio.sharpEquals(gallery));
    }
}

TEST(BuiltInLoader, DiamondSharpFromJpegSmoothFromItsOwnColours) {
    std::int32_t w = 0, h = 0;
    DecodedImage decoded = decodeJpegRgb(builtInDiamondJpeg(), &w, &h);
    ASSERT_TRUE(decoded);
    std::vector<float> r(w * h), g(w * h), b(w * h);
    for (std::size_t i = 0; i < r.size(); ++i) {
        r[i] = decoded[3 * i] / 255.0f;
        g[i] = decoded[3 * i + 1] / 255.0f;
        b[i] = decoded[3 * i + 2] / 255.0f;
    }
    for (std::int32_t radius : {0, 30}) {
        MapPlanes diamond(kW, kH);
        lumet::platform::setHardwareThreadOverride(radius == 0 ? 1 : 16);
        diamond.loadBuiltIn(radius, 9);
        lumet::platform::setHardwareThreadOverride(-1);
        MapPlanes derived = diamond;
        deriveSmoothPlanes(derived.p(0), derived.p(1), derived.p(2), derived.p(3), derived.p(4),
                           derived.p(5), kW, kH, radius);
        EXPECT_TRUE(diamond.smoothEquals(derived)) << radius;
        // Sharp planes: the decoded JPEG, as floats, sampled bicubically (checked on one row).
        EXPECT_EQ(diamond.planes[0][0], decoded[0] / 255.0f);  // (0, 0) lies on the source grid
        for (std::int32_t x = 0; x < kW; ++x) {
            const Rgb want = sampleBicubicWrapX(r.data(), g.data(), b.data(), w, h,
                                                static_cast<float>(x) / kW, 20.0f / kH);
            ASSERT_EQ(diamond.planes[1][20 * kW + x], want.g) << x;
        }
    }
}

TEST(BuiltInLoader, BrokenOrWrongSizedJpegFallsBackToGallery) {
    MapPlanes gallery(kW, kH);
    gallery.loadBuiltIn(0, 1);

    std::vector<unsigned char> small;  // a valid JPEG of the wrong size
    std::vector<unsigned char> pixels(16 * 8 * 3, 200);
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<unsigned char>*>(context);
            out->insert(out->end(), static_cast<unsigned char*>(data),
                        static_cast<unsigned char*>(data) + size);
        },
        &small, 16, 8, 3, pixels.data(), 90);
    std::int32_t w = 0, h = 0;
    ASSERT_TRUE(decodeJpegRgb({small.data(), small.size()}, &w, &h));
    ASSERT_EQ(w, 16);

    const std::vector<unsigned char> broken = {0xFF, 0xD8, 0x00, 0x11, 0x22, 0x33};
    const ByteSpan streams[] = {
        {broken.data(), broken.size()}, {small.data(), small.size()}, {nullptr, 0}};
    for (const ByteSpan& stream : streams) {
        MapPlanes map(kW, kH);
        loadBuiltInEnvMapWithJpeg(map.p(0), map.p(1), map.p(2), map.p(3), map.p(4), map.p(5), kW,
                                  kH, 0, 9, stream);
        EXPECT_TRUE(map.sharpEquals(gallery));
        EXPECT_TRUE(map.smoothEquals(gallery));
    }
}

TEST(BuiltInLoader, WithoutSourcePlanesCopiesTheBytesInMemoryOrder) {
    MapPlanes map(kW, kH);
    setPlaneAllocationLimit(kRawMapW * kRawMapH * sizeof(float));  // source planes fail
    map.loadBuiltIn(0, 4);
    setPlaneAllocationLimit(0);
    const unsigned char* beauty = rawBuiltInMap(4);
    for (std::size_t i = 0; i < map.planes[0].size(); ++i) {
        ASSERT_EQ(map.planes[0][i], beauty[3 * i] / 255.0f);
        ASSERT_EQ(map.planes[2][i], beauty[3 * i + 2] / 255.0f);
    }
    EXPECT_EQ(map.planes[4], map.planes[1]);

    // A map larger than the source: the pixels past its end are black, not stale memory.
    MapPlanes large(kRawMapW, kRawMapH + 4);
    setPlaneAllocationLimit(kRawMapW * kRawMapH * sizeof(float));
    large.loadBuiltIn(0, 4);
    setPlaneAllocationLimit(0);
    for (std::size_t i = kRawMapBytes / 3; i < large.planes[0].size(); ++i)
        ASSERT_EQ(large.planes[0][i], 0.0f);
}

// Smooth planes of a constant map: the Gaussian keeps a constant, so the boost shows directly.
Rgb smoothOfConstant(float r, float g, float b, std::int32_t radius) {
    MapPlanes map(24, 12);
    std::fill(map.planes[0].begin(), map.planes[0].end(), r);
    std::fill(map.planes[1].begin(), map.planes[1].end(), g);
    std::fill(map.planes[2].begin(), map.planes[2].end(), b);
    deriveSmoothPlanes(map.p(0), map.p(1), map.p(2), map.p(3), map.p(4), map.p(5), 24, 12, radius);
    return {map.planes[3][100], map.planes[4][100], map.planes[5][100]};
}

TEST(SmoothPlanes, HighlightBoostFollowsLumaAndRadius) {
    EXPECT_NEAR(smoothOfConstant(1.0f, 1.0f, 1.0f, 100).g, 4.974f, 1e-3f);
    EXPECT_NEAR(smoothOfConstant(1.2f, 1.2f, 1.2f, 100).r, 1.2f * 5.0f, 1e-4f);
    EXPECT_NEAR(smoothOfConstant(1.2f, 1.2f, 1.2f, 400).r, 1.2f * 5.0f, 1e-4f);  // gain capped
    EXPECT_NEAR(smoothOfConstant(1.0f, 1.0f, 1.0f, 50).b, 1.0f + 0.15f * 6.6225176f * 2.0f, 1e-4f);
    EXPECT_NEAR(smoothOfConstant(0.85f, 0.85f, 0.85f, 100).r, 0.85f, 1e-5f);  // exactly 0.85: none
    EXPECT_NEAR(smoothOfConstant(0.5f, 0.5f, 0.5f, 100).r, 0.5f, 1e-5f);
    // A coloured pixel: all three channels scale by the one factor of its luma 0.8843,
    // 1 + 0.0343 x 6.6225176 x 4.
    const float factor = 1.9086094f;
    const Rgb coloured = smoothOfConstant(1.0f, 0.9f, 0.5f, 100);
    EXPECT_NEAR(coloured.r, 1.0f * factor, 1e-4f);
    EXPECT_NEAR(coloured.g, 0.9f * factor, 1e-4f);
    EXPECT_NEAR(coloured.b, 0.5f * factor, 1e-4f);
    // Radius 0: a plain copy, no boost.
    EXPECT_FLOAT_EQ(smoothOfConstant(1.2f, 1.2f, 1.2f, 0).r, 1.2f);
}

TEST(SmoothPlanes, AreTheBoostedSharpPlanesThroughTheWrappingGaussian) {
    // Grey pixels of 1.1 (luma past the ramp: boosted 1 + 4 x 9/100 at radius 9) among darker
    // colours (luma below 0.7: not boosted).
    MapPlanes map(40, 20), expected(40, 20);
    for (std::size_t i = 0; i < map.planes[0].size(); ++i) {
        const bool bright = (i * 37) % 23 == 0;
        for (int c = 0; c < 3; ++c) {
            map.planes[c][i] = bright ? 1.1f : static_cast<float>((i + c) % 7) / 7.3f;
            expected.planes[3 + c][i] = map.planes[c][i] * (bright ? 1.0f + 0.09f * 4.0f : 1.0f);
        }
    }
    for (int c = 0; c < 3; ++c) gaussianBlurWrapX(expected.p(3 + c), 40, 20, 9);
    lumet::platform::setHardwareThreadOverride(16);
    deriveSmoothPlanes(map.p(0), map.p(1), map.p(2), map.p(3), map.p(4), map.p(5), 40, 20, 9);
    lumet::platform::setHardwareThreadOverride(-1);
    EXPECT_TRUE(map.smoothEquals(expected));
}

// A layer of w x h at the given depth (0: 8-bit, 1: 16-bit, 2: float), rows padded, alpha 0,
// colour from (x, y).
testing::TestWorld layerOf(int w, int h, int depth, auto colour) {
    testing::TestWorld layer(w, h, depth);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto [r, g, b] = colour(x, y);
            layer.set(x, y, 0.0f, r, g, b);
        }
    return layer;
}

// The layer's colours are linear in x (red) and y (green), so the bilinear fit must reproduce
// red = k * clamp((x - offX) / scale, 0, srcW - 1) and likewise green, everywhere.
void expectFit(std::int32_t srcW, std::int32_t srcH, float scale, float offX, float offY) {
    const testing::TestWorld layer = layerOf(srcW, srcH, 0, [](int x, int y) {
        return std::tuple{4 * x / 255.0f, 4 * y / 255.0f, 100 / 255.0f};
    });
    MapPlanes map(64, 32);
    map.loadLayer(layer.world, 0, 0);
    for (std::int32_t y = 0; y < 32; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            const float sx = std::clamp((x - offX) / scale, 0.0f, srcW - 1.0f);
            const float sy = std::clamp((y - offY) / scale, 0.0f, srcH - 1.0f);
            ASSERT_NEAR(map.planes[0][y * 64 + x], 4.0f * sx / 255.0f, 1e-4f) << x << "," << y;
            ASSERT_NEAR(map.planes[1][y * 64 + x], 4.0f * sy / 255.0f, 1e-4f) << x << "," << y;
            ASSERT_NEAR(map.planes[2][y * 64 + x], 100.0f / 255.0f, 1e-6f);
        }
    }
}

TEST(LayerLoader, FitsTheMapKeepingTheAspectAndRepeatsTheEdgesIntoTheBands) {
    // 60 x 17 is wider than 2:1: scale 64/60, fitted height 18.13, band from row 6.93; above and
    // below it the first and last rows repeat.
    const float scale = 64.0f / 60.0f;
    expectFit(60, 17, scale, 0.0f, (32.0f - scale * 17.0f) / 2.0f);
    // 20 x 40 is narrower than 2:1: scale 32/40, fitted width 16, band from column 24.
    expectFit(20, 40, 0.8f, 24.0f, 0.0f);
    // Exactly 2:1 fits without bands.
    expectFit(32, 16, 2.0f, 0.0f, 0.0f);
}

TEST(LayerLoader, ReadsThreeDepthsIgnoringAlpha) {
    struct Case {
        int depth;
        float r, g, b;  // float layers keep values beyond 0..1
    };
    for (const Case& c :
         {Case{0, 1.0f, 0.2f, 0.0f}, Case{1, 1.0f, 0.5f, 0.0f}, Case{2, 4.0f, 0.25f, -0.5f}}) {
        const testing::TestWorld layer = layerOf(2, 1, c.depth, [&](int, int) {
            return std::tuple{c.r, c.g, c.b};
        });
        MapPlanes map(8, 4);
        map.loadLayer(layer.world, 0, c.depth);
        for (std::size_t i = 0; i < map.planes[0].size(); ++i) {
            ASSERT_FLOAT_EQ(map.planes[0][i], c.r) << c.depth;
            ASSERT_FLOAT_EQ(map.planes[1][i], c.g) << c.depth;
            ASSERT_FLOAT_EQ(map.planes[2][i], c.b) << c.depth;
            ASSERT_FLOAT_EQ(map.planes[3][i], c.r) << c.depth;  // radius 0: copy
        }
    }
}

TEST(LayerLoader, LayerWithoutUsablePixelsYieldsGallery) {
    MapPlanes gallery(kW, kH);
    gallery.loadBuiltIn(3, 1);
    const testing::TestWorld layer = layerOf(4, 4, 0, [](int, int) {
        return std::tuple{0.5f, 0.5f, 0.5f};
    });
    PF_EffectWorld noPixels = layer.world;
    noPixels.data = nullptr;
    PF_EffectWorld shortRows = layer.world;
    shortRows.rowbytes = 8;  // cannot hold 4 pixels of 4 bytes
    PF_EffectWorld empty = layer.world;
    empty.width = 0;
    for (const PF_EffectWorld* world : {&noPixels, &shortRows, &empty}) {
        MapPlanes map(kW, kH);
        map.loadLayer(*world, 3, 0);
        EXPECT_TRUE(map.sharpEquals(gallery));
        EXPECT_TRUE(map.smoothEquals(gallery));
    }
}

}  // namespace
}  // namespace lumet
