// Frames the host abandons: an abort answered at every question the effect asks during a frame
// (between its stages and inside them) returns the host's cancel, and the frame after it is the
// frame a fresh effect renders, whichever stage was cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "params/param_ids.h"
#include "render_harness.h"

namespace lumet {
namespace {

// The checks 1..last to cut at: all of them, or, where a slow run (a sanitizer, an emulator) asks
// many more questions inside its passes, 24 spread evenly from the first to the last, so that the
// test's work stays linear in the frame's time.
std::vector<int> checksToCut(int last) {
    constexpr int kMost = 24;
    std::vector<int> ks;
    if (last <= kMost) {
        for (int k = 1; k <= last; ++k) ks.push_back(k);
        return ks;
    }
    for (int i = 0; i < kMost; ++i)
        ks.push_back(1 + static_cast<int>(std::int64_t{i} * (last - 1) / (kMost - 1)));
    return ks;
}

class InterruptTest : public render_test::InProcessRenderTest {
protected:
    PF_Err render(bool smart) {
        return smart ? refhost::renderSmartFrame(*host_, options_, frame_)
                     : refhost::renderPlainFrame(*host_, options_, frame_);
    }
    // Frame A, then B's settings: every stage of B differs from A's.
    void settingsA() {
        host_->params().setValue(PARAM_BEVEL_DEPTH, 100.0);
        host_->params().setValue(PARAM_GLOW_RADIUS, 10.0);
    }
    void settingsB() {
        host_->params().setValue(PARAM_BEVEL_DEPTH, 140.0);
        host_->params().setValue(PARAM_GLOW_RADIUS, 14.0);
    }
};

TEST_F(InterruptTest, AnAbortAtAnyCheckCancelsAndTheNextFrameIsAFreshRender) {
    host_->params().setValue(PARAM_GLOW_INTENSITY, 0.6);
    for (const bool smart : {true, false}) {
        for (const bool high : {false, true}) {
            SCOPED_TRACE(testing::Message() << (smart ? "smart" : "plain") << " high " << high);
            options_.highQuality = high;
            // B from cold caches.
            ASSERT_EQ(host_->globalSetdown(), PF_Err_NONE);
            ASSERT_EQ(host_->globalSetup(), PF_Err_NONE);
            settingsB();
            host_->setAbortPlan({});
            ASSERT_EQ(render(smart), PF_Err_NONE);
            const std::vector<float> fresh = render_test::pixelsOf(frame_, 8);
            const int checks = host_->abortLog().calls;
            ASSERT_GE(checks, 5);  // before and after each stage at least
            EXPECT_GT(host_->abortLog().progressCalls, 0);
            EXPECT_EQ(host_->abortLog().progressDone, host_->abortLog().progressTotal);
            for (const int k : checksToCut(checks + 1)) {
                settingsA();
                host_->setAbortPlan({});
                ASSERT_EQ(render(smart), PF_Err_NONE);
                settingsB();
                host_->setAbortPlan({k});
                const PF_Err err = render(smart);
                EXPECT_EQ(err, host_->abortLog().fired ? PF_Interrupt_CANCEL : PF_Err_NONE) << k;
                host_->setAbortPlan({});
                ASSERT_EQ(render(smart), PF_Err_NONE) << k;
                ASSERT_EQ(render_test::pixelsOf(frame_, 8), fresh)
                    << "after an abort at check " << k;
            }
        }
    }
}

TEST_F(InterruptTest, AnAbortWhileTheEnvironmentMapIsMadeLeavesNoMapCutShort) {
    // Cold frames on the smart protocol, whose environment map is computed in the host's compute
    // cache while the frame asks: a map cut short must fail its compute, so that the host keeps
    // none and the next frame makes it whole.
    options_.highQuality = true;
    host_->params().setValue(PARAM_GLOW_INTENSITY, 0.6);
    settingsB();
    ASSERT_EQ(host_->globalSetdown(), PF_Err_NONE);
    ASSERT_EQ(host_->globalSetup(), PF_Err_NONE);
    host_->setAbortPlan({});
    ASSERT_EQ(render(true), PF_Err_NONE);
    const std::vector<float> fresh = render_test::pixelsOf(frame_, 8);
    const int checks = host_->abortLog().calls;
    int fired = 0;
    for (const int k : checksToCut(checks)) {
        ASSERT_EQ(host_->globalSetdown(), PF_Err_NONE);
        ASSERT_EQ(host_->globalSetup(), PF_Err_NONE);
        host_->setAbortPlan({k});
        // The questions inside passes come by the clock, so a frame may ask fewer times.
        const PF_Err err = render(true);
        EXPECT_EQ(err, host_->abortLog().fired ? PF_Interrupt_CANCEL : PF_Err_NONE) << k;
        fired += host_->abortLog().fired ? 1 : 0;
        host_->setAbortPlan({});
        ASSERT_EQ(render(true), PF_Err_NONE) << k;
        ASSERT_EQ(render_test::pixelsOf(frame_, 8), fresh) << "after an abort at check " << k;
    }
    EXPECT_GE(fired, 5);  // between the stages at least
}

}  // namespace
}  // namespace lumet
