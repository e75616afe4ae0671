// Smart pre-render: builds the frame's RenderSettings record from the parameters, computes the
// output margin, checks out the input layer (and the Custom Map layer when it is chosen) and
// answers the host's output rectangles. The record goes to the host as pre-render data.
#pragma once
#include "AE_Effect.h"

namespace lumet {

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// The delete callback handed to the host with the record; null is allowed.
void deleteRenderSettings(void* settings);

}  // namespace lumet
