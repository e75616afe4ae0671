// Property sets and the property suite.
#include "refhost/ofx_properties.h"

namespace refhost::ofxhost {

void PropertySet::set(const std::string& name, Value value, int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Value>& slot = values_[name];
    if (static_cast<int>(slot.size()) <= index) slot.resize(index + 1, value);
    slot[index] = std::move(value);
}

void PropertySet::setAll(const std::string& name, std::vector<Value> values) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[name] = std::move(values);
}

bool PropertySet::has(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.count(name) != 0;
}

int PropertySet::dimension(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find(name);
    return it == values_.end() ? 0 : static_cast<int>(it->second.size());
}

std::string PropertySet::getString(const std::string& name, int index) const {
    char* value = nullptr;
    return read(name.c_str(), index, &value) == kOfxStatOK && value ? value : "";
}
int PropertySet::getInt(const std::string& name, int index, int fallback) const {
    int value = fallback;
    return read(name.c_str(), index, &value) == kOfxStatOK ? value : fallback;
}
double PropertySet::getDouble(const std::string& name, int index, double fallback) const {
    double value = fallback;
    return read(name.c_str(), index, &value) == kOfxStatOK ? value : fallback;
}
void* PropertySet::getPointer(const std::string& name) const {
    void* value = nullptr;
    return read(name.c_str(), 0, &value) == kOfxStatOK ? value : nullptr;
}

template <class T>
OfxStatus PropertySet::write(const char* name, int index, T value) {
    if (!name || index < 0) return !name ? kOfxStatErrUnknown : kOfxStatErrBadIndex;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Value>& slot = values_[name];
    if (!slot.empty() && !std::holds_alternative<T>(slot.front())) return kOfxStatErrValue;
    if (static_cast<int>(slot.size()) <= index) slot.resize(index + 1, Value(T{}));
    slot[index].template emplace<T>(std::move(value));
    return kOfxStatOK;
}

template <class T>
OfxStatus PropertySet::read(const char* name, int index, T* value) const {
    if (!name || !value) return kOfxStatErrUnknown;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find(name);
    if (it == values_.end()) return kOfxStatErrUnknown;
    if (index < 0 || index >= static_cast<int>(it->second.size())) return kOfxStatErrBadIndex;
    const Value& stored = it->second[index];
    if constexpr (std::is_same_v<T, char*>) {
        const std::string* text = std::get_if<std::string>(&stored);
        if (!text) return kOfxStatErrValue;
        *value = const_cast<char*>(text->c_str());  // valid while the property is unchanged
    } else {
        const T* typed = std::get_if<T>(&stored);
        if (!typed) return kOfxStatErrValue;
        *value = *typed;
    }
    return kOfxStatOK;
}

OfxStatus PropertySet::reset(const char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return name && values_.count(name) ? kOfxStatOK : kOfxStatErrUnknown;
}

std::map<std::string, std::vector<PropertySet::Value>> PropertySet::values() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
}

template OfxStatus PropertySet::read<char*>(const char*, int, char**) const;

namespace {

PropertySet* setOf(OfxPropertySetHandle handle) { return PropertySet::from(handle); }

template <class T, class In>
OfxStatus setOne(OfxPropertySetHandle h, const char* name, int index, In value) {
    return h ? setOf(h)->write<T>(name, index, T(value)) : kOfxStatErrBadHandle;
}
template <class T, class In>
OfxStatus setMany(OfxPropertySetHandle h, const char* name, int count, const In* values) {
    if (!h) return kOfxStatErrBadHandle;
    for (int i = 0; i < count; ++i) {
        const OfxStatus status = setOf(h)->write<T>(name, i, T(values[i]));
        if (status != kOfxStatOK) return status;
    }
    return kOfxStatOK;
}
template <class T>
OfxStatus getOne(OfxPropertySetHandle h, const char* name, int index, T* value) {
    return h ? setOf(h)->read<T>(name, index, value) : kOfxStatErrBadHandle;
}
template <class T>
OfxStatus getMany(OfxPropertySetHandle h, const char* name, int count, T* values) {
    for (int i = 0; i < count; ++i) {
        const OfxStatus status = getOne(h, name, i, values + i);
        if (status != kOfxStatOK) return status;
    }
    return kOfxStatOK;
}

OfxStatus setString(OfxPropertySetHandle h, const char* name, int index, const char* value) {
    return setOne<std::string>(h, name, index, value ? value : "");
}
OfxStatus setStringN(OfxPropertySetHandle h, const char* name, int count,
                     const char* const* values) {
    for (int i = 0; i < count; ++i) {
        const OfxStatus status = setString(h, name, i, values[i]);
        if (status != kOfxStatOK) return status;
    }
    return kOfxStatOK;
}

const OfxPropertySuiteV1 kSuite = {
    [](OfxPropertySetHandle h, const char* n, int i, void* v) { return setOne<void*>(h, n, i, v); },
    setString,
    [](OfxPropertySetHandle h, const char* n, int i, double v) {
        return setOne<double>(h, n, i, v);
    },
    [](OfxPropertySetHandle h, const char* n, int i, int v) { return setOne<int>(h, n, i, v); },
    [](OfxPropertySetHandle h, const char* n, int c, void* const* v) {
        return setMany<void*>(h, n, c, v);
    },
    setStringN,
    [](OfxPropertySetHandle h, const char* n, int c, const double* v) {
        return setMany<double>(h, n, c, v);
    },
    [](OfxPropertySetHandle h, const char* n, int c, const int* v) {
        return setMany<int>(h, n, c, v);
    },
    [](OfxPropertySetHandle h, const char* n, int i, void** v) { return getOne(h, n, i, v); },
    [](OfxPropertySetHandle h, const char* n, int i, char** v) { return getOne(h, n, i, v); },
    [](OfxPropertySetHandle h, const char* n, int i, double* v) { return getOne(h, n, i, v); },
    [](OfxPropertySetHandle h, const char* n, int i, int* v) { return getOne(h, n, i, v); },
    [](OfxPropertySetHandle h, const char* n, int c, void** v) { return getMany(h, n, c, v); },
    [](OfxPropertySetHandle h, const char* n, int c, char** v) { return getMany(h, n, c, v); },
    [](OfxPropertySetHandle h, const char* n, int c, double* v) { return getMany(h, n, c, v); },
    [](OfxPropertySetHandle h, const char* n, int c, int* v) { return getMany(h, n, c, v); },
    [](OfxPropertySetHandle h, const char* n) {
        return h ? setOf(h)->reset(n) : kOfxStatErrBadHandle;
    },
    [](OfxPropertySetHandle h, const char* n, int* count) {
        if (!h || !count) return kOfxStatErrBadHandle;
        if (!setOf(h)->has(n ? n : "")) return kOfxStatErrUnknown;
        *count = setOf(h)->dimension(n);
        return kOfxStatOK;
    },
};

}  // namespace

const OfxPropertySuiteV1* propertySuite() { return &kSuite; }

}  // namespace refhost::ofxhost
