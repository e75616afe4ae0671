// Filling RenderSettings from parameter values: each field takes its parameter's value, held to
// the parameter's valid range, with the field and the scaling its row of the parameter table
// names.
#pragma once
#include <array>

#include "AE_Effect.h"
#include "params/param_ids.h"
#include "params/render_settings.h"

namespace lumet {

// The order in which smart pre-render checks the parameters out.
inline constexpr std::array<ParamId, 30> kPreRenderCheckoutOrder = {
    PARAM_BEVEL_STYLE,   PARAM_EDGE_PROFILE,    PARAM_BEVEL_DEPTH, PARAM_BEVEL_SOFTNESS,
    PARAM_SMART_EDGE,    PARAM_EDGE_STRENGTH,   PARAM_HDRI_MAP,    PARAM_BLUR,
    PARAM_SCALE,         PARAM_EXPOSURE,        PARAM_CONTRAST,    PARAM_DISPLACEMENT,
    PARAM_ROTATION_X,    PARAM_ROTATION_Y,      PARAM_LIGHT_ANGLE, PARAM_LIGHT_HEIGHT,
    PARAM_SPECULAR,      PARAM_ROUGHNESS,       PARAM_ANISOTROPY,  PARAM_SHADOW_COLOR,
    PARAM_MIDTONE_COLOR, PARAM_HIGHLIGHT_COLOR, PARAM_SATURATION,  PARAM_TINT_BLEND,
    PARAM_METAL,         PARAM_TRANSPARENCY,    PARAM_DISPERSION,  PARAM_GLOW_INTENSITY,
    PARAM_GLOW_RADIUS,   PARAM_SHOW_ENV_MAP};

// A float slider's value as the stages take it: a host, an expression or an old project can hand
// over any double, so the value is held to the parameter's valid range and NaN becomes the
// default. Every conversion a stage derives from it (radii, reaches, table indices) then fits.
double validSliderValue(int index, double value);

// A popup's choice as the stages take it: outside 1..count, the default choice.
A_long validChoice(int index, A_long choice);

// Stores the value of parameter `index` into its RenderSettings field, held to its valid range
// (validSliderValue, validChoice) and scaled as its table row says. Parameters without a field
// (the preset, groups, the custom map layer) and indices outside 1..44 are ignored.
void storeRenderSetting(RenderSettings& settings, int index, const PF_ParamDef& def);

// The plain render path's fill: fields bevelStyle .. tintBlend from the parameter array, except
// that bevelStyle is always Inner Bevel. expansion, showEnvMap and the rectangles are untouched.
void fillRenderSettingsFromParams(PF_ParamDef* const params[], RenderSettings& settings);

}  // namespace lumet
