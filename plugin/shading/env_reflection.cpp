// Environment reflection: a planar projection of the environment map, centred on the frame with a
// slight barrel distortion, displaced by the surface normal and optionally streaked along 135
// degrees (anisotropy); the sharp Catmull-Rom sample is blended towards the blurred bilinear one
// by the Blur setting and the steepness of the surface. Dispersion re-samples red and blue at
// horizontally shifted positions.
#include "shading/env_reflection.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/pixel_formulas.h"
#include "envmap/bicubic_taps.h"
#include "envmap/env_map.h"
#include "envmap/interleaved_sampler.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"
#include "platform/plane.h"
#ifdef LUMET_AVX2_TARGET
#include <immintrin.h>
#endif

namespace lumet {

namespace {

inline bool isSurface(std::uint8_t alpha, float height) {
    return alpha >= kSurfaceAlpha || height >= kRaisedHeight;
}

// The bilinear rule of sampleBilinearWrapX on the interleaved smooth colours. u comes wrapped by
// u - floor(u), which rounds to exactly 1.0 for a tiny negative u: that is column 0, as the sharp
// sample of the same pixel reads it, not the last column. With SSE2 the channels are lanes 0-2,
// each through the scalar form's operations in its order.
struct SmoothTaps {
    const float *p00, *p10, *p01, *p11;
    float w00, w10, w01, w11;
};

inline SmoothTaps smoothTaps(const float* rgb, std::int32_t w, std::int32_t h, float u, float v) {
    if (u >= 1.0f) u -= 1.0f;
    const float fx = static_cast<float>(w - 1) * u;
    const std::int32_t ix = static_cast<std::int32_t>(fx);
    const float tx = fx - static_cast<float>(ix);
    const std::int32_t ix1 = wrapIndex(ix + 1, w);
    const float fy = static_cast<float>(h - 1) * std::clamp(v, 0.0f, 1.0f);
    const std::int32_t iy = static_cast<std::int32_t>(fy);
    const float ty = fy - static_cast<float>(iy);
    const std::int64_t row0 = static_cast<std::int64_t>(std::max(iy, 0)) * w;
    const std::int64_t row1 = static_cast<std::int64_t>(std::min(iy + 1, h - 1)) * w;
    return {rgb + 3 * (row0 + ix),     rgb + 3 * (row0 + ix1),
            rgb + 3 * (row1 + ix),     rgb + 3 * (row1 + ix1),
            (1.0f - tx) * (1.0f - ty), tx * (1.0f - ty),
            (1.0f - tx) * ty,          tx * ty};
}

#ifdef LUMET_INTERLEAVED_SSE2
inline __m128 smoothLanes(const SmoothTaps& t) {
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_loadu_ps(t.p00), _mm_set1_ps(t.w00)),
                                            _mm_mul_ps(_mm_loadu_ps(t.p10), _mm_set1_ps(t.w10))),
                                 _mm_mul_ps(_mm_loadu_ps(t.p01), _mm_set1_ps(t.w01))),
                      _mm_mul_ps(_mm_loadu_ps(t.p11), _mm_set1_ps(t.w11)));
}
#endif

inline float smoothChannel(const SmoothTaps& t, int c) {
    return t.p00[c] * t.w00 + t.p10[c] * t.w10 + t.p01[c] * t.w01 + t.p11[c] * t.w11;
}

struct ReflectionJob {
    SurfaceView surface;
    RgbPlanes<float> out;
    FrameWindow window;   // in working pixels
    const float* sharp;   // interleaved
    const float* smooth;  // interleaved
    std::int32_t envW, envH;
    ReflectionConstants k;
};

// Where a surface pixel reads the map, and the smooth sample's share.
struct Lookup {
    std::int32_t x;
    float u, v, s;
};

