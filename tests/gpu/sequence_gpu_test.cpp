// Frames rendered on the OpenCL device through the built plug-in: the same frame alone or after
// other frames (whichever path or device made the device's kept copies), and the device's frame
// equal to the CPU's.
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

// Every bevel style with every edge profile, over both protocols, both qualities and 8, 16 and 32
// bits: the device frame is the CPU frame, glow included (Gold, Rose Gold and Copper have it on,
// at every depth and over both protocols). The layer's ring, bar and arch give the bevel creases
// where the profile meets the flat top and along the strokes' middles, with a thin stroke beside.
TEST(OpenClSequence, EveryStyleAndProfileOnTheDeviceIsTheCpuFrame) {
    int n = 0;
    for (int style = 1; style <= 5; ++style) {
        for (int profile = 1; profile <= 5; ++profile, ++n) {
            const FrameConfig config{n % 2 ? Protocol::kPlain : Protocol::kSmart, n % 3 != 0,
                                     8 << (n % 3)};
            const test::FrameSetup setup = [&](refhost::Host& host, int) {
                std::vector<float> rgba = test::wordLayer(120, 56);
                for (int y = 4; y < 52; ++y)
                    for (int c = 0; c < 4; ++c) rgba[(y * 120 + 114) * 4 + c] = 1.0f;
                host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), 120, 56, 8, 12));
                test::choosePreset(host, 1 + n % 9, PARAM_PRESET);
                host.params().setValue(PARAM_BEVEL_STYLE, style);
                host.params().setValue(PARAM_EDGE_PROFILE, profile);
                return config;
            };
            EXPECT_EQ(test::maxLevels(test::renderAlone(setup, 0, kOpenCl),
                                      test::renderAlone(setup, 0, true)),
                      0.0)
                << "style " << style << ", profile " << profile << ", " << config.bits << " bits";
        }
    }
}

// Random animations on the device: every frame of the sequence equals the frame rendered alone on
// the device and the CPU's frame.
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
            const double cpu = test::maxLevels(inSequence, test::renderAlone(setup, f, true));
            EXPECT_EQ(worst, 0.0) << "frame " << f << " of " << animation.describe();
            EXPECT_EQ(cpu, 0.0) << "frame " << f << " of " << animation.describe();
            if (worst == 0.0 && cpu == 0.0) ++cleanFrames;
        }
    }
    std::printf("%d random animations on the device, %d of %d frames clean\n", animations,
                cleanFrames, animations * frames);
}

}  // namespace
}  // namespace lumet
