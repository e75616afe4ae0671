// Surface shading: interior pixels against the shading's definition worked out in double
// precision, and a "probe" material (white palette, full metal, no tint, no specular) whose colour
// is exactly 1.5 x environment x cavity, which isolates the highlight's power curve, the cavity
// and the coverage rules.
#include "shading/surface_shading.h"

#include <gtest/gtest.h>

#include <algorithm>
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
                                  {envR.data(), envG.data(), envB.data(), kW, kH});
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

// One interior pixel worked out in double precision from the shading's definition, for partial
// metal: environment exposure and contrast, half-Lambert diffuse with micro occlusion, both
// branches of the three-tone palette, the tint, the Schlick Fresnel boost, cavity, the specular
// highlight coloured between white and the midtone, glass scatter, saturation and the clamp.
struct Colour {
    double r, g, b;
};

Colour referenceShade(const RenderSettings& s, Colour e, const double n[3], double h,
                      double neighbourSum, double* luminance) {
    const double pi = 3.14159265358979;
    const double angle = s.lightAngle * pi / 180, elevation = s.lightHeight * pi / 180;
    double L[3] = {std::cos(angle) * std::cos(elevation), std::sin(angle) * std::cos(elevation),
                   std::sin(elevation)};
    double Hv[3] = {L[0], L[1], L[2] + 1};
    const double hl = std::sqrt(Hv[0] * Hv[0] + Hv[1] * Hv[1] + Hv[2] * Hv[2]);
    for (double& c : Hv) c /= hl;
    auto clamp01 = [](double v) { return std::clamp(v, 0.0, 1.0); };
    double E[3] = {e.r * s.envExposure, e.g * s.envExposure, e.b * s.envExposure};
    const double f =
        s.envContrast <= 0.5 ? 2 * s.envContrast : 1 + 9 * std::pow(2 * (s.envContrast - 0.5), 2);
    for (double& c : E) c = std::max(0.0, 0.5 + (c - 0.5) * f);
    if (h > 0.85) {
        const double flat = (h - 0.85) / 0.15, mean = (E[0] + E[1] + E[2]) * 0.333;
        for (double& c : E) c = clamp01(mean + (c - mean) * (1 + 0.3 * flat));
    }
    const double slope = std::hypot(n[0], n[1]);
    const double ndl = n[0] * L[0] + n[1] * L[1] + n[2] * L[2];
    const double halfLambert = 0.5 * ndl + 0.5;
    const double baseDiffuse = halfLambert * halfLambert * (1 - L[2] * L[2] * (1 - slope) * 0.7);
    const double ao = (h > 0.5 && h < 0.95) ? 0.85 + 0.15 * (h - 0.5) / 0.45 : 1.0;
    const double diffuse = baseDiffuse * (1 - 0.4 * s.metal) * ao;
    const double lum = clamp01((0.2126 * E[0] + 0.7152 * E[1] + 0.0722 * E[2]) * baseDiffuse);
    *luminance = lum;
    const double lap = neighbourSum - 4 * h;
    const double cavity = 1 - clamp01(-4 * lap) * 0.35;
    const double exponent = std::pow(2.0, 7 - 6 * s.roughness * s.roughness);
    const double ndh = std::max(0.0, n[0] * Hv[0] + n[1] * Hv[1] + n[2] * Hv[2]);
    const double spec = std::pow(ndh, exponent) * s.specular *
                        std::sqrt((exponent + 2) / (2 * pi)) * (0.3 + 0.7 * slope);
    const double envDiffuse = diffuse + (1 - diffuse) * s.metal;
    const double f5 = std::pow(1 - std::max(n[2], 0.0), 5);
    double out[3];
    for (int c = 0; c < 3; ++c) {
        const double shadow = s.shadowColor[c] / 255, mid = s.midColor[c] / 255,
                     high = s.highColor[c] / 255;
        const double tone =
            lum < 0.5 ? shadow + (mid - shadow) * 2 * lum : mid + (high - mid) * 2 * (lum - 0.5);
        const double tinted = mid + (tone - mid) * s.tintBlend;
        const double f0 = 0.04 + (mid - 0.04) * s.metal;
        const double boost = 1 + (f0 + (1 - f0) * f5 - f0) * 0.6;
        out[c] = E[c] * tinted * envDiffuse * boost * cavity * (1 + 0.5 * s.metal) +
                 (1 + (mid - 1) * s.metal) * spec;
    }
    const double scatter = (1 - s.opacity) * (1 - h) * 0.15;
    out[0] += 0.10 * scatter, out[1] += 0.06 * scatter, out[2] += 0.03 * scatter;
    const double grey = 0.2126 * out[0] + 0.7152 * out[1] + 0.0722 * out[2];
    for (double& c : out) c = clamp01(grey + (c - grey) * s.saturation);
    return {out[0], out[1], out[2]};
}

