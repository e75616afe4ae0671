// The environment map's compute-cache class: the key (through the host's hash suite), the
// compute that prepares an EnvMap, its size and its deletion.
#include "host/env_map_cache.h"

#include <cstring>

#include "envmap/env_map.h"
#include "parallel/frame_interrupt.h"
#include "platform/plane.h"

namespace lumet {

const char* const kEnvMapCacheClassId = "veltra.lumet.envmap.v1";

namespace {

constexpr std::size_t kClassIdLength = 22;

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
    if (!allocated || !computeEnvMap(*map, o->mapType, o->blur, o->layer)) {
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
