// Scaling of parameter values into RenderSettings fields.
#include "params/render_settings_params.h"

#include <algorithm>
#include <cmath>

#include "params/param_table.h"

namespace lumet {

double validSliderValue(int index, double value) {
    const ParamSpec& spec = paramSpec(index);
    if (std::isnan(value)) return spec.defaultValue;
    return std::clamp(value, static_cast<double>(spec.validMin),
                      static_cast<double>(spec.validMax));
}

A_long validChoice(int index, A_long choice) {
    const ParamSpec& spec = paramSpec(index);
    return choice >= 1 && choice <= spec.choiceCount ? choice : spec.defaultChoice;
}

void storeRenderSetting(RenderSettings& s, int index, const PF_ParamDef& def) {
    if (index < 1 || index >= PARAM_COUNT) return;
    const ParamSpec& spec = paramSpec(index);
    switch (spec.kind) {
        case ParamKind::Popup:
            if (spec.choiceField) s.*spec.choiceField = validChoice(index, def.u.pd.value);
            break;
        case ParamKind::Checkbox:
            if (spec.flagField) s.*spec.flagField = def.u.bd.value != 0;
            break;
        case ParamKind::FloatSlider:
            if (spec.numberField) {
                const double scaled = validSliderValue(index, def.u.fs_d.value) / spec.divisor;
                s.*spec.numberField = static_cast<float>(spec.complement ? 1.0 - scaled : scaled);
            }
            break;
        case ParamKind::Angle:
            // 16.16 fixed-point degrees, read as a signed integer.
            if (spec.numberField) {
                s.*spec.numberField =
                    static_cast<float>(static_cast<A_long>(def.u.ad.value)) * (1.0f / 65536.0f);
            }
            break;
        case ParamKind::Color:
            if (spec.colorField) {
                float(&out)[3] = s.*spec.colorField;
                out[0] = static_cast<float>(def.u.cd.value.red);
                out[1] = static_cast<float>(def.u.cd.value.green);
                out[2] = static_cast<float>(def.u.cd.value.blue);
            }
            break;
        case ParamKind::GroupStart:
        case ParamKind::GroupEnd:
        case ParamKind::Layer:
            break;
    }
}

void fillRenderSettingsFromParams(PF_ParamDef* const params[], RenderSettings& settings) {
    for (ParamId index : kPreRenderCheckoutOrder) {
        if (index == PARAM_BEVEL_STYLE || index == PARAM_SHOW_ENV_MAP) continue;
        storeRenderSetting(settings, index, *params[index]);
    }
    settings.bevelStyle = kInnerBevel;
}

}  // namespace lumet
