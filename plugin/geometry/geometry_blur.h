// The soft blur of the geometry stages: the three-pass box blur, offered to the GPU first.
#pragma once
#include <cstdint>

namespace lumet {

// Three-pass box blur of radius r (capped at 1000) in place; the GPU gets the first offer, the CPU
// blur runs when it declines. r < 1 leaves the plane unchanged.
void blurGeometryPlane(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius);

}  // namespace lumet
