// A host object that lives until the process exits and sends global set-down from its destructor,
// after the plug-in's render caches hold frames from both protocols: the exit must be clean (the
// caches may not be torn down before the set-down that empties them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace {

void renderBothProtocolsThenExit() {
    // Made after the library is loaded, destroyed by the exit handlers.
    static std::unique_ptr<refhost::Host> host = [] {
        auto made = std::make_unique<refhost::Host>(LUMET_PLUGIN_PATH);
        if (made->registerPlugin() != PF_Err_NONE || made->globalSetup() != PF_Err_NONE ||
            made->paramsSetup() != PF_Err_NONE) {
            std::exit(3);
        }
        return made;
    }();
    constexpr std::int32_t W = 40, H = 24;
    std::vector<float> rgba(static_cast<std::size_t>(W) * H * 4, 0.0f);
    for (std::int32_t y = 6; y < 18; ++y)
        for (std::int32_t x = 8; x < 32; ++x)
            for (int c = 0; c < 4; ++c) rgba[(static_cast<std::size_t>(y) * W + x) * 4 + c] = 1.0f;
    host->setLayer(lumet::PARAM_INPUT, refhost::worldFromRgba(rgba.data(), W, H, 8));
    host->params().setValue(lumet::PARAM_GLOW_INTENSITY, 0.0);  // no glow margin: a small frame
    refhost::FrameOptions options;
    options.highQuality = false;
    refhost::RenderedFrame smart, plain;
    if (refhost::renderSmartFrame(*host, options, smart) != PF_Err_NONE ||
        refhost::renderPlainFrame(*host, options, plain) != PF_Err_NONE) {
        std::exit(4);
    }
    std::exit(0);
}

TEST(GlobalSetdownAtExit, AHostDestroyedByTheExitHandlersSetsTheEffectDownCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(renderBothProtocolsThenExit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
