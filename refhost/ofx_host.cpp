// The OpenFX test host: objects behind the handles, the suites, and the action sequences.
#include "refhost/ofx_host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxParam.h"
#include "platform/platform.h"

namespace refhost::ofxhost {

using Values = std::array<double, 3>;

struct Param {
    std::string name, type;
    PropertySet props;
    Values value{};
    std::vector<std::pair<double, Values>> keys;  // by time
    Effect* effect = nullptr;

    bool integral() const {
        return type == kOfxParamTypeBoolean || type == kOfxParamTypeChoice ||
               type == kOfxParamTypeInteger;
    }
    int dimension() const { return type == kOfxParamTypeRGB ? 3 : 1; }
    bool holdsValue() const { return type != kOfxParamTypeGroup && type != kOfxParamTypePage; }
    // Keys interpolate linearly (integral values hold the earlier key's).
    Values at(double time) const {
        if (keys.empty()) return value;
        if (time <= keys.front().first) return keys.front().second;
        if (time >= keys.back().first) return keys.back().second;
        auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                     [](double t, const auto& key) { return t < key.first; });
        auto prev = next - 1;
        if (integral()) return prev->second;
        const double f = (time - prev->first) / (next->first - prev->first);
        Values v{};
        for (int i = 0; i < 3; ++i)
            v[i] = prev->second[i] + f * (next->second[i] - prev->second[i]);
        return v;
    }
    void setKey(double time, const Values& v) {
        auto it = std::lower_bound(keys.begin(), keys.end(), time,
                                   [](const auto& key, double t) { return key.first < t; });
        if (it != keys.end() && it->first == time) {
            it->second = v;
        } else {
            keys.insert(it, {time, v});
        }
    }
};

struct ParamSet {
    PropertySet props;
    std::vector<std::unique_ptr<Param>> params;
    Param* find(const std::string& name) const {
        for (const auto& p : params)
            if (p->name == name) return p.get();
        return nullptr;
    }
};

struct Clip {
    std::string name;
    PropertySet props;
    std::vector<float> rgba;
    std::int32_t width = 0, height = 0;
    bool output() const { return name == kOfxImageEffectOutputClipName; }
};

struct Effect {
    Plugin* plugin = nullptr;
    Instance* instance = nullptr;  // null for a descriptor
    PropertySet props;
    ParamSet params;
    std::vector<std::unique_ptr<Clip>> clips;
    std::mutex editsMutex;
    std::vector<std::string> pluginEdits;  // parameters the plug-in set during an action

    Clip* clip(const std::string& name) const {
        for (const auto& c : clips)
            if (c->name == name) return c.get();
        return nullptr;
    }
};

