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
    return {cache.sharpR.get(),   cache.sharpG.get(),   cache.sharpB.get(), cache.smoothR.get(),
            cache.smoothG.get(),  cache.smoothB.get(),  cache.envW,         cache.envH,
            cache.sharpRgb.get(), cache.smoothRgb.get()};
}

bool allocateNonSmartEnvMap(NonSmartCache& cache) {
    const std::int64_t envCount = static_cast<std::int64_t>(kEnvW) * kEnvH;
    cache.envW = kEnvW, cache.envH = kEnvH;
    bool ok = true;
    auto floats = [&ok](Plane<float>& plane, std::int64_t count) {
        if (!plane) plane = allocatePlane<float>(count);
        ok = ok && plane;
    };
    for (Plane<float>* plane : {&cache.sharpR, &cache.sharpG, &cache.sharpB, &cache.smoothR,
                                &cache.smoothG, &cache.smoothB}) {
        floats(*plane, envCount);
    }
    floats(cache.sharpRgb, interleavedFloats(envCount));
    floats(cache.smoothRgb, interleavedFloats(envCount));
    return ok;
}

}  // namespace lumet
