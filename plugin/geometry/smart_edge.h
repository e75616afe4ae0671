// Smart edge: finds colour boundaries inside the covered area with a Sobel operator on the layer's
// colours and carves shallow, softened grooves along them into the height map.
#pragma once
#include <cstdint>

#include "AE_Effect.h"

namespace lumet {

// Carves into heightMap (W2 x H2) along the colour edges of input, placed in the W x H frame at
// (offsetX, offsetY) and replicated SS times. depth is the input's pixel depth code
// (pixelDepthOf). Heights are left unchanged when the stage's planes cannot be allocated.
void applySmartEdge(const PF_EffectWorld& input, const std::uint8_t* alphaSS, float* heightMap,
                    std::int32_t W, std::int32_t H, std::int32_t offsetX, std::int32_t offsetY,
                    std::int32_t W2, std::int32_t H2, float bevelDepth, float edgeStrength,
                    std::int32_t SS, std::int32_t depth);

}  // namespace lumet
