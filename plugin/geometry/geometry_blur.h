// The soft blur of the geometry stages: the three-pass box blur, offered to the accelerated form
// first.
#pragma once
#include <cstdint>

#include "geometry/geometry_accelerators.h"

namespace lumet {

// Three-pass box blur of radius r (capped at 1000) in place; accelerated.blurPlane gets the first
// offer, the CPU blur runs when it declines or is absent. r < 1 leaves the plane unchanged.
void blurGeometryPlane(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       const GeometryAccelerators& accelerated = {});

}  // namespace lumet
