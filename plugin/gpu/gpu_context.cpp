// Start-up and shut-down of the OpenCL runtime: the first platform, its first GPU device (any
// device when there is no GPU), one context, one in-order queue, and one program built from the
// embedded kernel source, built to compute the CPU's floats.
#include "gpu/gpu_context.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "gpu/gpu_runtime.h"
#include "gpu/kernel_source.h"
#include "platform/platform.h"

namespace lumet::gpu {

const char* const kKernelNames[kKernelCount] = {
    "env_reflection",  "shade_pixel", "glow_extract",    "blur_h",          "blur_v",
    "env_blur_h",      "blur_v",      "downsample_2x",   "upsample_blend",  "compute_normals",
    "edt_phase1",      "edt_phase2",  "sobel_edge",      "carve_heightmap", "reduce_max",
    "normalize_scale", "edge_blend",  "glow_accumulate", "glow_compress",   "content_rows",
    "normal_rows"};

GpuContext gpuContext = {};

namespace {

std::atomic<const char*> sourceOverride{nullptr};
std::atomic<bool> forceInexactForTesting{false};
thread_local int gpuLockDepth = 0;

// No relaxed math and no fused multiply-adds (the source also switches contraction off): the
// kernels must compute the CPU's floats. Correctly rounded division and square root are asked for
// where the device offers them; the option is an error on a device that does not.
constexpr const char* kCorrectlyRoundedOption = "-cl-fp32-correctly-rounded-divide-sqrt";

void releaseAll(cl_mem* buffers, int count) {
    for (int i = 0; i < count; ++i) releaseBuffer(buffers[i]);
}

// The build log, cut to the buffer. A driver refuses a buffer shorter than the whole log, so a
// longer log is fetched whole into a temporary buffer first.
void fetchBuildLog(cl_program program, cl_device_id device, char* log, size_t capacity) {
    std::memset(log, 0, capacity);
    size_t size = 0;
    if (cl.clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) !=
        CL_SUCCESS)
        return;
    if (size < capacity) {
        cl.clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, capacity - 1, log, nullptr);
        return;
    }
    std::unique_ptr<char[]> whole(new (std::nothrow) char[size]);
    if (whole && cl.clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, whole.get(),
                                          nullptr) == CL_SUCCESS)
        std::memcpy(log, whole.get(), capacity - 1);
}

// LUMET_OPENCL=off (or 0) in the environment keeps the effect on the CPU without loading any
// OpenCL library: a switch that holds on every platform, whatever the OpenCL loader's own
// variables do there. The lumet command sets it for --device cpu.
bool openClSwitchedOff() {
    const char* value = std::getenv("LUMET_OPENCL");
    if (!value) return false;
    std::string text;
    for (const char* c = value; *c; ++c) {
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    return text == "off" || text == "0";
}

}  // namespace

const char* kernelSource() {
    const char* source = sourceOverride.load();
    return source ? source : kEmbeddedKernelSource;
}

void setKernelSourceForTesting(const char* source) { sourceOverride.store(source); }

void treatDeviceAsInexactForTesting(bool inexact) { forceInexactForTesting.store(inexact); }

void releaseBuffer(cl_mem& buffer) {
    if (buffer && cl.module) cl.clReleaseMemObject(buffer);
    buffer = nullptr;
}

void releaseReflectionGroup(GpuContext& context) {
    releaseBuffer(context.reflNormals);
    releaseBuffer(context.reflAlpha);
    releaseBuffer(context.reflHeights);
    releaseAll(context.reflOut, 3);
    releaseBuffer(context.reflRows);
    context.reflWidth = 0;
    context.reflHeight = 0;
    context.reflValid = false;
    context.reflGeometryRevision = 0;
}

void releaseShadingGroup(GpuContext& context) {
    releaseBuffer(context.shadeAlpha);
    releaseBuffer(context.shadeHeights);
    releaseBuffer(context.shadeNormals);
    releaseAll(context.shadeEnv, 3);
    releaseAll(context.shadeOut, 3);
    releaseBuffer(context.shadePowLut);
    releaseBuffer(context.shadeRows);
    context.shadeWidth = 0;
    context.shadeHeight = 0;
    context.shadeValid = false;
    context.shadeGeometryRevision = 0;
    context.shadeReflectionRevision = 0;
}

void releaseScratchPair(GpuContext& context) {
    releaseBuffer(context.scratchA);
    releaseBuffer(context.scratchB);
    context.scratchCapacity = 0;
}

void releaseDistanceGroup(GpuContext& context) {
    releaseBuffer(context.dtAlpha);
    releaseBuffer(context.dtColumns);
    releaseBuffer(context.dtDistance);
    releaseBuffer(context.dtStackS);
    releaseBuffer(context.dtStackT);
    context.dtWidth = 0;
    context.dtHeight = 0;
}

void releaseEnvGroup(GpuContext& context) {
    releaseAll(context.envPlanes, 6);
    context.envWidth = 0;
    context.envHeight = 0;
    context.envUploaded = false;
    context.envRevision = 0;
}

