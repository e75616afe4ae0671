// Lumet.ofx.bundle in the OpenFX test host: what it declares, presets by the user's route, the
// same pixels as the effect library on the other host's smart protocol, concurrent renders, and
// clean failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "geometry/text_like_alpha.h"
#include "host/loaded_plugin.h"
#include "params/param_ids.h"
#include "refhost/layers.h"
#include "refhost/ofx_host.h"
#include "refhost/render_host.h"

namespace {

using refhost::ofxhost::Instance;
using refhost::ofxhost::Plugin;
using refhost::ofxhost::RenderedImage;
using refhost::ofxhost::RenderRequest;

constexpr std::int32_t kLayerW = 96, kLayerH = 64;

// White text-like coverage, premultiplied, every value a multiple of 1/32768 so that both hosts
// hand the pipeline the same 16-bit layer (0..65535 on one side, 0..32768 on the other).
std::vector<float> textLayer(std::int32_t w, std::int32_t h) {
    const std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(w, h, h * 3 / 4);
    std::vector<float> rgba(alpha.size() * 4);
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        const float a = std::round(alpha[i] / 255.0f * 32768.0f) / 32768.0f;
        rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = rgba[4 * i + 3] = a;
    }
    return rgba;
}

// A horizontal colour ramp as the custom environment map.
std::vector<float> rampMap(std::int32_t w, std::int32_t h) {
    std::vector<float> rgba(static_cast<std::size_t>(w) * h * 4);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            float* p = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = float(x) / w, p[1] = float(y) / h, p[2] = 0.5f, p[3] = 1.0f;
        }
    return rgba;
}

struct Scene {
    const char* name;
    int bits;
    int style;   // Bevel Style choice (1-based)
    int preset;  // 0: none
    bool customMap;
    bool draft;
    int downscale;  // the OpenFX render scale is 1 / downscale
};

// The effect library through the other host's smart protocol, on the same layer and settings.
RenderedImage renderOnEffectHost(const Scene& scene, const std::vector<float>& layer,
                                 std::int32_t w, std::int32_t h) {
    auto host = lumet::test::loadedPlugin();
    host->setLayer(lumet::PARAM_INPUT, refhost::worldFromRgba(layer.data(), w, h, scene.bits));
    if (scene.preset) {
        host->params().setValue(lumet::PARAM_PRESET, scene.preset);
        EXPECT_EQ(host->changeParam(lumet::PARAM_PRESET), PF_Err_NONE);
    }
    host->params().setValue(lumet::PARAM_BEVEL_STYLE, scene.style);
    if (scene.customMap) {
        const std::vector<float> map = rampMap(64, 32);
        host->setLayer(lumet::PARAM_CUSTOM_MAP,
                       refhost::worldFromRgba(map.data(), 64, 32, scene.bits));
        host->params().setValue(lumet::PARAM_HDRI_MAP, lumet::kCustomMap);
    }
    refhost::FrameOptions options;
    options.bitsPerChannel = scene.bits;
    options.highQuality = !scene.draft;
    options.downsampleX = options.downsampleY = scene.downscale;
    refhost::RenderedFrame frame;
    EXPECT_EQ(refhost::renderSmartFrame(*host, options, frame), PF_Err_NONE) << scene.name;
    RenderedImage image;
    image.rgba = refhost::rgbaFromWorld(*frame.output.world(), scene.bits);
    image.width = frame.output.width(), image.height = frame.output.height();
    image.inputX = frame.inputX, image.inputY = frame.inputY;
    return image;
}

std::unique_ptr<Instance> ofxInstance(Plugin& plugin, const Scene& scene,
                                      const std::vector<float>& layer) {
    auto instance = std::make_unique<Instance>(
        plugin, scene.customMap ? kOfxImageEffectContextGeneral : kOfxImageEffectContextFilter);
    instance->setClipImage("Source", layer, kLayerW, kLayerH);
    if (scene.preset) {
        EXPECT_EQ(instance->userEdit("Preset", {double(scene.preset - 1), 0, 0}), kOfxStatOK);
    }
    instance->setValue("BevelStyle", {double(scene.style - 1), 0, 0});
    if (scene.customMap) {
        instance->setClipImage("Environment", rampMap(64, 32), 64, 32);
        instance->setValue("HDRIMap", {double(lumet::kCustomMap - 1), 0, 0});
    }
    return instance;
}

