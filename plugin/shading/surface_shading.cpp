// Surface shading per pixel: exposure and contrast of the reflected environment, half-Lambert
// diffuse light, a three-tone palette keyed by the lit luminance, Schlick's Fresnel approximation
// as a brightness boost, cavity darkening from the Laplacian of the height field, and a
// Blinn-Phong highlight whose power curve is read from a 1024-entry table.
#include "shading/surface_shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/stage_constants.h"
#include "parallel/parallel_rows.h"
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define LUMET_SHADING_SSE2 1
#endif

namespace lumet {

namespace {

inline float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

void normalise3(float x, float y, float z, float out[3]) {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length > 0.0f) {
        out[0] = x / length;
        out[1] = y / length;
        out[2] = z / length;
    } else {
        out[0] = 0.0f;
        out[1] = 0.0f;
        out[2] = 1.0f;
    }
}

// The environment contrast's gain about 0.5: 2 c up to c = 0.5, then 1 + 9 (2 (c - 0.5))^2.
inline float contrastFactor(float envContrast) {
    if (envContrast <= 0.5f) return 2.0f * envContrast;
    const float t = 2.0f * (envContrast - 0.5f);
    return 1.0f + kContrastSteepness * t * t;
}

// powLut lookup with linear interpolation; exact at 0 and 1.
inline float specularPower(const ShadeConstants& c, float NdH) {
    if (NdH <= 0.0f) return 0.0f;
    if (NdH >= 1.0f) return 1.0f;
    const float f = NdH * kPowLutScale;
    const std::int32_t k = static_cast<std::int32_t>(f);
    if (k >= kPowLutSize - 1) return c.powLut[kPowLutSize - 1];
    return c.powLut[k] + (c.powLut[k + 1] - c.powLut[k]) * (f - static_cast<float>(k));
}

}  // namespace

void makeShadeConstants(ShadeConstants& c, const RenderSettings& settings,
                        const SurfaceView& surface, const RgbPlanes<const float>& reflection,
                        float preview) {
    std::memset(&c, 0, sizeof(c));
    // Only the parameter fields travel; the layout fields (expansion onwards) keep the zeros.
    copyParameterFields(c.settings, settings);

    c.heightMap = surface.height.data;
    c.normals = surface.normals.data;
    c.envR = reflection.r.data;
    c.envG = reflection.g.data;
    c.envB = reflection.b.data;
    c.width = surface.height.width;
    c.height = surface.height.height;
    c.cavityGain = kCavityGain * (preview * preview);

    const float angle = settings.lightAngle * 3.1415927f / 180.0f;
    const float elevation = settings.lightHeight * 3.1415927f / 180.0f;
    normalise3(std::cos(angle) * std::cos(elevation), std::sin(angle) * std::cos(elevation),
               std::sin(elevation), c.lightDir);
    normalise3(c.lightDir[0], c.lightDir[1], c.lightDir[2] + 1.0f, c.halfDir);

    for (int i = 0; i < 3; ++i) {
        c.shadow[i] = settings.shadowColor[i] / 255.0f;
        c.midtone[i] = settings.midColor[i] / 255.0f;
        c.highlight[i] = settings.highColor[i] / 255.0f;
    }
    c.saturation = settings.saturation;
    c.tintBlend = settings.tintBlend;
    c.specular = settings.specular;
    c.specExponent = std::exp2(7.0f - 6.0f * settings.roughness * settings.roughness);
    c.metal = settings.metal;
    c.opacity = settings.opacity;
    c.roughness = settings.roughness;
    c.specNorm = std::sqrt((c.specExponent + 2.0f) / 6.2831855f);
    for (std::int32_t i = 0; i < kPowLutSize; ++i)
        c.powLut[i] = std::pow(static_cast<float>(i) * kPowLutStep, c.specExponent);
}

