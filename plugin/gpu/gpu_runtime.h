// The process-wide OpenCL runtime as the rest of the effect sees it: started at global set-up,
// shut down at global set-down, and consulted by the renders before they offer work to the GPU.
// Start-up failures are silent: the effect then renders on the CPU.
#pragma once

namespace lumet::gpu {

// True after a complete start-up, until shut-down.
bool gpuRuntimeReady();
// True when the ready device computes the CPU's floats (correctly rounded division and square
// root, denormals kept): a frame is then the same bytes on the device and on the CPU.
bool gpuMatchesCpu();
// Loads OpenCL, opens the device and builds the kernels; does nothing when already ready, nor
// when the environment variable LUMET_OPENCL is "off" or "0" (then no OpenCL library is loaded).
void startGpuRuntime();
// Releases every device object; makes no OpenCL call when the runtime is not ready.
void shutdownGpuRuntime();

// The device buffers the reflection and the shading keep between frames; the release of the
// render caches frees them too.
void releaseGpuReflectionBuffers();
void releaseGpuShadingBuffers();

// The device, its queue and its kept buffers serve one render at a time: the render that holds
// the GPU lock. The lock marks its owner's thread here (entered and left as often as the lock is),
// and every GPU operation declines on a thread that does not hold it, so a render without the
// lock stays on the CPU.
void noteGpuLockEntered();
void noteGpuLockLeft();
bool gpuHeldByThisThread();

}  // namespace lumet::gpu
