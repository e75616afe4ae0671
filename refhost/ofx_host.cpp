// The OpenFX test host: loading a bundle, and the action sequences of the plug-in and of its
// instances (the suites they call are in ofx_suites.cpp).
#include "refhost/ofx_host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/platform.h"
#include "refhost/ofx_objects.h"

namespace refhost::ofxhost {

std::string bundleBinaryPath(const std::string& bundlePath) {
    std::string bundle = bundlePath;
    while (bundle.size() > 1 && (bundle.back() == '/' || bundle.back() == '\\')) bundle.pop_back();
    const std::size_t slash = bundle.find_last_of("/\\");
    std::string name = slash == std::string::npos ? bundle : bundle.substr(slash + 1);
    const std::string suffix = ".bundle";
    if (name.size() > suffix.size() && name.ends_with(suffix))
        name.resize(name.size() - suffix.size());
#ifdef _WIN32
    return bundle + "/Contents/Win64/" + name;
#else
    return bundle + "/Contents/Linux-x86-64/" + name;
#endif
}

Plugin::Plugin(const std::string& bundlePath) {
    const std::string binary = bundleBinaryPath(bundlePath);
    library_ = lumet::platform::loadLibrary(binary.c_str());
    if (!library_) throw std::runtime_error("cannot load the OpenFX binary " + binary);
    auto count = reinterpret_cast<int (*)()>(
        lumet::platform::findFunction(library_, "OfxGetNumberOfPlugins"));
    auto get = reinterpret_cast<OfxPlugin* (*)(int)>(
        lumet::platform::findFunction(library_, "OfxGetPlugin"));
    if (!count || !get) {
        lumet::platform::freeLibrary(library_);
        throw std::runtime_error(binary +
                                 " does not export OfxGetNumberOfPlugins and OfxGetPlugin");
    }
    plugin_ = count() >= 1 ? get(0) : nullptr;
    if (!plugin_) {
        lumet::platform::freeLibrary(library_);
        throw std::runtime_error(binary + " holds no plug-in");
    }
    start();
    // The standard's newer entry point, called before any plug-in's own setHost.
    if (auto setHost = reinterpret_cast<OfxStatus (*)(const OfxHost*)>(
            lumet::platform::findFunction(library_, "OfxSetHost"))) {
        setHost(&host_);
    }
    plugin_->setHost(&host_);
}

Plugin::Plugin(OfxPlugin* inProcess) : plugin_(inProcess) {
    if (!plugin_) throw std::runtime_error("no plug-in record");
    start();
    plugin_->setHost(&host_);
}

void Plugin::start() {
    if (std::strcmp(plugin_->pluginApi, kOfxImageEffectPluginApi) != 0 ||
        plugin_->apiVersion != kOfxImageEffectPluginApiVersion) {
        throw std::runtime_error(std::string("not an image effect plug-in: ") + plugin_->pluginApi);
    }
    describeHost(hostProps_);
    host_.host = hostProps_.handle();
    host_.fetchSuite = fetchSuite;
    registerPlugin(host_.host, this);
}

Plugin::~Plugin() {
    descriptor_.reset();
    if (loaded_) action(kOfxActionUnload, nullptr, nullptr, nullptr);
    unregisterPlugin(host_.host);
    if (library_) lumet::platform::freeLibrary(library_);
}

OfxStatus Plugin::open() {
    if (descriptor_) return kOfxStatOK;
    OfxStatus status = action(kOfxActionLoad, nullptr, nullptr, nullptr);
    if (status != kOfxStatOK && status != kOfxStatReplyDefault) return status;
    loaded_ = true;
    auto descriptor = std::make_unique<Effect>();
    descriptor->plugin = this;
    descriptor->props.set(kOfxPropType, std::string(kOfxTypeImageEffect));
    descriptor->props.set(kOfxPluginPropFilePath, std::string());
    status = action(kOfxActionDescribe, descriptor.get(), nullptr, nullptr);
    if (status != kOfxStatOK && status != kOfxStatReplyDefault) return status;
    descriptor_ = std::move(descriptor);
    return kOfxStatOK;
}

PropertySet& Plugin::descriptor() {
    if (!descriptor_) throw std::runtime_error("the plug-in is not described");
    return descriptor_->props;
}

OfxStatus Plugin::action(const char* name, const void* handle, PropertySet* inArgs,
                         PropertySet* outArgs) {
    return plugin_->mainEntry(name, handle, inArgs ? inArgs->handle() : nullptr,
                              outArgs ? outArgs->handle() : nullptr);
}

std::vector<std::string> Plugin::messages() const {
    std::lock_guard<std::mutex> lock(messagesMutex_);
    return messages_;
}
std::vector<std::string> Instance::takeMessages() {
    const std::lock_guard<std::mutex> hold(messagesMutex_);
    return std::exchange(messages_, {});
}

void Instance::postMessage(const std::string& text) {
    const std::lock_guard<std::mutex> hold(messagesMutex_);
    messages_.push_back(text);
}

void Plugin::postMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(messagesMutex_);
    messages_.push_back(text);
}
bool Plugin::withheld(const char* name) const {
    return std::find(withheld_.begin(), withheld_.end(), name) != withheld_.end();
}

