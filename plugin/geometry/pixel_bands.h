// Pointwise passes over a width x height plane, split into bands of whole rows so that the item
// count never overflows 32 bits; the band function receives a half-open range of pixel indices.
#pragma once
#include <cstdint>

#include "parallel/parallel_rows.h"

namespace lumet {

template <class Function>
void ParallelPixels(std::int32_t width, std::int32_t height, Function&& function) {
    if (width < 1 || height < 1) return;
    const std::int64_t w = width;
    ParallelRows(height,
                 [&](std::int32_t begin, std::int32_t end) { function(begin * w, end * w); });
}

}  // namespace lumet
