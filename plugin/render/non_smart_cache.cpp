// NonSmartCache: the process-wide record and its map's allocation.
#include "render/non_smart_cache.h"

#include "envmap/env_map.h"

namespace lumet {

namespace {
// Made when the library loads, not on first use: it then outlives every host object made later,
// so a host that sends global set-down (which empties it) from its own exit-time destructor still
// finds it alive.
NonSmartCache gNonSmartCache;
}  // namespace

NonSmartCache& nonSmartCache() { return gNonSmartCache; }

EnvMap nonSmartEnvMap(const NonSmartCache& cache) {
    return {cache.sharpRgb.get(), cache.smoothRgb.get(), cache.envW, cache.envH};
}

bool allocateNonSmartEnvMap(NonSmartCache& cache) {
    const std::int64_t envCount = static_cast<std::int64_t>(kEnvW) * kEnvH;
    cache.envW = kEnvW, cache.envH = kEnvH;
    bool ok = true;
    for (Plane<float>* plane : {&cache.sharpRgb, &cache.smoothRgb}) {
        if (!*plane) *plane = allocatePlane<float>(interleavedFloats(envCount));
        ok = ok && *plane;
    }
    return ok;
}

}  // namespace lumet
