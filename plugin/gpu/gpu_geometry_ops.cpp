// GPU forms of the geometry work: the three-pass box blurs (one plane, a pair, a list of radii),
// the exact Euclidean distance transform and the surface normals.
#include <algorithm>
#include <cstring>

#include "gpu/gpu_dispatch.h"
#include "gpu/gpu_ops.h"
#include "parallel/blur.h"
#include "platform/plane.h"

namespace lumet::gpu {

namespace {

// One box pass of integer radius: rows of `plane` into `scratch`, then columns back.
bool boxPass(cl_mem plane, cl_mem scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius) {
    const float fraction = 0.0f;
    cl_kernel blurH = gpuContext.kernels[kBlurH];
    cl_kernel blurV = gpuContext.kernels[kBlurV];
    return setArguments(blurH, plane, scratch, width, height, radius, fraction) &&
           enqueue1D(blurH, static_cast<std::size_t>(height)) &&
           setArguments(blurV, scratch, plane, width, height, radius, fraction) &&
           enqueue1D(blurV, static_cast<std::size_t>(width));
}

bool threePasses(cl_mem plane, cl_mem scratch, std::int32_t width, std::int32_t height,
                 std::int32_t radius) {
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    for (std::int32_t r : radii)
        if (!boxPass(plane, scratch, width, height, r)) return false;
    return true;
}

bool validSize(std::int32_t width, std::int32_t height) { return width > 0 && height > 0; }

}  // namespace

bool ensureScratchPair(std::int64_t bytes) {
    GpuContext& g = gpuContext;
    if (bytes <= 0) return false;
    if (g.scratchA && g.scratchB && g.scratchCapacity >= bytes) return true;
    releaseScratchPair(g);
    g.scratchA = createBuffer(CL_MEM_READ_WRITE, static_cast<std::size_t>(bytes));
    g.scratchB = createBuffer(CL_MEM_READ_WRITE, static_cast<std::size_t>(bytes));
    if (!g.scratchA || !g.scratchB) {
        releaseScratchPair(g);
        return false;
    }
    g.scratchCapacity = bytes;
    return true;
}

bool blurPlaneGpu(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius) {
    if (!gpuUsable() || radius < 1 || !plane || !validSize(width, height)) return false;
    const std::size_t bytes = planeBytesOf(std::int64_t{width} * height, sizeof(float));
    if (!ensureScratchPair(static_cast<std::int64_t>(bytes))) return false;
    GpuContext& g = gpuContext;
    const bool ok = uploadBuffer(g.scratchA, plane, bytes) &&
                    threePasses(g.scratchA, g.scratchB, width, height, radius);
    // Finish before returning either way: the upload reads the caller's plane.
    if (!finishQueue() || !ok) return false;
    return readBuffer(g.scratchA, plane, bytes);
}

bool blurPlanePairGpu(float* planeA, float* planeB, std::int32_t width, std::int32_t height,
                      std::int32_t radius) {
    if (!gpuUsable() || radius < 1 || !planeA || !planeB || !validSize(width, height)) return false;
    const std::size_t bytes = planeBytesOf(std::int64_t{width} * height, sizeof(float));
    cl_mem buffers[4] = {};
    for (cl_mem& buffer : buffers) buffer = createBuffer(CL_MEM_READ_WRITE, bytes);
    auto releaseAll = [&] {
        for (cl_mem& buffer : buffers) releaseBuffer(buffer);
    };
    if (!buffers[0] || !buffers[1] || !buffers[2] || !buffers[3]) {
        releaseAll();
        return false;
    }
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    bool ok = uploadBuffer(buffers[0], planeA, bytes) && uploadBuffer(buffers[2], planeB, bytes);
    for (int pass = 0; pass < 3 && ok; ++pass)
        ok = boxPass(buffers[0], buffers[1], width, height, radii[pass]) &&
             boxPass(buffers[2], buffers[3], width, height, radii[pass]);
    // The planes are blurred in place and a false answer has the CPU blur both: the first result
    // waits in a plane of its own until the second has arrived, so that a failed read leaves
    // both planes as they were.
    Plane<float> first = allocatePlane<float>(std::int64_t{width} * height);
    ok = finishQueue() && ok && first && readBuffer(buffers[0], first.get(), bytes) &&
         readBuffer(buffers[2], planeB, bytes);
    if (ok) std::memcpy(planeA, first.get(), bytes);
    releaseAll();
    return ok;
}

bool blurPlaneRadiiGpu(float* plane, std::int32_t width, std::int32_t height,
                       const std::int32_t* radii, std::int32_t count) {
    if (!gpuUsable() || count < 1 || !radii || !plane || !validSize(width, height)) return false;
    const std::size_t bytes = planeBytesOf(std::int64_t{width} * height, sizeof(float));
    if (!ensureScratchPair(static_cast<std::int64_t>(bytes))) return false;
    GpuContext& g = gpuContext;
    bool ok = uploadBuffer(g.scratchA, plane, bytes);
    for (std::int32_t i = 0; i < count && ok; ++i)
        if (radii[i] > 0) ok = threePasses(g.scratchA, g.scratchB, width, height, radii[i]);
    if (!finishQueue() || !ok) return false;
    return readBuffer(g.scratchA, plane, bytes);
}

bool distanceTransformGpu(const std::uint8_t* alpha, float* distance, std::int32_t width,
                          std::int32_t height) {
    if (!gpuUsable() || !alpha || !distance || !validSize(width, height)) return false;
    GpuContext& g = gpuContext;
    const std::int64_t count = std::int64_t{width} * height;
    const std::size_t intBytes = planeBytesOf(count, sizeof(std::int32_t));
    if (g.dtAlpha && (g.dtWidth != width || g.dtHeight != height)) releaseDistanceGroup(g);
    if (!g.dtAlpha) {
        g.dtAlpha = createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 1));
        g.dtColumns = createBuffer(CL_MEM_READ_WRITE, intBytes);
        g.dtDistance = createBuffer(CL_MEM_READ_WRITE, intBytes);
        g.dtStackS = createBuffer(CL_MEM_READ_WRITE, intBytes);
        g.dtStackT = createBuffer(CL_MEM_READ_WRITE, intBytes);
        if (!g.dtAlpha || !g.dtColumns || !g.dtDistance || !g.dtStackS || !g.dtStackT) {
            releaseDistanceGroup(g);
            return false;
        }
        g.dtWidth = width;
        g.dtHeight = height;
    }
    if (!uploadBuffer(g.dtAlpha, alpha, planeBytesOf(count, 1))) {
        finishQueue();
        return false;
    }
    cl_kernel phase1 = g.kernels[kEdtPhase1];
    if (!setArguments(phase1, g.dtAlpha, g.dtColumns, width, height) ||
        !enqueue1D(phase1, static_cast<std::size_t>(width))) {
        finishQueue();
        return false;
    }
    finishQueue();
    // Each row owns `width` entries of both stacks, as many as its envelope can ever hold.
    const std::int32_t maxStack = width;
    cl_kernel phase2 = g.kernels[kEdtPhase2];
    if (!setArguments(phase2, g.dtColumns, g.dtDistance, g.dtStackS, g.dtStackT, width, height,
                      maxStack) ||
        !enqueue1D(phase2, static_cast<std::size_t>(height))) {
        finishQueue();
        return false;
    }
    return finishQueue() && readBuffer(g.dtDistance, distance, intBytes);
}

