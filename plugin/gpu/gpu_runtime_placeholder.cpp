// CPU-only runtime until the OpenCL runtime lands: never ready, start and shutdown do nothing.
#include "gpu/gpu_runtime.h"

namespace lumet::gpu {

bool gpuRuntimeReady() { return false; }
void startGpuRuntime() {}
void shutdownGpuRuntime() {}

}  // namespace lumet::gpu
