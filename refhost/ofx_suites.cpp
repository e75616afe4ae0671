// The OpenFX test host's suites: the image effect suite (clips and the images it makes of their
// layers), the parameter suite (values with linear keys), memory, threads and messages, and the
// suite fetcher of the host record.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "refhost/layers.h"
#include "refhost/ofx_objects.h"

namespace refhost::ofxhost {

FrameState*& currentFrame() {
    thread_local FrameState* frame = nullptr;
    return frame;
}

const char* depthName(int bits) {
    return bits == 8 ? kOfxBitDepthByte : bits == 16 ? kOfxBitDepthShort : kOfxBitDepthFloat;
}

void copyProps(const PropertySet& from, PropertySet& to) {
    for (auto& [name, values] : from.values()) to.setAll(name, values);
}

namespace {

Effect* effectOf(OfxImageEffectHandle handle) { return reinterpret_cast<Effect*>(handle); }
Param* paramOf(OfxParamHandle handle) { return reinterpret_cast<Param*>(handle); }
Clip* clipOf(OfxImageClipHandle handle) { return reinterpret_cast<Clip*>(handle); }

// The layer's pixels as floats, rows top to bottom.
std::vector<float> layerFloats(const ClipPixels& layer) {
    std::vector<float> rgba(static_cast<std::size_t>(layer.width) * layer.height * 4);
    for (std::int32_t y = 0; y < layer.height; ++y) {
        const std::uint8_t* row = layer.bytes.data() + (layer.height - 1 - y) * layer.rowBytes();
        float* out = rgba.data() + static_cast<std::size_t>(y) * layer.width * 4;
        for (std::int64_t i = 0; i < std::int64_t(layer.width) * 4; ++i)
            out[i] = channelValue(row, i, layer.bits);
    }
    return rgba;
}

// The layer at a depth, render scale (a box filter) and row padding.
std::shared_ptr<const ClipPixels> makeClipPixels(const ClipPixels& layer, int bits, double s,
                                                 int padding) {
    auto made = std::make_shared<ClipPixels>();
    made->width = static_cast<std::int32_t>(std::ceil(layer.width * s));
    made->height = static_cast<std::int32_t>(std::ceil(layer.height * s));
    made->bits = bits, made->scale = s, made->padding = padding;
    const std::int32_t w = made->width, h = made->height;
    const std::int64_t rowBytes = made->rowBytes();
    made->bytes.assign(static_cast<std::size_t>(rowBytes * std::max(h, 1)), 0);
    if (s == 1.0) {  // the same pixels at another depth or padding
        for (std::int32_t y = 0; y < h; ++y) {
            const std::uint8_t* from = layer.bytes.data() + y * layer.rowBytes();
            std::uint8_t* to = made->bytes.data() + y * rowBytes;
            for (std::int64_t i = 0; i < std::int64_t(w) * 4; ++i)
                storeChannel(to, i, bits, channelValue(from, i, layer.bits));
        }
        return made;
    }
    // A whole factor (a render scale of 1/2, 1/3, ...) averages blocks as the effect host does
    // when it previews at that factor; any other scale averages the source pixels each covers.
    const std::vector<float> rgba = layerFloats(layer);
    const double inverse = 1.0 / s;
    const std::int32_t factor = static_cast<std::int32_t>(std::lround(inverse));
    const bool whole = factor >= 1 && std::abs(inverse - factor) < 1e-9;
    const std::vector<float> averaged =
        whole ? areaAverage(rgba, layer.width, layer.height, factor, factor, 0, 0, w, h)
              : std::vector<float>();
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* row = made->bytes.data() + (h - 1 - y) * rowBytes;  // y counts from top
        const std::int32_t sy0 = static_cast<std::int32_t>(y / s);
        const std::int32_t sy1 =
            std::min(layer.height, static_cast<std::int32_t>(std::ceil((y + 1) / s)));
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t sx0 = static_cast<std::int32_t>(x / s);
            const std::int32_t sx1 =
                std::min(layer.width, static_cast<std::int32_t>(std::ceil((x + 1) / s)));
            float sum[4] = {};
            for (std::int32_t sy = sy0; sy < sy1 && !whole; ++sy)
                for (std::int32_t sx = sx0; sx < sx1; ++sx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += rgba[(static_cast<std::size_t>(sy) * layer.width + sx) * 4 + c];
            const float n = static_cast<float>(std::max(1, (sy1 - sy0) * (sx1 - sx0)));
            for (int c = 0; c < 4; ++c) {
                const float v = whole ? averaged[(static_cast<std::size_t>(y) * w + x) * 4 + c]
                                      : sum[c] / n;
                storeChannel(row, x * 4 + c, bits, v);
            }
        }
    }
    return made;
}

// The clip's layer at the frame's depth, scale and row padding: the layer itself when it is held
// so, else made of it once for as long as the frames ask for the same.
std::shared_ptr<const ClipPixels> clipPixels(Clip& clip, const RenderRequest& request) {
    auto fits = [&](const ClipPixels& pixels) {
        return pixels.bits == request.bitsPerChannel && pixels.scale == request.renderScale &&
               pixels.padding == request.rowPadding;
    };
    const std::lock_guard<std::mutex> hold(clip.madeMutex);
    if (fits(*clip.layer)) return clip.layer;
    if (clip.made && fits(*clip.made)) return clip.made;
    clip.made.reset();  // what earlier frames asked for goes before the new one is made
    clip.made = makeClipPixels(*clip.layer, request.bitsPerChannel, request.renderScale,
                               request.rowPadding);
    return clip.made;
}

ImageObject* makeClipImage(Clip& clip, const FrameState& frame) {
    const double s = frame.request->renderScale;
    auto image = std::make_unique<ImageObject>();
    image->pixels = clipPixels(clip, *frame.request);
    const ClipPixels& pixels = *image->pixels;
    const std::int32_t w = pixels.width, h = pixels.height;
    PropertySet& p = *image;
    p.set(kOfxPropType, std::string(kOfxTypeImage));
    p.set(kOfxImageEffectPropPixelDepth, std::string(depthName(pixels.bits)));
    p.set(kOfxImageEffectPropComponents, std::string(kOfxImageComponentRGBA));
    p.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
    p.setAll(kOfxImageEffectPropRenderScale, {s, s});
    p.set(kOfxImagePropPixelAspectRatio, 1.0);
    // The plug-in only reads an input image (the standard's images are the host's).
    p.set(kOfxImagePropData,
          static_cast<void*>(const_cast<std::uint8_t*>(pixels.bytes.data())));
    p.setAll(kOfxImagePropBounds, {0, 0, w, h});
    p.setAll(kOfxImagePropRegionOfDefinition, {0, 0, w, h});
    p.set(kOfxImagePropRowBytes, static_cast<int>(pixels.rowBytes()));
    p.set(kOfxImagePropField, std::string(kOfxImageFieldNone));
    // Changes with the layer, so that a plug-in keying caches on it sees a new image.
    p.set(kOfxImagePropUniqueIdentifier, clip.name + "#" + std::to_string(clip.layerSerial));
    return image.release();
}

ImageObject* makeOutputImage(FrameState& frame) {
    auto image = std::make_unique<ImageObject>();
    const int bits = frame.request->bitsPerChannel;
    const OfxRectI& b = frame.bounds;
    PropertySet& p = *image;
    p.set(kOfxPropType, std::string(kOfxTypeImage));
    p.set(kOfxImageEffectPropPixelDepth, std::string(depthName(bits)));
    p.set(kOfxImageEffectPropComponents, std::string(kOfxImageComponentRGBA));
    p.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
    p.setAll(kOfxImageEffectPropRenderScale,
             {frame.request->renderScale, frame.request->renderScale});
    p.set(kOfxImagePropPixelAspectRatio, 1.0);
    p.set(kOfxImagePropData, static_cast<void*>(frame.output.data()));
    p.setAll(kOfxImagePropBounds, {b.x1, b.y1, b.x2, b.y2});
    p.setAll(kOfxImagePropRegionOfDefinition, {b.x1, b.y1, b.x2, b.y2});
    p.set(kOfxImagePropRowBytes, static_cast<int>(frame.rowBytes));
    p.set(kOfxImagePropField, std::string(kOfxImageFieldNone));
    p.set(kOfxImagePropUniqueIdentifier, std::string(kOfxImageEffectOutputClipName));
    return image.release();
}

// ---- the image effect suite ----

OfxStatus getPropertySet(OfxImageEffectHandle effect, OfxPropertySetHandle* props) {
    if (!effect || !props) return kOfxStatErrBadHandle;
    *props = effectOf(effect)->props.handle();
    return kOfxStatOK;
}
OfxStatus getParamSet(OfxImageEffectHandle effect, OfxParamSetHandle* set) {
    if (!effect || !set) return kOfxStatErrBadHandle;
    *set = reinterpret_cast<OfxParamSetHandle>(&effectOf(effect)->params);
    return kOfxStatOK;
}
OfxStatus clipDefine(OfxImageEffectHandle effect, const char* name, OfxPropertySetHandle* props) {
    if (!effect || !name) return kOfxStatErrBadHandle;
    Effect& e = *effectOf(effect);
    if (e.instance) return kOfxStatErrBadHandle;  // descriptors only
    if (e.clip(name)) return kOfxStatErrExists;
    auto clip = std::make_unique<Clip>();
    clip->name = name;
    clip->props.set(kOfxPropType, std::string(kOfxTypeClip));
    clip->props.set(kOfxPropName, std::string(name));
    clip->props.set(kOfxImageClipPropOptional, 0);
    clip->props.set(kOfxImageEffectPropSupportsTiles, 1);
    if (props) *props = clip->props.handle();
    e.clips.push_back(std::move(clip));
    return kOfxStatOK;
}
OfxStatus clipGetHandle(OfxImageEffectHandle effect, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* props) {
    if (!effect || !name || !clip) return kOfxStatErrBadHandle;
    Clip* found = effectOf(effect)->clip(name);
    if (!found) return kOfxStatErrUnknown;
    *clip = reinterpret_cast<OfxImageClipHandle>(found);
    if (props) *props = found->props.handle();
    return kOfxStatOK;
}
OfxStatus clipGetPropertySet(OfxImageClipHandle clip, OfxPropertySetHandle* props) {
    if (!clip || !props) return kOfxStatErrBadHandle;
    *props = clipOf(clip)->props.handle();
    return kOfxStatOK;
}
OfxStatus clipGetImage(OfxImageClipHandle handle, OfxTime, const OfxRectD*,
                       OfxPropertySetHandle* image) {
    if (!handle || !image) return kOfxStatErrBadHandle;
    Clip& clip = *clipOf(handle);
    if (!currentFrame()) return kOfxStatFailed;  // images exist only during a render
    ImageObject* made = nullptr;
    if (clip.output()) {
        made = makeOutputImage(*currentFrame());
    } else {
        if (clip.width <= 0 || clip.height <= 0) return kOfxStatFailed;
        made = makeClipImage(clip, *currentFrame());
    }
    *image = made->handle();
    return kOfxStatOK;
}
OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime, OfxRectD* bounds) {
    if (!handle || !bounds) return kOfxStatErrBadHandle;
    const Clip& clip = *clipOf(handle);
    if (clip.output()) {
        if (!currentFrame()) return kOfxStatFailed;
        *bounds = currentFrame()->rod;
    } else {
        *bounds = OfxRectD{0, 0, double(clip.width), double(clip.height)};
    }
    return kOfxStatOK;
}

