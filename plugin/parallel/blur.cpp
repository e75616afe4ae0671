// Box blurs by exact running sums (cost per pixel independent of the radius) and the wrapping
// Gaussian by direct convolution. Horizontal passes are split by rows, vertical passes by columns;
// each worker walks its own columns top to bottom.
#include "parallel/blur.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "core/pixel_formulas.h"
#include "core/stage_constants.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// How many rows ahead of the entering one the column filter prefetches.
constexpr std::int32_t kPrefetchRows = 4;

constexpr std::int32_t kRowsPerGroup = 8;  // horizontal pass: rows filtered together
// Vertical pass: columns filtered together. A whole band of a wide plane at once, so every row
// step reads long contiguous runs (8 KB of running sums stay in the first-level cache).
constexpr std::int32_t kColumnsPerGroup = 2048;
// The vertical pass's columns are handed to its bands in pieces of whole multiples of this: each
// row step then reads half a kilobyte or more of every row it touches.
constexpr std::int32_t kColumnsPerPiece = 128;

#if defined(__SSE2__) || defined(_M_X64)
#define LUMET_BLUR_SSE2 1

#ifdef LUMET_AVX2_TARGET
#define LUMET_BLUR_AVX2 1
#endif
#endif

// The vertical pass: the box filter down `lanes` contiguous columns of n rows (row stride
// `step`), its running sums exact (columnSteps in core/pixel_formulas.h) and kept in `sums`, one
// double a column. Every output is a function of its window's samples alone, so a pass over any
// run of rows gives the same floats as the whole column's where its windows lie inside the run.
// The vector forms below do the scalar formula's operations lane by lane.
struct ColumnPass {
    const float* src;
    float* dst;
    std::int64_t step;
    std::int32_t n, r;
    float f, invSize;
    bool fraction;
    double* sums;

    // Row i of the source, clamped to the column.
    const float* at(std::int32_t i) const {
        return src + static_cast<std::int64_t>(std::min(std::max(i, 0), n - 1)) * step;
    }
    float* outputRow(std::int32_t x) const { return dst + static_cast<std::int64_t>(x) * step; }
};

inline void columnScalar(const ColumnPass& p, std::int32_t c0, std::int32_t c1, std::int32_t x) {
    if (x == 0) {
        for (std::int32_t c = c0; c < c1; ++c) p.sums[c] = 0.0;
        for (std::int32_t i = -p.r; i <= p.r; ++i)
            for (std::int32_t c = c0; c < c1; ++c) p.sums[c] += columnSteps(p.at(i)[c]);
    } else {
        const float* enter = p.at(x + p.r);
        const float* leave = p.at(x - p.r - 1);
        for (std::int32_t c = c0; c < c1; ++c)
            p.sums[c] += static_cast<double>(columnSteps(enter[c])) -
                         static_cast<double>(columnSteps(leave[c]));
    }
    const float* before = p.at(x - p.r - 1);
    const float* after = p.at(x + p.r + 1);
    float* out = p.outputRow(x);
    for (std::int32_t c = c0; c < c1; ++c)
        out[c] = columnOutput(static_cast<float>(p.sums[c]), before[c], after[c], p.f, p.invSize,
                              p.fraction);
}

#ifdef LUMET_BLUR_SSE2
// columnSteps on four lanes: NaN to 0, the cap, the scale, and rounding to nearest (even) by
// adding and taking away 2^23 on the magnitude where it is below 2^23 (larger floats are whole).
inline __m128 columnSteps4(__m128 v) {
    const __m128 cap = _mm_set1_ps(kColumnSampleCap);
    v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
    v = _mm_max_ps(_mm_min_ps(v, cap), _mm_sub_ps(_mm_setzero_ps(), cap));
    const __m128 x = _mm_mul_ps(v, _mm_set1_ps(kColumnStepsPerUnit));
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 magnitude = _mm_andnot_ps(sign, x);
    const __m128 big = _mm_set1_ps(8388608.0f);
    const __m128 rounded =
        _mm_or_ps(_mm_sub_ps(_mm_add_ps(magnitude, big), big), _mm_and_ps(sign, x));
    const __m128 small = _mm_cmplt_ps(magnitude, big);
    return _mm_or_ps(_mm_and_ps(small, rounded), _mm_andnot_ps(small, x));
}

