// GPU shading operations against their CPU forms: the reflection (equal without dispersion; with
// dispersion red and blue are sampled linearly along one row), the shading (equal except that the
// coverage fade comes before the clamp; the 2 x 2 reduction; the window), the glow (the CPU's
// two-scale glow within float rounding), and the buffer groups kept between calls, matched to
// their inputs by content revision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gpu/gpu_ops.h"
#include "gpu_test_support.h"
#include "params/render_settings.h"
#include "render/stage_cache.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/surface_shading.h"
#include "support/shading_inputs.h"

namespace lumet {
namespace {

using testing::GpuLockHold;

// The device glow against the CPU glow, per channel (values 0..1): the agreement the frame tests
// rely on.
constexpr double kGlowMaxError = 5e-4;
constexpr double kGlowMeanError = 1e-5;

class GpuShading : public ::testing::Test {
protected:
    void SetUp() override { testing::requireGpuRuntime(); }
};

// A surface of random unit normals leaning up to 0.8 sideways, random heights and coverage with
// empty, partial and full pixels.
struct Surface {
    int W, H;
    std::vector<float> normals, heights;
    std::vector<std::uint8_t> alpha;
    SurfaceView view() const { return {alpha.data(), heights.data(), normals.data(), W, H}; }
};

Surface makeSurface(int W, int H, std::uint32_t seed) {
    Surface s{W, H, {}, {}, {}};
    const std::vector<float> lean = testing::randomPlane(2 * W * H, seed, -0.55f, 0.55f);
    s.heights = testing::randomPlane(W * H, seed + 1);
    const std::vector<float> cover = testing::randomPlane(W * H, seed + 2, -0.6f, 1.6f);
    s.normals.resize(3 * W * H);
    s.alpha.resize(W * H);
    for (int i = 0; i < W * H; ++i) {
        const float nx = lean[2 * i], ny = lean[2 * i + 1];
        s.normals[3 * i] = nx;
        s.normals[3 * i + 1] = ny;
        s.normals[3 * i + 2] = std::sqrt(1.0f - nx * nx - ny * ny);
        s.alpha[i] = static_cast<std::uint8_t>(std::clamp(cover[i], 0.0f, 1.0f) * 255.0f);
        if (i % 5 == 0) s.heights[i] *= 0.005f;  // some pixels without surface
    }
    return s;
}

RenderSettings baseSettings() {
    RenderSettings s{};
    s.bevelStyle = 2;
    s.edgeProfile = 1;
    s.bevelDepth = 1.0f;
    s.envBlur = 0.3f;
    s.envScale = 0.5f;
    s.envExposure = 1.0f;
    s.envContrast = 0.6f;
    s.envDisplacement = 0.6f;
    s.envRotX = 0.1f;
    s.envRotY = -0.2f;
    s.metal = 0.8f;
    s.opacity = 0.7f;
    s.lightAngle = 135.0f;
    s.lightHeight = 40.0f;
    s.specular = 0.6f;
    s.roughness = 0.3f;
    const float shadow[3] = {60, 40, 20}, mid[3] = {200, 160, 90}, high[3] = {255, 240, 200};
    for (int c = 0; c < 3; ++c) {
        s.shadowColor[c] = shadow[c];
        s.midColor[c] = mid[c];
        s.highColor[c] = high[c];
    }
    s.saturation = 0.9f;
    s.tintBlend = 0.7f;
    return s;
}

struct EnvPlanes {
    int W, H;
    std::vector<float> planes[6];
    std::uint64_t revision;
};

EnvPlanes randomEnv(int W, int H, std::uint32_t seed) {
    EnvPlanes env{W, H, {}, nextContentRevision()};
    for (int p = 0; p < 6; ++p) env.planes[p] = testing::randomPlane(W * H, seed + p);
    return env;
}

bool upload(const EnvPlanes& env) {
    return gpu::uploadEnvMapGpu(env.planes[0].data(), env.planes[1].data(), env.planes[2].data(),
                                env.planes[3].data(), env.planes[4].data(), env.planes[5].data(),
                                env.W, env.H, env.revision);
}

struct Rgb {
    std::vector<float> c[3];
    explicit Rgb(int count) {
        for (auto& plane : c) plane.assign(count, -1.0f);
    }
    RgbPlanes<float> planes(int W, int H) { return {c[0].data(), c[1].data(), c[2].data(), W, H}; }
    RgbPlanes<const float> planes(int W, int H) const {
        return {c[0].data(), c[1].data(), c[2].data(), W, H};
    }
};

void cpuReflection(const Surface& s, const EnvPlanes& env, const RenderSettings& settings,
                   Rgb& out) {
    renderEnvReflection(s.view(), out.planes(s.W, s.H), FrameWindow::whole(s.W, s.H), s.W, s.H,
                        settings,
                        test::EnvMapOver(env.planes[0].data(), env.planes[1].data(),
                                         env.planes[2].data(), env.planes[3].data(),
                                         env.planes[4].data(), env.planes[5].data(), env.W, env.H)
                            .map());
}

// Geometry revision 0 always uploads the surface.
bool gpuReflection(const Surface& s, const EnvPlanes& env, const RenderSettings& settings, Rgb& out,
                   std::uint64_t geometryRevision = 0) {
    return gpu::renderEnvReflectionGpu(s.view(), out.planes(s.W, s.H), FrameWindow::whole(s.W, s.H),
                                       s.W, s.H, settings, env.W, env.H, env.revision,
                                       geometryRevision);
}

TEST_F(GpuShading, ReflectionMatchesTheCpuAcrossSizesAndGeometryRevisions) {
    GpuLockHold hold;
    const EnvPlanes env = randomEnv(96, 48, 40);
    ASSERT_TRUE(upload(env));
    const RenderSettings settings = baseSettings();
    for (int size : {0, 1, 0}) {
        const Surface s = size == 0 ? makeSurface(40, 30, 50) : makeSurface(33, 47, 60);
        SCOPED_TRACE(s.W);
        Rgb gpuOut(s.W * s.H), cpuOut(s.W * s.H);
        ASSERT_TRUE(gpuReflection(s, env, settings, gpuOut));
        cpuReflection(s, env, settings, cpuOut);
        for (int c = 0; c < 3; ++c)
            EXPECT_LT(testing::compareFloats(gpuOut.c[c].data(), cpuOut.c[c].data(), s.W * s.H).max,
                      1e-4);
    }
    // The geometry of the revision the device holds is not uploaded again (stale planes on the
    // host do not matter); any other revision is.
    Surface s = makeSurface(40, 30, 50);
    Rgb reference(s.W * s.H), reused(s.W * s.H);
    const std::uint64_t revision = nextContentRevision();
    ASSERT_TRUE(gpuReflection(s, env, settings, reference, revision));
    std::fill(s.heights.begin(), s.heights.end(), 0.0f);
    std::fill(s.alpha.begin(), s.alpha.end(), 0);
    ASSERT_TRUE(gpuReflection(s, env, settings, reused, revision));
    EXPECT_EQ(reused.c[1], reference.c[1]);
    ASSERT_TRUE(gpuReflection(s, env, settings, reused, nextContentRevision()));
    EXPECT_EQ(*std::max_element(reused.c[1].begin(), reused.c[1].end()), 0.0f);

    // Another map on the device (here of another size): a reflection of the first map declines.
    const EnvPlanes other = randomEnv(64, 32, 70);
    ASSERT_TRUE(upload(other));
    EXPECT_FALSE(gpuReflection(s, env, settings, reused));
}

// As on the CPU: a u that the wrap rounds to exactly 1.0 reads column 0 in the smooth planes too.
// The map is 1 in its last column only; the centre pixel's u is -2^-25 before the wrap.
TEST_F(GpuShading, WrapRoundedToOneSamplesColumnZeroInBothPlanes) {
    GpuLockHold hold;
    EnvPlanes env{128, 64, {}, nextContentRevision()};
    for (auto& plane : env.planes) {
        plane.assign(128 * 64, 0.0f);
        for (int y = 0; y < 64; ++y) plane[y * 128 + 127] = 1.0f;
    }
    ASSERT_TRUE(upload(env));
    Surface s{64, 32, std::vector<float>(3 * 64 * 32, 0.0f), std::vector<float>(64 * 32, 0.5f),
              std::vector<std::uint8_t>(64 * 32, 255)};
    for (std::size_t i = 2; i < s.normals.size(); i += 3) s.normals[i] = 1.0f;
    const int centre = 16 * 64 + 32;
    s.normals[3 * centre] = -1e-7f;
    RenderSettings settings{};
    settings.envBlur = 0.5f;
    settings.envScale = 1.0f;
    settings.envDisplacement = 1.0f;
    settings.envRotX = -0.5f;
    Rgb out(64 * 32);
    ASSERT_TRUE(gpuReflection(s, env, settings, out));
    EXPECT_EQ(out.c[0][centre], 0.0f);
}

TEST_F(GpuShading, DispersionSamplesRedAndBlueLinearlyAlongOneRow) {
    GpuLockHold hold;
    // Sharp red and blue that vary linearly in x and not at all in y: there the bicubic and the
    // kernel's linear row sample agree, away from the seam where the map wraps.
    EnvPlanes ramp = randomEnv(128, 64, 80);
    for (int y = 0; y < ramp.H; ++y)
        for (int x = 0; x < ramp.W; ++x) {
            ramp.planes[0][y * ramp.W + x] = 0.1f + 0.8f * x / (ramp.W - 1);
            ramp.planes[2][y * ramp.W + x] = 0.9f - 0.7f * x / (ramp.W - 1);
        }
    RenderSettings settings = baseSettings();
    settings.dispersion = 0.8f;
    settings.envScale = 1.0f;  // keeps u well inside (0, 1)
    settings.envRotX = 0.0f;
    const Surface s = makeSurface(40, 30, 90);
    Rgb gpuOut(s.W * s.H), cpuOut(s.W * s.H);
    ASSERT_TRUE(upload(ramp));
    ASSERT_TRUE(gpuReflection(s, ramp, settings, gpuOut));
    cpuReflection(s, ramp, settings, cpuOut);
    for (int c = 0; c < 3; ++c)
        EXPECT_LT(testing::compareFloats(gpuOut.c[c].data(), cpuOut.c[c].data(), s.W * s.H).max,
                  1e-4);

    // On a detailed map green still agrees while red and blue differ.
    const EnvPlanes detailed = randomEnv(128, 64, 100);
    ASSERT_TRUE(upload(detailed));
    ASSERT_TRUE(gpuReflection(s, detailed, settings, gpuOut));
    cpuReflection(s, detailed, settings, cpuOut);
    EXPECT_LT(testing::compareFloats(gpuOut.c[1].data(), cpuOut.c[1].data(), s.W * s.H).max, 1e-4);
    EXPECT_GT(testing::compareFloats(gpuOut.c[0].data(), cpuOut.c[0].data(), s.W * s.H).max, 0.01);
    EXPECT_GT(testing::compareFloats(gpuOut.c[2].data(), cpuOut.c[2].data(), s.W * s.H).max, 0.01);
}

struct Shaded {
    Rgb out;
    explicit Shaded(int count) : out(count) {}
};

void cpuShade(const Surface& s, const Rgb& refl, const RenderSettings& settings, Rgb& out) {
    ShadeConstants* constants = new ShadeConstants;
    makeShadeConstants(*constants, settings, s.view(), refl.planes(s.W, s.H));
    for (auto& plane : out.c) std::fill(plane.begin(), plane.end(), 0.0f);
    shadeRows(*constants, s.view(), out.planes(s.W, s.H), 0, s.W, 0, s.H,
              isOuterStyle(settings.bevelStyle));
    delete constants;
}

bool gpuShade(const Surface& s, const Rgb& refl, const RenderSettings& settings, Rgb& out, int SS,
              int outW, int outH, int bbL, int bbR, int bbT, int bbB) {
    ShadeConstants* c = new ShadeConstants;
    makeShadeConstants(*c, settings, s.view(), refl.planes(s.W, s.H));
    const bool done =
        gpu::shadeGpu(*c, s.view(), out.planes(outW, outH), SS, isOuterStyle(settings.bevelStyle),
                      {bbL, bbT, bbR - bbL, bbB - bbT, outW, outH}, 0, 0);
    delete c;
    return done;
}

Rgb randomReflection(int count, std::uint32_t seed, float high) {
    Rgb refl(count);
    for (int c = 0; c < 3; ++c) refl.c[c] = testing::randomPlane(count, seed + c, 0.0f, high);
    return refl;
}

TEST_F(GpuShading, ShadingDiffersFromTheCpuOnlyInTheOrderOfCoverageFadeAndClamp) {
    GpuLockHold hold;
    for (float exposure : {0.6f, 3.0f}) {
        SCOPED_TRACE(exposure);
        RenderSettings settings = baseSettings();
        settings.envExposure = exposure;
        const Surface s = makeSurface(44, 36, 110);
        const Rgb refl = randomReflection(s.W * s.H, 120, 1.0f);
        Rgb gpuOut(s.W * s.H), cpuOut(s.W * s.H);
        ASSERT_TRUE(gpuShade(s, refl, settings, gpuOut, 1, s.W, s.H, 0, s.W, 0, s.H));
        cpuShade(s, refl, settings, cpuOut);
        int faded = 0, brighter = 0;
        for (int i = 0; i < s.W * s.H; ++i) {
            float a = s.alpha[i] / 255.0f;
            if (a < 0.01f && s.heights[i] > 0.01f) a = std::min(1.0f, s.heights[i]);
            const float a2 = a < 0.95f ? a * a : 1.0f;
            for (int c = 0; c < 3; ++c) {
                const float g = gpuOut.c[c][i], cpu = cpuOut.c[c][i];
                if (cpu < a2 - 1e-4f) {
                    // Below the clamp both orders give the same colour.
                    ASSERT_NEAR(g, cpu, 2e-4f) << i;
                } else {
                    // Clamped on the CPU before the fade (a^2); the GPU fades first: min(1, c a^2).
                    ++faded;
                    ASSERT_GE(g, cpu - 2e-4f) << i;
                    ASSERT_LE(g, 1.0f);
                    if (g > cpu + 0.01f) ++brighter;
                }
            }
        }
        if (exposure > 1.0f) {
            EXPECT_GT(brighter, 0);  // bright colours at partial coverage: the difference shows
        }
        EXPECT_GT(faded, 0);
    }
}

TEST_F(GpuShading, SupersampledShadingIsTheTwoByTwoMeanInsideTheWindow) {
    GpuLockHold hold;
    const RenderSettings settings = baseSettings();
    const int W = 21, H = 15;  // frame size; the working size is twice that
    const Surface s = makeSurface(2 * W, 2 * H, 130);
    const Rgb refl = randomReflection(s.W * s.H, 140, 1.0f);
    Rgb full(s.W * s.H), reduced(W * H);
    // Window in frame pixels: columns 3 .. 17, rows 2 .. 15 (clipped to the frame).
    ASSERT_TRUE(gpuShade(s, refl, settings, full, 1, s.W, s.H, 6, 34, 4, 40));
    ASSERT_TRUE(gpuShade(s, refl, settings, reduced, 2, W, H, 3, 17, 2, 20));
    for (int c = 0; c < 3; ++c) {
        std::vector<float> expected(W * H);
        Downsample2x(full.c[c].data(), s.W, s.H, expected.data(), W, H);
        EXPECT_LT(testing::compareFloats(reduced.c[c].data(), expected.data(), W * H).max, 1e-6);
        for (int y = 0; y < s.H; ++y)
            for (int x = 0; x < s.W; ++x)
                if (x < 6 || x >= 34 || y < 4) {
                    EXPECT_EQ(full.c[c][y * s.W + x], 0.0f);
                }
    }
    // Another working size makes the group anew and still matches the CPU.
    const Surface small = makeSurface(17, 13, 150);
    const Rgb smallRefl = randomReflection(17 * 13, 160, 0.5f);
    Rgb gpuOut(17 * 13), cpuOut(17 * 13);
    ASSERT_TRUE(gpuShade(small, smallRefl, settings, gpuOut, 1, 17, 13, 0, 17, 0, 13));
    cpuShade(small, smallRefl, settings, cpuOut);
    for (int c = 0; c < 3; ++c)
        EXPECT_LT(testing::compareFloats(gpuOut.c[c].data(), cpuOut.c[c].data(), 17 * 13).max,
                  2e-4);
}

TEST_F(GpuShading, GlowIsTheCpuGlowWithinFloatRounding) {
    GpuLockHold hold;
    const int W = 52, H = 40;
    const std::vector<std::uint8_t> alpha = testing::blobAlpha(W, H, 170);
    const Rgb shade = randomReflection(W * H, 180, 1.0f);
    Rgb glow(W * H);
    std::vector<float> glowA(W * H);
    auto gpuGlow = [&](float radius) {
        return gpu::renderGlowGpu(
            shade.planes(W, H), {alpha.data(), W, H},
            {glow.c[0].data(), glow.c[1].data(), glow.c[2].data(), glowA.data(), W, H}, radius);
    };
    auto cpuGlow = [&](float radius) {
        std::vector<std::vector<float>> planes(12, std::vector<float>(W * H));
        float* work[8];
        for (int i = 0; i < 8; ++i) work[i] = planes[4 + i].data();
        renderGlow(shade.planes(W, H), {alpha.data(), W, H},
                   {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data(), W, H},
                   radius, nullptr, work);
        planes.resize(4);
        return planes;
    };
    // Up to the pass radius cap of 1200 (a radius of 1091 at full scale): 2000 blurs as the cap.
    for (float radius : {1.0f, 7.3f, 26.6f, 500.0f, 2000.0f}) {
        SCOPED_TRACE(radius);
        ASSERT_TRUE(gpuGlow(radius));
        const auto expected = cpuGlow(radius);
        // The running sums round differently on the device; where a blurred value is nearly 0
        // the square root magnifies that rounding, hence the bound on the maximum.
        for (int c = 0; c < 4; ++c) {
            const float* got = c < 3 ? glow.c[c].data() : glowA.data();
            const testing::ErrorMeasure e = testing::compareFloats(got, expected[c].data(), W * H);
            EXPECT_LT(e.max, kGlowMaxError) << "channel " << c;
            EXPECT_LT(e.mean, kGlowMeanError) << "channel " << c;
        }
        EXPECT_LE(*std::max_element(glowA.begin(), glowA.end()), 1.0f);
    }
    // Below 1 the GPU declines (the glow is the bare extraction) and leaves the planes alone.
    const std::vector<float> before = glow.c[0];
    EXPECT_FALSE(gpuGlow(0.99f));
    EXPECT_EQ(glow.c[0], before);
}

}  // namespace
}  // namespace lumet
