// ReleaseRenderCaches: frees the GPU's kept reflection and shading buffers and both render paths'
// caches. Callers hold the non-smart cache lock; the smart stage cache and the GPU buffers, which
// a smart render holding both locks keeps in step with it, are emptied under the smart stage cache
// lock and the GPU lock, so that a render using them on another thread finishes first. Lock
// order: the non-smart cache lock, the smart stage cache lock, then the GPU lock; the smart render
// only tries the last two and never takes the non-smart cache lock, so no two threads can wait on
// each other.
#include "render/render_caches.h"

#include "gpu/gpu_runtime.h"
#include "platform/plane.h"
#include "render/instance_render.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"

namespace lumet {

void ReleaseRenderCaches() {
    EnterSmartCacheLock();
    EnterGpuLock();
    gpu::releaseGpuReflectionBuffers();
    gpu::releaseGpuShadingBuffers();
    emptyStageCache(smartStageCache());
    LeaveGpuLock();
    LeaveSmartCacheLock();
    nonSmartCache() = InstanceCache{};
    releaseIdlePlanes();
}

}  // namespace lumet