// ---- instances ----

namespace {

bool succeeded(OfxStatus status) { return status == kOfxStatOK || status == kOfxStatReplyDefault; }

std::unique_ptr<Param> instanceParam(const Param& descriptor, Effect* owner) {
    auto param = std::make_unique<Param>();
    param->name = descriptor.name;
    param->type = descriptor.type;
    param->effect = owner;
    copyProps(descriptor.props, param->props);
    param->props.set(kOfxPropType, std::string(kOfxTypeParameterInstance));
    for (int i = 0; i < param->dimension() && param->holdsValue(); ++i) {
        param->value[i] = param->integral() ? param->props.getInt(kOfxParamPropDefault, i)
                                            : param->props.getDouble(kOfxParamPropDefault, i);
    }
    return param;
}

// Sends instance changed for a parameter, inside begin / end instance changed.
OfxStatus announceChange(Instance& instance, const std::string& name, const char* reason,
                         double time) {
    PropertySet begin, args;
    begin.set(kOfxPropChangeReason, std::string(reason));
    args.set(kOfxPropType, std::string(kOfxTypeParameter));
    args.set(kOfxPropName, name);
    args.set(kOfxPropChangeReason, std::string(reason));
    args.set(kOfxPropTime, time);
    args.setAll(kOfxImageEffectPropRenderScale, {1.0, 1.0});
    Plugin& plugin = instance.plugin();
    const void* handle = &instance.effect();
    OfxStatus status = plugin.action(kOfxActionBeginInstanceChanged, handle, &begin, nullptr);
    if (!succeeded(status)) return status;
    status = plugin.action(kOfxActionInstanceChanged, handle, &args, nullptr);
    const OfxStatus end = plugin.action(kOfxActionEndInstanceChanged, handle, &begin, nullptr);
    return succeeded(status) ? end : status;
}

OfxRectI pixelBounds(const OfxRectD& rod, double scale) {
    return OfxRectI{
        static_cast<int>(std::floor(rod.x1 * scale)), static_cast<int>(std::floor(rod.y1 * scale)),
        static_cast<int>(std::ceil(rod.x2 * scale)), static_cast<int>(std::ceil(rod.y2 * scale))};
}

void setRect(PropertySet& p, const char* name, const OfxRectD& r) {
    p.setAll(name, {r.x1, r.y1, r.x2, r.y2});
}
OfxRectD getRect(const PropertySet& p, const char* name) {
    return OfxRectD{p.getDouble(name, 0), p.getDouble(name, 1), p.getDouble(name, 2),
                    p.getDouble(name, 3)};
}

}  // namespace

