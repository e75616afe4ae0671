// GPU forms of the shading work: the environment map upload, the environment reflection, the
// surface shading (with its 2 x 2 reduction) and the two-scale glow. The map, reflection and
// shading keep their device buffers between frames and upload only what changed, as told by the
// content revisions of their inputs.
#include <algorithm>

#include "core/glow_pass.h"
#include "core/shade_constants.h"
#include "core/stage_constants.h"
#include "envmap/env_map.h"
#include "gpu/gpu_dispatch.h"
#include "gpu/gpu_ops.h"
#include "params/render_settings.h"
#include "shading/env_reflection.h"

namespace lumet::gpu {

namespace {

bool validSize(std::int32_t width, std::int32_t height) { return width > 0 && height > 0; }

// Three box passes of fractional radius on one device buffer, for the glow: radii 0.45 R, 0.40 R
// and 0.35 R, each at least 1, with their fractional parts (the CPU glow's passes).
bool fractionalBlur(cl_mem buffer, std::int32_t width, std::int32_t height, float radius) {
    if (radius < 0.5f) return true;
    cl_mem scratch =
        createBuffer(CL_MEM_READ_WRITE, planeBytesOf(std::int64_t{width} * height, sizeof(float)));
    if (!scratch) return false;
    cl_kernel blurH = gpuContext.kernels[kBlurH];
    cl_kernel blurV = gpuContext.kernels[kBlurV];
    for (int pass = 0; pass < 3; ++pass) {
        const float r = glowBoxRadius(radius, pass);
        const std::int32_t whole = static_cast<std::int32_t>(r);
        const float fraction = r - static_cast<float>(whole);
        const bool ok = setArguments(blurH, buffer, scratch, width, height, whole, fraction) &&
                        enqueue1D(blurH, static_cast<std::size_t>(height)) && finishQueue() &&
                        setArguments(blurV, scratch, buffer, width, height, whole, fraction) &&
                        enqueue1D(blurV, static_cast<std::size_t>(width)) && finishQueue();
        if (!ok) {
            finishQueue();
            releaseBuffer(scratch);
            return false;
        }
    }
    releaseBuffer(scratch);
    return true;
}

// The shading group made for width x height (kept when it already is); false when a buffer
// could not be had (the group is then released).
bool holdShadingGroup(GpuContext& g, std::int32_t width, std::int32_t height) {
    if (g.shadeValid && g.shadeWidth == width && g.shadeHeight == height) return true;
    releaseShadingGroup(g);
    const std::int64_t count = std::int64_t{width} * height;
    const std::size_t floatBytes = planeBytesOf(count, sizeof(float));
    g.shadeAlpha = createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 1));
    g.shadeHeights = createBuffer(CL_MEM_READ_ONLY, floatBytes);
    g.shadeNormals = createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 3 * sizeof(float)));
    for (cl_mem& buffer : g.shadeEnv) buffer = createBuffer(CL_MEM_READ_ONLY, floatBytes);
    for (cl_mem& buffer : g.shadeOut) buffer = createBuffer(CL_MEM_READ_WRITE, floatBytes);
    g.shadeParams = createBuffer(CL_MEM_READ_ONLY, sizeof(ShadeParams));
    g.shadeRows = createBuffer(CL_MEM_READ_WRITE, static_cast<std::size_t>(height));
    bool complete =
        g.shadeAlpha && g.shadeHeights && g.shadeNormals && g.shadeParams && g.shadeRows;
    for (int c = 0; c < 3; ++c) complete = complete && g.shadeEnv[c] && g.shadeOut[c];
    if (!complete) {
        releaseShadingGroup(g);
        return false;
    }
    g.shadeWidth = width;
    g.shadeHeight = height;
    g.shadeValid = true;
    g.shadeGeometryRevision = 0;
    g.shadeReflectionRevision = 0;
    return true;
}

