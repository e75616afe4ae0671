// The frame pipeline both render protocols share: once a front end knows the frame's settings,
// its layer's coverage, its windows and its environment map, the pipeline decides from the stage
// cache's change rules which stages are stale, runs them on the device or the CPU into the cache
// it is given, commits the cache and writes the output.
#pragma once
#include <cstdint>

#include "core/frame_window.h"
#include "core/image_view.h"
#include "core/preview_scale.h"
#include "core/status.h"
#include "envmap/env_map.h"
#include "geometry/alpha_extraction.h"
#include "geometry/smart_edge.h"
#include "parallel/frame_interrupt.h"
#include "params/render_settings.h"
#include "render/content_window.h"
#include "render/render_locks.h"
#include "render/render_stages.h"
#include "render/stage_cache.h"

namespace lumet {

// Where the output view lies in the frame the effect computes: the frame's size and the frame
// pixel of the view's top-left pixel. Zero sizes: the frame is the view.
struct OutputPlacement {
    std::int32_t frameWidth = 0, frameHeight = 0;
    std::int32_t x = 0, y = 0;
};

// What a front end hands the pipeline.
struct FrameJob {
    const RenderSettings* frameSettings = nullptr;  // the host's values: the change rules
    const RenderSettings* settings = nullptr;       // finite values: the stages and the output
    std::int32_t W = 0, H = 0, SS = 1;              // the output's size and the supersampling
    std::int32_t dx = 0, dy = 0;                    // where the layer's corner lies in the output
    std::int32_t contentW = 0, contentH = 0;        // the layer's size (the reflection's scale)
    // The host's preview scale: how far the layer it handed over is scaled down from full
    // resolution (x and y in (0, 1], 1 when it renders at full resolution: the other host's
    // downsample factors, an OpenFX host's render scale). Every pixel size of the effect is
    // scaled by preview.factor(), and the caches count a change of it as a change of the geometry.
    PreviewScale preview;
    // The host's abort and progress callbacks, which the front end sets. The pipeline asks between
    // its stages and, through ParallelRows, every few milliseconds inside them.
    FrameInterrupt interrupt;
    FrameWindow window;  // the glow and the output
    FrameWindow area;    // the geometry, reflection and shading, inside `window`
    const std::uint8_t* windowAlpha = nullptr;  // the coverage over `window`, smoothed
    const std::uint8_t* areaAlpha = nullptr;    // the same over `area` (windowAlpha when equal)
    LayerIdentity identity;
    ImageView layer;  // the layer's pixels, for the smart edge (may be empty)
    EnvMap env{};
    EnvMapKey envKey;
    ImageView output;
    std::int32_t outputX = 0, outputY = 0;  // the frame pixel of the output's top-left pixel
    std::uint64_t planesRefusedAtStart = 0;  // planeRequestsRefused() when the job started
    FrameMemoryReservation memory;           // the frame's share of the memory bound
    StripPlan strips;  // bands and tiles when the frame's planes exceed the memory budget
};

// Whether a plane was refused since the job started.
bool framePlanesRefused(const FrameJob& job);

// Starts the job of a frame of the host's output (placed in the frame as `placement` says),
// supersampled at high quality, whose layer of contentW x contentH has its corner at (dx, dy) of
// the frame. False when the frame is refused:
// its working size must fit 32 bits and it may not have more pixels than any host's largest
// frame (30000 x 30000 and its margins), so that a frame no host could have allocated is refused
// before anything is written. The front end sets the job's interrupt.
bool startFrameJob(FrameJob& job, const RenderSettings& frameSettings,
                   const RenderSettings& settings, bool highQuality, const PreviewScale& preview,
                   const ImageView& output, const OutputPlacement& placement,
                   std::int32_t contentW, std::int32_t contentH, std::int32_t dx, std::int32_t dy);

// The layer's alpha where it lands in the job's output (its top-left pixel at the job's dx, dy),
// the windows its covered pixels give and the coverage over them (placeFrame), and the hash of
// its colour when the smart edge carves it. `finished` as placeFrame's.
Status placeLayer(const ImageView& layer, FrameJob& job, FrameCoverage& coverage, bool& finished);

// Places the frame whose job knows its sizes, settings and output: from the layer's covered
// `bounds` (frame pixels) its windows, checked against the memory bound, and its coverage made
// from the layer's alpha (`layerAlpha` filling `layerRect`; null for no layer) into `coverage`,
// which the job then points to. An empty layer is written as a transparent frame at once and
// `finished` set. Returns out of memory when the frame or a plane cannot be had.
Status placeFrame(const ContentBounds& bounds, const std::uint8_t* layerAlpha,
                  const FrameWindow& layerRect, FrameJob& job, FrameCoverage& coverage,
                  bool& finished);

// Runs the frame into `cache`; the device is used when `gpu` holds the GPU lock, which the
// pipeline leaves once the cache is committed. Returns out of memory when the
// cache's planes cannot be had, or when any plane of the frame was refused since the job started
// (a stage that went without one made less than its product): the cache then keeps nothing of
// this frame and the output is not written; interrupted, with the abort callback's answer, when
// the host asked to abandon the frame: an abandoned frame writes nothing; the stages it finished stay valid in the
// cache, the one it cut and those after it are stale, so the next frame is what a fresh render
// gives.
Status runFramePipeline(StageCache& cache, const FrameJob& job, FrameGpuLock& gpu);

}  // namespace lumet
