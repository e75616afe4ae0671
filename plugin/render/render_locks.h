// The two process-wide locks of the render paths. Each is created once, on first need, by
// whichever caller gets there first, and is never destroyed, so a later global set-up reuses it.
// - the non-smart cache lock guards the plain render path's cache (and global set-down's release
//   of both render caches);
// - the smart stage cache lock: one smart render at a time uses the process-wide stage cache;
//   a render that cannot take it works on planes of its own;
// - the GPU lock serialises the renders' use of the GPU runtime.
// Lock order: the non-smart cache lock, the smart stage cache lock, the GPU lock. Renders only
// try the last two, so a render never waits on another while holding one of them.
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

}  // namespace lumet
