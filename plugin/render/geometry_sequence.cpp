// The geometry sequence (see geometry_sequence.h).
#include "render/geometry_sequence.h"

#include <cstring>

#include "core/preview_scale.h"
#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/pixel_bands.h"
#include "geometry/smart_edge.h"
#include "geometry/supersample.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
#include "params/render_settings.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// The GPU's forms of the geometry stages' work when this thread holds the device; CPU only
// otherwise (the GPU operations would decline there anyway).
GeometryAccelerators acceleratorsOfThisThread() {
    GeometryAccelerators accelerated;
    if (!gpu::gpuHeldByThisThread()) return accelerated;
    accelerated.blurPlane = gpu::blurPlaneGpu;
    accelerated.blurPlanePair = gpu::blurPlanePairGpu;
    accelerated.blurPlaneRadii = gpu::blurPlaneRadiiGpu;
    accelerated.distanceTransform = gpu::distanceTransformGpu;
    return accelerated;
}

}  // namespace

void workingCoverageRows(PlaneView<const std::uint8_t> alpha, PlaneView<std::uint8_t> coverage,
                         std::int32_t SS, float preview, std::int32_t top) {
    resampleBilinear8Rows(alpha.data, alpha.width, alpha.height, coverage.data, coverage.width,
                          SS * alpha.height, top, coverage.height);
    // A preview's coverage edges, spread by the host's averaging, are sharpened back. (Low
    // quality works on the layer's alpha itself, which the cache keeps as it came.)
    steepenCoverage(coverage.data, coverage.width, coverage.height, previewEdgeGain(preview));
}

bool runGeometrySequence(PlaneView<const std::uint8_t> alpha, PlaneView<std::uint8_t> alphaSS,
                         PlaneView<float> height, PlaneView<float> normals, std::int32_t SS,
                         float preview, const RenderSettings& settings, const LayerPlacement& layer,
                         bool gpuNormals, const GeometryBand* band, bool coverageReady) {
    if ((SS != 1 && SS != 2 && SS != 4) || !usableTogether(alpha)) return false;
    const std::int32_t W = alpha.width, H = alpha.height, W2 = SS * W;
    const std::int32_t top = band ? band->top : 0;
    const std::int32_t H2 = band ? height.height : SS * H;
    if (top < 0 || top % SS != 0 || top + H2 > SS * H) return false;
    const PlaneView<const std::uint8_t> coverage =
        SS > 1
            ? PlaneView<const std::uint8_t>(alphaSS)
            : PlaneView<const std::uint8_t>(alpha.data + static_cast<std::int64_t>(top) * W, W, H2);
    if (!usableTogether(coverage, height, normals) || coverage.width != W2 ||
        coverage.height != H2 || normals.channels != 3)
        return false;
    const GeometryAccelerators accelerated = acceleratorsOfThisThread();
    const float pixelScale = static_cast<float>(SS) * preview;

    if (SS > 1 && !coverageReady) workingCoverageRows(alpha, alphaSS, SS, preview, top);

    // The height map and the normals write every pixel of their planes (zero where they could not
    // be computed), so neither plane is cleared first.
    computeHeightMap(coverage, height, settings, pixelScale, accelerated,
                     band ? band->thickness : -1.0f);

    if (settings.smartEdge && settings.bevelStyle == kInnerBevel && layer.image) {
        const LayerPlacement placed{layer.image, layer.x, layer.y - top / SS};
        applySmartEdge(placed, coverage, height, SS, preview, settings.bevelDepth,
                       settings.edgeStrength, accelerated, band ? band->edges : nullptr);
    }

    float* heightMap = height.data;
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i)
            if (heightMap[i] >= 0.95f) heightMap[i] = 1.0f;
    });

    const NormalTaps taps = normalTaps(preview);
    const bool gpuDone =
        gpuNormals && gpu::computeNormalsGpu(heightMap, coverage.data, normals.data, W2, H2,
                                             normalStrengthOf(settings.bevelDepth, pixelScale) *
                                                 normalTapsGain(preview),
                                             taps.smoothing, taps.derivative);
    if (!gpuDone)
        computeNormals(coverage, height, normals, settings.bevelDepth, pixelScale, preview);

    blurNormals(normals, coverage, height, scaledPixels(3, pixelScale), accelerated);
    return true;
}

}  // namespace lumet
