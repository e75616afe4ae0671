// frei0r parameters: the user's rows of the parameter table with explanations made from their
// ranges, defaults and choices, and the conversion of frei0r's values into ParamValues.
#include "frei0r/frei0r_params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "params/param_names.h"

namespace lumet::frei0r {
namespace {

// The custom map is a second layer, which a frei0r filter does not have.
bool offered(const ParamSpec& spec, int choice) {
    return !(spec.id == PARAM_HDRI_MAP && choice == kCustomMap);
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string explanation(const ParamSpec& spec) {
    switch (spec.kind) {
        case ParamKind::Popup: {
            const std::vector<std::string_view> choices = choiceNames(spec);
            std::vector<std::string_view> shown;
            for (int choice = 1; choice <= static_cast<int>(choices.size()); ++choice) {
                if (offered(spec, choice)) shown.push_back(choices[choice - 1]);
            }
            std::string names;
            for (std::size_t i = 0; i < shown.size(); ++i) {
                if (i > 0) names += i + 1 == shown.size() ? " or " : ", ";
                names += shown[i];
            }
            if (spec.id == PARAM_PRESET) {
                return "Material: " + names +
                       "; choosing one sets the parameters it lists (set others after it)";
            }
            return names + " (default " + std::string(choices[spec.defaultChoice - 1]) + ")";
        }
        case ParamKind::FloatSlider:
            return number(spec.validMin) + " to " + number(spec.validMax) + " (default " +
                   number(spec.defaultValue) + ")";
        case ParamKind::Angle:
            return "Degrees (default " + number(spec.defaultDegrees) + ")";
        case ParamKind::Checkbox:
            return spec.defaultOn ? "On or off (default on)" : "On or off (default off)";
        case ParamKind::Color:
            return "Default " + number(spec.red) + "/" + number(spec.green) + "/" +
                   number(spec.blue) + " of 255";
        default:
            return {};
    }
}

struct Parameter {
    const ParamSpec* spec;
    int type;
    std::string explanation;
};

const std::vector<Parameter>& parameters() {
    static const std::vector<Parameter> list = [] {
        std::vector<Parameter> made;
        for (const ParamSpec* spec : userParameters()) {
            const int type = spec->kind == ParamKind::Popup      ? F0R_PARAM_STRING
                             : spec->kind == ParamKind::Checkbox ? F0R_PARAM_BOOL
                             : spec->kind == ParamKind::Color    ? F0R_PARAM_COLOR
                                                                 : F0R_PARAM_DOUBLE;
            made.push_back({spec, type, explanation(*spec)});
        }
        return made;
    }();
    return list;
}

std::uint8_t colourByte(float value) {
    if (!(value > 0.0f)) return 0;
    return static_cast<std::uint8_t>(std::lround(std::min(value, 1.0f) * 255.0f));
}

void setChoice(InstanceValues& instance, const ParamSpec& spec, const char* text) {
    const std::string_view name = text ? text : "";
    const int choice = choiceFromName(spec, name);
    if (spec.id == PARAM_PRESET && name.empty()) {
        instance.preset = 0;
        return;
    }
    if (choice == 0 || !offered(spec, choice)) {
        std::fprintf(stderr, "lumet: \"%.*s\" is no choice of %s; kept as it was\n",
                     static_cast<int>(name.size()), name.data(), spec.label);
        return;
    }
    if (spec.id != PARAM_PRESET) {
        instance.values.byId[spec.id].number = choice;
        return;
    }
    // A preset is applied when it is chosen, not each time a host repeats the same name, so that
    // values set after it stay.
    if (choice == instance.preset) return;
    std::array<PresetValue, kPresetValueCount> rows;
    if (!presetValues(choice, rows)) return;
    for (const PresetValue& row : rows) instance.values.byId[row.id] = row.value;
    instance.preset = choice;
}

}  // namespace

int parameterCount() { return static_cast<int>(parameters().size()); }

void parameterInfo(int index, f0r_param_info_t& info) {
    if (index < 0 || index >= parameterCount()) return;
    const Parameter& parameter = parameters()[index];
    info.name = parameter.spec->label;
    info.type = parameter.type;
    info.explanation = parameter.explanation.c_str();
}

void setParameter(InstanceValues& instance, int index, const void* value) {
    if (index < 0 || index >= parameterCount() || !value) return;
    const Parameter& parameter = parameters()[index];
    ParamValue& stored = instance.values.byId[parameter.spec->id];
    switch (parameter.type) {
        case F0R_PARAM_STRING:
            setChoice(instance, *parameter.spec, *static_cast<const f0r_param_string*>(value));
            break;
        case F0R_PARAM_BOOL:
            stored.number = *static_cast<const f0r_param_bool*>(value) > 0.5 ? 1 : 0;
            break;
        case F0R_PARAM_COLOR: {
            const auto& colour = *static_cast<const f0r_param_color_t*>(value);
            stored.color[0] = colourByte(colour.r);
            stored.color[1] = colourByte(colour.g);
            stored.color[2] = colourByte(colour.b);
            break;
        }
        default:
            stored.number = *static_cast<const f0r_param_double*>(value);
            break;
    }
}

void getParameter(InstanceValues& instance, int index, void* value) {
    if (index < 0 || index >= parameterCount() || !value) return;
    const Parameter& parameter = parameters()[index];
    const ParamSpec& spec = *parameter.spec;
    const ParamValue& stored = instance.values.byId[spec.id];
    switch (parameter.type) {
        case F0R_PARAM_STRING: {
            const std::vector<std::string_view> names = choiceNames(spec);
            const int choice =
                spec.id == PARAM_PRESET ? instance.preset : static_cast<int>(stored.number);
            std::string& text = instance.text[spec.id];
            text = choice >= 1 && choice <= static_cast<int>(names.size())
                       ? std::string(names[choice - 1])
                       : std::string();
            *static_cast<f0r_param_string*>(value) = text.data();
            break;
        }
        case F0R_PARAM_COLOR: {
            auto& colour = *static_cast<f0r_param_color_t*>(value);
            colour.r = stored.color[0] / 255.0f;
            colour.g = stored.color[1] / 255.0f;
            colour.b = stored.color[2] / 255.0f;
            break;
        }
        default:
            *static_cast<double*>(value) = stored.number;
            break;
    }
}

}  // namespace lumet::frei0r