TEST(ShadePixel, PartialMetalFollowsItsDefinition) {
    RenderSettings s = lumet::test::goldSettings();
    s.lightAngle = 120.0f;
    s.lightHeight = 40.0f;
    s.roughness = 0.8f;  // a broad highlight, which the power table follows closely
    s.specular = 0.5f;
    s.tintBlend = 0.6f;
    s.opacity = 0.7f;
    // Metal with the environment's exposure and contrast (both sides of neutral, the neutral
    // values the stage skips, a flat environment at 0 and the steepest one, which clamps at 0)
    // and saturation (grey at 0).
    struct Look {
        float metal, exposure, contrast, saturation;
    };
    const Look looks[] = {{0.0f, 1.3f, 0.6f, 0.8f},  {0.4f, 1.3f, 0.6f, 0.8f},
                          {0.85f, 1.3f, 0.6f, 0.8f}, {0.4f, 1.0f, 0.5f, 1.0f},
                          {0.85f, 0.7f, 0.0f, 0.0f}, {0.0f, 2.0f, 1.0f, 0.5f},
                          {0.4f, 1.0f, 0.25f, 0.8f}};
    const Colour envs[] = {{0.2, 0.15, 0.1}, {1.1, 1.0, 0.9}, {0.6, 0.7, 0.3}};
    const double tilts[][2] = {{0.3, -0.2}, {-0.55, 0.45}, {0.05, 0.02}, {0.0, 0.0}};
    int brightTones = 0, darkTones = 0;
    for (const Look& look : looks)
        for (double h : {0.3, 0.7, 0.9})
            for (const Colour& e : envs)
                for (const auto& tilt : tilts) {
                    s.metal = look.metal;
                    s.envExposure = look.exposure;
                    s.envContrast = look.contrast;
                    s.saturation = look.saturation;
                    ShadeFrame frame;
                    frame.setEnv(static_cast<float>(e.r), static_cast<float>(e.g),
                                 static_cast<float>(e.b));
                    const double n[3] = {tilt[0], tilt[1],
                                         std::sqrt(1 - tilt[0] * tilt[0] - tilt[1] * tilt[1])};
                    const std::size_t centre = 3 * kW + 3;
                    frame.setNormal(centre, static_cast<float>(n[0]), static_cast<float>(n[1]),
                                    static_cast<float>(n[2]));
                    // A ridge: the four neighbours lie 0.03 lower.
                    frame.height[centre] = static_cast<float>(h);
                    for (std::size_t i : {centre - 1, centre + 1, centre - kW, centre + kW})
                        frame.height[i] = static_cast<float>(h - 0.03);
                    const double neighbours = 4 * static_cast<double>(static_cast<float>(h - 0.03));
                    double lum = 0;
                    const Colour want =
                        referenceShade(s, e, n, static_cast<float>(h), neighbours, &lum);
                    const lumet::ShadedPixel got = lumet::shadePixel(frame.build(s), 3, 3, 1.0f);
                    SCOPED_TRACE(::testing::Message()
                                 << "metal " << look.metal << " contrast " << look.contrast << " h "
                                 << h << " env " << e.r << " tilt " << tilt[0]);
                    EXPECT_NEAR(got.r, want.r, 2e-5);
                    EXPECT_NEAR(got.g, want.g, 2e-5);
                    EXPECT_NEAR(got.b, want.b, 2e-5);
                    (lum < 0.5 ? darkTones : brightTones)++;  // the palette's two branches
                }
    EXPECT_GT(brightTones, 0);
    EXPECT_GT(darkTones, 0);
}

TEST(ShadePixel, SpecularFollowsThePowerCurve) {
    // Light straight overhead, so the half vector is (0, 0, 1) and NdH = nz.
    ShadeFrame frame;
    frame.setEnv(0.0f, 0.0f, 0.0f);
    RenderSettings s = probeSettings();
    s.lightHeight = 90.0f;
    s.specular = 1.0f;
    s.roughness = 1.0f;
    // NdH = 1 gives p = 1 exactly: spec = specular x specNorm x 0.3 on a flat pixel.
    const ShadeConstants& c = frame.build(s);
    EXPECT_EQ(c.halfDir[2], 1.0f);
    EXPECT_NEAR(lumet::shadePixel(c, 3, 3, 1.0f).g, std::sqrt(4.0 / 6.2831855) * 0.3, 1e-6);

    // Tilted normals against pow() computed directly (the table interpolates linearly).
    s.roughness = 0.5f;
    s.specular = 0.2f;
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
    // Every pixel of the rectangle is written: what lay there before is gone.
    std::vector<float> r(kW * kH, 7.0f), g(r), b(r);
    lumet::shadeRows(c, frame.surface(), {r.data(), g.data(), b.data(), kW, kH}, 1, 6, 0, kH,
                     false);
    for (int y = 0; y < kH; ++y)
        for (int x = 1; x < 6; ++x) EXPECT_EQ(r[y * kW + x], inner[y * kW + x]);
}

TEST(Downsample2x, BoxAverageWithOddEdges) {
    // 3 x 2 into 2 x 1: the last column reuses the pair (1, 2).
    const float src[6] = {1, 2, 3, 4, 5, 6};
    float dst[2] = {};
    lumet::Downsample2x(src, 3, 2, dst, 2, 1);
    EXPECT_FLOAT_EQ(dst[0], 3.0f);
    EXPECT_FLOAT_EQ(dst[1], 4.0f);

    // Against a direct average on an even frame.
    constexpr std::int32_t W = 10, H = 6;
    const std::vector<float> plane = lumet::test::noisePlane(W * H, 15);
    std::vector<float> half(5 * 3);
    lumet::Downsample2x(plane.data(), W, H, half.data(), 5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const float expected =
                0.25f * (plane[2 * y * W + 2 * x] + plane[2 * y * W + 2 * x + 1] +
                         plane[(2 * y + 1) * W + 2 * x] + plane[(2 * y + 1) * W + 2 * x + 1]);
            EXPECT_FLOAT_EQ(half[y * 5 + x], expected);
        }
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
                           {env[0].data(), env[1].data(), env[2].data(), W, H});
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
