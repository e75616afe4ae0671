// The effect's 44 declared parameters as data: type, label, ranges, defaults, flags and the
// RenderSettings field each one fills with its scaling, in declaration order (index = id; index 0
// is the host's input layer). Everything that needs a label, range, default or scaling reads it
// from here.
#pragma once
#include <array>
#include <cstdint>

#include "params/param_ids.h"
#include "params/render_settings.h"

namespace lumet {

enum class ParamKind { Popup, GroupStart, GroupEnd, FloatSlider, Checkbox, Angle, Color, Layer };

// The first stage of a frame a parameter's value feeds: a change recomputes that stage and every
// stage after it (geometry, reflection, shading, glow). The map is chosen by its own key; a value
// that only the output reads (or none) invalidates nothing kept.
enum class ParamStage : std::uint8_t { None, Geometry, Map, Reflection, Shading, Glow, Output };

struct ParamSpec {
    ParamId id;
    ParamKind kind;
    const char* label;  // at most 31 characters
    // Popup: choice names separated by '|', their count and the 1-based default.
    const char* choices = nullptr;
    std::int16_t choiceCount = 0;
    std::int16_t defaultChoice = 0;
    // Float slider: valid and slider ranges, default and decimal places shown.
    float validMin = 0, validMax = 0, sliderMin = 0, sliderMax = 0;
    float defaultValue = 0;
    std::int16_t precision = 0;
    // Checkbox: default state and the text beside the box.
    bool defaultOn = false;
    const char* checkboxText = nullptr;
    // Angle: default in whole degrees.
    std::int32_t defaultDegrees = 0;
    // Colour: default red, green, blue (alpha is 255).
    std::uint8_t red = 0, green = 0, blue = 0;
    bool supervised = false;  // the host reports changes 
    bool invisible = false;   // not shown 
    // The RenderSettings field the value goes to (none for the preset, the groups and the custom
    // map layer), the one member pointer that matches the kind: a popup keeps its 1-based choice,
    // a checkbox gives true or false, an angle its degrees, a colour three 0..255 floats, and a
    // slider value / divisor in double rounded to float (1 - value / divisor when complement).
    std::int32_t RenderSettings::*choiceField = nullptr;
    bool RenderSettings::*flagField = nullptr;
    float RenderSettings::*numberField = nullptr;
    float (RenderSettings::*colorField)[3] = nullptr;
    double divisor = 1;
    bool complement = false;
    ParamStage feeds = ParamStage::None;
};

inline constexpr int kDeclaredParamCount = PARAM_COUNT - 1;
extern const std::array<ParamSpec, kDeclaredParamCount> kParamTable;

// The row of a declared parameter (1..44).
const ParamSpec& paramSpec(int id);

// Whether two settings records hold the same values (exactly: NaN never equals) for every
// parameter that feeds `stage`.
bool sameValuesFor(ParamStage stage, const RenderSettings& a, const RenderSettings& b);

}  // namespace lumet
