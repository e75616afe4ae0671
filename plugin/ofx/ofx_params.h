// The effect's parameters in OpenFX terms, generated from the parameter table: popups become
// choices, float sliders doubles with their valid and display ranges and digits, the angle a
// double of the angle type, colours RGB, checkboxes booleans, group starts groups (their members
// name the group as parent) and the invisible parameters secret ones. The custom map layer is not
// a parameter here but the general context's optional "Environment" clip.
#pragma once
#include "ofxImageEffect.h"
#include "params/param_ids.h"
#include "params/param_values.h"

namespace lumet::ofx {

// The parameter's OpenFX name: its label without spaces ("Bevel Depth" is "BevelDepth"); null for
// what is not declared (the input layer, group ends, the custom map layer).
const char* paramName(int id);

// Declares every parameter, in table order, in a descriptor's parameter set.
void describeParams(OfxParamSetHandle paramSet);

// An instance's parameter handles by parameter id (null where not declared).
struct ParamHandles {
    OfxParamHandle byId[PARAM_COUNT] = {};
};
void fetchParamHandles(OfxParamSetHandle paramSet, ParamHandles& handles);

// The values at `time` (parameters the host does not have keep theirs).
void readParamValues(const ParamHandles& handles, OfxTime time, ParamValues& values);

// The reaction to a user's choice in the Preset popup: the preset's values written back to the
// host's parameters, in one undoable edit.
void applyPresetChoice(const ParamHandles& handles, OfxParamSetHandle paramSet, OfxTime time);

}  // namespace lumet::ofx
