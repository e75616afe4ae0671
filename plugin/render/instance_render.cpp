// One frame of a front end that keeps its caches per instance (or, on the plain protocol, per
// process): the layer placed, the environment map prepared and kept in the instance's cache, and
// the frame pipeline run in its stage cache.
#include "render/instance_render.h"

#include <cstring>

#include "envmap/env_map.h"
#include "params/param_ids.h"
#include "render/frame_pipeline.h"
#include "render/frame_report.h"
#include "render/render_locks.h"
#include "render/render_stages.h"

namespace lumet {

namespace {
// Made when the library loads, not on first use: it then outlives every host object made later,
// so a host that sends global set-down (which empties it) from its own exit-time destructor still
// finds it alive.
InstanceCache gNonSmartCache;

// Allocates the map's planes where missing; false when any allocation failed.
bool allocateInstanceEnvMap(InstanceCache& cache) {
    const std::int64_t envCount = static_cast<std::int64_t>(kEnvW) * kEnvH;
    cache.envW = kEnvW, cache.envH = kEnvH;
    bool ok = true;
    for (Plane<float>* plane : {&cache.sharpRgb, &cache.smoothRgb}) {
        if (!*plane) *plane = allocatePlane<float>(interleavedFloats(envCount));
        ok = ok && *plane;
    }
    return ok;
}

// The environment map the cache must hold for the frame, prepared and kept: made again when
// another map (or a custom layer, which may have changed) is chosen, its smooth colours derived
// again from the kept sharp ones when only the blur changed; either way the map the host's
// compute cache would hold. Sets the map's key for the change rules: a custom layer's map is
// never known to be the same. False when the working planes cannot be had.
bool prepareEnvMap(InstanceCache& cache, const RenderSettings& settings,
                   const ImageView& customMap, EnvMapKey& key) {
    const bool custom = settings.hdriMap == kCustomMap;
    const bool envDirty = !cache.envValid || settings.hdriMap != cache.envMap || custom;
    const EnvMap map = instanceEnvMap(cache);
    if (envDirty) {
        if (!computeEnvMap(map, settings.hdriMap, settings.envBlur, custom ? customMap : ImageView{}))
            return false;
        currentFrameReport().envLoaded = true;
    } else if (!(settings.envBlur == cache.envBlur)) {
        // Only the blur changed: the smooth colours again from the map's own sharp colours.
        const std::int64_t texels = static_cast<std::int64_t>(map.envW) * map.envH;
        Plane<float> planes[3];
        if (!allocateMapPlanes(planes, texels)) return false;
        deinterleaveRgb(map.sharpRgb, texels, planes[0].get(), planes[1].get(), planes[2].get());
        smoothMapFromPlanes(planes[0].get(), planes[1].get(), planes[2].get(), map,
                            envBlurRadius(settings.envBlur));
    }
    cache.envValid = true;
    cache.envMap = settings.hdriMap;
    cache.envBlur = settings.envBlur;
    key = EnvMapKey{};
    key.known = !custom;
    std::memcpy(key.bytes, &settings.hdriMap, sizeof settings.hdriMap);
    std::memcpy(key.bytes + sizeof settings.hdriMap, &settings.envBlur, sizeof settings.envBlur);
    return true;
}

// The cache a frame works in: the instance's own, or, when another frame holds it and this one
// does not wait, a fresh one for this frame (the same frame, all stages run).
class HeldCache {
public:
    HeldCache(InstanceCache& shared, platform::Lock& lock, bool wait)
        : shared_(shared), lock_(lock) {
        if (wait) {
            lock.enter();
            held_ = true;
        } else {
            held_ = lock.tryEnter();
        }
    }
    ~HeldCache() {
        if (held_) lock_.leave();
    }
    HeldCache(const HeldCache&) = delete;
    HeldCache& operator=(const HeldCache&) = delete;
    InstanceCache& get() { return held_ ? shared_ : own_; }

private:
    InstanceCache& shared_;
    platform::Lock& lock_;
    bool held_ = false;
    InstanceCache own_;
};

}  // namespace

InstanceCache& nonSmartCache() { return gNonSmartCache; }

EnvMap instanceEnvMap(const InstanceCache& cache) {
    return {cache.sharpRgb.get(), cache.smoothRgb.get(), cache.envW, cache.envH};
}

Status renderInstanceFrame(InstanceCache& shared, platform::Lock& cacheLock,
                           const FrameRequest& request) {
    // The change rules compare the frame's own values; the stages compute with finite ones.
    const RenderSettings& frameSettings = request.settings;
    const RenderSettings settings = withFiniteValues(frameSettings);
    const ImageView& layer = request.layer;
    if (!request.output) return {};
    FrameJob job;
    if (!startFrameJob(job, frameSettings, settings, request.highQuality, request.preview,
                       request.output, request.placement, layer ? layer.width : 0,
                       layer ? layer.height : 0,
                       request.layerX, request.layerY))
        return Status::outOfMemory();
    job.interrupt = request.interrupt;
    const FrameInterruptScope interruptible(job.interrupt);

    FrameCoverage coverage;
    bool finished = false;
    const Status placed = placeLayer(layer, job, coverage, finished);
    if (!placed.ok() || finished) return placed;

    // The cache and its map; the GPU, when ready and free (waited for on a device whose floats
    // are not the CPU's).
    HeldCache held(shared, cacheLock, request.waitForCache);
    InstanceCache& cache = held.get();
    if (!allocateInstanceEnvMap(cache)) {
        cache = InstanceCache{};
        return Status::outOfMemory();
    }
    {
        // The map is kept between frames, so it is computed whole.
        const FrameInterruptScope uninterruptible(FrameInterrupt{});
        if (!prepareEnvMap(cache, settings, request.customMap, job.envKey)) {
            cache = InstanceCache{};
            return Status::outOfMemory();
        }
    }
    if (framePlanesRefused(job)) {
        cache.envValid = false;  // a map made without its planes is not this map
        return Status::outOfMemory();
    }
    FrameGpuLock gpu;
    gpu.take();
    job.env = instanceEnvMap(cache);
    return runFramePipeline(cache.stages, job, gpu);
}

}  // namespace lumet
