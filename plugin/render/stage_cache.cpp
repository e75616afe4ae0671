// StageCache: dirty rules, size check, commit and emptying of the smart path's stage cache.
#include "render/stage_cache.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "core/stage_constants.h"
#include "params/param_table.h"
#include "shading/glow.h"

namespace lumet {

namespace {

// The glow planes depend on the radius, not on the intensity, which only scales them at the
// output. They hold the cached radius's glow when the last frame had the glow on; a frame with
// the glow off leaves them as they were while its radius is committed, so after it they count
// as stale.
bool sameGlow(const RenderSettings& frame, const RenderSettings& cached) {
    return cached.glowIntensity > kGlowIntensityMin &&
           sameValuesFor(ParamStage::Glow, frame, cached);
}

bool sameKey(const EnvMapKey& a, const EnvMapKey& b) {
    return a.known && b.known && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

}  // namespace

StageFlags decideStages(const StageCache& cache, const RenderSettings& frame,
                        const LayerIdentity& layer, const EnvMapKey& envKey) {
    StageFlags flags;
    const RenderSettings& cached = cache.settings;
    flags.geometryDirty = !(cache.geometryValid && layer.alphaHash == cache.alphaHash &&
                            layer.colourHash == cache.colourHash &&
                            sameValuesFor(ParamStage::Geometry, frame, cached));
    const bool sameMap = cache.hasPrevious && sameKey(envKey, cache.envKey);
    flags.envChanged = !sameMap;
    flags.reflectionDirty = !(cache.reflectionValid && !flags.geometryDirty && sameMap &&
                              sameValuesFor(ParamStage::Reflection, frame, cached));
    flags.shadingDirty = !(cache.shadingValid && !flags.reflectionDirty &&
                           sameValuesFor(ParamStage::Shading, frame, cached));
    flags.glowDirty = !(cache.glowValid && !flags.shadingDirty && sameGlow(frame, cached));
    flags.geometryChangedForDevice = flags.geometryDirty || !cache.hasPrevious;
    return flags;
}

bool checkStageCacheSize(StageCache& cache, std::int32_t W, std::int32_t H, std::int32_t W2,
                         std::int32_t H2, std::int32_t SS, StageFlags& flags) {
    // A plane whose allocation failed earlier is tried again: otherwise a frame size that once
    // met a shortage of memory would keep failing after the memory came back.
    const bool complete =
        cache.heightMap && cache.normalMap && cache.alphaCopy && (SS == 1 || cache.alphaSS) &&
        cache.shadeR && cache.shadeG && cache.shadeB && cache.reflR && cache.reflG && cache.reflB;
    const std::int64_t N = static_cast<std::int64_t>(W) * H;
    const std::int64_t N2 = static_cast<std::int64_t>(W2) * H2;
    const bool sameSize =
        cache.width == W && cache.height == H && cache.width2 == W2 && cache.height2 == H2;
    if (complete && sameSize) return false;
    auto relayout = [&] {
        cache.width = W;
        cache.height = H;
        cache.width2 = W2;
        cache.height2 = H2;
        cache.geometryValid = false;
        cache.shadingValid = false;
        cache.glowValid = false;
        cache.reflectionValid = false;
        flags = StageFlags{};  // everything dirty, every device copy refreshed
    };
    if (complete && N <= cache.capacity && N2 <= cache.capacity2) {
        relayout();
        return false;
    }
    // Free first so that the old and the new planes never exist together.
    cache.heightMap.reset();
    cache.normalMap.reset();
    cache.alphaSS.reset();
    cache.alphaCopy.reset();
    for (Plane<float>* plane :
         {&cache.shadeR, &cache.shadeG, &cache.shadeB, &cache.reflR, &cache.reflG, &cache.reflB}) {
        plane->reset();
    }
    cache.heightMap = allocatePlane<float>(N2);
    cache.normalMap = allocatePlane<float>(planeBytes(N2, 3) == SIZE_MAX ? -1 : N2 * 3);
    if (SS > 1) cache.alphaSS = allocatePlane<std::uint8_t>(N2);
    cache.alphaCopy = allocatePlane<std::uint8_t>(N);
    for (Plane<float>* plane : {&cache.shadeR, &cache.shadeG, &cache.shadeB}) {
        *plane = allocatePlane<float>(N);
    }
    for (Plane<float>* plane : {&cache.reflR, &cache.reflG, &cache.reflB}) {
        *plane = allocatePlane<float>(N2);
    }
    cache.capacity = N;
    cache.capacity2 = N2;
    relayout();
    return true;
}

namespace {

// Every plane the glow keeps, in one list.
template <class Cache, class Visit>
void forEachGlowPlane(Cache& cache, Visit visit) {
    for (auto* plane : {&cache.glowR, &cache.glowG, &cache.glowB, &cache.glowA}) visit(*plane);
}

}  // namespace

bool checkGlowPlanes(StageCache& cache, const FrameWindow& window) {
    bool complete = true;
    forEachGlowPlane(cache, [&](const Plane<float>& plane) { complete = complete && plane; });
    const std::int64_t N = window.pixels();
    const bool sameWindow = cache.glowWindow == window;
    if (complete && sameWindow) return true;
    cache.glowValid = false;
    cache.glowWindow = window;
    if (complete && N <= cache.glowCapacity) return false;
    forEachGlowPlane(cache, [](Plane<float>& plane) { plane.reset(); });
    forEachGlowPlane(cache, [N](Plane<float>& plane) { plane = allocatePlane<float>(N); });
    cache.glowCapacity = N;
    return false;
}

bool glowPlanesComplete(const StageCache& cache) {
    return cache.glowR && cache.glowG && cache.glowB && cache.glowA;
}

void commitStageCache(StageCache& cache, const RenderSettings& frame, const LayerIdentity& layer,
                      const EnvMapKey& envKey) {
    copyParameterFields(cache.settings, frame);
    cache.alphaHash = layer.alphaHash;
    cache.colourHash = layer.colourHash;
    cache.envKey = envKey;
    cache.hasPrevious = true;
}

std::uint64_t nextContentRevision() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

void emptyStageCache(StageCache& cache) { cache = StageCache{}; }

namespace {
// Made when the library loads, not on first use: it then outlives every host object made later,
// so a host that sends global set-down (which empties it) from its own exit-time destructor still
// finds it alive.
StageCache gSmartStageCache;
}  // namespace

StageCache& smartStageCache() { return gSmartStageCache; }

}  // namespace lumet
