// The host's effect worlds as the pipeline's image views: ARGB, top row first, 16-bit white 32768,
// at the depth the host says the world has.
#pragma once
#include "AE_Effect.h"
#include "core/image_view.h"
#include "core/status.h"

namespace lumet {

// The depth of a world by its layout alone, for a host without the world suite: float when the
// row stride holds at least 16 bytes per pixel of width, else 16-bit when the deep flag is set,
// else 8-bit. A narrow world with padded rows defeats it, which is why the suite comes first.
std::int32_t pixelDepthOf(const PF_EffectWorld& world);

// The world's depth as the host's world suite gives it; the layout rule when the host offers no
// such suite or does not know the world.
std::int32_t worldDepth(const PF_InData* in_data, const PF_EffectWorld& world);

// The world's pixels as a view (empty for a world without pixels).
ImageView worldView(const PF_InData* in_data, const PF_EffectWorld& world);

// A frame's status as the host's error: an abandoned frame returns what the host's abort answered.
PF_Err hostError(const Status& status);

}  // namespace lumet
