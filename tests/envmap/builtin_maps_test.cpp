// The embedded built-in maps: present in full, the Diamond stream a baseline JFIF JPEG of
// 2048 x 1024 x 3, every map seamless across column 0, and the characters the table promises
// where they can be measured (Strips brightest, Showroom the only tinted raw map).
#include "envmap/builtin_maps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace lumet {
namespace {

struct Image {
    const unsigned char* rgb;
    std::int32_t w, h;
};

// Mean absolute difference between columns a and b over all rows and channels.
double columnDifference(const Image& image, std::int32_t a, std::int32_t b) {
    double sum = 0.0;
    for (std::int32_t y = 0; y < image.h; ++y)
        for (int c = 0; c < 3; ++c)
            sum += std::abs(image.rgb[(static_cast<std::size_t>(y) * image.w + a) * 3 + c] -
                            image.rgb[(static_cast<std::size_t>(y) * image.w + b) * 3 + c]);
    return sum / (3.0 * image.h);
}

// Across the wrap the map changes no more than between typical neighbouring columns.
void expectSeamless(const Image& image, const char* name) {
    double typical = 0.0;
    for (std::int32_t x = 0; x + 1 < image.w; ++x) typical += columnDifference(image, x, x + 1);
    typical /= image.w - 1;
    EXPECT_LE(columnDifference(image, image.w - 1, 0), 2.0 * typical + 0.5) << name;
}

TEST(BuiltInMaps, EmbeddedBlockHoldsEightRawMapsInTableOrder) {
    EXPECT_EQ(builtInRawMaps().size, 8 * kRawMapBytes);
    for (std::int32_t map = 1; map <= 8; ++map) {
        ASSERT_NE(rawBuiltInMap(map), nullptr);
        EXPECT_EQ(rawBuiltInMap(map), builtInRawMaps().data + (map - 1) * kRawMapBytes);
    }
    for (std::int32_t map : {0, 9, 10, -1}) EXPECT_EQ(rawBuiltInMap(map), nullptr);
    for (std::int32_t a = 1; a <= 8; ++a)
        for (std::int32_t b = a + 1; b <= 8; ++b)
            EXPECT_NE(std::memcmp(rawBuiltInMap(a), rawBuiltInMap(b), kRawMapBytes), 0);
}

TEST(BuiltInMaps, DiamondIsBaselineJfifDecodingToExactSize) {
    const ByteSpan jpeg = builtInDiamondJpeg();
    ASSERT_GT(jpeg.size, 1000u);
    EXPECT_EQ(jpeg.data[0], 0xFF);
    EXPECT_EQ(jpeg.data[1], 0xD8);  // start of image
    EXPECT_EQ(jpeg.data[2], 0xFF);
    EXPECT_EQ(jpeg.data[3], 0xE0);  // APP0
    EXPECT_EQ(std::memcmp(jpeg.data + 6, "JFIF", 5), 0);
    bool baseline = false, progressive = false;
    for (std::size_t i = 2; i + 1 < jpeg.size;) {  // walk the marker segments up to the scan
        ASSERT_EQ(jpeg.data[i], 0xFF);
        const unsigned char marker = jpeg.data[i + 1];
        if (marker == 0xC0) baseline = true;
        if (marker == 0xC2) progressive = true;
        if (marker == 0xDA) break;
        i += 2 + (static_cast<std::size_t>(jpeg.data[i + 2]) << 8) + jpeg.data[i + 3];
    }
    EXPECT_TRUE(baseline);
    EXPECT_FALSE(progressive);
    std::int32_t w = 0, h = 0;
    DecodedImage pixels = decodeJpegRgb(jpeg, &w, &h);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(w, kDiamondMapW);
    EXPECT_EQ(h, kDiamondMapH);
    expectSeamless({pixels.get(), w, h}, "Diamond");
}

TEST(BuiltInMaps, EveryRawMapWrapsWithoutSeam) {
    const char* names[] = {"Gallery",   "Studio", "Showroom", "Beauty",
                           "Rim Light", "Strips", "Panels",   "Dramatic"};
    for (std::int32_t map = 1; map <= 8; ++map)
        expectSeamless({rawBuiltInMap(map), kRawMapW, kRawMapH}, names[map - 1]);
}

TEST(BuiltInMaps, StripsIsBrightestAndShowroomTheOnlyTintedRawMap) {
    double brightest = -1.0;
    std::int32_t brightestMap = 0;
    for (std::int32_t map = 1; map <= 8; ++map) {
        const unsigned char* rgb = rawBuiltInMap(map);
        double luma = 0.0, tint = 0.0;
        for (std::size_t i = 0; i < kRawMapBytes; i += 3) {
            luma += 0.299 * rgb[i] + 0.587 * rgb[i + 1] + 0.114 * rgb[i + 2];
            tint += std::abs(rgb[i] - rgb[i + 2]);
        }
        luma /= kRawMapBytes / 3;
        tint /= kRawMapBytes / 3;
        if (luma > brightest) {
            brightest = luma;
            brightestMap = map;
        }
        if (map == 3)
            EXPECT_GT(tint, 5.0) << "Showroom is warm";
        else
            EXPECT_LT(tint, 0.5) << "map " << map << " is neutral grey";
    }
    EXPECT_EQ(brightestMap, 6);
}

TEST(BuiltInMaps, DecoderRejectsDamagedStreams) {
    std::int32_t w = -1, h = -1;
    const unsigned char garbage[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    EXPECT_FALSE(decodeJpegRgb({garbage, sizeof garbage}, &w, &h));
    EXPECT_FALSE(decodeJpegRgb({nullptr, 0}, &w, &h));
    // A truncated copy of the real stream.
    const ByteSpan jpeg = builtInDiamondJpeg();
    EXPECT_FALSE(decodeJpegRgb({jpeg.data, 300}, &w, &h));  // cut inside the tables
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
}

}  // namespace
}  // namespace lumet
