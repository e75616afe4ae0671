// The output margin rule, rectangle union and frame set-up.
#include "render/output_expansion.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/stage_constants.h"
#include "params/param_ids.h"
#include "params/render_settings_params.h"

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

std::int32_t saturate(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool isEmpty(const PF_LRect& r) { return !(r.left < r.right && r.top < r.bottom); }

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

PreviewScale previewScaleOf(const PF_InData* in_data) {
    if (!in_data) return {};
    const auto factor = [](const PF_RationalScale& r) {
        return r.den == 0 ? 0.0 : static_cast<double>(r.num) / static_cast<double>(r.den);
    };
    return {factor(in_data->downsample_x), factor(in_data->downsample_y)};
}

PF_LRect unionRect(const PF_LRect& a, const PF_LRect& b) {
    if (isEmpty(a)) return b;
    if (isEmpty(b)) return a;
    return PF_LRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                    std::max(a.bottom, b.bottom)};
}

PF_LRect expandRect(const PF_LRect& r, std::int32_t margin) {
    return PF_LRect{saturate(std::int64_t(r.left) - margin), saturate(std::int64_t(r.top) - margin),
                    saturate(std::int64_t(r.right) + margin),
                    saturate(std::int64_t(r.bottom) + margin)};
}

void setupFrame(const PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* const params[]) {
    // The values as the render will take them (held to their valid ranges and scaled).
    RenderSettings settings{};
    for (ParamId index :
         {PARAM_BEVEL_STYLE, PARAM_BEVEL_DEPTH, PARAM_GLOW_INTENSITY, PARAM_GLOW_RADIUS}) {
        storeRenderSetting(settings, index, *params[index]);
    }
    const std::int32_t margin =
        previewMargin(outputMargin(settings.bevelStyle, settings.bevelDepth, settings.glowIntensity,
                                   settings.glowRadius),
                      previewScaleOf(in_data).factor());
    if (margin == 0) return;
    const PF_LayerDef& input = params[PARAM_INPUT]->u.ld;
    out_data->width = saturate(std::int64_t(input.width) + 2 * std::int64_t(margin));
    out_data->height = saturate(std::int64_t(input.height) + 2 * std::int64_t(margin));
    out_data->origin.h = margin;
    out_data->origin.v = margin;
}

}  // namespace lumet
