// Smart pre-render: parameter checkout into RenderSettings, margin, layer checkouts, rectangles.
#include "host/smart_pre_render.h"

#include <cstdlib>
#include <cstring>

#include "host/host_params.h"
#include "host/frame_setup.h"
#include "params/output_margin.h"

namespace lumet {

void deleteRenderSettings(void* settings) { std::free(settings); }

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData*, PF_PreRenderExtra* extra) {
    if (!extra || !extra->input || !extra->output || !extra->cb || !extra->cb->checkout_layer ||
        !in_data->inter.checkout_param || !in_data->inter.checkin_param) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Zero-filled and freed by deleteRenderSettings once the host is done with it.
    auto* settings = static_cast<RenderSettings*>(std::calloc(1, sizeof(RenderSettings)));
    if (!settings) return PF_Err_OUT_OF_MEMORY;

    PF_Err err = PF_Err_NONE;
    for (ParamId index : kSettingsReadOrder) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof(def));
        err = in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time,
                                            in_data->time_step, in_data->time_scale, &def);
        if (err) break;
        storeRenderSetting(*settings, index, def);
        in_data->inter.checkin_param(in_data->effect_ref, &def);
    }
    settings->expansion = previewMargin(outputMargin(settings->bevelStyle, settings->bevelDepth,
                                                     settings->glowIntensity, settings->glowRadius),
                                        previewScaleOf(in_data).factor());

    // From here on the host owns the record, also when a checkout failed.
    PF_PreRenderOutput& output = *extra->output;
    output.pre_render_data = settings;
    output.delete_pre_render_data_func = deleteRenderSettings;
    if (err) return err;

    PF_RenderRequest request = extra->input->output_request;
    request.preserve_rgb_of_zero_alpha = true;
    PF_CheckoutResult input;
    std::memset(&input, 0, sizeof(input));
    err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, PARAM_INPUT, &request,
                                    in_data->current_time, in_data->time_step, in_data->time_scale,
                                    &input);
    if (err) return err;

    output.result_rect = unionRect(output.result_rect, input.result_rect);
    output.max_result_rect = unionRect(output.max_result_rect, input.max_result_rect);
    settings->inputRect[0] = input.result_rect.left;
    settings->inputRect[1] = input.result_rect.top;
    settings->inputRect[2] = input.result_rect.right;
    settings->inputRect[3] = input.result_rect.bottom;

    if (settings->hdriMap == kCustomMap) {
        // Lets smart render check out the map layer's pixels; a parameter without a layer is not
        // an error here, but a checkout the host fails is: a frame without the map it asked for
        // would pass for the frame. The map is the whole layer, whatever part of the output is
        // requested: the request covers the layer's own bounds, which the parameter's checkout
        // tells.
        PF_RenderRequest mapRequest = extra->input->output_request;
        PF_ParamDef mapParam;
        std::memset(&mapParam, 0, sizeof(mapParam));
        err = in_data->inter.checkout_param(in_data->effect_ref, PARAM_CUSTOM_MAP,
                                            in_data->current_time, in_data->time_step,
                                            in_data->time_scale, &mapParam);
        if (err) return err;
        if (mapParam.u.ld.width > 0 && mapParam.u.ld.height > 0) {
            mapRequest.rect = PF_LRect{0, 0, mapParam.u.ld.width, mapParam.u.ld.height};
        }
        in_data->inter.checkin_param(in_data->effect_ref, &mapParam);
        PF_CheckoutResult map;
        std::memset(&map, 0, sizeof(map));
        err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_CUSTOM_MAP, PARAM_CUSTOM_MAP,
                                        &mapRequest, in_data->current_time, in_data->time_step,
                                        in_data->time_scale, &map);
        if (err) return err;
    }

    if (settings->expansion > 0) {
        output.result_rect = expandRect(output.result_rect, settings->expansion);
        output.max_result_rect = expandRect(output.max_result_rect, settings->expansion);
        output.flags |= PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
    }
    settings->outputRect[0] = output.result_rect.left;
    settings->outputRect[1] = output.result_rect.top;
    settings->outputRect[2] = output.result_rect.right;
    settings->outputRect[3] = output.result_rect.bottom;
    return PF_Err_NONE;
}

}  // namespace lumet