void columnRowSse2(const ColumnPass& p, std::int32_t lanes, std::int32_t x) {
    const std::int32_t vectorLanes = lanes & ~3;
    const float *enter = p.at(x + p.r), *leave = p.at(x - p.r - 1), *after = p.at(x + p.r + 1);
    float* out = p.outputRow(x);
    const __m128 unit = _mm_set1_ps(kColumnUnitsPerStep), vf = _mm_set1_ps(p.f);
    const __m128 vi = _mm_set1_ps(p.invSize);
    for (std::int32_t c = 0; c < vectorLanes; c += 4) {
        __m128d lo = _mm_setzero_pd(), hi = _mm_setzero_pd();
        if (x == 0) {
            for (std::int32_t i = -p.r; i <= p.r; ++i) {
                const __m128 s = columnSteps4(_mm_loadu_ps(p.at(i) + c));
                lo = _mm_add_pd(lo, _mm_cvtps_pd(s));
                hi = _mm_add_pd(hi, _mm_cvtps_pd(_mm_movehl_ps(s, s)));
            }
        } else {
            lo = _mm_loadu_pd(p.sums + c), hi = _mm_loadu_pd(p.sums + c + 2);
            const __m128 e = columnSteps4(_mm_loadu_ps(enter + c));
            const __m128 l = columnSteps4(_mm_loadu_ps(leave + c));
            lo = _mm_add_pd(lo, _mm_sub_pd(_mm_cvtps_pd(e), _mm_cvtps_pd(l)));
            hi = _mm_add_pd(hi, _mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(e, e)),
                                           _mm_cvtps_pd(_mm_movehl_ps(l, l))));
        }
        _mm_storeu_pd(p.sums + c, lo);
        _mm_storeu_pd(p.sums + c + 2, hi);
        __m128 centre = _mm_mul_ps(_mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)), unit);
        if (p.fraction)
            centre = _mm_add_ps(_mm_add_ps(centre, _mm_mul_ps(vf, _mm_loadu_ps(leave + c))),
                                _mm_mul_ps(vf, _mm_loadu_ps(after + c)));
        _mm_storeu_ps(out + c, _mm_mul_ps(centre, vi));
    }
    if (vectorLanes < lanes) columnScalar(p, vectorLanes, lanes, x);
}
#endif

#ifdef LUMET_BLUR_AVX2
// columnSteps4 on eight lanes, rounding with the instruction that AVX has for it.
LUMET_TARGET_AVX2 inline __m256 columnSteps8(__m256 v) {
    const __m256 cap = _mm256_set1_ps(kColumnSampleCap);
    v = _mm256_and_ps(v, _mm256_cmp_ps(v, v, _CMP_ORD_Q));
    v = _mm256_max_ps(_mm256_min_ps(v, cap), _mm256_sub_ps(_mm256_setzero_ps(), cap));
    return _mm256_round_ps(_mm256_mul_ps(v, _mm256_set1_ps(kColumnStepsPerUnit)),
                           _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}

LUMET_TARGET_AVX2 void columnRowAvx2(const ColumnPass& p, std::int32_t lanes, std::int32_t x) {
    const std::int32_t vectorLanes = lanes & ~7;
    const float *enter = p.at(x + p.r), *leave = p.at(x - p.r - 1), *after = p.at(x + p.r + 1);
    float* out = p.outputRow(x);
    const __m256 unit = _mm256_set1_ps(kColumnUnitsPerStep), vf = _mm256_set1_ps(p.f);
    const __m256 vi = _mm256_set1_ps(p.invSize);
    for (std::int32_t c = 0; c < vectorLanes; c += 8) {
        __m256d lo = _mm256_setzero_pd(), hi = _mm256_setzero_pd();
        if (x == 0) {
            for (std::int32_t i = -p.r; i <= p.r; ++i) {
                const __m256 s = columnSteps8(_mm256_loadu_ps(p.at(i) + c));
                lo = _mm256_add_pd(lo, _mm256_cvtps_pd(_mm256_castps256_ps128(s)));
                hi = _mm256_add_pd(hi, _mm256_cvtps_pd(_mm256_extractf128_ps(s, 1)));
            }
        } else {
            lo = _mm256_loadu_pd(p.sums + c), hi = _mm256_loadu_pd(p.sums + c + 4);
            const __m256 e = columnSteps8(_mm256_loadu_ps(enter + c));
            const __m256 l = columnSteps8(_mm256_loadu_ps(leave + c));
            lo = _mm256_add_pd(lo, _mm256_sub_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(e)),
                                                 _mm256_cvtps_pd(_mm256_castps256_ps128(l))));
            hi = _mm256_add_pd(hi, _mm256_sub_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(e, 1)),
                                                 _mm256_cvtps_pd(_mm256_extractf128_ps(l, 1))));
        }
        _mm256_storeu_pd(p.sums + c, lo);
        _mm256_storeu_pd(p.sums + c + 4, hi);
        __m256 centre =
            _mm256_mul_ps(_mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo)), unit);
        if (p.fraction)
            centre =
                _mm256_add_ps(_mm256_add_ps(centre, _mm256_mul_ps(vf, _mm256_loadu_ps(leave + c))),
                              _mm256_mul_ps(vf, _mm256_loadu_ps(after + c)));
        _mm256_storeu_ps(out + c, _mm256_mul_ps(centre, vi));
    }
    if (vectorLanes < lanes) columnScalar(p, vectorLanes, lanes, x);
}

