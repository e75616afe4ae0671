// The parameter table declared to an OpenFX host, and values read and written through the
// parameter suite.
#include "ofx/ofx_params.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "ofx/ofx_suites.h"
#include "params/param_table.h"
#include "params/param_values.h"

namespace lumet::ofx {

namespace {

bool declared(const ParamSpec& spec) {
    return spec.kind != ParamKind::GroupEnd && spec.kind != ParamKind::Layer;
}

const std::array<std::string, PARAM_COUNT>& paramNames() {
    static const std::array<std::string, PARAM_COUNT> names = [] {
        std::array<std::string, PARAM_COUNT> made;
        for (const ParamSpec& spec : kParamTable) {
            if (!declared(spec)) continue;
            for (const char* c = spec.label; *c; ++c) {
                if (std::isalnum(static_cast<unsigned char>(*c))) made[spec.id] += *c;
            }
        }
        return made;
    }();
    return names;
}

// The popup's choices one by one from the '|'-separated names.
void describeChoices(const Props& props, const char* choices) {
    int index = 0;
    for (const char* start = choices;; ++index) {
        const char* end = std::strchr(start, '|');
        const std::string name(start, end ? end : start + std::strlen(start));
        props.set(kOfxParamPropChoiceOption, name.c_str(), index);
        if (!end) break;
        start = end + 1;
    }
}

void describeValue(const ParamSpec& spec, const Props& props) {
    switch (spec.kind) {
        case ParamKind::Popup:
            describeChoices(props, spec.choices);
            props.set(kOfxParamPropDefault, spec.defaultChoice - 1);
            break;
        case ParamKind::FloatSlider:
            props.set(kOfxParamPropDoubleType, kOfxParamDoubleTypePlain);
            props.set(kOfxParamPropDefault, static_cast<double>(spec.defaultValue));
            props.set(kOfxParamPropMin, static_cast<double>(spec.validMin));
            props.set(kOfxParamPropMax, static_cast<double>(spec.validMax));
            props.set(kOfxParamPropDisplayMin, static_cast<double>(spec.sliderMin));
            props.set(kOfxParamPropDisplayMax, static_cast<double>(spec.sliderMax));
            props.set(kOfxParamPropDigits, static_cast<int>(spec.precision));
            break;
        case ParamKind::Checkbox:
            props.set(kOfxParamPropDefault, spec.defaultOn ? 1 : 0);
            if (spec.checkboxText && *spec.checkboxText) {
                props.set(kOfxParamPropHint, spec.checkboxText);
            }
            break;
        case ParamKind::Angle:
            props.set(kOfxParamPropDoubleType, kOfxParamDoubleTypeAngle);
            props.set(kOfxParamPropDefault, static_cast<double>(spec.defaultDegrees));
            break;
        case ParamKind::Color: {
            const std::uint8_t rgb[3] = {spec.red, spec.green, spec.blue};
            for (int c = 0; c < 3; ++c) props.set(kOfxParamPropDefault, rgb[c] / 255.0, c);
            break;
        }
        case ParamKind::GroupStart:
            props.set(kOfxParamPropGroupOpen, 1);
            break;
        case ParamKind::GroupEnd:
        case ParamKind::Layer:
            break;
    }
}

const char* ofxTypeOf(ParamKind kind) {
    switch (kind) {
        case ParamKind::Popup:
            return kOfxParamTypeChoice;
        case ParamKind::Checkbox:
            return kOfxParamTypeBoolean;
        case ParamKind::Color:
            return kOfxParamTypeRGB;
        case ParamKind::GroupStart:
            return kOfxParamTypeGroup;
        default:
            return kOfxParamTypeDouble;
    }
}

std::uint8_t toByte(double unit) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255.0));
}

void readValue(OfxParamHandle handle, OfxTime time, const ParamSpec& spec, ParamValue& value) {
    const OfxParameterSuiteV1& param = *suites().parameter;
    int number = 0;
    double rgb[3] = {};
    switch (spec.kind) {
        case ParamKind::Popup:
            check(param.paramGetValueAtTime(handle, time, &number));
            value.number = number + 1.0;
            break;
        case ParamKind::Checkbox:
            check(param.paramGetValueAtTime(handle, time, &number));
            value.number = number != 0 ? 1.0 : 0.0;
            break;
        case ParamKind::FloatSlider:
        case ParamKind::Angle:
            check(param.paramGetValueAtTime(handle, time, &value.number));
            break;
        case ParamKind::Color:
            check(param.paramGetValueAtTime(handle, time, &rgb[0], &rgb[1], &rgb[2]));
            for (int c = 0; c < 3; ++c) value.color[c] = toByte(rgb[c]);
            break;
        default:
            break;
    }
}

