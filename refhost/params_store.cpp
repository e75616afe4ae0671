// Parameter definitions and values with linear keyframes.
#include "refhost/params_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace refhost {

namespace {

using Union = PF_ParamDefUnion;

// How one parameter type keeps its value in the definition's union. A null operation means the
// type has none: popups and checkboxes hold the earlier keyframe's value instead of being
// interpolated, colours take no single number, layers and groups carry no value at all.
struct ValueType {
    const char* name;
    void (*reset)(Union& u);                    // the value becomes the default
    void (*take)(Union& u, const Union& from);  // the value of another union
    // A number means: popup choice, checkbox 0/1, slider value, angle in degrees.
    double (*toNumber)(const Union& u);
    void (*fromNumber)(Union& u, double number);
    void (*interpolate)(Union& u, const Union& a, const Union& b, double t);
};

// Reset and take for a type whose part of the union has `value` and `dephault`.
template <typename Def, Def Union::*part>
struct Slot {
    static void reset(Union& u) { (u.*part).value = (u.*part).dephault; }
    static void take(Union& u, const Union& from) { (u.*part).value = (from.*part).value; }
};

double lerp(double x, double y, double t) { return x + (y - x) * t; }

template <typename Def, Def Union::*part>
constexpr ValueType withValue(const char* name, double (*toNumber)(const Union&),
                              void (*fromNumber)(Union&, double),
                              void (*interpolate)(Union&, const Union&, const Union&, double)) {
    return ValueType{
        name, Slot<Def, part>::reset, Slot<Def, part>::take, toNumber, fromNumber, interpolate};
}

const ValueType kPopup = withValue<PF_PopupDef, &Union::pd>(
    "popup", [](const Union& u) -> double { return u.pd.value; },
    [](Union& u, double n) { u.pd.value = static_cast<PF_ParamValue>(std::lround(n)); }, nullptr);
const ValueType kCheckbox = withValue<PF_CheckBoxDef, &Union::bd>(
    "checkbox", [](const Union& u) -> double { return u.bd.value; },
    [](Union& u, double n) { u.bd.value = n != 0 ? 1 : 0; }, nullptr);
const ValueType kSlider = withValue<PF_FloatSliderDef, &Union::fs_d>(
    "float slider", [](const Union& u) { return u.fs_d.value; },
    [](Union& u, double n) { u.fs_d.value = n; },
    [](Union& u, const Union& a, const Union& b, double t) {
        u.fs_d.value = lerp(a.fs_d.value, b.fs_d.value, t);
    });
const ValueType kAngle = withValue<PF_AngleDef, &Union::ad>(
    "angle", [](const Union& u) { return u.ad.value / 65536.0; },
    [](Union& u, double n) { u.ad.value = static_cast<PF_Fixed>(std::llround(n * 65536.0)); },
    [](Union& u, const Union& a, const Union& b, double t) {
        u.ad.value = static_cast<PF_Fixed>(std::llround(lerp(a.ad.value, b.ad.value, t)));
    });
const ValueType kColor = withValue<PF_ColorDef, &Union::cd>(
    "color", nullptr, nullptr, [](Union& u, const Union& a, const Union& b, double t) {
        auto channel = [t](A_u_char x, A_u_char y) {
            return static_cast<A_u_char>(std::lround(lerp(x, y, t)));
        };
        const PF_Pixel& p = a.cd.value;
        const PF_Pixel& q = b.cd.value;
        u.cd.value = PF_Pixel{channel(p.alpha, q.alpha), channel(p.red, q.red),
                              channel(p.green, q.green), channel(p.blue, q.blue)};
    });

constexpr ValueType noValue(const char* name) {
    ValueType type{};
    type.name = name;
    return type;
}

const ValueType kLayer = noValue("layer");
const ValueType kGroupStart = noValue("group start");
const ValueType kGroupEnd = noValue("group end");
const ValueType kOther = noValue("other");

const ValueType& valueType(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return kLayer;
        case PF_Param_ANGLE:
            return kAngle;
        case PF_Param_CHECKBOX:
            return kCheckbox;
        case PF_Param_COLOR:
            return kColor;
        case PF_Param_POPUP:
            return kPopup;
        case PF_Param_FLOAT_SLIDER:
            return kSlider;
        case PF_Param_GROUP_START:
            return kGroupStart;
        case PF_Param_GROUP_END:
            return kGroupEnd;
        default:
            return kOther;
    }
}

// A new control starts at its default: the definition's `dephault`, whatever its `value` says.
Union initialValue(const PF_ParamDef& def) {
    Union u = def.u;
    if (const auto reset = valueType(def.param_type).reset) reset(u);
    return u;
}

}  // namespace

ParamsStore::ParamsStore() { clear(); }

void ParamsStore::clear() {
    entries_.clear();
    PF_ParamDef input;
    std::memset(&input, 0, sizeof(input));
    input.param_type = PF_Param_LAYER;
    input.uu.id = 0;
    add(input);
}

void ParamsStore::add(const PF_ParamDef& def) {
    Entry e;
    e.def = def;
    e.def.name[sizeof(e.def.name) - 1] = '\0';
    if (def.param_type == PF_Param_POPUP && def.u.pd.u.namesptr) e.choices = def.u.pd.u.namesptr;
    if (def.param_type == PF_Param_CHECKBOX && def.u.bd.u.nameptr) {
        e.checkboxText = def.u.bd.u.nameptr;
    }
    e.value = initialValue(e.def);
    entries_.push_back(std::move(e));
    for (Entry& each : entries_) pointStrings(each);  // the vector may have moved the strings
}

