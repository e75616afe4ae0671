// Buffer creation, transfers and kernel dispatch on the GpuContext's context and queue.
#include "gpu/gpu_dispatch.h"

#include "gpu/gpu_runtime.h"

namespace lumet::gpu {

bool gpuUsable() { return gpuContext.ready && gpuHeldByThisThread(); }

cl_mem createBuffer(cl_mem_flags flags, std::size_t bytes, const void* host) {
    if (!cl.module || !gpuContext.context || bytes == 0) return nullptr;
    cl_int error = CL_SUCCESS;
    // The runtime only reads host memory given with CL_MEM_COPY_HOST_PTR.
    cl_mem buffer =
        cl.clCreateBuffer(gpuContext.context, flags, bytes, const_cast<void*>(host), &error);
    if (error != CL_SUCCESS) {
        if (buffer) cl.clReleaseMemObject(buffer);
        return nullptr;
    }
    return buffer;
}

bool uploadBuffer(cl_mem buffer, const void* host, std::size_t bytes, bool blocking) {
    return cl.clEnqueueWriteBuffer(gpuContext.queue, buffer, blocking ? CL_TRUE : CL_FALSE, 0,
                                   bytes, host, 0, nullptr, nullptr) == CL_SUCCESS;
}

bool readBuffer(cl_mem buffer, void* host, std::size_t bytes) {
    return cl.clEnqueueReadBuffer(gpuContext.queue, buffer, CL_TRUE, 0, bytes, host, 0, nullptr,
                                  nullptr) == CL_SUCCESS;
}

bool finishQueue() { return cl.clFinish(gpuContext.queue) == CL_SUCCESS; }

bool enqueue1D(cl_kernel kernel, std::size_t count) {
    const std::size_t global[1] = {count};
    return cl.clEnqueueNDRangeKernel(gpuContext.queue, kernel, 1, nullptr, global, nullptr, 0,
                                     nullptr, nullptr) == CL_SUCCESS;
}

bool enqueue2D(cl_kernel kernel, std::size_t width, std::size_t height) {
    const std::size_t global[2] = {width, height};
    return cl.clEnqueueNDRangeKernel(gpuContext.queue, kernel, 2, nullptr, global, nullptr, 0,
                                     nullptr, nullptr) == CL_SUCCESS;
}

}  // namespace lumet::gpu