bool computeNormalsGpu(const float* heights, const std::uint8_t* alpha, float* normals,
                       std::int32_t width, std::int32_t height, float bevelStrength,
                       const float* smoothingTaps, const float* derivativeTaps) {
    if (!gpuUsable() || !heights || !alpha || !normals || !smoothingTaps || !derivativeTaps ||
        !validSize(width, height))
        return false;
    const std::int64_t count = std::int64_t{width} * height;
    const std::size_t floatBytes = planeBytesOf(count, sizeof(float));
    float taps[18];
    std::copy(smoothingTaps, smoothingTaps + 9, taps);
    std::copy(derivativeTaps, derivativeTaps + 9, taps + 9);
    // Heights, alpha, the taps, the two row-filtered planes and the normals.
    cl_mem buffers[6] = {createBuffer(CL_MEM_READ_ONLY, floatBytes),
                         createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 1)),
                         createBuffer(CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, sizeof taps, taps),
                         createBuffer(CL_MEM_READ_WRITE, floatBytes),
                         createBuffer(CL_MEM_READ_WRITE, floatBytes),
                         createBuffer(CL_MEM_WRITE_ONLY, planeBytesOf(count, 3 * sizeof(float)))};
    auto releaseAll = [&] {
        for (cl_mem& buffer : buffers) releaseBuffer(buffer);
    };
    for (cl_mem buffer : buffers) {
        if (!buffer) {
            releaseAll();
            return false;
        }
    }
    const auto [heightBuffer, alphaBuffer, tapBuffer, derivX, smoothX, normalBuffer] = buffers;
    cl_kernel rows = gpuContext.kernels[kNormalRows];
    cl_kernel kernel = gpuContext.kernels[kComputeNormals];
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    bool ok = uploadBuffer(heightBuffer, heights, floatBytes) &&
              uploadBuffer(alphaBuffer, alpha, planeBytesOf(count, 1)) &&
              setArguments(rows, heightBuffer, tapBuffer, derivX, smoothX, width, height) &&
              enqueue2D(rows, w, h) &&
              setArguments(kernel, heightBuffer, alphaBuffer, derivX, smoothX, tapBuffer,
                           normalBuffer, width, height, bevelStrength) &&
              enqueue2D(kernel, w, h);
    ok = finishQueue() && ok &&
         readBuffer(normalBuffer, normals, planeBytesOf(count, 3 * sizeof(float)));
    releaseAll();
    return ok;
}

}  // namespace lumet::gpu
