// Golden images: small frames through the plug-in binary, as a host loads it, for several
// presets, bevel styles, qualities, depths and both protocols, compared with reference images in
// tests/data/golden with a tolerance (maximum and mean error). The references are regenerated
// only deliberately: LUMET_UPDATE_GOLDEN=1 rewrites them from the current build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace {

using namespace lumet;

// A letter-like layer: a ring and a bar with anti-aliased edges, white, premultiplied.
std::vector<float> layerPixels(std::int32_t width, std::int32_t height) {
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4, 0.0f);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float d = std::hypot(px - width * 0.33f, py - height * 0.5f);
            const float ring =
                std::clamp(std::min(height * 0.38f - d, d - height * 0.15f) + 0.5f, 0.0f, 1.0f);
            const float bx = std::min(px - width * 0.64f, width * 0.84f - px);
            const float by = std::min(py - height * 0.12f, height * 0.88f - py);
            const float bar = std::clamp(std::min(bx, by) + 0.5f, 0.0f, 1.0f);
            const float a = std::max(ring, bar);
            float* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = p[1] = p[2] = p[3] = a;
        }
    }
    return rgba;
}

struct GoldenCase {
    const char* name;
    int preset;  // 1..9
    int bevelStyle;
    bool highQuality;
    int bits;
    bool smart;
    bool glowOff;
};

const GoldenCase kCases[] = {
    {"gold_inner_high_8", 1, kInnerBevel, true, 8, true, true},
    {"gold_glow_low_8", 1, kInnerBevel, false, 8, true, false},
    {"silver_outer_low_16", 2, kOuterBevel, false, 16, true, true},
    {"copper_pillow_low_8", 5, kPillow, false, 8, true, true},
    {"diamond_inner_low_32", 9, kInnerBevel, false, 32, true, true},
    {"black_chrome_plain_high_8", 8, kInnerBevel, true, 8, false, true},
    {"brushed_steel_emboss_low_16", 7, kEmboss, false, 16, true, true},
};

constexpr std::int32_t kWidth = 96, kHeight = 48;

// 16-bit PAM (P7, RGB_ALPHA), premultiplied values clamped to 0..1.
void writePam(const std::string& path, const std::vector<float>& rgba, std::int32_t w,
              std::int32_t h) {
    std::ofstream out(path, std::ios::binary);
    out << "P7\nWIDTH " << w << "\nHEIGHT " << h
        << "\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (float v : rgba) {
        const unsigned q = static_cast<unsigned>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
        out.put(static_cast<char>(q >> 8)).put(static_cast<char>(q & 0xFF));
    }
}

bool readPam(const std::string& path, std::vector<float>& rgba, std::int32_t& w, std::int32_t& h) {
    std::ifstream in(path, std::ios::binary);
    std::string token;
    int depth = 0, maxval = 0;
    if (!(in >> token) || token != "P7") return false;
    while (in >> token && token != "ENDHDR") {
        if (token == "WIDTH") in >> w;
        if (token == "HEIGHT") in >> h;
        if (token == "DEPTH") in >> depth;
        if (token == "MAXVAL") in >> maxval;
        if (token == "TUPLTYPE") in >> token;
    }
    in.get();
    if (depth != 4 || maxval != 65535 || w < 1 || h < 1) return false;
    rgba.resize(static_cast<std::size_t>(w) * h * 4);
    for (float& v : rgba) {
        const int hi = in.get(), lo = in.get();
        if (!in) return false;
        v = static_cast<float>((hi << 8) | lo) / 65535.0f;
    }
    return true;
}

// The output cut to the layer's frame, as the command line writes it.
std::vector<float> layerFrame(const refhost::RenderedFrame& frame, int bits) {
    const std::vector<float> all = refhost::rgbaFromWorld(*frame.output.world(), bits);
    std::vector<float> cut(static_cast<std::size_t>(kWidth) * kHeight * 4, 0.0f);
    const std::int32_t W = frame.output.width();
    for (std::int32_t y = 0; y < kHeight; ++y) {
        for (std::int32_t x = 0; x < kWidth; ++x) {
            const std::size_t from =
                (static_cast<std::size_t>(y + frame.inputY) * W + x + frame.inputX) * 4;
            for (int c = 0; c < 4; ++c) {
                cut[(static_cast<std::size_t>(y) * kWidth + x) * 4 + c] = all[from + c];
            }
        }
    }
    return cut;
}

TEST(GoldenRender, FramesMatchTheirReferenceImages) {
    refhost::Host host(LUMET_PLUGIN_PATH);
    ASSERT_EQ(host.registerPlugin(), PF_Err_NONE);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
    const bool update = std::getenv("LUMET_UPDATE_GOLDEN") != nullptr;
    const std::vector<float> layer = layerPixels(kWidth, kHeight);
    for (const GoldenCase& c : kCases) {
        SCOPED_TRACE(c.name);
        host.params().resetToDefaults();
        host.params().setValue(PARAM_PRESET, c.preset);
        ASSERT_EQ(host.changeParam(PARAM_PRESET), PF_Err_NONE);
        host.params().setValue(PARAM_BEVEL_STYLE, c.bevelStyle);
        if (c.glowOff) host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
        host.setLayer(PARAM_INPUT, refhost::worldFromRgba(layer.data(), kWidth, kHeight, c.bits));
        refhost::FrameOptions options;
        options.bitsPerChannel = c.bits;
        options.highQuality = c.highQuality;
        refhost::RenderedFrame frame;
        const PF_Err err = c.smart ? refhost::renderSmartFrame(host, options, frame)
                                   : refhost::renderPlainFrame(host, options, frame);
        ASSERT_EQ(err, PF_Err_NONE);
        const std::vector<float> pixels = layerFrame(frame, c.bits);
        const std::string path = std::string(LUMET_TEST_DATA_DIR) + "/golden/" + c.name + ".pam";
        if (update) {
            writePam(path, pixels, kWidth, kHeight);
            continue;
        }
        std::vector<float> reference;
        std::int32_t w = 0, h = 0;
        ASSERT_TRUE(readPam(path, reference, w, h)) << path << " (LUMET_UPDATE_GOLDEN=1 makes it)";
        ASSERT_EQ(w, kWidth);
        ASSERT_EQ(h, kHeight);
        double maxError = 0, meanError = 0, coverage = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const double e = std::fabs(std::clamp(double(pixels[i]), 0.0, 1.0) - reference[i]);
            maxError = std::max(maxError, e);
            meanError += e;
            if (i % 4 == 3) coverage += reference[i];
        }
        meanError /= double(pixels.size());
        EXPECT_LE(maxError, 4.0 / 255);
        EXPECT_LE(meanError, 0.25 / 255);
        EXPECT_GT(coverage, 300.0);  // the reference shows the surface, not an empty frame
    }
}

}  // namespace
