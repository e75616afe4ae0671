// The parameters in the host's terms: the definitions parameter set-up hands over, the values of
// its parameter records read into ParamValues, and a preset choice written back into them.
#pragma once
#include "AE_Effect.h"
#include "params/param_table.h"
#include "params/param_values.h"

namespace lumet {

// The value a parameter record holds (angles from 16.16 fixed point to degrees).
ParamValue paramValueOf(int id, const PF_ParamDef& def);

// storeRenderSetting with the record's value.
void storeRenderSetting(RenderSettings& settings, int id, const PF_ParamDef& def);

// The plain render path's fill: fields bevelStyle .. tintBlend from the parameter array, except
// that bevelStyle is always Inner Bevel. expansion, showEnvMap and the rectangles are untouched.
void fillRenderSettingsFromParams(PF_ParamDef* const params[], RenderSettings& settings);

// Fills a cleared definition from its row, as parameter set-up hands it to the host.
void fillParamDef(const ParamSpec& spec, PF_ParamDef& def);

// Parameter set-up: appends the 44 definitions in order through the host's add-parameter
// callback, then sets the parameter count to 45. The first failing call ends set-up with its code.
PF_Err setupParams(PF_InData* in_data, PF_OutData* out_data);

// Parameter-change handler. When the Preset popup changed to a valid choice, writes that preset's
// values into the parameter array, flags each written parameter as changed and asks the host to
// render again. Any other change is ignored. Always returns 0.
PF_Err applyPresetOnChange(PF_OutData* out_data, PF_ParamDef* params[],
                           const PF_UserChangedParamExtra* extra);

}  // namespace lumet
