// ParamsStore: the host's record of an effect instance's parameters: the definitions the effect
// declared at parameter set-up (strings copied into host memory) and the current values, each
// either static or animated by keyframes. Between keyframes sliders, angles and colours are
// interpolated linearly; popups and checkboxes hold the earlier keyframe's value.
#pragma once
#include <string>
#include <vector>

#include "AE_Effect.h"

namespace refhost {

class ParamsStore {
public:
    ParamsStore();  // holds only index 0, the host's input layer
    // Definitions point into the store's own strings, so the store stays where it was made.
    ParamsStore(const ParamsStore&) = delete;
    ParamsStore& operator=(const ParamsStore&) = delete;

    void clear();
    // Appends a definition as the add-parameter callback does; copies its strings.
    void add(const PF_ParamDef& def);
    int count() const { return static_cast<int>(entries_.size()); }

    // The definition as declared (defaults as current values), its strings pointing into the store.
    const PF_ParamDef& definition(int index) const;
    const std::string& choices(int index) const;       // popup choice string
    const std::string& checkboxText(int index) const;  // text beside a checkbox

    // Values. A number means: popup choice, checkbox 0/1, slider value, angle in degrees.
    // Setting a static value removes the parameter's keyframes. Values are stored as given,
    // not clamped, like a project carrying values from elsewhere.
    void setValue(int index, double value);
    void setColor(int index, PF_Pixel color);
    void setKeyframe(int index, double seconds, double value);
    void setColorKeyframe(int index, double seconds, PF_Pixel color);
    bool animated(int index) const { return !entry(index).keys.empty(); }
    void resetToDefaults();

    // The definition carrying the value at the given time.
    PF_ParamDef valueAt(int index, double seconds) const;
    double numberAt(int index, double seconds) const;
    PF_Pixel colorAt(int index, double seconds) const;

    // Takes back the value the effect wrote into `changed`: a keyframe at `seconds` when the
    // parameter is animated, else its static value.
    void takeValue(int index, const PF_ParamDef& changed, double seconds);

private:
    struct Key {
        double seconds;
        PF_ParamDefUnion value;
    };
    struct Entry {
        PF_ParamDef def;
        std::string choices, checkboxText;
        PF_ParamDefUnion value;
        std::vector<Key> keys;  // sorted by time
    };
    const Entry& entry(int index) const;
    Entry& entry(int index);
    void pointStrings(Entry& e);
    PF_ParamDefUnion numberToValue(const Entry& e, double value) const;
    void insertKey(Entry& e, double seconds, const PF_ParamDefUnion& value);
    PF_ParamDefUnion interpolate(const Entry& e, double seconds) const;

    std::vector<Entry> entries_;
};

const char* paramTypeName(PF_ParamType type);

}  // namespace refhost
