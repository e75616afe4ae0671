// NonSmartCache: the process-wide record, its map's allocation and the map's preparation.
#include "render/non_smart_cache.h"

#include <cstring>

#include "envmap/env_map.h"
#include "geometry/alpha_extraction.h"
#include "params/param_ids.h"
#include "render/frame_report.h"

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

EnvMapKey prepareEnvMap(NonSmartCache& cache, const RenderSettings& settings,
                        const PF_EffectWorld* customLayer) {
    FrameReport& report = currentFrameReport();
    const bool envDirty =
        !cache.envValid || settings.hdriMap != cache.envMap || settings.hdriMap == kCustomMap;
    const bool blurChanged = envDirty || !(settings.envBlur == cache.envBlur);
    const std::int32_t blurRadius =
        static_cast<std::int32_t>(settings.envBlur * settings.envBlur * 100.0f);
    const std::int32_t envW = cache.envW, envH = cache.envH;
    if (envDirty) {
        if (customLayer) {
            loadLayerEnvMap(*customLayer, cache.sharpR.get(), cache.sharpG.get(),
                            cache.sharpB.get(), cache.smoothR.get(), cache.smoothG.get(),
                            cache.smoothB.get(), envW, envH, blurRadius,
                            pixelDepthOf(*customLayer));
        } else {
            loadBuiltInEnvMap(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(),
                              cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), envW,
                              envH, blurRadius, settings.hdriMap);
        }
        report.envLoaded = true;
    } else if (blurChanged) {
        if (blurRadius < 1) {
            const std::size_t bytes = planeBytes(envW, envH, sizeof(float));
            std::memcpy(cache.smoothR.get(), cache.sharpR.get(), bytes);
            std::memcpy(cache.smoothG.get(), cache.sharpG.get(), bytes);
            std::memcpy(cache.smoothB.get(), cache.sharpB.get(), bytes);
        } else {
            deriveSmoothPlanes(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(),
                               cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), envW,
                               envH, blurRadius);
        }
    }
    if (blurChanged) {
        const std::int64_t texels = static_cast<std::int64_t>(envW) * envH;
        if (envDirty)
            interleaveRgb(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(), texels,
                          cache.sharpRgb.get());
        interleaveRgb(cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), texels,
                      cache.smoothRgb.get());
    }
    cache.envValid = true;
    cache.envMap = settings.hdriMap;
    cache.envBlur = settings.envBlur;
    EnvMapKey key;
    key.known = settings.hdriMap != kCustomMap;
    std::memcpy(key.bytes, &settings.hdriMap, sizeof settings.hdriMap);
    std::memcpy(key.bytes + sizeof settings.hdriMap, &settings.envBlur, sizeof settings.envBlur);
    return key;
}

}  // namespace lumet
