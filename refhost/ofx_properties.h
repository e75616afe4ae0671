// Property sets as an OpenFX host keeps them, and the property suite over them. A property holds
// values of one type (pointer, string, double or int); a set grows a property on its first write
// and its dimension with the highest index written; reading a property that is not there is
// kOfxStatErrUnknown, a value of another type kOfxStatErrValue, an index past the dimension
// kOfxStatErrBadIndex.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "ofxProperty.h"

namespace refhost::ofxhost {

class PropertySet {
public:
    using Value = std::variant<void*, std::string, double, int>;

    OfxPropertySetHandle handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
    static PropertySet* from(OfxPropertySetHandle handle) {
        return reinterpret_cast<PropertySet*>(handle);
    }

    // Host-side writes and reads (no type check on writes: the host defines its properties).
    void set(const std::string& name, Value value, int index = 0);
    void setAll(const std::string& name, std::vector<Value> values);
    bool has(const std::string& name) const;
    int dimension(const std::string& name) const;
    std::string getString(const std::string& name, int index = 0) const;
    int getInt(const std::string& name, int index = 0, int fallback = 0) const;
    double getDouble(const std::string& name, int index = 0, double fallback = 0.0) const;
    void* getPointer(const std::string& name) const;

    // The suite's access, type-checked.
    template <class T>
    OfxStatus write(const char* name, int index, T value);
    template <class T>
    OfxStatus read(const char* name, int index, T* value) const;
    OfxStatus reset(const char* name);

    std::map<std::string, std::vector<Value>> values() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<Value>> values_;
};

// The property suite, version 1.
const OfxPropertySuiteV1* propertySuite();

}  // namespace refhost::ofxhost
