// StageCache: the smart render path's products kept between frames (geometry, reflection,
// shading, glow) with the settings, alpha hash and environment value they were made from, and
// the rules that decide which stages a new frame must recompute. A stage is reused only when
// every input that feeds it, directly or through an upstream stage, is unchanged.
#pragma once
#include <cstdint>

#include "params/render_settings.h"
#include "platform/plane.h"

namespace lumet {

struct StageCache {
    RenderSettings settings{};       // fields bevelStyle .. tintBlend of the last completed frame
    const void* envValue = nullptr;  // identity of the EnvMap last used; never dereferenced
    Plane<float> heightMap;          // W2 x H2
    Plane<float> normalMap;          // 3 x W2 x H2, interleaved
    Plane<std::uint8_t> alphaSS;     // W2 x H2, only when SS = 2
    Plane<std::uint8_t> alphaCopy;   // W x H: the alpha the geometry was built from
    std::uint32_t alphaHash = 0;
    bool geometryValid = false;
    Plane<float> shadeR, shadeG, shadeB;      // W x H
    Plane<float> glowR, glowG, glowB, glowA;  // W x H
    Plane<float> reflR, reflG, reflB;         // W2 x H2
    std::int32_t width = 0, height = 0, width2 = 0, height2 = 0;
    bool shadingValid = false;
    bool glowValid = false;
    bool reflectionValid = false;
    bool hasPrevious = false;
};

// What a frame recomputes, and which device copies it must refresh.
struct StageFlags {
    bool geometryDirty = true;
    bool reflectionDirty = true;
    bool shadingDirty = true;
    bool glowDirty = true;
    bool envChanged = true;
    bool geometryChangedForDevice = true;
};

// The dirty rules: compares the frame's settings, alpha hash and environment value with the cache.
StageFlags decideStages(const StageCache& cache, const RenderSettings& frame,
                        std::uint32_t alphaHash, const void* envValue);

// Reallocates every plane (without throwing; a failed plane stays absent) when the cache was
// made for another W, H, W2 or H2, or when a plane is missing after an earlier failed
// allocation; then clears the valid flags and forces every flag on. Returns whether it
// reallocated.
bool checkStageCacheSize(StageCache& cache, std::int32_t W, std::int32_t H, std::int32_t W2,
                         std::int32_t H2, std::int32_t SS, StageFlags& flags);

// Stores the frame's settings (bevelStyle .. tintBlend), alpha hash and environment value and
// marks that a frame has completed. The valid flags belong to the stages.
void commitStageCache(StageCache& cache, const RenderSettings& frame, std::uint32_t alphaHash,
                      const void* envValue);

// Frees every plane and zeroes the record.
void emptyStageCache(StageCache& cache);

// Copies the fields bevelStyle .. tintBlend of a settings record (the part the caches compare).
void copyStageSettings(RenderSettings& to, const RenderSettings& from);

// The one process-wide cache of the smart path.
StageCache& smartStageCache();

}  // namespace lumet
