// NonSmartCache: the plain render path's own products between frames (environment map, geometry,
// reflection, shading, glow and the work planes), sized for one content window W x H at SS and
// guarded by the non-smart cache lock.
#pragma once
#include <cstdint>

#include "envmap/env_map.h"
#include "core/frame_window.h"
#include "params/render_settings.h"
#include "platform/plane.h"
#include "shading/glow.h"

namespace lumet {

struct NonSmartCache {
    bool valid = false;
    std::int32_t width = 0, height = 0, width2 = 0, height2 = 0;
    std::int32_t ss = 0;
    FrameWindow window;         // the frame's rectangle the planes hold (width x height)
    RenderSettings settings{};  // fields bevelStyle .. tintBlend of the last completed frame
    std::int32_t envW = 0, envH = 0;
    Plane<float> sharpR, sharpG, sharpB, smoothR, smoothG, smoothB;  // envW x envH
    Plane<float> sharpRgb, smoothRgb;  // the same interleaved: interleavedFloats(envW x envH)
    Plane<float> heightMap;            // W2 x H2
    Plane<float> normalMap;            // 3 x W2 x H2
    Plane<std::uint8_t> alphaSS;       // W2 x H2, only when SS = 2 (else the alpha serves)
    Plane<std::uint8_t> alpha;         // W x H, this frame's working alpha
    Plane<float> reflR, reflG, reflB;  // W2 x H2
    Plane<float> scratch;              // max(W2 x H2, 2097152)
    Plane<std::uint8_t> alphaSmooth;   // W x H
    Plane<std::uint8_t> alphaPrev;     // W x H
    Plane<float> shadeSSR, shadeSSG, shadeSSB;  // W2 x H2
    Plane<float> shadeR, shadeG, shadeB;        // W x H (absent when SS = 1: shadeSS serves)
    Plane<float> glowR, glowG, glowB, glowA;    // W x H
    Plane<float> glowWork[kGlowWorkPlanes];     // W x H each
    std::uint64_t colourHash = 0;  // layer colour the geometry was carved from (0: smart edge off)
    // Content revisions (nextContentRevision) of the map, geometry and reflection in the planes,
    // matched by the GPU operations against their device copies.
    std::uint64_t envRevision = 0, geometryRevision = 0, reflectionRevision = 0;
};

// The one process-wide cache of the plain path. Callers hold the non-smart cache lock.
NonSmartCache& nonSmartCache();

// The environment map the planes hold, as the reflection reads it.
EnvMap nonSmartEnvMap(const NonSmartCache& cache);

// Allocates every plane for the given size; false when any allocation failed.
bool allocateNonSmartCache(NonSmartCache& cache, std::int32_t W, std::int32_t H, std::int32_t SS);

}  // namespace lumet
