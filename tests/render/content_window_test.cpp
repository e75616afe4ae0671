// The content window against the whole canvas: random layers (shapes of every size, touching the
// layer's edges, empty, full) under random styles, depths, smart edge, glow, quality, bit depth
// and protocol are rendered through the host, where the stages run over the content window, and
// again by the same stages run over the whole working canvas, here in the test. The frames must be
// the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "host/host_worlds.h"
#include "support/world_view.h"
#include "geometry/alpha_extraction.h"
#include "render/frame_report.h"
#include "render/geometry_sequence.h"
#include "render_harness.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"
#include "support/shading_inputs.h"

namespace lumet {
namespace {

// What the windowed frame was made from: its settings (as the stages took them), layout and
// environment map.
struct Captured {
    bool seen = false;
    RenderSettings settings{};
    std::int32_t W = 0, H = 0, SS = 1, dx = 0, dy = 0;
    FrameWindow window;
    std::vector<float> env[6];
    std::int32_t envW = 0, envH = 0;
};

void capture(void* context, const FramePlanes& p) {
    auto& c = *static_cast<Captured*>(context);
    c.seen = true;
    c.settings = *p.settings;
    c.W = p.W, c.H = p.H, c.SS = p.SS, c.dx = p.dx, c.dy = p.dy;
    c.window = p.window;
    c.envW = p.envW, c.envH = p.envH;
    const std::size_t count = static_cast<std::size_t>(p.envW) * p.envH;
    for (auto& plane : c.env) plane.resize(count);
    deinterleaveRgb(p.envSharpRgb, static_cast<std::int64_t>(count), c.env[0].data(),
                    c.env[1].data(), c.env[2].data());
    deinterleaveRgb(p.envSmoothRgb, static_cast<std::int64_t>(count), c.env[3].data(),
                    c.env[4].data(), c.env[5].data());
}

// The frame computed over the whole canvas: every stage over every pixel of the frame.
refhost::OwnedWorld wholeCanvasFrame(const Captured& c, const PF_EffectWorld& input, int bits) {
    const RenderSettings& s = c.settings;
    const std::int32_t W = c.W, H = c.H, SS = c.SS, W2 = W * SS, H2 = H * SS;
    const std::size_t N = static_cast<std::size_t>(W) * H, N2 = static_cast<std::size_t>(W2) * H2;
    const std::int32_t depth = pixelDepthOf(input);
    std::vector<std::uint8_t> alpha(N), alphaSS(N2);
    const ImageView layer = viewOfWorld(input, depth);
    extractAlpha(layer, c.dx, c.dy, alpha.data(), W, H);
    EXPECT_TRUE(smoothAlphaEdgesInPlace(alpha.data(), W, H));
    std::vector<float> height(N2), normals(3 * N2);
    EXPECT_TRUE(runGeometrySequence({alpha.data(), W, H}, {alphaSS.data(), W2, H2},
                                    {height.data(), W2, H2}, {normals.data(), W2, H2, 3}, SS, 1.0f,
                                    s, {layer, c.dx, c.dy}, false));
    const std::uint8_t* coverage = SS == 2 ? alphaSS.data() : alpha.data();

    std::vector<float> refl[3] = {std::vector<float>(N2), std::vector<float>(N2),
                                  std::vector<float>(N2)};
    const SurfaceView surface(coverage, height.data(), normals.data(), W2, H2);
    const test::EnvMapOver envMap(c.env[0].data(), c.env[1].data(), c.env[2].data(),
                                  c.env[3].data(), c.env[4].data(), c.env[5].data(), c.envW,
                                  c.envH);
    renderEnvReflection(surface, {refl[0].data(), refl[1].data(), refl[2].data(), W2, H2},
                        FrameWindow::whole(W2, H2), SS * input.width, SS * input.height, s,
                        envMap.map());
    auto constants = std::make_unique<ShadeConstants>();
    makeShadeConstants(
        *constants, s, surface,
        RgbPlanes<const float>(refl[0].data(), refl[1].data(), refl[2].data(), W2, H2), 1.0f);
    std::vector<float> working[3], shade[3];
    for (int i = 0; i < 3; ++i) working[i].assign(N2, 0.0f), shade[i].assign(N, 0.0f);
    shadeWindow(*constants, surface,
                {working[0].data(), working[1].data(), working[2].data(), W2, H2},
                isOuterStyle(s.bevelStyle));
    for (int i = 0; i < 3; ++i) {
        if (SS == 2)
            Downsample2x(working[i].data(), W2, H2, shade[i].data(), W, H);
        else
            shade[i] = working[i];
    }
    const bool hasGlow = s.glowIntensity > 0.05f;
    std::vector<float> glow[4], work[kGlowMostWorkPlanes];
    float* workPlanes[kGlowMostWorkPlanes];
    for (auto& plane : glow) plane.assign(N, 0.0f);
    for (int k = 0; k < kGlowMostWorkPlanes; ++k)
        work[k].assign(N, 0.0f), workPlanes[k] = work[k].data();
    if (hasGlow) {
        renderGlow({shade[0].data(), shade[1].data(), shade[2].data(), W, H}, {alpha.data(), W, H},
                   {glow[0].data(), glow[1].data(), glow[2].data(), glow[3].data(), W, H},
                   s.glowRadius, nullptr, workPlanes);
    }
    refhost::OwnedWorld out(W, H, bits);
    const FrameWindow whole = FrameWindow::whole(W, H);
    const RgbaPlanes<const float> glowPlanes =
        hasGlow ? RgbaPlanes<const float>(glow[0].data(), glow[1].data(), glow[2].data(),
                                          glow[3].data(), W, H)
                : RgbaPlanes<const float>();
    composeOutput(whole, whole, {shade[0].data(), shade[1].data(), shade[2].data(), W, H},
                  glowPlanes, {alpha.data(), W, H}, {height.data(), W2, H2}, envMap.map(), s, SS,
                  viewOfWorld(*out.world(), bits == 32   ? kFormat32
                                            : bits == 16 ? kFormat16
                                                         : kFormat8));
    return out;
}

// A random layer: the letter shape shifted anywhere (often across the layer's edges), a few
// ellipses and bars (some touching the edges), or an empty or fully covered layer.
std::vector<float> randomLayer(std::mt19937& rng, std::int32_t w, std::int32_t h,
                               std::string& what) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int kind = static_cast<int>(rng() % 10);
    if (kind == 0) {
        what = "empty";
        return std::vector<float>(static_cast<std::size_t>(w) * h * 4, 0.0f);
    }
    if (kind == 1) {
        what = "full";
        std::vector<float> rgba(static_cast<std::size_t>(w) * h * 4, 1.0f);
        for (std::size_t i = 0; i < rgba.size(); i += 4) rgba[i] = 0.3f;  // a colour edge-free fill
        return rgba;
    }
    if (kind < 5) {
        const float shift = (unit(rng) - 0.5f) * w;
        what = "letter shifted " + std::to_string(shift);
        return render_test::letterShape(w, h, shift);
    }
    what = "blobs";
    std::vector<float> rgba(static_cast<std::size_t>(w) * h * 4, 0.0f);
    const int blobs = 1 + static_cast<int>(rng() % 4);
    for (int b = 0; b < blobs; ++b) {
        const float cx = unit(rng) * w, cy = unit(rng) * h;
        const float rx = 1.0f + unit(rng) * w * 0.4f, ry = 1.0f + unit(rng) * h * 0.4f;
        const bool bar = rng() % 2 == 0;
        const float colour = 0.2f + 0.8f * unit(rng);
        for (std::int32_t y = 0; y < h; ++y) {
            for (std::int32_t x = 0; x < w; ++x) {
                const float u = (x + 0.5f - cx) / rx, v = (y + 0.5f - cy) / ry;
                const float inside = bar ? std::min(1.0f - std::fabs(u), 1.0f - std::fabs(v))
                                         : 1.0f - std::hypot(u, v);
                const float a = std::clamp(inside * std::min(rx, ry) + 0.5f, 0.0f, 1.0f);
                float* p = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
                if (a > p[3]) p[0] = p[1] = p[2] = colour * a, p[3] = a;
            }
        }
    }
    return rgba;
}

TEST(ContentWindow, WindowedFramesAreTheWholeCanvasFrames) {
    auto host = render_test::makeInProcessHost();
    Captured captured;
    setFrameObserver(&capture, &captured);
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int cases = 28;
    int windowed = 0;
    for (int n = 0; n < cases; ++n) {
        host->params().resetToDefaults();
        const std::int32_t w = 6 + static_cast<std::int32_t>(rng() % 90);
        const std::int32_t h = 6 + static_cast<std::int32_t>(rng() % 60);
        const int bits = std::array<int, 3>{8, 16, 32}[rng() % 3];
        std::string shape;
        const std::vector<float> rgba = randomLayer(rng, w, h, shape);
        host->setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), w, h, bits));
        const refhost::OwnedWorld input = refhost::worldFromRgba(rgba.data(), w, h, bits);
        const int style = 1 + static_cast<int>(rng() % 5);
        host->params().setValue(PARAM_BEVEL_STYLE, style);
        host->params().setValue(PARAM_EDGE_PROFILE, 1 + static_cast<int>(rng() % 5));
        host->params().setValue(PARAM_BEVEL_DEPTH, 10 + 190 * unit(rng));
        host->params().setValue(PARAM_BEVEL_SOFTNESS, rng() % 3 == 0 ? 0.0 : 100 * unit(rng));
        host->params().setValue(PARAM_SMART_EDGE, rng() % 3 == 0 ? 1 : 0);
        host->params().setValue(PARAM_EDGE_STRENGTH, 100 * unit(rng));
        host->params().setValue(PARAM_LIGHT_ANGLE, 360 * unit(rng));
        host->params().setValue(PARAM_ANISOTROPY, rng() % 4 == 0 ? 100 * unit(rng) : 0.0);
        host->params().setValue(PARAM_DISPERSION, rng() % 4 == 0 ? 100 * unit(rng) : 0.0);
        const bool glow = rng() % 2 == 0;
        host->params().setValue(PARAM_GLOW_INTENSITY, glow ? 0.1 + 2.0 * unit(rng) : 0.0);
        host->params().setValue(PARAM_GLOW_RADIUS, 40 * unit(rng));
        refhost::FrameOptions options;
        options.bitsPerChannel = bits;
        options.highQuality = rng() % 3 == 0;
        const bool plain = rng() % 4 == 0;  // the plain protocol (always Inner Bevel)
        std::ostringstream what;
        what << "case " << n << ": " << w << " x " << h << " " << shape << ", " << bits << " bpc, "
             << (options.highQuality ? "high" : "low") << " quality, "
             << (plain ? "plain" : "smart") << ", style " << style << ", glow " << glow;
        SCOPED_TRACE(what.str());

        captured.seen = false;
        refhost::RenderedFrame frame;
        ASSERT_EQ(plain ? refhost::renderPlainFrame(*host, options, frame)
                        : refhost::renderSmartFrame(*host, options, frame),
                  PF_Err_NONE);
        ASSERT_TRUE(captured.seen);
        if (!captured.window.isWhole()) ++windowed;
        const refhost::OwnedWorld whole = wholeCanvasFrame(captured, *input.world(), bits);
        const std::vector<float> got = render_test::pixelsOf(frame, bits);
        const std::vector<float> want = refhost::rgbaFromWorld(*whole.world(), bits);
        ASSERT_EQ(got.size(), want.size());
        std::size_t differ = 0;
        for (std::size_t i = 0; i < got.size(); ++i) differ += got[i] != want[i];
        EXPECT_EQ(differ, 0u);
    }
    setFrameObserver(nullptr, nullptr);
    // Most frames must really have been windowed, or the comparison proves little.
    EXPECT_GT(windowed, cases / 2);
}

}  // namespace
}  // namespace lumet
