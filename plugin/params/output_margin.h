// The output margin: added on every side of the output so that an outer bevel, an emboss or a
// glow can reach beyond the layer's own pixels.
#pragma once
#include <cstdint>

namespace lumet {

// The margin in pixels: 0, 500, 1000 or 1500. depth is Bevel Depth / 100; the glow counts only
// above an intensity of 0.05. All arithmetic in 32-bit floats, conversions truncate.
std::int32_t outputMargin(std::int32_t bevelStyle, float depth, float glowIntensity,
                          float glowRadius);

// The margin of a frame the host previews at `preview` of its full resolution (1: the margin
// itself): the full-resolution margin scaled, rounded up so that the scaled glow and bevel fit.
std::int32_t previewMargin(std::int32_t margin, float preview);

}  // namespace lumet
