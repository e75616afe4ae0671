// The frame pipeline (see frame_pipeline.h): change rules, cache layout, geometry, reflection,
// shading and glow on the device or the CPU, commit, and the output composition, which always
// runs.
#include "render/frame_pipeline.h"

#include <algorithm>
#include <cstring>

#include "core/stage_constants.h"
#include "geometry/alpha_extraction.h"
#include "gpu/gpu_context.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
#include "params/param_ids.h"
#include "platform/plane.h"
#include "render/content_window.h"
#include "render/frame_report.h"
#include "render/geometry_sequence.h"
#include "render/render_stages.h"
#include "render/strip_render.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"

namespace lumet {

namespace {

// Whether the cache holds a geometry made from exactly this coverage at this place: the alpha
// hash names a shape, the bytes prove it.
bool sameCoverage(const StageCache& cache, const FrameJob& job) {
    return cache.geometryValid && cache.alphaCopy && cache.geometryWindow == job.area &&
           cache.geometryPreview == job.preview.factor() &&
           std::memcmp(cache.alphaCopy.get(), job.areaAlpha,
                       static_cast<std::size_t>(job.area.pixels())) == 0;
}

bool planesComplete(const StageCache& cache, std::int32_t SS) {
    return cache.heightMap && cache.normalMap && cache.reflR && cache.reflG && cache.reflB &&
           cache.alphaCopy && (SS == 1 || cache.alphaSS) && cache.shadeR && cache.shadeG &&
           cache.shadeB;
}

struct Stages {
    StageCache& cache;
    const FrameJob& job;
    bool gpu;
    FrameReport& report;
    FrameWindow work;  // the area at the working size
    const std::uint8_t* alphaSS;