// The exact filter along the 8 interleaved lines of a horizontal group (sample i of line c at
// in[i * 8 + c]): columnRowAvx2's operations on one vector of 8 lanes, with the two vectors of
// sums kept in registers from one step to the next instead of in memory. Each sample's grid steps
// are found once, into `steps` (8 doubles a sample), as every sample enters and leaves a window.
LUMET_TARGET_AVX2 void exactInterleaved8Avx2(const float* in, float* out, double* steps,
                                             std::int32_t n, std::int32_t r, float f, float invSize,
                                             bool fraction) {
    const std::int32_t last = n - 1;
    auto at = [&](std::int32_t i) {
        return in + static_cast<std::int64_t>(std::min(std::max(i, 0), last)) * 8;
    };
    auto stepsAt = [&](std::int32_t i) {
        return steps + static_cast<std::int64_t>(std::min(std::max(i, 0), last)) * 8;
    };
    for (std::int64_t i = 0; i < n; ++i) {
        const __m256 s = columnSteps8(_mm256_loadu_ps(in + i * 8));
        _mm256_storeu_pd(steps + i * 8, _mm256_cvtps_pd(_mm256_castps256_ps128(s)));
        _mm256_storeu_pd(steps + i * 8 + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(s, 1)));
    }
    const __m256 unit = _mm256_set1_ps(kColumnUnitsPerStep), vf = _mm256_set1_ps(f);
    const __m256 vi = _mm256_set1_ps(invSize);
    __m256d lo = _mm256_setzero_pd(), hi = _mm256_setzero_pd();
    for (std::int32_t i = -r; i <= r; ++i) {
        lo = _mm256_add_pd(lo, _mm256_loadu_pd(stepsAt(i)));
        hi = _mm256_add_pd(hi, _mm256_loadu_pd(stepsAt(i) + 4));
    }
    for (std::int32_t x = 0; x < n; ++x) {
        if (x > 0) {
            const double* e = stepsAt(x + r);
            const double* l = stepsAt(x - r - 1);
            lo = _mm256_add_pd(lo, _mm256_sub_pd(_mm256_loadu_pd(e), _mm256_loadu_pd(l)));
            hi = _mm256_add_pd(hi, _mm256_sub_pd(_mm256_loadu_pd(e + 4), _mm256_loadu_pd(l + 4)));
        }
        __m256 centre =
            _mm256_mul_ps(_mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo)), unit);
        if (fraction)
            centre = _mm256_add_ps(
                _mm256_add_ps(centre, _mm256_mul_ps(vf, _mm256_loadu_ps(at(x - r - 1)))),
                _mm256_mul_ps(vf, _mm256_loadu_ps(at(x + r + 1))));
        _mm256_storeu_ps(out + static_cast<std::int64_t>(x) * 8, _mm256_mul_ps(centre, vi));
    }
}