struct ImageMemory {
    std::vector<std::uint8_t> bytes;
};

}  // namespace

Instance*& HostSuites::currentInstance() {
    thread_local Instance* instance = nullptr;
    return instance;
}

OfxStatus HostSuites::clipGetImageCounted(OfxImageClipHandle clip, OfxTime time,
                                          const OfxRectD* region, OfxPropertySetHandle* image) {
    // An image the host cannot allocate is an error status: nothing may unwind through the
    // plug-in's C entry point.
    OfxStatus status = kOfxStatErrMemory;
    try {
        status = clipGetImage(clip, time, region, image);
    } catch (const std::bad_alloc&) {
        if (image) *image = nullptr;
        return kOfxStatErrMemory;
    }
    if (status == kOfxStatOK && currentInstance()) ++currentInstance()->imagesHeld_;
    return status;
}

OfxStatus HostSuites::clipReleaseImage(OfxPropertySetHandle image) {
    if (!image) return kOfxStatErrBadHandle;
    delete static_cast<ImageObject*>(PropertySet::from(image));
    if (currentInstance()) --currentInstance()->imagesHeld_;
    return kOfxStatOK;
}

namespace {

const OfxImageEffectSuiteV1 kImageEffectSuite = {
    getPropertySet,
    getParamSet,
    clipDefine,
    clipGetHandle,
    clipGetPropertySet,
    HostSuites::clipGetImageCounted,
    HostSuites::clipReleaseImage,
    clipGetRegionOfDefinition,
    // abort: asked during a render, on the render's thread.
    [](OfxImageEffectHandle) {
        const Instance* instance = HostSuites::currentInstance();
        return instance && instance->abortRequested() ? 1 : 0;
    },
    [](OfxImageEffectHandle, size_t bytes, OfxImageMemoryHandle* handle) {
        if (!handle) return kOfxStatErrBadHandle;
        auto* memory = new (std::nothrow) ImageMemory;
        if (!memory) return kOfxStatErrMemory;
        try {
            memory->bytes.resize(bytes);
        } catch (const std::bad_alloc&) {
            delete memory;
            *handle = nullptr;
            return kOfxStatErrMemory;
        }
        *handle = reinterpret_cast<OfxImageMemoryHandle>(memory);
        return kOfxStatOK;
    },
    [](OfxImageMemoryHandle handle) {
        delete reinterpret_cast<ImageMemory*>(handle);
        return kOfxStatOK;
    },
    [](OfxImageMemoryHandle handle, void** data) {
        if (!handle || !data) return kOfxStatErrBadHandle;
        *data = reinterpret_cast<ImageMemory*>(handle)->bytes.data();
        return kOfxStatOK;
    },
    [](OfxImageMemoryHandle handle) { return handle ? kOfxStatOK : kOfxStatErrBadHandle; },
};

// ---- the parameter suite ----

OfxStatus paramDefine(OfxParamSetHandle set, const char* type, const char* name,
                      OfxPropertySetHandle* props) {
    if (!set || !type || !name) return kOfxStatErrBadHandle;
    ParamSet& params = *reinterpret_cast<ParamSet*>(set);
    if (params.find(name)) return kOfxStatErrExists;
    auto param = std::make_unique<Param>();
    param->name = name;
    param->type = type;
    param->props.set(kOfxPropType, std::string(kOfxTypeParameter));
    param->props.set(kOfxPropName, std::string(name));
    param->props.set(kOfxParamPropType, std::string(type));
    param->props.set(kOfxPropLabel, std::string(name));
    param->props.set(kOfxParamPropSecret, 0);
    param->props.set(kOfxParamPropParent, std::string());
    if (props) *props = param->props.handle();
    params.params.push_back(std::move(param));
    return kOfxStatOK;
}
OfxStatus paramGetHandle(OfxParamSetHandle set, const char* name, OfxParamHandle* param,
                         OfxPropertySetHandle* props) {
    if (!set || !name || !param) return kOfxStatErrBadHandle;
    Param* found = reinterpret_cast<ParamSet*>(set)->find(name);
    if (!found) return kOfxStatErrUnknown;
    *param = reinterpret_cast<OfxParamHandle>(found);
    if (props) *props = found->props.handle();
    return kOfxStatOK;
}
OfxStatus paramSetGetPropertySet(OfxParamSetHandle set, OfxPropertySetHandle* props) {
    if (!set || !props) return kOfxStatErrBadHandle;
    *props = reinterpret_cast<ParamSet*>(set)->props.handle();
    return kOfxStatOK;
}
OfxStatus paramGetPropertySet(OfxParamHandle param, OfxPropertySetHandle* props) {
    if (!param || !props) return kOfxStatErrBadHandle;
    *props = paramOf(param)->props.handle();
    return kOfxStatOK;
}

OfxStatus readValue(const Param& param, double time, va_list args) {
    if (!param.holdsValue()) return kOfxStatErrBadHandle;
    const Values v = param.at(time);
    if (param.integral()) {
        *va_arg(args, int*) = static_cast<int>(v[0]);
    } else {
        for (int i = 0; i < param.dimension(); ++i) *va_arg(args, double*) = v[i];
    }
    return kOfxStatOK;
}
OfxStatus writeValue(Param& param, bool atTime, double time, va_list args) {
    if (!param.holdsValue() || !param.effect || !param.effect->instance) {
        return kOfxStatErrBadHandle;
    }
    Values v{};
    if (param.integral()) {
        v[0] = va_arg(args, int);
    } else {
        for (int i = 0; i < param.dimension(); ++i) v[i] = va_arg(args, double);
    }
    if (atTime || !param.keys.empty()) {
        param.setKey(atTime ? time : param.effect->instance->currentTime(), v);
    } else {
        param.value = v;
    }
    std::lock_guard<std::mutex> lock(param.effect->editsMutex);
    param.effect->pluginEdits.push_back(param.name);
    return kOfxStatOK;
}
OfxStatus paramGetValue(OfxParamHandle handle, ...) {
    if (!handle) return kOfxStatErrBadHandle;
    const Param& param = *paramOf(handle);
    va_list args;
    va_start(args, handle);
    const double time =
        param.effect && param.effect->instance ? param.effect->instance->currentTime() : 0.0;
    const OfxStatus status = readValue(param, time, args);
    va_end(args);
    return status;
}
OfxStatus paramGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    if (!handle) return kOfxStatErrBadHandle;
    va_list args;
    va_start(args, time);
    const OfxStatus status = readValue(*paramOf(handle), time, args);
    va_end(args);
    return status;
}
OfxStatus paramSetValue(OfxParamHandle handle, ...) {
    if (!handle) return kOfxStatErrBadHandle;
    va_list args;
    va_start(args, handle);
    const OfxStatus status = writeValue(*paramOf(handle), false, 0.0, args);
    va_end(args);
    return status;
}
OfxStatus paramSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    if (!handle) return kOfxStatErrBadHandle;
    va_list args;
    va_start(args, time);
    const OfxStatus status = writeValue(*paramOf(handle), true, time, args);
    va_end(args);
    return status;
}
OfxStatus unsupportedDerivative(OfxParamHandle, OfxTime, ...) { return kOfxStatErrUnsupported; }
OfxStatus unsupportedIntegral(OfxParamHandle, OfxTime, OfxTime, ...) {
    return kOfxStatErrUnsupported;
}

