// The two environment-map samplers: Catmull-Rom bicubic (sharp planes) and bilinear (smooth
// planes), both wrapping around in u and clamping v to [0, 1]; and the Blur-to-radius rule.
#include <algorithm>
#include <cmath>
#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define LUMET_SAMPLER_SSE2 1
#endif

#include "envmap/bicubic_taps.h"
#include "envmap/env_map.h"

namespace lumet {

#ifdef LUMET_SAMPLER_SSE2
namespace {

// catmullRom on four lanes at once, each lane through exactly the scalar form's operations in
// the same order, so every lane is the scalar result.
inline __m128 catmullRom4(__m128 p0, __m128 p1, __m128 p2, __m128 p3, __m128 t) {
    const __m128 two = _mm_set1_ps(2.0f), three = _mm_set1_ps(3.0f);
    const __m128 four = _mm_set1_ps(4.0f), five = _mm_set1_ps(5.0f);
    const __m128 a = _mm_mul_ps(two, p1);
    const __m128 b = _mm_mul_ps(_mm_sub_ps(p2, p0), t);
    const __m128 c2 = _mm_sub_ps(
        _mm_add_ps(_mm_sub_ps(_mm_mul_ps(two, p0), _mm_mul_ps(five, p1)), _mm_mul_ps(four, p2)),
        p3);
    const __m128 c = _mm_mul_ps(_mm_mul_ps(c2, t), t);
    const __m128 d3 =
        _mm_add_ps(_mm_sub_ps(_mm_sub_ps(_mm_mul_ps(three, p1), p0), _mm_mul_ps(three, p2)), p3);
    const __m128 d = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(d3, t), t), t);
    return _mm_mul_ps(_mm_set1_ps(0.5f), _mm_add_ps(_mm_add_ps(_mm_add_ps(a, b), c), d));
}

}  // namespace
#endif

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

Rgb sampleBicubicRgb(const float* rgb, std::int32_t w, std::int32_t h, float u, float v) {
    const CubicTaps columns = wrappedColumnTaps(u, w);
    const CubicTaps rows = clampedRowTaps(v, h);
#ifdef LUMET_SAMPLER_SSE2
    // Lanes are the channels (the fourth reads the next texel and is dropped): each row's cubic
    // across its four texels, then the cubic down the four rows.
    const __m128 tc = _mm_set1_ps(columns.t);
    __m128 across[4];
    for (std::int32_t k = 0; k < 4; ++k) {
        const float* line = rgb + 3 * rows.index[k] * w;
        across[k] = catmullRom4(
            _mm_loadu_ps(line + 3 * columns.index[0]), _mm_loadu_ps(line + 3 * columns.index[1]),
            _mm_loadu_ps(line + 3 * columns.index[2]), _mm_loadu_ps(line + 3 * columns.index[3]),
            tc);
    }
    float result[4];
    _mm_storeu_ps(result, catmullRom4(across[0], across[1], across[2], across[3],
                                      _mm_set1_ps(rows.t)));
#else
    float result[3];
    for (std::int32_t channel = 0; channel < 3; ++channel) {
        float across[4];
        for (std::int32_t k = 0; k < 4; ++k) {
            const float* line = rgb + 3 * rows.index[k] * w + channel;
            across[k] = catmullRom(line[3 * columns.index[0]], line[3 * columns.index[1]],
                                   line[3 * columns.index[2]], line[3 * columns.index[3]],
                                   columns.t);
        }
        result[channel] = catmullRom(across[0], across[1], across[2], across[3], rows.t);
    }
#endif
    return {result[0], result[1], result[2]};
}

void interleaveRgb(const float* r, const float* g, const float* b, std::int64_t texels,
                   float* rgb) {
    for (std::int64_t i = 0; i < texels; ++i) {
        rgb[3 * i] = r[i];
        rgb[3 * i + 1] = g[i];
        rgb[3 * i + 2] = b[i];
    }
    rgb[3 * texels] = 0.0f;
}

Rgb sampleBilinearWrapX(const float* planeR, const float* planeG, const float* planeB,
                        std::int32_t w, std::int32_t h, float u, float v) {
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
        return p[row0 + ix0] * (1.0f - tx) * (1.0f - ty) + p[row0 + ix1] * tx * (1.0f - ty) +
               p[row1 + ix0] * (1.0f - tx) * ty + p[row1 + ix1] * tx * ty;
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
