// NonSmartCache: the process-wide record and its allocation for one frame size.
#include "render/non_smart_cache.h"

#include <algorithm>

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

bool allocateNonSmartCache(NonSmartCache& cache, std::int32_t W, std::int32_t H, std::int32_t SS) {
    const std::int32_t W2 = W * SS, H2 = H * SS;
    const std::int64_t N = static_cast<std::int64_t>(W) * H;
    const std::int64_t N2 = static_cast<std::int64_t>(W2) * H2;
    const std::int64_t envCount = static_cast<std::int64_t>(kEnvW) * kEnvH;
    cache.width = W, cache.height = H, cache.width2 = W2, cache.height2 = H2, cache.ss = SS;
    cache.envW = kEnvW, cache.envH = kEnvH;
    bool ok = true;
    auto floats = [&ok](Plane<float>& plane, std::int64_t count) {
        plane = allocatePlane<float>(count);
        ok = ok && plane;
    };
    auto bytes = [&ok](Plane<std::uint8_t>& plane, std::int64_t count) {
        plane = allocatePlane<std::uint8_t>(count);
        ok = ok && plane;
    };
    for (Plane<float>* plane : {&cache.sharpR, &cache.sharpG, &cache.sharpB, &cache.smoothR,
                                &cache.smoothG, &cache.smoothB}) {
        floats(*plane, envCount);
    }
    floats(cache.sharpRgb, interleavedFloats(envCount));
    floats(cache.smoothRgb, interleavedFloats(envCount));
    floats(cache.heightMap, N2);
    // 3 x N2 floats; an overflowing count becomes a failing request.
    floats(cache.normalMap, planeBytes(N2, 3) == SIZE_MAX ? -1 : N2 * 3);
    if (SS == 2) bytes(cache.alphaSS, N2);
    bytes(cache.alpha, N);
    for (Plane<float>* plane : {&cache.reflR, &cache.reflG, &cache.reflB}) floats(*plane, N2);
    floats(cache.scratch, std::max<std::int64_t>(N2, 2097152));
    bytes(cache.alphaSmooth, N);
    bytes(cache.alphaPrev, N);
    for (Plane<float>* plane : {&cache.shadeSSR, &cache.shadeSSG, &cache.shadeSSB}) {
        floats(*plane, N2);
    }
    if (SS == 2) {
        for (Plane<float>* plane : {&cache.shadeR, &cache.shadeG, &cache.shadeB}) {
            floats(*plane, N);
        }
    }
    for (Plane<float>* plane : {&cache.glowR, &cache.glowG, &cache.glowB, &cache.glowA}) {
        floats(*plane, N);
    }
    for (Plane<float>& plane : cache.glowWork) floats(plane, N);
    return ok;
}

}  // namespace lumet
