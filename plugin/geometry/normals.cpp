// Normals by a separable Gaussian-derivative filter (a 9-tap derivative along one axis times a
// 9-tap Gaussian along the other), and the normal blur (three-pass box blur of nx and ny).
#include "geometry/normals.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/pixel_formulas.h"
#include "geometry/pixel_bands.h"
#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"
#include "platform/plane.h"

namespace lumet {

float normalStrengthOf(float bevelDepth, float pixelScale) {
    return std::max(0.4f, std::sqrt(bevelDepth) * 2.5f * pixelScale);
}

NormalTaps normalTaps(float preview) {
    NormalTaps taps;
    float smoothingSum = 0.0f, derivativeSum = 0.0f;
    const float falloff = 0.125f / (preview * preview);
    for (int k = -4; k <= 4; ++k) {
        const float e = std::exp(static_cast<float>(-k * k) * falloff);
        taps.smoothing[k + 4] = e;
        taps.derivative[k + 4] = static_cast<float>(-k) * 0.25f * e;
        smoothingSum += taps.smoothing[k + 4];
        derivativeSum += std::fabs(taps.derivative[k + 4]);
    }
    for (int i = 0; i < 9; ++i) {
        taps.smoothing[i] /= smoothingSum;
        taps.derivative[i] /= derivativeSum;
    }
    return taps;
}

float normalTapsGain(float preview) {
    if (preview == 1.0f) return 1.0f;
    // The filter's answer to a unit slope grows with its width: at the preview's narrower taps
    // the slope scale makes up the difference, so the normals keep the render's tilt.
    const auto rampResponse = [](const NormalTaps& taps) {
        float response = 0.0f;
        for (int k = -4; k <= 4; ++k) response -= static_cast<float>(k) * taps.derivative[k + 4];
        return response;
    };
    return rampResponse(normalTaps(1.0f)) / rampResponse(normalTaps(preview));
}

namespace {

// Pixels of a row whose vertical sums are taken together before their normals.
constexpr std::int32_t kNormalBlock = 256;

// The horizontal pass over pixels [from, to) of a row whose taps are all inside it: derivative
// into a, smoothing into b, each sum from its first tap on.
LUMET_AVX2_CLONES void innerTaps(const float* __restrict h, float* __restrict a,
                                 float* __restrict b, std::int32_t from, std::int32_t to,
                                 const float* __restrict dk, const float* __restrict gk) {
    for (std::int32_t x = from; x < to; ++x) {
        float sumD = 0.0f, sumG = 0.0f;
        for (int k = 0; k < 9; ++k) {
            const float v = h[x + k - 4];
            sumD += v * dk[k];
            sumG += v * gk[k];
        }
        a[x] = sumD;
        b[x] = sumG;
    }
}

// The vertical sums of `count` pixels from column x0 of the nine rows of each pass.
LUMET_AVX2_CLONES void verticalTaps(const float* const* rowsA, const float* const* rowsB,
                                    std::int32_t x0, std::int32_t count, const float* dk,
                                    const float* gk, float* __restrict sumX,
                                    float* __restrict sumY) {
    for (std::int32_t j = 0; j < count; ++j) {
        float gx = 0.0f, gy = 0.0f;
        for (int k = 0; k < 9; ++k) {
            gx += rowsA[k][x0 + j] * gk[k];
            gy += rowsB[k][x0 + j] * dk[k];
        }
        sumX[j] = gx;
        sumY[j] = gy;
    }
}

}  // namespace

void computeNormals(PlaneView<const std::uint8_t> coverage, PlaneView<const float> height,
                    PlaneView<float> normals, float bevelDepth, float pixelScale, float preview) {
    if (!usableTogether(coverage, height, normals) || normals.channels != 3) return;
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::uint8_t* alphaSS = coverage.data;
    const float* heightMap = height.data;
    float* normalMap = normals.data;
    const std::int64_t count = static_cast<std::int64_t>(W2) * H2;
    const float s = normalStrengthOf(bevelDepth, pixelScale) * normalTapsGain(preview);
    const NormalTaps taps = normalTaps(preview);
    const float* g = taps.smoothing;
    const float* d = taps.derivative;
    Plane<float> planeA = allocatePlane<float>(count);
    Plane<float> planeB = allocatePlane<float>(count);
    if (!planeA || !planeB) {
        // Without its passes' planes the surface stays flat (the normals are 0).
        std::fill(normalMap, normalMap + 3 * count, 0.0f);
        return;
    }
    float* A = planeA.get();
    float* B = planeB.get();
    const std::int64_t w = W2;

    // Horizontal pass: derivative into A, smoothing into B. Away from the row's ends no tap is
    // clamped, and that stretch is a plain loop that vectorises.
    ParallelRows(H2, [&](std::int32_t begin, std::int32_t end) {
        float dk[9], gk[9];
        std::copy(d, d + 9, dk);
        std::copy(g, g + 9, gk);
        const std::int32_t inner0 = std::min(4, W2), inner1 = std::max(inner0, W2 - 4);
        for (std::int32_t y = begin; y < end; ++y) {
            const float* __restrict h = heightMap + y * w;
            float* __restrict a = A + y * w;
            float* __restrict b = B + y * w;
            auto clamped = [&](std::int32_t x) {
                float sumD = 0.0f, sumG = 0.0f;
                for (int k = -4; k <= 4; ++k) {
                    const float v = h[std::min(std::max(x + k, 0), W2 - 1)];
                    sumD += v * dk[k + 4];
                    sumG += v * gk[k + 4];
                }
                a[x] = sumD;
                b[x] = sumG;
            };
            for (std::int32_t x = 0; x < inner0; ++x) clamped(x);
            innerTaps(h, a, b, inner0, inner1, dk, gk);
            for (std::int32_t x = inner1; x < W2; ++x) clamped(x);
        }
    });

    // Vertical pass and the normal of each pixel: a row's two vertical sums first, in a loop
    // that vectorises, then the normals.
    ParallelRows(H2, [&](std::int32_t begin, std::int32_t end) {
        float dk[9], gk[9];
        std::copy(d, d + 9, dk);
        std::copy(g, g + 9, gk);
        for (std::int32_t y = begin; y < end; ++y) {
            const float* rowsA[9];
            const float* rowsB[9];
            for (int k = -4; k <= 4; ++k) {
                const std::int64_t sy = std::min(std::max(y + k, 0), H2 - 1);
                rowsA[k + 4] = A + sy * w;
                rowsB[k + 4] = B + sy * w;
            }
            for (std::int32_t x0 = 0; x0 < W2; x0 += kNormalBlock) {
                const std::int32_t count = std::min(kNormalBlock, W2 - x0);
                float sumX[kNormalBlock], sumY[kNormalBlock];
                verticalTaps(rowsA, rowsB, x0, count, dk, gk, sumX, sumY);
                for (std::int32_t x = x0; x < x0 + count; ++x) {
                    const std::int64_t i = y * w + x;
                    surfaceNormal(sumX[x - x0], sumY[x - x0], s, heightMap[i], alphaSS[i],
                                  normalMap + 3 * i);
                }
            }
        }
    });
}

void blurNormals(PlaneView<float> normals, PlaneView<const std::uint8_t> coverage,
                 PlaneView<const float> height, std::int32_t radius,
                 const GeometryAccelerators& accelerated) {
    if (!usableTogether(coverage, height, normals) || normals.channels != 3) return;
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::uint8_t* alphaSS = coverage.data;
    const float* heightMap = height.data;
    float* normalMap = normals.data;
    const std::int64_t count = static_cast<std::int64_t>(W2) * H2;
    Plane<float> planeX = allocatePlane<float>(count);
    Plane<float> planeY = allocatePlane<float>(count);
    if (!planeX || !planeY) return;
    float* NX = planeX.get();
    float* NY = planeY.get();
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) {
            NX[i] = normalMap[3 * i];
            NY[i] = normalMap[3 * i + 1];
        }
    });
    if (radius >= 1) {
        const std::int32_t r = std::min(radius, 1000);
        if (!accelerated.blurPlanePair || !accelerated.blurPlanePair(NX, NY, W2, H2, r)) {
            // On two threads or fewer the two planes blur at once, each whole on one thread with
            // a scratch plane of its own; otherwise one after the other, each pass over all
            // threads through one scratch plane. Without scratch the normals stay unblurred.
            float* const planes[2] = {NX, NY};
            if (parallelBandCount(H2) <= 2) {
                Plane<float> scratch[2] = {allocatePlane<float>(count),
                                           allocatePlane<float>(count)};
                if (scratch[0] && scratch[1]) {
                    ParallelRows(2, [&](std::int32_t begin, std::int32_t end) {
                        for (std::int32_t p = begin; p < end; ++p)
                            threePassBoxBlur(planes[p], W2, H2, r, scratch[p].get(), true);
                    });
                }
            } else if (Plane<float> scratch = allocatePlane<float>(count)) {
                for (float* plane : planes) threePassBoxBlur(plane, W2, H2, r, scratch.get());
            }
        }
    }
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) {
            if (alphaSS[i] < 2 && heightMap[i] < 0.001f) continue;
            float nx = NX[i], ny = NY[i], nz;
            const float q = nx * nx + ny * ny;
            if (q < 1.0f) {
                nz = std::sqrt(1.0f - q);
            } else {
                const float length = std::sqrt(q);
                nx = nx / length;
                ny = ny / length;
                nz = 0.05f;
            }
            normalMap[3 * i] = nx;
            normalMap[3 * i + 1] = ny;
            normalMap[3 * i + 2] = nz;
        }
    });
}

}  // namespace lumet