// An 8 x 8 block of floats transposed in registers.
LUMET_TARGET_AVX2 inline void transpose8(__m256 v[8]) {
    __m256 t[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm256_unpacklo_ps(v[2 * i], v[2 * i + 1]);
        t[2 * i + 1] = _mm256_unpackhi_ps(v[2 * i], v[2 * i + 1]);
    }
    __m256 u[8];
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            const __m256 a = t[4 * i + j], b = t[4 * i + j + 2];
            u[4 * i + 2 * j] = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 1, 0));
            u[4 * i + 2 * j + 1] = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 2, 3, 2));
        }
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x20);
        v[i + 4] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x31);
    }
}

// Samples [0, w & ~7) of eight rows into the interleaved buffer (sample x of row c at
// buffer[x * 8 + c]); returns the first sample not moved.
LUMET_TARGET_AVX2 std::int64_t interleave8Avx2(const float* const* rows, float* buffer,
                                               std::int64_t w) {
    std::int64_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256 v[8];
        for (int c = 0; c < 8; ++c) v[c] = _mm256_loadu_ps(rows[c] + x);
        transpose8(v);
        for (int c = 0; c < 8; ++c) _mm256_storeu_ps(buffer + (x + c) * 8, v[c]);
    }
    return x;
}

// interleave8Avx2 backwards: the buffer's samples [0, w & ~7) out to the eight rows.
LUMET_TARGET_AVX2 std::int64_t deinterleave8Avx2(const float* buffer, float* const* rows,
                                                 std::int64_t w) {
    std::int64_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256 v[8];
        for (int c = 0; c < 8; ++c) v[c] = _mm256_loadu_ps(buffer + (x + c) * 8);
        transpose8(v);
        for (int c = 0; c < 8; ++c) _mm256_storeu_ps(rows[c] + x, v[c]);
    }
    return x;
}
#endif

// The column filter over `lanes` columns, row by row.
void boxColumns(const ColumnPass& p, std::int32_t lanes) {
    for (std::int32_t x = 0; x < p.n; ++x) {
        // Each step starts reading a row that the hardware's prefetcher, which stops at page
        // ends, has not seen coming: fetch the row a few steps ahead of the one entering.
        const float* ahead =
            p.src +
            static_cast<std::int64_t>(std::min(x + p.r + 1 + kPrefetchRows, p.n - 1)) * p.step;
        for (std::int32_t c = 0; c < lanes; c += 16) __builtin_prefetch(ahead + c);
#if defined(LUMET_BLUR_AVX2)
        if (haveAvx2()) {
            columnRowAvx2(p, lanes, x);
            continue;
        }
#endif
#if defined(LUMET_BLUR_SSE2)
        columnRowSse2(p, lanes, x);
#else
        columnScalar(p, 0, lanes, x);
#endif
    }
}

// The floats of horizontalPass's buffers for rows of `width`: the interleaved group in and out,
// and its samples' grid steps (a double each).
std::int64_t horizontalBufferFloats(std::int32_t width) {
    return 4 * std::int64_t{width} * kRowsPerGroup;
}