namespace {

// The frame a thread is rendering: its request and the output buffer the plug-in writes.
struct FrameState {
    const RenderRequest* request = nullptr;
    OfxRectD rod{};
    OfxRectI bounds{};
    std::vector<std::uint8_t> output;
    std::int64_t rowBytes = 0;
};
thread_local FrameState* tFrame = nullptr;

// An image handed to the plug-in: its property set is its handle.
struct ImageObject : PropertySet {
    std::vector<std::uint8_t> bytes;
};

const char* depthName(int bits) {
    return bits == 8 ? kOfxBitDepthByte : bits == 16 ? kOfxBitDepthShort : kOfxBitDepthFloat;
}

void copyProps(const PropertySet& from, PropertySet& to) {
    for (auto& [name, values] : from.values()) to.setAll(name, values);
}

Effect* effectOf(OfxImageEffectHandle handle) { return reinterpret_cast<Effect*>(handle); }
Param* paramOf(OfxParamHandle handle) { return reinterpret_cast<Param*>(handle); }
Clip* clipOf(OfxImageClipHandle handle) { return reinterpret_cast<Clip*>(handle); }

std::int64_t pixelBytesOf(int bits) { return 4 * (bits / 8); }

// The clip's layer at the frame's scale (a box filter) and depth, bottom row first.
ImageObject* makeClipImage(const Clip& clip, const FrameState& frame) {
    const double s = frame.request->renderScale;
    const int bits = frame.request->bitsPerChannel;
    const std::int32_t w = static_cast<std::int32_t>(std::ceil(clip.width * s));
    const std::int32_t h = static_cast<std::int32_t>(std::ceil(clip.height * s));
    auto image = std::make_unique<ImageObject>();
    const std::int64_t rowBytes = w * pixelBytesOf(bits) + frame.request->rowPadding;
    image->bytes.assign(static_cast<std::size_t>(rowBytes * std::max(h, 1)), 0);
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* row = image->bytes.data() + (h - 1 - y) * rowBytes;  // y counts from top
        const std::int32_t sy0 = static_cast<std::int32_t>(y / s);
        const std::int32_t sy1 =
            std::min(clip.height, static_cast<std::int32_t>(std::ceil((y + 1) / s)));
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t sx0 = static_cast<std::int32_t>(x / s);
            const std::int32_t sx1 =
                std::min(clip.width, static_cast<std::int32_t>(std::ceil((x + 1) / s)));
            float sum[4] = {};
            for (std::int32_t sy = sy0; sy < sy1; ++sy)
                for (std::int32_t sx = sx0; sx < sx1; ++sx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] +=
                            clip.rgba[(static_cast<std::size_t>(sy) * clip.width + sx) * 4 + c];
            const float n = static_cast<float>(std::max(1, (sy1 - sy0) * (sx1 - sx0)));
            for (int c = 0; c < 4; ++c) {
                const float v = sum[c] / n;
                if (bits == 8) {
                    row[x * 4 + c] =
                        v > 0.0f ? static_cast<std::uint8_t>(std::min(255.0f, v * 255.0f + 0.5f))
                                 : 0;
                } else if (bits == 16) {
                    reinterpret_cast<std::uint16_t*>(row)[x * 4 + c] =
                        v > 0.0f
                            ? static_cast<std::uint16_t>(std::min(65535.0f, v * 65535.0f + 0.5f))
                            : 0;
                } else {
                    reinterpret_cast<float*>(row)[x * 4 + c] = v;
                }
            }
        }
    }
    PropertySet& p = *image;
    p.set(kOfxPropType, std::string(kOfxTypeImage));
    p.set(kOfxImageEffectPropPixelDepth, std::string(depthName(bits)));
    p.set(kOfxImageEffectPropComponents, std::string(kOfxImageComponentRGBA));
    p.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
    p.setAll(kOfxImageEffectPropRenderScale, {s, s});
    p.set(kOfxImagePropPixelAspectRatio, 1.0);
    p.set(kOfxImagePropData, static_cast<void*>(image->bytes.data()));
    p.setAll(kOfxImagePropBounds, {0, 0, w, h});
    p.setAll(kOfxImagePropRegionOfDefinition, {0, 0, w, h});
    p.set(kOfxImagePropRowBytes, static_cast<int>(rowBytes));
    p.set(kOfxImagePropField, std::string(kOfxImageFieldNone));
    p.set(kOfxImagePropUniqueIdentifier, clip.name);
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
    if (!tFrame) return kOfxStatFailed;  // images exist only during a render
    ImageObject* made = nullptr;
    if (clip.output()) {
        made = makeOutputImage(*tFrame);
    } else {
        if (clip.width <= 0 || clip.height <= 0) return kOfxStatFailed;
        made = makeClipImage(clip, *tFrame);
    }
    *image = made->handle();
    return kOfxStatOK;
}
OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime, OfxRectD* bounds) {
    if (!handle || !bounds) return kOfxStatErrBadHandle;
    const Clip& clip = *clipOf(handle);
    if (clip.output()) {
        if (!tFrame) return kOfxStatFailed;
        *bounds = tFrame->rod;
    } else {
        *bounds = OfxRectD{0, 0, double(clip.width), double(clip.height)};
    }
    return kOfxStatOK;
}

struct ImageMemory {
    std::vector<std::uint8_t> bytes;
};

}  // namespace

