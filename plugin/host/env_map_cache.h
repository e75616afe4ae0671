// The environment map's compute-cache class: the host keys, shares and evicts prepared maps
// through its compute cache, calling these four callbacks.
#pragma once
#include <cstdint>

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_HashSuite.h"
#include "envmap/env_map.h"

namespace lumet {

// Class identifier under which the callbacks are registered (22 characters).
extern const char* const kEnvMapCacheClassId;

struct EnvMapCacheOptions {
    const SPBasicSuite* basicSuite;
    std::int32_t mapType;  // hdriMap, 1..10
    float blur;            // envBlur
    std::int32_t envW;
    std::int32_t envH;
    const PF_EffectWorld* layerWorld;  // the custom map layer in use, else null
    std::int32_t currentTime;
    ImageView layer;  // the layer's pixels (empty without a layer)
};

A_Err envMapCacheKey(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeKeyP key);
A_Err envMapCacheCompute(AEGP_CCComputeOptionsRefconP options, AEGP_CCComputeValueRefconP* value);
size_t envMapCacheSize(AEGP_CCComputeValueRefconP value);
void envMapCacheDelete(AEGP_CCComputeValueRefconP value);

}  // namespace lumet
