// Frame set-up of the plain protocol, the host's preview scale and rectangles.
#include "host/frame_setup.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/host_params.h"
#include "params/output_margin.h"
#include "params/param_ids.h"

namespace lumet {
namespace {

std::int32_t saturate(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool isEmpty(const PF_LRect& r) { return !(r.left < r.right && r.top < r.bottom); }

}  // namespace

PreviewScale previewScaleOf(const PF_InData* in_data) {
    if (!in_data) return {};
    const auto factor = [](const PF_RationalScale& r) {
        return r.den == 0 ? 0.0 : static_cast<double>(r.num) / static_cast<double>(r.den);
    };
    return {factor(in_data->downsample_x), factor(in_data->downsample_y)};
}

namespace {

std::int32_t askInDataAbort(void* context) {
    const PF_InData* in_data = static_cast<const PF_InData*>(context);
    return in_data->inter.abort(in_data->effect_ref);
}

void tellInDataProgress(void* context, std::int32_t done, std::int32_t total) {
    const PF_InData* in_data = static_cast<const PF_InData*>(context);
    in_data->inter.progress(in_data->effect_ref, done, total);
}

}  // namespace

FrameInterrupt hostInterrupt(const PF_InData* in_data) {
    FrameInterrupt interrupt;
    if (!in_data) return interrupt;
    interrupt.context = const_cast<PF_InData*>(in_data);
    if (in_data->inter.abort) interrupt.abort = askInDataAbort;
    if (in_data->inter.progress) interrupt.progress = tellInDataProgress;
    return interrupt;
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