ShadedPixel shadePixel(const ShadeConstants& c, std::int32_t x, std::int32_t y, float a) {
    if (a < kCoverageMin) return {0.0f, 0.0f, 0.0f, a};
    const std::int64_t i = static_cast<std::int64_t>(y) * c.width + x;
    const RenderSettings& s = c.settings;

    float e[3] = {c.envR[i], c.envG[i], c.envB[i]};
    if (s.envExposure != 1.0f)
        for (float& channel : e) channel *= s.envExposure;
    if (std::fabs(s.envContrast - 0.5f) > kContrastTolerance) {
        const float f = contrastFactor(s.envContrast);
        for (float& channel : e) channel = std::max(0.0f, 0.5f + (channel - 0.5f) * f);
    }

    // Plateaus (the flat top of the bevel) get a little more colour contrast.
    const float h = c.heightMap[i];
    if (h > kPlateauStart) {
        const float flat = (h - kPlateauStart) / kPlateauSpan;
        const float mean = (e[0] + e[1] + e[2]) * kPlateauMeanWeight;
        for (float& channel : e)
            channel = clamp01(mean + (channel - mean) * (1.0f + kPlateauContrast * flat));
    }

    const float* n = c.normals + 3 * i;
    const float nx = n[0], ny = n[1], nz = n[2];
    const float slope = std::sqrt(nx * nx + ny * ny);
    const float* L = c.lightDir;
    const float NdL = nx * L[0] + ny * L[1] + nz * L[2];
    const float hl = 0.5f * NdL + 0.5f;
    const float baseDiffuse = hl * hl * (1.0f - L[2] * L[2] * (1.0f - slope) * kDiffuseFlattening);

    float ao = 1.0f;
    if (h > kOcclusionStart && h < kOcclusionEnd)
        ao = kOcclusionFloor + kOcclusionRise * (h - kOcclusionStart) / kOcclusionSpan;
    const float diffuse = baseDiffuse * (1.0f - kMetalDiffuseLoss * c.metal) * ao;

    const float lum = clamp01((kLumaR * e[0] + kLumaG * e[1] + kLumaB * e[2]) * baseDiffuse);
    float tinted[3];
    for (int ch = 0; ch < 3; ++ch) {
        float tone;
        if (lum < 0.5f) {
            const float t = 2.0f * lum;
            tone = c.shadow[ch] + (c.midtone[ch] - c.shadow[ch]) * t;
        } else {
            const float t = 2.0f * (lum - 0.5f);
            tone = c.midtone[ch] + (c.highlight[ch] - c.midtone[ch]) * t;
        }
        tinted[ch] = c.midtone[ch] + (tone - c.midtone[ch]) * c.tintBlend;
    }

    const float om = 1.0f - std::max(nz, 0.0f);
    const float f5 = om * om * om * om * om;

    float cavity = 1.0f;
    if (x >= 1 && x < c.width - 1 && y >= 1 && y < c.height - 1) {
        const float* hp = c.heightMap + i;
        const float lap = hp[-1] + hp[1] + hp[-c.width] + hp[c.width] - 4.0f * h;
        cavity = 1.0f - clamp01(-c.cavityGain * lap) * kCavityDepth;
    }

    const float* H = c.halfDir;
    const float NdH = std::max(0.0f, nx * H[0] + ny * H[1] + nz * H[2]);
    const float spec =
        specularPower(c, NdH) * c.specular * c.specNorm * (kSpecularFlat + kSpecularSlope * slope);

    const float envDiffuse = diffuse + (1.0f - diffuse) * c.metal;
    const float metalBright = 1.0f + kMetalBrightness * c.metal;
    float out[3];
    for (int ch = 0; ch < 3; ++ch) {
        const float f0 = kFresnelF0 + (c.midtone[ch] - kFresnelF0) * c.metal;
        const float fr = f0 + (1.0f - f0) * f5;
        const float boost = 1.0f + (fr - f0) * kFresnelBoost;
        // The highlight takes the midtone colour on metal and stays white on dielectrics.
        out[ch] = e[ch] * tinted[ch] * envDiffuse * boost * cavity * metalBright +
                  (1.0f + (c.midtone[ch] - 1.0f) * c.metal) * spec;
    }

    if (c.opacity < kTranslucentBelow) {
        const float sc = (1.0f - c.opacity) * (1.0f - h) * kTranslucentScatter;
        out[0] += kTranslucentR * sc;
        out[1] += kTranslucentG * sc;
        out[2] += kTranslucentB * sc;
    }
    if (c.saturation < 1.0f) {
        const float gray = kLumaR * out[0] + kLumaG * out[1] + kLumaB * out[2];
        for (float& channel : out) channel = gray + (channel - gray) * c.saturation;
    }
    return {clamp01(out[0]), clamp01(out[1]), clamp01(out[2]), a};
}

