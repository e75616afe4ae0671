// EnvMap: one prepared environment map, six float planes of envW x envH (2048 x 1024) that wrap
// horizontally and clamp vertically, and the same colours interleaved for the CPU reflection;
// the loaders that fill it and the samplers.
#pragma once
#include <cstdint>

#include "AE_Effect.h"

namespace lumet {

constexpr std::int32_t kEnvW = 2048;
constexpr std::int32_t kEnvH = 1024;

struct EnvMap {
    float* sharpR;
    float* sharpG;
    float* sharpB;
    float* smoothR;
    float* smoothG;
    float* smoothB;
    std::int32_t envW;
    std::int32_t envH;
    // The sharp and smooth colours interleaved R, G, B per texel (interleavedFloats(envW x envH)
    // floats each): one four-float load reads a texel's three channels, so the CPU reflection
    // samples all three at once.
    float* sharpRgb;
    float* smoothRgb;
};

// Floats of an interleaved copy of `texels` texels: three each and one of padding after the
// last, so that a four-float load at the last texel stays inside.
constexpr std::int64_t interleavedFloats(std::int64_t texels) { return 3 * texels + 1; }

// Writes the three planes of `texels` values interleaved into rgb (interleavedFloats(texels)
// floats), the padding float 0.
void interleaveRgb(const float* r, const float* g, const float* b, std::int64_t texels, float* rgb);

struct Rgb {
    float r, g, b;
};

// Catmull-Rom in both axes, wrapping in u and clamping v to [0, 1]; not clamped (overshoot kept).
Rgb sampleBicubicWrapX(const float* planeR, const float* planeG, const float* planeB,
                       std::int32_t w, std::int32_t h, float u, float v);
// Bilinear, wrapping in u and clamping v to [0, 1].
Rgb sampleBilinearWrapX(const float* planeR, const float* planeG, const float* planeB,
                        std::int32_t w, std::int32_t h, float u, float v);

// Blur radius in pixels of the smooth planes for an envBlur value (Blur / 100).
std::int32_t envBlurRadius(float envBlur);

void loadBuiltInEnvMap(float* sharpR, float* sharpG, float* sharpB, float* smoothR, float* smoothG,
                       float* smoothB, std::int32_t envW, std::int32_t envH,
                       std::int32_t blurRadius, std::int32_t hdriMap);

// formatCode: 0 = 8 bpc, 1 = 16 bpc, 2 = 32 bpc float.
void loadLayerEnvMap(const PF_EffectWorld& layer, float* sharpR, float* sharpG, float* sharpB,
                     float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                     std::int32_t envH, std::int32_t blurRadius, std::int32_t formatCode);

void deriveSmoothPlanes(const float* sharpR, const float* sharpG, const float* sharpB,
                        float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                        std::int32_t envH, std::int32_t blurRadius);

}  // namespace lumet
