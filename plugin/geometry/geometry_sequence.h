// The geometry sequence of a frame: supersampled coverage, height map, smart edge, plateau snap,
// normals and normal blur, in the order both render paths run them.
#pragma once
#include <cstdint>

#include "AE_Effect.h"

namespace lumet {

struct RenderSettings;

// Runs the geometry of one frame:
//  1. when SS = 2, alphaSS (W2 x H2) = bilinear resample of alphaCopy (W x H); when SS = 1 the
//     stages read alphaCopy and alphaSS may be null;
//  2. heightMap (W2 x H2) zeroed, then the height map;
//  3. the smart edge, when settings.smartEdge is set, the style is Inner Bevel and input is given
//     (input placed at dx, dy in the frame, inputDepth its pixelDepthOf code);
//  4. every height of 0.95 or more set to exactly 1.0;
//  5. normalMap (3 x W2 x H2) zeroed, normals (offered to the GPU first when gpuNormals);
//  6. the normal blur with radius 3 x SS.
// Returns false (planes untouched) when an argument is missing or inconsistent, in particular
// when SS = 2 and alphaSS is null: no stage may read the frame-size alpha as if it were W2 x H2.
bool runGeometrySequence(const std::uint8_t* alphaCopy, std::uint8_t* alphaSS, float* heightMap,
                         float* normalMap, std::int32_t W, std::int32_t H, std::int32_t SS,
                         const RenderSettings& settings, const PF_EffectWorld* input,
                         std::int32_t inputDepth, std::int32_t dx, std::int32_t dy,
                         bool gpuNormals);

}  // namespace lumet
