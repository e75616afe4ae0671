// Environment reflection against hand-computed sample positions: a coordinate-encoding map makes
// every output read back the (u, v) at which the map was sampled.
#include "shading/env_reflection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/shading_inputs.h"

namespace {

using lumet::RenderSettings;
using lumet::test::TestEnv;

constexpr std::int32_t kW2 = 64, kH2 = 32;
constexpr std::int32_t kEnvW = 256, kEnvH = 128;
// The centre pixel, where the projection is exactly 0.
constexpr std::size_t kCentre = (kH2 / 2) * kW2 + kW2 / 2;

struct Frame {
    std::vector<float> normals = std::vector<float>(3 * kW2 * kH2);
    std::vector<std::uint8_t> alpha = std::vector<std::uint8_t>(kW2 * kH2, 255);
    std::vector<float> height = std::vector<float>(kW2 * kH2, 0.5f);
    Frame() { setNormals(0.0f, 0.0f, 1.0f); }
    void setNormals(float nx, float ny, float nz) {
        for (std::size_t i = 0; i < normals.size(); i += 3) {
            normals[i] = nx;
            normals[i + 1] = ny;
            normals[i + 2] = nz;
        }
    }
};

struct Reflection {
    std::vector<float> r, g, b;
};

Reflection reflect(const Frame& frame, const RenderSettings& s, const TestEnv& env,
                   std::int32_t contentW = kW2, std::int32_t contentH = kH2) {
    Reflection out{std::vector<float>(kW2 * kH2, -1.0f), std::vector<float>(kW2 * kH2, -1.0f),
                   std::vector<float>(kW2 * kH2, -1.0f)};
    lumet::renderEnvReflection(
        {frame.alpha.data(), frame.height.data(), frame.normals.data(), kW2, kH2},
        {out.r.data(), out.g.data(), out.b.data(), kW2, kH2}, lumet::FrameWindow::whole(kW2, kH2),
        contentW, contentH, s, lumet::test::EnvMapOver(env).map());
    return out;
}

// A map whose every texel holds its own coordinates, (x, y, x + y).
const TestEnv kCoordinates = lumet::test::coordinateEnv(kEnvW, kEnvH);

RenderSettings plainSettings() {
    RenderSettings s{};
    s.envBlur = 0.0f;
    s.envScale = 1.0f;  // zoom 1.8: the whole frame samples well inside the map
    s.envDisplacement = 0.5f;
    return s;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float worst = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

TEST(EnvReflection, FlatSurfaceShowsTheMapCentredWithBarrelDistortion) {
    RenderSettings s = plainSettings();
    s.envRotX = 0.1f;
    s.envRotY = 0.05f;
    const Reflection out = reflect(Frame(), s, kCoordinates);

    // Centre pixel: the projection is 0 there, so the lookup is exactly (0.5 + rotX, 0.5 + rotY).
    EXPECT_NEAR(out.r[kCentre], 0.6 * (kEnvW - 1), 1e-3);
    EXPECT_NEAR(out.g[kCentre], 0.55 * (kEnvH - 1), 1e-3);

    const double zoom = 0.2 + 1.6 * 1.0, scale = kW2;
    double largestGrowth = 0.0;
    for (int y = 0; y < kH2; ++y)
        for (int x = 0; x < kW2; ++x) {
            const double cu = (x / scale - 0.5 * kW2 / scale) / zoom;
            const double cv = (y / scale - 0.5 * kH2 / scale) / zoom;
            const double growth = 1.0 + 0.3 * (cu * cu + cv * cv);
            largestGrowth = std::max(largestGrowth, growth);
            const std::size_t i = static_cast<std::size_t>(y) * kW2 + x;
            ASSERT_NEAR(out.r[i], (cu * growth + 0.6) * (kEnvW - 1), 2e-3) << x << ", " << y;
            ASSERT_NEAR(out.g[i], (cv * growth + 0.55) * (kEnvH - 1), 2e-3) << x << ", " << y;
        }
    // The corner's barrel factor is large enough that a missing distortion would fail above.
    EXPECT_GT((largestGrowth - 1.0) * 0.28 * (kEnvW - 1), 1.0);
}

TEST(EnvReflection, LargerOutputDoesNotRescaleTheReflection) {
    // The scale comes from the content size, not the frame: the same content size gives the same
    // projection step per pixel.
    const RenderSettings s = plainSettings();
    const Reflection wide = reflect(Frame(), s, kCoordinates, 32, 16);
    const double step = wide.r[kCentre + 1] - wide.r[kCentre];
    EXPECT_NEAR(step, 1.0 / 32.0 / 1.8 * (kEnvW - 1), 0.01);
}

TEST(EnvReflection, RotationWrapsAroundTheMap) {
    RenderSettings s = plainSettings();
    TestEnv env(kEnvW, kEnvH);
    env.sharpR = env.smoothR = lumet::test::noisePlane(env.sharpR.size(), 1);
    env.sharpG = env.smoothG = lumet::test::noisePlane(env.sharpR.size(), 2);
    env.sharpB = env.smoothB = lumet::test::noisePlane(env.sharpR.size(), 3);
    Frame frame;
    frame.setNormals(0.3f, -0.2f, 0.93f);
    s.envBlur = 0.3f;

    const Reflection base = reflect(frame, s, env);
    s.envRotX = 1.0f;
    const Reflection full = reflect(frame, s, env);
    EXPECT_LT(maxDifference(base.r, full.r), 1e-3f);
    EXPECT_LT(maxDifference(base.b, full.b), 1e-3f);

    s.envRotX = -0.25f;
    const Reflection minusQuarter = reflect(frame, s, env);
    s.envRotX = 0.75f;
    const Reflection threeQuarters = reflect(frame, s, env);
    EXPECT_LT(maxDifference(minusQuarter.g, threeQuarters.g), 1e-3f);
    // A rotation that is not a whole turn does change the image.
    EXPECT_GT(maxDifference(base.g, threeQuarters.g), 0.1f);
}

// A map that is 1 in its last column and 0 elsewhere, in every plane, and a centre pixel whose u
// lands a hair below 0 (-2^-25), which the wrap u - floor(u) rounds to exactly 1.0: both samples
// of that pixel must read column 0 (and 1), where the map is 0.
TEST(EnvReflection, WrapRoundedToOneSamplesColumnZeroInBothPlanes) {
    TestEnv env(kEnvW, kEnvH);
    for (std::int32_t y = 0; y < kEnvH; ++y) {
        const std::size_t last = static_cast<std::size_t>(y) * kEnvW + kEnvW - 1;
        for (auto* plane :
             {&env.sharpR, &env.sharpG, &env.sharpB, &env.smoothR, &env.smoothG, &env.smoothB})
            (*plane)[last] = 1.0f;
    }
    RenderSettings s = plainSettings();
    s.envBlur = 0.5f;          // the smooth sample weighs half on a flat pixel
    s.envDisplacement = 1.0f;  // shift 0.32: nx x shift = -3.2e-8, and 0.5 + that = 0.5 - 2^-25
    s.envRotX = -0.5f;
    Frame frame;
    frame.normals[3 * kCentre] = -1e-7f;
    const Reflection out = reflect(frame, s, env);
    EXPECT_EQ(out.r[kCentre], 0.0f);
    EXPECT_EQ(out.g[kCentre], 0.0f);
}

TEST(EnvReflection, BlurBlendsSharpTowardsSmooth) {
    RenderSettings s = plainSettings();
    TestEnv env = lumet::test::coordinateEnv(kEnvW, kEnvH);
    std::fill(env.smoothR.begin(), env.smoothR.end(), 0.2f);
    std::fill(env.smoothG.begin(), env.smoothG.end(), 0.4f);
    std::fill(env.smoothB.begin(), env.smoothB.end(), 0.6f);

    // Blur 100: only the smooth planes are seen, on flat and steep pixels alike.
    s.envBlur = 1.0f;
    for (float nx : {0.0f, 0.6f}) {
        Frame frame;
        frame.setNormals(nx, 0.0f, std::sqrt(1.0f - nx * nx));
        const Reflection out = reflect(frame, s, env);
        for (std::size_t i = 0; i < out.r.size(); ++i) {
            ASSERT_NEAR(out.r[i], 0.2f, 1e-4f);
            ASSERT_NEAR(out.g[i], 0.4f, 1e-4f);
            ASSERT_NEAR(out.b[i], 0.6f, 1e-4f);
        }
    }

    // Blur 0: a flat pixel is the sharp sample; a pixel with steep >= 1 the smooth one; steep 0.5
    // blends by smoothstep(0.5) = 0.5.
    s.envBlur = 0.0f;
    const Reflection flat = reflect(Frame(), s, env);
    EXPECT_NEAR(flat.r[kCentre], 0.5 * (kEnvW - 1), 1e-3);
    Frame steep;
    steep.setNormals(0.8f, 0.6f, 0.0f);
    const Reflection steepOut = reflect(steep, s, env);
    EXPECT_NEAR(steepOut.r[kCentre], 0.2f, 1e-4f);
    EXPECT_NEAR(steepOut.g[kCentre], 0.4f, 1e-4f);
    Frame half;
    half.setNormals(0.5f, 0.0f, 0.8660254f);
    const Reflection halfOut = reflect(half, s, env);
    const double u = 0.5 + 0.5 * (0.5 * 0.40);  // nx x normalShift
    EXPECT_NEAR(halfOut.r[kCentre], 0.5 * u * (kEnvW - 1) + 0.5 * 0.2, 1e-3);
}

TEST(EnvReflection, SteepNormalsAreDamped) {
    // normalShift = 0.5 x 0.40 = 0.2 at Blur 0; above |nx| + |ny| = 1.5 the shift is scaled by
    // 1.5 / steep, so steep 3 moves the lookup by half of normalShift per unit of the normal.
    const RenderSettings s = plainSettings();
    struct Case {
        float nx, ny, u, v;
    } cases[] = {{1.5f, 1.5f, 0.5f + 1.5f * 0.1f, 0.5f + 1.5f * 0.1f},
                 {1.0f, 0.5f, 0.5f + 0.2f, 0.5f + 0.1f},
                 {-0.25f, 0.5f, 0.5f - 0.05f, 0.5f + 0.1f}};
    for (const Case& c : cases) {
        Frame frame;
        frame.setNormals(c.nx, c.ny, 0.0f);
        const Reflection out = reflect(frame, s, kCoordinates);
        EXPECT_NEAR(out.r[kCentre], c.u * (kEnvW - 1), 2e-3) << c.nx << ", " << c.ny;
        EXPECT_NEAR(out.g[kCentre], c.v * (kEnvH - 1), 2e-3) << c.nx << ", " << c.ny;
    }
}

TEST(EnvReflection, DispersionAndAnisotropySwitchOnAboveOneThousandth) {
    RenderSettings s = plainSettings();
    TestEnv noise(kEnvW, kEnvH);
    noise.sharpR = noise.smoothR = lumet::test::noisePlane(noise.sharpR.size(), 4);
    noise.sharpG = noise.smoothG = lumet::test::noisePlane(noise.sharpR.size(), 5);
    noise.sharpB = noise.smoothB = lumet::test::noisePlane(noise.sharpR.size(), 6);
    const Reflection off = reflect(Frame(), s, noise);

    s.dispersion = 0.001f;
    const Reflection dispersionAtThreshold = reflect(Frame(), s, noise);
    EXPECT_EQ(off.r, dispersionAtThreshold.r);
    EXPECT_EQ(off.b, dispersionAtThreshold.b);
    s.dispersion = 0.0011f;
    const Reflection dispersionOn = reflect(Frame(), s, noise);
    EXPECT_NE(off.r, dispersionOn.r);
    EXPECT_EQ(off.g, dispersionOn.g);  // green and the smooth samples stay at (u, v)

    s.dispersion = 0.0f;
    s.anisotropy = 0.001f;
    const Reflection streaksAtThreshold = reflect(Frame(), s, noise);
    EXPECT_EQ(off.r, streaksAtThreshold.r);
    s.anisotropy = 0.0011f;
    EXPECT_NE(off.g, reflect(Frame(), s, noise).g);

    // Exact shifts on the coordinate map: dispersion 0.5 moves red by +0.005 and blue by -0.005.
    s = plainSettings();
    s.dispersion = 0.5f;
    const Reflection shifted = reflect(Frame(), s, kCoordinates);
    EXPECT_NEAR(shifted.r[kCentre], 0.505 * (kEnvW - 1), 2e-3);
    EXPECT_NEAR(shifted.g[kCentre], 0.5 * (kEnvH - 1), 2e-3);
    EXPECT_NEAR(shifted.b[kCentre], 0.495 * (kEnvW - 1) + 0.5 * (kEnvH - 1), 2e-3);

    // Anisotropy 1 at the centre pixel (32, 16): p = -0.70710677 x 48, both components of the
    // streak direction are -0.70710677, amplitude 0.018.
    s = plainSettings();
    s.anisotropy = 1.0f;
    const Reflection streaked = reflect(Frame(), s, kCoordinates);
    const double d = -0.70710677, p = d * 48.0;
    const double w = 0.54 * std::cos(1.8 * p) + 0.35 * std::cos(0.7 * p) + 0.7 * std::cos(3.5 * p);
    EXPECT_NEAR(streaked.r[kCentre], (0.5 + w * d * 0.018) * (kEnvW - 1), 2e-3);
    EXPECT_NEAR(streaked.g[kCentre], (0.5 + w * d * 0.018) * (kEnvH - 1), 2e-3);
}

TEST(EnvReflection, SurfaceTestAndRowSkip) {
    const RenderSettings s = plainSettings();
    Frame frame;
    std::fill(frame.alpha.begin(), frame.alpha.end(), 0);
    std::fill(frame.height.begin(), frame.height.end(), 0.0f);
    const int row = 5;
    frame.alpha[row * kW2 + 10] = 9;
    frame.height[row * kW2 + 10] = 0.02f;  // reflected through its height
    frame.alpha[row * kW2 + 20] = 9;
    frame.height[row * kW2 + 20] = 0.005f;  // no surface
    frame.alpha[row * kW2 + 30] = 10;       // surface through its alpha
    // A row whose only surface pixels lie in odd columns is skipped by the even-column row test.
    frame.alpha[(row + 1) * kW2 + 7] = 255;
    frame.alpha[(row + 1) * kW2 + 41] = 255;
    // The same pixels next to an even-column surface pixel are reflected.
    frame.alpha[(row + 2) * kW2 + 7] = 255;
    frame.alpha[(row + 2) * kW2 + 8] = 255;

    const Reflection out = reflect(frame, s, kCoordinates);
    EXPECT_GT(out.r[row * kW2 + 10], 1.0f);
    EXPECT_EQ(out.r[row * kW2 + 20], 0.0f);
    EXPECT_GT(out.r[row * kW2 + 30], 1.0f);
    EXPECT_EQ(out.r[(row + 1) * kW2 + 7], 0.0f);
    EXPECT_EQ(out.r[(row + 1) * kW2 + 41], 0.0f);
    EXPECT_GT(out.r[(row + 2) * kW2 + 7], 1.0f);
    EXPECT_GT(out.r[(row + 2) * kW2 + 8], 1.0f);
    int nonZero = 0;
    for (std::size_t i = 0; i < out.r.size(); ++i) {
        EXPECT_GE(out.r[i], 0.0f);  // every pixel written, no -1 left over
        nonZero += out.r[i] != 0.0f;
    }
    EXPECT_EQ(nonZero, 4);
}

TEST(EnvReflection, DegenerateInputsGiveFiniteOrZeroOutput) {
    // An empty content size must not turn the projection into infinities.
    const Reflection out = reflect(Frame(), plainSettings(), kCoordinates, 0, 0);
    for (float v : out.r) ASSERT_TRUE(std::isfinite(v));
    // Without map planes the reflection is black.
    Frame frame;
    std::vector<float> r(kW2 * kH2, 5.0f), g(r), b(r);
    lumet::renderEnvReflection(
        {frame.alpha.data(), frame.height.data(), frame.normals.data(), kW2, kH2},
        {r.data(), g.data(), b.data(), kW2, kH2}, lumet::FrameWindow::whole(kW2, kH2), kW2, kH2,
        plainSettings(), lumet::EnvMap{});
    for (float v : r) ASSERT_EQ(v, 0.0f);
    // Planes that do not hold the window are not written.
    std::fill(r.begin(), r.end(), 5.0f);
    lumet::renderEnvReflection(
        {frame.alpha.data(), frame.height.data(), frame.normals.data(), kW2 - 1, kH2},
        {r.data(), g.data(), b.data(), kW2 - 1, kH2}, lumet::FrameWindow::whole(kW2, kH2), kW2, kH2,
        plainSettings(), lumet::test::EnvMapOver(kCoordinates).map());
    for (float v : r) ASSERT_EQ(v, 5.0f);
}

}  // namespace
