// GPU shading operations against their CPU forms, bit for bit: the reflection (dispersion, the
// window's place and the rows the CPU skips included), the shading (coverage fade, outer styles,
// the 2 x 2 reduction, the window), the glow; and the buffer groups kept between calls, matched
// to their inputs by content revision.
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
    const std::int64_t texels = std::int64_t{env.W} * env.H;
    std::vector<float> sharp(interleavedFloats(texels)), smooth(sharp.size());
    interleaveRgb(env.planes[0].data(), env.planes[1].data(), env.planes[2].data(), texels,
                  sharp.data());
    interleaveRgb(env.planes[3].data(), env.planes[4].data(), env.planes[5].data(), texels,
                  smooth.data());
    return gpu::uploadEnvMapGpu(sharp.data(), smooth.data(), env.W, env.H, env.revision);
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
    bool operator==(const Rgb& other) const {
        return testing::sameBits(c[0], other.c[0]) && testing::sameBits(c[1], other.c[1]) &&
               testing::sameBits(c[2], other.c[2]);
    }
};

// The surface is the window (W x H) at `corner` of a frame twice its size.
FrameWindow windowOf(const Surface& s, int cornerX, int cornerY) {
    return {cornerX, cornerY, s.W, s.H, 2 * s.W, 2 * s.H};
}

void cpuReflection(const Surface& s, const EnvPlanes& env, const RenderSettings& settings, Rgb& out,
                   const FrameWindow& window) {
    renderEnvReflection(s.view(), out.planes(s.W, s.H), window, s.W, s.H, settings,
                        test::EnvMapOver(env.planes[0].data(), env.planes[1].data(),
                                         env.planes[2].data(), env.planes[3].data(),
                                         env.planes[4].data(), env.planes[5].data(), env.W, env.H)
                            .map());
}

// Geometry revision 0 always uploads the surface.
bool gpuReflection(const Surface& s, const EnvPlanes& env, const RenderSettings& settings, Rgb& out,
                   std::uint64_t geometryRevision = 0, FrameWindow window = {}) {
    if (window.width == 0) window = FrameWindow::whole(s.W, s.H);
    return gpu::renderEnvReflectionGpu(s.view(), out.planes(s.W, s.H), window, s.W, s.H, settings,
                                       env.W, env.H, env.revision, geometryRevision);
}

// Sizes, window corners (an odd column moves the columns the empty-row test reads), dispersion,
// a fully blurred map and rows whose only surface lies in columns that test does not read.
TEST_F(GpuShading, ReflectionIsTheCpuReflectionToTheBit) {
    GpuLockHold hold;
    const EnvPlanes env = randomEnv(96, 48, 40);
    ASSERT_TRUE(upload(env));
    struct Case {
        int W, H, cornerX, cornerY;
        float dispersion, blur;
    };
    const Case cases[] = {{40, 30, 0, 0, 0.0f, 0.3f},  {33, 47, 7, 3, 0.0f, 0.3f},
                          {40, 30, 1, 5, 0.8f, 0.3f},  {33, 47, 0, 0, 0.35f, 1.0f},
                          {41, 29, 12, 2, 0.0f, 0.0f}, {40, 30, 3, 0, 1.0f, 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.W << " x " << c.H << " at " << c.cornerX);
        RenderSettings settings = baseSettings();
        settings.dispersion = c.dispersion;
        settings.envBlur = c.blur;
        Surface s = makeSurface(c.W, c.H, 50 + c.W);
        // Rows 2 and 3: surface only in the odd columns, then only in the even ones.
        for (int row = 2; row <= 3; ++row)
            for (int x = 0; x < s.W; ++x) {
                const bool keep = (x % 2 == 1) == (row == 2);
                s.alpha[row * s.W + x] = keep ? 200 : 0;
                s.heights[row * s.W + x] = keep ? 0.5f : 0.0f;
            }
        const FrameWindow window = windowOf(s, c.cornerX, c.cornerY);
        Rgb gpuOut(s.W * s.H), cpuOut(s.W * s.H);
        ASSERT_TRUE(gpuReflection(s, env, settings, gpuOut, 0, window));
        cpuReflection(s, env, settings, cpuOut, window);
        EXPECT_TRUE(gpuOut == cpuOut);
    }
    // The geometry of the revision the device holds is not uploaded again (stale planes on the
    // host do not matter); any other revision is.
    const RenderSettings settings = baseSettings();
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

// Inner and outer styles, dim and bright exposures (the clamp before the coverage fade), glass
// scatter, desaturation and contrast both ways, and rows whose only raised pixels lie outside the
// coverage (cleared unless the style reaches outside it).
TEST_F(GpuShading, ShadingIsTheCpuShadingToTheBit) {
    GpuLockHold hold;
    struct Case {
        int style;
        float exposure, opacity, saturation, contrast;
    };
    const Case cases[] = {{1, 0.6f, 1.0f, 1.0f, 0.5f},
                          {2, 3.0f, 0.7f, 0.9f, 0.6f},
                          {1, 1.0f, 0.2f, 0.3f, 0.9f},
                          {5, 1.7f, 1.0f, 1.0f, 0.2f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "style " << c.style << ", exposure " << c.exposure);
        RenderSettings settings = baseSettings();
        settings.bevelStyle = c.style;
        settings.envExposure = c.exposure;
        settings.opacity = c.opacity;
        settings.saturation = c.saturation;
        settings.envContrast = c.contrast;
        Surface s = makeSurface(44, 36, 110 + c.style);
        for (int x = 0; x < s.W; ++x) {
            s.alpha[5 * s.W + x] = 0;
            s.heights[5 * s.W + x] = x % 3 == 0 ? 0.4f : 0.0f;
        }
        const Rgb refl = randomReflection(s.W * s.H, 120, 1.0f);
        Rgb gpuOut(s.W * s.H), cpuOut(s.W * s.H);
        ASSERT_TRUE(gpuShade(s, refl, settings, gpuOut, 1, s.W, s.H, 0, s.W, 0, s.H));
        cpuShade(s, refl, settings, cpuOut);
        EXPECT_TRUE(gpuOut == cpuOut);
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
        EXPECT_TRUE(testing::sameBits(reduced.c[c], expected));
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
    EXPECT_TRUE(gpuOut == cpuOut);
}

TEST_F(GpuShading, GlowIsTheCpuGlowToTheBit) {
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
        for (int c = 0; c < 4; ++c)
            EXPECT_TRUE(testing::sameBits(c < 3 ? glow.c[c] : glowA, expected[c])) << c;
        EXPECT_LE(*std::max_element(glowA.begin(), glowA.end()), 1.0f);
    }
    // Below 1 the GPU declines (the glow is the bare extraction) and leaves the planes alone.
    const std::vector<float> before = glow.c[0];
    EXPECT_FALSE(gpuGlow(0.99f));
    EXPECT_EQ(glow.c[0], before);
}

}  // namespace
}  // namespace lumet