    SurfaceView surface() const {
        return {alphaSS, cache.heightMap.get(), cache.normalMap.get(), work.width, work.height};
    }
    RgbPlanes<float> reflection() const {
        return {cache.reflR.get(), cache.reflG.get(), cache.reflB.get(), work.width, work.height};
    }
};

bool runGeometry(Stages& s) {
    const FrameJob& job = s.job;
    StageCache& cache = s.cache;
    const FrameWindow& area = job.area;
    // A geometry still valid here was made from this coverage at this size and preview (the
    // frame's checks cleared it otherwise), so its working coverage is this frame's too.
    const bool coverageReady = cache.geometryValid;
    cache.geometryValid = false;
    std::memcpy(cache.alphaCopy.get(), job.areaAlpha, static_cast<std::size_t>(area.pixels()));
    const LayerPlacement layer{job.layer, job.dx - area.x, job.dy - area.y};
    if (!runGeometrySequence({cache.alphaCopy.get(), area.width, area.height},
                             {cache.alphaSS.get(), s.work.width, s.work.height},
                             {cache.heightMap.get(), s.work.width, s.work.height},
                             {cache.normalMap.get(), s.work.width, s.work.height, 3}, job.SS,
                             job.preview.factor(), *job.settings, layer, s.gpu, nullptr,
                             coverageReady)) {
        return false;
    }
    cache.geometryValid = true;
    cache.geometryWindow = area;
    cache.geometryPreview = job.preview.factor();
    cache.geometryRevision = nextContentRevision();
    cache.reflectionValid = false;
    s.report.geometryRan = true;
    return true;
}

void runReflection(Stages& s) {
    const FrameJob& job = s.job;
    const RenderSettings& settings = *job.settings;
    const EnvMap& env = job.env;
    StageCache& cache = s.cache;
    const std::int32_t SS = job.SS;
    // Both forms write every pixel of the window.
    bool done = false;
    if (s.gpu) {
        // Uploads only when the device holds another map than this frame's.
        gpu::uploadEnvMapGpu(env.sharpRgb, env.smoothRgb, env.envW, env.envH, cache.envRevision);
        if (settings.anisotropy <= 0.001f) {
            done = gpu::renderEnvReflectionGpu(
                s.surface(), s.reflection(), s.work, SS * job.contentW, SS * job.contentH, settings,
                env.envW, env.envH, cache.envRevision, cache.geometryRevision);
        }
    }
    if (!done) {
        renderEnvReflection(s.surface(), s.reflection(), s.work, SS * job.contentW,
                            SS * job.contentH, settings, env);
    }
    cache.reflectionValid = true;
    cache.reflectionRevision = nextContentRevision();
    cache.shadingValid = false;  // made from the previous reflection
    s.report.reflectionRan = true;
}

// Shading at the working size, reduced to the area's size, in the kept planes. The working-size
// planes live only while the stage runs, so that they and the glow's planes share the pool's
// blocks instead of being resident together. False when they cannot be had.
bool runShading(Stages& s) {
    const FrameJob& job = s.job;
    StageCache& cache = s.cache;
    const std::int32_t SS = job.SS;
    const bool outerStyle = isOuterStyle(job.settings->bevelStyle);
    const SurfaceView surface = s.surface();
    ShadeConstants constants;
    makeShadeConstants(constants, *job.settings, surface, s.reflection(), job.preview.factor());
    const RgbPlanes<float> shadeOut(cache.shadeR.get(), cache.shadeG.get(), cache.shadeB.get(),
                                    job.area.width, job.area.height);
    bool done = false;
    if (s.gpu) {
        done = gpu::shadeGpu(constants, surface, shadeOut, SS, outerStyle,
                             FrameWindow::whole(job.area.width, job.area.height),
                             cache.geometryRevision, cache.reflectionRevision);
    }
    if (!done) {
        Plane<float> workPlanes[3], half;
        if (SS > 1) {
            for (Plane<float>& plane : workPlanes) {
                plane = allocatePlane<float>(s.work.pixels());
                if (!plane) return false;
            }
        }
        // Four samples per axis are averaged in two halvings, through a plane at twice the size.
        if (SS == 4) {
            half = allocatePlane<float>(job.area.scaled(2).pixels());
            if (!half) return false;
        }
        const RgbPlanes<float> working =
            SS > 1 ? RgbPlanes<float>(workPlanes[0].get(), workPlanes[1].get(), workPlanes[2].get(),
                                      s.work.width, s.work.height)
                   : shadeOut;
        shadeWindow(constants, surface, working, outerStyle);
        if (SS > 1) {
            for (const auto& [from, to] :
                 {std::pair{working.r, shadeOut.r}, std::pair{working.g, shadeOut.g},
                  std::pair{working.b, shadeOut.b}})
                reduceSupersampled(from.data, half.get(), to.data, job.area.width, job.area.height,
                                   SS);
        }
    }
    cache.shadingValid = true;
    cache.glowValid = false;
    s.report.shadingRan = true;
    return true;
}

// The glow in the kept planes of the output window; false when it has none this frame (off, or
// its planes could not be had). Its work planes live only while it runs.
bool runGlow(Stages& s, bool glowDirty) {
    const FrameJob& job = s.job;
    StageCache& cache = s.cache;
    const FrameWindow& window = job.window;
    const FrameWindow& area = job.area;
    if (!(job.settings->glowIntensity > kGlowIntensityMin && glowPlanesComplete(cache)))
        return false;
    if (glowDirty || !cache.glowValid) {
        // The shade covers the geometry window, which lies inside the glow's.
        const FrameWindow shadeAt{area.x - window.x, area.y - window.y, area.width,
                                  area.height,       window.width,      window.height};
        cache.glowValid = computeGlowPlanes(
            s.gpu,
            RgbPlanes<const float>(cache.shadeR.get(), cache.shadeG.get(), cache.shadeB.get(),
                                   area.width, area.height),
            shadeAt, {job.windowAlpha, window.width, window.height},
            RgbaPlanes<float>(cache.glowR.get(), cache.glowG.get(), cache.glowB.get(),
                              cache.glowA.get(), window.width, window.height),
            job.settings->glowRadius * job.preview.factor());
        s.report.glowRan = cache.glowValid;
    }
    return cache.glowValid;
}

// The observer's view of the frame, then the output.
void composeFrame(const Stages& s, bool hasGlow) {
    const FrameJob& job = s.job;
    const StageCache& cache = s.cache;
    const FrameWindow& window = job.window;
    const float* shade[3] = {cache.shadeR.get(), cache.shadeG.get(), cache.shadeB.get()};
    const float* glow[4] = {nullptr, nullptr, nullptr, nullptr};
    if (hasGlow) {
        glow[0] = cache.glowR.get(), glow[1] = cache.glowG.get();
        glow[2] = cache.glowB.get(), glow[3] = cache.glowA.get();
    }
    FramePlanes planes;
    planes.settings = job.settings;
    planes.W = job.W, planes.H = job.H, planes.SS = job.SS;
    planes.W2 = job.W * job.SS, planes.H2 = job.H * job.SS;
    planes.dx = job.dx, planes.dy = job.dy;
    planes.window = window;
    planes.geometryWindow = job.area;
    planes.alpha = job.windowAlpha;
    planes.alphaSS = s.alphaSS;
    planes.heightMap = cache.heightMap.get();
    planes.normalMap = cache.normalMap.get();
    planes.refl[0] = cache.reflR.get(), planes.refl[1] = cache.reflG.get();
    planes.refl[2] = cache.reflB.get();
    for (int c = 0; c < 3; ++c) planes.shade[c] = shade[c];
    for (int c = 0; c < 4; ++c) planes.glow[c] = glow[c];
    const EnvMap& env = job.env;
    planes.envSharpRgb = env.sharpRgb, planes.envSmoothRgb = env.smoothRgb;
    planes.envW = env.envW, planes.envH = env.envH;
    notifyFrameObserver(planes);

    const RgbaPlanes<const float> glowPlanes =
        hasGlow ? RgbaPlanes<const float>(glow[0], glow[1], glow[2], glow[3], window.width,
                                          window.height)
                : RgbaPlanes<const float>();
    composeOutput(
        window, job.area,
        RgbPlanes<const float>(shade[0], shade[1], shade[2], job.area.width, job.area.height),
        glowPlanes, {job.windowAlpha, window.width, window.height}, s.surface().height, env,
        *job.settings, job.SS, job.output, job.outputX, job.outputY);
}

// The stages in their order, for the progress reports and for what an abandoned frame leaves.
enum PipelineStage : std::int32_t { kGeometry, kReflection, kShading, kGlow, kStageCount };

// The host asked to abandon the frame during or before `cut`: that stage and the later ones are
// stale, the earlier ones keep what they computed under this frame's settings, which are
// committed so that the cache's rules judge the next frame against them.
Status abandonFrame(StageCache& cache, const FrameJob& job, FrameGpuLock& gpu, PipelineStage cut,
                    std::int32_t answer) {
    if (cut <= kGeometry) cache.geometryValid = false;
    if (cut <= kReflection) cache.reflectionValid = false;
    if (cut <= kShading) cache.shadingValid = false;
    cache.glowValid = false;
    commitStageCache(cache, *job.frameSettings, job.identity, job.envKey);
    gpu.leave();
    return Status::interrupted(answer);
}

// Whether the host asked to abandon the frame (asking it now); reports the stages done so far.
std::int32_t stageFinished(PipelineStage done) {
    reportFrameProgress(done + 1, kStageCount + 1);
    return askFrameAbort();
}

}  // namespace

bool startFrameJob(FrameJob& job, const RenderSettings& frameSettings,
                   const RenderSettings& settings, bool highQuality, const PreviewScale& preview,
                   const ImageView& output, const OutputPlacement& placement, std::int32_t contentW,
                   std::int32_t contentH, std::int32_t dx, std::int32_t dy) {
    const bool ownFrame = placement.frameWidth > 0 && placement.frameHeight > 0;
    const std::int32_t W = ownFrame ? placement.frameWidth : output.width;
    const std::int32_t H = ownFrame ? placement.frameHeight : output.height;
    const std::int32_t SS = highQuality ? highQualitySupersampling(preview.factor()) : 1;
    constexpr std::int64_t kMostFramePixels = std::int64_t{1} << 31;
    if (static_cast<std::int64_t>(W) * SS > INT32_MAX ||
        static_cast<std::int64_t>(H) * SS > INT32_MAX ||
        static_cast<std::int64_t>(W) * H > kMostFramePixels)
        return false;
    job.frameSettings = &frameSettings;
    job.settings = &settings;
    job.W = W, job.H = H, job.SS = SS, job.dx = dx, job.dy = dy;
    job.contentW = contentW, job.contentH = contentH;
    job.preview = preview;
    job.output = output;
    job.outputX = ownFrame ? placement.x : 0, job.outputY = ownFrame ? placement.y : 0;
    beginPlaneFrame();
    job.planesRefusedAtStart = planeRequestsRefused();
    return true;
}

bool framePlanesRefused(const FrameJob& job) {
    return planeRequestsRefused() != job.planesRefusedAtStart;
}

Status placeFrame(const ContentBounds& bounds, const std::uint8_t* layerAlpha,
                  const FrameWindow& layerRect, FrameJob& job, FrameCoverage& coverage,
                  bool& finished) {
    FrameReport& report = currentFrameReport();
    const std::int32_t W = job.W, H = job.H, SS = job.SS;
    report.W = W, report.H = H, report.SS = SS, report.W2 = W * SS, report.H2 = H * SS;
    report.dx = job.dx, report.dy = job.dy;
    // The glow and the output cover `window`; the geometry, reflection and shading `area`, which
    // lies inside it.
    const ContentWindows windows =
        contentWindows(bounds, W, H, *job.settings, SS, job.preview.factor());
    std::int64_t bytes = frameBytes(windows, SS);
    // A device in host memory may take this frame's work: its buffers come from the same memory,
    // and a device runtime that cannot get them may end the process instead of failing a call.
    if (gpu::gpuRuntimeReady() && gpu::gpuContext.sharesHostMemory)
        bytes += deviceFrameBytes(windows, SS);
    // Over the budget (less what the frames rendered beside it hold), the frame is computed in
    // bands of rows or tiles of columns on the CPU.
    const std::int64_t budget = memoryBudgetBytes() - reservedFrameBytesNow();
    job.strips = {};
    if (bytes > budget) {
        job.strips = planStrips(windows, *job.settings, SS, job.preview.factor(), budget);
        if (job.strips.rows > 0) bytes = job.strips.fixedBytes + job.strips.bandBytes;
    }
    if (!frameFitsMemory(bytes, job.memory)) return Status::outOfMemory();
    job.window = windows.output;
    job.area = windows.geometry;
    report.window = job.window;
    report.geometryWindow = job.area;
    // An empty layer is a transparent frame: nothing to compute, nothing kept. (A canvas without
    // coverage has no distances to measure heights from.)
    finished = bounds.minX > bounds.maxX && !job.settings->showEnvMap;
    if (finished) {
        writeTransparentFrame(*job.settings, W, H, SS, job.dx, job.dy, job.output, job.outputX,
                              job.outputY);
        return {};
    }
    if (!makeFrameCoverage(layerAlpha, layerRect, job.window, job.area, coverage))
        return Status::outOfMemory();
    job.windowAlpha = coverage.window.get();
    job.areaAlpha = coverage.area;
    job.identity.alphaHash = windowAlphaHash(coverage.area, job.area);
    report.alphaHash = job.identity.alphaHash;
    return {};
}

Status placeLayer(const ImageView& layer, FrameJob& job, FrameCoverage& coverage, bool& finished) {
    const std::int32_t W = job.W, H = job.H, dx = job.dx, dy = job.dy;
    // The part of the frame the layer covers.
    const auto clampTo = [](std::int64_t v, std::int32_t limit) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, limit));
    };
    const std::int32_t x0 = clampTo(dx, W), y0 = clampTo(dy, H);
    const std::int32_t x1 = clampTo(std::int64_t{dx} + (layer ? layer.width : 0), W);
    const std::int32_t y1 = clampTo(std::int64_t{dy} + (layer ? layer.height : 0), H);
    const FrameWindow layerRect{x0, y0, x1 - x0, y1 - y0, W, H};
    ContentBounds bounds{W, 0, H, 0};
    Plane<std::uint8_t> layerAlpha;
    // The smart edge carves the layer's colour edges into the heights: a new fill under the same
    // alpha is a new geometry. Its hash comes from the same pass over the layer.
    const bool hashColour =
        layer && job.settings->smartEdge && job.settings->bevelStyle == kInnerBevel;
    std::uint64_t colourHash = 0;
    if (layer && layerRect.width > 0 && layerRect.height > 0) {
        layerAlpha = allocatePlane<std::uint8_t>(layerRect.pixels());
        if (!layerAlpha) return Status::outOfMemory();
        bounds = extractAlpha(layer, dx - x0, dy - y0, layerAlpha.get(), layerRect.width,
                              layerRect.height, hashColour ? &colourHash : nullptr);
        if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
        if (bounds.minX <= bounds.maxX) {
            bounds.minX += x0, bounds.maxX += x0, bounds.minY += y0, bounds.maxY += y0;
        }
    }
    const Status placed = placeFrame(bounds, layerAlpha.get(), layerRect, job, coverage, finished);
    if (!placed.ok() || finished) return placed;
    job.layer = layer;
    if (hashColour) job.identity.colourHash = colourHash ? colourHash : imagePixelHash(layer);
    return {};
}

