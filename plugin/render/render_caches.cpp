// ReleaseRenderCaches: frees the GPU's kept reflection and shading buffers and both render paths'
// caches. Callers hold the non-smart cache lock; the GPU buffers and the smart stage cache, which
// a smart render holding the GPU lock keeps in step with them, are emptied under the GPU lock, so
// that a render using them on another thread finishes first. Lock order: the non-smart cache lock,
// then the GPU lock (the plain render and global set-down); the smart render takes the GPU lock
// only, never the non-smart cache lock, so no two threads can wait on each other.
#include "render/render_caches.h"

#include "gpu/gpu_runtime.h"
#include "render/non_smart_cache.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"

namespace lumet {

void ReleaseRenderCaches() {
    EnterGpuLock();
    gpu::releaseGpuReflectionBuffers();
    gpu::releaseGpuShadingBuffers();
    emptyStageCache(smartStageCache());
    LeaveGpuLock();
    nonSmartCache() = NonSmartCache{};
}

}  // namespace lumet
