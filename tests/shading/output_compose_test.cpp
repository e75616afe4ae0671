// Output composition into 8, 16 and 32 bpc worlds with padded rows: alpha rules, the position-hash
// dither, the clamps of each format and the Show Env Map views.
#include "support/world_view.h"
#include "shading/output_compose.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "envmap/env_map.h"
#include "geometry/test_worlds.h"
#include "support/shading_inputs.h"

namespace {

using lumet::RenderSettings;

constexpr std::uint8_t kFill = 0xAB;

// Worlds of 8, 16 or 32 bpc with padded rows, every byte kFill before the composition.
using lumet::testing::TestWorld;

// The frame's planes; everything transparent and black unless a test sets it.
struct Scene {
    int W, H;
    std::vector<float> r, g, b, glowR, glowG, glowB, glowA;
    std::vector<std::uint8_t> alpha;
    RenderSettings settings{};
    bool hasGlow = false;
    Scene(int width, int height)
        : W(width),
          H(height),
          r(width * height),
          g(r),
          b(r),
          glowR(r),
          glowG(r),
          glowB(r),
          glowA(r),
          alpha(width * height) {
        settings.opacity = 1.0f;
    }
    void setColor(int x, int y, float red, float green, float blue, std::uint8_t a8) {
        const int i = y * W + x;
        r[i] = red;
        g[i] = green;
        b[i] = blue;
        alpha[i] = a8;
    }
    TestWorld compose(std::int32_t format, bool showEnvMap = false, const float* height = nullptr,
                      int SS = 1, const lumet::test::TestEnv* env = nullptr) {
        TestWorld out(W, H, format, 12, kFill);
        lumet::RenderSettings frame = settings;
        frame.showEnvMap = showEnvMap;
        const lumet::RgbaPlanes<const float> glow =
            hasGlow ? lumet::RgbaPlanes<const float>(glowR.data(), glowG.data(), glowB.data(),
                                                     glowA.data(), W, H)
                    : lumet::RgbaPlanes<const float>();
        const auto map = env ? std::make_unique<lumet::test::EnvMapOver>(*env) : nullptr;
        lumet::composeOutput(lumet::FrameWindow::whole(W, H), lumet::FrameWindow::whole(W, H),
                             {r.data(), g.data(), b.data(), W, H}, glow, {alpha.data(), W, H},
                             {height, W * SS, H * SS}, map ? map->map() : lumet::EnvMap{}, frame,
                             SS, viewOfWorld(out.world, format));
        return out;
    }
};

TEST(ComposeOutput, DitherBytesFromThePositionHash) {
    auto bytes = [](std::int32_t x, std::int32_t y) {
        const lumet::DitherBytes d = lumet::ditherBytes(x, y);
        return std::vector<std::uint32_t>{d.r, d.g, d.b};
    };
    EXPECT_EQ(bytes(0, 0), (std::vector<std::uint32_t>{0, 93, 159}));  // blue: (2^32 - 97) & 255
    EXPECT_EQ(bytes(1, 0), (std::vector<std::uint32_t>{93, 186, 194}));
    EXPECT_EQ(bytes(0, 1), (std::vector<std::uint32_t>{159, 194, 62}));
    EXPECT_EQ(bytes(5, 7), (std::vector<std::uint32_t>{136, 119, 41}));
}

TEST(ComposeOutput, TransparentPixelIsAllZerosInEveryFormatAndPaddingIsKept) {
    Scene scene(3, 2);
    scene.alpha[1] = 1;  // alpha byte 1 without colour still counts as empty
    for (std::int32_t format : {lumet::kFormat8, lumet::kFormat16, lumet::kFormat32}) {
        const TestWorld out = scene.compose(format);
        for (int y = 0; y < 2; ++y) {
            const std::uint8_t* row = out.bytes.data() + y * out.world.rowbytes;
            for (int i = 0; i < 3 * out.pixelBytes; ++i) ASSERT_EQ(row[i], 0) << format;
            for (int i = 3 * out.pixelBytes; i < out.world.rowbytes; ++i)
                ASSERT_EQ(row[i], kFill) << format;
        }
    }
}

TEST(ComposeOutput, OverWhiteColourInEachFormat) {
    // Pixel (1, 0) has dither bytes 93, 186, 194: green and blue dither upwards, so over-white
    // green reaches full scale in every format; red (byte 93) shows the 16-bit dither below white.
    Scene scene(2, 1);
    scene.setColor(1, 0, 1.2f, 1.2f, 1.2f, 255);
    const TestWorld out8 = scene.compose(lumet::kFormat8);
    const PF_Pixel8 p8 = out8.at<PF_Pixel8>(1, 0);
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 255);
    EXPECT_EQ(p8.green, 255);
    const TestWorld out16 = scene.compose(lumet::kFormat16);
    const PF_Pixel16 p16 = out16.at<PF_Pixel16>(1, 0);
    EXPECT_EQ(p16.alpha, 32768);
    EXPECT_EQ(p16.green, 32768);
    EXPECT_EQ(p16.blue, 32768);
    EXPECT_EQ(p16.red, static_cast<int>((1.0f + 0.00234375f * (93.0f - 128.0f) / 256.0f) * 32768));
    const TestWorld out32 = scene.compose(lumet::kFormat32);
    const PF_PixelFloat p32 = out32.at<PF_PixelFloat>(1, 0);
    EXPECT_EQ(p32.alpha, 1.0f);
    EXPECT_EQ(p32.red, 1.2f);
    EXPECT_EQ(p32.blue, 1.2f);
}

