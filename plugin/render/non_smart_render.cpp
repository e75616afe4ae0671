// NonSmartRender: one frame of the plain protocol. The same stages as the smart path, with the
// parameters read from the host's array, an environment map prepared and kept here, and a cache
// of its own whose change rules compare every value exactly and the layer's shape byte for byte.
// The stages run over the content window (see content_window.h); the style is always Inner
// Bevel.
#include "render/non_smart_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "envmap/env_map.h"
#include "geometry/alpha_extraction.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
#include "params/param_ids.h"
#include "params/render_settings_params.h"
#include "render/content_window.h"
#include "render/frame_report.h"
#include "render/geometry_sequence.h"
#include "render/non_smart_cache.h"
#include "render/render_caches.h"
#include "render/render_locks.h"
#include "render/render_stages.h"
#include "render/stage_cache.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"

namespace lumet {

namespace {

// Exact: a kept product is reused only for the very values it was made from, since steps below
// any tolerance add up over a slow animation. A NaN on either side always counts as a change.
bool changed(float now, float before) { return !(now == before); }

bool colorChanged(const float a[3], const float b[3]) {
    return changed(a[0], b[0]) || changed(a[1], b[1]) || changed(a[2], b[2]);
}

// Holds the non-smart cache lock, and the custom layer checkout, for the call.
class PlainFrameResources {
public:
    explicit PlainFrameResources(PF_InData* inData) : in_(inData) {}
    PlainFrameResources(const PlainFrameResources&) = delete;
    PlainFrameResources& operator=(const PlainFrameResources&) = delete;
    ~PlainFrameResources() {
        if (gpuLock_) LeaveGpuLock();
        if (cacheLock_) nonSmartCacheLock().leave();
        if (customCheckedOut_) in_->inter.checkin_param(in_->effect_ref, &custom);
    }
    void enterCacheLock() {
        nonSmartCacheLock().enter();
        cacheLock_ = true;
    }
    void gpuLockTaken() { gpuLock_ = true; }
    void leaveGpuLock() {
        if (gpuLock_) LeaveGpuLock();
        gpuLock_ = false;
    }

