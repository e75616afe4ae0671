// Previews: a frame the host renders at a fraction of the resolution (its layer area-averaged down,
// the downsample factors set) against the full-resolution frame area-averaged down the same way,
// flattened on black in 8 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "params/param_ids.h"
#include "render_harness.h"

namespace lumet {
namespace {

struct PreviewDifference {
    double mean = 0;
    int p99 = 0;
};

int level(float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

PreviewDifference previewDifference(const refhost::RenderedFrame& full,
                                    const refhost::RenderedFrame& preview, int factor) {
    const std::vector<float> reference = refhost::areaAverage(
        render_test::pixelsOf(full, 8), full.output.width(), full.output.height(), factor, factor,
        full.inputX - preview.inputX * factor, full.inputY - preview.inputY * factor,
        preview.output.width(), preview.output.height());
    const std::vector<float> shown = render_test::pixelsOf(preview, 8);
    std::vector<int> differences;
    for (std::size_t i = 0; i < shown.size(); i += 4) {
        int a[3], b[3];
        for (int c = 0; c < 3; ++c) a[c] = level(reference[i + c]), b[c] = level(shown[i + c]);
        for (int c = 0; c < 3; ++c) differences.push_back(std::abs(a[c] - b[c]));
    }
    std::sort(differences.begin(), differences.end());
    double sum = 0;
    for (int d : differences) sum += d;
    return {sum / static_cast<double>(differences.size()),
            differences[(differences.size() - 1) * 99 / 100]};
}

using PreviewTest = render_test::InProcessRenderTest;

TEST_F(PreviewTest, FramesAtTheHostsDownsampleFactorsLookLikeTheRenderScaledDown) {
    // The bounds hold today's figures with a little room: a pixel size left unscaled (a bevel,
    // a blur, the glow or the margin twice as wide as the render's) exceeds them many times; an
    // outer surface's rim from the host's blurred edge (not sharpened back, or point-sampled at
    // a quarter resolution) twice.
    struct Case {
        int style;
        float glow;
        int factor;
        double mean;
        int p99;
    };
    const Case cases[] = {{kInnerBevel, 0.0f, 2, 2.7, 40}, {kOuterBevel, 0.0f, 2, 0.12, 1},
                          {kEmboss, 0.0f, 3, 0.15, 1},     {kInnerBevel, 0.6f, 4, 0.2, 3},
                          {kOuterBevel, 0.0f, 4, 0.09, 0}, {kPillow, 0.0f, 3, 0.1, 0}};
    render_test::setLetterLayer(*host_, 240, 120);
    options_.highQuality = true;
    for (const Case& c : cases) {
        host_->params().setValue(PARAM_BEVEL_STYLE, c.style);
        host_->params().setValue(PARAM_GLOW_INTENSITY, c.glow);
        options_.downsampleX = options_.downsampleY = 1;
        refhost::RenderedFrame full;
        ASSERT_EQ(refhost::renderSmartFrame(*host_, options_, full), PF_Err_NONE);
        options_.downsampleX = options_.downsampleY = c.factor;
        ASSERT_EQ(refhost::renderSmartFrame(*host_, options_, frame_), PF_Err_NONE);
        const PreviewDifference d = previewDifference(full, frame_, c.factor);
        SCOPED_TRACE(testing::Message()
                     << "style " << c.style << " glow " << c.glow << " 1/" << c.factor);
        EXPECT_LE(d.mean, c.mean);
        EXPECT_LE(d.p99, c.p99);
        // The layer's size and the margin, each scaled and rounded up.
        const int f = c.factor, margin = (full.output.width() - 240) / 2;
        EXPECT_EQ(frame_.output.width(), (240 + f - 1) / f + 2 * ((margin + f - 1) / f));
    }
}

}  // namespace
}  // namespace lumet
