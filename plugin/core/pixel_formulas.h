// The per-pixel formulas of the shading stages, written once for the C++ stages and the OpenCL
// kernels: the surface shading of one pixel, the environment reflection's lookup, the normal of
// one pixel and the glow's extraction. The build puts this file (after core/stage_constants.h)
// in front of the kernel source, and the CPU loops include it, so both sides compute one set of
// operations in one order and a frame is the same floats whichever device rendered it.
//
// It is written in the common part of C++ and OpenCL C. A few macros cover the differences: the
// address space of the planes and of the constants (global on the device, nothing on the CPU),
// the functions' linkage and the float math functions' names. Results go out through pointers to
// private arrays. The minimum, maximum and clamp are the C++ library's std::min, std::max and
// std::clamp on floats, whose results (for -0 and NaN too) OpenCL's fmin, fmax and clamp do not
// promise. The per-frame structs hold 32-bit scalars and arrays of them only, so both compilers
// lay them out alike and they travel to the device as they are.
//
// The surface shading's formulas take their per-pixel values as PixelLanes: a float on the device
// (one pixel per work item); in C++ a template parameter, float for one pixel, PixelLanes4 or
// PixelLanes8 for four or eight neighbouring pixels of a row, whose arithmetic, comparisons and
// selects (?: on a comparison) act lane by lane with the scalar operations (GCC's and Clang's
// vector extensions), so each lane is the scalar result. A per-pixel choice is therefore written as
// a select between two computed values, never as a branch. Neither side contracts into fused
// multiply-adds (the pragma below; -ffp-contract=off in the C++ build).
#ifndef LUMET_CORE_PIXEL_FORMULAS_H
#define LUMET_CORE_PIXEL_FORMULAS_H

#if !defined(__OPENCL_VERSION__) && !defined(__OPENCL_C_VERSION__)
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

#include "core/stage_constants.h"
#endif

