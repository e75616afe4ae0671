// The geometry sequence (see geometry_sequence.h).
#include "geometry/geometry_sequence.h"

#include <cstring>

#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/pixel_bands.h"
#include "geometry/smart_edge.h"
#include "geometry/supersample.h"
#include "gpu/gpu_ops.h"
#include "params/render_settings.h"
#include "platform/plane.h"

namespace lumet {

bool runGeometrySequence(const std::uint8_t* alphaCopy, std::uint8_t* alphaSS, float* heightMap,
                         float* normalMap, std::int32_t W, std::int32_t H, std::int32_t SS,
                         const RenderSettings& settings, const PF_EffectWorld* input,
                         std::int32_t inputDepth, std::int32_t dx, std::int32_t dy,
                         bool gpuNormals) {
    if (!alphaCopy || !heightMap || !normalMap || W < 1 || H < 1 || (SS != 1 && SS != 2))
        return false;
    if (SS == 2 && !alphaSS) return false;
    const std::int32_t W2 = SS * W;
    const std::int32_t H2 = SS * H;
    const std::int64_t count = static_cast<std::int64_t>(W2) * H2;

    const std::uint8_t* coverage = alphaCopy;
    if (SS == 2) {
        resampleBilinear8(alphaCopy, W, H, alphaSS, W2, H2);
        coverage = alphaSS;
    }

    std::memset(heightMap, 0, planeBytes(count, sizeof(float)));
    computeHeightMap(coverage, heightMap, W2, H2, settings, SS);

    if (settings.smartEdge && settings.bevelStyle == kInnerBevel && input)
        applySmartEdge(*input, coverage, heightMap, W, H, dx, dy, W2, H2, settings.bevelDepth,
                       settings.edgeStrength, SS, inputDepth);

    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i)
            if (heightMap[i] >= 0.95f) heightMap[i] = 1.0f;
    });

    std::memset(normalMap, 0, planeBytes(count, 3 * sizeof(float)));
    const bool gpuDone =
        gpuNormals && gpu::computeNormalsGpu(heightMap, coverage, normalMap, W2, H2,
                                             normalStrengthOf(settings.bevelDepth, SS));
    if (!gpuDone) computeNormals(coverage, heightMap, normalMap, W2, H2, settings.bevelDepth, SS);

    blurNormals(normalMap, coverage, heightMap, W2, H2, 3 * SS);
    return true;
}

}  // namespace lumet
