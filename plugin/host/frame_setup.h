// The plain protocol's frame set-up (the output grown by the margin), the host's preview scale
// and its rectangles.
#pragma once
#include <cstdint>

#include "AE_Effect.h"
#include "core/preview_scale.h"
#include "parallel/frame_interrupt.h"

namespace lumet {

// The host's downsample factors of this command (null in data: full resolution).
PreviewScale previewScaleOf(const PF_InData* in_data);

// The in data's abort and progress callbacks as a frame's interrupt (the in data must outlive
// the frame).
FrameInterrupt hostInterrupt(const PF_InData* in_data);

// The host's rectangle union: an empty side yields the other, else the outer of each edge.
PF_LRect unionRect(const PF_LRect& a, const PF_LRect& b);
// Moves every edge out by margin (saturating at the 32-bit limits).
PF_LRect expandRect(const PF_LRect& rect, std::int32_t margin);

// Frame set-up of the plain protocol: when the margin (scaled to the host's downsample factors)
// is non-zero, the output becomes the input layer's size plus twice the margin with the input's
// corner at (margin, margin). Otherwise the out data stays as the host filled it.
void setupFrame(const PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* const params[]);

}  // namespace lumet
