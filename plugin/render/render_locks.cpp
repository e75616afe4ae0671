// Lazily created process-wide locks. Creation itself is serialised so that two threads that both
// find a lock missing cannot initialise it twice.
#include "render/render_locks.h"

#include <mutex>

#include "gpu/gpu_runtime.h"

namespace lumet {
namespace {

platform::Lock gNonSmartCacheLock;
platform::Lock gSmartCacheLock;
platform::Lock gGpuLock;
std::mutex gCreationMutex;

platform::Lock& created(platform::Lock& lock) {
    std::lock_guard<std::mutex> guard(gCreationMutex);
    if (!lock.initialized()) lock.initialize();
    return lock;
}

bool isCreated(const platform::Lock& lock) {
    std::lock_guard<std::mutex> guard(gCreationMutex);
    return lock.initialized();
}

}  // namespace

void createRenderLocks() {
    created(gNonSmartCacheLock);
    created(gSmartCacheLock);
    created(gGpuLock);
}

platform::Lock& nonSmartCacheLock() { return created(gNonSmartCacheLock); }
bool nonSmartCacheLockCreated() { return isCreated(gNonSmartCacheLock); }
bool gpuLockCreated() { return isCreated(gGpuLock); }

void EnterSmartCacheLock() { created(gSmartCacheLock).enter(); }
bool TryEnterSmartCacheLock() { return created(gSmartCacheLock).tryEnter(); }
void LeaveSmartCacheLock() { gSmartCacheLock.leave(); }

// The GPU runtime is told which thread holds the lock, so that the GPU offers inside the geometry
// stages of a render without it stay on the CPU.
void EnterGpuLock() {
    created(gGpuLock).enter();
    gpu::noteGpuLockEntered();
}
bool TryEnterGpuLock() {
    if (!created(gGpuLock).tryEnter()) return false;
    gpu::noteGpuLockEntered();
    return true;
}
void LeaveGpuLock() {
    gpu::noteGpuLockLeft();
    gGpuLock.leave();
}

bool framesMayLeaveTheGpu() { return !gpu::gpuRuntimeReady() || gpu::gpuMatchesCpu(); }

bool takeGpuForFrame() {
    if (!gpu::gpuRuntimeReady()) return false;
    if (framesMayLeaveTheGpu()) return TryEnterGpuLock();
    EnterGpuLock();
    return true;
}

}  // namespace lumet
