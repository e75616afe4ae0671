// Start-up and shut-down of the OpenCL runtime: a GPU or accelerator device (a CPU device only when
// asked for), one context, one in-order queue, and one program built from the
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
#include <vector>

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

// Which devices the runtime may use, from LUMET_OPENCL: "off" (or 0) starts no OpenCL and loads
// no library, a switch that holds on every platform whatever the OpenCL loader's own variables do
// there; "any" also accepts a CPU device (the tests run the kernels on POCL's that way); anything
// else, and no value, asks for a GPU or an accelerator. A CPU OpenCL runtime runs the kernels
// several times slower than the effect's own CPU code for the same bytes, so it is never chosen
// unasked. The lumet command sets the variable for --device.
enum class DeviceChoice { off, gpuOnly, any };

DeviceChoice deviceChoice() {
    const char* value = std::getenv("LUMET_OPENCL");
    if (!value) return DeviceChoice::gpuOnly;
    std::string text;
    for (const char* c = value; *c; ++c) {
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    if (text == "off" || text == "0") return DeviceChoice::off;
    if (text == "any") return DeviceChoice::any;
    return DeviceChoice::gpuOnly;
}

// The first GPU of any platform, else the first accelerator; with `any`, else the first device of
// any type. Platforms are looked through in the order the loader reports them, so a GPU behind a
// second platform is found even when a CPU runtime is listed first.
cl_device_id chooseDevice(DeviceChoice choice) {
    cl_platform_id platforms[16] = {};
    cl_uint platformCount = 0;
    if (cl.clGetPlatformIDs(16, platforms, &platformCount) != CL_SUCCESS || platformCount == 0)
        return nullptr;
    platformCount = platformCount > 16 ? 16 : platformCount;
    const cl_device_type wanted[] = {CL_DEVICE_TYPE_GPU, CL_DEVICE_TYPE_ACCELERATOR,
                                     CL_DEVICE_TYPE_ALL};
    const int kinds = choice == DeviceChoice::any ? 3 : 2;
    for (int kind = 0; kind < kinds; ++kind) {
        for (cl_uint p = 0; p < platformCount; ++p) {
            cl_device_id device = nullptr;
            if (cl.clGetDeviceIDs(platforms[p], wanted[kind], 1, &device, nullptr) == CL_SUCCESS &&
                device)
                return device;
        }
    }
    return nullptr;
}

// Whether every OpenCL runtime installed is POCL, whose devices here are CPU devices: then asking
// for a GPU would load it (and the compiler it brings, some 60 MB and a tenth of a second) only to
// find none, so a GPU-only start does not load OpenCL at all.
bool onlyCpuRuntimesInstalled() {
    std::vector<std::string> libraries;
    if (!platform::openClVendorLibraries(libraries)) return false;
    for (const std::string& library : libraries) {
        const std::size_t slash = library.find_last_of('/');
        if (library.compare(slash == std::string::npos ? 0 : slash + 1, 7, "libpocl") != 0)
            return false;
    }
    return true;
}

const char* deviceTypeName(cl_device_type type) {
    if (type & CL_DEVICE_TYPE_GPU) return "GPU";
    if (type & CL_DEVICE_TYPE_ACCELERATOR) return "accelerator";
    if (type & CL_DEVICE_TYPE_CPU) return "CPU";
    return "other";
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
    releaseBuffer(context.shadeParams);
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
    const DeviceChoice choice = deviceChoice();
    if (choice == DeviceChoice::off) return false;
    if (choice == DeviceChoice::gpuOnly && onlyCpuRuntimesInstalled()) return false;
    if (!loadOpenClEntryPoints()) return false;

    const cl_device_id device = chooseDevice(choice);
    if (!device) return false;

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
    cl_device_type type = 0;
    if (cl.clGetDeviceInfo(device, CL_DEVICE_TYPE, sizeof type, &type, nullptr) != CL_SUCCESS)
        type = 0;
    // A device in host memory takes its buffers from the same memory as the frame's planes.
    cl_bool unified = CL_FALSE;
    if (cl.clGetDeviceInfo(device, CL_DEVICE_HOST_UNIFIED_MEMORY, sizeof unified, &unified,
                           nullptr) != CL_SUCCESS)
        unified = CL_FALSE;
    context.sharesHostMemory = unified == CL_TRUE || (type & CL_DEVICE_TYPE_CPU) != 0;
    char line[512];
    std::snprintf(line, sizeof line, "Lumet GPU: OpenCL ready on %s (%s device)\n", name,
                  deviceTypeName(type));
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
    if (!gpuContext.ready) startGpuContext(gpuContext);
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
