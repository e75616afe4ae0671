// NonSmartCache: the plain render path's own products between frames: the environment map it
// prepares and keeps, and the stage cache its frames run in (planes that grow to hold a larger
// window and are reused for a smaller one). Guarded by the non-smart cache lock.
#pragma once
#include <cstdint>

#include "envmap/env_map.h"
#include "platform/plane.h"
#include "render/stage_cache.h"

namespace lumet {

struct NonSmartCache {
    // The prepared map: which one, at which blur, and its colours (kEnvW x kEnvH), interleaved:
    // interleavedFloats(envW x envH) floats each.
    bool envValid = false;
    std::int32_t envMap = 0;
    float envBlur = 0.0f;
    std::int32_t envW = 0, envH = 0;
    Plane<float> sharpRgb, smoothRgb;
    StageCache stages;
};

// The one process-wide cache of the plain path. Callers hold the non-smart cache lock.
NonSmartCache& nonSmartCache();

// The environment map the planes hold, as the reflection reads it.
EnvMap nonSmartEnvMap(const NonSmartCache& cache);

// Allocates the map's planes where missing; false when any allocation failed.
bool allocateNonSmartEnvMap(NonSmartCache& cache);

}  // namespace lumet
