// Frames through the OpenFX bundle: the OpenFX test host drives Lumet.ofx as an OpenFX host
// would, with the command's layers, preset, settings and keys.
#include <array>
#include <stdexcept>

#include "frame_instance.h"
#include "ofx/ofx_entry.h"
#include "ofx/ofx_instance.h"
#include "ofx/ofx_params.h"
#include "params/param_ids.h"
#include "params/param_table.h"
#include "plugin_session.h"

namespace lumet::cli {

namespace {

// A value as the OpenFX parameter holds it: choices 0-based, colours 0..1.
std::array<double, 3> ofxValue(const ParamSpec& spec, const ParamValue& value) {
    switch (spec.kind) {
        case ParamKind::Popup:
            return {double(value.choice - 1), 0, 0};
        case ParamKind::Checkbox:
            return {value.on ? 1.0 : 0.0, 0, 0};
        case ParamKind::Color:
            return {value.rgb[0] / 255.0, value.rgb[1] / 255.0, value.rgb[2] / 255.0};
        default:
            return {value.number, 0, 0};
    }
}

class OfxFrameInstance : public FrameInstance {
public:
    OfxFrameInstance(refhost::ofxhost::Plugin& plugin, const RenderOptions& options)
        : options_(options),
          instance_(plugin, options.customMapPath.empty() ? kOfxImageEffectContextFilter
                                                          : kOfxImageEffectContextGeneral) {}

    refhost::ofxhost::Instance& instance() { return instance_; }

    void setLayer(const Image& layer) override {
        instance_.setClipImage(kOfxImageEffectSimpleSourceClipName, layer.rgba, layer.width,
                               layer.height, options_.depth);
    }

    bool render(std::int32_t frame, RenderedOutput& output, std::string& failure) override {
        refhost::ofxhost::RenderRequest request;
        request.time = frame;
        request.bitsPerChannel = options_.depth;
        request.draft = !options_.highQuality();
        request.renderScale = 1.0 / options_.downsample;
        instance_.takeMessages();  // what earlier frames left
        const OfxStatus status = instance_.render(request, output.image);
        if (status == kOfxStatOK) return true;
        if (instance_.abortRequested()) {
            failure = "interrupted";
            return false;
        }
        failure = "OpenFX status " + std::to_string(status);
        for (const std::string& message : instance_.takeMessages()) {
            failure += "; " + message;
        }
        return false;
    }

    // Converts only the cut of the output image's own bytes (rows bottom to top), once: straight
    // to PNG samples or to the floats the other writers take.
    Image takeImage(RenderedOutput& output, std::int32_t layerWidth, std::int32_t layerHeight,
                    bool full) override {
        const refhost::ofxhost::RenderedImage& rendered = output.image;
        const OutputCut cut = outputCut(rendered.width, rendered.height, rendered.inputX,
                                        rendered.inputY, previewSize(layerWidth, options_.downsample),
                                        previewSize(layerHeight, options_.downsample), full);
        Image image;
        image.width = cut.width;
        image.height = cut.height;
        image.frameX = cut.frameX, image.frameY = cut.frameY;
        image.frameWidth = cut.frameWidth, image.frameHeight = cut.frameHeight;
        image.premultiplied = true;
        if (straightToPng8(options_)) {
            image.premultiplied = false;
            image.samples8 = Samples8::owned(cut.width, cut.height);
            for (std::int32_t y = 0; y < cut.height; ++y) {
                straightSamples8(
                    rendered.rowFromTop(cut.y0 + y) + 4 * static_cast<std::size_t>(cut.x0),
                    cut.width, image.samples8.row(y), Order8::Rgba);
            }
        } else {
            image.rgba = refhost::ofxhost::rgbaOf(rendered, cut.x0, cut.y0, cut.width, cut.height);
        }
        output.image = {};
        return image;
    }

private:
    const RenderOptions& options_;
    refhost::ofxhost::Instance instance_;
};

}  // namespace

std::unique_ptr<refhost::ofxhost::Plugin> openOfxPlugin(const CommandContext& context,
                                                        bool inProcess) {
    auto plugin =
        inProcess
            ? std::make_unique<refhost::ofxhost::Plugin>(lumet::ofx::plugin(0))
            : std::make_unique<refhost::ofxhost::Plugin>(resolveOfxBundlePath(context.pluginPath));
    const OfxStatus status = plugin->open();
    if (status != kOfxStatOK) {
        throw std::runtime_error("the OpenFX plug-in failed to load (status " +
                                 std::to_string(status) + ")");
    }
    return plugin;
}

std::unique_ptr<FrameInstance> makeOfxInstance(refhost::ofxhost::Plugin& plugin,
                                               const RenderOptions& options, const Image& layer,
                                               const Image& customMap,
                                               const std::atomic<bool>* abort) {
    auto made = std::make_unique<OfxFrameInstance>(plugin, options);
    refhost::ofxhost::Instance& instance = made->instance();
    instance.setAbortFlag(abort);
    // The layers kept at the frames' depth, as the other host keeps its layer worlds.
    instance.setClipImage(kOfxImageEffectSimpleSourceClipName, layer.rgba, layer.width,
                          layer.height, options.depth);
    auto name = [](int id) { return std::string(lumet::ofx::paramName(id)); };
    if (options.preset) {
        const OfxStatus status =
            instance.userEdit(name(PARAM_PRESET), {double(*options.preset - 1), 0, 0});
        if (status != kOfxStatOK) {
            throw std::runtime_error("applying the preset failed: OpenFX status " +
                                     std::to_string(status));
        }
    }
    if (!options.customMapPath.empty()) {
        instance.setClipImage(lumet::ofx::kEnvironmentClipName, customMap.rgba, customMap.width,
                              customMap.height, options.depth);
        instance.setValue(name(PARAM_HDRI_MAP), {double(kCustomMap - 1), 0, 0});
    }
    for (const ParamSetting& setting : options.settings) {
        if (!lumet::ofx::paramName(setting.id)) continue;  // the custom map layer: a clip here
        instance.setValue(name(setting.id), ofxValue(paramSpec(setting.id), setting.value));
    }
    for (const ParamKey& key : options.keys) {
        if (!lumet::ofx::paramName(key.id)) continue;
        instance.setKey(name(key.id), key.frame, ofxValue(paramSpec(key.id), key.value));
    }
    return made;
}

}  // namespace lumet::cli
