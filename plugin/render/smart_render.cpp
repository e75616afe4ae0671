// SmartRender: one frame of the smart protocol. Alpha extraction, environment map from the host's
// compute cache, then geometry, reflection, shading and glow as the stage cache finds them stale,
// and the output composition, which always runs. Every exit returns the host's resources.
#include "render/smart_render.h"

#include <algorithm>
#include <cstring>

#include "envmap/env_map.h"
#include "envmap/env_map_cache.h"
#include "geometry/alpha_extraction.h"
#include "geometry/geometry_buffers.h"
#include "gpu/gpu_ops.h"
#include "gpu/gpu_runtime.h"
#include "params/param_ids.h"
#include "platform/plane.h"
#include "render/content_window.h"
#include "render/frame_report.h"
#include "render/geometry_sequence.h"
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

constexpr A_long kInputCheckoutId = 0;
constexpr A_long kCustomMapCheckoutId = PARAM_CUSTOM_MAP;

// Everything a frame borrows from the host, handed back in one place on every exit: the GPU lock
// first, then the stage cache lock, the custom layer, the input, the compute receipt and the
// suite.
class FrameResources {
public:
    FrameResources(PF_InData* inData, PF_SmartRenderExtra* extra) : in_(inData), extra_(extra) {}
    FrameResources(const FrameResources&) = delete;
    FrameResources& operator=(const FrameResources&) = delete;
    ~FrameResources() { releaseAll(); }

    void inputCheckedOut() { input_ = true; }
    void customCheckedOut() { custom_ = true; }
    void suiteAcquired(const SPBasicSuite* basic, const AEGP_ComputeCacheSuite1* suite) {
        basic_ = basic;
        suite_ = suite;
    }
    void receiptCheckedOut(AEGP_CCCheckoutReceiptP receipt) { receipt_ = receipt; }
    void smartCacheLockTaken() { smartCacheLock_ = true; }
    void gpuLockTaken() { gpuLock_ = true; }
    void leaveGpuLock() {
        if (gpuLock_) LeaveGpuLock();
        gpuLock_ = false;
    }

    void releaseAll() {
        leaveGpuLock();
        if (smartCacheLock_) LeaveSmartCacheLock();
        smartCacheLock_ = false;
        if (custom_) extra_->cb->checkin_layer_pixels(in_->effect_ref, kCustomMapCheckoutId);
        custom_ = false;
        if (input_) extra_->cb->checkin_layer_pixels(in_->effect_ref, kInputCheckoutId);
        input_ = false;
        if (receipt_) suite_->AEGP_CheckinComputeReceipt(receipt_);
        receipt_ = nullptr;
        if (suite_) basic_->ReleaseSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1);
        suite_ = nullptr;
    }

private:
    PF_InData* in_;
    PF_SmartRenderExtra* extra_;
    bool input_ = false;
    bool custom_ = false;
    const SPBasicSuite* basic_ = nullptr;
    const AEGP_ComputeCacheSuite1* suite_ = nullptr;
    AEGP_CCCheckoutReceiptP receipt_ = nullptr;
    bool smartCacheLock_ = false;
    bool gpuLock_ = false;
};

