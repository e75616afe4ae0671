// Bilinear resample of an 8-bit plane (see supersample.h).
#include "geometry/supersample.h"

#include <algorithm>
#include <cstring>

#include "geometry/pixel_bands.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// Source index and weight of the second tap for destination coordinate d. The second tap is
// index + 1, except on a one-pixel source where both taps are pixel 0.
inline void sourceTap(std::int32_t d, float scale, std::int32_t size, std::int32_t& index,
                      float& weight) {
    if (size < 2) {
        index = 0;
        weight = 0.0f;
        return;
    }
    const float s = (static_cast<float>(d) + 0.5f) * scale - 0.5f;
    if (s < 0.0f) {
        index = 0;
        weight = 0.0f;
    } else {
        index = static_cast<std::int32_t>(s);
        weight = s - static_cast<float>(index);
    }
    if (index >= size - 1) {
        index = size - 2;
        weight = 1.0f;
    }
}

}  // namespace

void resampleBilinear8(const std::uint8_t* source, std::int32_t sourceW, std::int32_t sourceH,
                       std::uint8_t* destination, std::int32_t destinationW,
                       std::int32_t destinationH) {
    resampleBilinear8Rows(source, sourceW, sourceH, destination, destinationW, destinationH, 0,
                          destinationH);
}

void resampleBilinear8Rows(const std::uint8_t* source, std::int32_t sourceW, std::int32_t sourceH,
                           std::uint8_t* destination, std::int32_t destinationW,
                           std::int32_t destinationH, std::int32_t firstRow, std::int32_t rows) {
    if (!source || !destination || sourceW < 1 || sourceH < 1 || destinationW < 1 ||
        destinationH < 1 || firstRow < 0 || rows < 0 || firstRow + rows > destinationH)
        return;
    const float scaleX = static_cast<float>(sourceW) / static_cast<float>(destinationW);
    const float scaleY = static_cast<float>(sourceH) / static_cast<float>(destinationH);
    const std::int64_t sw = sourceW;
    // Every row reads the same columns at the same weights: found once.
    Plane<std::int32_t> columns = allocatePlane<std::int32_t>(destinationW);
    Plane<float> weights = allocatePlane<float>(destinationW);
    if (columns && weights) {
        for (std::int32_t x = 0; x < destinationW; ++x)
            sourceTap(x, scaleX, sourceW, columns[x], weights[x]);
    }
    ParallelRows(rows, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = firstRow + begin; y < firstRow + end; ++y) {
            std::int32_t iy;
            float fy;
            sourceTap(y, scaleY, sourceH, iy, fy);
            const std::int32_t iy1 = std::min(iy + 1, sourceH - 1);
            const std::uint8_t* row0 = source + iy * sw;
            const std::uint8_t* row1 = source + iy1 * sw;
            std::uint8_t* out =
                destination + static_cast<std::int64_t>(y - firstRow) * destinationW;
            // Two empty source rows make an empty row: every tap 0 gives 0 + 0.5, byte 0.
            bool empty = true;
            for (std::int32_t x = 0; x < sourceW && empty; ++x) empty = (row0[x] | row1[x]) == 0;
            if (empty) {
                std::memset(out, 0, static_cast<std::size_t>(destinationW));
                continue;
            }
            for (std::int32_t x = 0; x < destinationW; ++x) {
                std::int32_t ix;
                float fx;
                if (columns && weights) {
                    ix = columns[x], fx = weights[x];
                } else {
                    sourceTap(x, scaleX, sourceW, ix, fx);
                }
                const std::int32_t ix1 = std::min(ix + 1, sourceW - 1);
                // Four empty taps make an empty pixel, as for the rows above.
                if ((row0[ix] | row0[ix1] | row1[ix] | row1[ix1]) == 0) {
                    out[x] = 0;
                    continue;
                }
                const float v = static_cast<float>(row0[ix]) * (1.0f - fx) * (1.0f - fy) +
                                static_cast<float>(row0[ix1]) * fx * (1.0f - fy) +
                                static_cast<float>(row1[ix]) * (1.0f - fx) * fy +
                                static_cast<float>(row1[ix1]) * fx * fy + 0.5f;
                const std::int32_t byte = static_cast<std::int32_t>(v);
                out[x] = static_cast<std::uint8_t>(std::min(std::max(byte, 0), 255));
            }
        }
    });
}

void steepenCoverage(std::uint8_t* plane, std::int32_t width, std::int32_t height, float gain) {
    if (!plane || !(gain > 1.0f)) return;
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        const float steep = 127.5f + (static_cast<float>(v) - 127.5f) * gain;
        table[v] = static_cast<std::uint8_t>(std::clamp(steep, 0.0f, 255.0f) + 0.5f);
    }
    ParallelPixels(width, height, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) plane[i] = table[plane[i]];
    });
}

}  // namespace lumet