bool startGpuContext(GpuContext& context) {
    context = GpuContext{};
    if (!loadOpenClEntryPoints()) return false;

    cl_platform_id platform = nullptr;
    cl_uint platformCount = 0;
    if (cl.clGetPlatformIDs(1, &platform, &platformCount) != CL_SUCCESS || platformCount == 0)
        return false;

    // A GPU first; a platform whose only device is a CPU device answers the second query.
    cl_device_id device = nullptr;
    if (cl.clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device, nullptr) != CL_SUCCESS &&
        cl.clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr) != CL_SUCCESS)
        return false;

    cl_int error = CL_SUCCESS;
    cl_context clContext = cl.clCreateContext(nullptr, 1, &device, nullptr, nullptr, &error);
    if (error != CL_SUCCESS || !clContext) return false;

    cl_command_queue queue = cl.clCreateCommandQueue(clContext, device, 0, &error);
    if (error != CL_SUCCESS || !queue) {
        cl.clReleaseContext(clContext);
        return false;
    }

    const char* source = kernelSource();
    const size_t length = std::strlen(source);
    cl_program program = cl.clCreateProgramWithSource(clContext, 1, &source, &length, &error);
    if (error != CL_SUCCESS || !program) {
        cl.clReleaseCommandQueue(queue);
        cl.clReleaseContext(clContext);
        return false;
    }

    cl_device_fp_config floatConfig = 0;
    if (cl.clGetDeviceInfo(device, CL_DEVICE_SINGLE_FP_CONFIG, sizeof floatConfig, &floatConfig,
                           nullptr) != CL_SUCCESS)
        floatConfig = 0;
    const bool correctlyRounded = (floatConfig & CL_FP_CORRECTLY_ROUNDED_DIVIDE_SQRT) != 0;
    const bool matchesCpu = correctlyRounded && (floatConfig & CL_FP_DENORM) != 0;
    const char* options = correctlyRounded ? kCorrectlyRoundedOption : "";
    if (cl.clBuildProgram(program, 1, &device, options, nullptr, nullptr) != CL_SUCCESS) {
        char log[4096];
        fetchBuildLog(program, device, log, sizeof log);
        platform::debugOutput("Lumet GPU: kernel build failed:\n");
        platform::debugOutput(log);
        cl.clReleaseProgram(program);
        cl.clReleaseCommandQueue(queue);
        cl.clReleaseContext(clContext);
        return false;
    }

    for (int k = 0; k < kKernelCount; ++k) {
        context.kernels[k] = cl.clCreateKernel(program, kKernelNames[k], &error);
        if (error != CL_SUCCESS || !context.kernels[k]) {
            context.kernels[k] = nullptr;
            for (int j = 0; j < k; ++j) cl.clReleaseKernel(context.kernels[j]);
            cl.clReleaseProgram(program);
            cl.clReleaseCommandQueue(queue);
            cl.clReleaseContext(clContext);
            context = GpuContext{};
            return false;
        }
    }

    context.context = clContext;
    context.queue = queue;
    context.device = device;
    context.program = program;
    context.ready = true;
    context.matchesCpu = matchesCpu && !forceInexactForTesting.load();
    context.envUploaded = false;

    char name[256];
    std::memset(name, 0, sizeof name);
    cl.clGetDeviceInfo(device, CL_DEVICE_NAME, sizeof name - 1, name, nullptr);
    char line[512];
    std::snprintf(line, sizeof line, "Lumet GPU: OpenCL ready on %s\n", name);
    platform::debugOutput(line);
    return true;
}

void shutdownGpuContext(GpuContext& context) {
    if (!context.ready) return;
    releaseReflectionGroup(context);
    releaseShadingGroup(context);
    releaseScratchPair(context);
    releaseDistanceGroup(context);
    releaseEnvGroup(context);
    for (cl_kernel& kernel : context.kernels) {
        if (kernel) cl.clReleaseKernel(kernel);
        kernel = nullptr;
    }
    if (context.program) cl.clReleaseProgram(context.program);
    if (context.queue) cl.clReleaseCommandQueue(context.queue);
    if (context.context) cl.clReleaseContext(context.context);
    context = GpuContext{};
}

// The public face of the runtime.

bool gpuRuntimeReady() { return gpuContext.ready; }
bool gpuMatchesCpu() { return gpuContext.ready && gpuContext.matchesCpu; }

void startGpuRuntime() {
    if (!gpuContext.ready && !openClSwitchedOff()) startGpuContext(gpuContext);
}

void shutdownGpuRuntime() { shutdownGpuContext(gpuContext); }

void releaseGpuReflectionBuffers() { releaseReflectionGroup(gpuContext); }
void releaseGpuShadingBuffers() { releaseShadingGroup(gpuContext); }

void noteGpuLockEntered() { ++gpuLockDepth; }
void noteGpuLockLeft() {
    if (gpuLockDepth > 0) --gpuLockDepth;
}
bool gpuHeldByThisThread() { return gpuLockDepth > 0; }

}  // namespace lumet::gpu
