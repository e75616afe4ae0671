// The plain protocol's render path and how it compares with the smart one: the two protocols
// agree for Inner Bevel, the three depths agree within their quantisation, and the plain path's
// own cache (exact change rules, glow reuse, the map kept across windows, memory failure).
#include <gtest/gtest.h>

#include <cstring>

#include "render/frame_report.h"
#include "render/non_smart_cache.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"
#include "render_harness.h"

namespace lumet {
namespace {

using render_test::compare;
using render_test::pixelsOf;
using render_test::setLetterLayer;

class PlainRenderTest : public render_test::InProcessRenderTest {
protected:
    PF_Err plain() { return refhost::renderPlainFrame(*host_, options_, frame_); }
    PF_Err smart() { return refhost::renderSmartFrame(*host_, options_, frame_); }
    static bool anyStageRan() {
        const FrameReport& r = lastFrameReport();
        return r.geometryRan || r.reflectionRan || r.shadingRan || r.glowRan;
    }
};

TEST_F(PlainRenderTest, SmartAndPlainProtocolsAgreeForInnerBevel) {
    for (const bool high : {false, true}) {
        options_.highQuality = high;
        ASSERT_EQ(smart(), PF_Err_NONE);
        const std::vector<float> viaSmart = pixelsOf(frame_, 8);
        ASSERT_EQ(plain(), PF_Err_NONE);
        EXPECT_EQ(lastFrameReport().path, RenderPath::kPlain);
        const std::vector<float> viaPlain = pixelsOf(frame_, 8);
        const auto d = compare(viaSmart, viaPlain);
        // Same stages, same settings: only the shading window differs, and it covers the surface.
        EXPECT_LE(d.maxError, 0.5 / 255) << "quality " << high;
        EXPECT_LE(d.meanError, 0.01 / 255) << "quality " << high;
    }
}

TEST_F(PlainRenderTest, DepthsAgreeWithinQuantisation) {
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
        const auto d = compare(reference, pixels);
        // One quantisation step of the output (with its dither) and of the layer's alpha: an
        // alpha step moves the bevel's reflection lookup, which on a bright map shows as up to
        // about four 8-bit steps at a few edge pixels (the mean stays far below one step).
        EXPECT_LE(d.maxError, bits == 16 ? 1.5 / 255 : 4.0 / 255) << bits << " bpc";
        EXPECT_LE(d.meanError, bits == 16 ? 0.1 / 255 : 0.3 / 255) << bits << " bpc";
    }
}

TEST_F(PlainRenderTest, ChangeRulesAreExactAndKeepTheGlowWhileItIsOff) {
    ASSERT_EQ(plain(), PF_Err_NONE);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_FALSE(anyStageRan());
    // envBlur moves by 0.0005: the map is not reloaded, the reflection and what follows redone.
    host_->params().setValue(PARAM_BLUR, 20.05);
    ASSERT_EQ(plain(), PF_Err_NONE);
    const FrameReport& blur = lastFrameReport();
    EXPECT_FALSE(blur.geometryRan || blur.envLoaded);
    EXPECT_TRUE(blur.reflectionRan && blur.shadingRan);

    // Style is not read on this path: choosing another one changes nothing but the margin that
    // frame set-up asks for (so here: a new size, everything recomputed, still Inner Bevel).
    host_->params().setValue(PARAM_BEVEL_STYLE, kOuterBevel);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_EQ(frame_.output.width(), 96 + 2 * 500);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_FALSE(anyStageRan());

    // Glow from 0 to 1: computed; 1 to 2: the glow planes are reused.
    host_->params().setValue(PARAM_GLOW_INTENSITY, 1.0);
    host_->params().setValue(PARAM_GLOW_RADIUS, 10.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(lastFrameReport().glowRan);
    host_->params().setValue(PARAM_GLOW_INTENSITY, 2.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_FALSE(anyStageRan());
    EXPECT_TRUE(lastFrameReport().glowUsed);
    host_->params().setValue(PARAM_EXPOSURE, 130.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(lastFrameReport().shadingRan && lastFrameReport().glowRan);
    EXPECT_FALSE(lastFrameReport().reflectionRan);

    // A Glow Radius step widens the output window: only the glow is recomputed, and the map kept.
    host_->params().setValue(PARAM_GLOW_RADIUS, 150.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    const FrameReport& wider = lastFrameReport();
    EXPECT_TRUE(wider.glowRan);
    EXPECT_FALSE(wider.geometryRan || wider.reflectionRan || wider.shadingRan || wider.envLoaded);
    // A Bevel Depth step moves the geometry window: the geometry again, the map still kept.
    host_->params().setValue(PARAM_BEVEL_DEPTH, 40.0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(lastFrameReport().geometryRan);
    EXPECT_FALSE(lastFrameReport().envLoaded);
}

TEST_F(PlainRenderTest, CustomMapIsPreparedOnEveryFrame) {
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

// Each protocol keeps its own cache: a plain frame of another size leaves the smart one alone.
// Memory that cannot be had is the host's out-of-memory error, and the next frame renders.
TEST_F(PlainRenderTest, ANewSizeKeepsTheSmartCacheAndMemoryFailureIsOutOfMemory) {
    ASSERT_EQ(smart(), PF_Err_NONE);
    setLetterLayer(*host_, 90, 45);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(smartStageCache().hasPrevious);

    // An output larger than any host's frame: 4, the world never touched.
    std::uint8_t pixels[64] = {};
    PF_EffectWorld huge;
    std::memset(&huge, 0, sizeof(huge));
    huge.data = reinterpret_cast<PF_PixelPtr>(pixels);
    huge.width = 1 << 20;
    huge.height = 1 << 20;
    huge.rowbytes = 4 << 20;
    options_.outputOverride = &huge;
    EXPECT_EQ(plain(), PF_Err_OUT_OF_MEMORY);
    options_.outputOverride = nullptr;
    // A larger window whose planes cannot be had: 4.
    setLetterLayer(*host_, 300, 150);
    setPlaneAllocationLimit(planeBytes(120, 60, 1) + 1);
    EXPECT_EQ(plain(), PF_Err_OUT_OF_MEMORY);
    setPlaneAllocationLimit(0);
    ASSERT_EQ(plain(), PF_Err_NONE);
    EXPECT_TRUE(lastFrameReport().geometryRan);
}

}  // namespace
}  // namespace lumet
