// Naive references of the fast planar stages, shared by their tests and the stage fuzz targets:
// the distance transform as an exhaustive nearest-background search, the fractional box blur as
// direct sums in double, and the wrapping Gaussian as a direct convolution in the stage's own
// float order (so that it is equal bit for bit).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "geometry/distance_transform.h"

namespace lumet::testing {

// For every pixel: the smallest squared distance to a background pixel. A column without any
// background counts as one whose pixels lie (width + height) + y away vertically, so a plane
// without background measures (width + height) + y.
inline std::vector<float> exhaustive(const std::vector<std::uint8_t>& alpha, int w, int h,
                                     lumet::DistanceTo background = lumet::DistanceTo::kBelowHalf) {
    auto isBackground = [&](int x, int y) {
        const std::uint8_t a = alpha[static_cast<size_t>(y) * w + x];
        return background == lumet::DistanceTo::kBelowHalf ? a < 128 : a >= 128;
    };
    std::vector<float> out(static_cast<size_t>(w) * h);
    const std::int64_t inf = w + h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::int64_t best = std::numeric_limits<std::int64_t>::max();
            for (int v = 0; v < w; ++v) {
                bool columnHasBackground = false;
                for (int yy = 0; yy < h; ++yy) {
                    if (!isBackground(v, yy)) continue;
                    columnHasBackground = true;
                    const std::int64_t d2 =
                        std::int64_t(x - v) * (x - v) + std::int64_t(y - yy) * (y - yy);
                    best = std::min(best, d2);
                }
                if (!columnHasBackground) {
                    const std::int64_t g = inf + y;
                    best = std::min(best, std::int64_t(x - v) * (x - v) + g * g);
                }
            }
            out[static_cast<size_t>(y) * w + x] = std::sqrt(static_cast<float>(best));
        }
    }
    return out;
}

// One axis of the fractional box filter by direct summation in double.
inline std::vector<double> directBoxAxis(const std::vector<double>& in, int w, int h, int r,
                                         double f, bool horizontal) {
    std::vector<double> out(in.size());
    const double size = 2.0 * r + 1.0 + 2.0 * f;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int k = -r - 1; k <= r + 1; ++k) {
                const double weight = (k == -r - 1 || k == r + 1) ? f : 1.0;
                const int sx = horizontal ? std::clamp(x + k, 0, w - 1) : x;
                const int sy = horizontal ? y : std::clamp(y + k, 0, h - 1);
                sum += weight * in[static_cast<size_t>(sy) * w + sx];
            }
            out[static_cast<size_t>(y) * w + x] = sum / size;
        }
    }
    return out;
}

inline std::vector<double> directBox(const std::vector<double>& in, int w, int h, int r, double f) {
    return directBoxAxis(directBoxAxis(in, w, h, r, f, true), w, h, r, f, false);
}

// The Gaussian of gaussianBlurWrapX (radius capped at 500), wrapping in x and clamping in y.
inline std::vector<float> directGaussian(std::vector<float> plane, int w, int h, int radius) {
    const int r = std::min(radius, 500);
    const float sigma = std::max(0.1f, static_cast<float>(r) / 3.0f);
    std::vector<float> k(2 * r + 1);
    float total = 0.0f;
    for (int i = 0; i <= 2 * r; ++i) {
        const float d = static_cast<float>(i - r);
        k[i] = std::exp(-(d * d) / (2.0f * sigma * sigma));
        total += k[i];
    }
    for (float& tap : k) tap /= total;
    std::vector<float> mid(plane.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float sum = 0.0f;
            for (int j = -r; j <= r; ++j) sum += plane[y * w + ((x + j) % w + w) % w] * k[j + r];
            mid[y * w + x] = sum;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float sum = 0.0f;
            for (int j = -r; j <= r; ++j)
                sum += mid[std::min(std::max(y + j, 0), h - 1) * w + x] * k[j + r];
            plane[y * w + x] = sum;
        }
    return plane;
}

}  // namespace lumet::testing
