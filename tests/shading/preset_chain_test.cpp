// The four shading stages chained on real geometry and the built-in environment maps for the
// Gold, Silver and Diamond presets, as the smart render runs them at high quality. The checks
// catch a broken hand-over between stages; with LUMET_WRITE_IMAGES=<folder> the test also writes
// each preset's reflection and final output (over dark grey) as PNG for a visual check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "envmap/env_map.h"
#include "geometry/geometry_sequence.h"
#include "geometry/text_like_alpha.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"
#include "support/shading_inputs.h"

namespace {

using lumet::RenderSettings;

constexpr int W = 720, H = 200, SS = 2, W2 = W * SS, H2 = H * SS;
constexpr int N = W * H, N2 = W2 * H2;

void setPalette(RenderSettings& s, const float shadow[3], const float mid[3], const float high[3]) {
    for (int i = 0; i < 3; ++i) {
        s.shadowColor[i] = shadow[i];
        s.midColor[i] = mid[i];
        s.highColor[i] = high[i];
    }
}

RenderSettings silverSettings() {
    RenderSettings s = lumet::test::goldSettings();
    s.edgeProfile = 2;
    s.bevelSoftness = 0.15f;
    s.hdriMap = 6;
    s.envBlur = 0.25f;
    s.envScale = 0.35f;
    s.envExposure = 0.8f;
    s.envContrast = 0.55f;
    s.envRotY = 0.075f;
    s.lightAngle = 112.0f;
    s.lightHeight = 65.0f;
    s.glowIntensity = 0.0f;
    s.glowRadius = 0.0f;
    const float shadow[3] = {84, 84, 84}, mid[3] = {149, 149, 149}, high[3] = {210, 210, 210};
    setPalette(s, shadow, mid, high);
    return s;
}

RenderSettings diamondSettings() {
    RenderSettings s = lumet::test::goldSettings();
    s.edgeProfile = 2;
    s.bevelDepth = 1.2f;
    s.hdriMap = 9;
    s.envBlur = 0.25f;
    s.envScale = 0.4f;
    s.envContrast = 0.45f;
    s.envDisplacement = 0.6f;
    s.envRotY = 0.175f;
    s.dispersion = 0.07f;
    s.lightHeight = 50.0f;
    s.roughness = 0.15f;
    s.glowIntensity = 0.0f;
    s.glowRadius = 0.0f;
    const float shadow[3] = {148, 154, 160}, mid[3] = {212, 226, 255}, high[3] = {239, 253, 255};
    setPalette(s, shadow, mid, high);
    return s;
}

struct ChainResult {
    std::vector<float> reflR, reflG, reflB;
    std::vector<std::uint8_t> argb;  // 8 bpc output world, 4 bytes per pixel
};

// Geometry, environment map, reflection, shading with its 2 x 2 reduction, glow and 8 bpc output.
ChainResult renderChain(const std::vector<std::uint8_t>& alpha, const RenderSettings& s) {
    std::vector<std::uint8_t> alphaSS(N2);
    std::vector<float> heights(N2), normals(3 * N2);
    EXPECT_TRUE(lumet::runGeometrySequence(alpha.data(), alphaSS.data(), heights.data(),
                                           normals.data(), W, H, SS, s, nullptr, 0, 0, 0, false));
    std::vector<std::vector<float>> env(
        6, std::vector<float>(std::size_t{lumet::kEnvW} * lumet::kEnvH));
    lumet::loadBuiltInEnvMap(env[0].data(), env[1].data(), env[2].data(), env[3].data(),
                             env[4].data(), env[5].data(), lumet::kEnvW, lumet::kEnvH,
                             lumet::envBlurRadius(s.envBlur), s.hdriMap);

    ChainResult result{std::vector<float>(N2), std::vector<float>(N2), std::vector<float>(N2),
                       std::vector<std::uint8_t>(4 * N)};
    lumet::renderEnvReflection(normals.data(), alphaSS.data(), heights.data(), result.reflR.data(),
                               result.reflG.data(), result.reflB.data(), W2, H2, W2, H2, s,
                               env[0].data(), env[1].data(), env[2].data(), env[3].data(),
                               env[4].data(), env[5].data(), lumet::kEnvW, lumet::kEnvH);

    auto constants = std::make_unique<lumet::ShadeConstants>();
    lumet::makeShadeConstants(*constants, s, heights.data(), normals.data(), result.reflR.data(),
                              result.reflG.data(), result.reflB.data(), W2, H2);
    std::vector<std::vector<float>> shadeSS(3, std::vector<float>(N2, 0.0f));
    std::vector<std::vector<float>> shade(3, std::vector<float>(N));
    lumet::shadeWindow(*constants, alphaSS.data(), heights.data(), shadeSS[0].data(),
                       shadeSS[1].data(), shadeSS[2].data(), W2, 0, W2, 0, H2,
                       lumet::isOuterStyle(s.bevelStyle));
    for (int c = 0; c < 3; ++c)
        lumet::Downsample2x(shadeSS[c].data(), W2, H2, shade[c].data(), W, H);

    std::vector<std::vector<float>> glow(13, std::vector<float>(N));
    const bool hasGlow = s.glowIntensity > 0.05f;
    if (hasGlow) {
        float* work[8];
        for (int i = 0; i < 8; ++i) work[i] = glow[5 + i].data();
        lumet::renderGlow(shade[0].data(), shade[1].data(), shade[2].data(), alpha.data(),
                          glow[0].data(), glow[1].data(), glow[2].data(), glow[3].data(), W, H,
                          s.glowRadius, glow[4].data(), work);
    }
    PF_EffectWorld world{};
    world.data = reinterpret_cast<PF_PixelPtr>(result.argb.data());
    world.width = W;
    world.height = H;
    world.rowbytes = 4 * W;
    lumet::composeOutput(W, H, shade[0].data(), shade[1].data(), shade[2].data(), hasGlow,
                         glow[0].data(), glow[1].data(), glow[2].data(), glow[3].data(), false, s,
                         SS, W2, H2, heights.data(), env[0].data(), env[1].data(), env[2].data(),
                         lumet::kEnvW, lumet::kEnvH, alpha.data(), lumet::kFormat8, world);
    return result;
}

void writeImages(const std::string& folder, const std::string& name, const ChainResult& r) {
    // Final output composited over dark grey, as premultiplied colour.
    std::vector<std::uint8_t> rgb(3 * N);
    for (int i = 0; i < N; ++i) {
        const float a = r.argb[4 * i] / 255.0f;
        for (int c = 0; c < 3; ++c)
            rgb[3 * i + c] = static_cast<std::uint8_t>(
                std::min(255.0f, r.argb[4 * i + 1 + c] + 40.0f * (1.0f - a)));
    }
    stbi_write_png((folder + "/" + name + "_output.png").c_str(), W, H, 3, rgb.data(), 3 * W);
    std::vector<std::uint8_t> refl(3 * N2);
    const std::vector<float>* planes[3] = {&r.reflR, &r.reflG, &r.reflB};
    for (int i = 0; i < N2; ++i)
        for (int c = 0; c < 3; ++c)
            refl[3 * i + c] = static_cast<std::uint8_t>(
                std::min(255.0f, std::max(0.0f, (*planes[c])[i] * 255.0f)));
    stbi_write_png((folder + "/" + name + "_reflection.png").c_str(), W2, H2, 3, refl.data(),
                   3 * W2);
}

TEST(PresetChain, GoldSilverDiamondOnText) {
    const std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(W, H, 150, "LUMET");
    const char* folder = std::getenv("LUMET_WRITE_IMAGES");
    const struct {
        const char* name;
        RenderSettings settings;
    } presets[] = {{"gold", lumet::test::goldSettings()},
                   {"silver", silverSettings()},
                   {"diamond", diamondSettings()}};
    // Pixels more than two pixels away from any coverage: the supersampled surface may reach one
    // pixel beyond the layer's alpha, nothing more.
    std::vector<bool> far(N, true);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int dy = -2; dy <= 2 && far[y * W + x]; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int sx = x + dx, sy = y + dy;
                    if (sx >= 0 && sx < W && sy >= 0 && sy < H && alpha[sy * W + sx] != 0) {
                        far[y * W + x] = false;
                        break;
                    }
                }
    for (const auto& preset : presets) {
        const ChainResult r = renderChain(alpha, preset.settings);
        if (folder) writeImages(folder, preset.name, r);
        int covered = 0, lit = 0, strayOutside = 0;
        for (int i = 0; i < N; ++i) {
            const std::uint8_t* p = &r.argb[4 * i];
            if (alpha[i] == 255) {
                ++covered;
                lit += p[0] == 255 && (p[1] > 8 || p[2] > 8 || p[3] > 8);
            } else if (far[i] && preset.settings.glowIntensity <= 0.05f) {
                strayOutside += p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 0;
            }
        }
        // Every opaque pixel of the text is opaque and lit in the output; without a glow nothing
        // appears away from the layer.
        ASSERT_GT(covered, N / 20) << preset.name;
        EXPECT_GT(lit, covered * 99 / 100) << preset.name;
        EXPECT_EQ(strayOutside, 0) << preset.name;
    }
}

}  // namespace
