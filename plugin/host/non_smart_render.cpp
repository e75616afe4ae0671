// NonSmartRender: one frame of the plain protocol. The parameters are read from the host's array
// and the frame is rendered as an instance's, in this path's own process-wide cache (map and
// stages) under its own lock. The style is always Inner Bevel.
#include "host/non_smart_render.h"

#include "host/frame_setup.h"
#include "host/host_params.h"
#include "host/host_worlds.h"
#include "params/param_ids.h"
#include "render/frame_report.h"
#include "render/instance_render.h"
#include "render/render_locks.h"

namespace lumet {

namespace {

// The custom map layer checked out for the call, checked in on every exit.
class CustomLayerCheckout {
public:
    explicit CustomLayerCheckout(PF_InData* inData) : in_(inData) {}
    CustomLayerCheckout(const CustomLayerCheckout&) = delete;
    CustomLayerCheckout& operator=(const CustomLayerCheckout&) = delete;
    ~CustomLayerCheckout() {
        if (checkedOut) in_->inter.checkin_param(in_->effect_ref, &param);
    }

    PF_ParamDef param{};
    bool checkedOut = false;

private:
    PF_InData* in_;
};

PF_Err renderPlainFrame(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
    if (!in_data || !params || !params[PARAM_INPUT] || !output) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // Settings from the parameter array; this path always draws Inner Bevel.
    FrameRequest request;
    fillRenderSettingsFromParams(params, request.settings);
    request.settings.showEnvMap =
        params[PARAM_SHOW_ENV_MAP] && params[PARAM_SHOW_ENV_MAP]->u.bd.value;
    request.output = worldView(in_data, *output);
    if (!request.output) return PF_Err_NONE;
    request.layer = worldView(in_data, params[PARAM_INPUT]->u.ld);
    request.layerX = in_data->output_origin_x, request.layerY = in_data->output_origin_y;
    request.highQuality = in_data->quality == PF_Quality_HI;
    request.preview = previewScaleOf(in_data);
    request.interrupt = hostInterrupt(in_data);
    request.waitForCache = true;

    // The custom map layer: without pixels the map takes its fallback; a checkout the host
    // fails fails the frame.
    CustomLayerCheckout custom(in_data);
    if (request.settings.hdriMap == kCustomMap && in_data->inter.checkout_param) {
        if (const PF_Err checkoutErr = in_data->inter.checkout_param(
                in_data->effect_ref, PARAM_CUSTOM_MAP, in_data->current_time, in_data->time_step,
                in_data->time_scale, &custom.param))
            return checkoutErr;
        custom.checkedOut = true;
        request.customMap = worldView(in_data, custom.param.u.ld);
    }
    return hostError(renderInstanceFrame(nonSmartCache(), nonSmartCacheLock(), request));
}

}  // namespace

PF_Err NonSmartRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_ParamDef* params[],
                      PF_LayerDef* output) {
    beginFrameReport(RenderPath::kPlain);
    try {
        const PF_Err err = renderPlainFrame(in_data, params, output);
        finishFrameReport(err == PF_Err_NONE ? Status{} : Status::failed());
        return err;
    } catch (PF_Err) {
        finishFrameReport(Status::failed());
        throw;
    }
}

}  // namespace lumet