#ifdef LUMET_AVX2_TARGET
// catmullRom4 on eight lanes: two pixels' texels side by side, each lane through the scalar
// cubic's operations in their order.
LUMET_TARGET_AVX2 inline __m256 catmullRom8(__m256 p0, __m256 p1, __m256 p2, __m256 p3, __m256 t) {
    const __m256 two = _mm256_set1_ps(2.0f), three = _mm256_set1_ps(3.0f);
    const __m256 four = _mm256_set1_ps(4.0f), five = _mm256_set1_ps(5.0f);
    const __m256 a = _mm256_mul_ps(two, p1);
    const __m256 b = _mm256_mul_ps(_mm256_sub_ps(p2, p0), t);
    const __m256 c2 =
        _mm256_sub_ps(_mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(two, p0), _mm256_mul_ps(five, p1)),
                                    _mm256_mul_ps(four, p2)),
                      p3);
    const __m256 c = _mm256_mul_ps(_mm256_mul_ps(c2, t), t);
    const __m256 d3 = _mm256_add_ps(
        _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(three, p1), p0), _mm256_mul_ps(three, p2)), p3);
    const __m256 d = _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(d3, t), t), t);
    return _mm256_mul_ps(_mm256_set1_ps(0.5f),
                         _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(a, b), c), d));
}

// Four floats from a in lanes 0-3 and four from b in lanes 4-7.
LUMET_TARGET_AVX2 inline __m256 loadPair(const float* a, const float* b) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
}

LUMET_TARGET_AVX2 inline __m256 pairOf(float a, float b) {
    return _mm256_setr_ps(a, a, a, a, b, b, b, b);
}

// Two pixels' reflections at once (without dispersion): the sharp sample, the smooth one and
// their blend as the SSE2 path computes each, pixel a in lanes 0-2 and pixel b in lanes 4-6.
LUMET_TARGET_AVX2 void reflectPair(const ReflectionJob& job, const Lookup& a, const Lookup& b,
                                   float* outR, float* outG, float* outB) {
    const std::int32_t w = job.envW, h = job.envH;
    const CubicTaps columnsA = wrappedColumnTaps(a.u, w), rowsA = clampedRowTaps(a.v, h);
    const CubicTaps columnsB = wrappedColumnTaps(b.u, w), rowsB = clampedRowTaps(b.v, h);
    const __m256 tc = pairOf(columnsA.t, columnsB.t);
    __m256 across[4];
    for (std::int32_t k = 0; k < 4; ++k) {
        const float* lineA = job.sharp + 3 * rowsA.index[k] * w;
        const float* lineB = job.sharp + 3 * rowsB.index[k] * w;
        __m256 p[4];
        for (std::int32_t j = 0; j < 4; ++j)
            p[j] = loadPair(lineA + 3 * columnsA.index[j], lineB + 3 * columnsB.index[j]);
        across[k] = catmullRom8(p[0], p[1], p[2], p[3], tc);
    }
    const __m256 sharp =
        catmullRom8(across[0], across[1], across[2], across[3], pairOf(rowsA.t, rowsB.t));
    const SmoothTaps sa = smoothTaps(job.smooth, w, h, a.u, a.v);
    const SmoothTaps sb = smoothTaps(job.smooth, w, h, b.u, b.v);
    const __m256 smooth = _mm256_add_ps(
        _mm256_add_ps(
            _mm256_add_ps(_mm256_mul_ps(loadPair(sa.p00, sb.p00), pairOf(sa.w00, sb.w00)),
                          _mm256_mul_ps(loadPair(sa.p10, sb.p10), pairOf(sa.w10, sb.w10))),
            _mm256_mul_ps(loadPair(sa.p01, sb.p01), pairOf(sa.w01, sb.w01))),
        _mm256_mul_ps(loadPair(sa.p11, sb.p11), pairOf(sa.w11, sb.w11)));
    float mixed[8];
    _mm256_storeu_ps(
        mixed, _mm256_add_ps(sharp, _mm256_mul_ps(_mm256_sub_ps(smooth, sharp), pairOf(a.s, b.s))));
    outR[a.x] = mixed[0];
    outG[a.x] = mixed[1];
    outB[a.x] = mixed[2];
    outR[b.x] = mixed[4];
    outG[b.x] = mixed[5];
    outB[b.x] = mixed[6];
}
#endif

