// Smart pre-render through the built plug-in: the RenderSettings record it hands the host, the
// checkout order, failures, the layer checkouts and the output rectangles.
#include "params/render_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/loaded_plugin.h"
#include "params/param_table.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace {

using lumet::RenderSettings;

PF_Pixel rgb(int r, int g, int b) { return PF_Pixel{255, A_u_char(r), A_u_char(g), A_u_char(b)}; }

struct Frame {
    std::unique_ptr<refhost::Host> host = lumet::test::loadedPlugin();
    PF_PreRenderOutput output{};

    explicit Frame(int width = 64, int height = 48) {
        host->setLayer(0, refhost::OwnedWorld(width, height, 8));
    }
    PF_Err preRender() { return host->smartPreRender(host->fullLayerRequest(), 8, &output); }
    const RenderSettings& settings() const {
        return *static_cast<const RenderSettings*>(host->preRenderData());
    }
};

// Every field, worked by hand from its definition: value / 100 (or / 1000) computed in 64 bits and
// rounded once to float, which for 123.45, 71.7, 0.7 and 77.7 differs from float arithmetic.
TEST(RenderSettings, EveryFieldIsScaled) {
    Frame frame;
    refhost::ParamsStore& p = frame.host->params();
    const struct {
        int index;
        double value;
        float RenderSettings::*field;
        float expected;
    } sliders[] = {
        {5, 123.45, &RenderSettings::bevelDepth, 1.2345f},
        {6, 33.3, &RenderSettings::bevelSoftness, 0.333f},
        {8, 71.7, &RenderSettings::edgeStrength, 0.717f},
        {13, 12.34, &RenderSettings::envBlur, 0.1234f},
        {14, 1.1, &RenderSettings::envScale, 0.011f},
        {15, 199.9, &RenderSettings::envExposure, 1.999f},
        {16, 0.7, &RenderSettings::envContrast, 0.007f},
        {17, 66.6, &RenderSettings::envDisplacement, 0.666f},
        {19, 10000, &RenderSettings::envRotX, 10.0f},
        {20, -1234.5, &RenderSettings::envRotY, -1.2345f},
        {22, 12.5, &RenderSettings::metal, 0.125f},
        {23, 30.3, &RenderSettings::opacity, 0.697f},  // 1 - value / 100
        {24, 9.99, &RenderSettings::dispersion, 0.0999f},
        {27, -47.25, &RenderSettings::lightAngle, -47.25f},  // degrees, unscaled
        {28, 33.3, &RenderSettings::lightHeight, 33.3f},
        {29, 44.4, &RenderSettings::specular, 0.444f},
        {30, 55.5, &RenderSettings::roughness, 0.555f},
        {31, 66.7, &RenderSettings::anisotropy, 0.667f},
        {34, 2.2, &RenderSettings::glowIntensity, 2.2f},
        {35, 123.4, &RenderSettings::glowRadius, 123.4f},
        {41, 77.7, &RenderSettings::saturation, 0.777f},
        {42, 88.8, &RenderSettings::tintBlend, 0.888f},
    };
    for (const auto& slider : sliders) p.setValue(slider.index, slider.value);
    p.setValue(3, 3);  // Full Bevel
    p.setValue(4, 5);
    p.setValue(7, 0);
    p.setValue(11, 7);
    p.setValue(44, 1);
    p.setColor(38, rgb(1, 2, 3));
    p.setColor(39, rgb(128, 129, 130));
    p.setColor(40, rgb(253, 254, 255));
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    const RenderSettings& s = frame.settings();
    for (const auto& slider : sliders) EXPECT_EQ(s.*slider.field, slider.expected) << slider.index;
    EXPECT_EQ(s.bevelStyle, 3);
    EXPECT_EQ(s.edgeProfile, 5);
    EXPECT_FALSE(s.smartEdge);
    EXPECT_EQ(s.hdriMap, 7);
    for (int c = 0; c < 3; ++c) {  // 0..255, not divided
        EXPECT_EQ(s.shadowColor[c], 1.0f + c);
        EXPECT_EQ(s.midColor[c], 128.0f + c);
        EXPECT_EQ(s.highColor[c], 253.0f + c);
    }
    EXPECT_TRUE(s.showEnvMap);
    EXPECT_EQ(s.expansion, 500);  // Full Bevel
}

