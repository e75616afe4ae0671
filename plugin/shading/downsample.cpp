// Downsample2x: 2 x 2 box average from the supersampled working planes to the output size. An odd
// last column or row reads the last complete pair of the source.
#include "shading/downsample.h"

#include <algorithm>

#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"

namespace lumet {

namespace {

// Output pixels [0, n) of a row whose pairs lie inside the source rows: the general rule's
// floats, in a loop that vectorises.
LUMET_AVX2_CLONES void averagePairs(const float* __restrict row0, const float* __restrict row1,
                                    float* __restrict out, std::int32_t n) {
    for (std::int32_t x = 0; x < n; ++x)
        out[x] = 0.25f * (row0[2 * x] + row0[2 * x + 1] + row1[2 * x] + row1[2 * x + 1]);
}

}  // namespace

void Downsample2x(const float* src, std::int32_t Ws, std::int32_t Hs, float* dst, std::int32_t Wd,
                  std::int32_t Hd) {
    if (!src || !dst || Ws < 1 || Hs < 1 || Wd < 1 || Hd < 1) return;
    auto pairStart = [](std::int32_t d, std::int32_t size) {
        const std::int32_t s = 2 * d + 1 >= size ? size - 2 : 2 * d;
        return std::max(s, 0);
    };
    ParallelRows(Hd, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) {
            const std::int32_t sy = pairStart(y, Hs);
            const float* row0 = src + static_cast<std::int64_t>(sy) * Ws;
            const float* row1 = src + static_cast<std::int64_t>(std::min(sy + 1, Hs - 1)) * Ws;
            float* out = dst + static_cast<std::int64_t>(y) * Wd;
            // Columns x < Ws / 2 read the pair 2x, 2x + 1.
            const std::int32_t inner = std::min(Wd, Ws / 2);
            averagePairs(row0, row1, out, inner);
            for (std::int32_t x = inner; x < Wd; ++x) {
                const std::int32_t sx = pairStart(x, Ws);
                const std::int32_t sx1 = std::min(sx + 1, Ws - 1);
                out[x] = 0.25f * (row0[sx] + row0[sx1] + row1[sx] + row1[sx1]);
            }
        }
    });
}

void reduceSupersampled(const float* from, float* half, float* to, std::int32_t width,
                        std::int32_t height, std::int32_t SS) {
    if (SS == 4) {
        Downsample2x(from, 4 * width, 4 * height, half, 2 * width, 2 * height);
        Downsample2x(half, 2 * width, 2 * height, to, width, height);
    } else {
        Downsample2x(from, SS * width, SS * height, to, width, height);
    }
}

}  // namespace lumet
