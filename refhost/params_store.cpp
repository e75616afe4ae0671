// Parameter definitions and values with linear keyframes.
#include "refhost/params_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace refhost {

namespace {

// A new control starts at its default: the definition's `dephault`, whatever its `value` says.
PF_ParamDefUnion initialValue(const PF_ParamDef& def) {
    PF_ParamDefUnion u = def.u;
    switch (def.param_type) {
        case PF_Param_POPUP:
            u.pd.value = def.u.pd.dephault;
            break;
        case PF_Param_CHECKBOX:
            u.bd.value = def.u.bd.dephault;
            break;
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = def.u.fs_d.dephault;
            break;
        case PF_Param_ANGLE:
            u.ad.value = def.u.ad.dephault;
            break;
        case PF_Param_COLOR:
            u.cd.value = def.u.cd.dephault;
            break;
        default:
            break;
    }
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
    PF_ParamDefUnion u = e.value;
    switch (e.def.param_type) {
        case PF_Param_POPUP:
            u.pd.value = static_cast<PF_ParamValue>(std::lround(value));
            break;
        case PF_Param_CHECKBOX:
            u.bd.value = value != 0 ? 1 : 0;
            break;
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = value;
            break;
        case PF_Param_ANGLE:
            u.ad.value = static_cast<PF_Fixed>(std::llround(value * 65536.0));
            break;
        default:
            throw std::invalid_argument("parameter takes no number");
    }
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
    const double t = (seconds - a.seconds) / (b.seconds - a.seconds);
    auto lerp = [t](double x, double y) { return x + (y - x) * t; };
    PF_ParamDefUnion u = a.value;  // popups and checkboxes hold
    switch (e.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = lerp(a.value.fs_d.value, b.value.fs_d.value);
            break;
        case PF_Param_ANGLE:
            u.ad.value =
                static_cast<PF_Fixed>(std::llround(lerp(a.value.ad.value, b.value.ad.value)));
            break;
        case PF_Param_COLOR: {
            auto channel = [&](A_u_char x, A_u_char y) {
                return static_cast<A_u_char>(std::lround(lerp(x, y)));
            };
            const PF_Pixel& p = a.value.cd.value;
            const PF_Pixel& q = b.value.cd.value;
            u.cd.value = PF_Pixel{channel(p.alpha, q.alpha), channel(p.red, q.red),
                                  channel(p.green, q.green), channel(p.blue, q.blue)};
            break;
        }
        default:
            break;
    }
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
    const PF_ParamDef def = valueAt(index, seconds);
    switch (def.param_type) {
        case PF_Param_POPUP:
            return def.u.pd.value;
        case PF_Param_CHECKBOX:
            return def.u.bd.value;
        case PF_Param_FLOAT_SLIDER:
            return def.u.fs_d.value;
        case PF_Param_ANGLE:
            return def.u.ad.value / 65536.0;
        default:
            throw std::invalid_argument("parameter has no number");
    }
}

PF_Pixel ParamsStore::colorAt(int index, double seconds) const {
    const PF_ParamDef def = valueAt(index, seconds);
    if (def.param_type != PF_Param_COLOR) throw std::invalid_argument("not a colour parameter");
    return def.u.cd.value;
}

void ParamsStore::takeValue(int index, const PF_ParamDef& changed, double seconds) {
    Entry& e = entry(index);
    PF_ParamDefUnion u = interpolate(e, seconds);
    switch (e.def.param_type) {
        case PF_Param_POPUP:
            u.pd.value = changed.u.pd.value;
            break;
        case PF_Param_CHECKBOX:
            u.bd.value = changed.u.bd.value;
            break;
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = changed.u.fs_d.value;
            break;
        case PF_Param_ANGLE:
            u.ad.value = changed.u.ad.value;
            break;
        case PF_Param_COLOR:
            u.cd.value = changed.u.cd.value;
            break;
        default:
            return;  // layers and groups carry no value to take
    }
    if (e.keys.empty()) {
        e.value = u;
    } else {
        insertKey(e, seconds, u);
    }
}

const char* paramTypeName(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return "layer";
        case PF_Param_ANGLE:
            return "angle";
        case PF_Param_CHECKBOX:
            return "checkbox";
        case PF_Param_COLOR:
            return "color";
        case PF_Param_POPUP:
            return "popup";
        case PF_Param_FLOAT_SLIDER:
            return "float slider";
        case PF_Param_GROUP_START:
            return "group start";
        case PF_Param_GROUP_END:
            return "group end";
        default:
            return "other";
    }
}

}  // namespace refhost
