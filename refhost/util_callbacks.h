// The utility callback table a host hands every command in in_data->utils.
#pragma once
#include "AE_EffectCB.h"

namespace refhost {

// One process-wide table. Memory handles and the ANSI block work as a host's do; the pixel
// operations (sampling, compositing, iteration, world allocation, colour conversion) are not
// offered by this host and answer PF_Err_BAD_CALLBACK_PARAM without touching their arguments.
const PF_UtilCallbacks* utilCallbacks();

// The interaction callbacks this host does not offer (custom interface registration, layer
// audio): functions that decline, as a host without that feature answers.
void fillUnofferedInteractCallbacks(PF_InteractCallbacks& inter);

}  // namespace refhost
