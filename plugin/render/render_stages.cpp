// Shared pieces of the two render paths: FNV-1a alpha hash and the glow's GPU-or-CPU choice.
#include "render/render_stages.h"

#include <cmath>
#include <cstring>

#include "core/pixel_hash.h"
#include "geometry/alpha_extraction.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"
#include "render/frame_report.h"
#include "render/render_locks.h"
#include "shading/glow.h"
#include "shading/output_compose.h"

namespace lumet {

RenderSettings withFiniteValues(const RenderSettings& settings) {
    RenderSettings finite = settings;
    float* fields[] = {
        &finite.bevelDepth,  &finite.bevelSoftness, &finite.envBlur,         &finite.envScale,
        &finite.envExposure, &finite.envContrast,   &finite.envDisplacement, &finite.envRotX,
        &finite.envRotY,     &finite.metal,         &finite.opacity,         &finite.dispersion,
        &finite.lightAngle,  &finite.lightHeight,   &finite.specular,        &finite.roughness,
        &finite.anisotropy,  &finite.edgeStrength,  &finite.glowIntensity,   &finite.glowRadius,
        &finite.saturation,  &finite.tintBlend};
    for (float* field : fields) {
        if (!std::isfinite(*field)) *field = 0.0f;
    }
    for (float* color : {finite.shadowColor, finite.midColor, finite.highColor}) {
        for (int c = 0; c < 3; ++c) {
            if (!std::isfinite(color[c])) color[c] = 0.0f;
        }
    }
    return finite;
}

std::uint32_t windowAlphaHash(const std::uint8_t* alpha, const FrameWindow& window) {
    std::uint64_t hash = bytesHash64(alpha, window.pixels());
    for (const std::int32_t value :
         {window.x, window.y, window.width, window.height, window.frameWidth, window.frameHeight})
        hash = fnvMix64(hash, static_cast<std::uint32_t>(value));
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

std::uint64_t imagePixelHash(const ImageView& image) {
    if (!image) return 0;
    const std::int32_t depth = image.format.depth;
    const std::int64_t rowBytes = std::int64_t{image.format.bytesPerPixel()} * image.width;
    auto row = [&](std::int32_t y) { return reinterpret_cast<const unsigned char*>(image.row(y)); };
    Plane<std::uint64_t> rowHashes = allocatePlane<std::uint64_t>(image.height);
    if (!rowHashes) {
        // Without room for the rows' hashes, one row after another: the same value.
        std::uint64_t hash = rowFoldStart(image.width, image.height, depth);
        for (std::int32_t y = 0; y < image.height; ++y)
            hash = fnvMix64(hash, bytesHash64(row(y), rowBytes));
        return rowFoldFinish(hash);
    }
    ParallelRows(image.height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) rowHashes[y] = bytesHash64(row(y), rowBytes);
    });
    return foldRowHashes(image.width, image.height, depth, rowHashes.get());
}

bool makeFrameCoverage(const std::uint8_t* layerAlpha, const FrameWindow& layerRect,
                       const FrameWindow& window, const FrameWindow& area,
                       FrameCoverage& coverage) {
    coverage.window = allocatePlane<std::uint8_t>(window.pixels());
    if (!coverage.window) return false;
    copyWindowZeroAround(layerAlpha, layerRect, coverage.window.get(), window);
    if (!smoothAlphaEdgesInPlace(coverage.window.get(), window.width, window.height)) return false;
    coverage.area = coverage.window.get();
    if (area.width != window.width || area.height != window.height) {
        coverage.ownArea = allocatePlane<std::uint8_t>(area.pixels());
        if (!coverage.ownArea) return false;
        copyWindow(coverage.window.get(), window, coverage.ownArea.get(), area);
        coverage.area = coverage.ownArea.get();
    }
    return true;
}

void writeTransparentFrame(const RenderSettings& settings, std::int32_t W, std::int32_t H,
                           std::int32_t SS, std::int32_t dx, std::int32_t dy,
                           const ImageView& output, std::int32_t outputX, std::int32_t outputY) {
    const FrameWindow none{0, 0, 0, 0, W, H};
    FramePlanes planes;
    planes.settings = &settings;
    planes.W = W, planes.H = H, planes.SS = SS, planes.W2 = W * SS, planes.H2 = H * SS;
    planes.dx = dx, planes.dy = dy;
    planes.window = planes.geometryWindow = none;
    notifyFrameObserver(planes);
    composeOutput(none, none, {}, {}, {}, {}, EnvMap{}, settings, SS, output, outputX,
                  outputY);
}

bool computeGlowPlanes(bool holdsGpuLock, const RgbPlanes<const float>& shade,
                       const FrameWindow& shadeAt, PlaneView<const std::uint8_t> alpha,
                       const RgbaPlanes<float>& glow, float glowRadius) {
    const std::int64_t N = static_cast<std::int64_t>(alpha.width) * alpha.height;
    // The device glow reads the shade over the whole frame: zero around shadeAt.
    auto onGpu = [&] {
        if (shadeAt.isWhole()) return gpu::renderGlowGpu(shade, alpha, glow, glowRadius);
        Plane<float> wide[3];
        const PlaneView<const float> from[3] = {shade.r, shade.g, shade.b};
        for (int c = 0; c < 3; ++c) {
            wide[c] = allocatePlane<float>(N);
            if (!wide[c]) return false;
            copyWindowZeroAround(from[c].data, shadeAt, wide[c].get(),
                                 FrameWindow::whole(alpha.width, alpha.height));
        }
        return gpu::renderGlowGpu(RgbPlanes<const float>(wide[0].get(), wide[1].get(),
                                                         wide[2].get(), alpha.width, alpha.height),
                                  alpha, glow, glowRadius);
    };
    bool done = false;
    if (holdsGpuLock) {
        done = onGpu();
    } else if (gpu::gpuRuntimeReady()) {
        // Another render may own the GPU; the glow waits for it rather than taking the CPU path.
        EnterGpuLock();
        done = onGpu();
        LeaveGpuLock();
    }
    if (done) return true;
    Plane<float> planes[kGlowMostWorkPlanes];
    float* work[kGlowMostWorkPlanes];
    for (int k = 0; k < glowWorkPlaneCount(); ++k) {
        planes[k] = allocatePlane<float>(N);
        if (!planes[k]) return false;
        work[k] = planes[k].get();
    }
    return renderGlow(shade, shadeAt, alpha, glow, glowRadius, nullptr, work);
}

}  // namespace lumet
