// Parameter values into RenderSettings fields, and the presets as rows of values.
#include "params/param_values.h"

#include <algorithm>
#include <cmath>

#include "params/output_margin.h"
#include "params/param_table.h"
#include "params/presets.h"

namespace lumet {

ParamValues::ParamValues() {
    for (const ParamSpec& spec : kParamTable) {
        ParamValue& value = byId[static_cast<std::size_t>(spec.id)];
        switch (spec.kind) {
            case ParamKind::Popup:
                value.number = spec.defaultChoice;
                break;
            case ParamKind::Checkbox:
                value.number = spec.defaultOn ? 1.0 : 0.0;
                break;
            case ParamKind::FloatSlider:
                value.number = static_cast<double>(spec.defaultValue);
                break;
            case ParamKind::Angle:
                value.number = spec.defaultDegrees;
                break;
            case ParamKind::Color:
                value.color[0] = spec.red, value.color[1] = spec.green, value.color[2] = spec.blue;
                break;
            default:
                break;
        }
    }
}

double validSliderValue(int id, double value) {
    const ParamSpec& spec = paramSpec(id);
    if (std::isnan(value)) return spec.defaultValue;
    return std::clamp(value, static_cast<double>(spec.validMin),
                      static_cast<double>(spec.validMax));
}

std::int32_t validChoice(int id, double choice) {
    const ParamSpec& spec = paramSpec(id);
    return choice >= 1 && choice <= spec.choiceCount ? static_cast<std::int32_t>(choice)
                                                     : spec.defaultChoice;
}

void storeRenderSetting(RenderSettings& s, int id, const ParamValue& value) {
    if (id < 1 || id >= PARAM_COUNT) return;
    const ParamSpec& spec = paramSpec(id);
    switch (spec.kind) {
        case ParamKind::Popup:
            if (spec.choiceField) s.*spec.choiceField = validChoice(id, value.number);
            break;
        case ParamKind::Checkbox:
            if (spec.flagField) s.*spec.flagField = value.number != 0.0;
            break;
        case ParamKind::FloatSlider:
            if (spec.numberField) {
                const double scaled = validSliderValue(id, value.number) / spec.divisor;
                s.*spec.numberField = static_cast<float>(spec.complement ? 1.0 - scaled : scaled);
            }
            break;
        case ParamKind::Angle:
            if (spec.numberField) s.*spec.numberField = static_cast<float>(value.number);
            break;
        case ParamKind::Color:
            if (spec.colorField) {
                for (int c = 0; c < 3; ++c) (s.*spec.colorField)[c] = value.color[c];
            }
            break;
        case ParamKind::GroupStart:
        case ParamKind::GroupEnd:
        case ParamKind::Layer:
            break;
    }
}

void settingsFromValues(const ParamValues& values, RenderSettings& settings) {
    for (ParamId id : kSettingsReadOrder)
        storeRenderSetting(settings, id, values.byId[static_cast<std::size_t>(id)]);
    settings.expansion = outputMargin(settings.bevelStyle, settings.bevelDepth,
                                      settings.glowIntensity, settings.glowRadius);
}

bool presetValues(int choice, std::array<PresetValue, kPresetValueCount>& rows) {
    if (choice < 1 || choice > kPresetCount) return false;
    const PresetRecord& r = kPresetTable[static_cast<std::size_t>(choice - 1)];
    auto number = [](ParamId id, double v) { return PresetValue{id, ParamValue{v, {0, 0, 0}}}; };
    auto colour = [](ParamId id, const std::int32_t (&c)[3]) {
        return PresetValue{id, ParamValue{0.0,
                                          {static_cast<std::uint8_t>(c[0] & 0xFF),
                                           static_cast<std::uint8_t>(c[1] & 0xFF),
                                           static_cast<std::uint8_t>(c[2] & 0xFF)}}};
    };
    // In the record's field order; of Smart Edge only the lowest byte is read.
    rows = {number(PARAM_BEVEL_STYLE, r.bevelStyle),
            number(PARAM_EDGE_PROFILE, r.edgeProfile),
            number(PARAM_BEVEL_DEPTH, r.bevelDepth),
            number(PARAM_BEVEL_SOFTNESS, r.bevelSoftness),
            number(PARAM_SMART_EDGE, (r.smartEdge & 0xFF) != 0 ? 1.0 : 0.0),
            number(PARAM_EDGE_STRENGTH, r.edgeStrength),
            number(PARAM_HDRI_MAP, r.hdriMap),
            number(PARAM_BLUR, r.blur),
            number(PARAM_SCALE, r.scale),
            number(PARAM_EXPOSURE, r.exposure),
            number(PARAM_CONTRAST, r.contrast),
            number(PARAM_DISPLACEMENT, r.displacement),
            number(PARAM_ROTATION_X, r.rotationX),
            number(PARAM_ROTATION_Y, r.rotationY),
            number(PARAM_METAL, r.metal),
            number(PARAM_TRANSPARENCY, r.transparency),
            number(PARAM_DISPERSION, r.dispersion),
            number(PARAM_LIGHT_ANGLE, r.lightAngleDegrees),
            number(PARAM_LIGHT_HEIGHT, r.lightHeight),
            number(PARAM_SPECULAR, r.specular),
            number(PARAM_ROUGHNESS, r.roughness),
            number(PARAM_ANISOTROPY, r.anisotropy),
            colour(PARAM_SHADOW_COLOR, r.shadowColor),
            colour(PARAM_MIDTONE_COLOR, r.midtoneColor),
            colour(PARAM_HIGHLIGHT_COLOR, r.highlightColor),
            number(PARAM_SATURATION, r.saturation),
            number(PARAM_TINT_BLEND, r.tintBlend),
            number(PARAM_GLOW_INTENSITY, r.glowIntensity),
            number(PARAM_GLOW_RADIUS, r.glowRadius)};
    return true;
}

}  // namespace lumet
