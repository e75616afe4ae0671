// Host: the reference host's side of the effect protocol for one effect instance. It loads the
// plug-in by path (or takes in-process entry points), registers it, sends the commands with in
// data, out data, parameter arrays and extra records as the host builds them, serves the
// checkout callbacks from its parameter store and layers, and offers suites through the basic
// suite. Tests can withhold suites and make checkouts fail.
//
// Layout for later protocol pieces: the smart render (checkout_layer_pixels / checkout_output),
// the plain render and custom-map layers build on the same in-data builder (makeInData), the
// frame parameter array (FrameParams), the layer store (setLayer) and the pre-render state kept
// in pendingFrame_.
#pragma once
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_PluginData.h"
#include "refhost/params_store.h"
#include "refhost/plugin_library.h"
#include "refhost/suites.h"
#include "refhost/world.h"

namespace refhost {

// What the plug-in told the host at registration.
struct Registration {
    int calls = 0;
    std::string name, matchName, category, entryPoint, supportAddress;
    A_long kind = 0, apiVersionMajor = 0, apiVersionMinor = 0, reservedInfo = 0;
};

struct FrameSetupResult {
    A_long width = 0, height = 0;
    PF_Point origin{0, 0};
};

struct LayerCheckout {
    PF_ParamIndex index;
    A_long checkoutId;
    PF_RenderRequest request;
    A_long time;
    PF_CheckoutResult result;
};

// The parameter array of one command: every value at the command's time, change flags clear.
class FrameParams {
public:
    FrameParams(const ParamsStore& store, double seconds, const OwnedWorld* inputLayer);
    // Every parameter, input layer first, then a null entry.
    PF_ParamDef** array() { return pointers_.data(); }
    PF_ParamDef& operator[](int index) { return defs_[static_cast<std::size_t>(index)]; }
    int count() const { return static_cast<int>(defs_.size()); }

private:
    std::vector<PF_ParamDef> defs_;
    std::vector<PF_ParamDef*> pointers_;
};

class Host {
public:
    // Loads the library; throws std::runtime_error when it cannot be loaded or lacks the entry
    // points.
    explicit Host(const std::string& pluginPath);
    // Drives entry points already in this process.
    explicit Host(PluginEntryPoints entries);
    // Frees pending pre-render data, sends global set-down if set up, then unloads.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Commands.
    PF_Err registerPlugin();  // PluginDataEntryFunction2
    PF_Err about(std::string* text);
    PF_Err globalSetup();
    PF_Err globalSetdown();
    PF_Err paramsSetup();
    // The user changed parameter `index` (already stored): sends USER_CHANGED_PARAM and takes
    // back every value whose change flag the effect set (see changedByLastCommand()).
    PF_Err changeParam(int index);
    PF_Err frameSetup(FrameSetupResult* result);
    // Smart pre-render with the host's output request. The effect's pre-render data stays with
    // the host until finishFrame() (or the next pre-render, or destruction).
    PF_Err smartPreRender(const PF_RenderRequest& request, short bitDepth,
                          PF_PreRenderOutput* output);
    void finishFrame();
    const void* preRenderData() const { return pendingFrame_.data; }
    // Any command with host-built in data and out data, for commands without a helper above.
    PF_Err sendCommand(PF_Cmd cmd, PF_ParamDef* params[], PF_LayerDef* output, void* extra,
                       PF_OutData* outData);
    // The same with in data the caller built with makeInData() and adjusted (render quality,
    // output origin), as the render commands need.
    PF_Err sendCommand(PF_Cmd cmd, PF_InData& in, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra, PF_OutData* outData);

    // A request for the whole input layer (or an empty rect when there is none).
    PF_RenderRequest fullLayerRequest() const;

    const Registration& registration() const { return registration_; }
    // Windows: what is wrong with the plug-in file's PiPL resource compared with the registration
    // (refhost/pipl_resource.h); empty when it agrees or when driving in-process entry points.
    const std::string& piplProblem() const { return piplProblem_; }
    const PF_OutData& lastOutData() const { return lastOutData_; }
    // The out data of the last command of that kind (zeroed when none was sent).
    PF_OutData outDataOf(PF_Cmd cmd) const;
    const std::vector<int>& changedByLastCommand() const { return changed_; }
    bool globallySetUp() const { return globallySetUp_; }