TEST(ComposeOutput, DitherMovesValuesByAtMostAThirdOfAStep) {
    // At (0, 0) red dithers by -0.3 of an 8-bit step, green by -0.08, blue by +0.07.
    Scene scene(1, 1);
    scene.setColor(0, 0, 100.1f / 255.0f, 100.1f / 255.0f, 100.95f / 255.0f, 255);
    const PF_Pixel8 p8 = scene.compose(lumet::kFormat8).at<PF_Pixel8>(0, 0);
    EXPECT_EQ(p8.red, 99);
    EXPECT_EQ(p8.green, 100);
    EXPECT_EQ(p8.blue, 101);
    scene.setColor(0, 0, 0.5f, 0.0f, 0.0f, 255);
    const PF_Pixel16 p16 = scene.compose(lumet::kFormat16).at<PF_Pixel16>(0, 0);
    EXPECT_EQ(p16.red, 16345);  // (0.5 - 0.3 / 256) x 32768, truncated
    EXPECT_EQ(p16.green, 0);    // below 0 after the dither: clamped
    EXPECT_EQ(p16.blue, 9);     // 0 + 31 / 256 x 0.00234375 x 32768 = 9.3
    // Negative colour is held at 0 in 8 bpc.
    scene.setColor(0, 0, -0.5f, 0.002f, 0.0f, 255);
    EXPECT_EQ(scene.compose(lumet::kFormat8).at<PF_Pixel8>(0, 0).red, 0);
}

TEST(ComposeOutput, AlphaRules) {
    Scene scene(4, 1);
    // An outer-bevel pixel outside the layer: alpha byte 0, colour (0.2, 0.5, 0.1): alpha 0.5.
    scene.setColor(0, 0, 0.2f, 0.5f, 0.1f, 0);
    // Inside the layer the layer's coverage counts, whatever the brightness.
    scene.setColor(1, 0, 0.2f, 0.5f, 0.1f, 200);
    // Glow only: glowA above 1 raises alpha only to 1; Glow Intensity 0 adds no colour.
    scene.glowA[2] = 1.7f;
    scene.glowR[2] = 0.8f;
    scene.hasGlow = true;
    scene.settings.glowIntensity = 0.0f;
    const TestWorld out = scene.compose(lumet::kFormat32);
    EXPECT_FLOAT_EQ(out.at<PF_PixelFloat>(0, 0).alpha, 0.5f);
    EXPECT_FLOAT_EQ(out.at<PF_PixelFloat>(1, 0).alpha, 200.0f / 255.0f);
    EXPECT_EQ(out.at<PF_PixelFloat>(2, 0).alpha, 1.0f);
    EXPECT_EQ(out.at<PF_PixelFloat>(2, 0).red, 0.0f);
    EXPECT_EQ(out.at<PF_PixelFloat>(3, 0).alpha, 0.0f);

    // Glow Intensity 2 adds twice the glow colour; without hasGlow nothing is added.
    scene.settings.glowIntensity = 2.0f;
    EXPECT_FLOAT_EQ(scene.compose(lumet::kFormat32).at<PF_PixelFloat>(2, 0).red, 1.6f);
    scene.hasGlow = false;
    EXPECT_EQ(scene.compose(lumet::kFormat32).at<PF_PixelFloat>(2, 0).alpha, 0.0f);

    // Transparency 100 (opacity 0): alpha = a8 / 255 x luminance.
    Scene glass(1, 1);
    glass.setColor(0, 0, 0.2f, 0.5f, 0.1f, 204);
    glass.settings.opacity = 0.0f;
    const float lum = 0.2126f * 0.2f + 0.7152f * 0.5f + 0.0722f * 0.1f;
    EXPECT_NEAR(glass.compose(lumet::kFormat32).at<PF_PixelFloat>(0, 0).alpha,
                204.0f / 255.0f * lum, 1e-6f);
    glass.settings.opacity = 0.5f;
    EXPECT_NEAR(glass.compose(lumet::kFormat32).at<PF_PixelFloat>(0, 0).alpha,
                204.0f / 255.0f * (1.0f + (lum - 1.0f) * 0.5f), 1e-6f);
    EXPECT_EQ(glass.compose(lumet::kFormat8).at<PF_Pixel8>(0, 0).alpha,
              static_cast<int>(204.0f / 255.0f * (1.0f + (lum - 1.0f) * 0.5f) * 255.0f));
}

