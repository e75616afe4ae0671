// ReleaseRenderCaches: frees the GPU's kept reflection and shading buffers and both render paths'
// caches. Callers hold the non-smart cache lock.
#include "render/render_caches.h"

#include "gpu/gpu_runtime.h"
#include "render/non_smart_cache.h"
#include "render/stage_cache.h"

namespace lumet {

void ReleaseRenderCaches() {
    gpu::releaseGpuReflectionBuffers();
    gpu::releaseGpuShadingBuffers();
    nonSmartCache() = NonSmartCache{};
    emptyStageCache(smartStageCache());
}

}  // namespace lumet