TEST(RenderSettings, ValuesBeyondTheValidRangesAreHeldToThem) {
    Frame frame;
    refhost::ParamsStore& p = frame.host->params();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    p.setValue(3, 9);         // Bevel Style: no such choice
    p.setValue(4, -2);        // Edge Profile
    p.setValue(11, 1 << 30);  // HDRI Map
    p.setValue(5, 3.5e38);    // Bevel Depth, 0..300
    p.setValue(6, 1e10);      // Bevel Softness, 0..100
    p.setValue(8, -inf);      // Edge Strength, 0..100
    p.setValue(14, nan);      // Scale: default 50
    p.setValue(19, -3.5e38);  // Rotation X, -10000..10000
    p.setValue(23, 1e300);    // Transparency, 0..100
    p.setValue(28, nan);      // Light Height: default 55
    p.setValue(34, inf);      // Glow Intensity, 0..10
    p.setValue(35, 1e10);     // Glow Radius, 0..500
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    const RenderSettings& s = frame.settings();
    EXPECT_EQ(s.bevelStyle, 1);
    EXPECT_EQ(s.edgeProfile, 1);
    EXPECT_EQ(s.hdriMap, 1);
    EXPECT_EQ(s.bevelDepth, 3.0f);
    EXPECT_EQ(s.bevelSoftness, 1.0f);
    EXPECT_EQ(s.edgeStrength, 0.0f);
    EXPECT_EQ(s.envScale, 0.5f);
    EXPECT_EQ(s.envRotX, -10.0f);
    EXPECT_EQ(s.opacity, 0.0f);
    EXPECT_EQ(s.lightHeight, 55.0f);
    EXPECT_EQ(s.glowIntensity, 10.0f);
    EXPECT_EQ(s.glowRadius, 500.0f);
    EXPECT_EQ(s.expansion, 1500);
}

// Values no slider can give (a host, an expression or an old project can) render exactly as the
// values they are held to, on both protocols; in the sanitizer build no conversion overflows.
TEST(RenderSettings, FramesWithValuesBeyondTheRangesEqualTheHeldValues) {
    auto host = lumet::test::loadedPlugin();
    std::vector<float> rgba(std::size_t(24) * 12 * 4, 0.0f);
    for (int y = 3; y < 9; ++y) {
        for (int x = 4; x < 20; ++x) {
            for (int c = 0; c < 4; ++c) rgba[(std::size_t(y) * 24 + x) * 4 + c] = 1.0f;
        }
    }
    host->setLayer(0, refhost::worldFromRgba(rgba.data(), 24, 12, 8));
    refhost::FrameOptions options;
    options.highQuality = false;
    auto render = [&](bool smart) {
        refhost::RenderedFrame frame;
        EXPECT_EQ(smart ? refhost::renderSmartFrame(*host, options, frame)
                        : refhost::renderPlainFrame(*host, options, frame),
                  PF_Err_NONE);
        return frame.output.world() ? refhost::rgbaFromWorld(*frame.output.world(), 8)
                                    : std::vector<float>{};
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const double extreme : {1e10, -inf, std::numeric_limits<double>::quiet_NaN()}) {
        for (const bool smart : {true, false}) {
            for (const lumet::ParamSpec& spec : lumet::kParamTable) {
                if (spec.kind == lumet::ParamKind::FloatSlider)
                    host->params().setValue(spec.id, extreme);
            }
            const std::vector<float> beyond = render(smart);
            for (const lumet::ParamSpec& spec : lumet::kParamTable) {
                if (spec.kind != lumet::ParamKind::FloatSlider) continue;
                host->params().setValue(spec.id, std::isnan(extreme) ? spec.defaultValue
                                                 : extreme > 0       ? spec.validMax
                                                                     : spec.validMin);
            }
            const std::vector<float> held = render(smart);
            ASSERT_FALSE(held.empty());
            EXPECT_EQ(beyond, held) << extreme << (smart ? " smart" : " plain");
        }
    }
}

