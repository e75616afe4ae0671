// The Catmull-Rom sampler on an interleaved map (three floats a texel, see interleaveRgb), inline
// for the reflection's per-pixel loop. With SSE2 a texel's three channels are the lanes of one
// vector, each lane through exactly the scalar cubic's operations in their order, so the floats
// are the planar sampler's.
#pragma once
#include <cstdint>
#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define LUMET_INTERLEAVED_SSE2 1
#endif

#include "envmap/bicubic_taps.h"
#include "envmap/env_map.h"

namespace lumet {

#ifdef LUMET_INTERLEAVED_SSE2
// catmullRom on four lanes at once.
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

// The sample's red, green and blue in lanes 0, 1 and 2 (lane 3 reads the next texel and means
// nothing): each row's cubic across its four texels, then the cubic down the four rows.
inline __m128 bicubicRgbLanes(const float* rgb, std::int32_t w, std::int32_t h, float u, float v) {
    const CubicTaps columns = wrappedColumnTaps(u, w);
    const CubicTaps rows = clampedRowTaps(v, h);
    const __m128 tc = _mm_set1_ps(columns.t);
    __m128 across[4];
    for (std::int32_t k = 0; k < 4; ++k) {
        const float* line = rgb + 3 * rows.index[k] * w;
        across[k] = catmullRom4(_mm_loadu_ps(line + 3 * columns.index[0]),
                                _mm_loadu_ps(line + 3 * columns.index[1]),
                                _mm_loadu_ps(line + 3 * columns.index[2]),
                                _mm_loadu_ps(line + 3 * columns.index[3]), tc);
    }
    return catmullRom4(across[0], across[1], across[2], across[3], _mm_set1_ps(rows.t));
}
#endif

inline Rgb sampleBicubicRgb(const float* rgb, std::int32_t w, std::int32_t h, float u, float v) {
#ifdef LUMET_INTERLEAVED_SSE2
    float lanes[4];
    _mm_storeu_ps(lanes, bicubicRgbLanes(rgb, w, h, u, v));
    return {lanes[0], lanes[1], lanes[2]};
#else
    const CubicTaps columns = wrappedColumnTaps(u, w);
    const CubicTaps rows = clampedRowTaps(v, h);
    float result[3];
    for (std::int32_t channel = 0; channel < 3; ++channel) {
        float across[4];
        for (std::int32_t k = 0; k < 4; ++k) {
            const float* line = rgb + 3 * rows.index[k] * w + channel;
            across[k] =
                catmullRom(line[3 * columns.index[0]], line[3 * columns.index[1]],
                           line[3 * columns.index[2]], line[3 * columns.index[3]], columns.t);
        }
        result[channel] = catmullRom(across[0], across[1], across[2], across[3], rows.t);
    }
    return {result[0], result[1], result[2]};
#endif
}

}  // namespace lumet
