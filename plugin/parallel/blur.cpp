// Box blurs by running sums (cost per pixel independent of the radius) and the wrapping Gaussian
// by direct convolution. Horizontal passes are split by rows, vertical passes by columns; each
// worker walks its own columns top to bottom.
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

// Whether v is +0 or -0; NaN is not.
inline bool isZero(float v) { return (std::bit_cast<std::uint32_t>(v) << 1) == 0; }

// v where keep holds, else +0, by a mask on the bits.
inline float keepIf(bool keep, float v) {
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(v) & (keep ? ~0u : 0u));
}

// The fractional box filter along a run of n samples, applied to `lanes` independent lines at once:
// sample i of lane c is at src[i * step + c * laneStep]. Each lane keeps its own running sum and
// sees exactly the operations of a lone line, so grouping lines never changes a result; it only
// lets the vertical pass walk contiguous row segments (several columns per step) and the
// horizontal pass overlap the dependency chains of neighbouring rows.
// kContiguousLanes fixes the lane step to 1 at compile time, so the lane loops vectorise.
// Without a fraction (kFraction false, f = 0) the update is sum += enter - leave: the same float
// as the full update, whose fraction terms are then zeros and whose (1 - f) factors are ones, for
// every finite sample; it halves the loads and arithmetic of the three-pass blur's passes.
// Each lane also keeps the clamped index of the last non-zero sample (NaN included) that entered
// its window; once that index lies below the window's lowest tap, every tap is zero and the sum
// is set to exactly 0 (see blur.h). Both tests are on integers (isZero reads the bits), so the
// selects stay branchless and the lane loops still vectorise: the compiler, keeping float
// compares' exceptions, will not turn a select on one into vector code.
// How many rows ahead of the entering one a wide group of lines prefetches.
constexpr std::int32_t kPrefetchRows = 4;

template <int kMaxLanes, bool kContiguousLanes, bool kFraction>
LUMET_AVX2_CLONES void boxLines(const float* __restrict src, float* __restrict dst,
                                std::int64_t step, std::int64_t runtimeLaneStep, std::int32_t lanes,
                                std::int32_t n, std::int32_t r, float f, float invSize) {
    const std::int64_t laneStep = kContiguousLanes ? 1 : runtimeLaneStep;
    // The window of output x spans x - reach .. x + reach: the fraction's taps are one further out.
    const std::int32_t reach = kFraction ? r + 1 : r;
    float sum[kMaxLanes];
    std::int32_t lastNonZero[kMaxLanes];
    const std::int32_t last = n - 1;
    auto clampIndex = [&](std::int32_t i) { return std::min(std::max(i, 0), last); };
    auto line = [&](std::int32_t i) { return src + static_cast<std::int64_t>(i) * step; };
    for (std::int32_t c = 0; c < lanes; ++c) {
        sum[c] = 0.0f;
        lastNonZero[c] = -1;
    }
    for (std::int32_t i = -r; i <= r; ++i) {
        const float* p = line(clampIndex(i));
        for (std::int32_t c = 0; c < lanes; ++c) sum[c] += p[c * laneStep];
    }
    for (std::int32_t i = 0; i <= std::min(reach, last); ++i) {
        const float* p = line(i);
        for (std::int32_t c = 0; c < lanes; ++c)
            lastNonZero[c] = isZero(p[c * laneStep]) ? lastNonZero[c] : i;
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
        const std::int32_t entering = std::min(x + reach, last);
        const std::int32_t lowestTap = x - reach;
        float* out = dst + static_cast<std::int64_t>(x) * step;
        if (!kFraction) {
            for (std::int32_t c = 0; c < lanes; ++c) {
                const std::int64_t o = c * laneStep;
                const float e = enter[o];
                const std::int32_t nonZero = isZero(e) ? lastNonZero[c] : entering;
                lastNonZero[c] = nonZero;
                const float s = keepIf(nonZero >= lowestTap, sum[c] + (e - leave[o]));
                sum[c] = s;
                out[o] = s * invSize;
            }
            continue;
        }
        for (std::int32_t c = 0; c < lanes; ++c) {
            const std::int64_t o = c * laneStep;
            const float ef = enterFraction[o];
            const std::int32_t nonZero = isZero(ef) ? lastNonZero[c] : entering;
            lastNonZero[c] = nonZero;
            const float s =
                keepIf(nonZero >= lowestTap,
                       sum[c] + (g * enter[o] + f * ef - g * leave[o] - f * leaveFraction[o]));
            sum[c] = s;
            out[o] = s * invSize;
        }
    }
}