void ParamsStore::pointStrings(Entry& e) {
    if (e.def.param_type == PF_Param_POPUP) e.def.u.pd.u.namesptr = e.choices.c_str();
    if (e.def.param_type == PF_Param_CHECKBOX) e.def.u.bd.u.nameptr = e.checkboxText.c_str();
}

const ParamsStore::Entry& ParamsStore::entry(int index) const {
    if (index < 0 || index >= count())
        throw std::out_of_range("no parameter " + std::to_string(index));
    return entries_[static_cast<std::size_t>(index)];
}
ParamsStore::Entry& ParamsStore::entry(int index) {
    return const_cast<Entry&>(static_cast<const ParamsStore*>(this)->entry(index));
}

const PF_ParamDef& ParamsStore::definition(int index) const { return entry(index).def; }
const std::string& ParamsStore::choices(int index) const { return entry(index).choices; }
const std::string& ParamsStore::checkboxText(int index) const { return entry(index).checkboxText; }

PF_ParamDefUnion ParamsStore::numberToValue(const Entry& e, double value) const {
    const auto fromNumber = valueType(e.def.param_type).fromNumber;
    if (!fromNumber) throw std::invalid_argument("parameter takes no number");
    PF_ParamDefUnion u = e.value;
    fromNumber(u, value);
    return u;
}

void ParamsStore::setValue(int index, double value) {
    Entry& e = entry(index);
    e.value = numberToValue(e, value);
    e.keys.clear();
}

void ParamsStore::setColor(int index, PF_Pixel color) {
    Entry& e = entry(index);
    if (e.def.param_type != PF_Param_COLOR) throw std::invalid_argument("not a colour parameter");
    e.value.cd.value = color;
    e.keys.clear();
}

void ParamsStore::insertKey(Entry& e, double seconds, const PF_ParamDefUnion& value) {
    auto it = std::find_if(e.keys.begin(), e.keys.end(),
                           [&](const Key& k) { return k.seconds >= seconds; });
    if (it != e.keys.end() && it->seconds == seconds) {
        it->value = value;
    } else {
        e.keys.insert(it, Key{seconds, value});
    }
}

void ParamsStore::setKeyframe(int index, double seconds, double value) {
    Entry& e = entry(index);
    insertKey(e, seconds, numberToValue(e, value));
}

void ParamsStore::setColorKeyframe(int index, double seconds, PF_Pixel color) {
    Entry& e = entry(index);
    if (e.def.param_type != PF_Param_COLOR) throw std::invalid_argument("not a colour parameter");
    PF_ParamDefUnion u = e.value;
    u.cd.value = color;
    insertKey(e, seconds, u);
}

void ParamsStore::resetToDefaults() {
    for (Entry& e : entries_) {
        e.value = initialValue(e.def);
        e.keys.clear();
    }
}

PF_ParamDefUnion ParamsStore::interpolate(const Entry& e, double seconds) const {
    if (e.keys.empty()) return e.value;
    if (seconds <= e.keys.front().seconds) return e.keys.front().value;
    if (seconds >= e.keys.back().seconds) return e.keys.back().value;
    std::size_t i = 1;
    while (e.keys[i].seconds < seconds) ++i;
    const Key& a = e.keys[i - 1];
    const Key& b = e.keys[i];
    if (b.seconds == seconds) return b.value;
    PF_ParamDefUnion u = a.value;  // popups and checkboxes hold
    if (const auto blend = valueType(e.def.param_type).interpolate)
        blend(u, a.value, b.value, (seconds - a.seconds) / (b.seconds - a.seconds));
    return u;
}

PF_ParamDef ParamsStore::valueAt(int index, double seconds) const {
    const Entry& e = entry(index);
    PF_ParamDef def = e.def;
    def.u = interpolate(e, seconds);
    // Strings stay the host's own.
    if (def.param_type == PF_Param_POPUP) def.u.pd.u.namesptr = e.choices.c_str();
    if (def.param_type == PF_Param_CHECKBOX) def.u.bd.u.nameptr = e.checkboxText.c_str();
    return def;
}

double ParamsStore::numberAt(int index, double seconds) const {
    const auto toNumber = valueType(entry(index).def.param_type).toNumber;
    if (!toNumber) throw std::invalid_argument("parameter has no number");
    return toNumber(valueAt(index, seconds).u);
}

PF_Pixel ParamsStore::colorAt(int index, double seconds) const {
    const PF_ParamDef def = valueAt(index, seconds);
    if (def.param_type != PF_Param_COLOR) throw std::invalid_argument("not a colour parameter");
    return def.u.cd.value;
}

void ParamsStore::takeValue(int index, const PF_ParamDef& changed, double seconds) {
    Entry& e = entry(index);
    const auto take = valueType(e.def.param_type).take;
    if (!take) return;  // layers and groups carry no value to take
    PF_ParamDefUnion u = interpolate(e, seconds);
    take(u, changed.u);
    if (e.keys.empty()) {
        e.value = u;
    } else {
        insertKey(e, seconds, u);
    }
}

const char* paramTypeName(PF_ParamType type) { return valueType(type).name; }

}  // namespace refhost
