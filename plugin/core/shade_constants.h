// ShadeConstants: the per-frame constants of the surface shading, which the CPU stage and the
// OpenCL shading both read.
#pragma once
#include <cstdint>

#include "core/pixel_formulas.h"

namespace lumet {

// The per-frame constants of the shading stage: built once per frame and shared read-only by
// every band. `shading` is what the formula reads, and what the device is sent as it is; the rest
// locates the planes on the CPU.
struct ShadeConstants {
    ShadeParams shading;
    const float* heightMap;  // W2 x H2
    const float* normals;    // 3 x W2 x H2, interleaved nx, ny, nz
    const float* envR;       // the reflection planes, W2 x H2
    const float* envG;
    const float* envB;
    std::int32_t width, height;  // W2, H2
};

}  // namespace lumet