constexpr std::int32_t kRowsPerGroup = 8;  // horizontal pass: rows filtered together
// Vertical pass: columns filtered together. A whole band of a wide plane at once, so every row
// step reads long contiguous runs (8 KB of running sums stay in the first-level cache).
constexpr std::int32_t kColumnsPerGroup = 2048;
// The vertical pass's columns are handed to its bands in pieces of whole multiples of this: each
// row step then reads half a kilobyte or more of every row it touches.
constexpr std::int32_t kColumnsPerPiece = 128;

#if defined(__SSE2__) || defined(_M_X64)
#define LUMET_BLUR_SSE2 1

// boxLines over the 8 lanes of an interleaved group, two packed lanes of four at a time. Every lane
// goes through the same operations in the same order as in boxLines, so the sums are identical;
// the last non-zero indices are integer vectors and the reset to zero a mask.
template <bool kFraction>
void boxInterleaved8(const float* in, float* out, std::int32_t n, std::int32_t r, float f,
                     float invSize) {
    const std::int32_t last = n - 1;
    const std::int32_t reach = kFraction ? r + 1 : r;
    auto at = [&](std::int32_t i) {
        return in + static_cast<std::int64_t>(std::min(std::max(i, 0), last)) * 8;
    };
    const __m128 zero = _mm_setzero_ps();
    // lastNonZero where the entering sample v is zero, else entering.
    auto track = [&](__m128i lastNonZero, __m128 v, __m128i entering) {
        const __m128i isZero = _mm_castps_si128(_mm_cmpeq_ps(v, zero));
        return _mm_or_si128(_mm_and_si128(isZero, lastNonZero), _mm_andnot_si128(isZero, entering));
    };
    // s with its lanes whose last non-zero index is below lowestTap set to 0. The sums form one
    // dependency chain per x, so the common cases (no lane, or every lane) branch around the mask.
    auto resetDead = [&](__m128 s, __m128i lastNonZero, __m128i lowestTap) {
        const __m128 dead = _mm_castsi128_ps(_mm_cmplt_epi32(lastNonZero, lowestTap));
        const int lanes = _mm_movemask_ps(dead);
        if (lanes == 0) return s;
        if (lanes == 0xF) return zero;
        return _mm_andnot_ps(dead, s);
    };
    __m128 s0 = _mm_setzero_ps(), s1 = _mm_setzero_ps();
    for (std::int32_t i = -r; i <= r; ++i) {
        const float* p = at(i);
        s0 = _mm_add_ps(s0, _mm_loadu_ps(p));
        s1 = _mm_add_ps(s1, _mm_loadu_ps(p + 4));
    }
    __m128i nz0 = _mm_set1_epi32(-1), nz1 = _mm_set1_epi32(-1);
    for (std::int32_t i = 0; i <= std::min(reach, last); ++i) {
        const float* p = at(i);
        const __m128i index = _mm_set1_epi32(i);
        nz0 = track(nz0, _mm_loadu_ps(p), index);
        nz1 = track(nz1, _mm_loadu_ps(p + 4), index);
    }
    const __m128 vf = _mm_set1_ps(f), vg = _mm_set1_ps(1.0f - f), vi = _mm_set1_ps(invSize);
    {
        const float* before = at(-r - 1);
        const float* after = at(r + 1);
        s0 = _mm_add_ps(s0, _mm_add_ps(_mm_mul_ps(vf, _mm_loadu_ps(before)),
                                       _mm_mul_ps(vf, _mm_loadu_ps(after))));
        s1 = _mm_add_ps(s1, _mm_add_ps(_mm_mul_ps(vf, _mm_loadu_ps(before + 4)),
                                       _mm_mul_ps(vf, _mm_loadu_ps(after + 4))));
    }
    _mm_storeu_ps(out, _mm_mul_ps(s0, vi));
    _mm_storeu_ps(out + 4, _mm_mul_ps(s1, vi));
    auto delta = [&](__m128 e, __m128 ef, const float* l, const float* lf) {
        return _mm_sub_ps(_mm_sub_ps(_mm_add_ps(_mm_mul_ps(vg, e), _mm_mul_ps(vf, ef)),
                                     _mm_mul_ps(vg, _mm_loadu_ps(l))),
                          _mm_mul_ps(vf, _mm_loadu_ps(lf)));
    };
    for (std::int32_t x = 1; x < n; ++x) {
        const float* e = at(x + r);
        const float* l = at(x - r - 1);
        const __m128i entering = _mm_set1_epi32(std::min(x + reach, last));
        const __m128i lowestTap = _mm_set1_epi32(x - reach);
        if (kFraction) {
            const float* ef = at(x + r + 1);
            const float* lf = at(x - r - 2);
            const __m128 ef0 = _mm_loadu_ps(ef), ef1 = _mm_loadu_ps(ef + 4);
            nz0 = track(nz0, ef0, entering);
            nz1 = track(nz1, ef1, entering);
            s0 = _mm_add_ps(s0, delta(_mm_loadu_ps(e), ef0, l, lf));
            s1 = _mm_add_ps(s1, delta(_mm_loadu_ps(e + 4), ef1, l + 4, lf + 4));
        } else {
            const __m128 e0 = _mm_loadu_ps(e), e1 = _mm_loadu_ps(e + 4);
            nz0 = track(nz0, e0, entering);
            nz1 = track(nz1, e1, entering);
            s0 = _mm_add_ps(s0, _mm_sub_ps(e0, _mm_loadu_ps(l)));
            s1 = _mm_add_ps(s1, _mm_sub_ps(e1, _mm_loadu_ps(l + 4)));
        }
        s0 = resetDead(s0, nz0, lowestTap);
        s1 = resetDead(s1, nz1, lowestTap);
        float* o = out + static_cast<std::int64_t>(x) * 8;
        _mm_storeu_ps(o, _mm_mul_ps(s0, vi));
        _mm_storeu_ps(o + 4, _mm_mul_ps(s1, vi));
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMET_BLUR_AVX2 1

#define LUMET_TARGET_AVX2 __attribute__((target("avx2")))

// lastNonZero where the entering sample v is zero (NaN is not), else entering.
LUMET_TARGET_AVX2 inline __m256i trackNonZero(__m256i lastNonZero, __m256 v, __m256i entering) {
    const __m256i isZero = _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_EQ_OQ));
    return _mm256_blendv_epi8(entering, lastNonZero, isZero);
}