    // Suites.
    void offerSuite(const std::string& name, int version, const void* suite);
    void withholdSuite(const std::string& name, int version);
    void withholdBasicSuite(bool withhold) { withholdBasic_ = withhold; }
    SuiteRegistry& suites() { return suites_; }

    // Parameters and layers.
    ParamsStore& params() { return params_; }
    void setLayer(int index, OwnedWorld world);
    void removeLayer(int index);
    const OwnedWorld* layer(int index) const;

    // Output worlds kept between frames, as a compositing host keeps its frame buffers: a frame
    // whose output has the size, depth and padding of one handed back gets that world again, its
    // pixels as the frame before left them (an effect writes every pixel of its output), so that
    // a sequence does not allocate and clear a frame buffer per frame. Safe to call from any
    // thread (a writer hands worlds back while the next frame renders).
    OwnedWorld takeOutputWorld(std::int32_t width, std::int32_t height, int bitsPerChannel,
                               std::int32_t rowPaddingBytes);
    void returnOutputWorld(OwnedWorld world);

    // Time of the next commands, in the host's units (seconds = time / scale).
    void setTime(A_long currentTime, A_long timeStep, A_u_long timeScale);
    double currentSeconds() const { return double(currentTime_) / double(timeScale_); }

    // Failure injection: checkouts of that parameter / layer index (-1: any) answer `err`;
    // add-parameter fails with `err` once `afterCount` definitions were accepted.
    void failParamCheckout(int index, PF_Err err);
    void failLayerCheckout(int index, PF_Err err);
    void failAddParam(int afterCount, PF_Err err);
    void clearFailures();

    // Observation for tests.
    const std::vector<int>& paramCheckoutLog() const { return paramCheckoutLog_; }
    int openParamCheckouts() const { return openParamCheckouts_; }
    const std::vector<LayerCheckout>& layerCheckouts() const { return layerCheckouts_; }
    void clearLogs();

    PF_InData makeInData();

private:
    struct PendingFrame {
        void* data = nullptr;
        PF_DeletePreRenderDataFunc deleter = nullptr;
    };

    PF_Err call(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra);
    PF_OutData freshOutData() const;
    void sequenceSetdown();
    void fillLayerDef(int index, PF_LayerDef& ld) const;

    static PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step,
                                A_u_long scale, PF_ParamDef* param);
    static PF_Err checkinParam(PF_ProgPtr ref, PF_ParamDef* param);
    static PF_Err addParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def);
    static PF_Err abortCallback(PF_ProgPtr ref);
    static PF_Err progressCallback(PF_ProgPtr ref, A_long current, A_long total);
    static PF_Err checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                                const PF_RenderRequest* request, A_long time, A_long step,
                                A_u_long scale, PF_CheckoutResult* result);
    static PF_Err guidMixIn(PF_ProgPtr ref, A_u_long size, const void* buffer);
    static PF_Err registrationCallback(PF_PluginDataPtr inPtr, const A_u_char* name,
                                       const A_u_char* matchName, const A_u_char* category,
                                       const A_u_char* entryPoint, A_long kind, A_long apiMajor,
                                       A_long apiMinor, A_long reserved,
                                       const A_u_char* supportAddress);

    PluginLibrary library_;  // declared first: unloaded last
    std::string pluginPath_, piplProblem_;
    PluginEntryPoints entries_;
    SuiteRegistry suites_;
    bool withholdBasic_ = false;
    ParamsStore params_;
    std::map<int, OwnedWorld> layers_;
    std::mutex spareOutputsMutex_;
    std::vector<OwnedWorld> spareOutputs_;  // guarded by spareOutputsMutex_
    Registration registration_;
    PF_OutData lastOutData_;
    std::map<PF_Cmd, PF_OutData> outDataByCommand_;
    std::vector<int> changed_;
    bool globallySetUp_ = false;
    bool sequenceSetUp_ = false;
    PF_OutFlags globalOutFlags_ = 0;
    PendingFrame pendingFrame_;
    A_long currentTime_ = 0, timeStep_ = 1;
    A_u_long timeScale_ = 24;
    std::map<int, PF_Err> paramFailures_, layerFailures_;
    int addParamFailAfter_ = -1;
    PF_Err addParamFailure_ = PF_Err_NONE;
    std::vector<int> paramCheckoutLog_;
    int openParamCheckouts_ = 0;
    std::vector<LayerCheckout> layerCheckouts_;
    PF_PreRenderCallbacks preRenderCallbacks_{};
};

}  // namespace refhost
