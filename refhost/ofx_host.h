// The OpenFX test host: plays an OpenFX host's side for one image effect plug-in, as the standard
// describes it. It loads a bundle's binary by the standard's layout (or takes an in-process plug-in
// record), hands out its host record with the property, parameter, image effect, memory,
// multi-thread and message suites, and sends the actions in the standard's order: load and
// describe when the plug-in is opened, describe in context and create instance for an instance,
// instance changed for a user's edit, clip preferences, regions of definition and of interest, is
// identity and a begin / render / end sequence for a frame, destroy instance, unload.
//
// Clips hold the host's layers at a depth of the host's choosing (8-bit 0..255, 16-bit 0..65535,
// float), RGBA premultiplied, bottom row first, placed with their bottom-left corner at the
// canonical origin. The plug-in is handed that image itself when a frame asks for its depth at
// full scale; any other depth or render scale (a box filter) is made from it once and kept for
// the frames after. The output image comes back to the caller as its own bytes.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "refhost/ofx_properties.h"

namespace refhost::ofxhost {

// Where a bundle's binary lies for this platform: <bundle>/Contents/Linux-x86-64/<name>.ofx, or
// Contents/Win64 on Windows, <name> being the bundle's name without ".ofx.bundle".
std::string bundleBinaryPath(const std::string& bundlePath);

struct Param;
struct ParamSet;
struct Clip;
struct Effect;
class Instance;

// A loaded plug-in, described. Throws std::runtime_error naming what failed.
class Plugin {
public:
    explicit Plugin(const std::string& bundlePath);
    explicit Plugin(OfxPlugin* inProcess);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const OfxPlugin& record() const { return *plugin_; }
    PropertySet& descriptor();  // the effect's description (kOfxActionDescribe)
    PropertySet& hostProperties() { return hostProps_; }
    OfxHost* host() { return &host_; }

    // Sends an action to the plug-in.
    OfxStatus action(const char* name, const void* handle, PropertySet* inArgs,
                     PropertySet* outArgs);

    // Messages the plug-in posted through the message suite ("type: text").
    std::vector<std::string> messages() const;
    void postMessage(const std::string& text);
    // Suites the host withholds (to exercise the plug-in's failure paths): by name.
    void withholdSuite(const std::string& name) { withheld_.push_back(name); }
    bool withheld(const char* name) const;
    // Sends load and describe (once); false with the failing status when either fails.
    OfxStatus open();

private:
    void start();
    void* library_ = nullptr;
    OfxPlugin* plugin_ = nullptr;
    OfxHost host_{};
    PropertySet hostProps_;
    std::unique_ptr<Effect> descriptor_;
    bool loaded_ = false;
    mutable std::mutex messagesMutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> withheld_;
};

inline constexpr int kDefaultRowPadding = 16;

struct RenderRequest {
    double time = 0.0;
    int bitsPerChannel = 8;  // 8, 16 or 32
    double renderScale = 1.0;
    bool draft = false;
    int rowPadding = kDefaultRowPadding;  // bytes added to every image row
};

// The output image as the plug-in left it: RGBA, premultiplied, at the frame's depth (8-bit
// 0..255, 16-bit 0..65535, float with 1 white), rows bottom to top, rowBytes apart.
struct RenderedImage {
    std::vector<std::uint8_t> bytes;
    std::int64_t rowBytes = 0;
    int bitsPerChannel = 8;
    std::int32_t width = 0, height = 0;
    // Where the source's top-left pixel lies in it, rows counted from the top.
    std::int32_t inputX = 0, inputY = 0;

    // Row y counted from the top.
    const std::uint8_t* rowFromTop(std::int32_t y) const {
        return bytes.data() + static_cast<std::int64_t>(height - 1 - y) * rowBytes;
    }
};

// The w x h pixels of an image from (x0, y0) (rows from the top), which must lie inside it, as
// premultiplied float RGBA, rows top to bottom, 1 white; the whole image without a region.
std::vector<float> rgbaOf(const RenderedImage& image, std::int32_t x0, std::int32_t y0,
                          std::int32_t width, std::int32_t height);
std::vector<float> rgbaOf(const RenderedImage& image);

// One effect instance in a context ("OfxImageEffectContextFilter" or "...General").
class Instance {
public:
    Instance(Plugin& plugin, const std::string& context);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The parameters in declaration order, and each one's properties.
    std::vector<std::string> paramNames() const;
    const PropertySet* paramProperties(const std::string& name) const;
    std::vector<std::string> clipNames() const;

    // A value as the host stores it (doubles; ints as doubles; RGB three), at a time.
    std::array<double, 3> value(const std::string& name, double time = 0.0) const;
    // The host sets a value (restoring a project: no notification).
    void setValue(const std::string& name, std::array<double, 3> value);
    void setKey(const std::string& name, double time, std::array<double, 3> value);
    // An edit: the value set, then instance changed for the reason (a user's edit by default;
    // kOfxChangePluginEdited or kOfxChangeTime as a host's own change).
    OfxStatus userEdit(const std::string& name, std::array<double, 3> value, double time = 0.0,
                       const char* reason = kOfxChangeUserEdited);

    // The layer a clip holds, from premultiplied float RGBA (rows top to bottom), kept at
    // bitsPerChannel (8, 16 or 32: what the frames will mostly ask for); an empty image
    // disconnects the clip.
    void setClipImage(const std::string& clip, const std::vector<float>& rgba, std::int32_t width,
                      std::int32_t height, int bitsPerChannel = 32);

    // Renders one frame through the action sequence; the failing status when an action fails.
    OfxStatus render(const RenderRequest& request, RenderedImage& image);

    // The image effect suite's abort answers true while *flag is set (a user's Ctrl-C); null:
    // never.
    void setAbortFlag(const std::atomic<bool>* flag) { abortFlag_ = flag; }
    bool abortRequested() const { return abortFlag_ && abortFlag_->load(); }

    // The messages the plug-in posted on this instance since the last call (a frame's own report,
    // whatever other instances post meanwhile).
    std::vector<std::string> takeMessages();
    void postMessage(const std::string& text);

    int imagesHeld() const { return imagesHeld_; }  // images fetched and not yet released
    Effect& effect() { return *effect_; }
    Plugin& plugin() { return plugin_; }
    double currentTime() const { return time_; }

private:
    friend struct HostSuites;
    Plugin& plugin_;
    std::unique_ptr<Effect> effect_;
    std::atomic<double> time_{0.0};  // one instance may render on several threads
    std::atomic<int> imagesHeld_{0};
    const std::atomic<bool>* abortFlag_ = nullptr;
    std::mutex messagesMutex_;
    std::vector<std::string> messages_;
};

}  // namespace refhost::ofxhost
