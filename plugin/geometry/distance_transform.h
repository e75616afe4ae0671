// Exact Euclidean distance transform of an 8-bit coverage plane: for every pixel, the distance to
// the nearest background pixel, 0 on the background itself.
#pragma once
#include <cstdint>

#include "geometry/geometry_accelerators.h"

namespace lumet {

// Which pixels count as background (distance 0).
enum class DistanceTo : std::uint8_t {
    kBelowHalf,   // background: alpha < 128 (distance inside the shape)
    kAtLeastHalf  // background: alpha >= 128 (distance outside the shape; same as on 255 - alpha)
};

// Offers the transform to accelerated.distanceTransform, else runs distanceTransformCpu.
// Background: alpha < 128.
void distanceTransform(const std::uint8_t* alpha, float* distance, std::int32_t width,
                       std::int32_t height, const GeometryAccelerators& accelerated = {});

// CPU transform: a vertical distance per column, then per row the lower envelope of the parabolas
// (x - u)^2 + g(u)^2 (Felzenszwalb and Huttenlocher, "Distance Transforms of Sampled Functions",
// 2012) built over integer pixel positions. A column without background reads as
// (width + height) + y, so a plane without any background gets large distances that grow with y.
// Every pixel of distance is written: if the row scratch of a band cannot be allocated, its rows
// are written with 0.
void distanceTransformCpu(const std::uint8_t* alpha, float* distance, std::int32_t width,
                          std::int32_t height, DistanceTo background = DistanceTo::kBelowHalf);

}  // namespace lumet
