// Smart render: renders one frame from the RenderSettings record made at smart pre-render.
#pragma once
#include "AE_Effect.h"

namespace lumet {

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

}  // namespace lumet
