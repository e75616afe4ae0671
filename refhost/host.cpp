// The reference host's command protocol and callbacks.
#include "refhost/host.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "AE_EffectCBSuites.h"
#include "refhost/callback_faults.h"
#include "refhost/compute_cache.h"
#include "refhost/pipl_resource.h"
#include "refhost/util_callbacks.h"

namespace refhost {
namespace {

Host* hostOf(PF_ProgPtr ref) { return reinterpret_cast<Host*>(ref); }

PF_LRect intersect(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) return PF_LRect{0, 0, 0, 0};
    return r;
}

std::string text(const A_u_char* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

}  // namespace

// ---- FrameParams ----

FrameParams::FrameParams(const ParamsStore& store, double seconds, const OwnedWorld* inputLayer) {
    defs_.reserve(static_cast<std::size_t>(store.count()));
    for (int i = 0; i < store.count(); ++i) {
        PF_ParamDef def = store.valueAt(i, seconds);
        def.uu.change_flags = PF_ChangeFlag_NONE;
        defs_.push_back(def);
    }
    if (inputLayer) defs_[0].u.ld = *inputLayer->world();
    for (PF_ParamDef& def : defs_) pointers_.push_back(&def);
    pointers_.push_back(nullptr);  // the list ends with a null entry, as argv does
}

// ---- construction ----

Host::Host(const std::string& pluginPath) : Host(PluginEntryPoints{}) {
    std::string error;
    library_ = PluginLibrary::load(pluginPath, &error);
    if (!library_.loaded()) throw std::runtime_error(error);
    entries_ = library_.entryPoints();
    pluginPath_ = pluginPath;
}

Host::Host(PluginEntryPoints entries) : entries_(entries) {
    std::memset(&lastOutData_, 0, sizeof(lastOutData_));
    offerSuite(kPFANSISuite, kPFANSISuiteVersion1, ansiSuite());
    offerSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1, computeCacheSuite());
    offerSuite(kAEGPHashSuite, kAEGPHashSuiteVersion1, hashSuite());
    offerSuite(kPFWorldSuite, kPFWorldSuiteVersion2, worldSuite());
    preRenderCallbacks_.checkout_layer = &Host::checkoutLayer;
    preRenderCallbacks_.GuidMixInPtr = &Host::guidMixIn;
    registerLiveRegistry(&suites_);
}

Host::~Host() {
    finishFrame();
    if (globallySetUp_) {
        globalSetdown();
    } else {
        sequenceSetdown();  // a further instance of an effect another host set up
    }
    unregisterLiveRegistry(&suites_);
}

// ---- commands ----

PF_InData Host::makeInData() {
    PF_InData in;
    std::memset(&in, 0, sizeof(in));
    in.inter.checkout_param = &Host::checkoutParam;
    in.inter.checkin_param = &Host::checkinParam;
    in.inter.add_param = &Host::addParam;
    in.inter.abort = &Host::abortCallback;
    in.inter.progress = &Host::progressCallback;
    in.utils = const_cast<PF_UtilCallbacks*>(utilCallbacks());
    fillUnofferedInteractCallbacks(in.inter);
    in.appl_id = 0x46585443;  // 'FXTC', the compositing host's application code
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    in.quality = PF_Quality_HI;
    in.version = PF_SpecVersion{PF_AE_PLUG_IN_VERSION, PF_AE_PLUG_IN_SUBVERS};
    in.num_params = params_.count();
    in.current_time = currentTime_;
    in.time_step = timeStep_;
    in.local_time_step = timeStep_;
    in.time_scale = timeScale_;
    if (const OwnedWorld* input = layer(0)) {
        in.width = input->width();
        in.height = input->height();
        in.extent_hint = PF_LRect{0, 0, input->width(), input->height()};
    }
    in.downsample_x = downsampleX_;
    in.downsample_y = downsampleY_;
    in.pixel_aspect_ratio = PF_RationalScale{1, 1};
    in.pica_basicP = withholdBasic_ ? nullptr : basicSuite();
    return in;
}

PF_OutData Host::freshOutData() const {
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    if (const OwnedWorld* input = layer(0)) {
        out.width = input->width();
        out.height = input->height();
    }
    return out;
}

PF_Err Host::call(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra) {
    if (!entries_.effectMain) throw std::logic_error("no plug-in entry point");
    ActiveSuitesScope scope(&suites_);
    PF_Err err = entries_.effectMain(cmd, in, out, params, output, extra);
    lastOutData_ = *out;
    outDataByCommand_[cmd] = *out;
    return err;
}