RenderedImage renderOfx(Instance& instance, const Scene& scene) {
    RenderRequest request;
    request.bitsPerChannel = scene.bits;
    request.draft = scene.draft;
    request.renderScale = 1.0 / scene.downscale;
    RenderedImage image;
    EXPECT_EQ(instance.render(request, image), kOfxStatOK) << scene.name;
    return image;
}

// The layer's frame of both images, channel by channel: equal at 8 bits and in float; at 16 bits
// each is the same value truncated at its host's white (65535 and 32768), so they agree to
// within the coarser step.
void expectSamePixels(const Scene& scene, const RenderedImage& effect, const RenderedImage& ofx,
                      std::int32_t w, std::int32_t h) {
    int differing = 0;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w * 4; ++x) {
            const float a =
                effect
                    .rgba[(std::size_t(effect.inputY + y) * effect.width + effect.inputX) * 4 + x];
            const float b =
                ofx.rgba[(std::size_t(ofx.inputY + y) * ofx.width + ofx.inputX) * 4 + x];
            const bool same = scene.bits == 16
                                  ? std::abs(b - a) * 65535.0f <= 2.0001f
                                  : a == b;
            differing += same ? 0 : 1;
        }
    EXPECT_EQ(differing, 0) << scene.name;
}

class OfxBundle : public ::testing::Test {
protected:
    OfxBundle() : plugin(LUMET_OFX_BUNDLE_PATH "/") {}
    Plugin plugin;
};

TEST_F(OfxBundle, BothPluginsGiveTheSamePixels) {
    const Scene scenes[] = {
        {"inner bevel, 8-bit", 8, 1, 0, false, false, 1},
        {"outer bevel, 16-bit", 16, 2, 0, false, false, 1},
        {"full bevel, float", 32, 3, 0, false, false, 1},
        {"emboss, 8-bit, draft", 8, 4, 0, false, true, 1},
        {"pillow, 16-bit", 16, 5, 0, false, false, 1},
        {"Diamond preset, 8-bit", 8, 1, 9, false, false, 1},
        {"Black Chrome preset, float", 32, 1, 8, false, false, 1},
        {"Environment clip as the custom map, 16-bit", 16, 1, 0, true, false, 1},
        // Render scale 0.5 is the other host's preview at factor 2: both hosts average the
        // layer's 2 x 2 blocks alike (a layer exact at 8 bits, so that neither rounds it first)
        // and the effect scales every pixel size by the factor.
        {"render scale 0.5, 8-bit", 8, 1, 0, false, false, 2},
    };
    const std::vector<float> exact16 = textLayer(kLayerW, kLayerH);
    std::vector<float> exact8 = exact16;
    for (float& v : exact8) v = std::round(v * 255.0f) / 255.0f;
    for (const Scene& scene : scenes) {
        const std::vector<float>& layer = scene.downscale == 1 ? exact16 : exact8;
        auto instance = ofxInstance(plugin, scene, layer);
        const RenderedImage ofx = renderOfx(*instance, scene);
        EXPECT_EQ(instance->imagesHeld(), 0) << scene.name;
        const int k = scene.downscale;
        const RenderedImage effect = renderOnEffectHost(scene, layer, kLayerW, kLayerH);
        if (k == 1) {
            EXPECT_EQ(ofx.width, effect.width) << scene.name;
            EXPECT_EQ(ofx.inputX, effect.inputX) << scene.name;
        }
        expectSamePixels(scene, effect, ofx, kLayerW / k, kLayerH / k);
    }
}