// The lookups of the n pixels from frame column x0 on, in a loop that becomes vector code: each
// lane does the scalar formula's operations (nothing fused; both sides of its selects may be
// evaluated, which this file allows), so the floats are those of one pixel at a time.
LUMET_AVX2_CLONES void lookupRun(const ReflectionConstants& k, const float* __restrict normals,
                                 std::int32_t x0, std::int32_t n, float fy, float cv,
                                 float frameWidth, float* __restrict u, float* __restrict v,
                                 float* __restrict s) {
    const auto run = [&](const ReflectionConstants& constants) {
        for (std::int32_t i = 0; i < n; ++i) {
            const float fx = static_cast<float>(x0 + i);
            float uv[2];
            s[i] =
                reflectionLookup(&constants, fx, fy, reflectionCentred(&constants, fx, frameWidth),
                                 cv, normals[3 * i], normals[3 * i + 1], uv);
            u[i] = uv[0];
            v[i] = uv[1];
        }
    };
    if (k.streaksOn) {
        run(k);
        return;
    }
    // Without streaks, a copy that says so where the compiler sees it: the loop has no cosines.
    ReflectionConstants plain = k;
    plain.streaksOn = 0;
    run(plain);
}

// Room for one row's lookups: u, v and the smooth share, one float each a column.
struct LookupRow {
    float *u = nullptr, *v = nullptr, *s = nullptr;
    explicit operator bool() const { return u != nullptr; }
};

void reflectRow(const ReflectionJob& job, std::int32_t y, const LookupRow& room) {
    const std::int32_t width = job.window.width;
    const std::uint8_t* alpha = job.surface.coverage.row(y);
    const float* height = job.surface.height.row(y);
    const float* normals = job.surface.normals.row(y);
    float* outR = job.out.r.row(y);
    float* outG = job.out.g.row(y);
    float* outB = job.out.b.row(y);
    std::fill(outR, outR + width, 0.0f);
    std::fill(outG, outG + width, 0.0f);
    std::fill(outB, outB + width, 0.0f);

    // Empty rows (most of the margin around text) cost only a test of every second column. A
    // row whose only surface pixels lie in odd columns is left black; on supersampled coverage a
    // surface is always at least two pixels wide, so this costs nothing visible. The columns
    // tested are the even columns of the frame, wherever the window starts.
    bool any = false;
    for (std::int32_t x = job.window.x & 1; x < width && !any; x += 2)
        any = alpha[x] >= kSurfaceAlpha || height[x] > kRaisedHeight;
    if (!any) return;

    const ReflectionConstants& k = job.k;
    // The projection is centred on the frame: positions are frame positions.
    const float fy = static_cast<float>(y + job.window.y);
    const float cv = reflectionCentred(&k, fy, static_cast<float>(job.window.frameHeight));
    const float frameWidth = static_cast<float>(job.window.frameWidth);
    // The lookups of the row's columns from its first surface pixel to its last, at once where
    // there is room for them and the loop is vector code (without streaks, whose cosines are
    // not), else one surface pixel at a time.
    const bool spanned = room && !k.streaksOn;
    if (spanned) {
        std::int32_t first = 0, last = width - 1;
        while (!isSurface(alpha[first], height[first])) ++first;
        while (!isSurface(alpha[last], height[last])) --last;
        lookupRun(k, normals + 3 * first, first + job.window.x, last - first + 1, fy, cv,
                  frameWidth, room.u + first, room.v + first, room.s + first);
    }
    const auto lookup = [&](std::int32_t x) {
        if (spanned) return Lookup{x, room.u[x], room.v[x], room.s[x]};
        Lookup at{x, 0.0f, 0.0f, 0.0f};
        lookupRun(k, normals + 3 * x, x + job.window.x, 1, fy, cv, frameWidth, &at.u, &at.v, &at.s);
        return at;
    };
#ifdef LUMET_AVX2_TARGET
    if (!k.dispersionOn && haveAvx2()) {
        // Surface pixels in pairs; an odd one out is paired with itself.
        Lookup pending{};
        bool waiting = false;
        for (std::int32_t x = 0; x < width; ++x) {
            if (!isSurface(alpha[x], height[x])) continue;
            const Lookup at = lookup(x);
            if (waiting)
                reflectPair(job, pending, at, outR, outG, outB);
            else
                pending = at;
            waiting = !waiting;
        }
        if (waiting) reflectPair(job, pending, pending, outR, outG, outB);
        return;
    }
#endif
    for (std::int32_t x = 0; x < width; ++x) {
        if (!isSurface(alpha[x], height[x])) continue;
        const Lookup at = lookup(x);
        const float u = at.u, v = at.v, s = at.s;

        const SmoothTaps smooth = smoothTaps(job.smooth, job.envW, job.envH, u, v);
#ifdef LUMET_INTERLEAVED_SSE2
        if (!k.dispersionOn) {
            // pixelLerp(sharp, smooth, s) on the three lanes at once.
            const __m128 sharp = bicubicRgbLanes(job.sharp, job.envW, job.envH, u, v);
            float mixed[4];
            _mm_storeu_ps(mixed,
                          _mm_add_ps(sharp, _mm_mul_ps(_mm_sub_ps(smoothLanes(smooth), sharp),
                                                       _mm_set1_ps(s))));
            outR[x] = mixed[0];
            outG[x] = mixed[1];
            outB[x] = mixed[2];
            continue;
        }
#endif
        const Rgb sharp = sampleBicubicRgb(job.sharp, job.envW, job.envH, u, v);
        float sharpRed = sharp.r, sharpBlue = sharp.b;
        if (k.dispersionOn) {
            sharpRed = sampleBicubicRgb(job.sharp, job.envW, job.envH, reflectionRedU(&k, u), v).r;
            sharpBlue =
                sampleBicubicRgb(job.sharp, job.envW, job.envH, reflectionBlueU(&k, u), v).b;
        }
        outR[x] = pixelLerp(sharpRed, smoothChannel(smooth, 0), s);
        outG[x] = pixelLerp(sharp.g, smoothChannel(smooth, 1), s);
        outB[x] = pixelLerp(sharpBlue, smoothChannel(smooth, 2), s);
    }
}

}  // namespace

