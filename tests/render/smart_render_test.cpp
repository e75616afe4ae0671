// The smart render path through the reference host with the in-process effect: the stage cache's
// rules observed on real frames (which stages ran, per the frame report), every error exit and
// what it leaves behind, and thread-count independence.
#include <gtest/gtest.h>

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
#include "render/render_caches.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"
#include "render_harness.h"

namespace lumet {
namespace {

using render_test::setLetterLayer;

struct Ran {
    bool geometry, reflection, shading, glow;
    bool operator==(const Ran&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Ran& r) {
    return out << "{geometry " << r.geometry << ", reflection " << r.reflection << ", shading "
               << r.shading << ", glow " << r.glow << "}";
}

class SmartRenderTest : public render_test::InProcessRenderTest {
protected:
    void TearDown() override { platform::setHardwareThreadOverride(-1); }

    PF_Err render() { return refhost::renderSmartFrame(*host_, options_, frame_); }
    static Ran ran() {
        const FrameReport& r = lastFrameReport();
        return {r.geometryRan, r.reflectionRan, r.shadingRan, r.glowRan};
    }
    // Renders once to settle the cache, then changes `index` to `value` and reports what the
    // next frame recomputed.
    Ran ranAfterChange(int index, double value) {
        EXPECT_EQ(render(), PF_Err_NONE);
        host_->params().setValue(index, value);
        EXPECT_EQ(render(), PF_Err_NONE);
        return ran();
    }
};

TEST_F(SmartRenderTest, GlowRadiusAloneRecomputesTheGlowAndIntensityNothing) {
    // Outer Bevel keeps the output margin at 500 with the glow on or off, so the frame size
    // stays the same throughout.
    host_->params().setValue(PARAM_BEVEL_STYLE, kOuterBevel);
    host_->params().setValue(PARAM_GLOW_INTENSITY, 0.5);
    host_->params().setValue(PARAM_GLOW_RADIUS, 8.0);
    // Any step of the radius, however small, is a new glow.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_RADIUS, 8.0005), (Ran{false, false, false, true}));
    // The intensity only scales the kept glow at the output.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.7), (Ran{false, false, false, false}));
    // Glow off: nothing runs, the glow planes and their valid flag stay as they were...
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.05), (Ran{false, false, false, false}));
    EXPECT_FALSE(lastFrameReport().glowUsed);
    // ...and turning it back on recomputes it, since the stored intensity is the low one.
    EXPECT_EQ(ranAfterChange(PARAM_GLOW_INTENSITY, 0.7), (Ran{false, false, false, true}));
    EXPECT_TRUE(lastFrameReport().glowUsed);
}

TEST_F(SmartRenderTest, ShapeSizeAndQualityChangesRecomputeEverything) {
    ASSERT_EQ(render(), PF_Err_NONE);
    setLetterLayer(*host_, 96, 48, 8, 3.0f);  // same size, the shape moved
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{true, true, true, false}));
    EXPECT_FALSE(lastFrameReport().flags.envChanged);

    setLetterLayer(*host_, 80, 40);
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{true, true, true, false}));
    EXPECT_TRUE(lastFrameReport().flags.envChanged);  // forced by the reallocation
    EXPECT_TRUE(smartStageCache().hasPrevious);
    EXPECT_EQ(smartStageCache().width, 80);

    options_.highQuality = true;
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{true, true, true, false}));
    EXPECT_EQ(lastFrameReport().SS, 2);
    EXPECT_EQ(smartStageCache().width2, 160);
}

TEST_F(SmartRenderTest, NanSettingRendersAsTheDefaultAndStaysCached) {
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::vector<float> atDefault = render_test::pixelsOf(frame_, 8);
    host_->params().setValue(PARAM_SCALE, std::numeric_limits<double>::quiet_NaN());
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(render(), PF_Err_NONE);
        EXPECT_EQ(ran(), (Ran{false, false, false, false}));
        EXPECT_EQ(render_test::pixelsOf(frame_, 8), atDefault);
    }
}

TEST_F(SmartRenderTest, EarlyExitsLeaveTheCacheDescribingTheLastCompletedFrame) {
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::vector<float> before = render_test::pixelsOf(frame_, 8);

    host_->params().setValue(PARAM_LIGHT_ANGLE, 10.0);
    // A missing compute-cache suite ends the frame with 13 before the cache is consulted.
    host_->withholdSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1);
    EXPECT_EQ(render(), A_Err_MISSING_SUITE);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    host_->offerSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1,
                      refhost::computeCacheSuite());

    // The next frame compares against the last completed one: only shading recomputes.
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{false, false, true, false}));
    host_->params().setValue(PARAM_LIGHT_ANGLE, 135.0);
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(render_test::pixelsOf(frame_, 8), before);
}

TEST_F(SmartRenderTest, GlowThatCannotBeAllocatedLeavesNoOldGlowBehind) {
    // Outer Bevel keeps the output margin, hence the frame size, whatever the glow radius.
    host_->params().setValue(PARAM_BEVEL_STYLE, kOuterBevel);
    host_->params().setValue(PARAM_GLOW_INTENSITY, 2.0);
    host_->params().setValue(PARAM_GLOW_RADIUS, 10.0);
    ASSERT_EQ(render(), PF_Err_NONE);
    // Radius 30 while no float plane of the glow's (wider) window can be had: that frame has no
    // glow.
    const std::int64_t N = lastFrameReport().window.pixels();
    host_->params().setValue(PARAM_GLOW_RADIUS, 30.0);
    setPlaneAllocationLimit(planeBytes(N, sizeof(float)));
    ASSERT_EQ(render(), PF_Err_NONE);
    setPlaneAllocationLimit(0);
    EXPECT_FALSE(lastFrameReport().glowUsed);
    // Memory back, radius still 30: the radius-30 glow, as a fresh instance renders it.
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::vector<float> again = render_test::pixelsOf(frame_, 8);
    ReleaseRenderCaches();
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(render_test::pixelsOf(frame_, 8), again);
}

