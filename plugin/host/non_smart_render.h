// Plain-protocol render: renders one frame from the host's parameter array into its output world.
#pragma once
#include "AE_Effect.h"

namespace lumet {

PF_Err NonSmartRender(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output);

}  // namespace lumet
