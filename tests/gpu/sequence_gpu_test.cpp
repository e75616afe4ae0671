// Frames rendered on the OpenCL device through the built plug-in: the same frame alone or after
// other frames (whichever path or device made the device's kept copies), and the device's frame
// against the CPU's, glow included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "params/param_ids.h"
#include "support/random_animation.h"
#include "support/sequence_render.h"

namespace lumet {
namespace {

using test::FrameConfig;
using test::Protocol;

constexpr bool kOpenCl = false;  // freshPlugin(cpuOnly = false)

// Device frame against CPU frame, glow on: the mean difference in 8-bit levels and the share of
// values more than 8 levels apart.
constexpr double kFrameMeanLevels = 0.1;
constexpr double kFrameShareOverEight = 0.002;

void setWord(refhost::Host& host, std::int32_t width, std::int32_t height) {
    const std::vector<float> rgba = test::wordLayer(width, height);
    host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), width, height, 8, 12));
}

TEST(OpenClSequence, DeviceCopiesFollowTheFrameNotTheDirtyFlags) {
    // Anisotropy 0 -> 50 -> 0 while the bevel changes with the middle frame, whose reflection
    // runs on the CPU: the last frame must reflect the new surface.
    for (const Protocol protocol : {Protocol::kSmart, Protocol::kPlain}) {
        const test::FrameSetup anisotropy = [protocol](refhost::Host& host, int frame) {
            setWord(host, 96, 48);
            test::choosePreset(host, 1, PARAM_PRESET);  // Gold
            host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
            host.params().setValue(PARAM_ANISOTROPY, frame == 1 ? 50.0 : 0.0);
            host.params().setValue(PARAM_BEVEL_DEPTH, frame == 0 ? 150.0 : 40.0);
            return FrameConfig{protocol, false, 8};
        };
        EXPECT_EQ(test::sequenceVersusAlone(anisotropy, 3, {2}, kOpenCl)[0], 0.0)
            << "protocol " << static_cast<int>(protocol);
    }
    // The two protocols share the device's map and geometry copies: a plain frame after a smart
    // one with another map and bevel, then plain again with its own map and bevel kept.
    const test::FrameSetup alternating = [](refhost::Host& host, int frame) {
        setWord(host, 96, 48);
        host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
        host.params().setValue(PARAM_HDRI_MAP, frame == 1 ? 2 : 1);
        host.params().setValue(PARAM_BEVEL_DEPTH, frame == 1 ? 150.0 : 40.0);
        host.params().setValue(PARAM_ROTATION_X, frame == 2 ? 10.0 : 0.0);
        return FrameConfig{frame == 1 ? Protocol::kSmart : Protocol::kPlain, false, 8};
    };
    EXPECT_EQ(test::sequenceVersusAlone(alternating, 3, {2}, kOpenCl)[0], 0.0);
}

// The device frame against the CPU frame of the same settings, in 8-bit levels.
struct Agreement {
    double max = 0, mean = 0, overEight = 0;  // overEight: fraction of values off by more than 8
};

Agreement compareLevels(const std::vector<float>& a, const std::vector<float>& b) {
    Agreement g;
    if (a.size() != b.size() || a.empty()) return {255, 255, 1};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = std::fabs(double(a[i]) - double(b[i])) * 255.0;
        g.max = std::max(g.max, d);
        g.mean += d;
        if (d > 8.0) g.overEight += 1;
    }
    g.mean /= double(a.size());
    g.overEight /= double(a.size());
    return g;
}

TEST(OpenClSequence, DeviceFrameWithGlowIsTheCpuFrame) {
    for (const Protocol protocol : {Protocol::kSmart, Protocol::kPlain}) {
        const test::FrameSetup gold = [protocol](refhost::Host& host, int) {
            setWord(host, 128, 64);
            test::choosePreset(host, 1, PARAM_PRESET);
            host.params().setValue(PARAM_GLOW_INTENSITY, 3.0);
            host.params().setValue(PARAM_GLOW_RADIUS, 20.0);
            return FrameConfig{protocol, true, 32};
        };
        const Agreement g =
            compareLevels(test::renderAlone(gold, 0, kOpenCl), test::renderAlone(gold, 0, true));
        SCOPED_TRACE(static_cast<int>(protocol));
        // The stages' own kernel differences (shading's order of fade and clamp, float
        // rounding) move a few edge pixels; the glow adds nothing to that.
        EXPECT_LT(g.mean, kFrameMeanLevels);
        EXPECT_LT(g.overEight, kFrameShareOverEight);
    }
}

// Random animations on the device: every frame of the sequence equals the frame rendered alone on
// the device, and agrees with the CPU's frame within the device tolerance above.
// LUMET_SEQUENCE_GPU_ANIMATIONS and LUMET_SEQUENCE_FRAMES set a longer run.
TEST(OpenClSequence, RandomAnimationsGiveEveryFrameAlone) {
    const int animations = test::environmentCount("LUMET_SEQUENCE_GPU_ANIMATIONS", 3);
    const int frames = test::environmentCount("LUMET_SEQUENCE_FRAMES", 3);
    const int firstSeed = test::environmentCount("LUMET_SEQUENCE_SEED", 1);
    int cleanFrames = 0;
    for (int n = 0; n < animations; ++n) {
        const test::RandomAnimation animation =
            test::randomAnimation(static_cast<std::uint32_t>(1000 + firstSeed + n), frames, true);
        const test::FrameSetup setup = [&animation](refhost::Host& host, int frame) {
            return animation.apply(host, frame);
        };
        const std::vector<std::vector<float>> sequence =
            test::renderSequence(setup, frames, kOpenCl);
        for (int f = 0; f < frames; ++f) {
            const std::vector<float>& inSequence = sequence[static_cast<std::size_t>(f)];
            const double worst = test::maxLevels(inSequence, test::renderAlone(setup, f, kOpenCl));
            const Agreement g = compareLevels(inSequence, test::renderAlone(setup, f, true));
            EXPECT_EQ(worst, 0.0) << "frame " << f << " of " << animation.describe();
            EXPECT_LT(g.mean, kFrameMeanLevels) << "frame " << f << " of " << animation.describe();
            EXPECT_LT(g.overEight, kFrameShareOverEight)
                << "frame " << f << " of " << animation.describe();
            if (worst == 0.0 && g.mean < kFrameMeanLevels && g.overEight < kFrameShareOverEight)
                ++cleanFrames;
        }
    }
    std::printf("%d random animations on the device, %d of %d frames clean\n", animations,
                cleanFrames, animations * frames);
}

}  // namespace
}  // namespace lumet