TEST(RenderSettings, ParametersAreCheckedOutInOrderAndCheckedIn) {
    Frame frame;
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    EXPECT_EQ(frame.host->paramCheckoutLog(),
              (std::vector<int>{3,  4,  5,  6,  7,  8,  11, 13, 14, 15, 16, 17, 19, 20, 27,
                                28, 29, 30, 31, 38, 39, 40, 41, 42, 22, 23, 24, 34, 35, 44}));
    EXPECT_EQ(frame.host->openParamCheckouts(), 0);
}

TEST(RenderSettings, ValuesAreReadAtTheFrameTime) {
    Frame frame;
    frame.host->params().setKeyframe(5, 0.0, 100);
    frame.host->params().setKeyframe(5, 1.0, 200);
    frame.host->params().setKeyframe(27, 0.0, 0);
    frame.host->params().setKeyframe(27, 1.0, 90);
    frame.host->setTime(6, 1, 24);  // a quarter second
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    EXPECT_EQ(frame.settings().bevelDepth, 1.25f);
    EXPECT_EQ(frame.settings().lightAngle, 22.5f);
}

TEST(RenderSettings, FailingFirstCheckoutStillHandsAZeroRecordToTheHost) {
    Frame frame;
    frame.host->failParamCheckout(3, 777);
    EXPECT_EQ(frame.preRender(), 777);
    ASSERT_NE(frame.host->preRenderData(), nullptr);
    EXPECT_NE(frame.output.delete_pre_render_data_func, nullptr);
    const RenderSettings zero{};
    EXPECT_EQ(std::memcmp(&frame.settings(), &zero, sizeof(RenderSettings)), 0);
    EXPECT_TRUE(frame.host->paramCheckoutLog().empty());
    EXPECT_TRUE(frame.host->layerCheckouts().empty());
}

TEST(RenderSettings, FailingMiddleCheckoutKeepsTheEarlierFields) {
    Frame frame;
    frame.host->failParamCheckout(13, 55);
    EXPECT_EQ(frame.preRender(), 55);
    const RenderSettings& s = frame.settings();
    EXPECT_EQ(s.bevelDepth, 1.5f);
    EXPECT_EQ(s.hdriMap, 1);
    EXPECT_EQ(s.envBlur, 0.0f);
    EXPECT_EQ(s.glowIntensity, 0.0f);
    EXPECT_EQ(s.expansion, 0) << "no glow read, Inner Bevel";
    EXPECT_EQ(frame.host->openParamCheckouts(), 0);
    EXPECT_TRUE(frame.host->layerCheckouts().empty());
}

