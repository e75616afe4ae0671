// Glow: extracts the bright part of the shaded image (smoothstep of the brightest channel from
// 0.25 to 0.75), spreads it with two scales of three fractional-radius box blurs (an approximate
// Gaussian whose radius animates smoothly), and compresses the sum with a square root.
#pragma once
#include <cstdint>

#include "core/plane_view.h"

namespace lumet {

constexpr int kGlowWorkPlanes = 2;

// Fills `glow` from the shaded planes and the alpha, all of one size W x H. scratch: one W x H
// plane for the blurs, allocated here when null (when that fails the glow is the unblurred
// extraction). workPlanes: two W x H planes (a channel's extraction and its blur); when the array
// or either plane is missing, a single-scale fallback blurs the extraction in place.
void renderGlow(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alpha,
                const RgbaPlanes<float>& glow, float glowRadius, float* scratch,
                float* const* workPlanes);

}  // namespace lumet
