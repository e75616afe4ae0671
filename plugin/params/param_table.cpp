// The parameter table.
#include "params/param_table.h"


namespace lumet {
namespace {

constexpr ParamSpec popup(ParamId id, const char* label, const char* choices, std::int16_t count,
                          std::int16_t dephault) {
    ParamSpec s{id, ParamKind::Popup, label};
    s.choices = choices;
    s.choiceCount = count;
    s.defaultChoice = dephault;
    return s;
}

constexpr ParamSpec slider(ParamId id, const char* label, float min, float max, float dephault,
                           std::int16_t precision) {
    ParamSpec s{id, ParamKind::FloatSlider, label};
    s.validMin = s.sliderMin = min;
    s.validMax = s.sliderMax = max;
    s.defaultValue = dephault;
    s.precision = precision;
    return s;
}

constexpr ParamSpec wideSlider(ParamId id, const char* label, float validMin, float validMax,
                               float sliderMin, float sliderMax, float dephault,
                               std::int16_t precision) {
    ParamSpec s = slider(id, label, validMin, validMax, dephault, precision);
    s.sliderMin = sliderMin;
    s.sliderMax = sliderMax;
    return s;
}

constexpr ParamSpec checkbox(ParamId id, const char* label, bool on, const char* text) {
    ParamSpec s{id, ParamKind::Checkbox, label};
    s.defaultOn = on;
    s.checkboxText = text;
    return s;
}

constexpr ParamSpec color(ParamId id, const char* label, std::uint8_t r, std::uint8_t g,
                          std::uint8_t b) {
    ParamSpec s{id, ParamKind::Color, label};
    s.red = r;
    s.green = g;
    s.blue = b;
    return s;
}

constexpr ParamSpec angle(ParamId id, const char* label, std::int32_t degrees) {
    ParamSpec s{id, ParamKind::Angle, label};
    s.defaultDegrees = degrees;
    return s;
}

constexpr ParamSpec groupStart(ParamId id, const char* label) {
    return ParamSpec{id, ParamKind::GroupStart, label};
}
constexpr ParamSpec groupEnd(ParamId id) { return ParamSpec{id, ParamKind::GroupEnd, ""}; }

constexpr ParamSpec supervised(ParamSpec s) {
    s.supervised = true;
    return s;
}
constexpr ParamSpec invisible(ParamSpec s) {
    s.invisible = true;
    return s;
}

// The RenderSettings field a parameter fills.
constexpr ParamSpec into(ParamSpec s, std::int32_t RenderSettings::*field) {
    s.choiceField = field;
    return s;
}
constexpr ParamSpec into(ParamSpec s, bool RenderSettings::*field) {
    s.flagField = field;
    return s;
}
constexpr ParamSpec into(ParamSpec s, float (RenderSettings::*field)[3]) {
    s.colorField = field;
    return s;
}
constexpr ParamSpec into(ParamSpec s, float RenderSettings::*field, double divisor = 1) {
    s.numberField = field;
    s.divisor = divisor;
    return s;
}
// 1 - value / divisor.
constexpr ParamSpec intoComplement(ParamSpec s, float RenderSettings::*field, double divisor) {
    s = into(s, field, divisor);
    s.complement = true;
    return s;
}

// The stage the parameter feeds first.
constexpr ParamSpec feeds(ParamStage stage, ParamSpec s) {
    s.feeds = stage;
    return s;
}

using RS = RenderSettings;
constexpr ParamStage kGeometry = ParamStage::Geometry, kMap = ParamStage::Map;
constexpr ParamStage kReflection = ParamStage::Reflection, kShading = ParamStage::Shading;
constexpr ParamStage kGlow = ParamStage::Glow, kOutput = ParamStage::Output;

}  // namespace

constexpr std::array<ParamSpec, kDeclaredParamCount> kParamTable = {{
    supervised(popup(PARAM_PRESET, "Preset",
                     "Gold|Silver|Rose Gold|Bronze|Copper|Platinum|Brushed Steel|Black "
                     "Chrome|Diamond",
                     9, 1)),
    groupStart(PARAM_BEVEL_GROUP, "Bevel"),
    feeds(kGeometry,
          into(invisible(popup(PARAM_BEVEL_STYLE, "Bevel Style",
                               "Inner Bevel|Outer Bevel|Full Bevel|Emboss|Pillow", 5, 1)),
               &RS::bevelStyle)),
    feeds(kGeometry, into(popup(PARAM_EDGE_PROFILE, "Edge Profile",
                                "Smooth|Round|Chisel Hard|Chisel Soft|Mesa", 5, 1),
                          &RS::edgeProfile)),
    feeds(kGeometry,
          into(slider(PARAM_BEVEL_DEPTH, "Bevel Depth", 0, 300, 150, 2), &RS::bevelDepth, 100)),
    feeds(kGeometry, into(slider(PARAM_BEVEL_SOFTNESS, "Bevel Softness", 0, 100, 20, 2),
                          &RS::bevelSoftness, 100)),
    feeds(kGeometry, into(checkbox(PARAM_SMART_EDGE, "Smart Edge", true, ""), &RS::smartEdge)),
    feeds(kGeometry, into(slider(PARAM_EDGE_STRENGTH, "Edge Strength", 0, 100, 100, 2),
                          &RS::edgeStrength, 100)),
    groupEnd(PARAM_BEVEL_GROUP_END),
    groupStart(PARAM_HDRI_GROUP, "HDRI"),
    feeds(kMap, into(popup(PARAM_HDRI_MAP, "HDRI Map",
                           "Gallery|Studio|Showroom|Beauty|Rim "
                           "Light|Strips|Panels|Dramatic|Diamond|Custom Map",
                           10, 1),
                     &RS::hdriMap)),
    ParamSpec{PARAM_CUSTOM_MAP, ParamKind::Layer, "Custom Map"},
    feeds(kReflection, into(slider(PARAM_BLUR, "Blur", 0, 100, 20, 0), &RS::envBlur, 100)),
    feeds(kReflection, into(slider(PARAM_SCALE, "Scale", 1, 200, 50, 2), &RS::envScale, 100)),
    feeds(kShading,
          into(slider(PARAM_EXPOSURE, "Exposure", 0, 200, 100, 2), &RS::envExposure, 100)),
    feeds(kShading, into(slider(PARAM_CONTRAST, "Contrast", 0, 100, 50, 2), &RS::envContrast, 100)),
    feeds(kReflection, into(slider(PARAM_DISPLACEMENT, "Displacement", 0, 100, 50, 2),
                            &RS::envDisplacement, 100)),
    groupStart(PARAM_ROTATION_GROUP, "Rotation"),
    feeds(kReflection,
          into(wideSlider(PARAM_ROTATION_X, "Rotation X", -10000, 10000, -100, 100, 0, 2),
               &RS::envRotX, 1000)),
    feeds(kReflection,
          into(wideSlider(PARAM_ROTATION_Y, "Rotation Y", -10000, 10000, -100, 100, 0, 2),
               &RS::envRotY, 1000)),
    groupEnd(PARAM_ROTATION_GROUP_END),
    feeds(kShading, into(slider(PARAM_METAL, "Metal", 0, 100, 100, 2), &RS::metal, 100)),
    feeds(kShading, intoComplement(slider(PARAM_TRANSPARENCY, "Transparency", 0, 100, 0, 2),
                                   &RS::opacity, 100)),
    feeds(kReflection,
          into(slider(PARAM_DISPERSION, "Dispersion", 0, 100, 0, 2), &RS::dispersion, 100)),
    groupEnd(PARAM_HDRI_GROUP_END),
    groupStart(PARAM_LIGHTING_GROUP, "Lighting"),
    feeds(kShading, into(angle(PARAM_LIGHT_ANGLE, "Light Angle", 135), &RS::lightAngle)),
    feeds(kShading,
          into(slider(PARAM_LIGHT_HEIGHT, "Light Height", 10, 80, 55, 2), &RS::lightHeight)),
    feeds(kShading, into(slider(PARAM_SPECULAR, "Specular", 0, 100, 100, 2), &RS::specular, 100)),
    feeds(kShading, into(slider(PARAM_ROUGHNESS, "Roughness", 0, 100, 20, 2), &RS::roughness, 100)),
    feeds(kReflection,
          into(slider(PARAM_ANISOTROPY, "Anisotropy", 0, 100, 0, 2), &RS::anisotropy, 100)),
    groupEnd(PARAM_LIGHTING_GROUP_END),
    groupStart(PARAM_GLOW_GROUP, "Glow"),
    feeds(kOutput,
          into(slider(PARAM_GLOW_INTENSITY, "Glow Intensity", 0, 10, 0.3f, 1), &RS::glowIntensity)),
    feeds(kGlow, into(slider(PARAM_GLOW_RADIUS, "Glow Radius", 0, 500, 65, 0), &RS::glowRadius)),
    groupEnd(PARAM_GLOW_GROUP_END),
    groupStart(PARAM_COLOR_GROUP, "Color"),
    feeds(kShading, into(color(PARAM_SHADOW_COLOR, "Shadow Color", 92, 60, 15), &RS::shadowColor)),
    feeds(kShading, into(color(PARAM_MIDTONE_COLOR, "Midtone Color", 212, 168, 64), &RS::midColor)),
    feeds(kShading,
          into(color(PARAM_HIGHLIGHT_COLOR, "Highlight Color", 255, 235, 180), &RS::highColor)),
    feeds(kShading,
          into(slider(PARAM_SATURATION, "Saturation", 0, 100, 100, 2), &RS::saturation, 100)),
    feeds(kShading,
          into(slider(PARAM_TINT_BLEND, "Tint Blend", 0, 100, 100, 2), &RS::tintBlend, 100)),
    groupEnd(PARAM_COLOR_GROUP_END),
    feeds(kOutput, into(invisible(checkbox(PARAM_SHOW_ENV_MAP, "Show Env Map", false,
                                           "Visualize environment map")),
                        &RS::showEnvMap)),
}};

namespace {
// Row i of the table declares parameter i + 1.
constexpr bool tableInIdOrder() {
    for (int i = 0; i < kDeclaredParamCount; ++i) {
        if (kParamTable[i].id != i + 1) return false;
    }
    return true;
}
}  // namespace

bool sameValuesFor(ParamStage stage, const RenderSettings& a, const RenderSettings& b) {
    for (const ParamSpec& spec : kParamTable) {
        if (spec.feeds != stage) continue;
        if (spec.choiceField && a.*spec.choiceField != b.*spec.choiceField) return false;
        if (spec.flagField && a.*spec.flagField != b.*spec.flagField) return false;
        if (spec.numberField && !(a.*spec.numberField == b.*spec.numberField)) return false;
        if (spec.colorField) {
            for (int c = 0; c < 3; ++c)
                if (!((a.*spec.colorField)[c] == (b.*spec.colorField)[c])) return false;
        }
    }
    return true;
}

static_assert(tableInIdOrder(), "the parameter table must list ids 1..44 in order");

const ParamSpec& paramSpec(int id) { return kParamTable.at(static_cast<std::size_t>(id - 1)); }

}  // namespace lumet
