// Shared set-up of the render tests: an in-process effect driven by the reference host (so that a
// test can read the frame report and force thread counts), small layers with a letter-like
// shape, and image comparisons.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/entry.h"
#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace lumet::render_test {

// An effect instance in this process: registered, globally set up, parameters declared.
inline std::unique_ptr<refhost::Host> makeInProcessHost() {
    auto host = std::make_unique<refhost::Host>(
        refhost::PluginEntryPoints{&lumet::effectMain, &lumet::pluginDataEntry});
    EXPECT_EQ(host->registerPlugin(), PF_Err_NONE);
    EXPECT_EQ(host->globalSetup(), PF_Err_NONE);
    EXPECT_EQ(host->paramsSetup(), PF_Err_NONE);
    return host;
}

// Premultiplied RGBA of a letter-like shape: a thick ring and a bar, with anti-aliased edges,
// optionally shifted right by `shift` pixels. Colour is white except a darker stripe (so the
// smart edge has colour edges to find).
inline std::vector<float> letterShape(std::int32_t width, std::int32_t height, float shift = 0) {
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4, 0.0f);
    const float cx = width * 0.35f + shift, cy = height * 0.5f;
    const float outer = height * 0.36f, inner = height * 0.16f;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float d = std::hypot(px - cx, py - cy);
            const float ring = std::clamp(std::min(outer - d, d - inner) + 0.5f, 0.0f, 1.0f);
            const float barLeft = width * 0.62f + shift, barRight = width * 0.80f + shift;
            const float bx = std::min(px - barLeft, barRight - px);
            const float by = std::min(py - height * 0.15f, height * 0.85f - py);
            const float bar = std::clamp(std::min(bx, by) + 0.5f, 0.0f, 1.0f);
            const float a = std::max(ring, bar);
            const float shade = (py > cy - 2 && py < cy + 2) ? 0.4f : 1.0f;
            float* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = p[1] = p[2] = shade * a;
            p[3] = a;
        }
    }
    return rgba;
}

inline void setLetterLayer(refhost::Host& host, std::int32_t width, std::int32_t height,
                           int bits = 8, float shift = 0) {
    const std::vector<float> rgba = letterShape(width, height, shift);
    host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), width, height, bits, 12));
}

inline std::vector<float> pixelsOf(const refhost::RenderedFrame& frame, int bits) {
    return refhost::rgbaFromWorld(*frame.output.world(), bits);
}

// One effect instance per test suite (so the environment map is prepared once), reset before each
// test to the defaults with the glow off and a 96 x 48 letter layer at low quality.
class InProcessRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { host_ = makeInProcessHost().release(); }
    static void TearDownTestSuite() {
        delete host_;
        host_ = nullptr;
    }
    void SetUp() override {
        host_->params().resetToDefaults();
        host_->clearFailures();
        host_->params().setValue(PARAM_GLOW_INTENSITY, 0.0);
        setLetterLayer(*host_, 96, 48);
        options_ = refhost::FrameOptions{};
        options_.highQuality = false;
    }

    static inline refhost::Host* host_ = nullptr;
    refhost::FrameOptions options_;
    refhost::RenderedFrame frame_;
};

struct ImageDifference {
    double maxError = 0;
    double meanError = 0;
};

inline ImageDifference compare(const std::vector<float>& a, const std::vector<float>& b) {
    ImageDifference d;
    if (a.size() != b.size() || a.empty()) return {1e9, 1e9};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double e = std::fabs(double(a[i]) - double(b[i]));
        d.maxError = std::max(d.maxError, e);
        d.meanError += e;
    }
    d.meanError /= double(a.size());
    return d;
}

}  // namespace lumet::render_test
