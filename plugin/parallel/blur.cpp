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

// The fractional box filter along a run of n samples, applied to `lanes` independent lines at once:
// sample i of lane c is at src[i * step + c * laneStep]. Each lane keeps its own running sum and
// sees exactly the operations of a lone line, so grouping lines never changes a result; it only
// lets the vertical pass walk contiguous row segments (several columns per step) and the
// horizontal pass overlap the dependency chains of neighbouring rows.
template <int kMaxLanes>
void boxLines(const float* src, float* dst, std::int64_t step, std::int64_t laneStep,
              std::int32_t lanes, std::int32_t n, std::int32_t r, float f, float invSize) {
    float sum[kMaxLanes];
    const std::int32_t last = n - 1;
    auto clampIndex = [&](std::int32_t i) { return std::min(std::max(i, 0), last); };
    auto line = [&](std::int32_t i) { return src + static_cast<std::int64_t>(i) * step; };
    for (std::int32_t c = 0; c < lanes; ++c) sum[c] = 0.0f;
    for (std::int32_t i = -r; i <= r; ++i) {
        const float* p = line(clampIndex(i));
        for (std::int32_t c = 0; c < lanes; ++c) sum[c] += p[c * laneStep];
    }
    {
        const float* before = line(clampIndex(-r - 1));
        const float* after = line(clampIndex(r + 1));
        for (std::int32_t c = 0; c < lanes; ++c)
            sum[c] += f * before[c * laneStep] + f * after[c * laneStep];
    }
    for (std::int32_t c = 0; c < lanes; ++c) dst[c * laneStep] = sum[c] * invSize;
    const float g = 1.0f - f;
    for (std::int32_t x = 1; x < n; ++x) {
        const float* enter = line(std::min(x + r, last));
        const float* enterFraction = line(std::min(x + r + 1, last));
        const float* leave = line(std::max(x - r - 1, 0));
        const float* leaveFraction = line(std::max(x - r - 2, 0));
        float* out = dst + static_cast<std::int64_t>(x) * step;
        for (std::int32_t c = 0; c < lanes; ++c) {
            const std::int64_t o = c * laneStep;
            sum[c] += g * enter[o] + f * enterFraction[o] - g * leave[o] - f * leaveFraction[o];
            out[o] = sum[c] * invSize;
        }
    }
}

constexpr std::int32_t kRowsPerGroup = 4;       // horizontal pass: rows filtered together
constexpr std::int32_t kColumnsPerGroup = 256;  // vertical pass: columns filtered together

}  // namespace

void boxBlur(float* plane, float* scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius, float fraction) {
    if (radius < 1 && fraction < 0.001f) return;
    if (width < 1 || height < 1 || !plane || !scratch) return;
    const float invSize = 1.0f / (2.0f * static_cast<float>(radius) + 1.0f + 2.0f * fraction);
    const std::int64_t w = width;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; y += kRowsPerGroup) {
            const std::int32_t rows = std::min(kRowsPerGroup, end - y);
            boxLines<kRowsPerGroup>(plane + y * w, scratch + y * w, 1, w, rows, width, radius,
                                    fraction, invSize);
        }
    });
    ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t x = begin; x < end; x += kColumnsPerGroup) {
            const std::int32_t columns = std::min(kColumnsPerGroup, end - x);
            boxLines<kColumnsPerGroup>(scratch + x, plane + x, w, 1, columns, height, radius,
                                       fraction, invSize);
        }
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
