// Both render protocols through the reference host with the in-process effect. They run one frame
// pipeline, so every scenario that both can express runs over both: the stage cache's rules
// observed on real frames (which stages ran, per the frame report), memory failures and what they
// leave behind, and thread-count independence. Then what belongs to one protocol: the smart
// path's checkouts, suites and error exits; the plain path's own map, its style and its windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_HashSuite.h"
#include "platform/plane.h"
#include "platform/platform.h"
#include "refhost/compute_cache.h"
#include "render/frame_report.h"
#include "render/instance_render.h"
#include "render/render_caches.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"
#include "render_harness.h"
#include "support/sequence_render.h"

namespace lumet {
namespace {

using render_test::pixelsOf;
using render_test::setLetterLayer;

struct Ran {
    bool geometry, reflection, shading, glow;
    bool operator==(const Ran&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Ran& r) {
    return out << "{geometry " << r.geometry << ", reflection " << r.reflection << ", shading "
               << r.shading << ", glow " << r.glow << "}";
}
constexpr Ran kNothing{false, false, false, false}, kEverything{true, true, true, false};

enum class Protocol { kSmart, kPlain };

class RenderTest : public render_test::InProcessRenderTest {
protected:
    void TearDown() override { platform::setHardwareThreadOverride(-1); }

    PF_Err smart() { return refhost::renderSmartFrame(*host_, options_, frame_); }
    PF_Err plain() { return refhost::renderPlainFrame(*host_, options_, frame_); }
    static Ran ran() {
        const FrameReport& r = lastFrameReport();
        return {r.geometryRan, r.reflectionRan, r.shadingRan, r.glowRan};
    }
    // What a frame that rendered (`err`, expected to be no error) recomputed.
    static Ran ran(PF_Err err) {
        EXPECT_EQ(err, PF_Err_NONE);
        return ran();
    }
    // A marked 96 x 48 output the host hands over instead of its own.
    refhost::OwnedWorld markedOutput() {
        refhost::OwnedWorld marked(96, 48, 8);
        std::memset(marked.world()->data, 0x5A, static_cast<std::size_t>(marked.rowBytes()) * 48);
        options_.outputOverride = marked.world();
        return marked;
    }
};

class EitherProtocol : public RenderTest, public ::testing::WithParamInterface<Protocol> {
protected:
    PF_Err render() { return GetParam() == Protocol::kSmart ? smart() : plain(); }
    static StageCache& cache() {
        return GetParam() == Protocol::kSmart ? smartStageCache() : nonSmartCache().stages;
    }
    // Renders once to settle the cache, then changes `index` to `value` and reports what the
    // next frame recomputed.
    Ran ranAfterChange(int index, double value) {
        EXPECT_EQ(render(), PF_Err_NONE);
        host_->params().setValue(index, value);
        return ran(render());
    }
};

INSTANTIATE_TEST_SUITE_P(, EitherProtocol, ::testing::Values(Protocol::kSmart, Protocol::kPlain),
                         [](const auto& info) {
                             return info.param == Protocol::kSmart ? "Smart" : "Plain";
                         });

TEST_P(EitherProtocol, EachChangeRecomputesItsStagesAndWhatFollows) {
    const struct {
        int index;
        double value;
        Ran expected;
    } changes[] = {
        {PARAM_BLUR, 20.05, {false, true, true, false}},  // a step of 0.0005: the map is kept
        {PARAM_LIGHT_ANGLE, 10.0, {false, false, true, false}},
        // A setting the host hands over as NaN renders as its default, and so stays cached.
        {PARAM_SCALE, std::numeric_limits<double>::quiet_NaN(), kNothing},
    };
    for (const auto& change : changes) {
        SetUp();
        EXPECT_EQ(ranAfterChange(change.index, change.value), change.expected) << change.index;
        EXPECT_FALSE(lastFrameReport().envLoaded) << change.index;
    }
    const std::vector<float> withNan = pixelsOf(frame_, 8);
    SetUp();
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(pixelsOf(frame_, 8), withNan);
    // The layer's shape, its size and the quality: everything (and a new size marks the map
    // changed as well).
    setLetterLayer(*host_, 96, 48, 8, 3.0f);
    EXPECT_EQ(ran(render()), kEverything);
    EXPECT_FALSE(lastFrameReport().flags.envChanged);
    setLetterLayer(*host_, 80, 40);
    EXPECT_EQ(ran(render()), kEverything);
    EXPECT_TRUE(lastFrameReport().flags.envChanged);
    EXPECT_EQ(cache().width, 80);
    options_.highQuality = true;
    EXPECT_EQ(ran(render()), kEverything);
    EXPECT_EQ(lastFrameReport().SS, 2);
    EXPECT_EQ(cache().width2, 160);
}

TEST_P(EitherProtocol, GlowRadiusAloneRecomputesTheGlowAndIntensityNothing) {
    // Outer Bevel keeps the output margin at 500 with the glow on or off (the plain path asks
    // for that margin and renders Inner Bevel in it), so the frame size stays the same throughout.
    host_->params().setValue(PARAM_BEVEL_STYLE, kOuterBevel);
    host_->params().setValue(PARAM_GLOW_INTENSITY, 0.5);
    host_->params().setValue(PARAM_GLOW_RADIUS, 8.0);
    // Any step of the radius, however small, is a new glow.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_RADIUS, 8.0005), (Ran{false, false, false, true}));
    // The intensity only scales the kept glow at the output.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.7), kNothing);
    EXPECT_TRUE(lastFrameReport().glowUsed);
    // New shading is a new glow.
    EXPECT_EQ(ranAfterChange(PARAM_EXPOSURE, 130.0), (Ran{false, false, true, true}));
    // Glow off: nothing runs, the glow planes and their valid flag stay as they were...
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.05), kNothing);
    EXPECT_FALSE(lastFrameReport().glowUsed);
    // ...and turning it back on recomputes it, since the stored intensity is the low one.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.7), (Ran{false, false, false, true}));
    EXPECT_TRUE(lastFrameReport().glowUsed);
}

TEST_P(EitherProtocol, MemoryThatCannotBeHadIsOutOfMemoryAndTheNextFrameRenders) {
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::uint32_t hash = cache().alphaHash;
    // The host claims an output no frame plane could be allocated for; its pixels must never be
    // touched (there are only a few bytes behind them).
    std::uint8_t pixels[64] = {};
    PF_EffectWorld huge;
    std::memset(&huge, 0, sizeof(huge));
    huge.data = reinterpret_cast<PF_PixelPtr>(pixels);
    huge.width = 1 << 20;
    huge.height = 1 << 20;
    huge.rowbytes = 4 << 20;
    options_.outputOverride = &huge;
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    EXPECT_EQ(cache().alphaHash, hash);
    // With high quality the working size would overflow 32 bits as well.
    options_.highQuality = true;
    huge.width = INT32_MAX / 2 + 1;
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);

