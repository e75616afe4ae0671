// Output expansion: the margin added on every side of the output so that an outer bevel, an
// emboss or a glow can reach beyond the layer's own pixels, and its use at frame set-up.
#pragma once
#include <cstdint>

#include "AE_Effect.h"
#include "core/preview_scale.h"

namespace lumet {

// The margin in pixels: 0, 500, 1000 or 1500. depth is Bevel Depth / 100; the glow counts only
// above an intensity of 0.05. All arithmetic in 32-bit floats, conversions truncate.
std::int32_t outputMargin(std::int32_t bevelStyle, float depth, float glowIntensity,
                          float glowRadius);

// The margin of a frame the host previews at `preview` of its full resolution (1: the margin
// itself): the full-resolution margin scaled, rounded up so that the scaled glow and bevel fit.
std::int32_t previewMargin(std::int32_t margin, float preview);

// The host's downsample factors of this command (null in data: full resolution).
PreviewScale previewScaleOf(const PF_InData* in_data);

// The host's rectangle union: an empty side yields the other, else the outer of each edge.
PF_LRect unionRect(const PF_LRect& a, const PF_LRect& b);
// Moves every edge out by margin (saturating at the 32-bit limits).
PF_LRect expandRect(const PF_LRect& rect, std::int32_t margin);

// Frame set-up of the plain protocol: when the margin (scaled to the host's downsample factors)
// is non-zero, the output becomes the input layer's size plus twice the margin with the input's
// corner at (margin, margin). Otherwise the out data stays as the host filled it.
void setupFrame(const PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* const params[]);

}  // namespace lumet