// Horizontal pass over rows [begin, end). Groups of kRowsPerGroup rows are interleaved into a
// small buffer (sample x of row c at x * kRowsPerGroup + c) so that the running sums of a group
// advance together over contiguous floats, as the column filter's do (the group is 8 columns of
// a plane whose rows are the samples); a group with fewer rows repeats its last row in its unused
// lanes. Without buffers (null), rows are filtered one at a time.
template <bool kFraction>
void horizontalPass(const float* src, float* dst, std::int32_t width, std::int64_t stride,
                    std::int32_t begin, std::int32_t end, std::int32_t r, float f, float invSize,
                    float* buffers) {
    static_assert(kRowsPerGroup == 8, "the interleaved kernel filters groups of 8 rows");
    const std::int64_t w = width;
    if (!buffers) {
        for (std::int32_t y = begin; y < end; ++y) {
            double sum;
            boxColumns(
                {src + y * stride, dst + y * stride, 1, width, r, f, invSize, kFraction, &sum}, 1);
        }
        return;
    }
    float* in = buffers;
    float* out = in + w * kRowsPerGroup;
    for (std::int32_t y = begin; y < end; y += kRowsPerGroup) {
        const std::int32_t rows = std::min(kRowsPerGroup, end - y);
        const float* rowOf[kRowsPerGroup];
        for (std::int32_t c = 0; c < kRowsPerGroup; ++c)
            rowOf[c] = src + (y + std::min(c, rows - 1)) * stride;
        std::int64_t x = 0;
#if defined(LUMET_BLUR_AVX2)
        if (haveAvx2()) x = interleave8Avx2(rowOf, in, w);
#endif
#ifdef LUMET_BLUR_SSE2
        for (; x + 4 <= w; x += 4) {
            for (int half = 0; half < 2; ++half) {
                __m128 a = _mm_loadu_ps(rowOf[4 * half] + x);
                __m128 b = _mm_loadu_ps(rowOf[4 * half + 1] + x);
                __m128 c = _mm_loadu_ps(rowOf[4 * half + 2] + x);
                __m128 d = _mm_loadu_ps(rowOf[4 * half + 3] + x);
                _MM_TRANSPOSE4_PS(a, b, c, d);
                float* o = in + x * kRowsPerGroup + 4 * half;
                _mm_storeu_ps(o, a);
                _mm_storeu_ps(o + kRowsPerGroup, b);
                _mm_storeu_ps(o + 2 * kRowsPerGroup, c);
                _mm_storeu_ps(o + 3 * kRowsPerGroup, d);
            }
        }
#endif
        for (; x < w; ++x)
            for (std::int32_t c = 0; c < kRowsPerGroup; ++c)
                in[x * kRowsPerGroup + c] = rowOf[c][x];
#if defined(LUMET_BLUR_AVX2)
        if (haveAvx2()) {
            exactInterleaved8Avx2(in, out, reinterpret_cast<double*>(out + w * kRowsPerGroup),
                                  width, r, f, invSize, kFraction);
        } else
#endif
        {
            double sums[kRowsPerGroup];
            boxColumns({in, out, kRowsPerGroup, width, r, f, invSize, kFraction, sums},
                       kRowsPerGroup);
        }
        x = 0;
#ifdef LUMET_BLUR_SSE2
        if (rows == kRowsPerGroup) {
#if defined(LUMET_BLUR_AVX2)
            float* rowTo[kRowsPerGroup];
            for (std::int32_t c = 0; c < kRowsPerGroup; ++c) rowTo[c] = dst + (y + c) * stride;
            if (haveAvx2()) x = deinterleave8Avx2(out, rowTo, w);
#endif
            for (; x + 4 <= w; x += 4) {
                for (int half = 0; half < 2; ++half) {
                    const float* o = out + x * kRowsPerGroup + 4 * half;
                    __m128 a = _mm_loadu_ps(o);
                    __m128 b = _mm_loadu_ps(o + kRowsPerGroup);
                    __m128 c = _mm_loadu_ps(o + 2 * kRowsPerGroup);
                    __m128 d = _mm_loadu_ps(o + 3 * kRowsPerGroup);
                    _MM_TRANSPOSE4_PS(a, b, c, d);
                    float* row = dst + (y + 4 * half) * stride + x;
                    _mm_storeu_ps(row, a);
                    _mm_storeu_ps(row + stride, b);
                    _mm_storeu_ps(row + 2 * stride, c);
                    _mm_storeu_ps(row + 3 * stride, d);
                }
            }
        }
#endif
        for (std::int32_t c = 0; c < rows; ++c) {
            float* __restrict row = dst + (y + c) * stride;
            for (std::int64_t xx = x; xx < w; ++xx) row[xx] = out[xx * kRowsPerGroup + c];
        }
    }
}

// Both passes of boxBlur over the part of the plane that the content can reach: the content's rows
// into scratch over the reached columns, then the reached columns back into the destination over
// the reached rows. A line cut where its samples are zero for at least the window's reach keeps
// exact sums (the sum before content enters is exactly 0, and a clamped read at the cut reads a
// zero where the whole line reads one), so the floats are those of the whole plane's passes.
// ParallelRowGroups, or the whole range on the calling thread.
template <class Function>
void splitOrNot(bool onThisThread, std::int32_t n, std::int32_t group, Function&& function) {
    if (!onThisThread)
        ParallelRowGroups(n, group, function);
    else if (n > 0)
        function(0, n);
}