Instance::Instance(Plugin& plugin, const std::string& context) : plugin_(plugin) {
    OfxStatus status = plugin.open();
    if (!succeeded(status)) {
        throw std::runtime_error("the plug-in failed to load or describe itself (status " +
                                 std::to_string(status) + ")");
    }
    // The description in this context.
    Effect described;
    described.plugin = &plugin;
    copyProps(plugin.descriptor(), described.props);
    described.props.set(kOfxImageEffectPropContext, context);
    PropertySet inArgs;
    inArgs.set(kOfxImageEffectPropContext, context);
    status = plugin.action(kOfxImageEffectActionDescribeInContext, &described, &inArgs, nullptr);
    if (!succeeded(status)) {
        throw std::runtime_error("the plug-in cannot be described in the context " + context +
                                 " (status " + std::to_string(status) + ")");
    }
    // The instance: its properties, parameters at their defaults and clips.
    effect_ = std::make_unique<Effect>();
    effect_->plugin = &plugin;
    effect_->instance = this;
    copyProps(described.props, effect_->props);
    PropertySet& p = effect_->props;
    p.set(kOfxPropType, std::string(kOfxTypeImageEffectInstance));
    p.set(kOfxPropInstanceData, static_cast<void*>(nullptr));
    p.set(kOfxPropIsInteractive, 0);
    p.setAll(kOfxImageEffectPropFrameRange, {0.0, 0.0});
    for (const auto& param : described.params.params) {
        effect_->params.params.push_back(instanceParam(*param, effect_.get()));
    }
    for (const auto& clip : described.clips) {
        auto made = std::make_unique<Clip>();
        made->name = clip->name;
        copyProps(clip->props, made->props);
        made->props.set(kOfxImageClipPropConnected, made->output() ? 1 : 0);
        made->props.set(kOfxImageEffectPropComponents, std::string(kOfxImageComponentRGBA));
        made->props.set(kOfxImageEffectPropPixelDepth, std::string(kOfxBitDepthFloat));
        made->props.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
        effect_->clips.push_back(std::move(made));
    }
    status = plugin.action(kOfxActionCreateInstance, effect_.get(), nullptr, nullptr);
    if (!succeeded(status)) {
        throw std::runtime_error("the plug-in failed to create an instance (status " +
                                 std::to_string(status) + ")");
    }
}

Instance::~Instance() {
    plugin_.action(kOfxActionDestroyInstance, effect_.get(), nullptr, nullptr);
}

std::vector<std::string> Instance::paramNames() const {
    std::vector<std::string> names;
    for (const auto& param : effect_->params.params) names.push_back(param->name);
    return names;
}

const PropertySet* Instance::paramProperties(const std::string& name) const {
    const Param* param = effect_->params.find(name);
    return param ? &param->props : nullptr;
}

std::vector<std::string> Instance::clipNames() const {
    std::vector<std::string> names;
    for (const auto& clip : effect_->clips) names.push_back(clip->name);
    return names;
}

std::array<double, 3> Instance::value(const std::string& name, double time) const {
    const Param* param = effect_->params.find(name);
    if (!param) throw std::invalid_argument("no parameter " + name);
    return param->at(time);
}

void Instance::setValue(const std::string& name, std::array<double, 3> value) {
    Param* param = effect_->params.find(name);
    if (!param) throw std::invalid_argument("no parameter " + name);
    param->value = value;
    param->keys.clear();
}

void Instance::setKey(const std::string& name, double time, std::array<double, 3> value) {
    Param* param = effect_->params.find(name);
    if (!param) throw std::invalid_argument("no parameter " + name);
    param->setKey(time, value);
}

OfxStatus Instance::userEdit(const std::string& name, std::array<double, 3> value, double time,
                             const char* reason) {
    Param* param = effect_->params.find(name);
    if (!param) throw std::invalid_argument("no parameter " + name);
    if (param->keys.empty()) {
        param->value = value;
    } else {
        param->setKey(time, value);
    }
    time_ = time;
    OfxStatus status = announceChange(*this, name, reason, time);
    // What the plug-in set in turn is announced as its own edits, which it must not answer as
    // a user's.
    std::vector<std::string> edits;
    {
        std::lock_guard<std::mutex> lock(effect_->editsMutex);
        edits.swap(effect_->pluginEdits);
    }
    for (const std::string& edited : edits) {
        if (!succeeded(status)) break;
        status = announceChange(*this, edited, kOfxChangePluginEdited, time);
    }
    return succeeded(status) ? kOfxStatOK : status;
}