#ifdef LUMET_SHADING_SSE2
namespace {

// Four neighbouring pixels of a row shaded at once: shadePixel and shadeRows' coverage rules on
// four lanes, each lane through exactly the scalar operations in their order (both sides of a
// branch computed and the lane's side selected; min and max with the operand order that keeps
// std::min and std::max's results, NaN included), so every value is the scalar one.
struct ShadeVectors {
    __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f);
};

inline __m128 select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}
// std::min(1.0f, std::max(0.0f, v)).
inline __m128 clamp01x4(__m128 v) {
    return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
}
inline __m128 splat(float v) { return _mm_set1_ps(v); }

// Exposure, contrast and the plateau's colour lift of the environment colours of four pixels.
void adjustEnvironment4(const ShadeConstants& c, __m128 h, __m128 (&e)[3]) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const RenderSettings& s = c.settings;
    if (s.envExposure != 1.0f)
        for (__m128& channel : e) channel = _mm_mul_ps(channel, splat(s.envExposure));
    if (std::fabs(s.envContrast - 0.5f) > kContrastTolerance) {
        const float f = contrastFactor(s.envContrast);
        for (__m128& channel : e) {
            channel = _mm_max_ps(
                _mm_add_ps(splat(0.5f), _mm_mul_ps(_mm_sub_ps(channel, splat(0.5f)), splat(f))),
                zero);
        }
    }
    const __m128 plateau = _mm_cmpgt_ps(h, splat(kPlateauStart));
    if (_mm_movemask_ps(plateau) != 0) {
        const __m128 flat = _mm_div_ps(_mm_sub_ps(h, splat(kPlateauStart)), splat(kPlateauSpan));
        const __m128 mean =
            _mm_mul_ps(_mm_add_ps(_mm_add_ps(e[0], e[1]), e[2]), splat(kPlateauMeanWeight));
        const __m128 gain = _mm_add_ps(one, _mm_mul_ps(splat(kPlateauContrast), flat));
        for (__m128& channel : e) {
            const __m128 lifted =
                clamp01x4(_mm_add_ps(mean, _mm_mul_ps(_mm_sub_ps(channel, mean), gain)));
            channel = select(plateau, lifted, channel);
        }
    }
}

// The cavity darkening of four pixels from the height Laplacian, only where all four neighbours
// exist (the rows' and the plane's edges keep 1).
__m128 cavity4(const ShadeConstants& c, __m128 h, std::int32_t x, std::int32_t y) {
    const __m128 one = _mm_set1_ps(1.0f);
    const std::int64_t i = static_cast<std::int64_t>(y) * c.width + x;
    __m128 cavity = one;
    if (y >= 1 && y < c.height - 1) {
        const float* hp = c.heightMap + i;
        __m128 lap;
        if (x >= 1 && x + 4 < c.width) {
            lap = _mm_sub_ps(
                _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_loadu_ps(hp - 1), _mm_loadu_ps(hp + 1)),
                                      _mm_loadu_ps(hp - c.width)),
                           _mm_loadu_ps(hp + c.width)),
                _mm_mul_ps(splat(4.0f), h));
            cavity = _mm_sub_ps(one, _mm_mul_ps(clamp01x4(_mm_mul_ps(splat(-c.cavityGain), lap)),
                                                splat(kCavityDepth)));
        } else {
            float lanes[4];
            for (int k = 0; k < 4; ++k) {
                lanes[k] = 1.0f;
                if (x + k >= 1 && x + k < c.width - 1) {
                    const float* q = hp + k;
                    const float l = q[-1] + q[1] + q[-c.width] + q[c.width] - 4.0f * q[0];
                    lanes[k] = 1.0f - clamp01(-c.cavityGain * l) * kCavityDepth;
                }
            }
            cavity = _mm_loadu_ps(lanes);
        }
    }

    return cavity;
}

// The specular highlight of four pixels.
__m128 specular4(const ShadeConstants& c, __m128 nx, __m128 ny, __m128 nz, __m128 slope) {
    const __m128 zero = _mm_setzero_ps();
    const float* Hd = c.halfDir;
    const __m128 NdH = _mm_max_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, splat(Hd[0])), _mm_mul_ps(ny, splat(Hd[1]))),
                   _mm_mul_ps(nz, splat(Hd[2]))),
        zero);
    float ndh[4], power[4];
    _mm_storeu_ps(ndh, NdH);
    for (int k = 0; k < 4; ++k) power[k] = specularPower(c, ndh[k]);
    const __m128 spec = _mm_mul_ps(
        _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(power), splat(c.specular)), splat(c.specNorm)),
        _mm_add_ps(splat(kSpecularFlat), _mm_mul_ps(splat(kSpecularSlope), slope)));

    return spec;
}