template <bool kFraction>
void boxPasses(const float* source, float* destination, float* scratch, std::int32_t width,
               const FrameWindow& content, const FrameWindow& reached, std::int32_t radius,
               float fraction, float invSize, bool onThisThread) {
    const std::int64_t w = width;
    const std::int64_t x0 = reached.x;
    // One set of buffers per worker: a worker's pieces run one after another.
    const std::int64_t bufferFloats = horizontalBufferFloats(reached.width);
    const unsigned bands = onThisThread ? 1 : parallelBandCount(content.height, kRowsPerGroup);
    const Plane<float> buffers = allocatePlane<float>(bands * bufferFloats);
    splitOrNot(onThisThread, content.height, kRowsPerGroup,
               [&](std::int32_t begin, std::int32_t end) {
                   const unsigned band = onThisThread ? 0 : std::min(parallelWorker(), bands - 1);
                   float* own = buffers ? buffers.get() + band * bufferFloats : nullptr;
                   horizontalPass<kFraction>(source + x0, scratch + x0, reached.width, w,
                                             content.y + begin, content.y + end, radius, fraction,
                                             invSize, own);
               });
    // The reached rows above and below the content are zero after the first pass.
    const std::size_t segment = static_cast<std::size_t>(reached.width) * sizeof(float);
    for (std::int32_t y = reached.y; y < reached.y + reached.height; ++y) {
        if (y == content.y) y += content.height;
        if (y < reached.y + reached.height) std::memset(scratch + y * w + x0, 0, segment);
    }
    if (onThisThread && parallelWorkStopped()) return;
    const std::int64_t top = reached.y * w + x0;
    splitOrNot(onThisThread, reached.width, kColumnsPerPiece,
               [&](std::int32_t begin, std::int32_t end) {
                   double sums[kColumnsPerGroup];
                   for (std::int32_t x = begin; x < end; x += kColumnsPerGroup) {
                       const std::int32_t columns = std::min(kColumnsPerGroup, end - x);
                       boxColumns({scratch + top + x, destination + top + x, w, reached.height,
                                   radius, fraction, invSize, kFraction, sums},
                                  columns);
                   }
               });
}

// Sets every pixel of the plane outside the window to +0.
void clearOutside(float* plane, const FrameWindow& window, bool onThisThread = false) {
    const std::int64_t w = window.frameWidth;
    const std::int32_t H = window.frameHeight;
    splitOrNot(onThisThread, H, 1, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) {
            float* row = plane + y * w;
            if (y < window.y || y >= window.y + window.height) {
                std::memset(row, 0, static_cast<std::size_t>(w) * sizeof(float));
                continue;
            }
            std::memset(row, 0, static_cast<std::size_t>(window.x) * sizeof(float));
            const std::int64_t right = std::int64_t{window.x} + window.width;
            std::memset(row + right, 0, static_cast<std::size_t>(w - right) * sizeof(float));
        }
    });
}

}  // namespace

void boxBlur(float* plane, float* scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius, float fraction) {
    boxBlurInto(plane, plane, scratch, width, height, radius, fraction);
}

void boxBlurInto(const float* source, float* destination, float* scratch, std::int32_t width,
                 std::int32_t height, std::int32_t radius, float fraction) {
    boxBlurContent(source, destination, scratch, radius, fraction,
                   FrameWindow::whole(width, height));
}

FrameWindow boxBlurContent(const float* source, float* destination, float* scratch,
                           std::int32_t radius, float fraction, const FrameWindow& content,
                           bool onThisThread) {
    const std::int32_t width = content.frameWidth, height = content.frameHeight;
    if (width < 1 || height < 1 || !source || !destination || !scratch) return content;
    if (content.width < 1 || content.height < 1) {
        const FrameWindow nothing{0, 0, 0, 0, width, height};
        if (source != destination) clearOutside(destination, nothing, onThisThread);
        return nothing;
    }
    if (radius < 1 && fraction < 0.001f) {
        if (source != destination)
            std::memcpy(destination, source, planeBytes(width, height, sizeof(float)));
        return content;
    }
    const float invSize = 1.0f / (2.0f * static_cast<float>(radius) + 1.0f + 2.0f * fraction);
    const bool withFraction = fraction != 0.0f;
    const FrameWindow reached = content.grown(std::int64_t{radius} + (withFraction ? 1 : 0));
    if (withFraction)
        boxPasses<true>(source, destination, scratch, width, content, reached, radius, fraction,
                        invSize, onThisThread);
    else
        boxPasses<false>(source, destination, scratch, width, content, reached, radius, fraction,
                         invSize, onThisThread);
    // In place, the plane is already zero outside the content and so outside what it reached.
    if (source != destination && !reached.isWhole())
        clearOutside(destination, reached, onThisThread);
    return reached;
}