// Reads the shaded planes (width x height) into `out`: as they are, or with SS = 2 reduced 2 x 2
// on the device to out's size first.
bool readShadedPlanes(GpuContext& g, const RgbPlanes<float>& out, std::int32_t SS,
                      std::int32_t width, std::int32_t height) {
    const std::int32_t outW = out.r.width, outH = out.r.height;
    float* outputs[3] = {out.r.data, out.g.data, out.b.data};
    const std::size_t outBytes = planeBytesOf(std::int64_t{outW} * outH, sizeof(float));
    if (SS < 2) {
        if (!finishQueue()) return false;
        for (int c = 0; c < 3; ++c)
            if (!readBuffer(g.shadeOut[c], outputs[c], outBytes)) return false;
        return true;
    }
    cl_mem reduced[3] = {};
    for (cl_mem& buffer : reduced) buffer = createBuffer(CL_MEM_WRITE_ONLY, outBytes);
    auto releaseReduced = [&] {
        for (cl_mem& buffer : reduced) releaseBuffer(buffer);
    };
    if (!reduced[0] || !reduced[1] || !reduced[2]) {
        finishQueue();
        releaseReduced();
        return false;
    }
    cl_kernel downsample = g.kernels[kDownsample2x];
    bool ok = true;
    for (int c = 0; c < 3 && ok; ++c)
        ok = setArguments(downsample, g.shadeOut[c], reduced[c], width, height, outW, outH) &&
             enqueue2D(downsample, static_cast<std::size_t>(outW), static_cast<std::size_t>(outH));
    ok = finishQueue() && ok;
    for (int c = 0; c < 3 && ok; ++c) ok = readBuffer(reduced[c], outputs[c], outBytes);
    releaseReduced();
    return ok;
}

}  // namespace

bool uploadEnvMapGpu(const float* sharpRgb, const float* smoothRgb, std::int32_t envW,
                     std::int32_t envH, std::uint64_t envRevision) {
    if (!gpuUsable()) return false;
    GpuContext& g = gpuContext;
    if (!sharpRgb || !smoothRgb || !validSize(envW, envH)) return false;
    if (envRevision != 0 && g.envUploaded && g.envRevision == envRevision && g.envWidth == envW &&
        g.envHeight == envH)
        return true;
    g.envRevision = 0;
    const std::int64_t texels = std::int64_t{envW} * envH;
    const std::size_t bytes = planeBytesOf(texels, sizeof(float));
    if (g.envWidth != envW || g.envHeight != envH) {
        for (cl_mem& buffer : g.envPlanes) releaseBuffer(buffer);
    }
    // The channels are split on the way: planes of the sharp R, G, B, then the smooth ones.
    Plane<float> split[3] = {allocateSeldomPlane<float>(texels), allocateSeldomPlane<float>(texels),
                             allocateSeldomPlane<float>(texels)};
    if (!split[0] || !split[1] || !split[2]) return false;
    bool ok = true;
    for (int half = 0; half < 2 && ok; ++half) {
        deinterleaveRgb(half == 0 ? sharpRgb : smoothRgb, texels, split[0].get(), split[1].get(),
                        split[2].get());
        for (int c = 0; c < 3 && ok; ++c) {
            cl_mem& buffer = g.envPlanes[3 * half + c];
            if (buffer) {
                ok = uploadBuffer(buffer, split[c].get(), bytes, true);
            } else {
                buffer =
                    createBuffer(CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, bytes, split[c].get());
                ok = buffer != nullptr;
            }
        }
    }
    if (!ok) {
        releaseEnvGroup(g);
        return false;
    }
    g.envWidth = envW;
    g.envHeight = envH;
    g.envUploaded = true;
    g.envRevision = envRevision;
    return true;
}

