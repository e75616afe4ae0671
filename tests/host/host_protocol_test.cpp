// The reference host plays the host's side of the protocol as the host does, so that an effect
// relying on the host's documented behaviour works here too. A small effect in this file relies
// on each behaviour and records what it saw.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AE_EffectCB.h"
#include "refhost/host.h"
#include "refhost/render_host.h"

namespace {

struct Seen {
    std::vector<PF_Cmd> commands;
    bool utilsWork = true;
    PF_SpecVersion version{};
    int paramsBeforeNull = -1;  // FRAME_SETUP: entries before the list's null entry
    double sliderAtRender = -1;
    int popupAtRender = -1;
    bool extraPixels = false;  // what the pre-render answers
    A_long outputWidth = 0, outputHeight = 0, outputOriginX = 0, outputOriginY = 0;
    A_long inputOriginX = -1, inputOriginY = -1;
};
Seen* seen = nullptr;

// Uses the utility callbacks as an effect may at any command: the ANSI block and a handle.
bool utilityCallbacksWork(const PF_InData* in) {
    if (!in || !in->utils) return false;
    // Every interaction slot holds a callback, including those a host without the feature has.
    if (!in->inter.register_ui || !in->inter.checkout_layer_audio ||
        !in->inter.checkin_layer_audio || !in->inter.get_audio_data) {
        return false;
    }
    const PF_UtilCallbacks& u = *in->utils;
    if (u.ansi.sqrt(16.0) != 4.0 || u.ansi.atan2(0.0, -1.0) <= 3.14) return false;
    PF_Handle handle = u.host_new_handle(12);
    if (!handle) return false;
    auto* bytes = static_cast<unsigned char*>(u.host_lock_handle(handle));
    const bool zeroed = bytes && bytes[0] == 0 && bytes[11] == 0;
    u.host_unlock_handle(handle);
    const bool sized = u.host_get_handle_size(handle) == 12 && u.host_resize_handle(64, &handle) == 0 &&
                       u.host_get_handle_size(handle) == 64;
    u.host_dispose_handle(handle);
    return zeroed && sized;
}

PF_Err addParams(PF_InData* in, PF_OutData* out) {
    PF_ParamDef slider;
    std::memset(&slider, 0, sizeof(slider));
    slider.param_type = PF_Param_FLOAT_SLIDER;
    slider.uu.id = 1;
    std::strcpy(slider.name, "Amount");
    slider.u.fs_d.valid_min = slider.u.fs_d.slider_min = 0;
    slider.u.fs_d.valid_max = slider.u.fs_d.slider_max = 10;
    slider.u.fs_d.value = 0;  // the host starts the control at its default, not at this
    slider.u.fs_d.dephault = 7.5f;
    if (PF_Err err = in->inter.add_param(in->effect_ref, -1, &slider)) return err;
    PF_ParamDef popup;
    std::memset(&popup, 0, sizeof(popup));
    popup.param_type = PF_Param_POPUP;
    popup.uu.id = 2;
    std::strcpy(popup.name, "Mode");
    popup.u.pd.num_choices = 3;
    popup.u.pd.value = 1;
    popup.u.pd.dephault = 3;
    popup.u.pd.u.namesptr = "A|B|C";
    if (PF_Err err = in->inter.add_param(in->effect_ref, -1, &popup)) return err;
    out->num_params = 3;
    return PF_Err_NONE;
}

PF_Err preRender(PF_InData* in, PF_PreRenderExtra* extra) {
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof(result));
    PF_RenderRequest request = extra->input->output_request;
    if (PF_Err err = extra->cb->checkout_layer(in->effect_ref, 0, 0, &request, in->current_time,
                                               in->time_step, in->time_scale, &result)) {
        return err;
    }
    // The result reaches 10 pixels beyond the layer on every side.
    PF_LRect r = result.result_rect;
    r.left -= 10, r.top -= 10, r.right += 10, r.bottom += 10;
    extra->output->result_rect = extra->output->max_result_rect = r;
    extra->output->flags = seen->extraPixels ? PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS : 0;
    return PF_Err_NONE;
}

PF_Err smartRender(PF_InData* in, PF_SmartRenderExtra* extra) {
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    if (PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, 0, &input)) return err;
    if (PF_Err err = extra->cb->checkout_output(in->effect_ref, &output)) return err;
    seen->inputOriginX = input->origin_x;
    seen->inputOriginY = input->origin_y;
    seen->outputWidth = output->width;
    seen->outputHeight = output->height;
    seen->outputOriginX = output->origin_x;
    seen->outputOriginY = output->origin_y;
    return extra->cb->checkin_layer_pixels(in->effect_ref, 0);
}

