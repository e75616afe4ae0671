// Shared pieces of the two render paths: FNV-1a alpha hash and the glow's GPU-or-CPU choice.
#include "render/render_stages.h"

#include <cmath>
#include <cstring>

#include "geometry/alpha_extraction.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
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

std::uint32_t fnv1a32(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash;
}

std::uint32_t windowAlphaHash(const std::uint8_t* alpha, const FrameWindow& window) {
    std::uint32_t hash = fnv1a32(alpha, static_cast<std::size_t>(window.pixels()));
    const std::int32_t place[6] = {window.x,      window.y,          window.width,
                                   window.height, window.frameWidth, window.frameHeight};
    std::uint8_t bytes[sizeof place];
    std::memcpy(bytes, place, sizeof place);
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

std::uint64_t worldPixelHash(const PF_EffectWorld& world, std::int32_t depth) {
    if (!world.data || world.width < 1 || world.height < 1) return 0;
    const std::int64_t pixelBytes = depth == kDepthFloat ? 16 : depth == kDepth16 ? 8 : 4;
    const std::int64_t rowBytes = pixelBytes * world.width;
    // FNV-1a over 64-bit words: a frame's layer is hashed on every frame while the smart edge is
    // on, so it takes eight bytes per step.
    constexpr std::uint64_t prime = 1099511628211ull;
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&](std::uint64_t word) { hash = (hash ^ word) * prime; };
    mix(static_cast<std::uint64_t>(world.width));
    mix(static_cast<std::uint64_t>(world.height));
    mix(static_cast<std::uint64_t>(depth));
    const auto* base = reinterpret_cast<const unsigned char*>(world.data);
    for (std::int32_t y = 0; y < world.height; ++y) {
        const unsigned char* row = base + static_cast<std::int64_t>(y) * world.rowbytes;
        std::int64_t i = 0;
        for (; i + 8 <= rowBytes; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, row + i, 8);
            mix(word);
        }
        for (; i < rowBytes; ++i) mix(row[i]);
    }
    return hash == 0 ? 1 : hash;
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
                           PF_EffectWorld& output) {
    const FrameWindow none{0, 0, 0, 0, W, H};
    FramePlanes planes;
    planes.settings = &settings;
    planes.W = W, planes.H = H, planes.SS = SS, planes.W2 = W * SS, planes.H2 = H * SS;
    planes.dx = dx, planes.dy = dy;
    planes.window = planes.geometryWindow = none;
    notifyFrameObserver(planes);
    composeOutput(none, none, {}, {}, {}, {}, EnvMap{}, settings, SS, pixelDepthOf(output), output);
}

bool computeGlowPlanes(bool holdsGpuLock, const RgbPlanes<const float>& shade,
                       PlaneView<const std::uint8_t> alpha, const RgbaPlanes<float>& glow,
                       float glowRadius, float* scratch, std::int64_t scratchCount,
                       float* const work[kGlowWorkPlanes]) {
    bool done = false;
    if (holdsGpuLock) {
        done = gpu::renderGlowGpu(shade, alpha, glow, glowRadius);
    } else if (gpu::gpuRuntimeReady()) {
        // Another render may own the GPU; the glow waits for it rather than taking the CPU path.
        EnterGpuLock();
        done = gpu::renderGlowGpu(shade, alpha, glow, glowRadius);
        LeaveGpuLock();
    }
    if (done) return true;
    Plane<float> ownScratch;
    if (!scratch) {
        ownScratch = allocatePlane<float>(scratchCount);
        if (!ownScratch) return false;
        scratch = ownScratch.get();
    }
    renderGlow(shade, alpha, glow, glowRadius, scratch, work);
    return true;
}

}  // namespace lumet