const OfxParameterSuiteV1 kParameterSuite = {
    paramDefine,
    paramGetHandle,
    paramSetGetPropertySet,
    paramGetPropertySet,
    paramGetValue,
    paramGetValueAtTime,
    unsupportedDerivative,
    unsupportedIntegral,
    paramSetValue,
    paramSetValueAtTime,
    [](OfxParamHandle h, unsigned int* n) {
        if (!h || !n) return kOfxStatErrBadHandle;
        *n = static_cast<unsigned int>(paramOf(h)->keys.size());
        return kOfxStatOK;
    },
    [](OfxParamHandle, unsigned int, OfxTime*) { return kOfxStatErrUnsupported; },
    [](OfxParamHandle, OfxTime, int, int*) { return kOfxStatErrUnsupported; },
    [](OfxParamHandle, OfxTime) { return kOfxStatErrUnsupported; },
    [](OfxParamHandle h) {
        if (!h) return kOfxStatErrBadHandle;
        paramOf(h)->keys.clear();
        return kOfxStatOK;
    },
    [](OfxParamHandle, OfxParamHandle, OfxTime, const OfxRangeD*) {
        return kOfxStatErrUnsupported;
    },
    [](OfxParamSetHandle set, const char*) { return set ? kOfxStatOK : kOfxStatErrBadHandle; },
    [](OfxParamSetHandle set) { return set ? kOfxStatOK : kOfxStatErrBadHandle; },
};

