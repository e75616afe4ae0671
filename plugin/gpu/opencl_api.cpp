// Run-time loading of the OpenCL library: the Windows "OpenCL.dll" or the ICD loader
// "libOpenCL.so.1" elsewhere, with its entry points resolved one by one by name.
#include "gpu/opencl_api.h"

#include "platform/platform.h"

namespace lumet::gpu {

OpenClEntryPoints cl = {};

namespace {

#ifdef _WIN32
constexpr const char* kOpenClLibrary = "OpenCL.dll";
#else
constexpr const char* kOpenClLibrary = "libOpenCL.so.1";
#endif

template <typename Function>
bool resolve(void* module, Function& slot, const char* name) {
    slot = reinterpret_cast<Function>(platform::findFunction(module, name));
    return slot != nullptr;
}

}  // namespace

bool loadOpenClEntryPoints() {
    if (cl.module) return true;
    void* module = platform::loadSystemLibrary(kOpenClLibrary);
    if (!module) return false;
    OpenClEntryPoints table = {};
    // The order is the order of the table; the first missing name abandons the library.
    const bool complete =
        resolve(module, table.clGetPlatformIDs, "clGetPlatformIDs") &&
        resolve(module, table.clGetDeviceIDs, "clGetDeviceIDs") &&
        resolve(module, table.clGetDeviceInfo, "clGetDeviceInfo") &&
        resolve(module, table.clCreateContext, "clCreateContext") &&
        resolve(module, table.clCreateCommandQueue, "clCreateCommandQueue") &&
        resolve(module, table.clCreateProgramWithSource, "clCreateProgramWithSource") &&
        resolve(module, table.clBuildProgram, "clBuildProgram") &&
        resolve(module, table.clGetProgramBuildInfo, "clGetProgramBuildInfo") &&
        resolve(module, table.clCreateKernel, "clCreateKernel") &&
        resolve(module, table.clSetKernelArg, "clSetKernelArg") &&
        resolve(module, table.clEnqueueNDRangeKernel, "clEnqueueNDRangeKernel") &&
        resolve(module, table.clEnqueueReadBuffer, "clEnqueueReadBuffer") &&
        resolve(module, table.clEnqueueWriteBuffer, "clEnqueueWriteBuffer") &&
        resolve(module, table.clCreateBuffer, "clCreateBuffer") &&
        resolve(module, table.clReleaseMemObject, "clReleaseMemObject") &&
        resolve(module, table.clReleaseKernel, "clReleaseKernel") &&
        resolve(module, table.clReleaseProgram, "clReleaseProgram") &&
        resolve(module, table.clReleaseCommandQueue, "clReleaseCommandQueue") &&
        resolve(module, table.clReleaseContext, "clReleaseContext") &&
        resolve(module, table.clFinish, "clFinish");
    if (!complete) {
        platform::freeLibrary(module);
        cl = {};
        return false;
    }
    table.module = module;
    cl = table;
    return true;
}

}  // namespace lumet::gpu
