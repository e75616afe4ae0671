// Renders the height map and normals of a text-like shape for every bevel style and edge profile,
// checks that each result is a valid surface, and, when LUMET_GEOMETRY_PREVIEW_DIR names a folder,
// writes them there as two contact sheets (styles.png, profiles.png: one row per variant, height
// on the left, normals as RGB = (n + 1) / 2 on the right) for a person to look at.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "geometry/geometry_sequence.h"
#include "geometry/height_map.h"
#include "params/render_settings.h"
#include "text_like_alpha.h"

namespace {

using namespace lumet;

constexpr int kW = 320, kH = 110;

struct Surface {
    std::vector<float> heights, normals;
};

Surface render(int style, int profile) {
    const std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(kW, kH, 90, "LUMO");
    RenderSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.bevelStyle = style;
    settings.edgeProfile = profile;
    settings.bevelDepth = 1.0f;
    settings.bevelSoftness = 0.1f;
    Surface s{std::vector<float>(kW * kH), std::vector<float>(3 * kW * kH)};
    runGeometrySequence(alpha.data(), nullptr, s.heights.data(), s.normals.data(), kW, kH, 1,
                        settings, nullptr, 0, 0, 0, false);
    return s;
}

// Appends one sheet row: height as grey, then normals as colour, with a 4-pixel gap.
void appendRow(std::vector<std::uint8_t>& sheet, const Surface& s) {
    const int sheetW = 2 * kW + 4;
    for (int y = 0; y < kH + 4; ++y) {
        for (int x = 0; x < sheetW; ++x) {
            std::uint8_t rgb[3] = {40, 40, 60};
            if (y < kH && x < kW) {
                const auto v =
                    static_cast<std::uint8_t>(std::lround(255.0f * s.heights[y * kW + x]));
                rgb[0] = rgb[1] = rgb[2] = v;
            } else if (y < kH && x >= kW + 4) {
                const float* n = &s.normals[3 * (y * kW + x - kW - 4)];
                for (int c = 0; c < 3; ++c)
                    rgb[c] = static_cast<std::uint8_t>(std::lround(127.5f * (n[c] + 1.0f)));
            }
            sheet.insert(sheet.end(), rgb, rgb + 3);
        }
    }
}

void checkSurface(const Surface& s, const char* what, int variant) {
    for (int i = 0; i < kW * kH; ++i) {
        ASSERT_GE(s.heights[i], -1e-6f) << what << variant;  // running sums leave ~1e-9 residues
        ASSERT_LE(s.heights[i], 1.0f + 1e-6f) << what << variant;
        const float* n = &s.normals[3 * i];
        ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-4f) << what << variant;
        ASSERT_GT(n[2], 0.0f) << what << variant;
    }
}

TEST(GeometryPreview, EveryStyleAndProfileGivesAValidSurface) {
    const char* folder = std::getenv("LUMET_GEOMETRY_PREVIEW_DIR");
    std::vector<std::uint8_t> styles, profiles;
    std::vector<float> meanHeights;
    for (int style = kInnerBevel; style <= kPillow; ++style) {
        const Surface s = render(style, kProfileSmooth);
        checkSurface(s, "style ", style);
        double mean = 0.0;
        for (float v : s.heights) mean += v;
        meanHeights.push_back(static_cast<float>(mean / s.heights.size()));
        appendRow(styles, s);
    }
    // The styles that rise outside the shape stand higher on average than the inner bevel.
    EXPECT_GT(meanHeights[kOuterBevel - 1], meanHeights[kInnerBevel - 1]);
    EXPECT_GT(meanHeights[kPillow - 1], meanHeights[kInnerBevel - 1]);
    for (int profile = kProfileSmooth; profile <= kProfileMesa; ++profile) {
        const Surface s = render(kInnerBevel, profile);
        checkSurface(s, "profile ", profile);
        appendRow(profiles, s);
    }
    if (folder) {
        const std::string dir(folder);
        const int sheetW = 2 * kW + 4, rows = 5 * (kH + 4);
        EXPECT_TRUE(stbi_write_png((dir + "/styles.png").c_str(), sheetW, rows, 3, styles.data(),
                                   3 * sheetW));
        EXPECT_TRUE(stbi_write_png((dir + "/profiles.png").c_str(), sheetW, rows, 3,
                                   profiles.data(), 3 * sheetW));
    }
}

}  // namespace