    PF_ParamDef custom{};
    bool customCheckedOut_ = false;

private:
    PF_InData* in_;
    bool cacheLock_ = false;
    bool gpuLock_ = false;
};

PF_Err renderPlainFrame(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
    FrameReport& report = currentFrameReport();
    if (!in_data || !params || !params[PARAM_INPUT] || !output) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // 1. Settings from the parameter array; this path always draws Inner Bevel.
    RenderSettings frameSettings{};
    fillRenderSettingsFromParams(params, frameSettings);
    frameSettings.bevelStyle = kInnerBevel;
    // The change rules compare the frame's own values; the stages compute with finite ones.
    const RenderSettings settings = withFiniteValues(frameSettings);
    const bool showEnvMap = params[PARAM_SHOW_ENV_MAP] && params[PARAM_SHOW_ENV_MAP]->u.bd.value;
    const PF_EffectWorld& input = params[PARAM_INPUT]->u.ld;
    const std::int32_t W = output->width, H = output->height;
    const std::int32_t iw = input.width, ih = input.height;
    const std::int32_t dx = in_data->output_origin_x, dy = in_data->output_origin_y;
    if (W < 1 || H < 1) return PF_Err_NONE;
    const std::int32_t SS = in_data->quality == PF_Quality_HI ? 2 : 1;
    // A working size beyond 32 bits, or a frame larger than any host's (30000 x 30000 and its
    // margins), is refused before anything is written.
    if (static_cast<std::int64_t>(W) * SS > INT32_MAX ||
        static_cast<std::int64_t>(H) * SS > INT32_MAX ||
        static_cast<std::int64_t>(W) * H > (std::int64_t{1} << 31)) {
        return PF_Err_OUT_OF_MEMORY;
    }
    const std::int32_t W2 = W * SS, H2 = H * SS;
    report.W = W, report.H = H, report.SS = SS, report.W2 = W2, report.H2 = H2;
    report.dx = dx, report.dy = dy;

    // The layer's alpha where it lands in the output, its covered pixels, and the window the
    // stages work in: the output window, which holds the geometry's.
    const bool hasInput = input.data && iw > 0 && ih > 0;
    const std::int32_t lx0 = std::clamp(dx, 0, W), ly0 = std::clamp(dy, 0, H);
    const std::int32_t lx1 =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{dx} + iw, 0, W));
    const std::int32_t ly1 =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{dy} + ih, 0, H));
    const std::int32_t lw = lx1 - lx0, lh = ly1 - ly0;
    ContentBounds bounds{W, 0, H, 0};
    Plane<std::uint8_t> layerAlpha;
    if (hasInput && lw > 0 && lh > 0) {
        layerAlpha = allocatePlane<std::uint8_t>(static_cast<std::int64_t>(lw) * lh);
        if (!layerAlpha) return PF_Err_OUT_OF_MEMORY;
        bounds =
            extractAlpha(input, pixelDepthOf(input), dx - lx0, dy - ly0, layerAlpha.get(), lw, lh);
        if (bounds.minX <= bounds.maxX) {
            bounds.minX += lx0, bounds.maxX += lx0, bounds.minY += ly0, bounds.maxY += ly0;
        }
    }
    RenderSettings windowSettings = settings;
    windowSettings.showEnvMap = showEnvMap;
    const FrameWindow window = contentWindows(bounds, W, H, windowSettings, SS).output;
    const FrameWindow work = window.scaled(SS);
    const std::int64_t N = window.pixels();
    report.window = report.geometryWindow = window;
    if (!frameFitsMemory(frameBytes({window, window}, SS))) return PF_Err_OUT_OF_MEMORY;
    // An empty layer is a transparent frame: nothing to compute, the cache left as it is.
    if (bounds.minX > bounds.maxX && !showEnvMap) {
        writeTransparentFrame(settings, W, H, SS, dx, dy, *output);
        return PF_Err_NONE;
    }

    PlainFrameResources resources(in_data);
    // 2. The custom map layer.
    bool customInUse = false;
    if (settings.hdriMap == kCustomMap && in_data->inter.checkout_param) {
        if (in_data->inter.checkout_param(in_data->effect_ref, PARAM_CUSTOM_MAP,
                                          in_data->current_time, in_data->time_step,
                                          in_data->time_scale, &resources.custom) == PF_Err_NONE) {
            resources.customCheckedOut_ = true;
            customInUse = resources.custom.u.ld.data != nullptr &&
                          resources.custom.u.ld.width > 0 && resources.custom.u.ld.height > 0;
        }
    }

    // 3, 4. The cache, sized for this frame's window.
    resources.enterCacheLock();
    NonSmartCache& cache = nonSmartCache();
    if (!cache.valid || cache.width != window.width || cache.height != window.height ||
        cache.ss != SS) {
        ReleaseRenderCaches();
        if (!allocateNonSmartCache(cache, window.width, window.height, SS)) {
            ReleaseRenderCaches();
            return PF_Err_OUT_OF_MEMORY;
        }
    }
    const RenderSettings& cached = cache.settings;
    const bool fresh = !cache.valid;

    // 5. Change rules.
    const bool envDirty =
        fresh || frameSettings.hdriMap != cached.hdriMap || frameSettings.hdriMap == kCustomMap;
    const bool blurChanged = envDirty || changed(frameSettings.envBlur, cached.envBlur);
    bool geometryDirty = fresh || frameSettings.bevelStyle != cached.bevelStyle ||
                         frameSettings.edgeProfile != cached.edgeProfile ||
                         changed(frameSettings.bevelDepth, cached.bevelDepth) ||
                         changed(frameSettings.bevelSoftness, cached.bevelSoftness) ||
                         frameSettings.smartEdge != cached.smartEdge ||
                         changed(frameSettings.edgeStrength, cached.edgeStrength);
    // The smart edge carves the layer's colour edges into the heights: a new fill under the same
    // alpha is a new geometry.
    const std::uint64_t colourHash =
        frameSettings.smartEdge && hasInput ? worldPixelHash(input, pixelDepthOf(input)) : 0;
    if (colourHash != cache.colourHash) geometryDirty = true;
    bool reflectionDirty = geometryDirty || blurChanged ||
                           changed(frameSettings.envScale, cached.envScale) ||
                           changed(frameSettings.envDisplacement, cached.envDisplacement) ||
                           changed(frameSettings.envRotX, cached.envRotX) ||
                           changed(frameSettings.envRotY, cached.envRotY) ||
                           changed(frameSettings.dispersion, cached.dispersion) ||
                           changed(frameSettings.anisotropy, cached.anisotropy);

    // 6. Keep the previous frame's alpha to compare with.
    bool comparable = false;
    if (cache.valid && !geometryDirty) {
        std::memcpy(cache.alphaPrev.get(), cache.alpha.get(), static_cast<std::size_t>(N));
        comparable = true;
    }

    // 7. The window's coverage.
    std::memset(cache.alpha.get(), 0, static_cast<std::size_t>(N));
    if (layerAlpha) {
        copyWindow(layerAlpha.get(), FrameWindow{lx0, ly0, lw, lh, W, H}, cache.alpha.get(),
                   window);
    }
    layerAlpha.reset();
    // 8. Edge smoothing.
    std::memcpy(cache.alphaSmooth.get(), cache.alpha.get(), static_cast<std::size_t>(N));
    smoothAlphaEdges(cache.alpha.get(), cache.alphaSmooth.get(), window.width, window.height);
    std::memcpy(cache.alpha.get(), cache.alphaSmooth.get(), static_cast<std::size_t>(N));

    // 9, 10. A changed shape recomputes everything from the geometry on.
    // The same shape elsewhere in the frame is another geometry too.
    const bool alphaChanged =
        !comparable || cache.window.x != window.x || cache.window.y != window.y ||
        std::memcmp(cache.alphaPrev.get(), cache.alpha.get(), static_cast<std::size_t>(N)) != 0;
    cache.window = window;
    std::memcpy(cache.alphaPrev.get(), cache.alpha.get(), static_cast<std::size_t>(N));
    if (alphaChanged) geometryDirty = true;
    if (geometryDirty) reflectionDirty = true;
    const bool shadingDirty = fresh || reflectionDirty ||
                              changed(frameSettings.lightAngle, cached.lightAngle) ||
                              changed(frameSettings.lightHeight, cached.lightHeight) ||
                              changed(frameSettings.specular, cached.specular) ||
                              changed(frameSettings.roughness, cached.roughness) ||
                              changed(frameSettings.metal, cached.metal) ||
                              changed(frameSettings.opacity, cached.opacity) ||
                              colorChanged(frameSettings.shadowColor, cached.shadowColor) ||
                              colorChanged(frameSettings.midColor, cached.midColor) ||
                              colorChanged(frameSettings.highColor, cached.highColor) ||
                              changed(frameSettings.saturation, cached.saturation) ||
                              changed(frameSettings.tintBlend, cached.tintBlend) ||
                              changed(frameSettings.anisotropy, cached.anisotropy) ||
                              changed(frameSettings.edgeStrength, cached.edgeStrength) ||
                              changed(frameSettings.envExposure, cached.envExposure) ||
                              changed(frameSettings.envContrast, cached.envContrast);
    const bool glowDirty = fresh || shadingDirty ||
                           changed(frameSettings.glowRadius, cached.glowRadius) ||
                           (frameSettings.glowIntensity > 0.05f && cached.glowIntensity <= 0.05f);
    report.flags.geometryDirty = geometryDirty;
    report.flags.reflectionDirty = reflectionDirty;
    report.flags.shadingDirty = shadingDirty;
    report.flags.glowDirty = glowDirty;
    report.flags.envChanged = envDirty;
    report.flags.geometryChangedForDevice = geometryDirty;

    // 11. Environment map, prepared here and kept.
    const std::int32_t blurRadius =
        static_cast<std::int32_t>(settings.envBlur * settings.envBlur * 100.0f);
    const std::int32_t envW = cache.envW, envH = cache.envH;
    if (envDirty) {
        if (customInUse) {
            loadLayerEnvMap(resources.custom.u.ld, cache.sharpR.get(), cache.sharpG.get(),
                            cache.sharpB.get(), cache.smoothR.get(), cache.smoothG.get(),
                            cache.smoothB.get(), envW, envH, blurRadius,
                            pixelDepthOf(resources.custom.u.ld));
        } else {
            loadBuiltInEnvMap(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(),
                              cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), envW,
                              envH, blurRadius, settings.hdriMap);
        }
        report.envLoaded = true;
    } else if (blurChanged) {
        if (blurRadius < 1) {
            const std::size_t bytes = planeBytes(envW, envH, sizeof(float));
            std::memcpy(cache.smoothR.get(), cache.sharpR.get(), bytes);
            std::memcpy(cache.smoothG.get(), cache.sharpG.get(), bytes);
            std::memcpy(cache.smoothB.get(), cache.sharpB.get(), bytes);
        } else {
            deriveSmoothPlanes(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(),
                               cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), envW,
                               envH, blurRadius);
        }
    }
    if (envDirty || blurChanged) {
        const std::int64_t texels = static_cast<std::int64_t>(envW) * envH;
        if (envDirty)
            interleaveRgb(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(), texels,
                          cache.sharpRgb.get());
        interleaveRgb(cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), texels,
                      cache.smoothRgb.get());
    }

    // 12. The GPU, when ready and free (waited for on a device whose floats are not the CPU's).
    const bool gpu = takeGpuForFrame();
    if (gpu) resources.gpuLockTaken();
    report.gpu = gpu;
    if (envDirty || blurChanged || cache.envRevision == 0)
        cache.envRevision = nextContentRevision();
    if (gpu) {
        // Uploads only when the device holds another map than this cache's.
        gpu::uploadEnvMapGpu(cache.sharpR.get(), cache.sharpG.get(), cache.sharpB.get(),
                             cache.smoothR.get(), cache.smoothG.get(), cache.smoothB.get(), envW,
                             envH, cache.envRevision);
    }
    const std::uint8_t* alphaSS = SS == 2 ? cache.alphaSS.get() : cache.alpha.get();

    // 13. Geometry.
    if (geometryDirty) {
        const LayerPlacement layer{hasInput ? &input : nullptr, hasInput ? pixelDepthOf(input) : 0,
                                   dx - window.x, dy - window.y};
        runGeometrySequence({cache.alpha.get(), window.width, window.height},
                            {cache.alphaSS.get(), work.width, work.height},
                            {cache.heightMap.get(), work.width, work.height},
                            {cache.normalMap.get(), work.width, work.height, 3}, SS, settings,
                            layer, false);
        cache.geometryRevision = nextContentRevision();
        cache.colourHash = colourHash;
        report.geometryRan = true;
    }

    // 14. Reflection.
    const SurfaceView surface(alphaSS, cache.heightMap.get(), cache.normalMap.get(), work.width,
                              work.height);
    const RgbPlanes<float> reflection(cache.reflR.get(), cache.reflG.get(), cache.reflB.get(),
                                      work.width, work.height);
    if (reflectionDirty) {
        // Both forms write every pixel of the window.
        bool done = false;
        if (gpu && settings.anisotropy <= 0.001f) {
            done =
                gpu::renderEnvReflectionGpu(surface, reflection, work, SS * iw, SS * ih, settings,
                                            envW, envH, cache.envRevision, cache.geometryRevision);
        }
        if (!done) {
            renderEnvReflection(surface, reflection, work, SS * iw, SS * ih, settings,
                                nonSmartEnvMap(cache));
        }
        cache.reflectionRevision = nextContentRevision();
        report.reflectionRan = true;
    }

    // 15. Shading over the whole working frame.
    float* shade[3] = {SS == 2 ? cache.shadeR.get() : cache.shadeSSR.get(),
                       SS == 2 ? cache.shadeG.get() : cache.shadeSSG.get(),
                       SS == 2 ? cache.shadeB.get() : cache.shadeSSB.get()};
    if (shadingDirty) {
        // Both the GPU and the CPU shading write every pixel.
        ShadeConstants constants;
        makeShadeConstants(constants, settings, surface, reflection);
        const RgbPlanes<float> working(cache.shadeSSR.get(), cache.shadeSSG.get(),
                                       cache.shadeSSB.get(), work.width, work.height);
        bool done = false;
        if (gpu) {
            done = gpu::shadeGpu(constants, surface, working, 1, false,
                                 FrameWindow::whole(work.width, work.height),
                                 cache.geometryRevision, cache.reflectionRevision);
        }
        if (!done) shadeWindow(constants, surface, working, false);
        if (SS == 2) {
            Downsample2x(cache.shadeSSR.get(), work.width, work.height, cache.shadeR.get(),
                         window.width, window.height);
            Downsample2x(cache.shadeSSG.get(), work.width, work.height, cache.shadeG.get(),
                         window.width, window.height);
            Downsample2x(cache.shadeSSB.get(), work.width, work.height, cache.shadeB.get(),
                         window.width, window.height);
        }
        report.shadingRan = true;
    }

    // 16. Glow: recomputed when stale, otherwise the kept planes serve.
    const bool hasGlow = settings.glowIntensity > 0.05f;
    if (hasGlow && glowDirty) {
        float* work[kGlowWorkPlanes];
        for (int k = 0; k < kGlowWorkPlanes; ++k) work[k] = cache.glowWork[k].get();
        computeGlowPlanes(
            gpu, RgbPlanes<const float>(shade[0], shade[1], shade[2], window.width, window.height),
            {cache.alpha.get(), window.width, window.height},
            RgbaPlanes<float>(cache.glowR.get(), cache.glowG.get(), cache.glowB.get(),
                              cache.glowA.get(), window.width, window.height),
            settings.glowRadius, cache.scratch.get(), 0, work);
        report.glowRan = true;
    }
    report.glowUsed = hasGlow;

    // 17. Output.
    resources.leaveGpuLock();
    FramePlanes planes;
    planes.settings = &settings;
    planes.W = W, planes.H = H, planes.SS = SS, planes.W2 = W2, planes.H2 = H2;
    planes.dx = dx, planes.dy = dy;
    planes.window = planes.geometryWindow = window;
    planes.alpha = cache.alpha.get();
    planes.alphaSS = alphaSS;
    planes.heightMap = cache.heightMap.get();
    planes.normalMap = cache.normalMap.get();
    planes.refl[0] = cache.reflR.get(), planes.refl[1] = cache.reflG.get();
    planes.refl[2] = cache.reflB.get();
    for (int c = 0; c < 3; ++c) planes.shade[c] = shade[c];
    if (hasGlow) {
        planes.glow[0] = cache.glowR.get(), planes.glow[1] = cache.glowG.get();
        planes.glow[2] = cache.glowB.get(), planes.glow[3] = cache.glowA.get();
    }
    planes.envSharp[0] = cache.sharpR.get(), planes.envSharp[1] = cache.sharpG.get();
    planes.envSharp[2] = cache.sharpB.get();
    planes.envSmooth[0] = cache.smoothR.get(), planes.envSmooth[1] = cache.smoothG.get();
    planes.envSmooth[2] = cache.smoothB.get();
    planes.envW = envW, planes.envH = envH;
    notifyFrameObserver(planes);
    RenderSettings outputSettings = settings;
    outputSettings.showEnvMap = showEnvMap;
    const RgbaPlanes<const float> glow =
        hasGlow ? RgbaPlanes<const float>(cache.glowR.get(), cache.glowG.get(), cache.glowB.get(),
                                          cache.glowA.get(), window.width, window.height)
                : RgbaPlanes<const float>();
    composeOutput(window, window,
                  RgbPlanes<const float>(shade[0], shade[1], shade[2], window.width, window.height),
                  glow, {cache.alpha.get(), window.width, window.height},
                  {cache.heightMap.get(), work.width, work.height}, nonSmartEnvMap(cache),
                  outputSettings, SS, pixelDepthOf(*output), *output);

    // 18. Commit.
    copyStageSettings(cache.settings, frameSettings);
    cache.valid = true;
    return PF_Err_NONE;
}

}  // namespace

PF_Err NonSmartRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_ParamDef* params[],
                      PF_LayerDef* output) {
    beginFrameReport(RenderPath::kPlain);
    try {
        const PF_Err err = renderPlainFrame(in_data, params, output);
        finishFrameReport(err);
        return err;
    } catch (PF_Err thrown) {
        finishFrameReport(thrown);
        throw;
    }
}

}  // namespace lumet
