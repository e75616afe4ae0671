// EffectMain's command table and the registration entry point. Every command runs inside one
// guard, so no exception ever crosses into the host.
#include "host/entry.h"

#include "host/about_box.h"
#include "host/effect_identity.h"
#include "host/entry_guard.h"
#include "host/global_setup.h"
#include "host/host_params.h"
#include "host/host_params.h"
#include "host/non_smart_render.h"
#include "host/frame_setup.h"
#include "params/output_margin.h"
#include "host/smart_pre_render.h"
#include "host/smart_render.h"

namespace lumet {
namespace {

PF_Err dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
    // Commands that read the host's records refuse missing ones instead of crashing.
    auto missing = [](auto... pointers) { return ((pointers == nullptr) || ...); };
    switch (cmd) {
        case PF_Cmd_ABOUT:
            if (missing(out_data)) return PF_Err_BAD_CALLBACK_PARAM;
            writeAboutText(in_data, out_data);
            return PF_Err_NONE;
        case PF_Cmd_GLOBAL_SETUP:
            if (missing(out_data)) return PF_Err_BAD_CALLBACK_PARAM;
            return globalSetup(in_data, out_data);
        case PF_Cmd_GLOBAL_SETDOWN:
            globalSetdown(in_data);
            return PF_Err_NONE;
        case PF_Cmd_PARAMS_SETUP:
            if (missing(in_data, out_data)) return PF_Err_BAD_CALLBACK_PARAM;
            return setupParams(in_data, out_data);
        case PF_Cmd_FRAME_SETUP:
            if (missing(out_data, params)) return PF_Err_BAD_CALLBACK_PARAM;
            setupFrame(in_data, out_data, params);
            return PF_Err_NONE;
        case PF_Cmd_RENDER:
            if (missing(in_data, out_data, params, output)) return PF_Err_BAD_CALLBACK_PARAM;
            return NonSmartRender(in_data, out_data, params, output);
        case PF_Cmd_USER_CHANGED_PARAM:
            if (missing(out_data, params, extra)) return PF_Err_BAD_CALLBACK_PARAM;
            return applyPresetOnChange(out_data, params,
                                       static_cast<const PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_SMART_PRE_RENDER:
            if (missing(in_data, out_data, extra)) return PF_Err_BAD_CALLBACK_PARAM;
            return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            if (missing(in_data, out_data, extra)) return PF_Err_BAD_CALLBACK_PARAM;
            return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        default:
            return PF_Err_NONE;
    }
}

}  // namespace

PF_Err effectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra) {
    // Commands past smart render (and any unknown value) are answered at once.
    if (static_cast<int>(cmd) < 0 || static_cast<int>(cmd) > PF_Cmd_SMART_RENDER) {
        return PF_Err_NONE;
    }
    return runGuarded([&] { return dispatch(cmd, in_data, out_data, params, output, extra); });
}

PF_Err pluginDataEntry(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                       SPBasicSuite*, const char*, const char*) {
    if (!inPluginDataCallBackPtr) return PF_Err_BAD_CALLBACK_PARAM;
    return runGuarded([&] {
        auto text = [](const char* s) { return reinterpret_cast<const A_u_char*>(s); };
        return inPluginDataCallBackPtr(
            inPtr, text(kEffectName), text(kEffectMatchName), text(kEffectCategory),
            text(kEntryPointName), static_cast<A_long>(kEffectPluginKind), kEffectApiVersionMajor,
            kEffectApiVersionMinor, kRegistrationReservedInfo, text(kSupportAddress));
    });
}

}  // namespace lumet
