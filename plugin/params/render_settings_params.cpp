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

namespace {

// The slider's value within its valid range, read from the definition of parameter `index`.
double slider(int index, const PF_ParamDef& def) {
    return validSliderValue(index, def.u.fs_d.value);
}
float percent(int index, const PF_ParamDef& def) {
    return static_cast<float>(slider(index, def) / 100.0);
}
float perMille(int index, const PF_ParamDef& def) {
    return static_cast<float>(slider(index, def) / 1000.0);
}
float unscaled(int index, const PF_ParamDef& def) { return static_cast<float>(slider(index, def)); }

void storeColor(float (&out)[3], const PF_ParamDef& def) {
    out[0] = static_cast<float>(def.u.cd.value.red);
    out[1] = static_cast<float>(def.u.cd.value.green);
    out[2] = static_cast<float>(def.u.cd.value.blue);
}

}  // namespace

void storeRenderSetting(RenderSettings& s, int index, const PF_ParamDef& def) {
    switch (index) {
        case PARAM_BEVEL_STYLE:
            s.bevelStyle = validChoice(index, def.u.pd.value);
            break;
        case PARAM_EDGE_PROFILE:
            s.edgeProfile = validChoice(index, def.u.pd.value);
            break;
        case PARAM_BEVEL_DEPTH:
            s.bevelDepth = percent(index, def);
            break;
        case PARAM_BEVEL_SOFTNESS:
            s.bevelSoftness = percent(index, def);
            break;
        case PARAM_SMART_EDGE:
            s.smartEdge = def.u.bd.value != 0;
            break;
        case PARAM_EDGE_STRENGTH:
            s.edgeStrength = percent(index, def);
            break;
        case PARAM_HDRI_MAP:
            s.hdriMap = validChoice(index, def.u.pd.value);
            break;
        case PARAM_BLUR:
            s.envBlur = percent(index, def);
            break;
        case PARAM_SCALE:
            s.envScale = percent(index, def);
            break;
        case PARAM_EXPOSURE:
            s.envExposure = percent(index, def);
            break;
        case PARAM_CONTRAST:
            s.envContrast = percent(index, def);
            break;
        case PARAM_DISPLACEMENT:
            s.envDisplacement = percent(index, def);
            break;
        case PARAM_ROTATION_X:
            s.envRotX = perMille(index, def);
            break;
        case PARAM_ROTATION_Y:
            s.envRotY = perMille(index, def);
            break;
        case PARAM_METAL:
            s.metal = percent(index, def);
            break;
        case PARAM_TRANSPARENCY:
            s.opacity = static_cast<float>(1.0 - slider(index, def) / 100.0);
            break;
        case PARAM_DISPERSION:
            s.dispersion = percent(index, def);
            break;
        case PARAM_LIGHT_ANGLE:
            // 16.16 fixed-point degrees, read as a signed integer.
            s.lightAngle =
                static_cast<float>(static_cast<A_long>(def.u.ad.value)) * (1.0f / 65536.0f);
            break;
        case PARAM_LIGHT_HEIGHT:
            s.lightHeight = unscaled(index, def);
            break;
        case PARAM_SPECULAR:
            s.specular = percent(index, def);
            break;
        case PARAM_ROUGHNESS:
            s.roughness = percent(index, def);
            break;
        case PARAM_ANISOTROPY:
            s.anisotropy = percent(index, def);
            break;
        case PARAM_GLOW_INTENSITY:
            s.glowIntensity = unscaled(index, def);
            break;
        case PARAM_GLOW_RADIUS:
            s.glowRadius = unscaled(index, def);
            break;
        case PARAM_SHADOW_COLOR:
            storeColor(s.shadowColor, def);
            break;
        case PARAM_MIDTONE_COLOR:
            storeColor(s.midColor, def);
            break;
        case PARAM_HIGHLIGHT_COLOR:
            storeColor(s.highColor, def);
            break;
        case PARAM_SATURATION:
            s.saturation = percent(index, def);
            break;
        case PARAM_TINT_BLEND:
            s.tintBlend = percent(index, def);
            break;
        case PARAM_SHOW_ENV_MAP:
            s.showEnvMap = def.u.bd.value != 0;
            break;
        default:
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
