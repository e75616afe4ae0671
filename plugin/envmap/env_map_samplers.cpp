// The two environment-map samplers: Catmull-Rom bicubic (sharp planes) and bilinear (smooth
// planes), both wrapping around in u and clamping v to [0, 1]; and the Blur-to-radius rule.
#include <algorithm>
#include <cmath>

#include "envmap/env_map.h"

namespace lumet {

namespace {

// Catmull-Rom cubic through p1 (t = 0) and p2 (t = 1); not clamped.
inline float catmullRom(float p0, float p1, float p2, float p3, float t) {
    return 0.5f * (2.0f * p1 + (p2 - p0) * t + (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) * t * t +
                   (3.0f * p1 - p0 - 3.0f * p2 + p3) * t * t * t);
}

// Fractional part of u in [0, 1]; a non-finite coordinate reads as 0 rather than producing an
// out-of-range index.
inline float wrapUnit(float u) { return std::isfinite(u) ? u - std::floor(u) : 0.0f; }
inline float clampUnit(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

}  // namespace

Rgb sampleBicubicWrapX(const float* planeR, const float* planeG, const float* planeB,
                       std::int32_t w, std::int32_t h, float u, float v) {
    const float fx = wrapUnit(u) * static_cast<float>(w - 1);
    const std::int32_t ix = static_cast<std::int32_t>(fx);
    const float tx = fx - static_cast<float>(ix);
    std::int64_t columns[4];
    for (std::int32_t k = 0; k < 4; ++k) {
        std::int32_t c = (ix - 1 + k) % w;
        if (c < 0) c += w;
        columns[k] = c;
    }
    const float fy = clampUnit(v) * static_cast<float>(h - 1);
    const std::int32_t iy = static_cast<std::int32_t>(fy);
    const float ty = fy - static_cast<float>(iy);

    const float* planes[3] = {planeR, planeG, planeB};
    float result[3];
    for (std::int32_t channel = 0; channel < 3; ++channel) {
        float rows[4];
        for (std::int32_t k = 0; k < 4; ++k) {
            const std::int64_t row = std::clamp(iy - 1 + k, 0, h - 1);
            const float* line = planes[channel] + row * w;
            rows[k] = catmullRom(line[columns[0]], line[columns[1]], line[columns[2]],
                                 line[columns[3]], tx);
        }
        result[channel] = catmullRom(rows[0], rows[1], rows[2], rows[3], ty);
    }
    return {result[0], result[1], result[2]};
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