ReflectionConstants makeReflectionConstants(const RenderSettings& settings, std::int32_t contentW,
                                            std::int32_t contentH) {
    ReflectionConstants k{};
    k.bb = std::clamp(settings.envBlur, 0.0f, 1.0f);
    k.normalShift = settings.envDisplacement * kNormalShift * (1.0f - k.bb * kBlurShiftDamping);
    k.barrelK = kBarrel;
    // An empty layer would make the scale 0 and every coordinate infinite.
    k.uvScale = static_cast<float>(std::max({contentW, contentH, 1}));
    k.envZoom = kZoomBase + settings.envScale * kZoomRange;
    k.streaksOn = settings.anisotropy > 0.001f;
    k.streakK = settings.anisotropy * 0.018f;
    const float theta = 2.3561945f;  // 135 degrees
    k.streakDx = -std::sin(theta);
    k.streakDy = std::cos(theta);
    k.envRotX = settings.envRotX;
    k.envRotY = settings.envRotY;
    k.dispersionOn = settings.dispersion > kDispersionOn;
    k.dispersionShift = settings.dispersion * kDispersionShift;
    return k;
}

void renderEnvReflection(const SurfaceView& surface, const RgbPlanes<float>& out,
                         const FrameWindow& window, std::int32_t contentW, std::int32_t contentH,
                         const RenderSettings& settings, const EnvMap& env) {
    // Every plane must hold the window.
    if (!usableTogether(surface.coverage, surface.height, surface.normals, out.r, out.g, out.b) ||
        surface.normals.channels != 3 || surface.coverage.width != window.width ||
        surface.coverage.height != window.height)
        return;
    if (!env.sharpRgb || !env.smoothRgb || env.envW < 1 || env.envH < 1) {
        for (const PlaneView<float>& plane : {out.r, out.g, out.b}) {
            for (std::int32_t y = 0; y < window.height; ++y)
                std::fill(plane.row(y), plane.row(y) + window.width, 0.0f);
        }
        return;
    }
    const ReflectionJob job{
        surface,       out,      window,   env.sharpRgb,
        env.smoothRgb, env.envW, env.envH, makeReflectionConstants(settings, contentW, contentH)};
    ParallelRows(window.height, [&job](std::int32_t begin, std::int32_t end) {
        const Plane<float> lookups = allocatePlane<float>(3 * std::int64_t{job.window.width});
        LookupRow room;
        if (lookups) {
            room.u = lookups.get();
            room.v = room.u + job.window.width;
            room.s = room.v + job.window.width;
        }
        for (std::int32_t y = begin; y < end; ++y) reflectRow(job, y, room);
    });
}

}  // namespace lumet
