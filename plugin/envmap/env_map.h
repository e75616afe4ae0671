// EnvMap: one prepared environment map of envW x envH texels (2048 x 1024) that wraps
// horizontally and clamps vertically, its sharp and smooth colours each interleaved R, G, B per
// texel; the loaders that fill planar working copies, and the samplers.
#pragma once
#include <cstdint>

#include "core/image_view.h"
#include "platform/plane.h"

namespace lumet {

constexpr std::int32_t kEnvW = 2048;
constexpr std::int32_t kEnvH = 1024;

struct EnvMap {
    // The sharp and smooth colours interleaved R, G, B per texel (interleavedFloats(envW x envH)
    // floats each): one four-float load reads a texel's three channels, so the CPU reflection
    // samples all three at once. A prepared map keeps this one layout only; the loaders and the
    // blur work on planar copies that live while the map is prepared.
    float* sharpRgb;
    float* smoothRgb;
    std::int32_t envW;
    std::int32_t envH;
};

// Writes the interleaved colours of `texels` texels back into three planes.
void deinterleaveRgb(const float* rgb, std::int64_t texels, float* r, float* g, float* b);

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
// Bilinear, wrapping in u and clamping v to [0, 1]. Texel i of a channel is at plane[i * stride]:
// 1 for planes, 3 for the interleaved colours (the three channels' first floats as the planes).
Rgb sampleBilinearWrapX(const float* planeR, const float* planeG, const float* planeB,
                        std::int32_t w, std::int32_t h, float u, float v, std::int64_t stride = 1);

// Blur radius in pixels of the smooth planes for an envBlur value (Blur / 100).
std::int32_t envBlurRadius(float envBlur);

void loadBuiltInEnvMap(float* sharpR, float* sharpG, float* sharpB, float* smoothR, float* smoothG,
                       float* smoothB, std::int32_t envW, std::int32_t envH,
                       std::int32_t blurRadius, std::int32_t hdriMap);

void loadLayerEnvMap(const ImageView& layer, float* sharpR, float* sharpG, float* sharpB,
                     float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                     std::int32_t envH, std::int32_t blurRadius);

// The smooth planes from the sharp ones: the highlights boosted, then blurred by blurRadius. The
// smooth planes may be the sharp planes themselves (made in place); `scratch`, one plane of
// envW x envH floats, serves the blur (null: one is allocated for it).
void deriveSmoothPlanes(const float* sharpR, const float* sharpG, const float* sharpB,
                        float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                        std::int32_t envH, std::int32_t blurRadius, float* scratch = nullptr);

// Makes a map's smooth colours from its sharp colours held in three planes of envW x envH, which
// end as the smooth planes: made in place, blurred with the map's smooth colours as the scratch
// (their old values are not needed), then interleaved into them.
void smoothMapFromPlanes(float* r, float* g, float* b, const EnvMap& map, std::int32_t blurRadius);

// Three planes of a map's texels from the plane pool (whose pages the frame that needed the map
// reuses once the map is made); false when any cannot be had.
bool allocateMapPlanes(Plane<float> (&planes)[3], std::int64_t texels);

// Fills an allocated map's colours (envW x envH) as every render path prepares a map: the sharp
// colours from the built-in map or the layer (empty: none; unreadable: Gallery, the custom
// map's fallback), the smooth ones derived from those sharp colours at the blur (Diamond's from
// its own image too). False when its working planes cannot be had.
bool computeEnvMap(const EnvMap& map, std::int32_t mapType, float blur, const ImageView& layer);

}  // namespace lumet