// The image calls that count the images an instance holds.
struct HostSuites {
    static Instance*& currentInstance() {
        thread_local Instance* instance = nullptr;
        return instance;
    }
    static OfxStatus clipGetImageCounted(OfxImageClipHandle clip, OfxTime time,
                                         const OfxRectD* region, OfxPropertySetHandle* image) {
        const OfxStatus status = clipGetImage(clip, time, region, image);
        if (status == kOfxStatOK && currentInstance()) ++currentInstance()->imagesHeld_;
        return status;
    }
    static OfxStatus clipReleaseImage(OfxPropertySetHandle image) {
        if (!image) return kOfxStatErrBadHandle;
        delete static_cast<ImageObject*>(PropertySet::from(image));
        if (currentInstance()) --currentInstance()->imagesHeld_;
        return kOfxStatOK;
    }
};

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
    [](OfxImageEffectHandle) { return 0; },
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
    } else {
        std::fprintf(stderr, "%s (%s)\n", line.c_str(), id ? id : "");
    }
    return kOfxStatOK;
}

const OfxMessageSuiteV1 kMessageSuite = {postMessage};

// The plug-ins by their host property set, for the suite fetcher.
std::mutex gPluginsMutex;
std::map<OfxPropertySetHandle, Plugin*> gPlugins;

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

}  // namespace

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
    std::lock_guard<std::mutex> lock(gPluginsMutex);
    gPlugins[host_.host] = this;
}

Plugin::~Plugin() {
    descriptor_.reset();
    if (loaded_) action(kOfxActionUnload, nullptr, nullptr, nullptr);
    {
        std::lock_guard<std::mutex> lock(gPluginsMutex);
        gPlugins.erase(host_.host);
    }
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

void readOutput(const FrameState& frame, RenderedImage& image) {
    const OfxRectI& b = frame.bounds;
    const int bits = frame.request->bitsPerChannel;
    image.width = b.x2 - b.x1;
    image.height = b.y2 - b.y1;
    image.rgba.assign(static_cast<std::size_t>(image.width) * image.height * 4, 0.0f);
    for (std::int32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = frame.output.data() + (image.height - 1 - y) * frame.rowBytes;
        float* out = image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4;
        for (std::int32_t i = 0; i < image.width * 4; ++i) {
            out[i] = bits == 8    ? row[i] / 255.0f
                     : bits == 16 ? reinterpret_cast<const std::uint16_t*>(row)[i] / 65535.0f
                                  : reinterpret_cast<const float*>(row)[i];
        }
    }
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

void Instance::setClipImage(const std::string& name, std::vector<float> rgba, std::int32_t width,
                            std::int32_t height) {
    Clip* clip = effect_->clip(name);
    if (!clip || clip->output()) throw std::invalid_argument("no input clip " + name);
    clip->rgba = std::move(rgba);
    clip->width = clip->rgba.empty() ? 0 : width;
    clip->height = clip->rgba.empty() ? 0 : height;
    clip->props.set(kOfxImageClipPropConnected, clip->width > 0 ? 1 : 0);
}

OfxStatus Instance::render(const RenderRequest& request, RenderedImage& image) {
    FrameState frame;
    frame.request = &request;
    struct Current {
        Current(FrameState* frame, Instance* instance) {
            tFrame = frame;
            HostSuites::currentInstance() = instance;
        }
        ~Current() {
            tFrame = nullptr;
            HostSuites::currentInstance() = nullptr;
        }
    } current(&frame, this);
    time_ = request.time;
    const double s = request.renderScale;
    const std::string depth = depthName(request.bitsPerChannel);
    Plugin& plugin = plugin_;
    const void* handle = effect_.get();

    // Clip preferences: the host's defaults for every clip, then the plug-in's answer.
    PropertySet prefs;
    for (const auto& clip : effect_->clips) {
        prefs.set("OfxImageClipPropComponents_" + clip->name, std::string(kOfxImageComponentRGBA));
        prefs.set("OfxImageClipPropDepth_" + clip->name, depth);
        prefs.set("OfxImageClipPropPAR_" + clip->name, 1.0);
        clip->props.set(kOfxImageEffectPropPixelDepth, depth);
    }
    prefs.set(kOfxImageEffectPropPreMultiplication, std::string(kOfxImagePreMultiplied));
    OfxStatus status =
        plugin.action(kOfxImageEffectActionGetClipPreferences, handle, nullptr, &prefs);
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

    readOutput(frame, image);
    const std::int32_t sourceH =
        source ? static_cast<std::int32_t>(std::ceil(source->height * s)) : 0;
    image.inputX = -frame.bounds.x1;
    image.inputY = frame.bounds.y2 - sourceH;
    return kOfxStatOK;
}

}  // namespace refhost::ofxhost