bool renderEnvReflectionGpu(const SurfaceView& surface, const RgbPlanes<float>& out,
                            const FrameWindow& window, std::int32_t contentW, std::int32_t contentH,
                            const RenderSettings& settings, std::int32_t envW, std::int32_t envH,
                            std::uint64_t envRevision, std::uint64_t geometryRevision) {
    if (!gpuUsable()) return false;
    const std::int32_t width = window.width, height = window.height;
    GpuContext& g = gpuContext;
    if (!g.envUploaded || !surface.complete() || !out.complete() || !validSize(width, height))
        return false;
    const float* normals = surface.normals.data;
    const std::uint8_t* alpha = surface.coverage.data;
    const float* heights = surface.height.data;
    // The device must hold this frame's map, not one another render left there.
    if (envRevision == 0 || g.envRevision != envRevision) return false;
    // The kernel reads the map at the size it was uploaded with.
    if (envW != g.envWidth || envH != g.envHeight) return false;
    const std::int64_t count = std::int64_t{width} * height;
    const std::size_t floatBytes = planeBytesOf(count, sizeof(float));
    if (g.reflValid && (g.reflWidth != width || g.reflHeight != height)) releaseReflectionGroup(g);
    if (!g.reflValid) {
        releaseReflectionGroup(g);
        g.reflNormals = createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 3 * sizeof(float)));
        g.reflAlpha = createBuffer(CL_MEM_READ_ONLY, planeBytesOf(count, 1));
        g.reflHeights = createBuffer(CL_MEM_READ_ONLY, floatBytes);
        for (cl_mem& buffer : g.reflOut) buffer = createBuffer(CL_MEM_READ_WRITE, floatBytes);
        g.reflRows = createBuffer(CL_MEM_READ_WRITE, static_cast<std::size_t>(height));
        if (!g.reflNormals || !g.reflAlpha || !g.reflHeights || !g.reflOut[0] || !g.reflOut[1] ||
            !g.reflOut[2] || !g.reflRows) {
            releaseReflectionGroup(g);
            return false;
        }
        g.reflWidth = width;
        g.reflHeight = height;
        g.reflValid = true;
        g.reflGeometryRevision = 0;
    }
    if (geometryRevision == 0 || g.reflGeometryRevision != geometryRevision) {
        g.reflGeometryRevision = 0;
        if (!(uploadBuffer(g.reflNormals, normals, planeBytesOf(count, 3 * sizeof(float))) &&
              uploadBuffer(g.reflAlpha, alpha, planeBytesOf(count, 1)) &&
              uploadBuffer(g.reflHeights, heights, floatBytes))) {
            // The device copy may now be partial: make the next call upload everything.
            finishQueue();
            releaseReflectionGroup(g);
            return false;
        }
        g.reflGeometryRevision = geometryRevision;
    }
    // The rows with surface among the frame's even columns: the CPU reflection leaves the others
    // black.
    cl_kernel rows = g.kernels[kContentRows];
    const std::int32_t firstColumn = window.x & 1, step = 2, alphaMin = kSurfaceAlpha,
                       heightTest = 1;
    cl_kernel kernel = g.kernels[kEnvReflection];
    const bool ok =
        setArguments(rows, g.reflAlpha, g.reflHeights, g.reflRows, width, height, firstColumn, step,
                     width, alphaMin, heightTest, kRaisedHeight) &&
        enqueue1D(rows, static_cast<std::size_t>(height)) &&
        setArguments(kernel, g.reflNormals, g.reflAlpha, g.reflHeights, g.reflRows, g.reflOut[0],
                     g.reflOut[1], g.reflOut[2], g.envPlanes[0], g.envPlanes[1], g.envPlanes[2],
                     g.envPlanes[3], g.envPlanes[4], g.envPlanes[5], width, height, window.x,
                     window.y, window.frameWidth, window.frameHeight, envW, envH,
                     makeReflectionConstants(settings, contentW, contentH)) &&
        enqueue2D(kernel, static_cast<std::size_t>(width), static_cast<std::size_t>(height));
    if (!finishQueue() || !ok) return false;
    return readBuffer(g.reflOut[0], out.r.data, floatBytes) &&
           readBuffer(g.reflOut[1], out.g.data, floatBytes) &&
           readBuffer(g.reflOut[2], out.b.data, floatBytes);
}

