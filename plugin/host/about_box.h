// The about box: "Lumet v1.0", a line break, then the two description lines, formatted by the
// host's ANSI suite into the out data's return message.
#pragma once
#include "AE_Effect.h"

namespace lumet {

// Throws PF_Err_BAD_CALLBACK_PARAM when the basic suite or the ANSI suite is missing.
void writeAboutText(const PF_InData* in_data, PF_OutData* out_data);

}  // namespace lumet
