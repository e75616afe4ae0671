// Downsample2x: the 2 x 2 box reduction from the supersampled working size to the output size.
#pragma once
#include <cstdint>

namespace lumet {

// dst(x, y) = the mean of src at columns sx, sx + 1 and rows sy, sy + 1, where sx = 2x (Ws - 2
// when 2x + 1 >= Ws) and sy likewise; a source one pixel wide or high repeats its only column or
// row. Rows of dst are split over ParallelRows.
void Downsample2x(const float* src, std::int32_t Ws, std::int32_t Hs, float* dst, std::int32_t Wd,
                  std::int32_t Hd);

// The shade at SS (2 or 4) times the size of `to` (width x height) reduced to it: one halving,
// or two through `half` (2 width x 2 height) for SS = 4.
void reduceSupersampled(const float* from, float* half, float* to, std::int32_t width,
                        std::int32_t height, std::int32_t SS);

}  // namespace lumet