bool shadeGpu(const ShadeConstants& constants, const SurfaceView& surface,
              const RgbPlanes<float>& out, std::int32_t SS, bool outerStyle,
              const FrameWindow& region, std::uint64_t geometryRevision,
              std::uint64_t reflectionRevision) {
    const std::uint8_t* alpha = surface.coverage.data;
    const float* heights = surface.height.data;
    const float* normals = surface.normals.data;
    const float *reflR = constants.envR, *reflG = constants.envG, *reflB = constants.envB;
    const std::int32_t width = surface.height.width, height = surface.height.height;
    const std::int32_t outW = out.r.width, outH = out.r.height;
    const std::int32_t bbL = region.x, bbR = region.x + region.width;
    const std::int32_t bbT = region.y, bbB = region.y + region.height;
    // The device reduces two samples per axis; finer previews are shaded on the CPU.
    if (!gpuUsable() || SS > 2) return false;
    if (!surface.complete() || !reflR || !reflG || !reflB || !out.complete() ||
        constants.width != width || constants.height != height || !validSize(width, height) ||
        !validSize(outW, outH))
        return false;
    const std::int64_t count = std::int64_t{width} * height;
    const std::int64_t outCount = std::int64_t{outW} * outH;
    if (SS < 2 ? outCount > count : (outW > width || outH > height)) return false;
    GpuContext& g = gpuContext;
    const std::size_t floatBytes = planeBytesOf(count, sizeof(float));

    if (!holdShadingGroup(g, width, height)) return false;
    bool uploaded = true;
    if (geometryRevision == 0 || g.shadeGeometryRevision != geometryRevision) {
        g.shadeGeometryRevision = 0;
        uploaded = uploadBuffer(g.shadeAlpha, alpha, planeBytesOf(count, 1)) &&
                   uploadBuffer(g.shadeHeights, heights, floatBytes) &&
                   uploadBuffer(g.shadeNormals, normals, planeBytesOf(count, 3 * sizeof(float)));
        if (uploaded) g.shadeGeometryRevision = geometryRevision;
    }
    if (uploaded && (reflectionRevision == 0 || g.shadeReflectionRevision != reflectionRevision)) {
        g.shadeReflectionRevision = 0;
        uploaded = uploadBuffer(g.shadeEnv[0], reflR, floatBytes) &&
                   uploadBuffer(g.shadeEnv[1], reflG, floatBytes) &&
                   uploadBuffer(g.shadeEnv[2], reflB, floatBytes);
        if (uploaded) g.shadeReflectionRevision = reflectionRevision;
    }
    if (uploaded)
        uploaded = uploadBuffer(g.shadeParams, &constants.shading, sizeof(ShadeParams), true);
    if (!uploaded) {
        finishQueue();
        releaseShadingGroup(g);
        return false;
    }

    // The kernel shades at the working size; the window comes in frame pixels and is scaled here.
    // The rows without content inside its columns are 0, as the CPU shading clears them.
    const std::int32_t left = SS * bbL, right = std::min(SS * bbR, width);
    const std::int32_t top = SS * bbT, bottom = std::min(SS * bbB, height);
    const std::int32_t step = 1, alphaMin = 1, heightTest = outerStyle ? 1 : 0;
    cl_kernel rows = g.kernels[kContentRows];
    cl_kernel kernel = g.kernels[kShadePixel];
    const bool enqueued =
        setArguments(rows, g.shadeAlpha, g.shadeHeights, g.shadeRows, width, height, left, step,
                     right, alphaMin, heightTest, kRaisedHeight) &&
        enqueue1D(rows, static_cast<std::size_t>(height)) &&
        setArguments(kernel, g.shadeAlpha, g.shadeHeights, g.shadeNormals, g.shadeEnv[0],
                     g.shadeEnv[1], g.shadeEnv[2], g.shadeRows, g.shadeOut[0], g.shadeOut[1],
                     g.shadeOut[2], g.shadeParams, width, height, left, right, top, bottom) &&
        enqueue2D(kernel, static_cast<std::size_t>(width), static_cast<std::size_t>(height));
    if (!enqueued) {
        finishQueue();
        releaseShadingGroup(g);
        return false;
    }

    return readShadedPlanes(g, out, SS, width, height);
}

