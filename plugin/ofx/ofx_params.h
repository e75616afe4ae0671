// The effect's parameters in OpenFX terms, generated from the parameter table: popups become
// choices, float sliders doubles with their valid and display ranges and digits, the angle a
// double of the angle type, colours RGB, checkboxes booleans, group starts groups (their members
// name the group as parent) and the invisible parameters secret ones. The custom map layer is not
// a parameter here but the general context's optional "Environment" clip.
#pragma once
#include "AE_Effect.h"
#include "ofxImageEffect.h"
#include "params/param_ids.h"
#include "params/render_settings.h"

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

// The values at `time` as the other host hands them: a parameter array made from the table's
// definitions with each declared value read from the host (choices 1-based, colours 8-bit,
// angles 16.16 fixed point).
struct ParamValues {
    PF_ParamDef defs[PARAM_COUNT];
    PF_ParamDef* pointers[PARAM_COUNT];
    ParamValues();
};
void readParamValues(const ParamHandles& handles, OfxTime time, ParamValues& values);

// The frame's settings from the values, with the output margin.
void settingsFromValues(const ParamValues& values, RenderSettings& settings);

// The reaction to a user's choice in the Preset popup: the preset's values written back to the
// host's parameters, in one undoable edit.
void applyPresetChoice(const ParamHandles& handles, OfxParamSetHandle paramSet, OfxTime time);

}  // namespace lumet::ofx