TEST(PreRender, InputCheckoutAndRectanglesWithMargin) {
    Frame frame(1920, 1080);  // defaults: glow 0.3 at radius 65, margin 500
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    ASSERT_EQ(frame.host->layerCheckouts().size(), 1u);
    const refhost::LayerCheckout& input = frame.host->layerCheckouts()[0];
    EXPECT_EQ(input.index, 0);
    EXPECT_EQ(input.checkoutId, 0);
    EXPECT_TRUE(input.request.preserve_rgb_of_zero_alpha);
    const RenderSettings& s = frame.settings();
    EXPECT_EQ(s.expansion, 500);
    EXPECT_EQ(std::vector<int>(s.inputRect, s.inputRect + 4), (std::vector<int>{0, 0, 1920, 1080}));
    EXPECT_EQ(std::vector<int>(s.outputRect, s.outputRect + 4),
              (std::vector<int>{-500, -500, 2420, 1580}));
    EXPECT_EQ(frame.output.result_rect.left, -500);
    EXPECT_EQ(frame.output.result_rect.bottom, 1580);
    EXPECT_EQ(frame.output.max_result_rect.right, 2420);
    EXPECT_EQ(frame.output.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS,
              PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
}

TEST(PreRender, NoMarginLeavesTheInputRectangle) {
    Frame frame(100, 50);
    frame.host->params().setValue(34, 0.05);  // the glow term needs more than 0.05
    PF_RenderRequest request = frame.host->fullLayerRequest();
    request.rect = PF_LRect{10, 5, 60, 40};
    ASSERT_EQ(frame.host->smartPreRender(request, 16, &frame.output), PF_Err_NONE);
    EXPECT_EQ(frame.settings().expansion, 0);
    EXPECT_EQ(frame.output.flags, 0);
    EXPECT_EQ(std::vector<int>(frame.settings().outputRect, frame.settings().outputRect + 4),
              (std::vector<int>{10, 5, 60, 40}));
    EXPECT_EQ(frame.output.max_result_rect.right, 100);
}

TEST(PreRender, CustomMapLayerIsCheckedOutOnlyWhenChosen) {
    Frame frame;
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    EXPECT_EQ(frame.host->layerCheckouts().size(), 1u);
    frame.host->clearLogs();
    frame.host->params().setValue(11, 10);
    frame.host->setLayer(12, refhost::OwnedWorld(32, 16, 8));
    ASSERT_EQ(frame.preRender(), PF_Err_NONE);
    ASSERT_EQ(frame.host->layerCheckouts().size(), 2u);
    const refhost::LayerCheckout& map = frame.host->layerCheckouts()[1];
    EXPECT_EQ(map.index, 12);
    EXPECT_EQ(map.checkoutId, 12);
    EXPECT_FALSE(map.request.preserve_rgb_of_zero_alpha) << "the host's request unchanged";
    // A map checkout the host fails fails the frame with the host's error.
    frame.host->failLayerCheckout(12, 99);
    EXPECT_EQ(frame.preRender(), 99);
}

TEST(PreRender, FailingInputCheckoutIsReturnedAndTheRecordStaysWithTheHost) {
    Frame frame;
    frame.host->failLayerCheckout(0, 42);
    EXPECT_EQ(frame.preRender(), 42);
    ASSERT_NE(frame.host->preRenderData(), nullptr);
    EXPECT_EQ(frame.settings().expansion, 500);
    EXPECT_EQ(frame.settings().inputRect[2], 0);
}

TEST(FrameSetup, ExpandsTheOutputByTheMargin) {
    auto host = lumet::test::loadedPlugin();
    host->setLayer(0, refhost::OwnedWorld(1920, 1080, 8));
    refhost::FrameSetupResult result;
    ASSERT_EQ(host->frameSetup(&result), PF_Err_NONE);  // glow 0.3 at radius 65
    EXPECT_EQ(result.width, 2920);
    EXPECT_EQ(result.height, 2080);
    EXPECT_EQ(result.origin.h, 500);
    EXPECT_EQ(result.origin.v, 500);

    host->params().setValue(35, 500);
    ASSERT_EQ(host->frameSetup(&result), PF_Err_NONE);
    EXPECT_EQ(result.width, 1920 + 3000);
    EXPECT_EQ(result.origin.v, 1500);

    host->params().setValue(34, 0.05);
    ASSERT_EQ(host->frameSetup(&result), PF_Err_NONE);
    EXPECT_EQ(result.width, 1920) << "the out data stays as the host filled it";
    EXPECT_EQ(result.height, 1080);
    EXPECT_EQ(result.origin.h, 0);

    host->params().setValue(3, 2);  // Outer Bevel, though the plain render draws Inner Bevel
    ASSERT_EQ(host->frameSetup(&result), PF_Err_NONE);
    EXPECT_EQ(result.width, 2920);
}

}  // namespace