bool renderGlowGpu(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alphaPlane,
                   const RgbaPlanes<float>& glow, float glowRadius) {
    if (!gpuUsable()) return false;
    // Also declines a radius that is not a number; below 1 the glow is the bare extraction.
    if (!(glowRadius >= 1.0f)) return false;
    const std::int32_t width = alphaPlane.width, height = alphaPlane.height;
    if (!shade.complete() || !alphaPlane || !glow.complete() || !validSize(width, height))
        return false;
    const float *shadeR = shade.r.data, *shadeG = shade.g.data, *shadeB = shade.b.data;
    const std::uint8_t* alpha = alphaPlane.data;
    float *glowR = glow.r.data, *glowG = glow.g.data, *glowB = glow.b.data, *glowA = glow.a.data;
    const std::int64_t count = std::int64_t{width} * height;
    if (count > INT32_MAX) return false;
    const std::size_t floatBytes = planeBytesOf(count, sizeof(float));
    const cl_mem_flags input = CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR;
    // Inputs, the four extracted and blurred planes of one scale, and the four sums.
    cl_mem buffers[12] = {createBuffer(input, floatBytes, shadeR),
                          createBuffer(input, floatBytes, shadeG),
                          createBuffer(input, floatBytes, shadeB),
                          createBuffer(input, planeBytesOf(count, 1), alpha)};
    for (int b = 4; b < 12; ++b) buffers[b] = createBuffer(CL_MEM_READ_WRITE, floatBytes);
    auto releaseAll = [&] {
        for (cl_mem& buffer : buffers) releaseBuffer(buffer);
    };
    for (cl_mem buffer : buffers) {
        if (!buffer) {
            releaseAll();
            return false;
        }
    }
    cl_mem* work = buffers + 4;
    cl_mem* sum = buffers + 8;
    const std::int32_t total = static_cast<std::int32_t>(count);
    cl_kernel extract = gpuContext.kernels[kGlowExtract];
    cl_kernel accumulate = gpuContext.kernels[kGlowAccumulate];
    cl_kernel compress = gpuContext.kernels[kGlowCompress];
    // The scales of the CPU glow, each three fractional box blurs of its pass radius.
    const float scales[2] = {kGlowScaleSmall, kGlowScaleLarge};
    const float weights[2] = {kGlowWeightSmall, kGlowWeightLarge};
    for (int pass = 0; pass < 2; ++pass) {
        const float passRadius = glowPassRadius(glowRadius, scales[pass]);
        bool ok = setArguments(extract, buffers[0], buffers[1], buffers[2], buffers[3], work[0],
                               work[1], work[2], work[3], total) &&
                  enqueue1D(extract, static_cast<std::size_t>(total));
        for (int c = 0; c < 4 && ok; ++c) ok = fractionalBlur(work[c], width, height, passRadius);
        const std::int32_t first = pass == 0 ? 1 : 0;
        for (int c = 0; c < 4 && ok; ++c)
            ok = setArguments(accumulate, work[c], sum[c], total, weights[pass], first) &&
                 enqueue1D(accumulate, static_cast<std::size_t>(total));
        if (!ok) {
            finishQueue();
            releaseAll();
            return false;
        }
    }
    bool ok = setArguments(compress, sum[0], sum[1], sum[2], sum[3], total) &&
              enqueue1D(compress, static_cast<std::size_t>(total));
    ok = finishQueue() && ok;
    float* outputs[4] = {glowR, glowG, glowB, glowA};
    for (int c = 0; c < 4 && ok; ++c) ok = readBuffer(sum[c], outputs[c], floatBytes);
    releaseAll();
    return ok;
}

}  // namespace lumet::gpu