// Writes pixels x .. x + 3 of row y; the caller has checked that they lie in the row.
void shadeFour(const ShadeConstants& c, const std::uint8_t* alpha, const float* height, float* outR,
               float* outG, float* outB, std::int32_t x, std::int32_t y) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 a0 =
        _mm_div_ps(_mm_setr_ps(static_cast<float>(alpha[x]), static_cast<float>(alpha[x + 1]),
                               static_cast<float>(alpha[x + 2]), static_cast<float>(alpha[x + 3])),
                   splat(255.0f));
    const __m128 hCoverage = _mm_loadu_ps(height + x);
    const __m128 thin = _mm_cmplt_ps(a0, splat(kCoverageMin));
    const __m128 raised = _mm_cmpgt_ps(hCoverage, splat(kRaisedHeight));
    // Below the coverage test a raised pixel takes its coverage from its height; the rest are 0.
    const __m128 empty = _mm_andnot_ps(raised, thin);
    if (_mm_movemask_ps(empty) == 0xF) {
        _mm_storeu_ps(outR + x, zero);
        _mm_storeu_ps(outG + x, zero);
        _mm_storeu_ps(outB + x, zero);
        return;
    }
    const __m128 a = select(thin, clamp01x4(hCoverage), a0);

    const std::int64_t i = static_cast<std::int64_t>(y) * c.width + x;
    __m128 e[3] = {_mm_loadu_ps(c.envR + i), _mm_loadu_ps(c.envG + i), _mm_loadu_ps(c.envB + i)};
    const __m128 h = _mm_loadu_ps(c.heightMap + i);
    adjustEnvironment4(c, h, e);

    const float* n = c.normals + 3 * i;
    const __m128 nx = _mm_setr_ps(n[0], n[3], n[6], n[9]);
    const __m128 ny = _mm_setr_ps(n[1], n[4], n[7], n[10]);
    const __m128 nz = _mm_setr_ps(n[2], n[5], n[8], n[11]);
    const __m128 slope = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)));
    const float* L = c.lightDir;
    const __m128 NdL =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, splat(L[0])), _mm_mul_ps(ny, splat(L[1]))),
                   _mm_mul_ps(nz, splat(L[2])));
    const __m128 hl = _mm_add_ps(_mm_mul_ps(splat(0.5f), NdL), splat(0.5f));
    const __m128 baseDiffuse = _mm_mul_ps(
        _mm_mul_ps(hl, hl),
        _mm_sub_ps(one, _mm_mul_ps(_mm_mul_ps(splat(L[2] * L[2]), _mm_sub_ps(one, slope)),
                                   splat(kDiffuseFlattening))));

    const __m128 shaded =
        _mm_and_ps(_mm_cmpgt_ps(h, splat(kOcclusionStart)), _mm_cmplt_ps(h, splat(kOcclusionEnd)));
    const __m128 ao = select(
        shaded,
        _mm_add_ps(
            splat(kOcclusionFloor),
            _mm_div_ps(_mm_mul_ps(splat(kOcclusionRise), _mm_sub_ps(h, splat(kOcclusionStart))),
                       splat(kOcclusionSpan))),
        one);
    const __m128 diffuse =
        _mm_mul_ps(_mm_mul_ps(baseDiffuse, splat(1.0f - kMetalDiffuseLoss * c.metal)), ao);

    const __m128 lum = clamp01x4(_mm_mul_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(splat(kLumaR), e[0]), _mm_mul_ps(splat(kLumaG), e[1])),
                   _mm_mul_ps(splat(kLumaB), e[2])),
        baseDiffuse));
    const __m128 dark = _mm_cmplt_ps(lum, splat(0.5f));
    const __m128 tDark = _mm_mul_ps(splat(2.0f), lum);
    const __m128 tLight = _mm_mul_ps(splat(2.0f), _mm_sub_ps(lum, splat(0.5f)));

    const __m128 om = _mm_sub_ps(one, _mm_max_ps(zero, nz));
    const __m128 f5 = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_mul_ps(om, om), om), om), om);

    const __m128 cavity = cavity4(c, h, x, y);

    const __m128 spec = specular4(c, nx, ny, nz, slope);

    const __m128 envDiffuse =
        _mm_add_ps(diffuse, _mm_mul_ps(_mm_sub_ps(one, diffuse), splat(c.metal)));
    const __m128 metalBright = splat(1.0f + kMetalBrightness * c.metal);
    __m128 out[3];
    for (int ch = 0; ch < 3; ++ch) {
        const __m128 shadow = splat(c.shadow[ch]), mid = splat(c.midtone[ch]);
        const __m128 toneDark = _mm_add_ps(shadow, _mm_mul_ps(_mm_sub_ps(mid, shadow), tDark));
        const __m128 toneLight =
            _mm_add_ps(mid, _mm_mul_ps(_mm_sub_ps(splat(c.highlight[ch]), mid), tLight));
        const __m128 tone = select(dark, toneDark, toneLight);
        const __m128 tinted =
            _mm_add_ps(mid, _mm_mul_ps(_mm_sub_ps(tone, mid), splat(c.tintBlend)));
        const float f0 = kFresnelF0 + (c.midtone[ch] - kFresnelF0) * c.metal;
        const __m128 fr = _mm_add_ps(splat(f0), _mm_mul_ps(splat(1.0f - f0), f5));
        const __m128 boost =
            _mm_add_ps(one, _mm_mul_ps(_mm_sub_ps(fr, splat(f0)), splat(kFresnelBoost)));
        const __m128 lit = _mm_mul_ps(
            _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_mul_ps(e[ch], tinted), envDiffuse), boost),
                       cavity),
            metalBright);
        out[ch] = _mm_add_ps(lit, _mm_mul_ps(splat(1.0f + (c.midtone[ch] - 1.0f) * c.metal), spec));
    }
    if (c.opacity < kTranslucentBelow) {
        const __m128 sc = _mm_mul_ps(_mm_mul_ps(splat(1.0f - c.opacity), _mm_sub_ps(one, h)),
                                     splat(kTranslucentScatter));
        out[0] = _mm_add_ps(out[0], _mm_mul_ps(splat(kTranslucentR), sc));
        out[1] = _mm_add_ps(out[1], _mm_mul_ps(splat(kTranslucentG), sc));
        out[2] = _mm_add_ps(out[2], _mm_mul_ps(splat(kTranslucentB), sc));
    }
    if (c.saturation < 1.0f) {
        const __m128 gray = _mm_add_ps(
            _mm_add_ps(_mm_mul_ps(splat(kLumaR), out[0]), _mm_mul_ps(splat(kLumaG), out[1])),
            _mm_mul_ps(splat(kLumaB), out[2]));
        for (__m128& channel : out)
            channel = _mm_add_ps(gray, _mm_mul_ps(_mm_sub_ps(channel, gray), splat(c.saturation)));
    }
    // Partial coverage scales the clamped colour by its square; empty pixels are 0.
    const __m128 partial = _mm_cmplt_ps(a, splat(kCoverageFadeBelow));
    const __m128 a2 = _mm_mul_ps(a, a);
    float* targets[3] = {outR + x, outG + x, outB + x};
    for (int ch = 0; ch < 3; ++ch) {
        const __m128 clamped = clamp01x4(out[ch]);
        const __m128 scaled = select(partial, _mm_mul_ps(clamped, a2), clamped);
        _mm_storeu_ps(targets[ch], _mm_andnot_ps(empty, scaled));
    }
}

}  // namespace
#endif

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
        std::int32_t x = x0;
#ifdef LUMET_SHADING_SSE2
        for (; x + 4 <= x1; x += 4) shadeFour(c, alpha, height, outR, outG, outB, x, y);
#endif
        for (; x < x1; ++x) {
            float a = static_cast<float>(alpha[x]) / 255.0f;
            const float h = height[x];
            if (a < kCoverageMin && !(h > kRaisedHeight)) {
                outR[x] = outG[x] = outB[x] = 0.0f;
                continue;
            }
            if (a < kCoverageMin) {
                if (h > kRaisedHeight) a = clamp01(h);  // outer-bevel surface outside the alpha
            }
            ShadedPixel p = shadePixel(c, x, y, a);
            if (a < kCoverageFadeBelow) {
                const float a2 = a * a;
                p.r *= a2;
                p.g *= a2;
                p.b *= a2;
            }
            outR[x] = p.r;
            outG[x] = p.g;
            outB[x] = p.b;
        }
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
