// The OpenCL entry points the effect uses, resolved by name from the system's OpenCL library at
// run time. The effect never links an OpenCL library: a machine without one simply renders on the
// CPU. Only the types of the Khronos headers are used here.
#pragma once
#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#ifndef CL_USE_DEPRECATED_OPENCL_1_2_APIS
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#endif
#include <CL/cl.h>

namespace lumet::gpu {

// The library's module handle and its 20 functions, in the order they are resolved. A non-null
// module means every pointer is set.
struct OpenClEntryPoints {
    void* module;
    cl_int(CL_API_CALL* clGetPlatformIDs)(cl_uint, cl_platform_id*, cl_uint*);
    cl_int(CL_API_CALL* clGetDeviceIDs)(cl_platform_id, cl_device_type, cl_uint, cl_device_id*,
                                        cl_uint*);
    cl_int(CL_API_CALL* clGetDeviceInfo)(cl_device_id, cl_device_info, size_t, void*, size_t*);
    cl_context(CL_API_CALL* clCreateContext)(
        const cl_context_properties*, cl_uint, const cl_device_id*,
        void(CL_CALLBACK*)(const char*, const void*, size_t, void*), void*, cl_int*);
    cl_command_queue(CL_API_CALL* clCreateCommandQueue)(cl_context, cl_device_id,
                                                        cl_command_queue_properties, cl_int*);
    cl_program(CL_API_CALL* clCreateProgramWithSource)(cl_context, cl_uint, const char**,
                                                       const size_t*, cl_int*);
    cl_int(CL_API_CALL* clBuildProgram)(cl_program, cl_uint, const cl_device_id*, const char*,
                                        void(CL_CALLBACK*)(cl_program, void*), void*);
    cl_int(CL_API_CALL* clGetProgramBuildInfo)(cl_program, cl_device_id, cl_program_build_info,
                                               size_t, void*, size_t*);
    cl_kernel(CL_API_CALL* clCreateKernel)(cl_program, const char*, cl_int*);
    cl_int(CL_API_CALL* clSetKernelArg)(cl_kernel, cl_uint, size_t, const void*);
    cl_int(CL_API_CALL* clEnqueueNDRangeKernel)(cl_command_queue, cl_kernel, cl_uint, const size_t*,
                                                const size_t*, const size_t*, cl_uint,
                                                const cl_event*, cl_event*);
    cl_int(CL_API_CALL* clEnqueueReadBuffer)(cl_command_queue, cl_mem, cl_bool, size_t, size_t,
                                             void*, cl_uint, const cl_event*, cl_event*);
    cl_int(CL_API_CALL* clEnqueueWriteBuffer)(cl_command_queue, cl_mem, cl_bool, size_t, size_t,
                                              const void*, cl_uint, const cl_event*, cl_event*);
    cl_mem(CL_API_CALL* clCreateBuffer)(cl_context, cl_mem_flags, size_t, void*, cl_int*);
    cl_int(CL_API_CALL* clReleaseMemObject)(cl_mem);
    cl_int(CL_API_CALL* clReleaseKernel)(cl_kernel);
    cl_int(CL_API_CALL* clReleaseProgram)(cl_program);
    cl_int(CL_API_CALL* clReleaseCommandQueue)(cl_command_queue);
    cl_int(CL_API_CALL* clReleaseContext)(cl_context);
    cl_int(CL_API_CALL* clFinish)(cl_command_queue);
};

// The process-wide table. Its pointers are valid while `module` is non-null.
extern OpenClEntryPoints cl;

// Loads the OpenCL library and resolves the table; true when it is complete (at once when it was
// already loaded). The library then stays loaded for the life of the process.
bool loadOpenClEntryPoints();

}  // namespace lumet::gpu
