// Box blurs by running sums (cost per pixel independent of the radius) and the wrapping Gaussian
// by direct convolution. Horizontal passes are split by rows, vertical passes by columns; each
// worker walks its own columns top to bottom.
#include "parallel/blur.h"

#include <algorithm>
#include <cmath>

#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// One line of the fractional box filter. src and dst are strided views of length n.
inline void boxLine(const float* src, float* dst, std::int64_t stride, std::int32_t n,
                    std::int32_t r, float f, float invSize) {
    auto at = [&](std::int32_t i) { return src[static_cast<std::int64_t>(i) * stride]; };
    const std::int32_t last = n - 1;
    auto clampIndex = [&](std::int32_t i) { return std::min(std::max(i, 0), last); };
    float sum = 0.0f;
    for (std::int32_t i = -r; i <= r; ++i) sum += at(clampIndex(i));
    sum += f * at(clampIndex(-r - 1)) + f * at(clampIndex(r + 1));
    dst[0] = sum * invSize;
    const float g = 1.0f - f;
    for (std::int32_t x = 1; x < n; ++x) {
        sum += g * at(std::min(x + r, last)) + f * at(std::min(x + r + 1, last)) -
               g * at(std::max(x - r - 1, 0)) - f * at(std::max(x - r - 2, 0));
        dst[static_cast<std::int64_t>(x) * stride] = sum * invSize;
    }
}

}  // namespace

void boxBlur(float* plane, float* scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius, float fraction) {
    if (radius < 1 && fraction < 0.001f) return;
    if (width < 1 || height < 1 || !plane || !scratch) return;
    const float invSize = 1.0f / (2.0f * static_cast<float>(radius) + 1.0f + 2.0f * fraction);
    const std::int64_t w = width;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y)
            boxLine(plane + y * w, scratch + y * w, 1, width, radius, fraction, invSize);
    });
    ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t x = begin; x < end; ++x)
            boxLine(scratch + x, plane + x, w, height, radius, fraction, invSize);
    });
}

void threePassRadii(std::int32_t radius, std::int32_t out[3]) {
    const float r = static_cast<float>(std::min(radius, 1000));
    const float factors[3] = {0.45f, 0.40f, 0.35f};
    for (int i = 0; i < 3; ++i) out[i] = std::max(1, static_cast<std::int32_t>(r * factors[i]));
}

void threePassBoxBlur(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                      float* scratch) {
    if (radius < 1 || width < 1 || height < 1 || !plane) return;
    Plane<float> owned;
    if (!scratch) {
        owned = allocatePlane<float>(static_cast<std::int64_t>(width) * height);
        if (!owned) return;
        scratch = owned.get();
    }
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    for (std::int32_t r : radii) boxBlur(plane, scratch, width, height, r, 0.0f);
}

void gaussianBlurWrapX(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       float* scratch) {
    if (radius < 1 || width < 1 || height < 1 || !plane) return;
    const std::int32_t r = std::min(radius, 500);
    const float sigma = std::max(0.1f, static_cast<float>(r) / 3.0f);
    Plane<float> kernel = allocatePlane<float>(2 * r + 1);
    Plane<float> owned;
    if (!scratch) {
        owned = allocatePlane<float>(static_cast<std::int64_t>(width) * height);
        scratch = owned.get();
    }
    if (!kernel || !scratch) return;
    float total = 0.0f;
    for (std::int32_t i = 0; i <= 2 * r; ++i) {
        const float d = static_cast<float>(i - r);
        kernel[i] = std::exp(-(d * d) / (2.0f * sigma * sigma));
        total += kernel[i];
    }
    for (std::int32_t i = 0; i <= 2 * r; ++i) kernel[i] /= total;
    const float* k = kernel.get();
    const std::int64_t w = width;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) {
            const float* src = plane + y * w;
            float* dst = scratch + y * w;
            for (std::int32_t x = 0; x < width; ++x) {
                float sum = 0.0f;
                for (std::int32_t j = -r; j <= r; ++j) {
                    std::int32_t sx = (x + j) % width;
                    if (sx < 0) sx += width;
                    sum += src[sx] * k[j + r];
                }
                dst[x] = sum;
            }
        }
    });
    // Vertical pass: each band walks its columns row by row, accumulating whole row segments so
    // the inner loop runs over contiguous floats.
    ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = 0; y < height; ++y) {
            float* dst = plane + y * w;
            for (std::int32_t x = begin; x < end; ++x) dst[x] = 0.0f;
            for (std::int32_t j = -r; j <= r; ++j) {
                const std::int32_t sy = std::min(std::max(y + j, 0), height - 1);
                const float* src = scratch + sy * w;
                const float weight = k[j + r];
                for (std::int32_t x = begin; x < end; ++x) dst[x] += src[x] * weight;
            }
        }
    });
}

}  // namespace lumet
