// The image actions: the frame's settings from the parameters at its time, the source and output
// images made into the pipeline's worlds, the environment map prepared in the instance's cache,
// and the frame pipeline.
#include "ofx/ofx_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "envmap/env_map.h"
#include "envmap/env_map_cache.h"
#include "geometry/alpha_extraction.h"
#include "ofx/ofx_pixels.h"
#include "params/param_ids.h"
#include "render/frame_pipeline.h"
#include "render/frame_report.h"
#include "render/render_locks.h"
#include "render/render_stages.h"

namespace lumet::ofx {

namespace {

// An image fetched from a clip, released on every exit.
class ClipImage {
public:
    ClipImage(OfxImageClipHandle clip, OfxTime time) {
        if (clip) suites().imageEffect->clipGetImage(clip, time, nullptr, &handle_);
    }
    ~ClipImage() {
        if (handle_) suites().imageEffect->clipReleaseImage(handle_);
    }
    ClipImage(const ClipImage&) = delete;
    ClipImage& operator=(const ClipImage&) = delete;

    bool present() const { return handle_ != nullptr; }
    // The image's pixels; throws kOfxStatErrImageFormat for anything but RGBA of a known depth.
    ImageView view() const {
        const Props props(handle_);
        ImageView view;
        const std::string depth = props.getString(kOfxImageEffectPropPixelDepth);
        view.bytesPerChannel = depth == kOfxBitDepthByte    ? 1
                               : depth == kOfxBitDepthShort ? 2
                               : depth == kOfxBitDepthFloat ? 4
                                                            : 0;
        if (view.bytesPerChannel == 0 ||
            props.getString(kOfxImageEffectPropComponents) != kOfxImageComponentRGBA) {
            throw StatusError{kOfxStatErrImageFormat};
        }
        view.data = props.getPointer(kOfxImagePropData);
        view.rowBytes = props.getInt(kOfxImagePropRowBytes);
        view.bounds =
            OfxRectI{props.getInt(kOfxImagePropBounds, 0), props.getInt(kOfxImagePropBounds, 1),
                     props.getInt(kOfxImagePropBounds, 2), props.getInt(kOfxImagePropBounds, 3)};
        if (!view.data && !emptyRect(view.bounds)) throw StatusError{kOfxStatErrBadHandle};
        return view;
    }

private:
    OfxPropertySetHandle handle_ = nullptr;
};

// The cache a render works in: the instance's own, or, while another render holds it, a fresh
// one for this frame (the same frame, all stages run).
class FrameCache {
public:
    explicit FrameCache(Instance& instance) : instance_(instance) {
        held_ = instance.cacheLock.tryEnter();
    }
    ~FrameCache() {
        if (held_) instance_.cacheLock.leave();
    }
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;
    NonSmartCache& get() { return held_ ? instance_.cache : own_; }

private:
    Instance& instance_;
    bool held_ = false;
    NonSmartCache own_;
};

// The instance's environment map for the frame, made as the compute cache makes its values and
// kept while the map and its blur stay (a custom map is made again every frame: its clip may have
// changed). Returns the map's key for the change rules, unknown for a custom map.
EnvMapKey prepareInstanceEnvMap(NonSmartCache& cache, const RenderSettings& settings,
                                const PF_EffectWorld* customLayer) {
    const bool kept = cache.envValid && settings.hdriMap != kCustomMap &&
                      settings.hdriMap == cache.envMap && settings.envBlur == cache.envBlur;
    if (!kept) {
        if (!computeEnvMap(nonSmartEnvMap(cache), settings.hdriMap, settings.envBlur,
                           settings.hdriMap == kCustomMap ? customLayer : nullptr)) {
            cache.envValid = false;
            throw PF_Err{PF_Err_OUT_OF_MEMORY};
        }
        currentFrameReport().envLoaded = true;
        cache.envValid = true;
        cache.envMap = settings.hdriMap;
        cache.envBlur = settings.envBlur;
    }
    EnvMapKey key;
    key.known = settings.hdriMap != kCustomMap;
    std::memcpy(key.bytes, &settings.hdriMap, sizeof settings.hdriMap);
    std::memcpy(key.bytes + sizeof settings.hdriMap, &settings.envBlur, sizeof settings.envBlur);
    return key;
}

bool clipConnected(OfxImageClipHandle clip) {
    if (!clip) return false;
    OfxPropertySetHandle props = nullptr;
    if (suites().imageEffect->clipGetPropertySet(clip, &props) != kOfxStatOK) return false;
    return Props(props).getInt(kOfxImageClipPropConnected, 0, 0) != 0;
}

void readSettings(Instance& instance, OfxTime time, RenderSettings& settings) {
    ParamValues values;
    readParamValues(instance.params, time, values);
    settings = RenderSettings{};
    settingsFromValues(values, settings);
}

// The frame's quality and the host's render scale as the pipeline takes them from a host: draft
// renders at the low quality (no supersampling), and the scale goes in as the downsample factors.
// This is the one place where the render scale reaches the pipeline.
PF_InData frameInData(bool draft, double scaleX, double scaleY) {
    PF_InData in{};
    in.quality = draft ? PF_Quality_LO : PF_Quality_HI;
    constexpr A_u_long kScaleDenominator = 1 << 16;
    auto factor = [](double scale) {
        const double held = std::isfinite(scale) ? std::clamp(scale, 1.0 / 65536.0, 1.0) : 1.0;
        return PF_RationalScale{static_cast<A_long>(std::lround(held * kScaleDenominator)),
                                kScaleDenominator};
    };
    in.downsample_x = factor(scaleX);
    in.downsample_y = factor(scaleY);
    return in;
}

PF_Err renderFrame(Instance& instance, OfxTime time, const PF_InData& inData) {
    RenderSettings frameSettings;
    readSettings(instance, time, frameSettings);
    const RenderSettings settings = withFiniteValues(frameSettings);

    // The output image and the part of the source that lies in it, as worlds.
    ClipImage outputImage(instance.output, time);
    if (!outputImage.present()) throw StatusError{kOfxStatFailed};
    const ImageView out = outputImage.view();
    const std::int32_t W = out.bounds.x2 - out.bounds.x1, H = out.bounds.y2 - out.bounds.y1;
    if (W < 1 || H < 1) return PF_Err_NONE;
    OwnedFrame output, input;
    if (!makeFrame(W, H, out.bytesPerChannel, output)) return PF_Err_OUT_OF_MEMORY;
    ClipImage sourceImage(clipConnected(instance.source) ? instance.source : nullptr, time);
    OfxRectI region{0, 0, 0, 0};
    if (sourceImage.present()) {
        const ImageView source = sourceImage.view();
        if (source.bytesPerChannel != out.bytesPerChannel)
            throw StatusError{kOfxStatErrImageFormat};
        region = intersectRects(source.bounds, out.bounds);
        if (!makeFrame(region.x2 - region.x1, region.y2 - region.y1, out.bytesPerChannel, input))
            return PF_Err_OUT_OF_MEMORY;
        importImage(source, region, input.world);
    }
    const std::int32_t iw = input.world.width, ih = input.world.height;
    const std::int32_t dx = emptyRect(region) ? 0 : region.x1 - out.bounds.x1;
    const std::int32_t dy = emptyRect(region) ? 0 : out.bounds.y2 - region.y2;

    FrameJob job;
    if (!startFrameJob(job, frameSettings, settings, inData, &output.world, iw, ih, dx, dy))
        return PF_Err_OUT_OF_MEMORY;
    // The host's abort, asked between the stages and inside them as the other host's is.
    job.interrupt = FrameInterrupt{};
    job.interrupt.context = instance.effect;
    job.interrupt.abort = [](void* effect) -> std::int32_t {
        const OfxImageEffectSuiteV1* suite = suites().imageEffect;
        return suite->abort && suite->abort(static_cast<OfxImageEffectHandle>(effect)) != 0
                   ? PF_Interrupt_CANCEL
                   : 0;
    };
    job.layerWorld = iw > 0 ? &input.world : nullptr;

    // The layer's alpha in the frame, its windows and coverage.
    ContentBounds bounds{W, 0, H, 0};
    Plane<std::uint8_t> layerAlpha;
    if (iw > 0 && ih > 0) {
        layerAlpha = allocatePlane<std::uint8_t>(std::int64_t{iw} * ih);
        if (!layerAlpha) return PF_Err_OUT_OF_MEMORY;
        bounds =
            extractAlpha(input.world, pixelDepthOf(input.world), 0, 0, layerAlpha.get(), iw, ih);
        if (bounds.minX <= bounds.maxX) {
            bounds.minX += dx, bounds.maxX += dx, bounds.minY += dy, bounds.maxY += dy;
        }
    }
    FrameCoverage coverage;
    bool finished = false;
    PF_Err err =
        placeFrame(bounds, layerAlpha.get(), {dx, dy, iw, ih, W, H}, job, coverage, finished);
    layerAlpha.reset();
    if (err == PF_Err_NONE && !finished) {
        if (settings.smartEdge && settings.bevelStyle == kInnerBevel) {
            job.layer.colourHash = worldPixelHash(input.world, pixelDepthOf(input.world));
        }
        // The Environment clip as the custom map, whole.
        OwnedFrame map;
        const PF_EffectWorld* customLayer = nullptr;
        ClipImage mapImage(settings.hdriMap == kCustomMap && clipConnected(instance.environment)
                               ? instance.environment
                               : nullptr,
                           time);
        if (mapImage.present()) {
            const ImageView view = mapImage.view();
            if (!emptyRect(view.bounds)) {
                if (!makeFrame(view.bounds.x2 - view.bounds.x1, view.bounds.y2 - view.bounds.y1,
                               view.bytesPerChannel, map))
                    return PF_Err_OUT_OF_MEMORY;
                importImage(view, view.bounds, map.world);
                customLayer = &map.world;
            }
        }
        FrameCache cache(instance);
        if (!allocateNonSmartEnvMap(cache.get())) {
            cache.get() = NonSmartCache{};
            return PF_Err_OUT_OF_MEMORY;
        }
        job.envKey = prepareInstanceEnvMap(cache.get(), settings, customLayer);
        job.env = nonSmartEnvMap(cache.get());
        FrameGpuLock gpu;
        gpu.take();
        err = runFramePipeline(cache.get().stages, job, gpu);
    }
    if (err == PF_Err_NONE) exportImage(output.world, out);
    return err;
}

}  // namespace

OfxStatus clipPreferences(Instance& /*instance*/, const Props& outArgs) {
    outArgs.set(kOfxImageEffectPropPreMultiplication, kOfxImagePreMultiplied);
    outArgs.set("OfxImageClipPropComponents_Output", kOfxImageComponentRGBA);
    return kOfxStatOK;
}

OfxStatus regionOfDefinition(Instance& instance, const Props& inArgs, const Props& outArgs) {
    const OfxTime time = inArgs.getDouble(kOfxPropTime);
    OfxRectD source{};
    if (!clipConnected(instance.source) || suites().imageEffect->clipGetRegionOfDefinition(
                                               instance.source, time, &source) != kOfxStatOK) {
        return kOfxStatReplyDefault;
    }
    RenderSettings settings;
    readSettings(instance, time, settings);
    const double margin = settings.expansion;
    const double rod[4] = {source.x1 - margin, source.y1 - margin, source.x2 + margin,
                           source.y2 + margin};
    for (int i = 0; i < 4; ++i) outArgs.set(kOfxImageEffectPropRegionOfDefinition, rod[i], i);
    return kOfxStatOK;
}

OfxStatus regionsOfInterest(Instance& instance, const Props& inArgs, const Props& outArgs) {
    const OfxTime time = inArgs.getDouble(kOfxPropTime);
    auto whole = [&](OfxImageClipHandle clip, const char* name) {
        OfxRectD rect{};
        if (!clipConnected(clip) ||
            suites().imageEffect->clipGetRegionOfDefinition(clip, time, &rect) != kOfxStatOK) {
            return;
        }
        const std::string property = std::string("OfxImageClipPropRoI_") + name;
        const double values[4] = {rect.x1, rect.y1, rect.x2, rect.y2};
        for (int i = 0; i < 4; ++i) outArgs.set(property.c_str(), values[i], i);
    };
    whole(instance.source, kOfxImageEffectSimpleSourceClipName);
    whole(instance.environment, kEnvironmentClipName);
    return kOfxStatOK;
}

OfxStatus renderAction(Instance& instance, const Props& inArgs) {
    const PF_InData inData =
        frameInData(inArgs.getInt(kOfxImageEffectPropRenderQualityDraft, 0, 0) != 0,
                    inArgs.getDouble(kOfxImageEffectPropRenderScale, 0, 1.0),
                    inArgs.getDouble(kOfxImageEffectPropRenderScale, 1, 1.0));
    beginFrameReport(RenderPath::kOfx);
    PF_Err err = PF_Err_NONE;
    try {
        err = renderFrame(instance, inArgs.getDouble(kOfxPropTime), inData);
    } catch (PF_Err thrown) {
        err = thrown;
    } catch (...) {
        finishFrameReport(PF_Err_INTERNAL_STRUCT_DAMAGED);
        throw;
    }
    finishFrameReport(err);
    if (err == PF_Err_NONE) return kOfxStatOK;
    // Abandoned at the host's request: a failed render, and nothing to tell the user.
    if (err == PF_Interrupt_CANCEL) return kOfxStatFailed;
    if (err == PF_Err_OUT_OF_MEMORY) {
        reportError(instance.effect, "Lumet: not enough memory to render this frame.");
        return kOfxStatErrMemory;
    }
    reportError(instance.effect, "Lumet: the frame could not be rendered.");
    return kOfxStatFailed;
}

void purgeCaches(Instance& instance) {
    platform::LockGuard guard(instance.cacheLock);
    instance.cache = NonSmartCache{};
}

}  // namespace lumet::ofx
