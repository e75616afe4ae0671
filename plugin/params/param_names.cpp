// Parameter and choice names for hosts that name values in text.
#include "params/param_names.h"

#include <charconv>

namespace lumet {

bool userParameter(const ParamSpec& spec) {
    switch (spec.kind) {
        case ParamKind::Popup:
        case ParamKind::FloatSlider:
        case ParamKind::Checkbox:
        case ParamKind::Angle:
        case ParamKind::Color:
            return !spec.invisible;
        default:
            return false;
    }
}

std::vector<const ParamSpec*> userParameters() {
    std::vector<const ParamSpec*> rows;
    for (const ParamSpec& spec : kParamTable) {
        if (userParameter(spec)) rows.push_back(&spec);
    }
    return rows;
}

std::vector<std::string_view> choiceNames(const ParamSpec& spec) {
    std::vector<std::string_view> names;
    if (spec.kind != ParamKind::Popup || !spec.choices) return names;
    std::string_view rest = spec.choices;
    while (true) {
        const std::size_t bar = rest.find('|');
        names.push_back(rest.substr(0, bar));
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    return names;
}

std::string dashedName(std::string_view text) {
    std::string name;
    bool gap = false;
    for (const char c : text) {
        if (c == ' ' || c == '-' || c == '_') {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '-';
        gap = false;
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name;
}

int choiceFromName(const ParamSpec& spec, std::string_view name) {
    const std::vector<std::string_view> names = choiceNames(spec);
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error == std::errc{} && end == name.data() + name.size()) {
        return number >= 1 && number <= static_cast<int>(names.size()) ? number : 0;
    }
    const std::string wanted = dashedName(name);
    if (wanted.empty()) return 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (dashedName(names[i]) == wanted) return static_cast<int>(i) + 1;
    }
    return 0;
}

}  // namespace lumet