PF_Err probeEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                   PF_LayerDef*, void* extra) {
    seen->commands.push_back(cmd);
    seen->utilsWork = seen->utilsWork && utilityCallbacksWork(in);
    switch (cmd) {
        case PF_Cmd_GLOBAL_SETUP:
            seen->version = in->version;
            out->out_flags = PF_OutFlag_SEND_UPDATE_PARAMS_UI;
            out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
            return PF_Err_NONE;
        case PF_Cmd_PARAMS_SETUP:
            return addParams(in, out);
        case PF_Cmd_FRAME_SETUP:
            seen->paramsBeforeNull = 0;
            while (seen->paramsBeforeNull < 16 && params[seen->paramsBeforeNull]) {
                ++seen->paramsBeforeNull;
            }
            return PF_Err_NONE;
        case PF_Cmd_RENDER:
            seen->sliderAtRender = params[1]->u.fs_d.value;
            seen->popupAtRender = params[2]->u.pd.value;
            return PF_Err_NONE;
        case PF_Cmd_SMART_PRE_RENDER:
            return preRender(in, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return smartRender(in, static_cast<PF_SmartRenderExtra*>(extra));
        default:
            return PF_Err_NONE;
    }
}

// The index of the first `cmd` in the log at or after `from`, or -1.
int find(const std::vector<PF_Cmd>& log, PF_Cmd cmd, int from = 0) {
    for (int i = from; i < static_cast<int>(log.size()); ++i) {
        if (log[static_cast<std::size_t>(i)] == cmd) return i;
    }
    return -1;
}

TEST(HostProtocol, PlaysTheHostsSideAsTheHostDoes) {
    for (bool extraPixels : {false, true}) {
        SCOPED_TRACE(extraPixels ? "returns extra pixels" : "no extra pixels");
        Seen record;
        record.extraPixels = extraPixels;
        seen = &record;
        {
            refhost::Host host(refhost::PluginEntryPoints{&probeEffect, nullptr});
            ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
            ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
            host.setLayer(0, refhost::OwnedWorld(40, 30, 8, 0));
            refhost::RenderedFrame frame;
            ASSERT_EQ(refhost::renderSmartFrame(host, refhost::FrameOptions{}, frame), PF_Err_NONE);
            ASSERT_EQ(refhost::renderPlainFrame(host, refhost::FrameOptions{}, frame), PF_Err_NONE);
            ASSERT_EQ(host.changeParam(2), PF_Err_NONE);
        }  // the host's destruction removes the effect and sends global set-down

        // The host's own API version, as major and minor.
        EXPECT_EQ(record.version.major, PF_AE_PLUG_IN_VERSION);
        EXPECT_EQ(record.version.minor, PF_AE_PLUG_IN_SUBVERS);
        // Every command carried working utility callbacks.
        EXPECT_TRUE(record.utilsWork);
        // The parameter list ends with a null entry after the input layer and both controls.
        EXPECT_EQ(record.paramsBeforeNull, 3);
        // Controls start at their defaults.
        EXPECT_EQ(record.sliderAtRender, 7.5);
        EXPECT_EQ(record.popupAtRender, 3);
        // The sequence brackets the effect's life on a layer, frame set-down follows every
        // render, and the controls' update follows a change because the effect asked for it.
        const auto& log = record.commands;
        const int params = find(log, PF_Cmd_PARAMS_SETUP);
        const int sequence = find(log, PF_Cmd_SEQUENCE_SETUP);
        EXPECT_GT(sequence, params);
        EXPECT_EQ(find(log, PF_Cmd_FRAME_SETDOWN), find(log, PF_Cmd_RENDER) + 1);
        EXPECT_EQ(find(log, PF_Cmd_UPDATE_PARAMS_UI), find(log, PF_Cmd_USER_CHANGED_PARAM) + 1);
        EXPECT_EQ(find(log, PF_Cmd_SEQUENCE_SETDOWN), static_cast<int>(log.size()) - 2);
        EXPECT_EQ(log.back(), PF_Cmd_GLOBAL_SETDOWN);
        // The smart output covers the result only for an effect that returns extra pixels;
        // otherwise the host clips it to the 40 x 30 request. Worlds give their origin in the
        // layer's coordinates.
        EXPECT_EQ(record.outputWidth, extraPixels ? 60 : 40);
        EXPECT_EQ(record.outputHeight, extraPixels ? 50 : 30);
        EXPECT_EQ(record.outputOriginX, extraPixels ? -10 : 0);
        EXPECT_EQ(record.outputOriginY, extraPixels ? -10 : 0);
        EXPECT_EQ(record.inputOriginX, 0);
        EXPECT_EQ(record.inputOriginY, 0);
        seen = nullptr;
    }
}

}  // namespace