PF_Err renderFrame(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    FrameReport& report = currentFrameReport();
    // 1. The frame's settings from pre-render.
    if (!in_data || !extra || !extra->input || !extra->cb || !extra->input->pre_render_data) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // The caches compare the frame's own values; the stages compute with finite ones.
    const RenderSettings frameSettings =
        *static_cast<const RenderSettings*>(extra->input->pre_render_data);
    const RenderSettings settings = withFiniteValues(frameSettings);
    FrameResources resources(in_data, extra);

    // 2, 3. Input and output buffers.
    PF_EffectWorld* input = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kInputCheckoutId, &input);
    if (err != PF_Err_NONE) return err;
    resources.inputCheckedOut();
    if (!input) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    PF_EffectWorld* output = nullptr;
    err = extra->cb->checkout_output(in_data->effect_ref, &output);
    if (err != PF_Err_NONE) return err;
    if (!output) return PF_Err_INTERNAL_STRUCT_DAMAGED;

    // 4, 5. Sizes and the placement of the input in the output.
    const std::int32_t W = output->width, H = output->height;
    const std::int32_t iw = input->width, ih = input->height;
    if (W < 1 || H < 1 || iw < 1 || ih < 1) return PF_Err_NONE;
    std::int32_t dx = settings.inputRect[0] - settings.outputRect[0];
    std::int32_t dy = settings.inputRect[1] - settings.outputRect[1];
    if (dx < 0 || dx >= W) dx = 0;
    if (dy < 0 || dy >= H) dy = 0;

    // 6. The custom map layer, checked out under the id pre-render requested it with.
    const PF_EffectWorld* customLayer = nullptr;
    if (settings.hdriMap == kCustomMap) {
        PF_EffectWorld* layer = nullptr;
        if (extra->cb->checkout_layer_pixels(in_data->effect_ref, kCustomMapCheckoutId, &layer) ==
            PF_Err_NONE) {
            resources.customCheckedOut();
            if (layer && layer->data) customLayer = layer;
        }
    }

    // 7. Working size. A frame whose working size does not fit 32 bits, or of more pixels than
    // any host's largest frame (30000 x 30000 and its margins), is refused before anything is
    // written: no host could have allocated its output.
    const std::int32_t SS = in_data->quality == PF_Quality_HI ? 2 : 1;
    constexpr std::int64_t kMostFramePixels = std::int64_t{1} << 31;
    if (static_cast<std::int64_t>(W) * SS > INT32_MAX ||
        static_cast<std::int64_t>(H) * SS > INT32_MAX ||
        static_cast<std::int64_t>(W) * H > kMostFramePixels) {
        return PF_Err_OUT_OF_MEMORY;
    }
    const std::int32_t W2 = W * SS, H2 = H * SS;
    report.W = W, report.H = H, report.SS = SS, report.W2 = W2, report.H2 = H2;
    report.dx = dx, report.dy = dy;

    // 8. The layer's alpha where it lands in the frame, and from its covered pixels the window
    // every later stage works in; then the window's coverage with edge smoothing.
    const std::int32_t layerW = std::min(iw, W - dx), layerH = std::min(ih, H - dy);
    Plane<std::uint8_t> layerAlpha =
        allocatePlane<std::uint8_t>(static_cast<std::int64_t>(layerW) * layerH);
    if (!layerAlpha) return PF_Err_OUT_OF_MEMORY;
    ContentBounds bounds =
        extractAlpha(*input, pixelDepthOf(*input), 0, 0, layerAlpha.get(), layerW, layerH);
    if (bounds.minX <= bounds.maxX) {
        bounds.minX += dx, bounds.maxX += dx, bounds.minY += dy, bounds.maxY += dy;
    }
    // The glow and the output cover `window`; the geometry, reflection and shading `area`, which
    // lies inside it, and `work` at the working size.
    const ContentWindows windows = contentWindows(bounds, W, H, settings, SS);
    if (!frameFitsMemory(frameBytes(windows, SS))) return PF_Err_OUT_OF_MEMORY;
    const FrameWindow window = windows.output, area = windows.geometry;
    const FrameWindow work = area.scaled(SS);
    const std::int64_t N = window.pixels(), areaN = area.pixels();
    report.window = window;
    report.geometryWindow = area;
    GeometryBuffers geometry;  // alpha: the output window's coverage
    geometry.alpha = allocateZeroedPlane<std::uint8_t>(N);
    if (!geometry.alpha) return PF_Err_OUT_OF_MEMORY;
    {
        const std::int32_t x0 = std::max(dx, window.x);
        const std::int32_t x1 = std::min(dx + layerW, window.x + window.width);
        const std::int32_t y0 = std::max(dy, window.y);
        const std::int32_t y1 = std::min(dy + layerH, window.y + window.height);
        for (std::int32_t y = y0; y < y1 && x0 < x1; ++y) {
            std::memcpy(geometry.alpha.get() +
                            static_cast<std::int64_t>(y - window.y) * window.width +
                            (x0 - window.x),
                        layerAlpha.get() + static_cast<std::int64_t>(y - dy) * layerW + (x0 - dx),
                        static_cast<std::size_t>(x1 - x0));
        }
    }
    layerAlpha.reset();
    if (!smoothAlphaEdgesInPlace(geometry.alpha.get(), window.width, window.height)) {
        return PF_Err_OUT_OF_MEMORY;
    }
    // The geometry window's coverage (its own plane when the windows differ).
    Plane<std::uint8_t> areaAlphaPlane;
    const std::uint8_t* areaAlpha = geometry.alpha.get();
    if (area.width != window.width || area.height != window.height) {
        areaAlphaPlane = allocatePlane<std::uint8_t>(areaN);
        if (!areaAlphaPlane) return PF_Err_OUT_OF_MEMORY;
        copyWindow(geometry.alpha.get(), window, areaAlphaPlane.get(), area);
        areaAlpha = areaAlphaPlane.get();
    }

    // 9. Identity of the shape and where it lies in the frame, and of the colour when the smart
    // edge carves its edges.
    LayerIdentity layer;
    layer.alphaHash = windowAlphaHash(areaAlpha, area);
    if (settings.smartEdge && settings.bevelStyle == kInnerBevel) {
        layer.colourHash = worldPixelHash(*input, pixelDepthOf(*input));
    }
    report.alphaHash = layer.alphaHash;

    // An empty layer is a transparent frame: nothing to compute, nothing kept. (A canvas without
    // coverage has no distances to measure heights from.)
    if (bounds.minX > bounds.maxX && !settings.showEnvMap) {
        writeTransparentFrame(settings, W, H, SS, dx, dy, *output);
        return PF_Err_NONE;
    }

    // 10. The environment map from the host's compute cache.
    const SPBasicSuite* basic = in_data->pica_basicP;
    const void* suiteData = nullptr;
    if (!basic ||
        basic->AcquireSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1, &suiteData) !=
            kSPNoError ||
        !suiteData) {
        throw static_cast<PF_Err>(A_Err_MISSING_SUITE);
    }
    const auto* cacheSuite = static_cast<const AEGP_ComputeCacheSuite1*>(suiteData);
    resources.suiteAcquired(basic, cacheSuite);
    EnvMapCacheOptions options{basic, settings.hdriMap, settings.envBlur,     kEnvW,
                               kEnvH, customLayer,      in_data->current_time};
    AEGP_CCCheckoutReceiptP receipt = nullptr;
    if (cacheSuite->AEGP_ComputeIfNeededAndCheckout(kEnvMapCacheClassId, &options, true,
                                                    &receipt) != A_Err_NONE ||
        !receipt) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    resources.receiptCheckedOut(receipt);
    AEGP_CCComputeValueRefconP value = nullptr;
    if (cacheSuite->AEGP_GetReceiptComputeValue(receipt, &value) != A_Err_NONE || !value) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    const EnvMap& env = *static_cast<const EnvMap*>(value);
    // The map is known by its key; the host may reuse the address of an evicted map's record.
    EnvMapKey envKey;
    AEGP_GUID key{};
    if (envMapCacheKey(&options, &key) == A_Err_NONE) {
        static_assert(sizeof key == sizeof envKey.bytes);
        std::memcpy(envKey.bytes, &key, sizeof key);
        envKey.known = true;
    }

    // 12. The stage cache, when no other render is using it; otherwise this frame works on planes
    // of its own, all stale, and gives the same frame. The GPU, whose kept buffers follow the
    // stage cache, only with the cache, when its runtime is ready and no other render holds it;
    // on a device whose floats are not the CPU's, the frame waits for both instead.
    bool sharedCache = TryEnterSmartCacheLock();
    if (!sharedCache && !framesMayLeaveTheGpu()) {
        EnterSmartCacheLock();
        sharedCache = true;
    }
    if (sharedCache) resources.smartCacheLockTaken();
    StageCache ownCache;
    const bool gpu = sharedCache && takeGpuForFrame();
    if (gpu) resources.gpuLockTaken();
    report.gpu = gpu;

    // 13, 14. What is stale; a new size reallocates the cache and makes everything stale.
    StageCache& cache = sharedCache ? smartStageCache() : ownCache;
    StageFlags flags = decideStages(cache, frameSettings, layer, envKey);
    checkStageCacheSize(cache, area.width, area.height, work.width, work.height, SS, flags);
    if (!checkGlowPlanes(cache, window)) flags.glowDirty = true;
    if (flags.envChanged || cache.envRevision == 0) cache.envRevision = nextContentRevision();
    report.flags = flags;
    // The stages cannot run without these planes; reading them absent would be a crash.
    if (!cache.heightMap || !cache.normalMap || !cache.reflR || !cache.reflG || !cache.reflB ||
        !cache.alphaCopy || (SS == 2 && !cache.alphaSS) || !cache.shadeR || !cache.shadeG ||
        !cache.shadeB ||
        (SS == 2 && !(cache.shadeWork[0] && cache.shadeWork[1] && cache.shadeWork[2]))) {
        return PF_Err_OUT_OF_MEMORY;
    }
    const std::uint8_t* alphaSS = SS == 2 ? cache.alphaSS.get() : areaAlpha;

    // 15. Geometry.
    if (flags.geometryDirty) {
        std::memcpy(cache.alphaCopy.get(), areaAlpha, static_cast<std::size_t>(areaN));
        if (!runGeometrySequence({cache.alphaCopy.get(), area.width, area.height},
                                 {cache.alphaSS.get(), work.width, work.height},
                                 {cache.heightMap.get(), work.width, work.height},
                                 {cache.normalMap.get(), work.width, work.height, 3}, SS, settings,
                                 {input, pixelDepthOf(*input), dx - area.x, dy - area.y}, gpu)) {
            return PF_Err_OUT_OF_MEMORY;
        }
        cache.geometryValid = true;
        cache.geometryRevision = nextContentRevision();
        cache.reflectionValid = false;
        report.geometryRan = true;
    }

    // 16. Reflection.
    const SurfaceView surface(alphaSS, cache.heightMap.get(), cache.normalMap.get(), work.width,
                              work.height);
    const RgbPlanes<float> reflection(cache.reflR.get(), cache.reflG.get(), cache.reflB.get(),
                                      work.width, work.height);
    if (flags.reflectionDirty) {
        // Both forms write every pixel of the window.
        bool done = false;
        if (gpu) {
            // Uploads only when the device holds another map than this frame's.
            gpu::uploadEnvMapGpu(env.sharpR, env.sharpG, env.sharpB, env.smoothR, env.smoothG,
                                 env.smoothB, env.envW, env.envH, cache.envRevision);
            if (settings.anisotropy <= 0.001f) {
                done = gpu::renderEnvReflectionGpu(surface, reflection, work, SS * iw, SS * ih,
                                                   settings, env.envW, env.envH, cache.envRevision,
                                                   cache.geometryRevision);
            }
        }
        if (!done) {
            renderEnvReflection(surface, reflection, work, SS * iw, SS * ih, settings, env);
        }
        cache.reflectionValid = true;
        cache.reflectionRevision = nextContentRevision();
        cache.shadingValid = false;  // made from the previous reflection
        report.reflectionRan = true;
    }

    // 17. Shading at the working size, reduced to the output size, in the kept planes.
    const bool outerStyle = isOuterStyle(settings.bevelStyle);
    float* const frameShade[3] = {cache.shadeR.get(), cache.shadeG.get(), cache.shadeB.get()};
    const float* shade[3] = {frameShade[0], frameShade[1], frameShade[2]};
    if (flags.shadingDirty || !cache.shadingValid) {
        ShadeConstants constants;
        makeShadeConstants(constants, settings, surface, reflection);
        const RgbPlanes<float> shadeOut(frameShade[0], frameShade[1], frameShade[2], area.width,
                                        area.height);
        bool done = false;
        if (gpu) {
            done = gpu::shadeGpu(constants, surface, shadeOut, SS, outerStyle,
                                 FrameWindow::whole(area.width, area.height),
                                 cache.geometryRevision, cache.reflectionRevision);
        }
        if (!done) {
            const RgbPlanes<float> working =
                SS == 2 ? RgbPlanes<float>(cache.shadeWork[0].get(), cache.shadeWork[1].get(),
                                           cache.shadeWork[2].get(), work.width, work.height)
                        : shadeOut;
            shadeWindow(constants, surface, working, outerStyle);
            if (SS == 2) {
                for (const auto& [from, to] :
                     {std::pair{working.r, shadeOut.r}, std::pair{working.g, shadeOut.g},
                      std::pair{working.b, shadeOut.b}}) {
                    Downsample2x(from.data, work.width, work.height, to.data, area.width,
                                 area.height);
                }
            }
        }
        cache.shadingValid = true;
        cache.glowValid = false;
        report.shadingRan = true;
    }

    // 18. Glow, in the kept planes of the output window. Without them (memory short) the frame
    // has no glow.
    const float* glow[4] = {nullptr, nullptr, nullptr, nullptr};
    if (settings.glowIntensity > 0.05f && glowPlanesComplete(cache, area, window)) {
        float* const kept[4] = {cache.glowR.get(), cache.glowG.get(), cache.glowB.get(),
                                cache.glowA.get()};
        if (flags.glowDirty || !cache.glowValid) {
            // The glow reads the shade over its own window: zero around the geometry window.
            const float* source[3] = {shade[0], shade[1], shade[2]};
            if (area.width != window.width || area.height != window.height) {
                for (int c = 0; c < 3; ++c) {
                    float* wide = cache.glowSource[c].get();
                    std::memset(wide, 0, planeBytes(N, sizeof(float)));
                    copyWindow(shade[c], area, wide, window);
                    source[c] = wide;
                }
            }
            float* workPlanes[kGlowWorkPlanes];
            for (int k = 0; k < kGlowWorkPlanes; ++k) workPlanes[k] = cache.glowWork[k].get();
            cache.glowValid = computeGlowPlanes(
                gpu,
                RgbPlanes<const float>(source[0], source[1], source[2], window.width,
                                       window.height),
                {geometry.alpha.get(), window.width, window.height},
                RgbaPlanes<float>(kept[0], kept[1], kept[2], kept[3], window.width, window.height),
                settings.glowRadius, cache.glowScratch.get(), N, workPlanes);
            report.glowRan = cache.glowValid;
        }
        if (cache.glowValid) {
            for (int c = 0; c < 4; ++c) glow[c] = kept[c];
        }
    }
    report.glowUsed = glow[3] != nullptr;

    // 19. Commit; the device copies and the cache now agree, so the GPU can go.
    commitStageCache(cache, frameSettings, layer, envKey);
    resources.leaveGpuLock();

    FramePlanes planes;
    planes.settings = &settings;
    planes.W = W, planes.H = H, planes.SS = SS, planes.W2 = W2, planes.H2 = H2;
    planes.dx = dx, planes.dy = dy;
    planes.window = window;
    planes.geometryWindow = area;
    planes.alpha = geometry.alpha.get();
    planes.alphaSS = alphaSS;
    planes.heightMap = cache.heightMap.get();
    planes.normalMap = cache.normalMap.get();
    planes.refl[0] = cache.reflR.get(), planes.refl[1] = cache.reflG.get();
    planes.refl[2] = cache.reflB.get();
    for (int c = 0; c < 3; ++c) planes.shade[c] = shade[c];
    for (int c = 0; c < 4; ++c) planes.glow[c] = glow[c];
    planes.envSharp[0] = env.sharpR, planes.envSharp[1] = env.sharpG;
    planes.envSharp[2] = env.sharpB;
    planes.envSmooth[0] = env.smoothR, planes.envSmooth[1] = env.smoothG;
    planes.envSmooth[2] = env.smoothB;
    planes.envW = env.envW, planes.envH = env.envH;
    notifyFrameObserver(planes);

    // 20. Output, always.
    const RgbaPlanes<const float> glowPlanes =
        glow[3] ? RgbaPlanes<const float>(glow[0], glow[1], glow[2], glow[3], window.width,
                                          window.height)
                : RgbaPlanes<const float>();
    composeOutput(window, area,
                  RgbPlanes<const float>(shade[0], shade[1], shade[2], area.width, area.height),
                  glowPlanes, {geometry.alpha.get(), window.width, window.height}, surface.height,
                  env, settings, SS, pixelDepthOf(*output), *output);

    // 21. The frame's own planes go with their handles; the host's resources with `resources`.
    return PF_Err_NONE;
}

}  // namespace

PF_Err SmartRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_SmartRenderExtra* extra) {
    beginFrameReport(RenderPath::kSmart);
    try {
        const PF_Err err = renderFrame(in_data, extra);
        finishFrameReport(err);
        return err;
    } catch (PF_Err thrown) {
        finishFrameReport(thrown);
        throw;
    }
}

}  // namespace lumet
