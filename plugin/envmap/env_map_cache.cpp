// The environment map's compute-cache class: the key (through the host's hash suite), the
// compute that prepares an EnvMap, its size and its deletion.
#include "envmap/env_map_cache.h"

#include <cstring>

#include "envmap/env_map.h"
#include "envmap/env_map_sharp.h"
#include "parallel/frame_interrupt.h"
#include "platform/plane.h"

namespace lumet {

const char* const kEnvMapCacheClassId = "veltra.lumet.envmap.v1";

namespace {

constexpr std::size_t kClassIdLength = 22;

// Pixel format code of a host world: float when each row holds at least 16 bytes per pixel,
// otherwise 16 bpc when the deep flag is set, else 8 bpc.
std::int32_t formatCodeOf(const PF_EffectWorld& world) {
    if (static_cast<std::int64_t>(world.rowbytes) >= 16 * static_cast<std::int64_t>(world.width))
        return 2;
    return (world.world_flags & PF_WorldFlag_DEEP) ? 1 : 0;
}

bool hasPixels(const PF_EffectWorld* world) {
    return world && world->data && world->width > 0 && world->height > 0;
}

void freeEnvMap(EnvMap* map) {
    if (!map) return;
    for (float* plane : {map->sharpRgb, map->smoothRgb}) PlaneFree()(plane);
    PlaneFree()(map);
}

}  // namespace

A_Err envMapCacheKey(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeKeyP key) {
    const auto* o = static_cast<const EnvMapCacheOptions*>(options);
    if (!o || !key) return A_Err_PARAMETER;
    if (!o->basicSuite || !o->basicSuite->AcquireSuite) return A_Err_MISSING_SUITE;
    const void* acquired = nullptr;
    if (o->basicSuite->AcquireSuite(kAEGPHashSuite, kAEGPHashSuiteVersion1, &acquired) != 0 ||
        !acquired)
        return A_Err_MISSING_SUITE;
    const auto* hash = static_cast<const AEGP_HashSuite1*>(acquired);

    A_Err err = hash->AEGP_CreateHashFromPtr(kClassIdLength, kEnvMapCacheClassId, key);
    auto mix = [&](const void* bytes, A_u_longlong size) {
        if (err == A_Err_NONE) err = hash->AEGP_HashMixInPtr(size, bytes, key);
    };
    mix(&o->mapType, 4);
    mix(&o->blur, 4);
    mix(&o->envW, 4);
    mix(&o->envH, 4);
    if (o->layerWorld) {
        // The layer is identified by time and by the address the host handed out, not by its
        // pixels: hashing 8 MB per frame would cost more than the cache saves.
        const std::uint64_t address = reinterpret_cast<std::uintptr_t>(o->layerWorld);
        mix(&o->currentTime, 4);
        mix(&address, 8);
    }
    o->basicSuite->ReleaseSuite(kAEGPHashSuite, kAEGPHashSuiteVersion1);
    return err;
}

bool computeEnvMap(const EnvMap& map, std::int32_t mapType, float blur,
                   const PF_EffectWorld* layerWorld) {
    const std::int64_t count = static_cast<std::int64_t>(map.envW) * map.envH;
    EnvMapWork work;
    if (!work.allocate(count)) return false;
    // Only the sharp planes are loaded: the smooth planes are always derived from this map's
    // sharp planes at the requested blur (for Diamond too), so the loaders' own smooth planes,
    // which would be discarded, are never made.
    float* sR = work.sharp[0].get();
    float* sG = work.sharp[1].get();
    float* sB = work.sharp[2].get();
    if (!hasPixels(layerWorld)) {
        loadBuiltInSharpPlanes(sR, sG, sB, map.envW, map.envH, mapType, builtInDiamondJpeg());
    } else if (!loadLayerSharpPlanes(*layerWorld, sR, sG, sB, map.envW, map.envH,
                                     formatCodeOf(*layerWorld))) {
        // Unreadable layer rows: the Custom Map fallback, Gallery.
        loadBuiltInSharpPlanes(sR, sG, sB, map.envW, map.envH, 10, builtInDiamondJpeg());
    }
    deriveSmoothPlanes(sR, sG, sB, work.smooth[0].get(), work.smooth[1].get(), work.smooth[2].get(),
                       map.envW, map.envH, envBlurRadius(blur));
    work.interleaveInto(map);
    return true;
}

A_Err envMapCacheCompute(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeValueRefconP* value) {
    const auto* o = static_cast<const EnvMapCacheOptions*>(options);
    if (!o || !value || o->envW < 1 || o->envH < 1) return A_Err_PARAMETER;
    const std::uint64_t refusedBefore = planeRequestsRefused();
    const std::int64_t count = static_cast<std::int64_t>(o->envW) * o->envH;

    Plane<EnvMap> record = allocateZeroedPlane<EnvMap>(1);
    if (!record) return A_Err_ALLOC;
    record[0].envW = o->envW;
    record[0].envH = o->envH;
    EnvMap* map = record.release();
    bool allocated = true;
    for (float** plane : {&map->sharpRgb, &map->smoothRgb}) {
        *plane = allocatePlane<float>(interleavedFloats(count)).release();
        allocated = allocated && *plane;
    }
    if (!allocated || !computeEnvMap(*map, o->mapType, o->blur, o->layerWorld)) {
        freeEnvMap(map);
        return A_Err_ALLOC;
    }
    // A loader or blur that went without a plane made another map: the host must not keep it.
    if (planeRequestsRefused() != refusedBefore) {
        freeEnvMap(map);
        return A_Err_ALLOC;
    }
    // Nor a map whose passes stopped because the host asked to abandon the frame computing it.
    if (const std::int32_t abandoned = frameInterrupted()) {
        freeEnvMap(map);
        return abandoned;
    }
    *value = map;
    return A_Err_NONE;
}

size_t envMapCacheSize(AEGP_CCComputeValueRefconP value) {
    const auto* map = static_cast<const EnvMap*>(value);
    if (!map) return 0;
    const std::int64_t count = static_cast<std::int64_t>(map->envW) * map->envH;
    return static_cast<size_t>(2 * interleavedFloats(count)) * sizeof(float) + sizeof(EnvMap);
}

void envMapCacheDelete(AEGP_CCComputeValueRefconP value) {
    freeEnvMap(static_cast<EnvMap*>(value));
}

}  // namespace lumet
