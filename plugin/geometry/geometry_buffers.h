// GeometryBuffers: the frame layout and the geometry planes every later stage reads.
#pragma once
#include <cstdint>

#include "platform/plane.h"

namespace lumet {

struct GeometryBuffers {
    std::int32_t W = 0, H = 0;    // frame (output) size
    std::int32_t SS = 1;          // supersampling factor, 1 or 2
    std::int32_t W2 = 0, H2 = 0;  // working size, SS * W by SS * H
    Plane<std::uint8_t> alpha;    // W * H coverage after edge smoothing
    // W2 * H2 coverage: its own plane when SS = 2; when SS = 1 the geometry reads alpha instead
    // (use alphaSSPlane()).
    Plane<std::uint8_t> alphaSS;
    Plane<float> heightMap;  // W2 * H2 heights 0..1
    Plane<float> normalMap;  // 3 * W2 * H2, interleaved nx, ny, nz
    std::int32_t contentMinX = 0, contentMaxX = 0, contentMinY = 0, contentMaxY = 0;

    const std::uint8_t* alphaSSPlane() const { return SS > 1 ? alphaSS.get() : alpha.get(); }
};

}  // namespace lumet
