// The OpenCL runtime on the machine's device: start-up order and device choice, the debug output,
// a kernel source that fails to build, shut-down, and the rule that only the thread holding the
// GPU lock may use the device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gpu/gpu_context.h"
#include "gpu/gpu_ops.h"
#include "gpu_test_support.h"
#include "platform/platform.h"

namespace lumet {
namespace {

using testing::GpuLockHold;

// What the runtime writes to the debug output while a DebugOutputCapture lives (the Windows
// debug output cannot be read back, so the platform hands it to this sink instead).
std::string capturedDebugOutput;
void appendDebugOutput(const char* text) { capturedDebugOutput += text; }
struct DebugOutputCapture {
    DebugOutputCapture() {
        capturedDebugOutput.clear();
        platform::setDebugOutputSink(&appendDebugOutput);
    }
    ~DebugOutputCapture() { platform::setDebugOutputSink(nullptr); }
    std::string text() const { return capturedDebugOutput; }
};

// Restarts the runtime with its output captured; returns what it wrote to the debug output.
std::string restartCapturingOutput() {
    gpu::shutdownGpuRuntime();
    DebugOutputCapture capture;
    gpu::startGpuRuntime();
    return capture.text();
}

TEST(GpuRuntime, StartsOnTheDeviceAndReportsItOnce) {
    const std::string output = restartCapturingOutput();
    ASSERT_TRUE(gpu::gpuRuntimeReady());
    const gpu::GpuContext& context = gpu::gpuContext;

    // The line names the device the context was opened on.
    char name[256] = {};
    gpu::cl.clGetDeviceInfo(context.device, CL_DEVICE_NAME, sizeof name - 1, name, nullptr);
    cl_device_type type = 0;
    gpu::cl.clGetDeviceInfo(context.device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
    const std::string kind = (type & CL_DEVICE_TYPE_GPU)           ? "GPU"
                             : (type & CL_DEVICE_TYPE_ACCELERATOR) ? "accelerator"
                             : (type & CL_DEVICE_TYPE_CPU)         ? "CPU"
                                                                   : "other";
    EXPECT_EQ(output, std::string("Lumet GPU: OpenCL ready on ") + name + " (" + kind +
                          " device)\n");
    // A CPU device keeps its buffers in host memory, which the frame's estimate then counts.
    if (type & CL_DEVICE_TYPE_CPU) {
        EXPECT_TRUE(context.sharesHostMemory);
    }

    // POCL offers only a CPU device: with LUMET_OPENCL=any the last query (any type) found it.
    gpu::cl.clGetDeviceInfo(context.device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
    cl_uint gpuDevices = 0;
    cl_platform_id platform = nullptr;
    gpu::cl.clGetPlatformIDs(1, &platform, nullptr);
    const bool platformHasGpu = gpu::cl.clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 0, nullptr,
                                                       &gpuDevices) == CL_SUCCESS &&
                                gpuDevices > 0;
    if (!platformHasGpu) {
        EXPECT_NE(type & CL_DEVICE_TYPE_CPU, 0u);
    }

    // A second start-up while ready does nothing (and says nothing).
    {
        DebugOutputCapture capture;
        gpu::startGpuRuntime();
        EXPECT_EQ(capture.text(), "");
    }
}

TEST(GpuRuntime, ShutDownReleasesEverythingAndOperationsDecline) {
    testing::requireGpuRuntime();
    {
        GpuLockHold hold;
        std::vector<float> plane = testing::randomPlane(16 * 8, 3);
        ASSERT_TRUE(gpu::blurPlaneGpu(plane.data(), 16, 8, 2));
        EXPECT_GT(gpu::gpuContext.scratchCapacity, 0);
    }
    gpu::shutdownGpuRuntime();
    EXPECT_FALSE(gpu::gpuRuntimeReady());
    EXPECT_EQ(gpu::gpuContext.scratchA, nullptr);
    EXPECT_EQ(gpu::gpuContext.context, nullptr);
    EXPECT_EQ(gpu::gpuContext.kernels[0], nullptr);
    // A second shut-down without a ready runtime makes no OpenCL call and changes nothing.
    gpu::shutdownGpuRuntime();
    {
        GpuLockHold hold;
        std::vector<float> plane = testing::randomPlane(16 * 8, 4);
        const std::vector<float> before = plane;
        EXPECT_FALSE(gpu::blurPlaneGpu(plane.data(), 16, 8, 2));
        std::vector<std::uint8_t> alpha(16 * 8, 255);
        EXPECT_FALSE(gpu::distanceTransformGpu(alpha.data(), plane.data(), 16, 8));
        EXPECT_EQ(plane, before);
    }
    testing::requireGpuRuntime();
}

TEST(GpuRuntime, KernelSourceThatFailsToBuildLeavesTheCpuWithTheBuildLog) {
    gpu::setKernelSourceForTesting("kernel void broken(global float* x) { x[0] = undeclared; }\n");
    const std::string output = restartCapturingOutput();
    gpu::setKernelSourceForTesting(nullptr);
    EXPECT_FALSE(gpu::gpuRuntimeReady());
    // (The driver's compiler may print diagnostics of its own to the same stream first.)
    const std::string header = "Lumet GPU: kernel build failed:\n";
    const std::size_t at = output.find(header);
    ASSERT_NE(at, std::string::npos) << output;
    // The second part is the compiler's log, which names the offending identifier.
    EXPECT_NE(output.find("undeclared", at + header.size()), std::string::npos) << output;
    {
        GpuLockHold hold;
        std::vector<float> plane = testing::randomPlane(8 * 8, 5);
        EXPECT_FALSE(gpu::blurPlaneGpu(plane.data(), 8, 8, 1));
    }
    // A source that builds but lacks one of the kernels fails silently.
    gpu::setKernelSourceForTesting(
        "kernel void env_reflection(global float* x) { x[0] = 1.0f; }\n");
    const std::string silent = restartCapturingOutput();
    gpu::setKernelSourceForTesting(nullptr);
    EXPECT_FALSE(gpu::gpuRuntimeReady());
    EXPECT_EQ(silent, "");

    testing::requireGpuRuntime();
}

// Sets (or, given null, removes) a variable of this process's environment.
void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");  // an empty value removes it
#else
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// LUMET_OPENCL=off or 0 (any case) keeps start-up from doing anything, silently; "any" accepts a
// CPU device; other values and no value ask for a GPU or an accelerator, which a machine whose
// only device is a CPU runtime (POCL here) does not have.
TEST(GpuRuntime, TheEnvironmentSwitchKeepsTheRuntimeOff) {
    for (const char* off : {"off", "OFF", "0"}) {
        SCOPED_TRACE(off);
        setEnvironment("LUMET_OPENCL", off);
        EXPECT_EQ(restartCapturingOutput(), "");
        EXPECT_FALSE(gpu::gpuRuntimeReady());
        EXPECT_EQ(gpu::gpuContext.context, nullptr);
    }
    for (const char* gpuOnly : {"auto", "on", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(gpuOnly ? gpuOnly : "(unset)");
        setEnvironment("LUMET_OPENCL", gpuOnly);
        const std::string output = restartCapturingOutput();
        if (gpu::gpuRuntimeReady()) {
            EXPECT_EQ(output.find("(CPU device)"), std::string::npos) << output;
        } else {
            EXPECT_EQ(output, "");
        }
    }
    setEnvironment("LUMET_OPENCL", "ANY");
    EXPECT_NE(restartCapturingOutput().find("Lumet GPU: OpenCL ready on "), std::string::npos);
    EXPECT_TRUE(gpu::gpuRuntimeReady());
    testing::requireGpuRuntime();
}

TEST(GpuRuntime, OnlyTheThreadHoldingTheGpuLockUsesTheDevice) {
    testing::requireGpuRuntime();
    std::vector<float> plane = testing::randomPlane(32 * 16, 6);
    const std::vector<float> original = plane;
    // Without the lock every offer is declined and nothing is touched.
    EXPECT_FALSE(gpu::gpuHeldByThisThread());
    EXPECT_FALSE(gpu::blurPlaneGpu(plane.data(), 32, 16, 3));
    EXPECT_EQ(plane, original);

    GpuLockHold hold;
    EXPECT_TRUE(gpu::gpuHeldByThisThread());
    // Another thread, while this one holds the lock, fails to take it and is refused the device.
    std::atomic<int> otherThread{-1};
    std::thread other([&] {
        std::vector<float> copy = original;
        const bool took = TryEnterGpuLock();
        if (took) LeaveGpuLock();
        otherThread = (took ? 2 : 0) + (gpu::blurPlaneGpu(copy.data(), 32, 16, 3) ? 1 : 0);
    });
    other.join();
    EXPECT_EQ(otherThread.load(), 0);
    EXPECT_TRUE(gpu::blurPlaneGpu(plane.data(), 32, 16, 3));
    EXPECT_NE(plane, original);
}

}  // namespace
}  // namespace lumet