    // A frame whose planes would take more than half the machine's memory (here a machine of
    // 1 MiB) fails up front, writing nothing; with the memory back it renders.
    options_.highQuality = false;
    refhost::OwnedWorld marked = markedOutput();
    platform::setPhysicalMemoryOverride(std::uint64_t{1} << 20);
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    platform::setPhysicalMemoryOverride(0);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(marked.world()->data)[0], 0x5A);
    EXPECT_EQ(cache().alphaHash, hash);
    EXPECT_EQ(render(), PF_Err_NONE);
    options_.outputOverride = nullptr;

    // A larger shape, whose planes the cache cannot hold, with float planes failing: the geometry
    // planes are absent, so the frame fails instead of reading them, and a later frame (memory
    // back) renders normally.
    ReleaseRenderCaches();  // planes no larger than this frame needs
    ASSERT_EQ(render(), PF_Err_NONE);
    setLetterLayer(*host_, 120, 60);
    setPlaneAllocationLimit(planeBytes(120, 60, 1) + 1);  // byte planes only
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    setPlaneAllocationLimit(0);
    EXPECT_FALSE(cache().heightMap);
    EXPECT_EQ(ran(render()), kEverything);
}

// Over the memory budget a frame is computed in bands of rows: the report says so, the frame is
// the whole frame's, and the cache keeps nothing, so the next frame computes everything again;
// back within the budget the cache serves the frame after.
TEST_P(EitherProtocol, FramesOverTheBudgetAreBandsWithoutTheCache) {
    options_.highQuality = true;
    host_->params().setValue(PARAM_GLOW_INTENSITY, 1.0);
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::vector<float> whole = pixelsOf(frame_, 8);
    EXPECT_EQ(lastFrameReport().strips, 0);
    test::setEnvironment("LUMET_MEMORY_BUDGET", "64K");
    for (int frame = 0; frame < 2; ++frame) {
        EXPECT_EQ(ran(render()), (Ran{true, true, true, true})) << frame;
        EXPECT_GT(lastFrameReport().strips, 1) << frame;
        EXPECT_FALSE(cache().heightMap) << frame;
        EXPECT_EQ(pixelsOf(frame_, 8), whole) << frame;
    }
    test::setEnvironment("LUMET_MEMORY_BUDGET", "");
    EXPECT_EQ(ran(render()), (Ran{true, true, true, true}));
    EXPECT_EQ(lastFrameReport().strips, 0);
    EXPECT_EQ(ran(render()), kNothing);
}

