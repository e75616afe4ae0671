// GpuContext: the process-wide OpenCL state (device, context, queue, program, the kernel objects
// and the device buffers that GPU operations keep between frames), with its start-up, shut-down
// and the release of its buffer groups.
#pragma once
#include <cstdint>

#include "gpu/opencl_api.h"

namespace lumet::gpu {

// The kernel objects, in the order they are created.
enum KernelId : int {
    kEnvReflection,
    kShadePixel,
    kGlowExtract,
    kBlurH,
    kBlurV,
    kEnvBlurH,
    kBlurVSecond,  // a second object of blur_v, built but not dispatched
    kDownsample2x,
    kUpsampleBlend,
    kComputeNormals,
    kEdtPhase1,
    kEdtPhase2,
    kSobelEdge,
    kCarveHeightmap,
    kReduceMax,
    kNormalizeScale,
    kEdgeBlend,
    kGlowAccumulate,
    kGlowCompress,
    kContentRows,
    kNormalRows,
    kKernelCount
};

// The kernel function each object is created from.
extern const char* const kKernelNames[kKernelCount];

struct GpuContext {
    bool ready;
    // The device rounds division and square root correctly and keeps denormals, so the kernels
    // (built without contraction or relaxed math) give the CPU's floats. Where it does not, a
    // frame's floats may differ slightly from the CPU's; the renders then wait for the device
    // rather than render some frames on the CPU (see render_locks.h).
    bool matchesCpu;
    // The device's buffers live in host memory (a CPU device, or an integrated GPU that says so),
    // so the frame's memory estimate counts them.
    bool sharesHostMemory;
    cl_context context;
    cl_command_queue queue;
    cl_device_id device;
    cl_program program;
    cl_kernel kernels[kKernelCount];

    // Distance transform: alpha bytes, column distances g, distances, the two parabola stacks.
    cl_mem dtAlpha, dtColumns, dtDistance, dtStackS, dtStackT;
    std::int32_t dtWidth, dtHeight;

    // Scratch pair of the integer blurs.
    cl_mem scratchA, scratchB;
    std::int64_t scratchCapacity;

    // Environment map: sharp R, G, B then smooth R, G, B.
    cl_mem envPlanes[6];
    std::int32_t envWidth, envHeight;
    bool envUploaded;

    // Reflection: normals, alpha, heights, output R, G, B, the flags of the rows with surface.
    cl_mem reflNormals, reflAlpha, reflHeights, reflOut[3], reflRows;
    std::int32_t reflWidth, reflHeight;
    bool reflValid;

    // Shading: alpha, heights, normals, environment R, G, B, output R, G, B, power table, the
    // flags of the rows with content.
    cl_mem shadeAlpha, shadeHeights, shadeNormals, shadeEnv[3], shadeOut[3], shadeParams, shadeRows;
    std::int32_t shadeWidth, shadeHeight;
    bool shadeValid;

    // What the kept device copies were made from: the content revisions (never 0) that the
    // renders hand in with their planes. 0 means unknown, so the next call uploads. Any render
    // path, with or without the GPU on earlier frames, may have changed the host planes since,
    // so the copies are matched to the planes by revision, never by a frame's own dirty flags.
    std::uint64_t envRevision;
    std::uint64_t reflGeometryRevision;
    std::uint64_t shadeGeometryRevision, shadeReflectionRevision;
};

// The one context of the process.
extern GpuContext gpuContext;

// Start-up; true when the runtime is ready. Any failure leaves `ready` clear.
bool startGpuContext(GpuContext& context);
// Releases everything and zeroes the context; nothing happens when `ready` is clear.
void shutdownGpuContext(GpuContext& context);

void releaseReflectionGroup(GpuContext& context);
void releaseShadingGroup(GpuContext& context);
void releaseScratchPair(GpuContext& context);
void releaseDistanceGroup(GpuContext& context);
void releaseEnvGroup(GpuContext& context);

// Releases a buffer when present and clears the handle.
void releaseBuffer(cl_mem& buffer);

// The embedded kernel source, zero-terminated.
const char* kernelSource();
// Test-only: start-up builds `source` instead of the embedded text; null restores the embedded one.
void setKernelSourceForTesting(const char* source);
// Test-only: the next start-ups treat the device as one whose floats may differ from the CPU's.
void treatDeviceAsInexactForTesting(bool inexact);

}  // namespace lumet::gpu
