// StageCache: a render path's products kept between frames (geometry, reflection,
// shading, glow) with the settings, alpha hash, colour hash and environment map key they were
// made from, and the rules that decide which stages a new frame must recompute. A stage is reused
// only when every input that feeds it, directly or through an upstream stage, is unchanged, so
// that a frame is the same whichever frames were rendered before it.
#pragma once
#include <cstdint>

#include "core/frame_window.h"
#include "params/render_settings.h"
#include "platform/plane.h"

namespace lumet {

// What an environment map is: the key the host's compute cache files it under. The address of
// the map's record says nothing, since the host may free a map and put another at that address.
struct EnvMapKey {
    std::uint8_t bytes[16] = {};
    bool known = false;  // false: the key could not be made, and the map counts as changed
};

// The identity of the layer's pixels that the geometry reads: the alpha hash always, and a hash
// of the colour bytes when the smart edge carves the colour edges into the heights (0 otherwise).
struct LayerIdentity {
    std::uint32_t alphaHash = 0;
    std::uint64_t colourHash = 0;
};

struct StageCache {
    RenderSettings settings{};      // fields bevelStyle .. tintBlend of the last completed frame
    EnvMapKey envKey;               // key of the environment map the last frame used
    Plane<float> heightMap;         // W2 x H2
    Plane<float> normalMap;         // 3 x W2 x H2, interleaved
    Plane<std::uint8_t> alphaSS;    // W2 x H2, only when SS = 2
    Plane<std::uint8_t> alphaCopy;  // W x H: the alpha the geometry was built from
    FrameWindow geometryWindow;     // where that alpha lies in the frame
    float geometryPreview = 1.0f;   // the preview factor the geometry was computed at
    std::uint32_t alphaHash = 0;
    std::uint64_t colourHash = 0;
    bool geometryValid = false;
    Plane<float> shadeR, shadeG, shadeB;      // W x H
    Plane<float> glowR, glowG, glowB, glowA;  // the glow's window (glowWindow)
    Plane<float> reflR, reflG, reflB;                             // W2 x H2
    std::int32_t width = 0, height = 0, width2 = 0, height2 = 0;  // of the planes' window
    std::int64_t capacity = 0, capacity2 = 0;  // pixels the planes can hold (frame, working)
    FrameWindow glowWindow;                    // of the glow planes
    std::int64_t glowCapacity = 0;
    bool shadingValid = false;
    bool glowValid = false;
    bool reflectionValid = false;
    bool hasPrevious = false;
    // Revisions (see nextContentRevision) of the geometry and the reflection in the planes: the
    // GPU operations compare them with what their device copies hold.
    std::uint64_t geometryRevision = 0;
    std::uint64_t reflectionRevision = 0;
    std::uint64_t envRevision = 0;  // of the map under envKey
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

// The dirty rules: compares the frame's settings, layer identity and environment map key with
// the cache.
StageFlags decideStages(const StageCache& cache, const RenderSettings& frame,
                        const LayerIdentity& layer, const EnvMapKey& envKey);

// Lays the planes out for a window of W x H (working W2 x H2) pixels. The planes are kept while
// they can hold it, and reallocated (without throwing; a failed plane stays absent) when the
// window outgrows them or a plane is missing after an earlier failed allocation. A new size
// clears the valid flags and forces every flag on. Returns whether it reallocated.
bool checkStageCacheSize(StageCache& cache, std::int32_t W, std::int32_t H, std::int32_t W2,
                         std::int32_t H2, std::int32_t SS, StageFlags& flags);

// Lays the glow planes out for the frame's output window, reallocating them when it outgrows
// them or one is missing. Returns false when the kept glow no longer fits the window (the glow
// must be recomputed): another window, or new planes.
bool checkGlowPlanes(StageCache& cache, const FrameWindow& window);

// Whether every plane the glow keeps is there.
bool glowPlanesComplete(const StageCache& cache);

// Stores the frame's settings (bevelStyle .. tintBlend), layer identity and environment map key
// and marks that a frame has completed. The valid flags belong to the stages.
void commitStageCache(StageCache& cache, const RenderSettings& frame, const LayerIdentity& layer,
                      const EnvMapKey& envKey);

// A number never handed out before in this process (never 0): each computed geometry,
// reflection or prepared environment map gets one, so that a device copy made from one of them
// is never taken for a copy of another, whichever render path or frame made it.
std::uint64_t nextContentRevision();

// Frees every plane and zeroes the record.
void emptyStageCache(StageCache& cache);

// The one process-wide cache of the smart path.
StageCache& smartStageCache();

}  // namespace lumet
