// The arithmetic of the Catmull-Rom sampler split by axis: which four columns and rows a
// coordinate reads, at what fraction, and the cubic itself. The sampler and the map resampler
// share it, so a resampled map holds exactly the values the sampler returns at the same (u, v).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumet {

// Catmull-Rom cubic through p1 (t = 0) and p2 (t = 1); not clamped.
inline float catmullRom(float p0, float p1, float p2, float p3, float t) {
    return 0.5f * (2.0f * p1 + (p2 - p0) * t + (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) * t * t +
                   (3.0f * p1 - p0 - 3.0f * p2 + p3) * t * t * t);
}

// Fractional part of u in [0, 1]; a non-finite coordinate reads as 0 rather than producing an
// out-of-range index.
inline float wrapUnit(float u) { return std::isfinite(u) ? u - std::floor(u) : 0.0f; }
inline float clampUnit(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

// c modulo w for c in [-w, w + 2], by adding or subtracting w rather than dividing: the samplers
// wrap four columns per sample, and a division each would cost more than the cubic.
inline std::int32_t wrapIndex(std::int32_t c, std::int32_t w) {
    if (c < 0) return c + w;
    while (c >= w) c -= w;
    return c;
}

// Four sample indices along one axis and the fraction between the middle two.
struct CubicTaps {
    std::int64_t index[4];
    float t;
};

// Columns for u on a row of w samples that wraps around.
inline CubicTaps wrappedColumnTaps(float u, std::int32_t w) {
    const float fx = wrapUnit(u) * static_cast<float>(w - 1);
    const std::int32_t ix = static_cast<std::int32_t>(fx);
    CubicTaps taps;
    taps.t = fx - static_cast<float>(ix);
    for (std::int32_t k = 0; k < 4; ++k) taps.index[k] = wrapIndex(ix - 1 + k, w);
    return taps;
}

// Rows for v on a column of h samples, clamped at both ends.
inline CubicTaps clampedRowTaps(float v, std::int32_t h) {
    const float fy = clampUnit(v) * static_cast<float>(h - 1);
    const std::int32_t iy = static_cast<std::int32_t>(fy);
    CubicTaps taps;
    taps.t = fy - static_cast<float>(iy);
    for (std::int32_t k = 0; k < 4; ++k) taps.index[k] = std::clamp(iy - 1 + k, 0, h - 1);
    return taps;
}

}  // namespace lumet
