// Global set-up and set-down: the output flags, the process-wide locks, the GPU runtime and the
// environment map's compute-cache class.
#pragma once
#include "AE_Effect.h"

namespace lumet {

// Sets the version and flag words, creates the locks where missing, starts the GPU runtime when
// it is not ready and registers the compute class when the host offers the compute cache.
// Always returns 0: a missing suite or GPU only means less sharing or CPU rendering.
PF_Err globalSetup(const PF_InData* in_data, PF_OutData* out_data);

// Unregisters the compute class, releases both render caches under the non-smart cache lock and
// shuts the GPU runtime down. The locks stay for a later set-up.
void globalSetdown(const PF_InData* in_data);

}  // namespace lumet