PF_OutData Host::outDataOf(PF_Cmd cmd) const {
    auto found = outDataByCommand_.find(cmd);
    if (found != outDataByCommand_.end()) return found->second;
    PF_OutData none;
    std::memset(&none, 0, sizeof(none));
    return none;
}

PF_Err Host::sendCommand(PF_Cmd cmd, PF_ParamDef* params[], PF_LayerDef* output, void* extra,
                         PF_OutData* outData) {
    PF_InData in = makeInData();
    PF_OutData out = freshOutData();
    PF_Err err = call(cmd, &in, &out, params, output, extra);
    if (outData) *outData = out;
    return err;
}

PF_Err Host::sendCommand(PF_Cmd cmd, PF_InData& in, PF_ParamDef* params[], PF_LayerDef* output,
                         void* extra, PF_OutData* outData) {
    PF_OutData out = freshOutData();
    PF_Err err = call(cmd, &in, &out, params, output, extra);
    if (outData) *outData = out;
    return err;
}

PF_Err Host::registerPlugin() {
    if (!entries_.pluginDataEntry) throw std::logic_error("no plug-in entry point");
    ActiveSuitesScope scope(&suites_);
    PF_Err err =
        entries_.pluginDataEntry(reinterpret_cast<PF_PluginDataPtr>(this),
                                 &Host::registrationCallback, basicSuite(), "refhost", "1.0");
    // A host that reads resources instead would see the PiPL: it must describe the same effect.
    if (err == PF_Err_NONE && !pluginPath_.empty()) {
        piplProblem_ = checkPiplResource(pluginPath_, registration_);
        if (!piplProblem_.empty()) err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return err;
}

PF_Err Host::registrationCallback(PF_PluginDataPtr inPtr, const A_u_char* name,
                                  const A_u_char* matchName, const A_u_char* category,
                                  const A_u_char* entryPoint, A_long kind, A_long apiMajor,
                                  A_long apiMinor, A_long reserved,
                                  const A_u_char* supportAddress) {
    Registration& r = reinterpret_cast<Host*>(inPtr)->registration_;
    ++r.calls;
    r.name = text(name);
    r.matchName = text(matchName);
    r.category = text(category);
    r.entryPoint = text(entryPoint);
    r.supportAddress = text(supportAddress);
    r.kind = kind;
    r.apiVersionMajor = apiMajor;
    r.apiVersionMinor = apiMinor;
    r.reservedInfo = reserved;
    return PF_Err_NONE;
}

PF_Err Host::about(std::string* aboutText) {
    PF_OutData out;
    PF_Err err = sendCommand(PF_Cmd_ABOUT, nullptr, nullptr, nullptr, &out);
    out.return_msg[sizeof(out.return_msg) - 1] = '\0';
    if (aboutText) *aboutText = out.return_msg;
    return err;
}

PF_Err Host::globalSetup() {
    PF_OutData out;
    PF_Err err = sendCommand(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, &out);
    if (!err) {
        globallySetUp_ = true;
        globalOutFlags_ = out.out_flags;
    }
    return err;
}

PF_Err Host::globalSetdown() {
    finishFrame();
    sequenceSetdown();
    globallySetUp_ = false;
    return sendCommand(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, nullptr);
}

// Parameter set-up declares the effect's controls; applying the effect to a layer then starts
// its sequence, which ends when the effect is removed (a new set-up, or global set-down).
PF_Err Host::paramsSetup() {
    sequenceSetdown();
    params_.clear();
    PF_OutData out;
    PF_Err err = sendCommand(PF_Cmd_PARAMS_SETUP, nullptr, nullptr, nullptr, &out);
    if (!err && out.num_params != params_.count()) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (!err) {
        FrameParams frame(params_, currentSeconds(), layer(0));
        err = sendCommand(PF_Cmd_SEQUENCE_SETUP, frame.array(), nullptr, nullptr, nullptr);
        sequenceSetUp_ = err == PF_Err_NONE;
    }
    return err;
}

void Host::sequenceSetdown() {
    if (!sequenceSetUp_) return;
    sequenceSetUp_ = false;
    FrameParams frame(params_, currentSeconds(), layer(0));
    sendCommand(PF_Cmd_SEQUENCE_SETDOWN, frame.array(), nullptr, nullptr, nullptr);
}

PF_Err Host::changeParam(int index) {
    changed_.clear();
    FrameParams frame(params_, currentSeconds(), layer(0));
    PF_UserChangedParamExtra extra{index};
    PF_OutData out;
    PF_Err err = sendCommand(PF_Cmd_USER_CHANGED_PARAM, frame.array(), nullptr, &extra, &out);
    for (int i = 1; i < frame.count(); ++i) {
        if (frame[i].uu.change_flags & PF_ChangeFlag_CHANGED_VALUE) {
            params_.takeValue(i, frame[i], currentSeconds());
            changed_.push_back(i);
        }
    }
    // An effect that asked for it at global set-up may update its controls' appearance.
    if (!err && (globalOutFlags_ & PF_OutFlag_SEND_UPDATE_PARAMS_UI)) {
        FrameParams updated(params_, currentSeconds(), layer(0));
        err = sendCommand(PF_Cmd_UPDATE_PARAMS_UI, updated.array(), nullptr, nullptr, nullptr);
    }
    return err;
}

PF_Err Host::frameSetup(FrameSetupResult* result) {
    FrameParams frame(params_, currentSeconds(), layer(0));
    PF_OutData out;
    PF_Err err = sendCommand(PF_Cmd_FRAME_SETUP, frame.array(), nullptr, nullptr, &out);
    if (result) *result = FrameSetupResult{out.width, out.height, out.origin};
    return err;
}

PF_RenderRequest Host::fullLayerRequest() const {
    PF_RenderRequest request;
    std::memset(&request, 0, sizeof(request));
    if (const OwnedWorld* input = layer(0)) {
        request.rect = PF_LRect{0, 0, input->width(), input->height()};
    }
    request.field = 0;
    request.channel_mask = 0xF;  // alpha, red, green, blue
    return request;
}

PF_Err Host::smartPreRender(const PF_RenderRequest& request, short bitDepth,
                            PF_PreRenderOutput* output) {
    finishFrame();
    PF_PreRenderInput input;
    std::memset(&input, 0, sizeof(input));
    input.output_request = request;
    input.bitdepth = bitDepth;
    PF_PreRenderOutput out;
    std::memset(&out, 0, sizeof(out));
    PF_PreRenderExtra extra{&input, &out, &preRenderCallbacks_};
    PF_Err err = sendCommand(PF_Cmd_SMART_PRE_RENDER, nullptr, nullptr, &extra, nullptr);
    pendingFrame_ = PendingFrame{out.pre_render_data, out.delete_pre_render_data_func};
    if (output) *output = out;
    return err;
}

void Host::finishFrame() {
    if (pendingFrame_.data && pendingFrame_.deleter) pendingFrame_.deleter(pendingFrame_.data);
    pendingFrame_ = PendingFrame{};
}

// ---- suites, layers, time, failures ----

void Host::offerSuite(const std::string& name, int version, const void* suite) {
    suites_.offer(name, version, suite);
}
void Host::withholdSuite(const std::string& name, int version) { suites_.withhold(name, version); }

OwnedWorld Host::takeOutputWorld(std::int32_t width, std::int32_t height, int bitsPerChannel,
                                 std::int32_t rowPaddingBytes) {
    {
        const std::lock_guard<std::mutex> hold(spareOutputsMutex_);
        for (auto it = spareOutputs_.begin(); it != spareOutputs_.end(); ++it) {
            if (!it->hasLayout(width, height, bitsPerChannel, rowPaddingBytes)) continue;
            OwnedWorld world = std::move(*it);
            spareOutputs_.erase(it);
            PF_EffectWorld& w = *world.world();
            w.origin_x = w.origin_y = 0;
            return world;
        }
    }
    return OwnedWorld(width, height, bitsPerChannel, rowPaddingBytes);
}

void Host::returnOutputWorld(OwnedWorld world) {
    // Two spares: one being written out while the next frame renders into the other.
    constexpr std::size_t kSpares = 2;
    if (world.empty()) return;
    const std::lock_guard<std::mutex> hold(spareOutputsMutex_);
    if (spareOutputs_.size() == kSpares) spareOutputs_.erase(spareOutputs_.begin());
    spareOutputs_.push_back(std::move(world));
}

void Host::setLayer(int index, OwnedWorld world) { layers_[index] = std::move(world); }
void Host::removeLayer(int index) { layers_.erase(index); }
const OwnedWorld* Host::layer(int index) const {
    auto it = layers_.find(index);
    return it == layers_.end() ? nullptr : &it->second;
}

void Host::setTime(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    if (timeScale == 0) throw std::invalid_argument("time scale must be positive");
    currentTime_ = currentTime;
    timeStep_ = timeStep;
    timeScale_ = timeScale;
}

void Host::failParamCheckout(int index, PF_Err err) { paramFailures_[index] = err; }
void Host::failLayerCheckout(int index, PF_Err err) { layerFailures_[index] = err; }
void Host::failAddParam(int afterCount, PF_Err err) {
    addParamFailAfter_ = afterCount;
    addParamFailure_ = err;
}
void Host::clearFailures() {
    paramFailures_.clear();
    layerFailures_.clear();
    addParamFailAfter_ = -1;
}
void Host::clearLogs() {
    paramCheckoutLog_.clear();
    layerCheckouts_.clear();
}

void Host::fillLayerDef(int index, PF_LayerDef& ld) const {
    std::memset(&ld, 0, sizeof(ld));
    if (const OwnedWorld* world = layer(index)) ld = *world->world();
}

// ---- callbacks ----

PF_Err Host::checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long, A_u_long scale,
                           PF_ParamDef* param) {
    Host* host = hostOf(ref);
    if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err; hostCallbackFails("checkout_param", &err)) return err;
    for (int key : {static_cast<int>(index), -1}) {
        auto it = host->paramFailures_.find(key);
        if (it != host->paramFailures_.end()) return it->second;
    }
    if (index < 0 || index >= host->params_.count() || scale == 0) return PF_Err_INVALID_INDEX;
    *param = host->params_.valueAt(index, double(time) / double(scale));
    if (param->param_type == PF_Param_LAYER) host->fillLayerDef(index, param->u.ld);
    host->paramCheckoutLog_.push_back(index);
    ++host->openParamCheckouts_;
    return PF_Err_NONE;
}

