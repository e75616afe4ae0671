// The narrow GPU operations the stages offer work to. Each returns true when it produced the
// stage's result and false otherwise, in which case the caller runs the CPU form of the stage.
// GPU failures are never reported to the host.
//
// The operations that keep device copies between calls take, with each input they keep, its
// content revision (a number that names one computed geometry, reflection or prepared map; see
// the render caches): a copy is uploaded again whenever the revision differs from the one it was
// made from, and always for revision 0.
#pragma once
#include <cstdint>

#include "geometry/frame_window.h"

namespace lumet {
struct RenderSettings;
}

namespace lumet::gpu {

bool blurPlaneGpu(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius);
bool blurPlanePairGpu(float* planeA, float* planeB, std::int32_t width, std::int32_t height,
                      std::int32_t radius);
bool blurPlaneRadiiGpu(float* plane, std::int32_t width, std::int32_t height,
                       const std::int32_t* radii, std::int32_t count);
bool distanceTransformGpu(const std::uint8_t* alpha, float* distance, std::int32_t width,
                          std::int32_t height);
bool computeNormalsGpu(const float* heights, const std::uint8_t* alpha, float* normals,
                       std::int32_t width, std::int32_t height, float bevelStrength);
// Uploads the map unless the device already holds envRevision.
bool uploadEnvMapGpu(const float* sharpR, const float* sharpG, const float* sharpB,
                     const float* smoothR, const float* smoothG, const float* smoothB,
                     std::int32_t envW, std::int32_t envH, std::uint64_t envRevision);
// False unless the device holds the map of envRevision.
bool renderEnvReflectionGpu(const float* normals, const std::uint8_t* alpha, const float* heights,
                            float* outR, float* outG, float* outB, const FrameWindow& window,
                            std::int32_t contentW, std::int32_t contentH,
                            const RenderSettings& settings, std::int32_t envW, std::int32_t envH,
                            std::uint64_t envRevision, std::uint64_t geometryRevision);
bool shadeGpu(const std::uint8_t* alpha, const float* heights, const float* normals,
              const float* reflR, const float* reflG, const float* reflB, float* outR, float* outG,
              float* outB, std::int32_t width, std::int32_t height, std::int32_t outW,
              std::int32_t outH, std::int32_t SS, bool outerStyle, const RenderSettings& settings,
              const float lightDir[3], const float halfDir[3], float specNorm, const float* powLut,
              std::int32_t bbL, std::int32_t bbR, std::int32_t bbT, std::int32_t bbB,
              std::uint64_t geometryRevision, std::uint64_t reflectionRevision);
// The two-scale glow of the CPU stage (extraction, a quarter and the full radius weighted 0.55
// and 0.45, square root), equal to it within float rounding.
bool renderGlowGpu(const float* shadeR, const float* shadeG, const float* shadeB,
                   const std::uint8_t* alpha, float* glowR, float* glowG, float* glowB,
                   float* glowA, std::int32_t width, std::int32_t height, float glowRadius);

}  // namespace lumet::gpu