#ifdef LUMET_OPENCL_SOURCE
// No contraction into fused multiply-adds, which the C++ side does not do either.
#pragma OPENCL FP_CONTRACT OFF
#define LUMET_FORMULA static inline
#define LUMET_GLOBAL global
#define LUMET_SQRT sqrt
#define LUMET_FABS fabs
#define LUMET_FLOOR floor
#define LUMET_COS cos
#define LUMET_RINT rint
typedef float PixelLanes;
#define LUMET_LANES_FORMULA static inline
#define LUMET_LANE_INDEX int
#else
// Inlined whole into the CPU loops, which the compiler can then turn into vector code.
#if defined(__GNUC__)
#define LUMET_FORMULA inline __attribute__((always_inline))
#else
#define LUMET_FORMULA inline
#endif
#define LUMET_GLOBAL
#define LUMET_SQRT std::sqrt
#define LUMET_FABS std::fabs
#define LUMET_FLOOR std::floor
#define LUMET_COS std::cos
#define LUMET_RINT std::rint
// clang-format off
#define LUMET_LANES_FORMULA template <typename PixelLanes> LUMET_FORMULA
// clang-format on
#define LUMET_LANE_INDEX auto
namespace lumet {

#if defined(__SSE2__) && defined(__GNUC__)
#define LUMET_PIXEL_LANES4 1
// Four floats, one pixel each (SSE2's register); comparisons give lanes of 0 or -1.
using PixelLanes4 = __m128;
typedef int PixelInts4 __attribute__((vector_size(16)));

// The helpers below for four lanes, each the scalar one lane by lane: SSE2's square root and
// conversions round as the scalar instructions do.
inline bool pixelAny(PixelInts4 mask) {
    return _mm_movemask_ps(_mm_castsi128_ps(reinterpret_cast<__m128i>(mask))) != 0;
}
inline PixelLanes4 pixelSqrt(PixelLanes4 v) { return _mm_sqrt_ps(v); }
// SSE's maximum and minimum give their second operand where the comparison fails, as the
// selects in pixelMax0 and pixelClamp01 do.
inline PixelLanes4 pixelMax0(PixelLanes4 v) { return _mm_max_ps(v, _mm_setzero_ps()); }
inline PixelLanes4 pixelClamp01(PixelLanes4 v) {
    return _mm_min_ps(pixelMax0(v), _mm_set1_ps(1.0f));
}
inline PixelInts4 pixelTruncate(PixelLanes4 v) {
    return reinterpret_cast<PixelInts4>(_mm_cvttps_epi32(v));
}
inline PixelLanes4 pixelToFloat(PixelInts4 v) {
    return _mm_cvtepi32_ps(reinterpret_cast<__m128i>(v));
}
inline PixelLanes4 pixelTableAt(const float* table, PixelInts4 i) {
    return _mm_setr_ps(table[i[0]], table[i[1]], table[i[2]], table[i[3]]);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define LUMET_PIXEL_LANES8 1
// Eight floats (AVX's register), for code compiled for AVX2 only. The helpers below are written
// without AVX's intrinsics, so that the formulas take them whatever they are compiled for and the
// AVX2 code they are inlined into gets AVX's instructions; each is the four-lane one on each half
// (the maximum and the clamp are the generic selects below). GCC only: Clang refuses AVX vectors
// as arguments of functions not compiled for AVX, inlined or not, so its builds keep four lanes.
using PixelLanes8 = __m256;
typedef int PixelInts8 __attribute__((vector_size(32)));
// Always inlined, so the calling convention of an AVX vector never applies.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
inline __attribute__((always_inline)) bool pixelAny(PixelInts8 mask) {
    PixelInts4 halves[2];
    __builtin_memcpy(halves, &mask, sizeof halves);
    return pixelAny(halves[0] | halves[1]);
}
inline __attribute__((always_inline)) PixelLanes8 pixelSqrt(PixelLanes8 v) {
    PixelLanes4 halves[2];
    __builtin_memcpy(halves, &v, sizeof halves);
    halves[0] = _mm_sqrt_ps(halves[0]);
    halves[1] = _mm_sqrt_ps(halves[1]);
    __builtin_memcpy(&v, halves, sizeof halves);
    return v;
}
inline __attribute__((always_inline)) PixelInts8 pixelTruncate(PixelLanes8 v) {
    return __builtin_convertvector(v, PixelInts8);
}
inline __attribute__((always_inline)) PixelLanes8 pixelToFloat(PixelInts8 v) {
    return __builtin_convertvector(v, PixelLanes8);
}
inline __attribute__((always_inline)) PixelLanes8 pixelTableAt(const float* table, PixelInts8 i) {
    return PixelLanes8{table[i[0]], table[i[1]], table[i[2]], table[i[3]],
                       table[i[4]], table[i[5]], table[i[6]], table[i[7]]};
}
#pragma GCC diagnostic pop
#endif
#endif

// ---------------------------------------------------------------------------------------------
// Helpers

LUMET_FORMULA float pixelMax(float a, float b) { return a < b ? b : a; }
LUMET_FORMULA float pixelMin(float a, float b) { return b < a ? b : a; }
LUMET_FORMULA float pixelClamp(float v, float low, float high) {
    return v < low ? low : (high < v ? high : v);
}
LUMET_FORMULA float pixelLerp(float a, float b, float t) { return a + (b - a) * t; }

// The lanes of one pixel (see PixelLanes above): a comparison's result, the square root, the
// float to int truncation and back, and a table read.
LUMET_FORMULA int pixelAny(int mask) { return mask; }
LUMET_FORMULA float pixelSqrt(float v) { return LUMET_SQRT(v); }
LUMET_FORMULA int pixelTruncate(float v) { return (int)v; }
LUMET_FORMULA float pixelToFloat(int v) { return (float)v; }
LUMET_FORMULA float pixelTableAt(LUMET_GLOBAL const float* table, int i) { return table[i]; }

// max(0, v) and min(1, max(0, v)), with std::min's and std::max's results for -0 and NaN (NaN
// gives 0).
LUMET_LANES_FORMULA PixelLanes pixelMax0(PixelLanes v) { return 0.0f < v ? v : 0.0f; }
LUMET_LANES_FORMULA PixelLanes pixelClamp01(PixelLanes v) {
    const PixelLanes low = pixelMax0(v);
    return low < 1.0f ? low : 1.0f;
}

// (nx, ny, nz) divided by its length; a zero length gives (0, 0, 1).
LUMET_FORMULA void pixelRenormalise(float* n) {
    const float length = LUMET_SQRT(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length > 0.0f) {
        n[0] /= length;
        n[1] /= length;
        n[2] /= length;
    } else {
        n[0] = 0.0f;
        n[1] = 0.0f;
        n[2] = 1.0f;
    }
}

// ---------------------------------------------------------------------------------------------
// Surface shading: exposure and contrast of the reflected environment, half-Lambert diffuse
// light, a three-tone palette keyed by the lit luminance, Schlick's Fresnel approximation as a
// brightness boost, cavity darkening from the Laplacian of the height field, and a Blinn-Phong
// highlight whose power curve is read from a table. Every per-pixel choice is a select between
// both sides, computed whatever the pixel, so the same text runs on vector lanes.

// The per-frame constants of the shading. On the device they are one global buffer: the table is
// read at a different entry by every pixel.
typedef struct ShadeParams {
    float lightDir[3];  // unit vector towards the light
    float halfDir[3];   // unit half vector between the light and the viewer (0, 0, 1)
    float shadow[3];    // palette colours, 0..1
    float midtone[3];
    float highlight[3];
    float metal;
    float opacity;
    float specular;
    float specNorm;  // sqrt((exponent + 2) / 2 pi) of the highlight's power curve
    float saturation;
    float tintBlend;
    float envExposure;
    float envContrast;
    float cavityGain;                  // of the height Laplacian, at the frame's scale
    float powLut[LUMET_POW_LUT_SIZE];  // (i / 1023)^exponent
} ShadeParams;

// The environment contrast's gain about 0.5: 2 c up to c = 0.5, then 1 + 9 (2 (c - 0.5))^2.
LUMET_FORMULA float shadeContrastFactor(float envContrast) {
    if (envContrast <= 0.5f) return 2.0f * envContrast;
    const float t = 2.0f * (envContrast - 0.5f);
    return 1.0f + kContrastSteepness * t * t;
}

// The power curve at NdH >= 0 from the table, interpolated linearly; exact at 0 and 1. The table
// is read at an entry in range whatever NdH is (a product below 1023 truncates to 1022 at most),
// so that the read need not wait for the tests.
LUMET_LANES_FORMULA PixelLanes shadeSpecularPower(LUMET_GLOBAL const ShadeParams* k,
                                                  PixelLanes NdH) {
    const PixelLanes f = (NdH < 1.0f ? NdH : 0.0f) * kPowLutScale;
    const LUMET_LANE_INDEX i = pixelTruncate(f);
    const PixelLanes low = pixelTableAt(k->powLut, i), high = pixelTableAt(k->powLut, i + 1);
    const PixelLanes curve = low + (high - low) * (f - pixelToFloat(i));
    return NdH <= 0.0f ? 0.0f : (NdH >= 1.0f ? 1.0f : curve);
}

// The highlight's power at the unit normal n: the power curve at max(0, N.H).
LUMET_LANES_FORMULA PixelLanes shadeHighlightPower(LUMET_GLOBAL const ShadeParams* k,
                                                   const PixelLanes* n) {
    const PixelLanes NdH = n[0] * k->halfDir[0] + n[1] * k->halfDir[1] + n[2] * k->halfDir[2];
    return shadeSpecularPower(k, pixelMax0(NdH));
}

// The Laplacian of the heights at a pixel from its four neighbours' and its own.
LUMET_LANES_FORMULA PixelLanes shadeLaplacian(PixelLanes left, PixelLanes right, PixelLanes above,
                                              PixelLanes below, PixelLanes centre) {
    return left + right + above + below - 4.0f * centre;
}

// The colour of a covered pixel, each channel clamped to 0..1: env its reflection, h its height, n
// its normal, power shadeHighlightPower's there and lap its height Laplacian (0 where the pixel
// lacks a neighbour, which leaves it undarkened), which darkens cavities.
LUMET_LANES_FORMULA void shadeSurface(LUMET_GLOBAL const ShadeParams* k, const PixelLanes* env,
                                      PixelLanes h, const PixelLanes* n, PixelLanes power,
                                      PixelLanes lap, PixelLanes* rgb) {
    // Every constant is read up front, whatever the pixel: then a loop over pixels reads nothing
    // under a condition.
    const float Lx = k->lightDir[0], Ly = k->lightDir[1], Lz = k->lightDir[2];
    const float metal = k->metal, opacity = k->opacity, saturation = k->saturation;
    const float exposure = k->envExposure, contrast = k->envContrast, tintBlend = k->tintBlend;
    const float specularScale = k->specular * k->specNorm, cavityGain = k->cavityGain;
    float shadow[3], mid[3], high[3];
    for (int c = 0; c < 3; ++c) {
        shadow[c] = k->shadow[c];
        mid[c] = k->midtone[c];
        high[c] = k->highlight[c];
    }

    PixelLanes e[3] = {env[0], env[1], env[2]};
    if (exposure != 1.0f)
        for (int c = 0; c < 3; ++c) e[c] *= exposure;
    if (LUMET_FABS(contrast - 0.5f) > kContrastTolerance) {
        const float f = shadeContrastFactor(contrast);
        for (int c = 0; c < 3; ++c) e[c] = pixelMax0(0.5f + (e[c] - 0.5f) * f);
    }
    // Plateaus (the flat top of the bevel) get a little more colour contrast.
    if (pixelAny(h > kPlateauStart)) {
        const PixelLanes flat = (h - kPlateauStart) / kPlateauSpan;
        const PixelLanes mean = (e[0] + e[1] + e[2]) * kPlateauMeanWeight;
        for (int c = 0; c < 3; ++c) {
            const PixelLanes lifted =
                pixelClamp01(mean + (e[c] - mean) * (1.0f + kPlateauContrast * flat));
            e[c] = h > kPlateauStart ? lifted : e[c];
        }
    }

    const PixelLanes nx = n[0], ny = n[1], nz = n[2];
    const PixelLanes slope = pixelSqrt(nx * nx + ny * ny);
    const PixelLanes NdL = nx * Lx + ny * Ly + nz * Lz;
    const PixelLanes hl = 0.5f * NdL + 0.5f;
    const PixelLanes baseDiffuse = hl * hl * (1.0f - Lz * Lz * (1.0f - slope) * kDiffuseFlattening);
    const PixelLanes ao =
        ((h > kOcclusionStart) & (h < kOcclusionEnd))
            ? kOcclusionFloor + kOcclusionRise * (h - kOcclusionStart) / kOcclusionSpan
            : 1.0f;
    const PixelLanes diffuse = baseDiffuse * (1.0f - kMetalDiffuseLoss * metal) * ao;
    const PixelLanes lum =
        pixelClamp01((kLumaR * e[0] + kLumaG * e[1] + kLumaB * e[2]) * baseDiffuse);

    const PixelLanes om = 1.0f - (nz < 0.0f ? 0.0f : nz);
    const PixelLanes f5 = om * om * om * om * om;
    const PixelLanes cavity = 1.0f - pixelClamp01(-cavityGain * lap) * kCavityDepth;
    const PixelLanes spec = power * specularScale * (kSpecularFlat + kSpecularSlope * slope);
    const PixelLanes envDiffuse = diffuse + (1.0f - diffuse) * metal;
    const float metalBright = 1.0f + kMetalBrightness * metal;

    PixelLanes out[3];
    for (int c = 0; c < 3; ++c) {
        const PixelLanes tone = lum < 0.5f ? shadow[c] + (mid[c] - shadow[c]) * (2.0f * lum)
                                           : mid[c] + (high[c] - mid[c]) * (2.0f * (lum - 0.5f));
        const PixelLanes tinted = mid[c] + (tone - mid[c]) * tintBlend;
        const float f0 = kFresnelF0 + (mid[c] - kFresnelF0) * metal;
        const PixelLanes fr = f0 + (1.0f - f0) * f5;
        const PixelLanes boost = 1.0f + (fr - f0) * kFresnelBoost;
        // The highlight takes the midtone colour on metal and stays white on dielectrics.
        out[c] = e[c] * tinted * envDiffuse * boost * cavity * metalBright +
                 (1.0f + (mid[c] - 1.0f) * metal) * spec;
    }
    if (opacity < kTranslucentBelow) {
        // Glass: the thin parts scatter a warm tint.
        const PixelLanes sc = (1.0f - opacity) * (1.0f - h) * kTranslucentScatter;
        out[0] += kTranslucentR * sc;
        out[1] += kTranslucentG * sc;
        out[2] += kTranslucentB * sc;
    }
    if (saturation < 1.0f) {
        const PixelLanes gray = kLumaR * out[0] + kLumaG * out[1] + kLumaB * out[2];
        for (int c = 0; c < 3; ++c) out[c] = gray + (out[c] - gray) * saturation;
    }
    for (int c = 0; c < 3; ++c) rgb[c] = pixelClamp01(out[c]);
}

// The coverage a pixel is shaded with: its alpha byte (as a float) / 255, or below kCoverageMin
// for a pixel raised above kRaisedHeight (an outer bevel's surface outside the alpha), its height
// clamped to 0..1. Below kCoverageMin the pixel is empty.
LUMET_LANES_FORMULA PixelLanes shadeCoverage(PixelLanes alphaByte, PixelLanes h) {
    const PixelLanes a = alphaByte / 255.0f;
    return ((a < kCoverageMin) & (h > kRaisedHeight)) ? pixelClamp01(h) : a;
}

// The shaded colour of a pixel with alpha byte `alphaByte` (the arguments after it are
// shadeSurface's): 0 where empty, and scaled by the coverage squared below kCoverageFadeBelow.
LUMET_LANES_FORMULA void shadeCoveredPixel(LUMET_GLOBAL const ShadeParams* k, PixelLanes alphaByte,
                                           const PixelLanes* env, PixelLanes h, const PixelLanes* n,
                                           PixelLanes power, PixelLanes lap, PixelLanes* rgb) {
    const PixelLanes a = shadeCoverage(alphaByte, h);
    shadeSurface(k, env, h, n, power, lap, rgb);
    for (int c = 0; c < 3; ++c) {
        const PixelLanes faded = a < kCoverageFadeBelow ? rgb[c] * (a * a) : rgb[c];
        rgb[c] = a < kCoverageMin ? 0.0f : faded;
    }
}

// ---------------------------------------------------------------------------------------------
// Environment reflection: a planar projection of the map centred on the frame with a slight
// barrel distortion, displaced by the surface normal and optionally streaked along 135 degrees
// (anisotropy); the sharp sample is blended towards the smooth one by the Blur setting and the
// steepness of the surface. Dispersion samples red and blue at horizontally shifted positions.

// The per-frame constants of the reflection (flags as 0 or 1).
typedef struct ReflectionConstants {
    float bb;           // clamp(envBlur, 0, 1)
    float normalShift;  // envDisplacement x 0.40 x (1 - 0.4 bb)
    float barrelK;      // 0.3
    float uvScale;      // max(contentW, contentH), at least 1
    float envZoom;      // 0.2 + 1.6 envScale
    float envRotX, envRotY;
    int streaksOn;  // anisotropy > 0.001
    float streakK;  // anisotropy x 0.018
    float streakDx, streakDy;
    int dispersionOn;  // dispersion > 0.001
    float dispersionShift;
} ReflectionConstants;

// A frame coordinate (column or row) relative to the projection's centre, for a frame `extent`
// pixels across.
LUMET_FORMULA float reflectionCentred(const ReflectionConstants* k, float p, float extent) {
    return (p / k->uvScale - 0.5f * extent / k->uvScale) / k->envZoom;
}

// Where the pixel at frame position (fx, fy), centred (cu, cv), with normal (nx, ny) reads the
// map: uv[0], uv[1] in [0, 1], wrapped. Returns the smooth sample's share.
LUMET_FORMULA float reflectionLookup(const ReflectionConstants* k, float fx, float fy, float cu,
                                     float cv, float nx, float ny, float* uv) {
    const float steep = LUMET_FABS(nx) + LUMET_FABS(ny);
    float shift = k->normalShift;
    if (steep > kSteepNormal) shift *= kSteepNormal / steep;  // damps extreme normals
    const float a = pixelMin(1.0f, k->bb + (1.0f - k->bb) * pixelClamp(steep, 0.0f, 1.0f));
    const float d2 = cu * cu + cv * cv;
    if (d2 > kBarrelFrom) {
        const float barrel = 1.0f + k->barrelK * d2;
        cu *= barrel;
        cv *= barrel;
    }
    float u = cu + 0.5f + nx * shift + k->envRotX;
    float v = cv + 0.5f + ny * shift + k->envRotY;
    if (k->streaksOn) {
        const float p = k->streakDx * fx + k->streakDy * fy;
        const float w =
            0.54f * LUMET_COS(1.8f * p) + 0.35f * LUMET_COS(0.7f * p) + 0.7f * LUMET_COS(3.5f * p);
        u += w * k->streakDx * k->streakK;
        v += w * k->streakDy * k->streakK;
    }
    uv[0] = u - LUMET_FLOOR(u);
    uv[1] = v - LUMET_FLOOR(v);
    return a * a * (3.0f - 2.0f * a);
}

// The u of the dispersion's red (towards 1) and blue (towards 0) samples, wrapped once.
LUMET_FORMULA float reflectionRedU(const ReflectionConstants* k, float u) {
    const float shifted = u + k->dispersionShift;
    return shifted > 1.0f ? shifted - 1.0f : shifted;
}
LUMET_FORMULA float reflectionBlueU(const ReflectionConstants* k, float u) {
    const float shifted = u - k->dispersionShift;
    return shifted < 0.0f ? shifted + 1.0f : shifted;
}

// ---------------------------------------------------------------------------------------------
// Normals: the unit normal of a pixel from its filtered slopes gx, gy (the derivative filter
// along x and along y), the slope scale `strength`, its height h and alpha byte: renormalised,
// flattened towards the plateau, faded towards straight up at faint edges and snapped to flat
// where it is almost flat. Empty flat pixels point straight up.
LUMET_FORMULA void surfaceNormal(float gx, float gy, float strength, float h, int alpha, float* n) {
    n[0] = 0.0f;
    n[1] = 0.0f;
    n[2] = 1.0f;
    if (h < 0.001f && alpha < 2) return;
    n[0] = -strength * gx;
    n[1] = -strength * gy;
    pixelRenormalise(n);
    if (h > 0.8f) {
        // Plateau tops flatten.
        const float t = (h - 0.8f) / 0.2f;
        const float p = t * t * t;
        n[0] *= 1.0f - 0.5f * p;
        n[1] *= 1.0f - 0.5f * p;
        pixelRenormalise(n);
    }
    const float e = pixelMax(h, (float)alpha / 255.0f);
    if (e < 0.9f) {
        // Faint edges lean towards straight up.
        const float r = e / 0.9f;
        const float b = r * r;
        n[0] = n[0] * b;
        n[1] = n[1] * b;
        n[2] = (n[2] - 1.0f) * b + 1.0f;
        pixelRenormalise(n);
    }
    if (n[0] * n[0] + n[1] * n[1] < 0.0004f) {
        n[0] = 0.0f;
        n[1] = 0.0f;
        n[2] = 1.0f;
    }
}

// ---------------------------------------------------------------------------------------------
// Glow extraction: the shaded colour weighted by a smoothstep of its brightest channel from
// kGlowThreshold over kGlowKnee; nothing where the coverage is below kGlowCoverageMin.

// The weight of a shaded colour (also the glow's alpha).
LUMET_FORMULA float glowWeight(float r, float g, float b) {
    const float brightest = pixelMax(pixelMax(r, g), b);
    const float t = pixelClamp((brightest - kGlowThreshold) / kGlowKnee, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// An extracted value (a channel times its weight, or the weight) at a pixel of alpha byte `alpha`.
LUMET_FORMULA float glowExtracted(float value, int alpha) {
    return (float)alpha / 255.0f < kGlowCoverageMin ? 0.0f : value;
}

// ---------------------------------------------------------------------------------------------
// The box filter keeps its running sums in whole numbers of 2^-32, along rows and columns: each
// sample is rounded to that grid (NaN counts as 0, magnitudes are capped at 2^9), so that a
// window's sum is an exact integer below 2^53 whatever order it was formed in. A line's output is
// then the same float wherever its pass started, which lets a frame be computed in bands of rows
// and tiles of columns that give the whole frame's floats. The device keeps the sums in 64-bit integers, the CPU in
// doubles; both convert them to float rounding to nearest.

// A sample in grid steps (a whole number).
LUMET_FORMULA float columnSteps(float v) {
    const float finite = v == v ? v : 0.0f;
    return LUMET_RINT(pixelClamp(finite, -kColumnSampleCap, kColumnSampleCap) *
                      kColumnStepsPerUnit);
}

// The output of a window whose 2r + 1 centre samples sum to `steps` (as a float), with the
// fraction f of the two samples just outside (before, after) when the filter has one.
LUMET_FORMULA float columnOutput(float steps, float before, float after, float f, float invSize,
                                 int withFraction) {
    const float centre = steps * kColumnUnitsPerStep;
    return (withFraction ? centre + f * before + f * after : centre) * invSize;
}

#ifndef LUMET_OPENCL_SOURCE
static_assert(sizeof(ShadeParams) == (24 + kPowLutSize) * 4,
              "no padding in the shading's constants");
static_assert(sizeof(ReflectionConstants) == 13 * 4, "no padding in the reflection's constants");
}  // namespace lumet
#endif

#undef LUMET_FORMULA
#undef LUMET_GLOBAL
#undef LUMET_SQRT
#undef LUMET_FABS
#undef LUMET_FLOOR
#undef LUMET_COS
#undef LUMET_RINT
#undef LUMET_LANES_FORMULA
#undef LUMET_LANE_INDEX
#endif