// ---- memory, threads, messages ----

const OfxMemorySuiteV1 kMemorySuite = {
    [](void*, size_t bytes, void** data) {
        if (!data) return kOfxStatErrBadHandle;
        *data = std::malloc(bytes ? bytes : 1);
        return *data ? kOfxStatOK : kOfxStatErrMemory;
    },
    [](void* data) {
        std::free(data);
        return kOfxStatOK;
    },
};

thread_local unsigned int tThreadIndex = 0;
thread_local bool tSpawned = false;

struct OfxMutexObject {
    std::recursive_mutex mutex;
};

const OfxMultiThreadSuiteV1 kMultiThreadSuite = {
    [](OfxThreadFunctionV1 func, unsigned int n, void* arg) {
        if (!func) return kOfxStatErrBadHandle;
        std::vector<std::thread> threads;
        for (unsigned int i = 1; i < n; ++i) {
            threads.emplace_back([=] {
                tThreadIndex = i;
                tSpawned = true;
                func(i, n, arg);
            });
        }
        if (n > 0) func(0, n, arg);
        for (std::thread& t : threads) t.join();
        return kOfxStatOK;
    },
    [](unsigned int* n) {
        if (!n) return kOfxStatErrBadHandle;
        *n = std::max(1u, std::thread::hardware_concurrency());
        return kOfxStatOK;
    },
    [](unsigned int* index) {
        if (!index) return kOfxStatErrBadHandle;
        *index = tThreadIndex;
        return kOfxStatOK;
    },
    []() { return tSpawned ? 1 : 0; },
    [](OfxMutexHandle* mutex, int lockCount) {
        if (!mutex) return kOfxStatErrBadHandle;
        auto* m = new OfxMutexObject;
        for (int i = 0; i < lockCount; ++i) m->mutex.lock();
        *mutex = reinterpret_cast<OfxMutexHandle>(m);
        return kOfxStatOK;
    },
    [](const OfxMutexHandle m) {
        delete reinterpret_cast<OfxMutexObject*>(m);
        return kOfxStatOK;
    },
    [](const OfxMutexHandle m) {
        if (!m) return kOfxStatErrBadHandle;
        reinterpret_cast<OfxMutexObject*>(m)->mutex.lock();
        return kOfxStatOK;
    },
    [](const OfxMutexHandle m) {
        if (!m) return kOfxStatErrBadHandle;
        reinterpret_cast<OfxMutexObject*>(m)->mutex.unlock();
        return kOfxStatOK;
    },
    [](const OfxMutexHandle m) {
        if (!m) return kOfxStatErrBadHandle;
        return reinterpret_cast<OfxMutexObject*>(m)->mutex.try_lock() ? kOfxStatOK : kOfxStatFailed;
    },
};

