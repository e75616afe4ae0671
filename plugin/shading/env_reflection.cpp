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

void reflectRow(const ReflectionJob& job, std::int32_t y) {
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
    for (std::int32_t x = 0; x < width; ++x) {
        if (!isSurface(alpha[x], height[x])) continue;
        const float* n = normals + 3 * x;
        const float fx = static_cast<float>(x + job.window.x);
        float uv[2];
        const float s =
            reflectionLookup(&k, fx, fy, reflectionCentred(&k, fx, frameWidth), cv, n[0], n[1], uv);
        const float u = uv[0], v = uv[1];

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
        for (std::int32_t y = begin; y < end; ++y) reflectRow(job, y);
    });
}

}  // namespace lumet
