// The OpenFX test host: plays an OpenFX host's side for one image effect plug-in, as the standard
// describes it. It loads a bundle's binary by the standard's layout (or takes an in-process plug-in
// record), hands out its host record with the property, parameter, image effect, memory,
// multi-thread and message suites, and sends the actions in the standard's order: load and
// describe when the plug-in is opened, describe in context and create instance for an instance,
// instance changed for a user's edit, clip preferences, regions of definition and of interest, is
// identity and a begin / render / end sequence for a frame, destroy instance, unload.
//
// Clips hold the host's layers as premultiplied float RGBA (rows top to bottom) placed with their
// bottom-left corner at the canonical origin; an image is made at the frame's depth (8-bit 0..255,
// 16-bit 0..65535, float) and render scale (a box filter) when the plug-in asks for it.
#pragma once
#include <array>
#include <atomic>
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

struct RenderRequest {
    double time = 0.0;
    int bitsPerChannel = 8;  // 8, 16 or 32
    double renderScale = 1.0;
    bool draft = false;
    int rowPadding = 16;  // bytes added to every image row
};

struct RenderedImage {
    std::vector<float> rgba;  // premultiplied, rows top to bottom, at the depth's scale (1 white)
    std::int32_t width = 0, height = 0;
    std::int32_t inputX = 0, inputY = 0;  // where the source's top-left pixel lies in it
};

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

    // The layer a clip holds; an empty image disconnects the clip.
    void setClipImage(const std::string& clip, std::vector<float> rgba, std::int32_t width,
                      std::int32_t height);

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