OfxStatus postMessage(void* handle, const char* type, const char* id, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    const std::string line = std::string(type ? type : "") + ": " + text;
    Effect* effect = static_cast<Effect*>(handle);
    if (effect && effect->plugin) {
        effect->plugin->postMessage(line);
        if (effect->instance) effect->instance->postMessage(line);
    } else {
        std::fprintf(stderr, "%s (%s)\n", line.c_str(), id ? id : "");
    }
    return kOfxStatOK;
}

const OfxMessageSuiteV1 kMessageSuite = {postMessage};

// The plug-ins by their host property set, for the suite fetcher.
std::mutex gPluginsMutex;
std::map<OfxPropertySetHandle, Plugin*> gPlugins;

}  // namespace

void registerPlugin(OfxPropertySetHandle host, Plugin* plugin) {
    std::lock_guard<std::mutex> lock(gPluginsMutex);
    gPlugins[host] = plugin;
}

void unregisterPlugin(OfxPropertySetHandle host) {
    std::lock_guard<std::mutex> lock(gPluginsMutex);
    gPlugins.erase(host);
}

const void* fetchSuite(OfxPropertySetHandle host, const char* name, int version) {
    Plugin* plugin = nullptr;
    {
        std::lock_guard<std::mutex> lock(gPluginsMutex);
        const auto it = gPlugins.find(host);
        if (it != gPlugins.end()) plugin = it->second;
    }
    if (!plugin || !name || version != 1 || plugin->withheld(name)) return nullptr;
    const std::string suite = name;
    if (suite == kOfxPropertySuite) return propertySuite();
    if (suite == kOfxImageEffectSuite) return &kImageEffectSuite;
    if (suite == kOfxParameterSuite) return &kParameterSuite;
    if (suite == kOfxMemorySuite) return &kMemorySuite;
    if (suite == kOfxMultiThreadSuite) return &kMultiThreadSuite;
    if (suite == kOfxMessageSuite) return &kMessageSuite;
    return nullptr;
}

void describeHost(PropertySet& p) {
    p.set(kOfxPropType, std::string(kOfxTypeImageEffectHost));
    p.set(kOfxPropName, std::string("example.lumet.refhost"));
    p.set(kOfxPropLabel, std::string("Lumet OpenFX test host"));
    p.setAll(kOfxPropVersion, {1, 0, 0});
    p.set(kOfxImageEffectHostPropIsBackground, 1);
    p.set(kOfxImageEffectPropSupportsMultiResolution, 1);
    p.set(kOfxImageEffectPropSupportsTiles, 1);
    p.set(kOfxImageEffectPropTemporalClipAccess, 0);
    p.setAll(kOfxImageEffectPropSupportedComponents, {std::string(kOfxImageComponentRGBA)});
    p.setAll(kOfxImageEffectPropSupportedContexts, {std::string(kOfxImageEffectContextFilter),
                                                    std::string(kOfxImageEffectContextGeneral)});
    p.setAll(kOfxImageEffectPropSupportedPixelDepths,
             {std::string(kOfxBitDepthByte), std::string(kOfxBitDepthShort),
              std::string(kOfxBitDepthFloat)});
    p.set(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    p.set(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
}

}  // namespace refhost::ofxhost
