// Parameter records of the host: set-up, values, presets.
#include "host/host_params.h"

#include <cstring>

namespace lumet {

ParamValue paramValueOf(int id, const PF_ParamDef& def) {
    ParamValue value;
    if (id < 1 || id >= PARAM_COUNT) return value;
    switch (paramSpec(id).kind) {
        case ParamKind::Popup:
            value.number = def.u.pd.value;
            break;
        case ParamKind::Checkbox:
            value.number = def.u.bd.value != 0 ? 1.0 : 0.0;
            break;
        case ParamKind::FloatSlider:
            value.number = def.u.fs_d.value;
            break;
        case ParamKind::Angle:
            // 16.16 fixed-point degrees, read as a signed integer.
            value.number = static_cast<A_long>(def.u.ad.value) / 65536.0;
            break;
        case ParamKind::Color:
            value.color[0] = def.u.cd.value.red;
            value.color[1] = def.u.cd.value.green;
            value.color[2] = def.u.cd.value.blue;
            break;
        default:
            break;
    }
    return value;
}

void storeRenderSetting(RenderSettings& settings, int id, const PF_ParamDef& def) {
    storeRenderSetting(settings, id, paramValueOf(id, def));
}

void fillRenderSettingsFromParams(PF_ParamDef* const params[], RenderSettings& settings) {
    for (ParamId id : kSettingsReadOrder) {
        if (id == PARAM_BEVEL_STYLE || id == PARAM_SHOW_ENV_MAP) continue;
        storeRenderSetting(settings, id, *params[id]);
    }
    settings.bevelStyle = kInnerBevel;
}

void fillParamDef(const ParamSpec& spec, PF_ParamDef& def) {
    def.uu.id = spec.id;
    std::strncpy(def.name, spec.label, sizeof(def.name) - 1);
    def.flags = spec.supervised ? PF_ParamFlag_SUPERVISE : 0;
    def.ui_flags = spec.invisible ? PF_PUI_INVISIBLE : 0;
    switch (spec.kind) {
        case ParamKind::Popup:
            def.param_type = PF_Param_POPUP;
            def.u.pd.num_choices = spec.choiceCount;
            def.u.pd.dephault = spec.defaultChoice;
            def.u.pd.value = spec.defaultChoice;
            def.u.pd.u.namesptr = spec.choices;
            break;
        case ParamKind::GroupStart:
            def.param_type = PF_Param_GROUP_START;
            break;
        case ParamKind::GroupEnd:
            def.param_type = PF_Param_GROUP_END;
            break;
        case ParamKind::FloatSlider:
            def.param_type = PF_Param_FLOAT_SLIDER;
            def.u.fs_d.valid_min = spec.validMin;
            def.u.fs_d.valid_max = spec.validMax;
            def.u.fs_d.slider_min = spec.sliderMin;
            def.u.fs_d.slider_max = spec.sliderMax;
            def.u.fs_d.dephault = spec.defaultValue;
            def.u.fs_d.value = static_cast<double>(spec.defaultValue);
            def.u.fs_d.precision = spec.precision;
            break;
        case ParamKind::Checkbox:
            def.param_type = PF_Param_CHECKBOX;
            def.u.bd.value = spec.defaultOn ? 1 : 0;
            def.u.bd.dephault = spec.defaultOn ? 1 : 0;
            def.u.bd.u.nameptr = spec.checkboxText;
            break;
        case ParamKind::Angle:
            def.param_type = PF_Param_ANGLE;
            def.u.ad.value = spec.defaultDegrees * 65536;
            def.u.ad.dephault = spec.defaultDegrees * 65536;
            break;
        case ParamKind::Color:
            def.param_type = PF_Param_COLOR;
            def.u.cd.value = PF_Pixel{255, spec.red, spec.green, spec.blue};
            def.u.cd.dephault = def.u.cd.value;
            break;
        case ParamKind::Layer:
            def.param_type = PF_Param_LAYER;
            def.u.ld.dephault = PF_LayerDefault_NONE;
            break;
    }
}

PF_Err setupParams(PF_InData* in_data, PF_OutData* out_data) {
    if (!in_data->inter.add_param) return PF_Err_BAD_CALLBACK_PARAM;
    for (const ParamSpec& spec : kParamTable) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof(def));
        fillParamDef(spec, def);
        if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

PF_Err applyPresetOnChange(PF_OutData* out_data, PF_ParamDef* params[],
                           const PF_UserChangedParamExtra* extra) {
    if (!extra || extra->param_index != PARAM_PRESET) return PF_Err_NONE;
    std::array<PresetValue, kPresetValueCount> rows;
    if (!presetValues(params[PARAM_PRESET]->u.pd.value, rows)) return PF_Err_NONE;
    for (const PresetValue& row : rows) {
        PF_ParamDef& def = *params[row.id];
        const double number = row.value.number;
        switch (paramSpec(row.id).kind) {
            case ParamKind::Popup:
                def.u.pd.value = static_cast<PF_ParamValue>(number);
                break;
            case ParamKind::Checkbox:
                def.u.bd.value = number != 0.0 ? 1 : 0;
                break;
            case ParamKind::FloatSlider:
                def.u.fs_d.value = number;
                break;
            case ParamKind::Angle:
                def.u.ad.value = static_cast<PF_Fixed>(number * 65536.0);
                break;
            case ParamKind::Color:
                def.u.cd.value =
                    PF_Pixel{255, row.value.color[0], row.value.color[1], row.value.color[2]};
                break;
            default:
                break;
        }
        def.uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
    }
    out_data->out_flags |= PF_OutFlag_FORCE_RERENDER;
    return PF_Err_NONE;
}

}  // namespace lumet
