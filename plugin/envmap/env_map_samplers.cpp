// The two environment-map samplers on planes: Catmull-Rom bicubic (sharp planes) and bilinear
// (smooth planes), both wrapping around in u and clamping v to [0, 1]; the interleaved copy the
// reflection samples (see interleaved_sampler.h); and the Blur-to-radius rule.
#include <algorithm>
#include <cmath>

#include "envmap/bicubic_taps.h"
#include "envmap/env_map.h"
#include "parallel/parallel_rows.h"

namespace lumet {

Rgb sampleBicubicWrapX(const float* planeR, const float* planeG, const float* planeB,
                       std::int32_t w, std::int32_t h, float u, float v) {
    const CubicTaps columns = wrappedColumnTaps(u, w);
    const CubicTaps rows = clampedRowTaps(v, h);
    const float* planes[3] = {planeR, planeG, planeB};
    float result[3];
    for (std::int32_t channel = 0; channel < 3; ++channel) {
        float across[4];
        for (std::int32_t k = 0; k < 4; ++k) {
            const float* line = planes[channel] + rows.index[k] * w;
            across[k] = catmullRom(line[columns.index[0]], line[columns.index[1]],
                                   line[columns.index[2]], line[columns.index[3]], columns.t);
        }
        result[channel] = catmullRom(across[0], across[1], across[2], across[3], rows.t);
    }
    return {result[0], result[1], result[2]};
}

namespace {

// Runs copy(i) for every texel, in blocks of 64K texels over the workers (ParallelRows counts
// blocks in 32 bits).
template <class Copy>
void forEachTexel(std::int64_t texels, Copy copy) {
    constexpr std::int64_t kBlock = 65536;
    const std::int32_t blocks = static_cast<std::int32_t>((texels + kBlock - 1) / kBlock);
    ParallelRows(blocks, [&](std::int32_t begin, std::int32_t end) {
        const std::int64_t last = std::min(texels, end * kBlock);
        for (std::int64_t i = begin * kBlock; i < last; ++i) copy(i);
    });
}

}  // namespace

void interleaveRgb(const float* r, const float* g, const float* b, std::int64_t texels,
                   float* rgb) {
    forEachTexel(texels, [&](std::int64_t i) {
        rgb[3 * i] = r[i];
        rgb[3 * i + 1] = g[i];
        rgb[3 * i + 2] = b[i];
    });
    rgb[3 * texels] = 0.0f;
}

void deinterleaveRgb(const float* rgb, std::int64_t texels, float* r, float* g, float* b) {
    forEachTexel(texels, [&](std::int64_t i) {
        r[i] = rgb[3 * i];
        g[i] = rgb[3 * i + 1];
        b[i] = rgb[3 * i + 2];
    });
}

Rgb sampleBilinearWrapX(const float* planeR, const float* planeG, const float* planeB,
                        std::int32_t w, std::int32_t h, float u, float v, std::int64_t stride) {
    const float fx = static_cast<float>(w - 1) * wrapUnit(u);
    const std::int32_t ix = static_cast<std::int32_t>(fx);
    const float tx = fx - static_cast<float>(ix);
    const std::int64_t ix0 = ix, ix1 = (ix + 1) % w;
    const float fy = static_cast<float>(h - 1) * clampUnit(v);
    const std::int32_t iy = static_cast<std::int32_t>(fy);
    const float ty = fy - static_cast<float>(iy);
    const std::int64_t row0 = static_cast<std::int64_t>(std::max(iy, 0)) * w;
    const std::int64_t row1 = static_cast<std::int64_t>(std::min(iy + 1, h - 1)) * w;
    auto blend = [&](const float* p) {
        return p[(row0 + ix0) * stride] * (1.0f - tx) * (1.0f - ty) +
               p[(row0 + ix1) * stride] * tx * (1.0f - ty) +
               p[(row1 + ix0) * stride] * (1.0f - tx) * ty + p[(row1 + ix1) * stride] * tx * ty;
    };
    return {blend(planeR), blend(planeG), blend(planeB)};
}

std::int32_t envBlurRadius(float envBlur) {
    if (!(envBlur > 0.0f)) return 0;  // zero, negative or NaN
    const float radius = envBlur * envBlur * 100.0f;
    // Far past the Gaussian's own cap of 500; keeps the conversion defined for absurd inputs.
    return radius >= 100000.0f ? 100000 : static_cast<std::int32_t>(radius);
}

}  // namespace lumet