void threePassRadii(std::int32_t radius, std::int32_t out[3]) {
    const float r = static_cast<float>(std::min(radius, kBlurRadiusCap));
    for (int i = 0; i < 3; ++i)
        out[i] = std::max(1, static_cast<std::int32_t>(r * kThreePassFactors[i]));
}

std::int32_t threePassReach(std::int32_t radius) {
    if (radius < 1) return 0;
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    return radii[0] + radii[1] + radii[2];
}

namespace {

// The smallest window of the plane outside which every float is +0 (all bits clear; -0 counts as
// content), empty when the whole plane is. Rows are read whole only where they hold nothing;
// the others only up to their first and from their last content.
FrameWindow contentOf(const float* plane, std::int32_t width, std::int32_t height) {
    const std::int64_t w = width;
    const auto clear = [](float v) { return std::bit_cast<std::uint32_t>(v) == 0; };
    const auto rowHolds = [&](std::int32_t y) {
        const float* row = plane + y * w;
        std::uint32_t bits = 0;
        for (std::int64_t x = 0; x < w; ++x) bits |= std::bit_cast<std::uint32_t>(row[x]);
        return bits != 0;
    };
    std::int32_t top = 0, bottom = height - 1;
    while (top < height && !rowHolds(top)) ++top;
    if (top == height) return {0, 0, 0, 0, width, height};
    while (!rowHolds(bottom)) --bottom;
    std::int32_t left = width, right = -1;
    for (std::int32_t y = top; y <= bottom; ++y) {
        const float* row = plane + y * w;
        for (std::int32_t x = 0; x < left; ++x) {
            if (!clear(row[x])) {
                left = x;
                break;
            }
        }
        for (std::int32_t x = width - 1; x > right; --x) {
            if (!clear(row[x])) {
                right = x;
                break;
            }
        }
    }
    return {left, top, right - left + 1, bottom - top + 1, width, height};
}

}  // namespace

void threePassBoxBlur(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                      float* scratch, bool onThisThread) {
    if (radius < 1 || width < 1 || height < 1 || !plane) return;
    Plane<float> owned;
    if (!scratch) {
        owned = allocatePlane<float>(static_cast<std::int64_t>(width) * height);
        if (!owned) return;
        scratch = owned.get();
    }
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    // Only what the content reaches is filtered: outside it every pass of the whole plane would
    // write +0, which is what lies there.
    FrameWindow content = contentOf(plane, width, height);
    for (std::int32_t r : radii) {
        if (onThisThread && parallelWorkStopped()) return;
        content = boxBlurContent(plane, plane, scratch, r, 0.0f, content, onThisThread);
    }
}