void Instance::setClipImage(const std::string& name, const std::vector<float>& rgba,
                            std::int32_t width, std::int32_t height, int bitsPerChannel) {
    Clip* clip = effect_->clip(name);
    if (!clip || clip->output()) throw std::invalid_argument("no input clip " + name);
    if (bitsPerChannel != 8 && bitsPerChannel != 16 && bitsPerChannel != 32)
        throw std::invalid_argument("no depth of " + std::to_string(bitsPerChannel) + " bits");
    std::shared_ptr<ClipPixels> layer;
    if (!rgba.empty()) {
        layer = std::make_shared<ClipPixels>();
        layer->width = width, layer->height = height;
        layer->bits = bitsPerChannel;
        layer->padding = kDefaultRowPadding;
        const std::int64_t rowBytes = layer->rowBytes();
        layer->bytes.resize(static_cast<std::size_t>(rowBytes * height));
        for (std::int32_t y = 0; y < height; ++y) {
            const float* from = rgba.data() + static_cast<std::size_t>(y) * width * 4;
            std::uint8_t* row = layer->bytes.data() + (height - 1 - y) * rowBytes;
            for (std::int64_t i = 0; i < std::int64_t(width) * 4; ++i)
                storeChannel(row, i, bitsPerChannel, from[i]);
        }
    }
    const std::lock_guard<std::mutex> hold(clip->madeMutex);
    clip->made.reset();
    clip->layer = std::move(layer);
    ++clip->layerSerial;
    clip->width = clip->layer ? width : 0;
    clip->height = clip->layer ? height : 0;
    clip->props.set(kOfxImageClipPropConnected, clip->width > 0 ? 1 : 0);
}

std::vector<float> rgbaOf(const RenderedImage& image, std::int32_t x0, std::int32_t y0,
                          std::int32_t width, std::int32_t height) {
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = image.rowFromTop(y0 + y);
        float* out = rgba.data() + static_cast<std::size_t>(y) * width * 4;
        for (std::int64_t i = 0; i < std::int64_t(width) * 4; ++i)
            out[i] = channelValue(row, std::int64_t(x0) * 4 + i, image.bitsPerChannel);
    }
    return rgba;
}

std::vector<float> rgbaOf(const RenderedImage& image) {
    return rgbaOf(image, 0, 0, image.width, image.height);
}

namespace {

// Clip preferences: the host's defaults for every clip, then the plug-in's answer.
OfxStatus clipPreferences(Plugin& plugin, Effect& effect, const std::string& depth) {
    PropertySet prefs;
    for (const auto& clip : effect.clips) {
        prefs.set("OfxImageClipPropComponents_" + clip->name, std::string(kOfxImageComponentRGBA));
        prefs.set("OfxImageClipPropDepth_" + clip->name, depth);
        prefs.set("OfxImageClipPropPAR_" + clip->name, 1.0);
        clip->props.set(kOfxImageEffectPropPixelDepth, depth);
    }
    prefs.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
    return plugin.action(kOfxImageEffectActionGetClipPreferences, &effect, nullptr, &prefs);
}

}  // namespace