// s with its lanes whose last non-zero index is below lowestTap set to 0.
LUMET_TARGET_AVX2 inline __m256 resetDeadLanes(__m256 s, __m256i lastNonZero, __m256i lowestTap) {
    const __m256 dead = _mm256_castsi256_ps(_mm256_cmpgt_epi32(lowestTap, lastNonZero));
    const int lanes = _mm256_movemask_ps(dead);
    if (lanes == 0) return s;
    if (lanes == 0xFF) return _mm256_setzero_ps();
    return _mm256_andnot_ps(dead, s);
}

// boxInterleaved8 with the 8 lanes in one 256-bit vector, for processors with AVX2. The same
// operations in the same order on every lane (multiplies and adds, never fused), so the same
// floats; half the instructions of the two 128-bit halves.
template <bool kFraction>
LUMET_TARGET_AVX2 void boxInterleaved8Avx2(const float* in, float* out, std::int32_t n,
                                           std::int32_t r, float f, float invSize) {
    const std::int32_t last = n - 1;
    const std::int32_t reach = kFraction ? r + 1 : r;
    auto at = [&](std::int32_t i) {
        return in + static_cast<std::int64_t>(std::min(std::max(i, 0), last)) * 8;
    };
    const auto track = trackNonZero;
    const auto resetDead = resetDeadLanes;
    __m256 s = _mm256_setzero_ps();
    for (std::int32_t i = -r; i <= r; ++i) s = _mm256_add_ps(s, _mm256_loadu_ps(at(i)));
    __m256i nz = _mm256_set1_epi32(-1);
    for (std::int32_t i = 0; i <= std::min(reach, last); ++i)
        nz = track(nz, _mm256_loadu_ps(at(i)), _mm256_set1_epi32(i));
    const __m256 vf = _mm256_set1_ps(f), vg = _mm256_set1_ps(1.0f - f);
    const __m256 vi = _mm256_set1_ps(invSize);
    s = _mm256_add_ps(s, _mm256_add_ps(_mm256_mul_ps(vf, _mm256_loadu_ps(at(-r - 1))),
                                       _mm256_mul_ps(vf, _mm256_loadu_ps(at(r + 1)))));
    _mm256_storeu_ps(out, _mm256_mul_ps(s, vi));
    for (std::int32_t x = 1; x < n; ++x) {
        const __m256i entering = _mm256_set1_epi32(std::min(x + reach, last));
        const __m256i lowestTap = _mm256_set1_epi32(x - reach);
        const __m256 e = _mm256_loadu_ps(at(x + r));
        const __m256 l = _mm256_loadu_ps(at(x - r - 1));
        if (kFraction) {
            const __m256 ef = _mm256_loadu_ps(at(x + r + 1));
            const __m256 lf = _mm256_loadu_ps(at(x - r - 2));
            nz = track(nz, ef, entering);
            const __m256 delta = _mm256_sub_ps(
                _mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(vg, e), _mm256_mul_ps(vf, ef)),
                              _mm256_mul_ps(vg, l)),
                _mm256_mul_ps(vf, lf));
            s = _mm256_add_ps(s, delta);
        } else {
            nz = track(nz, e, entering);
            s = _mm256_add_ps(s, _mm256_sub_ps(e, l));
        }
        s = resetDead(s, nz, lowestTap);
        _mm256_storeu_ps(out + static_cast<std::int64_t>(x) * 8, _mm256_mul_ps(s, vi));
    }
}

bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
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

// The floats of horizontalPass's buffers for rows of `width`.
std::int64_t horizontalBufferFloats(std::int32_t width) {
    return 2 * std::int64_t{width} * kRowsPerGroup;
}

// Horizontal pass over rows [begin, end). Groups of kRowsPerGroup rows are interleaved into a
// small buffer (sample x of row c at x * kRowsPerGroup + c) so that the running sums of a group
// advance together over contiguous floats; a group with fewer rows repeats its last row in its
// unused lanes. Without buffers (null), rows are filtered a group at a time in place.
template <bool kFraction>
void horizontalPass(const float* src, float* dst, std::int32_t width, std::int64_t stride,
                    std::int32_t begin, std::int32_t end, std::int32_t r, float f, float invSize,
                    float* buffers) {
    static_assert(kRowsPerGroup == 8, "the interleaved kernel filters groups of 8 rows");
    const std::int64_t w = width;
    if (!buffers) {
        for (std::int32_t y = begin; y < end; y += kRowsPerGroup)
            boxLines<kRowsPerGroup, false, kFraction>(src + y * stride, dst + y * stride, 1, stride,
                                                      std::min(kRowsPerGroup, end - y), width, r, f,
                                                      invSize);
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
        if (haveAvx2())
            boxInterleaved8Avx2<kFraction>(in, out, width, r, f, invSize);
        else
            boxInterleaved8<kFraction>(in, out, width, r, f, invSize);
#elif defined(LUMET_BLUR_SSE2)
        boxInterleaved8<kFraction>(in, out, width, r, f, invSize);
#else
        boxLines<kRowsPerGroup, true, kFraction>(in, out, kRowsPerGroup, 1, kRowsPerGroup, width, r,
                                                 f, invSize);
#endif
        x = 0;
#ifdef LUMET_BLUR_SSE2
        if (rows == kRowsPerGroup) {
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
    for (std::int32_t r : radii) {
        if (onThisThread && parallelWorkStopped()) return;
        boxBlurContent(plane, plane, scratch, r, 0.0f, FrameWindow::whole(width, height),
                       onThisThread);
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
