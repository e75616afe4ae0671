// Formatting of parameter values and ranges.
#include "value_format.h"

#include <cstdio>

namespace lumet::cli {
namespace {

std::string number(double value, int precision) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*f", precision, value);
    return buffer;
}

// Shortest text that reads back as the same float (slider ranges are 32-bit floats).
std::string shortFloat(float value) {
    char buffer[64];
    if (value == float(long(value)) && value > -1e7f && value < 1e7f) {
        std::snprintf(buffer, sizeof(buffer), "%ld", long(value));
        return buffer;
    }
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buffer, sizeof(buffer), "%.*g", digits, double(value));
        float back = 0;
        if (std::sscanf(buffer, "%f", &back) == 1 && back == value) break;
    }
    return buffer;
}

}  // namespace

std::string choiceName(const std::string& choices, int choice) {
    std::size_t start = 0;
    for (int i = 1; start <= choices.size(); ++i) {
        std::size_t end = choices.find('|', start);
        if (end == std::string::npos) end = choices.size();
        if (i == choice) return choices.substr(start, end - start);
        start = end + 1;
    }
    return "";
}

namespace {

struct ParamText {
    std::string value, range;
};

// The text forms of one parameter by its type: the value `def` carries and the declared range.
ParamText describe(const refhost::ParamsStore& store, int index, const PF_ParamDef& def) {
    switch (def.param_type) {
        case PF_Param_POPUP: {
            std::string text = std::to_string(def.u.pd.value);
            const std::string name = choiceName(store.choices(index), def.u.pd.value);
            if (!name.empty()) text.append(" (").append(name).append(")");
            return {text, store.choices(index)};
        }
        case PF_Param_CHECKBOX:
            return {def.u.bd.value ? "on" : "off",
                    "off|on, text \"" + store.checkboxText(index) + "\""};
        case PF_Param_FLOAT_SLIDER: {
            const PF_FloatSliderDef& s = def.u.fs_d;
            std::string range = shortFloat(s.valid_min) + " to " + shortFloat(s.valid_max);
            if (s.slider_min != s.valid_min || s.slider_max != s.valid_max) {
                range += " (slider " + shortFloat(s.slider_min) + " to " +
                         shortFloat(s.slider_max) + ")";
            }
            return {number(s.value, s.precision),
                    range + ", precision " + std::to_string(s.precision)};
        }
        case PF_Param_ANGLE:
            return {shortFloat(float(def.u.ad.value / 65536.0)) + " deg", "degrees"};
        case PF_Param_COLOR: {
            const PF_Pixel& c = def.u.cd.value;
            char text[32];
            std::snprintf(text, sizeof(text), "(%d, %d, %d)", c.red, c.green, c.blue);
            return {text, "red, green, blue 0 to 255"};
        }
        case PF_Param_LAYER:
            return {"none", ""};
        default:
            return {};
    }
}

}  // namespace

std::string formatValue(const refhost::ParamsStore& store, int index, double seconds) {
    return describe(store, index, store.valueAt(index, seconds)).value;
}

std::string formatRange(const refhost::ParamsStore& store, int index) {
    return describe(store, index, store.definition(index)).range;
}

}  // namespace lumet::cli