TEST(ComposeOutput, ShowEnvMapViews) {
    constexpr int W = 4, H = 3, SS = 2;
    Scene scene(W, H);
    scene.setColor(1, 1, 0.3f, 0.3f, 0.3f, 255);
    std::vector<float> height(SS * W * SS * H);
    for (std::size_t i = 0; i < height.size(); ++i) height[i] = 0.01f * static_cast<float>(i);

    // Smart Edge on: the height field at (2x, 2y), unclamped, everywhere.
    scene.settings.smartEdge = true;
    const TestWorld heights = scene.compose(lumet::kFormat32, true, height.data(), SS);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const PF_PixelFloat p = heights.at<PF_PixelFloat>(x, y);
            const float h = height[(SS * y) * (SS * W) + SS * x];
            EXPECT_EQ(p.green, h);
            // Outside the layer the grey is as opaque as it is bright; inside it is opaque.
            EXPECT_FLOAT_EQ(p.alpha, x == 1 && y == 1 ? 1.0f : std::min(1.0f, h));
        }

    // Smart Edge off: the sharp map stretched over the frame, clamped to 0..1.
    lumet::test::TestEnv env(16, 8);
    for (std::size_t i = 0; i < env.sharpR.size(); ++i) {
        env.sharpR[i] = 0.1f * static_cast<float>(i % 16);  // up to 1.5
        env.sharpG[i] = 0.5f;
        env.sharpB[i] = -0.2f;
    }
    scene.settings.smartEdge = false;
    const TestWorld map = scene.compose(lumet::kFormat32, true, height.data(), SS, &env);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const lumet::Rgb expected = lumet::sampleBilinearWrapX(
                env.sharpR.data(), env.sharpG.data(), env.sharpB.data(), 16, 8,
                static_cast<float>(x) / W, static_cast<float>(y) / H);
            const PF_PixelFloat p = map.at<PF_PixelFloat>(x, y);
            EXPECT_EQ(p.red, std::min(1.0f, std::max(0.0f, expected.r)));
            EXPECT_EQ(p.green, 0.5f);
            EXPECT_EQ(p.blue, 0.0f);
        }

    // No map planes: the shaded colour stays.
    const TestWorld kept = scene.compose(lumet::kFormat32, true, height.data(), SS);
    EXPECT_EQ(kept.at<PF_PixelFloat>(1, 1).red, 0.3f);
    EXPECT_EQ(kept.at<PF_PixelFloat>(0, 0).alpha, 0.0f);
}

TEST(ComposeOutput, WritesOnlyWhatTheWorldHolds) {
    Scene scene(5, 4);
    for (int i = 0; i < 20; ++i) scene.setColor(i % 5, i / 5, 0.5f, 0.5f, 0.5f, 255);
    TestWorld small(3, 2, lumet::kFormat8, 0, kFill);
    lumet::composeOutput(lumet::FrameWindow::whole(5, 4), lumet::FrameWindow::whole(5, 4),
                         {scene.r.data(), scene.g.data(), scene.b.data(), 5, 4}, {},
                         {scene.alpha.data(), 5, 4}, {}, lumet::EnvMap{}, scene.settings, 1,
                         viewOfWorld(small.world, lumet::kFormat8));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(small.at<PF_Pixel8>(x, y).alpha, 255);
}

}  // namespace
