// Scaling of parameter values into RenderSettings fields.
#include "params/render_settings_params.h"

namespace lumet {
namespace {

float percent(const PF_ParamDef& def) { return static_cast<float>(def.u.fs_d.value / 100.0); }
float perMille(const PF_ParamDef& def) { return static_cast<float>(def.u.fs_d.value / 1000.0); }
float unscaled(const PF_ParamDef& def) { return static_cast<float>(def.u.fs_d.value); }

void storeColor(float (&out)[3], const PF_ParamDef& def) {
    out[0] = static_cast<float>(def.u.cd.value.red);
    out[1] = static_cast<float>(def.u.cd.value.green);
    out[2] = static_cast<float>(def.u.cd.value.blue);
}

}  // namespace

void storeRenderSetting(RenderSettings& s, int index, const PF_ParamDef& def) {
    switch (index) {
        case PARAM_BEVEL_STYLE:
            s.bevelStyle = def.u.pd.value;
            break;
        case PARAM_EDGE_PROFILE:
            s.edgeProfile = def.u.pd.value;
            break;
        case PARAM_BEVEL_DEPTH:
            s.bevelDepth = percent(def);
            break;
        case PARAM_BEVEL_SOFTNESS:
            s.bevelSoftness = percent(def);
            break;
        case PARAM_SMART_EDGE:
            s.smartEdge = def.u.bd.value != 0;
            break;
        case PARAM_EDGE_STRENGTH:
            s.edgeStrength = percent(def);
            break;
        case PARAM_HDRI_MAP:
            s.hdriMap = def.u.pd.value;
            break;
        case PARAM_BLUR:
            s.envBlur = percent(def);
            break;
        case PARAM_SCALE:
            s.envScale = percent(def);
            break;
        case PARAM_EXPOSURE:
            s.envExposure = percent(def);
            break;
        case PARAM_CONTRAST:
            s.envContrast = percent(def);
            break;
        case PARAM_DISPLACEMENT:
            s.envDisplacement = percent(def);
            break;
        case PARAM_ROTATION_X:
            s.envRotX = perMille(def);
            break;
        case PARAM_ROTATION_Y:
            s.envRotY = perMille(def);
            break;
        case PARAM_METAL:
            s.metal = percent(def);
            break;
        case PARAM_TRANSPARENCY:
            s.opacity = static_cast<float>(1.0 - def.u.fs_d.value / 100.0);
            break;
        case PARAM_DISPERSION:
            s.dispersion = percent(def);
            break;
        case PARAM_LIGHT_ANGLE:
            // 16.16 fixed-point degrees, read as a signed integer.
            s.lightAngle =
                static_cast<float>(static_cast<A_long>(def.u.ad.value)) * (1.0f / 65536.0f);
            break;
        case PARAM_LIGHT_HEIGHT:
            s.lightHeight = unscaled(def);
            break;
        case PARAM_SPECULAR:
            s.specular = percent(def);
            break;
        case PARAM_ROUGHNESS:
            s.roughness = percent(def);
            break;
        case PARAM_ANISOTROPY:
            s.anisotropy = percent(def);
            break;
        case PARAM_GLOW_INTENSITY:
            s.glowIntensity = unscaled(def);
            break;
        case PARAM_GLOW_RADIUS:
            s.glowRadius = unscaled(def);
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
            s.saturation = percent(def);
            break;
        case PARAM_TINT_BLEND:
            s.tintBlend = percent(def);
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