TEST_F(SmartRenderTest, ErrorExitsReturnTheHostsResources) {
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::uint32_t hash = smartStageCache().alphaHash;

    options_.dropPreRenderData = true;
    EXPECT_EQ(render(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    options_ = refhost::FrameOptions{};
    options_.highQuality = false;

    options_.inputPixelsError = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    options_.inputPixelsError = PF_Err_NONE;
    options_.nullInputPixels = true;
    EXPECT_EQ(render(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    options_.nullInputPixels = false;

    // A failed output checkout: the error comes back and the input is checked in again.
    options_.outputError = PF_Err_BAD_CALLBACK_PARAM;
    EXPECT_EQ(render(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    options_.outputError = PF_Err_NONE;
    options_.nullOutput = true;
    EXPECT_EQ(render(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);
    options_.nullOutput = false;

    // Nothing of these frames reached the cache.
    EXPECT_EQ(smartStageCache().alphaHash, hash);
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{false, false, false, false}));
}

TEST_F(SmartRenderTest, ZeroSizeInputLeavesTheOutputAlone) {
    host_->setLayer(PARAM_INPUT, refhost::OwnedWorld(0, 0, 8));
    EXPECT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(frame_.layerCheckoutsLeftOpen, 0);

    // A real output with an empty input: untouched (here: still holding its marker bytes).
    setLetterLayer(*host_, 96, 48);
    refhost::OwnedWorld marked(96, 48, 8);
    std::memset(marked.world()->data, 0x5A, static_cast<std::size_t>(marked.rowBytes()) * 48);
    refhost::OwnedWorld emptyInput(0, 0, 8);
    host_->setLayer(PARAM_INPUT, std::move(emptyInput));
    options_.outputOverride = marked.world();
    EXPECT_EQ(render(), PF_Err_NONE);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(marked.world()->data);
    EXPECT_EQ(bytes[0], 0x5A);
    EXPECT_EQ(bytes[static_cast<std::size_t>(marked.rowBytes()) * 47 + 4 * 95], 0x5A);
}

TEST_F(SmartRenderTest, OutputTooLargeToAllocateFailsWithOutOfMemory) {
    ASSERT_EQ(render(), PF_Err_NONE);
    const std::uint32_t hash = smartStageCache().alphaHash;
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
    EXPECT_EQ(smartStageCache().alphaHash, hash);
    // With high quality the working size would overflow 32 bits as well.
    options_.highQuality = true;
    huge.width = INT32_MAX / 2 + 1;
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);

    // A frame whose planes would take more than half the machine's memory (here a machine of
    // 1 MiB) fails up front, writing nothing; with the memory back it renders.
    options_ = refhost::FrameOptions{};
    options_.highQuality = false;
    refhost::OwnedWorld marked(96, 48, 8);
    std::memset(marked.world()->data, 0x5A, static_cast<std::size_t>(marked.rowBytes()) * 48);
    options_.outputOverride = marked.world();
    platform::setPhysicalMemoryOverride(std::uint64_t{1} << 20);
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    platform::setPhysicalMemoryOverride(0);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(marked.world()->data)[0], 0x5A);
    EXPECT_EQ(smartStageCache().alphaHash, hash);
    EXPECT_EQ(render(), PF_Err_NONE);
}

TEST_F(SmartRenderTest, CachePlanesThatCannotBeAllocatedFailTheFrame) {
    ReleaseRenderCaches();  // planes no larger than this frame needs
    ASSERT_EQ(render(), PF_Err_NONE);
    // A larger shape, whose planes the cache cannot hold, with float planes failing: the geometry
    // planes are absent, so the frame fails instead of reading them, and a later frame (memory
    // back) renders normally.
    setLetterLayer(*host_, 120, 60);
    setPlaneAllocationLimit(planeBytes(120, 60, 1) + 1);  // byte planes only
    EXPECT_EQ(render(), PF_Err_OUT_OF_MEMORY);
    setPlaneAllocationLimit(0);
    EXPECT_FALSE(smartStageCache().heightMap);
    ASSERT_EQ(render(), PF_Err_NONE);
    EXPECT_EQ(ran(), (Ran{true, true, true, false}));
}

TEST_F(SmartRenderTest, OneAndSixteenThreadsGiveIdenticalBytes) {
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
            ASSERT_EQ(render(), PF_Err_NONE);
            EXPECT_EQ(ran(), (Ran{true, true, true, glow}));
            const PF_EffectWorld& world = *frame_.output.world();
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(world.data);
            outputs.emplace_back(bytes,
                                 bytes + static_cast<std::size_t>(world.rowbytes) * world.height);
        }
        EXPECT_EQ(outputs[0], outputs[1]) << (glow ? "with glow" : "supersampled");
    }
}

}  // namespace
}  // namespace lumet
