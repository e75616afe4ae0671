// NonSmartRender: one frame of the plain protocol. The parameters are read from the host's array,
// the environment map is prepared and kept here, and the frame pipeline runs in a stage cache of
// this path's own, under its own lock. The style is always Inner Bevel.
#include "render/non_smart_render.h"

#include <algorithm>
#include <cstring>

#include "envmap/env_map.h"
#include "geometry/alpha_extraction.h"
#include "params/param_ids.h"
#include "params/render_settings_params.h"
#include "render/frame_pipeline.h"
#include "render/frame_report.h"
#include "render/non_smart_cache.h"
#include "render/render_locks.h"
#include "render/render_stages.h"

namespace lumet {

namespace {

// Holds the non-smart cache lock, the GPU lock and the custom layer checkout for the call, and
// hands them back in that order.
class PlainFrameResources {
public:
    explicit PlainFrameResources(PF_InData* inData) : in_(inData) {}
    PlainFrameResources(const PlainFrameResources&) = delete;
    PlainFrameResources& operator=(const PlainFrameResources&) = delete;
    ~PlainFrameResources() {
        gpuLock.leave();
        if (cacheLock_) nonSmartCacheLock().leave();
        if (customCheckedOut_) in_->inter.checkin_param(in_->effect_ref, &custom);
    }
    void enterCacheLock() {
        nonSmartCacheLock().enter();
        cacheLock_ = true;
    }

