// Surface shading: interior pixels worked by hand; the shading's symmetry, bounds and monotonicity
// over partial metal, glass and specular light; and a "probe" material (white palette, full metal,
// no tint, no specular) whose colour is exactly 1.5 x environment x cavity, which isolates the
// highlight's power curve, the cavity and the coverage rules.
#include "shading/surface_shading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "shading/downsample.h"
#include "support/shading_inputs.h"

namespace {

using lumet::RenderSettings;
using lumet::ShadeConstants;

constexpr std::int32_t kW = 8, kH = 8;

struct ShadeFrame {
    std::vector<float> height = std::vector<float>(kW * kH, 0.5f);
    std::vector<float> normals = std::vector<float>(3 * kW * kH);
    std::vector<float> envR = std::vector<float>(kW * kH), envG = envR, envB = envR;
    std::vector<std::uint8_t> alpha = std::vector<std::uint8_t>(kW * kH, 255);
    std::unique_ptr<ShadeConstants> constants = std::make_unique<ShadeConstants>();

    ShadeFrame() {
        for (std::size_t i = 0; i < normals.size(); i += 3) normals[i + 2] = 1.0f;
    }
    void setEnv(float r, float g, float b) {
        std::fill(envR.begin(), envR.end(), r);
        std::fill(envG.begin(), envG.end(), g);
        std::fill(envB.begin(), envB.end(), b);
    }
    void setNormal(std::size_t i, float nx, float ny, float nz) {
        normals[3 * i] = nx;
        normals[3 * i + 1] = ny;
        normals[3 * i + 2] = nz;
    }
    lumet::SurfaceView surface() const {
        return {alpha.data(), height.data(), normals.data(), kW, kH};
    }
    const ShadeConstants& build(const RenderSettings& s) {
        lumet::makeShadeConstants(*constants, s, surface(),
                                  {envR.data(), envG.data(), envB.data(), kW, kH}, 1.0f);
        return *constants;
    }
};

RenderSettings probeSettings() {
    RenderSettings s{};
    s.envExposure = 1.0f;
    s.envContrast = 0.5f;
    s.metal = 1.0f;
    s.opacity = 1.0f;
    s.lightHeight = 60.0f;
    s.specular = 0.0f;
    s.roughness = 0.5f;
    s.saturation = 1.0f;
    s.tintBlend = 0.0f;
    for (int i = 0; i < 3; ++i) s.shadowColor[i] = s.midColor[i] = s.highColor[i] = 255.0f;
    return s;
}

// A palette of distinct channels: shadow (0.2, 0, 0), midtone (0.6, 0.4, 0.2), highlight white,
// with the full tint.
void stepPalette(RenderSettings& s) {
    const float shadow[3] = {51, 0, 0}, mid[3] = {153, 102, 51};
    for (int i = 0; i < 3; ++i) s.shadowColor[i] = shadow[i], s.midColor[i] = mid[i];
    s.tintBlend = 1.0f;
}

// An interior pixel of a flat frame of heights `height`, the probe material with the light
// overhead changed by `adjust`, the environment `env` and the normal (nx, ny, nz > 0) there.
void expectShade(const char* what, void (*adjust)(RenderSettings&), std::array<float, 3> env,
                 std::array<float, 2> normal, float height, std::array<double, 3> want) {
    SCOPED_TRACE(what);
    RenderSettings s = probeSettings();
    s.lightHeight = 90.0f;
    adjust(s);
    ShadeFrame frame;
    frame.setEnv(env[0], env[1], env[2]);
    std::fill(frame.height.begin(), frame.height.end(), height);
    const float nx = normal[0], ny = normal[1];
    frame.setNormal(3 * kW + 3, nx, ny, std::sqrt(1.0f - nx * nx - ny * ny));
    const lumet::ShadedPixel got = lumet::shadePixel(frame.build(s), 3, 3, 1.0f);
    EXPECT_NEAR(got.r, want[0], 2e-6);
    EXPECT_NEAR(got.g, want[1], 2e-6);
    EXPECT_NEAR(got.b, want[2], 2e-6);
}

// Interior pixels worked by hand from the shading's definition. The probe material with the light
// overhead gives 1.5 x environment (the palette white, the tint, Fresnel boost and specular
// neutral); each case changes what it names. A flat normal under an overhead light has NdL 1 and
// slope 0, so the half-Lambert term is 1 x (1 - 0.7) = 0.3.
TEST(ShadePixel, PointsWorkedByHand) {
    expectShade("exposure 0.5", [](RenderSettings& s) { s.envExposure = 0.5f; }, {0.2f, 0.4f, 0.1f},
                {0, 0}, 0.5f, {0.15, 0.3, 0.075});
    expectShade("contrast 1: gain 10 about 0.5, held at 0",
                [](RenderSettings& s) { s.envContrast = 1.0f; }, {0.51f, 0.4f, 0.5f}, {0, 0}, 0.5f,
                {0.9, 0.0, 0.75});
    expectShade("contrast 0.25: gain 0.5", [](RenderSettings& s) { s.envContrast = 0.25f; },
                {0.3f, 0.7f, 0.5f}, {0, 0}, 0.5f, {0.6, 0.9, 0.75});
    expectShade("contrast 0.75: gain 1 + 9 x 0.5^2",
                [](RenderSettings& s) { s.envContrast = 0.75f; }, {0.54f, 0.46f, 0.5f}, {0, 0},
                0.5f, {0.945, 0.555, 0.75});
    expectShade("plateau at height 1: 1.3 x the distance from the mean 0.333 x sum",
                [](RenderSettings&) {}, {0.2f, 0.4f, 0.6f}, {0, 0}, 1.0f,
                {0.21018, 0.60018, 0.99018});
    expectShade("saturation 0.5: half way to the Rec. 709 grey 0.55788 of (0.3, 0.6, 0.9)",
                [](RenderSettings& s) { s.saturation = 0.5f; }, {0.2f, 0.4f, 0.6f}, {0, 0}, 0.5f,
                {0.42894, 0.57894, 0.72894});
    expectShade("dielectric: the diffuse 0.3, no boost on a flat normal",
                [](RenderSettings& s) { s.metal = 0.0f; }, {0.5f, 0.5f, 0.5f}, {0, 0}, 0.5f,
                {0.15, 0.15, 0.15});
    expectShade("dielectric at height 0.725: micro occlusion 0.925",
                [](RenderSettings& s) { s.metal = 0.0f; }, {0.5f, 0.5f, 0.5f}, {0, 0}, 0.725f,
                {0.13875, 0.13875, 0.13875});
    expectShade("dielectric, normal (0.6, 0, 0.8): 0.9^2 x 0.72, boost 1 + 0.96 x 0.2^5 x 0.6",
                [](RenderSettings& s) { s.metal = 0.0f; }, {0.5f, 0.5f, 0.5f}, {0.6f, 0}, 0.5f,
                {0.291653748, 0.291653748, 0.291653748});
    expectShade(
        "dielectric, light along y at height 0, normal (0, 0.6, 0.8): 0.8^2, the same boost",
        [](RenderSettings& s) { s.metal = 0.0f, s.lightAngle = 90.0f, s.lightHeight = 0.0f; },
        {0.5f, 0.5f, 0.5f}, {0, 0.6f}, 0.5f, {0.320058982, 0.320058982, 0.320058982});
    expectShade("half metal: diffuse 0.3 x 0.8 mixed half way to 1, brightened 1.25",
                [](RenderSettings& s) { s.metal = 0.5f; }, {0.5f, 0.5f, 0.5f}, {0, 0}, 0.5f,
                {0.3875, 0.3875, 0.3875});
    expectShade("luminance 0.342 x 0.3: shadow + (mid - shadow) x 0.2052", stepPalette,
                {0.8f, 0.2f, 0.4f}, {0, 0}, 0.5f, {0.338496, 0.024624, 0.024624});
    expectShade("tint 0.5: half way back to the midtone",
                [](RenderSettings& s) { stepPalette(s), s.tintBlend = 0.5f; }, {0.8f, 0.2f, 0.4f},
                {0, 0}, 0.5f, {0.529248, 0.072312, 0.072312});
    expectShade(
        "light along x at height 0, normal (0.6, 0, 0.8): luminance 0.9 x 0.64, the bright tones",
        [](RenderSettings& s) { stepPalette(s), s.lightAngle = 0.0f, s.lightHeight = 0.0f; },
        {0.9f, 0.9f, 0.9f}, {0.6f, 0}, 0.5f, {0.892148512, 0.663196391, 0.434226687});
    expectShade("specular 1 at roughness 1 on metal: sqrt(4 / 2 pi) x 0.3 in the midtone",
                [](RenderSettings& s) { stepPalette(s), s.specular = 1.0f, s.roughness = 1.0f; },
                {0, 0, 0}, {0, 0}, 0.5f, {0.143619219, 0.095746146, 0.047873073});
    expectShade("the same highlight on a dielectric stays white",
                [](RenderSettings& s) { s.metal = 0.0f, s.specular = 1.0f, s.roughness = 1.0f; },
                {0, 0, 0}, {0, 0}, 0.5f, {0.239365365, 0.239365365, 0.239365365});
    expectShade("glass scatter (1 - 0.5) x (1 - 0.5) x 0.15 x (0.10, 0.06, 0.03)",
                [](RenderSettings& s) { s.opacity = 0.5f; }, {0, 0, 0}, {0, 0}, 0.5f,
                {0.00375, 0.00225, 0.001125});
}

// Properties over partial metal, specular and glass: a light mirrored across the x axis lights a
// mirrored normal alike; colours stay within 0..1; and with a palette that rises from shadow to
// highlight a brighter environment never gives a darker pixel.
TEST(ShadePixel, MirrorSymmetricBoundedAndMonotonicInTheEnvironment) {
    RenderSettings s = lumet::test::goldSettings();
    s.envExposure = 1.3f, s.envContrast = 0.6f, s.saturation = 0.8f, s.opacity = 0.7f;
    s.specular = 0.5f, s.roughness = 0.8f, s.tintBlend = 0.6f;
    auto shade = [&](float angle, float nx, float ny, float h, float env) {
        s.lightAngle = angle;
        ShadeFrame frame;
        frame.setEnv(env, env, env);
        std::fill(frame.height.begin(), frame.height.end(), h);
        frame.setNormal(3 * kW + 3, nx, ny, std::sqrt(1.0f - nx * nx - ny * ny));
        return lumet::shadePixel(frame.build(s), 3, 3, 1.0f);
    };
    const float tilts[][2] = {{0.3f, -0.2f}, {-0.55f, 0.45f}, {0.05f, 0.02f}};
    for (float metal : {0.0f, 0.4f, 1.0f})
        for (float angle : {30.0f, 120.0f, 200.0f})
            for (const auto& tilt : tilts)
                for (float h : {0.3f, 0.7f, 0.9f}) {
                    s.metal = metal;
                    SCOPED_TRACE(::testing::Message() << "metal " << metal << " angle " << angle
                                                      << " tilt " << tilt[0] << " h " << h);
                    lumet::ShadedPixel previous{0.0f, 0.0f, 0.0f, 1.0f};
                    for (float env = 0.0f; env < 1.25f; env += 0.15f) {
                        const lumet::ShadedPixel p = shade(angle, tilt[0], tilt[1], h, env);
                        const lumet::ShadedPixel m = shade(-angle, tilt[0], -tilt[1], h, env);
                        const float got[3] = {p.r, p.g, p.b}, mirrored[3] = {m.r, m.g, m.b},
                                    before[3] = {previous.r, previous.g, previous.b};
                        for (int c = 0; c < 3; ++c) {
                            EXPECT_NEAR(got[c], mirrored[c], 1e-6f) << env;
                            EXPECT_GE(got[c], before[c]) << env;
                            EXPECT_LE(got[c], 1.0f) << env;
                        }
                        previous = p;
                    }
                }
}

TEST(ShadePixel, SpecularFollowsThePowerCurve) {
    // Light straight overhead, so the half vector is (0, 0, 1) and NdH = nz (NdH = 1, where the
    // power is 1 exactly, is among the points worked by hand). Tilted normals against pow()
    // computed directly: the table interpolates linearly.
    ShadeFrame frame;
    frame.setEnv(0.0f, 0.0f, 0.0f);
    RenderSettings s = probeSettings();
    s.lightHeight = 90.0f;
    s.roughness = 0.5f;
    s.specular = 0.2f;
    EXPECT_EQ(frame.build(s).shading.halfDir[2], 1.0f);
    const double exponent = std::pow(2.0, 7.0 - 6.0 * 0.25);
    const double norm = std::sqrt((exponent + 2.0) / 6.2831855);
    for (double angle : {0.001, 0.0316, 0.05, 0.1, 0.2, 0.3}) {
        frame.setNormal(3 * kW + 3, static_cast<float>(std::sin(angle)), 0.0f,
                        static_cast<float>(std::cos(angle)));
        const double ndh = std::cos(angle);
        const double expected =
            std::pow(ndh, exponent) * 0.2 * norm * (0.3 + 0.7 * std::sin(angle));
        EXPECT_NEAR(lumet::shadePixel(frame.build(s), 3, 3, 1.0f).r, expected, 5e-4) << angle;
    }
}

TEST(ShadePixel, CavityDarkensRidgesInsideTheFrame) {
    ShadeFrame frame;
    const RenderSettings s = probeSettings();
    // A ridge (centre above its four neighbours, Laplacian -0.4) darkens by 0.35 inside the
    // frame; a pit does not; border pixels never do.
    frame.setEnv(0.4f, 0.4f, 0.4f);
    std::fill(frame.height.begin(), frame.height.end(), 0.5f);
    frame.height[3 * kW + 3] = 0.6f;
    frame.height[5 * kW + 5] = 0.4f;
    frame.height[3 * kW + 0] = 0.6f;
    frame.height[0 * kW + 4] = 0.6f;
    const ShadeConstants& c = frame.build(s);
    EXPECT_NEAR(lumet::shadePixel(c, 3, 3, 1.0f).r, 0.6f * 0.65f, 1e-6f);
    EXPECT_NEAR(lumet::shadePixel(c, 5, 5, 1.0f).r, 0.6f, 1e-6f);
    EXPECT_NEAR(lumet::shadePixel(c, 0, 3, 1.0f).r, 0.6f, 1e-6f);
    EXPECT_NEAR(lumet::shadePixel(c, 4, 0, 1.0f).r, 0.6f, 1e-6f);
    EXPECT_NEAR(lumet::shadePixel(c, 2, 3, 1.0f).r, 0.6f, 1e-6f);  // neighbour: lap +0.1
}

TEST(ShadeRows, CoverageRulesAndEdgeBlend) {
    ShadeFrame frame;
    frame.setEnv(0.3f, 0.3f, 0.3f);
    std::fill(frame.alpha.begin(), frame.alpha.end(), 0);
    std::fill(frame.height.begin(), frame.height.end(), 0.0f);
    // Row 1: alpha 0 with height 0.3 only (an outer-bevel surface).
    frame.height[1 * kW + 3] = 0.3f;
    // Row 2: a bright half-covered pixel (colour 1.5 before the clamp), a nearly opaque one, and
    // alpha bytes 1 and 2 (coverage below 0.01, no height).
    frame.envR[2 * kW + 1] = frame.envG[2 * kW + 1] = frame.envB[2 * kW + 1] = 1.0f;
    frame.alpha[2 * kW + 1] = 128;
    frame.alpha[2 * kW + 3] = 250;
    frame.alpha[2 * kW + 4] = 1;
    frame.alpha[2 * kW + 5] = 2;
    // Row 4: the only covered pixel lies in column 2 (an even column: every column counts).
    frame.alpha[4 * kW + 2] = 255;
    // Row 5: column 2 again, beside a covered tested column.
    frame.alpha[5 * kW + 2] = frame.alpha[5 * kW + 3] = 255;
    // Row 6: covered pixels inside and outside the column range [1, 6).
    frame.alpha[6 * kW + 0] = frame.alpha[6 * kW + 3] = frame.alpha[6 * kW + 7] = 255;

    const ShadeConstants& c = frame.build(probeSettings());
    auto shade = [&](bool outerStyle) {
        std::vector<float> r(kW * kH, 0.0f), g(r), b(r);
        lumet::shadeRows(c, frame.surface(), {r.data(), g.data(), b.data(), kW, kH}, 1, 6, 0, kH,
                         outerStyle);
        return r;
    };
    const std::vector<float> inner = shade(false), outer = shade(true);

    // Alpha 0, height 0.3: coverage 0.3, colour x 0.09 - but only with outer styles, because the
    // row holds no alpha.
    EXPECT_EQ(inner[1 * kW + 3], 0.0f);
    EXPECT_NEAR(outer[1 * kW + 3], lumet::shadePixel(c, 3, 1, 0.3f).r * 0.09f, 1e-7f);
    EXPECT_NEAR(outer[1 * kW + 3], 0.45f * 0.65f * 0.09f, 1e-6f);  // a lone bump: cavity 0.65
    // The a^2 edge blend comes after the clamp: 1.5 clamps to 1, then x (128/255)^2.
    const float a = 128.0f / 255.0f;
    EXPECT_NEAR(inner[2 * kW + 1], a * a, 1e-6f);
    EXPECT_NEAR(inner[2 * kW + 3], 0.45f, 1e-6f);  // coverage 0.98: no blend
    EXPECT_EQ(inner[2 * kW + 4], 0.0f);
    EXPECT_EQ(inner[2 * kW + 5], 0.0f);
    EXPECT_NEAR(inner[4 * kW + 2], 0.45f, 1e-6f);
    EXPECT_NEAR(inner[5 * kW + 2], 0.45f, 1e-6f);
    EXPECT_NEAR(inner[5 * kW + 3], 0.45f, 1e-6f);
    EXPECT_EQ(inner[6 * kW + 0], 0.0f);  // outside the columns
    EXPECT_NEAR(inner[6 * kW + 3], 0.45f, 1e-6f);
    EXPECT_EQ(inner[6 * kW + 7], 0.0f);
    int shaded = 0;
    for (float v : inner) shaded += v != 0.0f;
    EXPECT_EQ(shaded, 6);
}

TEST(Downsample2x, BoxAverageWithOddEdges) {
    // 3 x 4 into 2 x 2: the last column reuses the pair (1, 2).
    const float src[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    float dst[4] = {};
    lumet::Downsample2x(src, 3, 4, dst, 2, 2);
    EXPECT_EQ(std::vector<float>(dst, dst + 4), (std::vector<float>{3, 4, 9, 10}));
}

}  // namespace

namespace lumet {
namespace {

TEST(ShadeRows, EveryPixelIsTheScalarShadingToTheBit) {
    // Whatever form the rows are shaded in (several pixels at once), each pixel must be
    // shadePixel's with the coverage rules: random planes (coverage 0..255, heights over the
    // plateau, cavity and outer-surface thresholds, normals of every steepness, NaN among them)
    // and random settings, rectangles reaching the plane's edges at widths not a multiple of four.
    std::mt19937 rng(5);
    auto unit = [&] { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); };
    for (int n = 0; n < 40; ++n) {
        const std::int32_t W = 3 + static_cast<std::int32_t>(rng() % 40), H = 2 + rng() % 9;
        const std::size_t N = static_cast<std::size_t>(W) * H;
        std::vector<float> height(N), normals(3 * N), env[3];
        std::vector<std::uint8_t> alpha(N);
        for (std::size_t i = 0; i < N; ++i) {
            height[i] = rng() % 4 == 0 ? 0.0f : 1.1f * unit();
            alpha[i] = rng() % 3 == 0 ? static_cast<std::uint8_t>(rng() % 4)
                                      : static_cast<std::uint8_t>(rng() % 256);
            const float nx = 2.0f * unit() - 1.0f, ny = 2.0f * unit() - 1.0f;
            normals[3 * i] = nx, normals[3 * i + 1] = ny, normals[3 * i + 2] = 2.0f * unit() - 0.5f;
            if (rng() % 97 == 0) normals[3 * i + rng() % 3] = std::nanf("");
        }
        for (auto& plane : env) {
            plane.resize(N);
            for (float& v : plane) v = 1.4f * unit();
        }
        RenderSettings s = test::goldSettings();
        s.envExposure = n % 2 ? 1.0f : 0.5f + unit();
        s.envContrast = unit();
        s.metal = unit(), s.opacity = n % 3 ? 1.0f : unit(), s.saturation = n % 4 ? 1.0f : unit();
        s.tintBlend = unit(), s.specular = 2.0f * unit(), s.roughness = unit();
        s.lightAngle = 360.0f * unit(), s.lightHeight = 90.0f * unit();
        auto constants = std::make_unique<ShadeConstants>();
        const SurfaceView surface(alpha.data(), height.data(), normals.data(), W, H);
        makeShadeConstants(*constants, s, surface,
                           {env[0].data(), env[1].data(), env[2].data(), W, H}, 1.0f);
        const bool outer = n % 2 == 1;
        const std::int32_t x0 = n % 3 == 0 ? 0 : static_cast<std::int32_t>(rng() % W);
        const std::int32_t x1 =
            n % 3 == 1 ? W : x0 + 1 + static_cast<std::int32_t>(rng() % (W - x0));
        std::vector<float> out[3];
        for (auto& plane : out) plane.assign(N, -7.0f);
        shadeRows(*constants, surface, {out[0].data(), out[1].data(), out[2].data(), W, H}, x0, x1,
                  0, H, outer);
        for (std::int32_t y = 0; y < H; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * W;
            bool content = false;
            for (std::int32_t x = x0; x < x1; ++x)
                content = content || alpha[row + x] != 0 || (outer && height[row + x] > 0.01f);
            for (std::int32_t x = x0; x < x1; ++x) {
                float a = alpha[row + x] / 255.0f, want[3] = {0.0f, 0.0f, 0.0f};
                const float h = height[row + x];
                if (content && (a >= 0.01f || h > 0.01f)) {
                    if (a < 0.01f) a = std::min(1.0f, std::max(0.0f, h));
                    const ShadedPixel p = shadePixel(*constants, x, y, a);
                    const float scale = a < 0.95f ? a * a : 1.0f;
                    want[0] = a < 0.95f ? p.r * scale : p.r;
                    want[1] = a < 0.95f ? p.g * scale : p.g;
                    want[2] = a < 0.95f ? p.b * scale : p.b;
                }
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(0, std::memcmp(&out[c][row + x], &want[c], 4))
                        << "case " << n << " at " << x << ", " << y << " channel " << c << ": "
                        << out[c][row + x] << " vs " << want[c];
            }
        }
    }
}

}  // namespace
}  // namespace lumet