namespace {

// dst[x] = the sum over j of taps[j][x] * k[j] for x in [begin, end), the products added in the
// order j = 0, 1, ... starting from 0: the order of the direct convolution, so the floats are its
// floats. kGaussianBlock outputs are summed together in registers and each tap's samples are
// contiguous, so every tap costs one load per output and the sums of a block advance in
// independent chains. (Left to itself the compiler keeps such sums in memory, hence the SSE form;
// each lane does the scalar loop's multiply and add.)
constexpr std::int64_t kGaussianBlock = 32;

#ifdef LUMET_BLUR_AVX2
// sumTaps' blocks in 256-bit vectors: the same multiply and add per lane, never fused.
LUMET_TARGET_AVX2 std::int64_t sumTapBlocksAvx2(const float* const* taps, const float* k,
                                                std::int32_t count, float* dst, std::int64_t x,
                                                std::int64_t end) {
    for (; x + kGaussianBlock <= end; x += kGaussianBlock) {
        __m256 acc[kGaussianBlock / 8];
        for (__m256& a : acc) a = _mm256_setzero_ps();
        for (std::int32_t j = 0; j < count; ++j) {
            const float* tap = taps[j] + x;
            const __m256 weight = _mm256_set1_ps(k[j]);
            for (std::int64_t i = 0; i < kGaussianBlock / 8; ++i)
                acc[i] = _mm256_add_ps(acc[i], _mm256_mul_ps(_mm256_loadu_ps(tap + 8 * i), weight));
        }
        for (std::int64_t i = 0; i < kGaussianBlock / 8; ++i)
            _mm256_storeu_ps(dst + x + 8 * i, acc[i]);
    }
    return x;
}
#endif

void sumTaps(const float* const* taps, const float* k, std::int32_t count, float* dst,
             std::int64_t begin, std::int64_t end) {
    std::int64_t x = begin;
#ifdef LUMET_BLUR_AVX2
    if (haveAvx2()) x = sumTapBlocksAvx2(taps, k, count, dst, x, end);
#endif
#ifdef LUMET_BLUR_SSE2
    for (; x + kGaussianBlock <= end; x += kGaussianBlock) {
        __m128 acc[kGaussianBlock / 4];
        for (__m128& a : acc) a = _mm_setzero_ps();
        for (std::int32_t j = 0; j < count; ++j) {
            const float* tap = taps[j] + x;
            const __m128 weight = _mm_set1_ps(k[j]);
            for (std::int64_t i = 0; i < kGaussianBlock / 4; ++i)
                acc[i] = _mm_add_ps(acc[i], _mm_mul_ps(_mm_loadu_ps(tap + 4 * i), weight));
        }
        for (std::int64_t i = 0; i < kGaussianBlock / 4; ++i)
            _mm_storeu_ps(dst + x + 4 * i, acc[i]);
    }
#endif
    for (; x < end; ++x) {
        float sum = 0.0f;
        for (std::int32_t j = 0; j < count; ++j) sum += taps[j][x] * k[j];
        dst[x] = sum;
    }
}

// Columns per tile of the vertical pass: the 2r + 1 row segments one output row reads stay in the
// core's cache while the tile is walked top to bottom.
constexpr std::int32_t kGaussianColumnTile = 256;
constexpr std::int32_t kGaussianMaxRadius = 500;

}  // namespace

void gaussianBlurWrapX(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       float* scratch) {
    if (radius < 1 || width < 1 || height < 1 || !plane) return;
    const std::int32_t r = std::min(radius, kGaussianMaxRadius);
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
    const std::int32_t taps = 2 * r + 1;
    const std::int64_t w = width;
    // Horizontal pass: each row is first copied with r wrapped samples on either side, so tap j
    // of output x is padded[x + j] and needs no modulo. Bands that cannot get a padded row use
    // the direct per-pixel loop.
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        Plane<float> padded = allocatePlane<float>(static_cast<std::int64_t>(width) + 2 * r);
        const float* tapStart[2 * kGaussianMaxRadius + 1];
        if (padded)
            for (std::int32_t j = 0; j < taps; ++j) tapStart[j] = padded.get() + j;
        for (std::int32_t y = begin; y < end; ++y) {
            const float* src = plane + y * w;
            float* dst = scratch + y * w;
            if (padded) {
                float* row = padded.get();
                auto wrapped = [&](std::int32_t i) {
                    std::int32_t sx = (i - r) % width;
                    if (sx < 0) sx += width;
                    row[i] = src[sx];
                };
                for (std::int32_t i = 0; i < r; ++i) wrapped(i);
                std::memcpy(row + r, src, static_cast<std::size_t>(width) * sizeof(float));
                for (std::int32_t i = r + width; i < width + 2 * r; ++i) wrapped(i);
                sumTaps(tapStart, k, taps, dst, 0, width);
                continue;
            }
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
    // Vertical pass: each band walks its columns in tiles, each tile top to bottom; tap j of row
    // y is the clamped row y + j - r.
    ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
        const float* tapRow[2 * kGaussianMaxRadius + 1];
        for (std::int32_t x = begin; x < end; x += kGaussianColumnTile) {
            const std::int32_t tileEnd = std::min(end, x + kGaussianColumnTile);
            for (std::int32_t y = 0; y < height; ++y) {
                for (std::int32_t j = 0; j < taps; ++j)
                    tapRow[j] = scratch + std::min(std::max(y + j - r, 0), height - 1) * w;
                sumTaps(tapRow, k, taps, plane + y * w, x, tileEnd);
            }
        }
    });
}

}  // namespace lumet