OfxStatus Instance::render(const RenderRequest& request, RenderedImage& image) {
    FrameState frame;
    frame.request = &request;
    struct Current {
        Current(FrameState* frame, Instance* instance) {
            currentFrame() = frame;
            HostSuites::currentInstance() = instance;
        }
        ~Current() {
            currentFrame() = nullptr;
            HostSuites::currentInstance() = nullptr;
        }
    } current(&frame, this);
    time_ = request.time;
    const double s = request.renderScale;
    const std::string depth = depthName(request.bitsPerChannel);
    Plugin& plugin = plugin_;
    const void* handle = effect_.get();
    OfxStatus status = clipPreferences(plugin, *effect_, depth);
    if (!succeeded(status)) return status;

    // Region of definition (canonical), then the output's pixel bounds at the scale.
    PropertySet args;
    args.set(kOfxPropTime, request.time);
    args.setAll(kOfxImageEffectPropRenderScale, {s, s});
    PropertySet rodOut;
    const Clip* source = effect_->clip(kOfxImageEffectSimpleSourceClipName);
    setRect(
        rodOut, kOfxImageEffectPropRegionOfDefinition,
        OfxRectD{0, 0, double(source ? source->width : 0), double(source ? source->height : 0)});
    status = plugin.action(kOfxImageEffectActionGetRegionOfDefinition, handle, &args, &rodOut);
    if (!succeeded(status)) return status;
    frame.rod = getRect(rodOut, kOfxImageEffectPropRegionOfDefinition);
    frame.bounds = pixelBounds(frame.rod, s);

    // Regions of interest, identity.
    PropertySet roiArgs, roiOut;
    roiArgs.set(kOfxPropTime, request.time);
    roiArgs.setAll(kOfxImageEffectPropRenderScale, {s, s});
    setRect(roiArgs, kOfxImageEffectPropRegionOfInterest, frame.rod);
    for (const auto& clip : effect_->clips) {
        if (!clip->output())
            setRect(roiOut, ("OfxImageClipPropRoI_" + clip->name).c_str(), frame.rod);
    }
    status = plugin.action(kOfxImageEffectActionGetRegionsOfInterest, handle, &roiArgs, &roiOut);
    if (!succeeded(status)) return status;
    PropertySet renderArgs;
    renderArgs.set(kOfxPropTime, request.time);
    renderArgs.set(kOfxImageEffectPropFieldToRender, std::string(kOfxImageFieldNone));
    renderArgs.setAll(kOfxImageEffectPropRenderWindow,
                      {frame.bounds.x1, frame.bounds.y1, frame.bounds.x2, frame.bounds.y2});
    renderArgs.setAll(kOfxImageEffectPropRenderScale, {s, s});
    renderArgs.set(kOfxImageEffectPropSequentialRenderStatus, 0);
    renderArgs.set(kOfxImageEffectPropInteractiveRenderStatus, 0);
    renderArgs.set(kOfxImageEffectPropRenderQualityDraft, request.draft ? 1 : 0);
    PropertySet identityOut;
    identityOut.set(kOfxPropName, std::string());
    identityOut.set(kOfxPropTime, request.time);
    status = plugin.action(kOfxImageEffectActionIsIdentity, handle, &renderArgs, &identityOut);
    if (status == kOfxStatOK) return kOfxStatErrUnsupported;  // this host renders every frame
    if (!succeeded(status)) return status;

    // The output buffer, then begin, render, end.
    const std::int64_t w = frame.bounds.x2 - frame.bounds.x1, h = frame.bounds.y2 - frame.bounds.y1;
    if (w <= 0 || h <= 0) return kOfxStatFailed;
    frame.rowBytes = w * pixelBytesOf(request.bitsPerChannel) + request.rowPadding;
    frame.output.assign(static_cast<std::size_t>(frame.rowBytes * h), 0);
    PropertySet sequence;
    sequence.setAll(kOfxImageEffectPropFrameRange, {request.time, request.time});
    sequence.set(kOfxImageEffectPropFrameStep, 1.0);
    sequence.set(kOfxPropIsInteractive, 0);
    sequence.setAll(kOfxImageEffectPropRenderScale, {s, s});
    sequence.set(kOfxImageEffectPropSequentialRenderStatus, 0);
    sequence.set(kOfxImageEffectPropInteractiveRenderStatus, 0);
    status = plugin.action(kOfxImageEffectActionBeginSequenceRender, handle, &sequence, nullptr);
    if (!succeeded(status)) return status;
    status = plugin.action(kOfxImageEffectActionRender, handle, &renderArgs, nullptr);
    const OfxStatus end =
        plugin.action(kOfxImageEffectActionEndSequenceRender, handle, &sequence, nullptr);
    if (status != kOfxStatOK) return status;
    if (!succeeded(end)) return end;

    image.bytes = std::move(frame.output);
    image.rowBytes = frame.rowBytes;
    image.bitsPerChannel = request.bitsPerChannel;
    image.width = static_cast<std::int32_t>(w);
    image.height = static_cast<std::int32_t>(h);
    const std::int32_t sourceH =
        source ? static_cast<std::int32_t>(std::ceil(source->height * s)) : 0;
    image.inputX = -frame.bounds.x1;
    image.inputY = frame.bounds.y2 - sourceH;
    return kOfxStatOK;
}

}  // namespace refhost::ofxhost
