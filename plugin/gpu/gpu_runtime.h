// The process-wide GPU runtime's life cycle as global set-up and set-down drive it. Start-up
// failures are silent: the effect then renders on the CPU.
#pragma once

namespace lumet::gpu {

bool gpuRuntimeReady();
void startGpuRuntime();
void shutdownGpuRuntime();

}  // namespace lumet::gpu