Status runFramePipeline(StageCache& cache, const FrameJob& job, FrameGpuLock& gpu) {
    const FrameInterruptScope interruptible(job.interrupt);
    FrameReport& report = currentFrameReport();
    report.gpu = gpu.held();
    const std::int32_t SS = job.SS;

    if (job.strips.rows > 0) {
        // Bands keep nothing: the cache's planes go, and the next frame starts afresh. The pool's
        // idle blocks go back to the system first, as the bands' peak is what the budget bounds.
        emptyStageCache(cache);
        releaseIdlePlanes();
        gpu.leave();
        report.gpu = false;
        report.geometryRan = report.reflectionRan = report.shadingRan = true;
        report.glowRan = report.glowUsed = job.settings->glowIntensity > kGlowIntensityMin;
        const Status done = runStripFrame(job);
        // The bands' blocks go back to the system: nothing is kept for the next frame, and the
        // host has its output to deal with.
        releaseIdlePlanes();
        if (done.ok() && framePlanesRefused(job)) return Status::outOfMemory();
        return done;
    }

    // What is stale; a new size relays the cache out and makes everything stale.
    if (!sameCoverage(cache, job)) cache.geometryValid = false;
    StageFlags flags = decideStages(cache, *job.frameSettings, job.identity, job.envKey);
    const FrameWindow work = job.area.scaled(SS);
    checkStageCacheSize(cache, job.area.width, job.area.height, work.width, work.height, SS, flags);
    if (!checkGlowPlanes(cache, job.window)) flags.glowDirty = true;
    if (flags.envChanged || cache.envRevision == 0) cache.envRevision = nextContentRevision();
    report.flags = flags;
    // The stages cannot run without these planes; reading them absent would be a crash.
    if (!planesComplete(cache, SS)) return Status::outOfMemory();

    Stages stages{cache,  job,  gpu.held(),
                  report, work, SS > 1 ? cache.alphaSS.get() : cache.alphaCopy.get()};
    if (std::int32_t a = askFrameAbort()) return abandonFrame(cache, job, gpu, kGeometry, a);
    if (flags.geometryDirty && !runGeometry(stages)) return Status::outOfMemory();
    if (std::int32_t a = stageFinished(kGeometry))
        return abandonFrame(cache, job, gpu, kGeometry, a);
    if (flags.reflectionDirty) runReflection(stages);
    if (std::int32_t a = stageFinished(kReflection))
        return abandonFrame(cache, job, gpu, kReflection, a);
    if ((flags.shadingDirty || !cache.shadingValid) && !runShading(stages))
        return Status::outOfMemory();
    if (std::int32_t a = stageFinished(kShading)) return abandonFrame(cache, job, gpu, kShading, a);
    const bool hasGlow = runGlow(stages, flags.glowDirty);
    if (std::int32_t a = stageFinished(kGlow)) return abandonFrame(cache, job, gpu, kGlow, a);
    report.glowUsed = hasGlow;
    if (framePlanesRefused(job)) {
        cache.geometryValid = cache.reflectionValid = false;
        cache.shadingValid = cache.glowValid = false;
        return Status::outOfMemory();
    }

    // The device copies and the cache now agree, so the GPU can go.
    commitStageCache(cache, *job.frameSettings, job.identity, job.envKey);
    gpu.leave();
    composeFrame(stages, hasGlow);
    // An abandon asked for while the output was written leaves it incomplete: the host gets the
    // error and throws the output away.
    reportFrameProgress(kStageCount + 1, kStageCount + 1);
    if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
    return {};
}

}  // namespace lumet
