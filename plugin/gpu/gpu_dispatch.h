// Small helpers shared by the GPU operations: buffer creation, transfers, kernel arguments and
// dispatch, all on the one context and queue of the GpuContext.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "gpu/gpu_context.h"

namespace lumet::gpu {

// True when this thread may use the device now: the runtime is ready and the thread holds the
// GPU lock for its render.
bool gpuUsable();

// Byte size of a plane of count elements of elementBytes each; 0 when the count is not positive.
inline std::size_t planeBytesOf(std::int64_t count, std::size_t elementBytes) {
    return count > 0 ? static_cast<std::size_t>(count) * elementBytes : 0;
}

// A buffer of the given flags and size, filled from host when CL_MEM_COPY_HOST_PTR is among the
// flags; null on failure.
cl_mem createBuffer(cl_mem_flags flags, std::size_t bytes, const void* host = nullptr);

// Writes host memory into a buffer (without waiting unless blocking); reads a buffer, waiting.
bool uploadBuffer(cl_mem buffer, const void* host, std::size_t bytes, bool blocking = false);
bool readBuffer(cl_mem buffer, void* host, std::size_t bytes);
bool finishQueue();

// Sets a kernel's arguments in order: buffers (cl_mem), 32-bit integers and floats, and structs
// the kernel source shares (core/pixel_formulas.h), by value.
inline bool setArgument(cl_kernel, cl_uint) { return true; }
template <typename First, typename... Rest>
bool setArgument(cl_kernel kernel, cl_uint index, const First& first, const Rest&... rest) {
    static_assert(sizeof(First) == sizeof(cl_mem) || sizeof(First) == 4 ||
                      (std::is_class_v<First> && std::is_trivially_copyable_v<First>),
                  "unexpected argument");
    if (cl.clSetKernelArg(kernel, index, sizeof(First), &first) != CL_SUCCESS) return false;
    return setArgument(kernel, index + 1, rest...);
}
template <typename... Arguments>
bool setArguments(cl_kernel kernel, const Arguments&... arguments) {
    return setArgument(kernel, 0, arguments...);
}

// Makes sure the scratch pair of the integer blurs holds at least `bytes` each; true when it does.
bool ensureScratchPair(std::int64_t bytes);

// Enqueues a kernel over count work items, or over a width x height grid (x first).
bool enqueue1D(cl_kernel kernel, std::size_t count);
bool enqueue2D(cl_kernel kernel, std::size_t width, std::size_t height);

}  // namespace lumet::gpu