void writeValue(OfxParamHandle handle, const ParamSpec& spec, const ParamValue& value) {
    const OfxParameterSuiteV1& param = *suites().parameter;
    switch (spec.kind) {
        case ParamKind::Popup:
            check(param.paramSetValue(handle, static_cast<int>(value.number) - 1));
            break;
        case ParamKind::Checkbox:
            check(param.paramSetValue(handle, static_cast<int>(value.number != 0.0)));
            break;
        case ParamKind::FloatSlider:
        case ParamKind::Angle:
            check(param.paramSetValue(handle, value.number));
            break;
        case ParamKind::Color:
            check(param.paramSetValue(handle, value.color[0] / 255.0, value.color[1] / 255.0,
                                      value.color[2] / 255.0));
            break;
        default:
            break;
    }
}

}  // namespace

const char* paramName(int id) {
    if (id < 1 || id >= PARAM_COUNT) return nullptr;
    const std::string& name = paramNames()[static_cast<std::size_t>(id)];
    return name.empty() ? nullptr : name.c_str();
}

void describeParams(OfxParamSetHandle paramSet) {
    const OfxParameterSuiteV1& param = *suites().parameter;
    // The open groups, innermost last: a parameter's parent is the innermost.
    const char* groups[8] = {};
    int depth = 0;
    for (const ParamSpec& spec : kParamTable) {
        if (spec.kind == ParamKind::GroupEnd) {
            depth = std::max(depth - 1, 0);
            continue;
        }
        if (!declared(spec)) continue;
        OfxPropertySetHandle handle = nullptr;
        check(param.paramDefine(paramSet, ofxTypeOf(spec.kind), paramName(spec.id), &handle));
        const Props props(handle);
        props.set(kOfxPropLabel, spec.label);
        props.set(kOfxParamPropScriptName, paramName(spec.id));
        if (depth > 0) props.set(kOfxParamPropParent, groups[depth - 1]);
        if (spec.invisible) props.set(kOfxParamPropSecret, 1);
        describeValue(spec, props);
        if (spec.kind == ParamKind::GroupStart && depth < 8) groups[depth++] = paramName(spec.id);
    }
}

void fetchParamHandles(OfxParamSetHandle paramSet, ParamHandles& handles) {
    for (int id = 1; id < PARAM_COUNT; ++id) {
        const ParamSpec& spec = paramSpec(id);
        if (!declared(spec) || spec.kind == ParamKind::GroupStart) continue;
        check(suites().parameter->paramGetHandle(paramSet, paramName(id), &handles.byId[id],
                                                 nullptr));
    }
}

void readParamValues(const ParamHandles& handles, OfxTime time, ParamValues& values) {
    for (int id = 1; id < PARAM_COUNT; ++id) {
        if (handles.byId[id])
            readValue(handles.byId[id], time, paramSpec(id), values.byId[id]);
    }
}

void applyPresetChoice(const ParamHandles& handles, OfxParamSetHandle paramSet, OfxTime time) {
    ParamValues values;
    readParamValues(handles, time, values);
    std::array<PresetValue, kPresetValueCount> rows;
    if (!presetValues(static_cast<int>(values.byId[PARAM_PRESET].number), rows)) return;
    // One undoable edit, closed on every exit; a host without edit blocks is fine too.
    struct Edit {
        OfxParamSetHandle set;
        explicit Edit(OfxParamSetHandle paramSet) : set(paramSet) {
            if (suites().parameter->paramEditBegin)
                suites().parameter->paramEditBegin(set, "Preset");
        }
        ~Edit() {
            if (suites().parameter->paramEditEnd) suites().parameter->paramEditEnd(set);
        }
    } edit(paramSet);
    for (const PresetValue& row : rows) {
        if (handles.byId[row.id]) writeValue(handles.byId[row.id], paramSpec(row.id), row.value);
    }
}

}  // namespace lumet::ofx
