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

#include "core/frame_window.h"
#include "core/plane_view.h"

namespace lumet {
struct RenderSettings;
struct ShadeConstants;
}  // namespace lumet

namespace lumet::gpu {

bool blurPlaneGpu(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius);
bool blurPlanePairGpu(float* planeA, float* planeB, std::int32_t width, std::int32_t height,
                      std::int32_t radius);
bool blurPlaneRadiiGpu(float* plane, std::int32_t width, std::int32_t height,
                       const std::int32_t* radii, std::int32_t count);
bool distanceTransformGpu(const std::uint8_t* alpha, float* distance, std::int32_t width,
                          std::int32_t height);
// The CPU normals' two 9-tap passes with the CPU's taps (smoothing, derivative: 9 each).
bool computeNormalsGpu(const float* heights, const std::uint8_t* alpha, float* normals,
                       std::int32_t width, std::int32_t height, float bevelStrength,
                       const float* smoothingTaps, const float* derivativeTaps);
// Uploads the map (its interleaved sharp and smooth colours, as EnvMap keeps them) unless the
// device already holds envRevision. The device keeps a plane per channel.
bool uploadEnvMapGpu(const float* sharpRgb, const float* smoothRgb, std::int32_t envW,
                     std::int32_t envH, std::uint64_t envRevision);
// False unless the device holds the map of envRevision.
bool renderEnvReflectionGpu(const SurfaceView& surface, const RgbPlanes<float>& out,
                            const FrameWindow& window, std::int32_t contentW, std::int32_t contentH,
                            const RenderSettings& settings, std::int32_t envW, std::int32_t envH,
                            std::uint64_t envRevision, std::uint64_t geometryRevision);
// The shading of the surface (and the reflection the constants name) at the working size, reduced
// into `out` (the surface's size over SS) and, outside `region` (output pixels), 0.
bool shadeGpu(const ShadeConstants& constants, const SurfaceView& surface,
              const RgbPlanes<float>& out, std::int32_t SS, bool outerStyle,
              const FrameWindow& region, std::uint64_t geometryRevision,
              std::uint64_t reflectionRevision);
// The two-scale glow of the CPU stage (extraction, a quarter and the full radius weighted 0.55
// and 0.45, square root), equal to it within float rounding.
bool renderGlowGpu(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alpha,
                   const RgbaPlanes<float>& glow, float glowRadius);

}  // namespace lumet::gpu