TEST_P(EitherProtocol, OneAndSixteenThreadsGiveIdenticalBytes) {
    // Supersampled without glow, then with the glow (and its 500-pixel margin) at low quality.
    for (const bool glow : {false, true}) {
        host_->params().setValue(PARAM_GLOW_INTENSITY, glow ? 0.4 : 0.0);
        host_->params().setValue(PARAM_GLOW_RADIUS, 6.0);
        options_.highQuality = !glow;
        std::vector<std::vector<std::uint8_t>> outputs;
        for (int threads : {1, 16}) {
            platform::setHardwareThreadOverride(threads);
            {
                platform::LockGuard guard(nonSmartCacheLock());
                ReleaseRenderCaches();
            }
            EXPECT_EQ(ran(render()), (Ran{true, true, true, glow}));
            const PF_EffectWorld& world = *frame_.output.world();
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(world.data);
            outputs.emplace_back(bytes,
                                 bytes + static_cast<std::size_t>(world.rowbytes) * world.height);
        }
        EXPECT_EQ(outputs[0], outputs[1]) << (glow ? "with glow" : "supersampled");
    }
}

TEST_F(RenderTest, SmartAndPlainProtocolsGiveTheSameFrameForInnerBevel) {
    for (const bool high : {false, true}) {
        options_.highQuality = high;
        ASSERT_EQ(smart(), PF_Err_NONE);
        const std::vector<float> viaSmart = pixelsOf(frame_, 8);
        ASSERT_EQ(plain(), PF_Err_NONE);
        EXPECT_EQ(lastFrameReport().path, RenderPath::kPlain);
        EXPECT_EQ(pixelsOf(frame_, 8), viaSmart) << "quality " << high;
    }
}

TEST_F(RenderTest, NarrowLayersWithPaddedRowsAreReadAtTheirDepth) {
    // A column one pixel wide whose rows the host pads to 16 bytes: by its layout alone an 8 or
    // 16-bit world would pass for float. The host's world suite says what it is, so the frame is
    // the one the unpadded column gives.
    for (const int bits : {8, 16}) {
        options_.bitsPerChannel = bits;
        std::vector<float> rendered[2];
        for (const int padding : {0, 16 - 4 * bits / 8}) {
            refhost::OwnedWorld column(1, 40, bits, padding);
            for (int y = 8; y < 32; ++y) {
                if (bits == 8) {
                    column.row<PF_Pixel8>(y)[0] = PF_Pixel8{255, 200, 180, 60};
                } else {
                    column.row<PF_Pixel16>(y)[0] = PF_Pixel16{32768, 25000, 22000, 8000};
                }
            }
            ASSERT_EQ(column.rowBytes(), padding ? 16 : 4 * bits / 8);
            host_->setLayer(PARAM_INPUT, std::move(column));
            for (const bool smartProtocol : {true, false}) {
                ASSERT_EQ(smartProtocol ? smart() : plain(), PF_Err_NONE);
                const std::vector<float> pixels = pixelsOf(frame_, bits);
                if (smartProtocol) rendered[padding ? 1 : 0] = pixels;
                EXPECT_EQ(pixels, rendered[padding ? 1 : 0]) << bits << " bpc";
            }
        }
        EXPECT_EQ(rendered[0], rendered[1]) << bits << " bpc";
        EXPECT_GT(
            std::count_if(rendered[0].begin(), rendered[0].end(), [](float v) { return v > 0.0f; }),
            0);
    }
}

TEST_F(RenderTest, DepthsAgreeWithinQuantisation) {
    std::vector<float> reference;
    for (const int bits : {32, 16, 8}) {
        setLetterLayer(*host_, 96, 48, bits);
        options_.bitsPerChannel = bits;
        ASSERT_EQ(smart(), PF_Err_NONE);
        const std::vector<float> pixels = pixelsOf(frame_, bits);
        if (bits == 32) {
            reference = pixels;
            continue;
        }
        const auto d = render_test::compare(reference, pixels);
        // One quantisation step of the output (with its dither) and of the layer's alpha: an
        // alpha step moves the bevel's reflection lookup, which on a bright map shows as up to
        // about four 8-bit steps at a few edge pixels (the mean stays far below one step).
        EXPECT_LE(d.maxError, bits == 16 ? 1.5 / 255 : 4.0 / 255) << bits << " bpc";
        EXPECT_LE(d.meanError, bits == 16 ? 0.1 / 255 : 0.3 / 255) << bits << " bpc";
    }
}