PF_Err Host::checkinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    Host* host = hostOf(ref);
    if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
    --host->openParamCheckouts_;
    return PF_Err_NONE;
}

PF_Err Host::addParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    Host* host = hostOf(ref);
    if (!host || !def) return PF_Err_BAD_CALLBACK_PARAM;
    if (host->addParamFailAfter_ >= 0 && host->params_.count() - 1 >= host->addParamFailAfter_) {
        return host->addParamFailure_;
    }
    if (index != -1 && index != host->params_.count()) return PF_Err_INVALID_INDEX;
    host->params_.add(*def);
    return PF_Err_NONE;
}

void Host::setAbortPlan(const AbortPlan& plan) {
    abortPlan_ = plan;
    abortLog_ = AbortLog{};
    abortPlanSet_ = std::chrono::steady_clock::now();
}

PF_Err Host::abortCallback(PF_ProgPtr ref) {
    Host* host = hostOf(ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    const auto now = std::chrono::steady_clock::now();
    AbortLog& log = host->abortLog_;
    const AbortPlan& plan = host->abortPlan_;
    if (log.calls > 0) {
        const std::chrono::duration<double> gap = now - log.lastCall;
        log.longestGapSeconds = std::max(log.longestGapSeconds, gap.count());
    }
    log.lastCall = now;
    ++log.calls;
    const std::chrono::duration<double> elapsed = now - host->abortPlanSet_;
    const bool cancel = (plan.atCall > 0 && log.calls >= plan.atCall) ||
                        (plan.afterSeconds >= 0.0 && elapsed.count() >= plan.afterSeconds) ||
                        (plan.flag && plan.flag->load());
    if (!cancel) return PF_Err_NONE;
    log.fired = true;
    return PF_Interrupt_CANCEL;
}

PF_Err Host::progressCallback(PF_ProgPtr ref, A_long current, A_long total) {
    Host* host = hostOf(ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    ++host->abortLog_.progressCalls;
    host->abortLog_.progressDone = current;
    host->abortLog_.progressTotal = total;
    return PF_Err_NONE;
}

PF_Err Host::checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                           const PF_RenderRequest* request, A_long time, A_long, A_u_long,
                           PF_CheckoutResult* result) {
    Host* host = hostOf(ref);
    if (!host || !request || !result) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err; hostCallbackFails("checkout_layer", &err)) return err;
    for (int key : {static_cast<int>(index), -1}) {
        auto it = host->layerFailures_.find(key);
        if (it != host->layerFailures_.end()) return it->second;
    }
    if (index < 0 || index >= host->params_.count() ||
        host->params_.definition(index).param_type != PF_Param_LAYER) {
        return PF_Err_INVALID_INDEX;
    }
    std::memset(result, 0, sizeof(*result));
    result->par = PF_RationalScale{1, 1};
    // A parameter without a layer checks out empty; a layer yields what the request covers of it.
    if (const OwnedWorld* world = host->layer(index)) {
        const PF_LRect bounds{0, 0, world->width(), world->height()};
        result->max_result_rect = bounds;
        result->result_rect = intersect(request->rect, bounds);
        result->ref_width = world->width();
        result->ref_height = world->height();
    }
    host->layerCheckouts_.push_back(LayerCheckout{index, checkoutId, *request, time, *result});
    return PF_Err_NONE;
}

PF_Err Host::guidMixIn(PF_ProgPtr, A_u_long, const void*) { return PF_Err_NONE; }

}  // namespace refhost
