// The output margin rule.
#include "params/output_margin.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/stage_constants.h"
#include "params/param_ids.h"

namespace lumet {
namespace {

// Truncation toward zero that saturates instead of overflowing; NaN gives 0. Parameter values
// can come from projects outside the declared ranges, so the rule must not rely on them.
std::int32_t truncateSaturating(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t outputMargin(std::int32_t bevelStyle, float depth, float glowIntensity,
                          float glowRadius) {
    constexpr std::int32_t kStep = 500;
    constexpr std::int32_t kMaxMargin = 1500;
    std::int32_t n = 0;
    if (bevelStyle >= kOuterBevel && bevelStyle <= kPillow) {
        n = std::clamp(truncateSaturating(depth * 10.0f + 0.5f), 2, 20);
    }
    if (glowIntensity > kGlowIntensityMin) {
        const std::int32_t g = std::min(truncateSaturating(2.0f * glowRadius + 20.0f), kMaxMargin);
        n = std::max(n, g);
    }
    if (n <= 0) return 0;
    return std::min((n + kStep - 1) / kStep * kStep, kMaxMargin);
}

std::int32_t previewMargin(std::int32_t margin, float preview) {
    return static_cast<std::int32_t>(std::ceil(static_cast<double>(margin) * preview));
}

}  // namespace lumet