TEST_F(RenderTest, SmartErrorExitsReturnTheHostsResources) {
    ASSERT_EQ(smart(), PF_Err_NONE);
    const std::uint32_t hash = smartStageCache().alphaHash;

    options_.dropPreRenderData = true;
    EXPECT_EQ(smart(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    options_.dropPreRenderData = false;

    options_.nullInputPixels = true;
    EXPECT_EQ(smart(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    options_.nullInputPixels = false;

    // (Failed checkouts are the fault sweep's.) No output: the input is checked in again.
    options_.nullOutput = true;
    EXPECT_EQ(smart(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    options_.nullOutput = false;

    // Nothing of these frames reached the cache.
    EXPECT_EQ(smartStageCache().alphaHash, hash);
    EXPECT_EQ(ran(smart()), kNothing);

    // An empty input: no error, and a real output is left untouched (still holding its marker).
    host_->setLayer(PARAM_INPUT, refhost::OwnedWorld(0, 0, 8));
    EXPECT_EQ(smart(), PF_Err_NONE);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    refhost::OwnedWorld marked = markedOutput();
    EXPECT_EQ(smart(), PF_Err_NONE);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(marked.world()->data);
    EXPECT_EQ(bytes[0], 0x5A);
    EXPECT_EQ(bytes[static_cast<std::size_t>(marked.rowBytes()) * 47 + 4 * 95], 0x5A);
}

TEST_F(RenderTest, PlainPathRendersInnerBevelInTheMarginTheStyleAsksFor) {
    // Style is not read on this path: choosing another one changes nothing but the margin that
    // frame set-up asks for (so here: a new size, everything recomputed, still Inner Bevel).
    ASSERT_EQ(smart(), PF_Err_NONE);
    host_->params().setValue(PARAM_BEVEL_STYLE, kOuterBevel);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_EQ(frame_.output.width(), 96 + 2 * 500);
    EXPECT_EQ(ran(plain()), kNothing);
    // Each protocol keeps its own cache: a plain frame of another size leaves the smart one alone.
    EXPECT_TRUE(smartStageCache().hasPrevious);
    EXPECT_EQ(smartStageCache().width, 96);
}

TEST_F(RenderTest, PlainPathKeepsItsMapWhenTheWindowsMove) {
    host_->params().setValue(PARAM_GLOW_INTENSITY, 1.0);
    host_->params().setValue(PARAM_GLOW_RADIUS, 10.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    // A Glow Radius step widens the output window: only the glow is recomputed, and the map kept.
    host_->params().setValue(PARAM_GLOW_RADIUS, 150.0);
    EXPECT_EQ(ran(plain()), (Ran{false, false, false, true}));
    EXPECT_FALSE(lastFrameReport().envLoaded);
    // A Bevel Depth step moves the geometry window: the geometry again, the map still kept.
    host_->params().setValue(PARAM_BEVEL_DEPTH, 40.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(lastFrameReport().geometryRan);
    EXPECT_FALSE(lastFrameReport().envLoaded);
}

TEST_F(RenderTest, PlainPathPreparesACustomMapOnEveryFrame) {
    const std::vector<float> map = render_test::letterShape(64, 32);
    host_->setLayer(PARAM_CUSTOM_MAP, refhost::worldFromRgba(map.data(), 64, 32, 8));
    host_->params().setValue(PARAM_HDRI_MAP, kCustomMap);
    ASSERT_EQ(plain(), PF_Err_NONE);
    resetStageCounters();
    ASSERT_EQ(plain(), PF_Err_NONE);
    ASSERT_EQ(plain(), PF_Err_NONE);
    const StageCounters counters = stageCounters();
    EXPECT_EQ(counters.envLoads, 2u);
    EXPECT_EQ(counters.reflection, 2u);
    EXPECT_EQ(counters.geometry, 0u);
    EXPECT_EQ(host_->openParamCheckouts(), 0);
    host_->removeLayer(PARAM_CUSTOM_MAP);
}

}  // namespace
}  // namespace lumet