    FrameGpuLock gpuLock;
    PF_ParamDef custom{};
    bool customCheckedOut_ = false;

private:
    PF_InData* in_;
    bool cacheLock_ = false;
};

// The environment map the cache must hold for the frame, prepared and kept: loaded when another
// map (or a custom layer, which may have changed) is chosen, blurred again from the kept sharp
// colours when only the blur changed. Sets the map's key for the change rules: a custom layer's
// map is never known to be the same. False when the working planes cannot be had.
bool prepareEnvMap(NonSmartCache& cache, const RenderSettings& settings,
                   const PF_EffectWorld* customLayer, EnvMapKey& key) {
    FrameReport& report = currentFrameReport();
    const bool envDirty =
        !cache.envValid || settings.hdriMap != cache.envMap || settings.hdriMap == kCustomMap;
    const bool blurChanged = envDirty || !(settings.envBlur == cache.envBlur);
    const std::int32_t blurRadius =
        static_cast<std::int32_t>(settings.envBlur * settings.envBlur * 100.0f);
    const std::int32_t envW = cache.envW, envH = cache.envH;
    const std::int64_t texels = static_cast<std::int64_t>(envW) * envH;
    EnvMapWork work;
    if (blurChanged && !work.allocate(texels)) return false;
    float* sharp[3] = {work.sharp[0].get(), work.sharp[1].get(), work.sharp[2].get()};
    float* smooth[3] = {work.smooth[0].get(), work.smooth[1].get(), work.smooth[2].get()};
    if (envDirty) {
        if (customLayer) {
            loadLayerEnvMap(*customLayer, sharp[0], sharp[1], sharp[2], smooth[0], smooth[1],
                            smooth[2], envW, envH, blurRadius, pixelDepthOf(*customLayer));
        } else {
            loadBuiltInEnvMap(sharp[0], sharp[1], sharp[2], smooth[0], smooth[1], smooth[2], envW,
                              envH, blurRadius, settings.hdriMap);
        }
        report.envLoaded = true;
        work.interleaveInto(nonSmartEnvMap(cache));
    } else if (blurChanged) {
        deinterleaveRgb(cache.sharpRgb.get(), texels, sharp[0], sharp[1], sharp[2]);
        deriveSmoothPlanes(sharp[0], sharp[1], sharp[2], smooth[0], smooth[1], smooth[2], envW,
                           envH, blurRadius);
        interleaveRgb(smooth[0], smooth[1], smooth[2], texels, cache.smoothRgb.get());
    }
    cache.envValid = true;
    cache.envMap = settings.hdriMap;
    cache.envBlur = settings.envBlur;
    key = EnvMapKey{};
    key.known = settings.hdriMap != kCustomMap;
    std::memcpy(key.bytes, &settings.hdriMap, sizeof settings.hdriMap);
    std::memcpy(key.bytes + sizeof settings.hdriMap, &settings.envBlur, sizeof settings.envBlur);
    return true;
}

PF_Err renderPlainFrame(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
    if (!in_data || !params || !params[PARAM_INPUT] || !output) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // 1. Settings from the parameter array; this path always draws Inner Bevel. The change rules
    // compare the frame's own values; the stages compute with finite ones.
    RenderSettings frameSettings{};
    fillRenderSettingsFromParams(params, frameSettings);
    frameSettings.bevelStyle = kInnerBevel;
    RenderSettings settings = withFiniteValues(frameSettings);
    settings.showEnvMap = params[PARAM_SHOW_ENV_MAP] && params[PARAM_SHOW_ENV_MAP]->u.bd.value;
    const PF_EffectWorld& input = params[PARAM_INPUT]->u.ld;
    const std::int32_t W = output->width, H = output->height;
    const std::int32_t iw = input.width, ih = input.height;
    const std::int32_t dx = in_data->output_origin_x, dy = in_data->output_origin_y;
    if (W < 1 || H < 1) return PF_Err_NONE;
    FrameJob job;
    if (!startFrameJob(job, frameSettings, settings, *in_data, output, iw, ih, dx, dy))
        return PF_Err_OUT_OF_MEMORY;

    // 2. The layer's alpha where it lands in the output, the windows its covered pixels give and
    // the coverage over them.
    const bool hasInput = input.data && iw > 0 && ih > 0;
    const std::int32_t lx0 = std::clamp(dx, 0, W), ly0 = std::clamp(dy, 0, H);
    const std::int32_t lx1 =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{dx} + iw, 0, W));
    const std::int32_t ly1 =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{dy} + ih, 0, H));
    const FrameWindow layerRect{lx0, ly0, lx1 - lx0, ly1 - ly0, W, H};
    ContentBounds bounds{W, 0, H, 0};
    Plane<std::uint8_t> layerAlpha;
    if (hasInput && layerRect.width > 0 && layerRect.height > 0) {
        layerAlpha = allocatePlane<std::uint8_t>(layerRect.pixels());
        if (!layerAlpha) return PF_Err_OUT_OF_MEMORY;
        bounds = extractAlpha(input, pixelDepthOf(input), dx - lx0, dy - ly0, layerAlpha.get(),
                              layerRect.width, layerRect.height);
        if (bounds.minX <= bounds.maxX) {
            bounds.minX += lx0, bounds.maxX += lx0, bounds.minY += ly0, bounds.maxY += ly0;
        }
    }
    FrameCoverage coverage;
    bool finished = false;
    const PF_Err err = placeFrame(bounds, layerAlpha.get(), layerRect, job, coverage, finished);
    layerAlpha.reset();
    if (err != PF_Err_NONE || finished) return err;
    // The smart edge carves the layer's colour edges into the heights: a new fill under the same
    // alpha is a new geometry.
    if (settings.smartEdge && hasInput) {
        job.layer.colourHash = worldPixelHash(input, pixelDepthOf(input));
        job.layerWorld = &input;
    }

    // 3. The custom map layer.
    PlainFrameResources resources(in_data);
    const PF_EffectWorld* customLayer = nullptr;
    if (settings.hdriMap == kCustomMap && in_data->inter.checkout_param) {
        if (in_data->inter.checkout_param(in_data->effect_ref, PARAM_CUSTOM_MAP,
                                          in_data->current_time, in_data->time_step,
                                          in_data->time_scale, &resources.custom) == PF_Err_NONE) {
            resources.customCheckedOut_ = true;
            const PF_EffectWorld& layer = resources.custom.u.ld;
            if (layer.data && layer.width > 0 && layer.height > 0) customLayer = &layer;
        }
    }

    // 4. The cache and its map; the GPU, when ready and free (waited for on a device whose floats
    // are not the CPU's).
    resources.enterCacheLock();
    NonSmartCache& cache = nonSmartCache();
    if (!allocateNonSmartEnvMap(cache)) {
        cache = NonSmartCache{};
        return PF_Err_OUT_OF_MEMORY;
    }
    if (!prepareEnvMap(cache, settings, customLayer, job.envKey)) {
        cache = NonSmartCache{};
        return PF_Err_OUT_OF_MEMORY;
    }
    resources.gpuLock.take();

    // 5. The stages the cache finds stale, and the output.
    job.env = nonSmartEnvMap(cache);
    return runFramePipeline(cache.stages, job, resources.gpuLock);
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
