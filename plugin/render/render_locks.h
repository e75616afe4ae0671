// The two process-wide locks of the render paths. Each is created once, on first need, by
// whichever caller gets there first, and is never destroyed, so a later global set-up reuses it.
// - the non-smart cache lock guards the plain render path's cache (and global set-down's release
//   of both render caches);
// - the smart stage cache lock: one smart render at a time uses the process-wide stage cache;
//   a render that cannot take it works on planes of its own;
// - the GPU lock serialises the renders' use of the GPU runtime.
// Lock order: the non-smart cache lock, the smart stage cache lock, the GPU lock. Renders only
// try the last two, except on a device whose floats are not the CPU's, where they wait for them
// in that order (see framesMayLeaveTheGpu).
#pragma once
#include "platform/platform.h"

namespace lumet {

// Global set-up: creates the non-smart cache lock, then the GPU lock, where not yet created.
void createRenderLocks();

platform::Lock& nonSmartCacheLock();  // created if needed
bool nonSmartCacheLockCreated();
bool gpuLockCreated();

void EnterSmartCacheLock();
bool TryEnterSmartCacheLock();  // true when the lock was taken; never waits
void LeaveSmartCacheLock();

void EnterGpuLock();
bool TryEnterGpuLock();  // true when the lock was taken; never waits
void LeaveGpuLock();

// Whether a frame's renders may work without the device when another render holds it: true when
// there is no device or it computes the CPU's floats (the frame's bytes are the same either way).
// On any other device a frame that fell back to the CPU would differ slightly from its neighbours
// rendered on the device, so concurrent frames wait for the device (and on the smart protocol for
// the stage cache that its kept buffers follow) instead.
bool framesMayLeaveTheGpu();
// The GPU lock for a frame's stages: false without a ready runtime; tried when frames may leave
// the GPU, else waited for.
bool takeGpuForFrame();

// The GPU lock as a frame holds it: left once, by leave() or when the holder goes.
class FrameGpuLock {
public:
    FrameGpuLock() = default;
    FrameGpuLock(const FrameGpuLock&) = delete;
    FrameGpuLock& operator=(const FrameGpuLock&) = delete;
    ~FrameGpuLock() { leave(); }
    // Takes the lock for the frame's stages (see takeGpuForFrame); true when held.
    bool take() { return held_ = takeGpuForFrame(); }
    bool held() const { return held_; }
    void leave() {
        if (held_) LeaveGpuLock();
        held_ = false;
    }

private:
    bool held_ = false;
};

}  // namespace lumet
