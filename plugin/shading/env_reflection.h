// Environment reflection: every surface pixel looks the environment map up through a planar
// projection centred on the frame, displaced by the surface normal, and blends a sharp
// (Catmull-Rom) and a smooth (bilinear) sample by the Blur setting and the surface steepness.
#pragma once
#include <cstdint>

#include "core/frame_window.h"
#include "core/pixel_formulas.h"
#include "core/plane_view.h"
#include "envmap/env_map.h"
#include "params/render_settings.h"

namespace lumet {

// The per-frame constants of the reflection (core/pixel_formulas.h), computed once before the rows
// run.
ReflectionConstants makeReflectionConstants(const RenderSettings& settings, std::int32_t contentW,
                                            std::int32_t contentH);

// Fills `out` with the environment colour seen at each surface pixel and 0 where there is no
// surface (coverage < 10 and height < 0.01). The surface and `out` hold `window` (working
// pixels). contentW, contentH: the input layer's size in working pixels; their larger value sets
// the projection's scale, so expanding the output does not rescale the reflection. The map is
// sampled through its interleaved colours; without them every pixel is 0. Rows are split over
// ParallelRows.
void renderEnvReflection(const SurfaceView& surface, const RgbPlanes<float>& out,
                         const FrameWindow& window, std::int32_t contentW, std::int32_t contentH,
                         const RenderSettings& settings, const EnvMap& env);

}  // namespace lumet
