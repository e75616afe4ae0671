// Glow: extracts the bright part of the shaded image (smoothstep of the brightest channel from
// 0.25 to 0.75), spreads it with two scales of three fractional-radius box blurs (an approximate
// Gaussian whose radius animates smoothly), and compresses the sum with a square root.
#pragma once
#include <cstdint>

#include "core/frame_window.h"
#include "core/plane_view.h"

namespace lumet {

// Work planes of the glow: two for each channel blurred at once, glowWorkPlaneCount() on this
// machine, at most kGlowMostWorkPlanes.
constexpr int kGlowMostWorkPlanes = 8;
std::int32_t glowWorkPlaneCount();

// Fills `glow` from the shaded planes and the alpha, all of one size W x H. workPlanes:
// glowWorkPlaneCount() W x H planes; when the array or any of them is missing, a single-scale
// fallback blurs the extraction in place through `scratch`, one W x H plane allocated here when
// null (when that fails the glow is the unblurred extraction).
void renderGlow(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alpha,
                const RgbaPlanes<float>& glow, float glowRadius, float* scratch,
                float* const* workPlanes);

// The same with the shade covering only `shadeAt` of the W x H frame (its planes shadeAt.width x
// shadeAt.height): outside it the shade counts as 0. False, leaving `glow` as it was, when the
// planes do not fit together (shadeAt not inside the frame, a missing or mis-sized plane).
bool renderGlow(const RgbPlanes<const float>& shade, const FrameWindow& shadeAt,
                PlaneView<const std::uint8_t> alpha, const RgbaPlanes<float>& glow,
                float glowRadius, float* scratch, float* const* workPlanes);

}  // namespace lumet
