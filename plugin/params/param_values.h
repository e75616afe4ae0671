// ParamValues: every parameter's value as a user sees it, in no host's terms: a popup's 1-based
// choice, a checkbox's 0 or 1, a slider's value, an angle in degrees, a colour's 8-bit channels.
// Each front end reads its host's values into this record; one function turns it into the
// frame's RenderSettings, and presets are rows of (parameter, value) applied by one loop.
#pragma once
#include <array>
#include <cstdint>

#include "params/param_ids.h"
#include "params/render_settings.h"

namespace lumet {

struct ParamValue {
    double number = 0.0;             // choice, checkbox, slider or angle in degrees
    std::uint8_t color[3] = {0, 0, 0};  // red, green, blue
};

struct ParamValues {
    std::array<ParamValue, PARAM_COUNT> byId;  // index = parameter id; 0 is the input layer
    ParamValues();                             // every parameter at its default
};

// The order in which the parameters' values are read into a frame's settings (the smart
// pre-render checks them out in this order).
inline constexpr std::array<ParamId, 30> kSettingsReadOrder = {
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
double validSliderValue(int id, double value);
// A popup's choice as the stages take it: outside 1..count, the default choice.
std::int32_t validChoice(int id, double choice);

// Stores the value of parameter `id` into its RenderSettings field, held to its valid range and
// scaled as its table row says. Parameters without a field (the preset, groups, the custom map
// layer) and ids outside 1..44 are ignored.
void storeRenderSetting(RenderSettings& settings, int id, const ParamValue& value);

// The frame's settings from the values, with the output margin; the rectangles stay zero.
void settingsFromValues(const ParamValues& values, RenderSettings& settings);

// One preset's values: the parameters it writes, in the order it writes them.
struct PresetValue {
    ParamId id;
    ParamValue value;
};
inline constexpr int kPresetValueCount = 29;
// The rows of Preset choice `choice` (1..9); false for another choice.
bool presetValues(int choice, std::array<PresetValue, kPresetValueCount>& rows);

}  // namespace lumet
