// One frame for a front end that keeps its caches per effect instance (OpenFX, frei0r, GEGL) or
// per process (the other host's plain protocol): the host's buffers go in as views, in place, the
// settings as the record every front end fills from ParamValues, and the frame comes back as a
// Status.
#pragma once
#include <cstdint>

#include "core/image_view.h"
#include "core/preview_scale.h"
#include "core/status.h"
#include "envmap/env_map.h"
#include "parallel/frame_interrupt.h"
#include "params/render_settings.h"
#include "platform/platform.h"
#include "platform/plane.h"
#include "render/frame_pipeline.h"
#include "render/stage_cache.h"

namespace lumet {

// What an instance keeps between frames: the prepared environment map (which one, at which
// blur, its interleaved colours: interleavedFloats(envW x envH) floats each) and the stage cache
// its frames run in (planes that grow to hold a larger window and are reused for a smaller one).
// Its owner guards it with a lock of its own.
struct InstanceCache {
    bool envValid = false;
    std::int32_t envMap = 0;
    float envBlur = 0.0f;
    std::int32_t envW = 0, envH = 0;
    Plane<float> sharpRgb, smoothRgb;
    StageCache stages;
};

// The environment map the planes hold, as the reflection reads it.
EnvMap instanceEnvMap(const InstanceCache& cache);

// The plain protocol's one process-wide cache, guarded by the non-smart cache lock.
InstanceCache& nonSmartCache();

struct FrameRequest {
    // The host's values for the frame (the change rules compare them; the stages compute with
    // their finite form).
    RenderSettings settings{};
    // The output buffer, every pixel of which is written, and where it lies in the frame (by
    // default the frame is the output).
    ImageView output;
    OutputPlacement placement;
    // The layer (may be empty) and where its top-left pixel lies in the frame.
    ImageView layer;
    std::int32_t layerX = 0, layerY = 0;
    // The custom map's image when the map is Custom Map (may be empty: the map's fallback).
    ImageView customMap;
    bool highQuality = true;  // supersampled geometry (a host's draft renders without)
    PreviewScale preview;     // the host's render scale
    FrameInterrupt interrupt; // the host's abort and progress
    // When another frame holds the instance's cache: wait for it (true) or render this frame on
    // fresh planes of its own, which gives the same frame (false).
    bool waitForCache = false;
};

// Renders the frame into request.output, in `cache` when `cacheLock` can be had (see
// FrameRequest::waitForCache).
Status renderInstanceFrame(InstanceCache& cache, platform::Lock& cacheLock,
                           const FrameRequest& request);

}  // namespace lumet
