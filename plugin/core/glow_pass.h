// The radii of the glow's blurs, shared by the CPU glow, its OpenCL form and the content window's
// reach: each scale blurs with three fractional box blurs of a pass radius.
#pragma once
#include <algorithm>

#include "core/stage_constants.h"

namespace lumet {

// Pass radius of one blur scale: min(1200, max(1, glowRadius x scale x 1.1)).
inline float glowPassRadius(float glowRadius, float scale) {
    return std::min(kGlowPassRadiusCap, std::max(1.0f, glowRadius * scale * kGlowPassStretch));
}

// Fractional radius of box blur `pass` (0 to 2) of a scale: max(1, factor x passRadius).
inline float glowBoxRadius(float passRadius, int pass) {
    return std::max(1.0f, kThreePassFactors[pass] * passRadius);
}

}  // namespace lumet
