// Placeholder callbacks until the environment maps land: keying and computing fail.
#include "envmap/env_map_cache.h"

namespace lumet {

const char* const kEnvMapCacheClassId = "veltra.lumet.envmap.v1";

A_Err envMapCacheKey(AEGP_CCComputeOptionsRefconP, AEGP_CCComputeKeyP) { return A_Err_GENERIC; }
A_Err envMapCacheCompute(AEGP_CCComputeOptionsRefconP, AEGP_CCComputeValueRefconP*) {
    return A_Err_GENERIC;
}
size_t envMapCacheSize(AEGP_CCComputeValueRefconP) { return 0; }
void envMapCacheDelete(AEGP_CCComputeValueRefconP) {}

}  // namespace lumet
