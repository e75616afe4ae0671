// The objects behind the OpenFX test host's handles (parameters, parameter sets, clips, effects,
// images), the frame a thread renders, and the suites' entry, shared by the host (ofx_host.cpp)
// and its suites (ofx_suites.cpp).
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ofxImageEffect.h"
#include "ofxParam.h"
#include "refhost/ofx_host.h"
#include "refhost/ofx_properties.h"

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

// A channel of an RGBA row at a depth (8, 16 or 32 bits) as a float, 1 white.
inline float channelValue(const std::uint8_t* row, std::int64_t i, int bits) {
    return bits == 8    ? row[i] / 255.0f
           : bits == 16 ? reinterpret_cast<const std::uint16_t*>(row)[i] / 65535.0f
                        : reinterpret_cast<const float*>(row)[i];
}
// The channel stored at a depth: rounded, and clamped to 0..white for the integer depths.
inline void storeChannel(std::uint8_t* row, std::int64_t i, int bits, float v) {
    if (bits == 8) {
        row[i] = v > 0.0f ? static_cast<std::uint8_t>(std::min(255.0f, v * 255.0f + 0.5f)) : 0;
    } else if (bits == 16) {
        reinterpret_cast<std::uint16_t*>(row)[i] =
            v > 0.0f ? static_cast<std::uint16_t>(std::min(65535.0f, v * 65535.0f + 0.5f)) : 0;
    } else {
        reinterpret_cast<float*>(row)[i] = v;
    }
}
inline std::int64_t pixelBytesOf(int bits) { return 4 * (bits / 8); }

// An input image's pixels as the host hands them out: RGBA, premultiplied, bottom row first, at
// a depth and a render scale, each row padded by `padding` bytes. Shared, read-only, by every
// image handed out of them.
struct ClipPixels {
    std::vector<std::uint8_t> bytes;
    std::int32_t width = 0, height = 0;
    int bits = 32;
    double scale = 1.0;
    int padding = 0;
    std::int64_t rowBytes() const { return width * pixelBytesOf(bits) + padding; }
};

struct Clip {
    std::string name;
    PropertySet props;
    std::int32_t width = 0, height = 0;  // the layer's, 0 x 0 when disconnected
    std::shared_ptr<const ClipPixels> layer;  // as the host holds it, at full scale
    std::uint64_t layerSerial = 0;            // counts the layers the clip was given
    std::mutex madeMutex;
    std::shared_ptr<const ClipPixels> made;  // made of the layer for the frames' depth and scale
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

// The frame a thread is rendering: its request and the output buffer the plug-in writes.
struct FrameState {
    const RenderRequest* request = nullptr;
    OfxRectD rod{};
    OfxRectI bounds{};
    std::vector<std::uint8_t> output;
    std::int64_t rowBytes = 0;
};
// The frame the calling thread renders (null outside a render): images exist only then.
FrameState*& currentFrame();

// An image handed to the plug-in: its property set is its handle. An input image holds its
// clip's pixels (the output's are the frame's).
struct ImageObject : PropertySet {
    std::shared_ptr<const ClipPixels> pixels;
};

const char* depthName(int bits);
void copyProps(const PropertySet& from, PropertySet& to);

// The image calls that count the images an instance holds.
struct HostSuites {
    static Instance*& currentInstance();
    static OfxStatus clipGetImageCounted(OfxImageClipHandle clip, OfxTime time,
                                         const OfxRectD* region, OfxPropertySetHandle* image);
    static OfxStatus clipReleaseImage(OfxPropertySetHandle image);
};

// The host record's suite fetcher, answering for the plug-in registered under its host set.
const void* fetchSuite(OfxPropertySetHandle host, const char* name, int version);
void registerPlugin(OfxPropertySetHandle host, Plugin* plugin);
void unregisterPlugin(OfxPropertySetHandle host);
// The host's description: what it supports.
void describeHost(PropertySet& hostProperties);

}  // namespace refhost::ofxhost
