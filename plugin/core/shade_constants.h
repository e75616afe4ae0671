// ShadeConstants: the per-frame constants of the surface shading, which the CPU stage and the
// OpenCL shading both read.
#pragma once
#include <cstdint>

#include "core/stage_constants.h"
#include "params/render_settings.h"

namespace lumet {

// The per-frame constants of the shading stage: built once per frame and shared read-only by
// every band.
struct ShadeConstants {
    RenderSettings settings;  // the frame's settings; everything after tintBlend is zero
    const float* heightMap;   // W2 x H2
    const float* normals;     // 3 x W2 x H2, interleaved nx, ny, nz
    const float* envR;        // the reflection planes, W2 x H2
    const float* envG;
    const float* envB;
    std::int32_t width, height;  // W2, H2
    float lightDir[3];           // unit vector towards the light
    float halfDir[3];            // unit half vector between the light and the viewer (0, 0, 1)
    float shadow[3];             // palette colours, 0..1
    float midtone[3];
    float highlight[3];
    float saturation;
    float tintBlend;
    float specular;
    float specExponent;  // 2^(7 - 6 roughness^2): 128 at roughness 0, 2 at roughness 1
    float metal;
    float opacity;
    float roughness;
    float specNorm;             // sqrt((specExponent + 2) / 2 pi)
    float cavityGain;           // the cavity darkening's Laplacian gain at the frame's scale
    float powLut[kPowLutSize];  // (i / 1023)^specExponent
};

}  // namespace lumet
