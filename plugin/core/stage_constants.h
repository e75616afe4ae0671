// The numbers of the shading, the glow and the smart edge, named once for the C++ stages and the
// OpenCL kernels alike: the build puts this file in front of the kernel source, so the two sides
// cannot drift apart. It is therefore written in the common part of C++ and OpenCL C: plain
// float and int constants, no namespaces or templates in the part the kernels see. Replacing a
// literal by its name keeps every value (and so every rendered float) as it was. The per-pixel
// formulas that use them follow in core/pixel_formulas.h.
#ifndef LUMET_CORE_STAGE_CONSTANTS_H
#define LUMET_CORE_STAGE_CONSTANTS_H

// OpenCL C compilers define one or both of these (clang only the second).
#if defined(__OPENCL_VERSION__) || defined(__OPENCL_C_VERSION__)
#define LUMET_OPENCL_SOURCE 1
#endif

#ifdef LUMET_OPENCL_SOURCE
#define LUMET_CONSTANT constant
#else
#define LUMET_CONSTANT inline constexpr
namespace lumet {
#endif

// Surface tests: a pixel carries the bevel's surface where its coverage reaches the alpha test or,
// outside the alpha (outer bevels), where it is raised above the height test.
LUMET_CONSTANT float kCoverageMin = 0.01f;        // coverage below this shades as empty
LUMET_CONSTANT float kRaisedHeight = 0.01f;       // a height above this is surface
LUMET_CONSTANT int kSurfaceAlpha = 10;            // an alpha at or above this is surface
LUMET_CONSTANT float kCoverageFadeBelow = 0.95f;  // partial coverage scales colour by its square

// Shading: environment contrast about 0.5.
LUMET_CONSTANT float kContrastTolerance = 0.001f;  // |contrast - 0.5| at or below: no change
LUMET_CONSTANT float kContrastSteepness = 9.0f;    // gain 1 + 9 (2 (c - 0.5))^2 above 0.5

// Shading: plateaus (the bevel's flat top) get more colour contrast.
LUMET_CONSTANT float kPlateauStart = 0.85f;
LUMET_CONSTANT float kPlateauSpan = 0.15f;
LUMET_CONSTANT float kPlateauMeanWeight = 0.333f;  // the mean of three channels (0.333, not 1/3)
LUMET_CONSTANT float kPlateauContrast = 0.3f;

// Shading: diffuse light, ambient occlusion on the bevel's slope, metal.
LUMET_CONSTANT float kDiffuseFlattening = 0.7f;  // steep light on flat ground loses this much
LUMET_CONSTANT float kOcclusionStart = 0.5f;     // heights in (0.5, 0.95) are occluded
LUMET_CONSTANT float kOcclusionEnd = 0.95f;
LUMET_CONSTANT float kOcclusionFloor = 0.85f;
LUMET_CONSTANT float kOcclusionRise = 0.15f;
LUMET_CONSTANT float kOcclusionSpan = 0.45f;
LUMET_CONSTANT float kMetalDiffuseLoss = 0.4f;
LUMET_CONSTANT float kMetalBrightness = 0.5f;

// Rec. 709 luminance weights.
LUMET_CONSTANT float kLumaR = 0.2126f;
LUMET_CONSTANT float kLumaG = 0.7152f;
LUMET_CONSTANT float kLumaB = 0.0722f;

// Schlick's Fresnel: dielectric reflectance at normal incidence, and the brightness boost.
LUMET_CONSTANT float kFresnelF0 = 0.04f;
LUMET_CONSTANT float kFresnelBoost = 0.6f;

// Cavity darkening from the height Laplacian.
LUMET_CONSTANT float kCavityGain = 4.0f;
LUMET_CONSTANT float kCavityDepth = 0.35f;

// The specular power curve is read from a table of kPowLutSize entries, entry i for NdH = i / 1023
// (kPowLutStep, rounded as tuned), looked up at NdH x kPowLutScale. (The macro sizes the table in
// the shading's constants, where OpenCL C wants a constant expression.)
#define LUMET_POW_LUT_SIZE 1024
LUMET_CONSTANT int kPowLutSize = LUMET_POW_LUT_SIZE;
LUMET_CONSTANT float kPowLutScale = 1023.0f;
LUMET_CONSTANT float kPowLutStep = 0.0009775171f;

// Specular highlight: a slope-dependent share.
LUMET_CONSTANT float kSpecularFlat = 0.3f;
LUMET_CONSTANT float kSpecularSlope = 0.7f;

// Translucency: below this opacity the thin parts scatter a warm tint.
LUMET_CONSTANT float kTranslucentBelow = 0.99f;
LUMET_CONSTANT float kTranslucentScatter = 0.15f;
LUMET_CONSTANT float kTranslucentR = 0.10f;
LUMET_CONSTANT float kTranslucentG = 0.06f;
LUMET_CONSTANT float kTranslucentB = 0.03f;

// Reflection: the normal's displacement of the lookup (less on a blurred map) and its limit on
// steep normals, the projection's zoom and barrel distortion, and the dispersion's shift.
LUMET_CONSTANT float kNormalShift = 0.40f;
LUMET_CONSTANT float kBlurShiftDamping = 0.4f;
LUMET_CONSTANT float kSteepNormal = 1.5f;  // |nx| + |ny| above this shifts no further
LUMET_CONSTANT float kZoomBase = 0.2f;
LUMET_CONSTANT float kZoomRange = 1.6f;
LUMET_CONSTANT float kBarrel = 0.3f;
LUMET_CONSTANT float kBarrelFrom = 0.000001f;  // squared distance from the centre
LUMET_CONSTANT float kDispersionOn = 0.001f;
LUMET_CONSTANT float kDispersionShift = 0.01f;

// The box filter's exact sums: samples on a grid of 2^-32, capped at 2^9 (so that a
// window of up to 2^12 samples, more than the longest pass has, sums to at most 2^53). The planes
// it blurs hold values of about 1 at most: heights, normals, edge strengths, clamped colours.
LUMET_CONSTANT float kColumnStepsPerUnit = 4294967296.0f;
LUMET_CONSTANT float kColumnUnitsPerStep = 2.3283064365386962890625e-10f;
LUMET_CONSTANT float kColumnSampleCap = 512.0f;

// Glow: extraction (smoothstep of the brightest channel from 0.25 over 0.50), nothing below the
// coverage test; two scales weighted 0.55 and 0.45; pass radius 1.1 x the scaled radius, at most
// 1200.
LUMET_CONSTANT float kGlowCoverageMin = 0.002f;
LUMET_CONSTANT float kGlowIntensityMin = 0.05f;  // a frame has a glow above this intensity
LUMET_CONSTANT float kGlowThreshold = 0.25f;
LUMET_CONSTANT float kGlowKnee = 0.50f;
LUMET_CONSTANT float kGlowScaleSmall = 0.25f;
LUMET_CONSTANT float kGlowScaleLarge = 1.0f;
LUMET_CONSTANT float kGlowWeightSmall = 0.55f;
LUMET_CONSTANT float kGlowWeightLarge = 0.45f;
LUMET_CONSTANT float kGlowPassStretch = 1.1f;
LUMET_CONSTANT float kGlowPassRadiusCap = 1200.0f;

// Three-pass box blurs (the geometry's and the glow's): pass radii 0.45, 0.40 and 0.35 times the
// radius, the integer radius capped at 1000.
LUMET_CONSTANT float kBlurPassFactor0 = 0.45f;
LUMET_CONSTANT float kBlurPassFactor1 = 0.40f;
LUMET_CONSTANT float kBlurPassFactor2 = 0.35f;
LUMET_CONSTANT int kBlurRadiusCap = 1000;

// Smart edge: the edge test of the carving, its strongest cut, the edge test of the wall pull and
// the pull's share.
LUMET_CONSTANT float kEdgeCarveMin = 0.01f;
LUMET_CONSTANT float kEdgeCarveMax = 0.85f;
LUMET_CONSTANT float kEdgeWallMin = 0.05f;
LUMET_CONSTANT float kEdgeWallPull = 0.6f;

#ifndef LUMET_OPENCL_SOURCE
inline constexpr float kThreePassFactors[3] = {kBlurPassFactor0, kBlurPassFactor1,
                                               kBlurPassFactor2};
}  // namespace lumet
#endif

#undef LUMET_CONSTANT
#endif
