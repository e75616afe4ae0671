// Renders an animation through the built plug-in library twice: as one sequence in one effect
// instance, and frame by frame, each frame in a fresh instance (a fresh load of the library, as a
// render-farm node renders it). A frame must not depend on the frames rendered before it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace lumet::test {

enum class Protocol { kSmart, kPlain };

// How the host renders one frame.
struct FrameConfig {
    Protocol protocol = Protocol::kSmart;
    bool highQuality = false;
    int bits = 8;
};

// Puts the host into the state of one frame (parameters, layers) and says how to render it.
using FrameSetup = std::function<FrameConfig(refhost::Host&, int frame)>;

// Sets an environment variable of this process, or removes it for an empty value.
inline void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (*value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// The built plug-in, registered, set up and with its parameters declared. With cpuOnly the
// library starts without OpenCL (it reads LUMET_OPENCL at global set-up).
inline std::unique_ptr<refhost::Host> freshPlugin(bool cpuOnly) {
    setEnvironment("LUMET_OPENCL", cpuOnly ? "off" : "");
    auto host = std::make_unique<refhost::Host>(LUMET_PLUGIN_PATH);
    EXPECT_EQ(host->registerPlugin(), PF_Err_NONE);
    EXPECT_EQ(host->globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host->paramsSetup(), PF_Err_NONE);
    return host;
}

// Chooses a preset as a user does: the value, then the parameter-change command that applies it.
inline void choosePreset(refhost::Host& host, int preset, int presetParam) {
    host.params().setValue(presetParam, preset);
    EXPECT_EQ(host.changeParam(presetParam), PF_Err_NONE);
}

// The output's pixels (RGBA floats at the depth's scale), or empty when the render failed.
inline std::vector<float> renderFrameOf(refhost::Host& host, const FrameSetup& setup, int frame) {
    host.setTime(frame, 1, 24);
    const FrameConfig config = setup(host, frame);
    refhost::FrameOptions options;
    options.bitsPerChannel = config.bits;
    options.highQuality = config.highQuality;
    refhost::RenderedFrame rendered;
    const PF_Err err = config.protocol == Protocol::kSmart
                           ? refhost::renderSmartFrame(host, options, rendered)
                           : refhost::renderPlainFrame(host, options, rendered);
    EXPECT_EQ(err, PF_Err_NONE) << "frame " << frame;
    if (err != PF_Err_NONE || !rendered.output.world()) return {};
    return refhost::rgbaFromWorld(*rendered.output.world(), config.bits);
}

inline std::vector<std::vector<float>> renderSequence(const FrameSetup& setup, int frames,
                                                      bool cpuOnly) {
    std::unique_ptr<refhost::Host> host = freshPlugin(cpuOnly);
    std::vector<std::vector<float>> result;
    for (int f = 0; f < frames; ++f) result.push_back(renderFrameOf(*host, setup, f));
    return result;
}

inline std::vector<float> renderAlone(const FrameSetup& setup, int frame, bool cpuOnly) {
    std::unique_ptr<refhost::Host> host = freshPlugin(cpuOnly);
    return renderFrameOf(*host, setup, frame);
}

// Largest difference in 8-bit levels (values at the depth's scale, 1.0 = 255 levels); a size
// mismatch counts as the full range.
inline double maxLevels(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size() || a.empty()) return 255.0;
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = std::fabs(double(a[i]) - double(b[i])) * 255.0;
        if (!(d <= worst)) worst = std::isnan(d) ? 255.0 : d;
    }
    return worst;
}

// Renders the sequence, then each listed frame alone in a fresh instance, and returns, per listed
// frame, the largest difference in 8-bit levels between the two.
inline std::vector<double> sequenceVersusAlone(const FrameSetup& setup, int frames,
                                               const std::vector<int>& compared, bool cpuOnly) {
    const std::vector<std::vector<float>> sequence = renderSequence(setup, frames, cpuOnly);
    std::vector<double> result;
    for (int f : compared) {
        result.push_back(
            maxLevels(sequence[static_cast<std::size_t>(f)], renderAlone(setup, f, cpuOnly)));
    }
    return result;
}

// Premultiplied RGBA of a word-like layer: three thick letters (a ring, a bar, an arch) with
// anti-aliased edges, in the given flat colour, shifted right by `shift` pixels.
inline std::vector<float> wordLayer(std::int32_t width, std::int32_t height, float red = 1.0f,
                                    float green = 1.0f, float blue = 1.0f, float shift = 0.0f) {
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4, 0.0f);
    const float h = static_cast<float>(height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const float px = x + 0.5f - shift, py = y + 0.5f;
            const float ringD = std::hypot(px - 0.22f * width, py - 0.5f * h);
            const float ring = std::min(0.34f * h - ringD, ringD - 0.15f * h);
            const float bx = std::min(px - 0.45f * width, 0.56f * width - px);
            const float by = std::min(py - 0.16f * h, 0.84f * h - py);
            const float bar = std::min(bx, by);
            const float archD = std::hypot(px - 0.78f * width, py - 0.84f * h);
            const float arch = std::min({0.6f * h - archD, archD - 0.42f * h, 0.84f * h - py});
            const float a = std::clamp(std::max({ring, bar, arch}) + 0.5f, 0.0f, 1.0f);
            float* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = red * a;
            p[1] = green * a;
            p[2] = blue * a;
            p[3] = a;
        }
    }
    return rgba;
}

}  // namespace lumet::test
