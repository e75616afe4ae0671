// The render paths' process-wide caches as a whole.
#pragma once

namespace lumet {

// Frees every buffer of the GPU runtime's stage buffers, the non-smart cache and the smart stage
// cache, and zeroes both cache records. The caller holds the non-smart cache lock.
void ReleaseRenderCaches();

}  // namespace lumet