TEST_F(OfxBundle, DeclaresTheParametersOfTheTable) {
    Instance instance(plugin, kOfxImageEffectContextGeneral);
    EXPECT_EQ(instance.clipNames(), (std::vector<std::string>{"Source", "Environment", "Output"}));
    // 44 declared parameters less 6 group ends and the custom map layer (a clip here).
    EXPECT_EQ(instance.paramNames().size(), 37u);
    struct Row {
        const char* name;
        const char* label;
        const char* type;
        const char* parent;
        std::array<double, 3> defaults;
        double min, max, displayMin, displayMax;
        int digits;
    };
    const Row rows[] = {
        {"Preset", "Preset", kOfxParamTypeChoice, "", {0}, 0, 0, 0, 0, 0},
        {"BevelDepth", "Bevel Depth", kOfxParamTypeDouble, "Bevel", {150}, 0, 300, 0, 300, 2},
        {"RotationX",
         "Rotation X",
         kOfxParamTypeDouble,
         "Rotation",
         {0},
         -10000,
         10000,
         -100,
         100,
         2},
        {"Metal", "Metal", kOfxParamTypeDouble, "HDRI", {100}, 0, 100, 0, 100, 2},
        {"LightAngle", "Light Angle", kOfxParamTypeDouble, "Lighting", {135}, 0, 0, 0, 0, 0},
        {"GlowIntensity",
         "Glow Intensity",
         kOfxParamTypeDouble,
         "Glow",
         {double(0.3f)},
         0,
         10,
         0,
         10,
         1},
        {"MidtoneColor",
         "Midtone Color",
         kOfxParamTypeRGB,
         "Color",
         {212 / 255.0, 168 / 255.0, 64 / 255.0},
         0,
         0,
         0,
         0,
         0},
        {"SmartEdge", "Smart Edge", kOfxParamTypeBoolean, "Bevel", {1}, 0, 0, 0, 0, 0},
        {"Rotation", "Rotation", kOfxParamTypeGroup, "HDRI", {0}, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        const refhost::ofxhost::PropertySet* props = instance.paramProperties(row.name);
        ASSERT_NE(props, nullptr) << row.name;
        EXPECT_EQ(props->getString(kOfxPropLabel), row.label) << row.name;
        EXPECT_EQ(props->getString(kOfxParamPropType), row.type) << row.name;
        EXPECT_EQ(props->getString(kOfxParamPropParent), row.parent) << row.name;
        if (std::string(row.type) == kOfxParamTypeGroup) {
            EXPECT_EQ(props->getInt(kOfxParamPropGroupOpen), 1) << row.name;
            continue;
        }
        EXPECT_EQ(instance.value(row.name), row.defaults) << row.name;
        if (row.digits) {
            EXPECT_EQ(props->getDouble(kOfxParamPropMin), row.min) << row.name;
            EXPECT_EQ(props->getDouble(kOfxParamPropMax), row.max) << row.name;
            EXPECT_EQ(props->getDouble(kOfxParamPropDisplayMin), row.displayMin) << row.name;
            EXPECT_EQ(props->getDouble(kOfxParamPropDisplayMax), row.displayMax) << row.name;
            EXPECT_EQ(props->getInt(kOfxParamPropDigits), row.digits) << row.name;
        }
    }
    EXPECT_EQ(instance.paramProperties("LightAngle")->getString(kOfxParamPropDoubleType),
              kOfxParamDoubleTypeAngle);
    EXPECT_EQ(instance.paramProperties("Preset")->dimension(kOfxParamPropChoiceOption), 9);
    EXPECT_EQ(instance.paramProperties("HDRIMap")->getString(kOfxParamPropChoiceOption, 9),
              "Custom Map");
    // The parameters the other host keeps invisible are secret here.
    for (const char* name : {"BevelStyle", "ShowEnvMap"}) {
        EXPECT_EQ(instance.paramProperties(name)->getInt(kOfxParamPropSecret), 1) << name;
    }
    EXPECT_EQ(instance.paramProperties("BevelDepth")->getInt(kOfxParamPropSecret), 0);
}

TEST_F(OfxBundle, PresetsFollowTheUsersChoiceOnly) {
    Instance instance(plugin, kOfxImageEffectContextFilter);
    // A host's own change of the Preset value (a project restored, undo) rewrites nothing.
    for (const char* reason : {kOfxChangePluginEdited, kOfxChangeTime}) {
        ASSERT_EQ(instance.userEdit("Preset", {8, 0, 0}, 0.0, reason), kOfxStatOK);
        EXPECT_EQ(instance.value("BevelDepth")[0], 150.0) << reason;
    }
    // The user's choice of Diamond: its map, rotation, dispersion and depth, and no glow.
    ASSERT_EQ(instance.userEdit("Preset", {8, 0, 0}), kOfxStatOK);
    const std::pair<const char*, std::array<double, 3>> expected[] = {
        {"HDRIMap", {8, 0, 0}},       {"RotationY", {175, 0, 0}},
        {"Dispersion", {7, 0, 0}},    {"BevelDepth", {120, 0, 0}},
        {"GlowIntensity", {0, 0, 0}}, {"GlowRadius", {0, 0, 0}},
        {"LightAngle", {135, 0, 0}},  {"MidtoneColor", {212 / 255.0, 226 / 255.0, 1.0}},
        {"BevelStyle", {0, 0, 0}},    {"Preset", {8, 0, 0}},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(instance.value(name), value) << name;
    // Silver's angle (112 degrees) as the other host stores it, 16.16 fixed point.
    ASSERT_EQ(instance.userEdit("Preset", {1, 0, 0}), kOfxStatOK);
    EXPECT_EQ(instance.value("LightAngle")[0], 112.0);
}

TEST_F(OfxBundle, ConcurrentRendersGiveTheFramesAlone) {
    const Scene scene{"two threads", 8, 1, 0, false, false, 1};
    const std::vector<float> layer = textLayer(kLayerW, kLayerH);
    auto first = ofxInstance(plugin, scene, layer);
    auto second = ofxInstance(plugin, scene, layer);
    second->setValue("GlowRadius", {120, 0, 0});
    const RenderedImage aloneFirst = renderOfx(*first, scene);
    const RenderedImage aloneSecond = renderOfx(*second, scene);
    // Two instances at once, then one instance on two threads (one render finds its cache busy).
    for (Instance* other : {second.get(), first.get()}) {
        RenderedImage a, b;
        std::thread thread([&] { a = renderOfx(*first, scene); });
        b = renderOfx(*other, scene);
        thread.join();
        EXPECT_EQ(a.rgba, aloneFirst.rgba);
        EXPECT_EQ(b.rgba, other == first.get() ? aloneFirst.rgba : aloneSecond.rgba);
    }
}

// Hosts save a project's effect under the identifier and major version the bundle's binary
// hands out: they must never change.
TEST(OfxBundleIdentity, TheBinaryDeclaresTheFixedIdentifier) {
    Plugin plugin(LUMET_OFX_BUNDLE_PATH);
    EXPECT_STREQ(plugin.record().pluginIdentifier, "com.veltra.lumet");
    EXPECT_EQ(plugin.record().pluginVersionMajor, 1u);
}

TEST(OfxBundleFailures, AMissingSuiteIsACleanError) {
    for (const char* suite : {kOfxPropertySuite, kOfxParameterSuite, kOfxImageEffectSuite}) {
        Plugin plugin(LUMET_OFX_BUNDLE_PATH);
        plugin.withholdSuite(suite);
        EXPECT_EQ(plugin.open(), kOfxStatErrMissingHostFeature) << suite;
    }
    // Without a source image the frame is transparent, without an error.
    Plugin plugin(LUMET_OFX_BUNDLE_PATH);
    Instance instance(plugin, kOfxImageEffectContextFilter);
    instance.setClipImage("Source", {0, 0, 0, 0}, 1, 1);
    RenderedImage image;
    ASSERT_EQ(instance.render(RenderRequest{}, image), kOfxStatOK);
    EXPECT_TRUE(std::all_of(image.rgba.begin(), image.rgba.end(), [](float v) { return v == 0; }));

    // A frame the host's abort answers true for fails quietly (no message to the user), and the
    // next frame, no longer aborted, renders.
    std::vector<float> disc(64 * 64 * 4, 0.0f);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if ((x - 32) * (x - 32) + (y - 32) * (y - 32) < 400)
                std::fill_n(disc.begin() + (y * 64 + x) * 4, 4, 1.0f);
    instance.setClipImage("Source", disc, 64, 64);
    std::atomic<bool> abort{true};
    instance.setAbortFlag(&abort);
    const std::size_t messages = plugin.messages().size();
    EXPECT_EQ(instance.render(RenderRequest{}, image), kOfxStatFailed);
    EXPECT_EQ(plugin.messages().size(), messages);
    abort = false;
    ASSERT_EQ(instance.render(RenderRequest{}, image), kOfxStatOK);
    EXPECT_TRUE(std::any_of(image.rgba.begin(), image.rgba.end(), [](float v) { return v > 0; }));
}

}  // namespace
