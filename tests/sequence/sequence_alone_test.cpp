// A frame must be the same whether it is rendered alone or after other frames: through the built
// plug-in, each case renders an animation as one sequence and then the frames it checks alone,
// each in a fresh instance, and compares the bytes. On the CPU they must be identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "params/param_ids.h"
#include "refhost/compute_cache.h"
#include "support/random_animation.h"
#include "support/sequence_render.h"

namespace lumet {
namespace {

using test::FrameConfig;
using test::Protocol;

constexpr bool kCpu = true;

void setWord(refhost::Host& host, std::int32_t width, std::int32_t height, int bits = 8) {
    const std::vector<float> rgba = test::wordLayer(width, height);
    host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), width, height, bits, 12));
}

TEST(SequenceVersusAlone, SlowAnimationsCrossNoToleranceUnnoticed) {
    // Rotation Y moves 0.9 per frame on the plain protocol: each step is below the old tolerance.
    const test::FrameSetup rotation = [](refhost::Host& host, int frame) {
        setWord(host, 64, 32);
        host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
        host.params().setValue(PARAM_ROTATION_Y, 0.9 * frame);
        return FrameConfig{Protocol::kPlain, false, 8};
    };
    EXPECT_EQ(test::sequenceVersusAlone(rotation, 11, {10}, kCpu)[0], 0.0);

    // Glow Radius creeps by 0.00099 per frame, on both protocols.
    for (const Protocol protocol : {Protocol::kSmart, Protocol::kPlain}) {
        const test::FrameSetup radius = [protocol](refhost::Host& host, int frame) {
            setWord(host, 48, 24);
            host.params().setValue(PARAM_GLOW_INTENSITY, 2.0);
            host.params().setValue(PARAM_GLOW_RADIUS, 3.0 + 0.00099 * frame);
            return FrameConfig{protocol, false, 32};
        };
        EXPECT_EQ(test::sequenceVersusAlone(radius, 31, {30}, kCpu)[0], 0.0)
            << "protocol " << static_cast<int>(protocol);
    }
}

TEST(SequenceVersusAlone, ColourChangeUnderAStillMatteRemakesTheCarvedGeometry) {
    for (const Protocol protocol : {Protocol::kSmart, Protocol::kPlain}) {
        // A dark stripe in the fill moves from half the height to 0.3 of it; the alpha stays.
        const test::FrameSetup stripe = [protocol](refhost::Host& host, int frame) {
            const std::int32_t W = 64, H = 32;
            std::vector<float> rgba = test::wordLayer(W, H);
            const float centre = (frame == 0 ? 0.5f : 0.3f) * H;
            for (std::int32_t y = 0; y < H; ++y) {
                if (std::fabs(y + 0.5f - centre) > 2.0f) continue;
                for (std::int32_t x = 0; x < W; ++x)
                    for (int c = 0; c < 3; ++c) rgba[(y * W + x) * 4 + c] *= 0.3f;
            }
            host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), W, H, 8, 12));
            host.params().setValue(PARAM_SMART_EDGE, 1);
            host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
            return FrameConfig{protocol, false, 8};
        };
        EXPECT_EQ(test::sequenceVersusAlone(stripe, 2, {1}, kCpu)[0], 0.0)
            << "protocol " << static_cast<int>(protocol);
    }
}

TEST(SequenceVersusAlone, EnvironmentMapsEvictedAndRemadeAreToldApart) {
    // With no budget the host evicts every map as soon as it is checked in, so a later map's
    // record may land where an earlier one lived.
    refhost::ComputeCache::shared().setBudget(0);
    const test::FrameSetup maps = [](refhost::Host& host, int frame) {
        setWord(host, 48, 24);
        host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
        host.params().setValue(PARAM_HDRI_MAP, 1 + frame % 8);
        return FrameConfig{Protocol::kSmart, false, 8};
    };
    const std::vector<double> worst = test::sequenceVersusAlone(maps, 13, {8, 9, 10, 11, 12}, kCpu);
    refhost::ComputeCache::shared().setBudget(refhost::ComputeCache::kDefaultBudgetBytes);
    for (std::size_t i = 0; i < worst.size(); ++i) EXPECT_EQ(worst[i], 0.0) << "frame " << 8 + i;
}

TEST(SequenceVersusAlone, BothProtocolsSeeTheWholeCustomMapLayer) {
    // A 128 x 64 map, red in its top-left 64 x 48 and blue elsewhere, on a smaller layer.
    auto mapLayer = [](bool allRed) {
        const std::int32_t W = 128, H = 64;
        std::vector<float> rgba(static_cast<std::size_t>(W) * H * 4);
        for (std::int32_t y = 0; y < H; ++y)
            for (std::int32_t x = 0; x < W; ++x) {
                const bool red = allRed || (x < 64 && y < 48);
                float* p = &rgba[(static_cast<std::size_t>(y) * W + x) * 4];
                p[0] = red ? 1.0f : 0.0f;
                p[1] = 0.0f;
                p[2] = red ? 0.0f : 1.0f;
                p[3] = 1.0f;
            }
        return refhost::worldFromRgba(rgba.data(), W, H, 8);
    };
    auto render = [&](Protocol protocol, bool allRed) {
        const test::FrameSetup setup = [&](refhost::Host& host, int) {
            setWord(host, 64, 32);
            host.setLayer(PARAM_CUSTOM_MAP, mapLayer(allRed));
            host.params().setValue(PARAM_HDRI_MAP, 10);
            host.params().setValue(PARAM_GLOW_INTENSITY, 0.0);
            return FrameConfig{protocol, false, 8};
        };
        return test::renderAlone(setup, 0, kCpu);
    };
    const std::vector<float> smart = render(Protocol::kSmart, false);
    EXPECT_LE(test::maxLevels(smart, render(Protocol::kPlain, false)), 0.5);
    EXPECT_GT(test::maxLevels(smart, render(Protocol::kSmart, true)), 8.0);
}

// Random animations (see support/random_animation.h), each rendered as a sequence and then frame
// by frame in fresh instances. LUMET_SEQUENCE_ANIMATIONS and LUMET_SEQUENCE_FRAMES set a longer
// run, LUMET_SEQUENCE_SEED the first seed.
TEST(SequenceVersusAlone, RandomAnimationsGiveEveryFrameAloneByteForByte) {
    const int animations = test::environmentCount("LUMET_SEQUENCE_ANIMATIONS", 8);
    const int frames = test::environmentCount("LUMET_SEQUENCE_FRAMES", 4);
    const int firstSeed = test::environmentCount("LUMET_SEQUENCE_SEED", 1);
    int cleanFrames = 0;
    for (int n = 0; n < animations; ++n) {
        const test::RandomAnimation animation =
            test::randomAnimation(static_cast<std::uint32_t>(firstSeed + n), frames, true);
        const test::FrameSetup setup = [&animation](refhost::Host& host, int frame) {
            return animation.apply(host, frame);
        };
        const std::vector<std::vector<float>> sequence = test::renderSequence(setup, frames, kCpu);
        for (int f = 0; f < frames; ++f) {
            const double worst = test::maxLevels(sequence[static_cast<std::size_t>(f)],
                                                 test::renderAlone(setup, f, kCpu));
            EXPECT_EQ(worst, 0.0) << "frame " << f << " of " << animation.describe();
            if (worst == 0.0) ++cleanFrames;
        }
    }
    std::printf("%d random animations, %d of %d frames identical alone\n", animations, cleanFrames,
                animations * frames);
}

}  // namespace
}  // namespace lumet
