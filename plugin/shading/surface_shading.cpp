// Surface shading per pixel through the shared formula (core/pixel_formulas.h): the rows run it
// on four pixels at once (PixelLanes4) where SSE2 is there, and pixel by pixel on the rest, every
// lane through the scalar operations in their order.
#include "shading/surface_shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/pixel_formulas.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"

namespace lumet {

namespace {

void normalise3(float x, float y, float z, float out[3]) {
    out[0] = x;
    out[1] = y;
    out[2] = z;
    pixelRenormalise(out);
}

}  // namespace

void makeShadeConstants(ShadeConstants& c, const RenderSettings& settings,
                        const SurfaceView& surface, const RgbPlanes<const float>& reflection,
                        float preview) {
    std::memset(&c, 0, sizeof(c));
    c.heightMap = surface.height.data;
    c.normals = surface.normals.data;
    c.envR = reflection.r.data;
    c.envG = reflection.g.data;
    c.envB = reflection.b.data;
    c.width = surface.height.width;
    c.height = surface.height.height;

    ShadeParams& k = c.shading;
    k.cavityGain = kCavityGain * (preview * preview);
    const float angle = settings.lightAngle * 3.1415927f / 180.0f;
    const float elevation = settings.lightHeight * 3.1415927f / 180.0f;
    normalise3(std::cos(angle) * std::cos(elevation), std::sin(angle) * std::cos(elevation),
               std::sin(elevation), k.lightDir);
    normalise3(k.lightDir[0], k.lightDir[1], k.lightDir[2] + 1.0f, k.halfDir);
    for (int i = 0; i < 3; ++i) {
        k.shadow[i] = settings.shadowColor[i] / 255.0f;
        k.midtone[i] = settings.midColor[i] / 255.0f;
        k.highlight[i] = settings.highColor[i] / 255.0f;
    }
    k.saturation = settings.saturation;
    k.tintBlend = settings.tintBlend;
    k.specular = settings.specular;
    k.metal = settings.metal;
    k.opacity = settings.opacity;
    k.envExposure = settings.envExposure;
    k.envContrast = settings.envContrast;
    // 2^(7 - 6 roughness^2): 128 at roughness 0, 2 at roughness 1.
    const float exponent = std::exp2(7.0f - 6.0f * settings.roughness * settings.roughness);
    k.specNorm = std::sqrt((exponent + 2.0f) / 6.2831855f);
    for (std::int32_t i = 0; i < kPowLutSize; ++i)
        k.powLut[i] = std::pow(static_cast<float>(i) * kPowLutStep, exponent);
}

ShadedPixel shadePixel(const ShadeConstants& c, std::int32_t x, std::int32_t y, float a) {
    if (a < kCoverageMin) return {0.0f, 0.0f, 0.0f, a};
    const std::int64_t i = static_cast<std::int64_t>(y) * c.width + x;
    const bool interior = x >= 1 && x < c.width - 1 && y >= 1 && y < c.height - 1;
    const float* hp = c.heightMap + i;
    const float lap =
        interior ? shadeLaplacian(hp[-1], hp[1], hp[-c.width], hp[c.width], hp[0]) : 0.0f;
    const float env[3] = {c.envR[i], c.envG[i], c.envB[i]};
    const float* n = c.normals + 3 * i;
    float rgb[3];
    shadeSurface(&c.shading, env, hp[0], n, shadeHighlightPower(&c.shading, n), lap, rgb);
    return {rgb[0], rgb[1], rgb[2], a};
}

namespace {

// The planes of the row being shaded (heights and normals of the constants' planes, whose rows lie
// `width` floats apart), and whether the rows above and below exist.
struct ShadeRow {
    const std::uint8_t* alpha;
    const float *heights, *normals, *envR, *envG, *envB;
    float *outR, *outG, *outB;
    std::int32_t width;
    bool interiorRow;
};

// The height Laplacian at column x of the row: 0 where the pixel lacks a neighbour.
inline float laplacianAt(const ShadeRow& r, std::int32_t x) {
    if (!r.interiorRow || x < 1 || x >= r.width - 1) return 0.0f;
    const float* hp = r.heights + x;
    return shadeLaplacian(hp[-1], hp[1], hp[-r.width], hp[r.width], hp[0]);
}

void shadeOne(const ShadeParams* k, const ShadeRow& r, std::int32_t x) {
    const float env[3] = {r.envR[x], r.envG[x], r.envB[x]};
    const float* n = r.normals + 3 * x;
    float rgb[3];
    shadeCoveredPixel(k, static_cast<float>(r.alpha[x]), env, r.heights[x], n,
                      shadeHighlightPower(k, n), laplacianAt(r, x), rgb);
    r.outR[x] = rgb[0], r.outG[x] = rgb[1], r.outB[x] = rgb[2];
}

#ifdef LUMET_PIXEL_LANES4
// Four interleaved normals (x y z x | y z x y | z x y z) as planes of x, y and z.
[[gnu::always_inline]] inline void loadNormals4(const float* p, PixelLanes4 (&n)[3]) {
    const __m128 p0 = _mm_loadu_ps(p), p1 = _mm_loadu_ps(p + 4), p2 = _mm_loadu_ps(p + 8);
    const __m128 x23 = _mm_shuffle_ps(p1, p2, _MM_SHUFFLE(1, 1, 2, 2));
    n[0] = _mm_shuffle_ps(p0, x23, _MM_SHUFFLE(2, 0, 3, 0));
    n[1] = _mm_shuffle_ps(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(0, 0, 1, 1)),
                          _mm_shuffle_ps(p1, p2, _MM_SHUFFLE(2, 2, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    n[2] = _mm_shuffle_ps(_mm_shuffle_ps(p0, p1, _MM_SHUFFLE(1, 1, 2, 2)),
                          _mm_shuffle_ps(p2, p2, _MM_SHUFFLE(3, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
}

// Columns x .. x + 3 of the row, which lie in it; four empty pixels are only cleared.
[[gnu::always_inline]] inline void shadeFour(const ShadeParams* k, const ShadeRow& r,
                                             std::int32_t x) {
    std::int32_t bytes;
    std::memcpy(&bytes, r.alpha + x, sizeof(bytes));
    const __m128i zero = _mm_setzero_si128();
    const PixelLanes4 alphaByte = _mm_cvtepi32_ps(
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero));
    const PixelLanes4 h = _mm_loadu_ps(r.heights + x);
    if (!pixelAny(!(shadeCoverage(alphaByte, h) < kCoverageMin))) {
        _mm_storeu_ps(r.outR + x, _mm_setzero_ps());
        _mm_storeu_ps(r.outG + x, _mm_setzero_ps());
        _mm_storeu_ps(r.outB + x, _mm_setzero_ps());
        return;
    }
    const PixelLanes4 env[3] = {_mm_loadu_ps(r.envR + x), _mm_loadu_ps(r.envG + x),
                                _mm_loadu_ps(r.envB + x)};
    PixelLanes4 n[3];
    loadNormals4(r.normals + 3 * x, n);
    PixelLanes4 lap = _mm_setzero_ps();
    if (r.interiorRow && x >= 1 && x + 4 < r.width) {
        const float* hp = r.heights + x;
        lap = shadeLaplacian(_mm_loadu_ps(hp - 1), _mm_loadu_ps(hp + 1), _mm_loadu_ps(hp - r.width),
                             _mm_loadu_ps(hp + r.width), h);
    } else if (r.interiorRow) {
        lap = _mm_setr_ps(laplacianAt(r, x), laplacianAt(r, x + 1), laplacianAt(r, x + 2),
                          laplacianAt(r, x + 3));
    }
    PixelLanes4 rgb[3];
    shadeCoveredPixel(k, alphaByte, env, h, n, shadeHighlightPower(k, n), lap, rgb);
    _mm_storeu_ps(r.outR + x, rgb[0]);
    _mm_storeu_ps(r.outG + x, rgb[1]);
    _mm_storeu_ps(r.outB + x, rgb[2]);
}
#endif

#ifdef LUMET_PIXEL_LANES8
// shadeFour on eight columns, x .. x + 7 (AVX2).
LUMET_TARGET_AVX2 inline void shadeEight(const ShadeParams* k, const ShadeRow& r, std::int32_t x) {
    const PixelLanes8 alphaByte = _mm256_cvtepi32_ps(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r.alpha + x))));
    const PixelLanes8 h = _mm256_loadu_ps(r.heights + x);
    if (!pixelAny(!(shadeCoverage(alphaByte, h) < kCoverageMin))) {
        _mm256_storeu_ps(r.outR + x, _mm256_setzero_ps());
        _mm256_storeu_ps(r.outG + x, _mm256_setzero_ps());
        _mm256_storeu_ps(r.outB + x, _mm256_setzero_ps());
        return;
    }
    const PixelLanes8 env[3] = {_mm256_loadu_ps(r.envR + x), _mm256_loadu_ps(r.envG + x),
                                _mm256_loadu_ps(r.envB + x)};
    PixelLanes4 low[3], high[3];
    loadNormals4(r.normals + 3 * x, low);
    loadNormals4(r.normals + 3 * x + 12, high);
    PixelLanes8 n[3];
    for (int c = 0; c < 3; ++c) n[c] = _mm256_set_m128(high[c], low[c]);
    PixelLanes8 lap = _mm256_setzero_ps();
    if (r.interiorRow && x >= 1 && x + 8 < r.width) {
        const float* hp = r.heights + x;
        lap = shadeLaplacian(_mm256_loadu_ps(hp - 1), _mm256_loadu_ps(hp + 1),
                             _mm256_loadu_ps(hp - r.width), _mm256_loadu_ps(hp + r.width), h);
    } else if (r.interiorRow) {
        lap = _mm256_setr_ps(laplacianAt(r, x), laplacianAt(r, x + 1), laplacianAt(r, x + 2),
                             laplacianAt(r, x + 3), laplacianAt(r, x + 4), laplacianAt(r, x + 5),
                             laplacianAt(r, x + 6), laplacianAt(r, x + 7));
    }
    PixelLanes8 rgb[3];
    shadeCoveredPixel(k, alphaByte, env, h, n, shadeHighlightPower(k, n), lap, rgb);
    _mm256_storeu_ps(r.outR + x, rgb[0]);
    _mm256_storeu_ps(r.outG + x, rgb[1]);
    _mm256_storeu_ps(r.outB + x, rgb[2]);
}

// Columns from x0 on in blocks of eight; returns the first column not shaded.
LUMET_TARGET_AVX2 std::int32_t shadeEights(const ShadeParams* k, const ShadeRow& r, std::int32_t x0,
                                           std::int32_t x1) {
    std::int32_t x = x0;
    for (; x + 8 <= x1; x += 8) shadeEight(k, r, x);
    return x;
}
#endif

// Columns [x0, x1) of the row; with GCC also compiled with AVX2's encoding of the same four-lane
// instructions (fewer register copies), for processors that have it.
LUMET_AVX2_CLONES
void shadeSpan(const ShadeParams* k, const ShadeRow& r, std::int32_t x0, std::int32_t x1) {
    std::int32_t x = x0;
#ifdef LUMET_PIXEL_LANES8
    if (haveAvx2()) x = shadeEights(k, r, x, x1);
#endif
#ifdef LUMET_PIXEL_LANES4
    for (; x + 4 <= x1; x += 4) shadeFour(k, r, x);
#endif
    for (; x < x1; ++x) shadeOne(k, r, x);
}

}  // namespace

void shadeRows(const ShadeConstants& c, const SurfaceView& surface, const RgbPlanes<float>& out,
               std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1,
               bool outerStyle) {
    if (!usableTogether(surface.coverage, surface.height, out.r, out.g, out.b)) return;
    const std::int32_t W2 = surface.coverage.width;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, std::min(W2, c.width));
    y0 = std::max(y0, 0);
    y1 = std::min(y1, std::min(surface.coverage.height, c.height));
    for (std::int32_t y = y0; y < y1; ++y) {
        const std::uint8_t* alpha = surface.coverage.row(y);
        const float* height = surface.height.row(y);
        float* outR = out.r.row(y);
        float* outG = out.g.row(y);
        float* outB = out.b.row(y);
        // Empty rows (the window's margin) cost a test of every column and a clear.
        bool content = false;
        for (std::int32_t x = x0; x < x1 && !content; ++x)
            content = alpha[x] != 0 || (outerStyle && height[x] > kRaisedHeight);
        if (!content) {
            const std::size_t bytes = static_cast<std::size_t>(x1 - x0) * sizeof(float);
            std::memset(outR + x0, 0, bytes);
            std::memset(outG + x0, 0, bytes);
            std::memset(outB + x0, 0, bytes);
            continue;
        }
        const std::int64_t i = static_cast<std::int64_t>(y) * c.width;
        const ShadeRow planes{alpha,
                              c.heightMap + i,
                              c.normals + 3 * i,
                              c.envR + i,
                              c.envG + i,
                              c.envB + i,
                              outR,
                              outG,
                              outB,
                              c.width,
                              y >= 1 && y < c.height - 1};
        shadeSpan(&c.shading, planes, x0, x1);
    }
}

void shadeWindow(const ShadeConstants& c, const SurfaceView& surface, const RgbPlanes<float>& out,
                 bool outerStyle) {
    const std::int32_t width = surface.coverage.width, height = surface.coverage.height;
    if (width < 1 || height < 1) return;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        shadeRows(c, surface, out, 0, width, begin, end, outerStyle);
    });
}

}  // namespace lumet
