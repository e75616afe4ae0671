// The image actions: the frame's settings from the parameters at its time, and the source, map
// and output images handed to the instance's frame as views of the host's own buffers.
#include "ofx/ofx_render.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>

#include "ofx/ofx_pixels.h"
#include "params/output_margin.h"
#include "params/param_ids.h"
#include "render/frame_report.h"
#include "render/instance_render.h"

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
    // The image's properties, its depth as the host says it; throws kOfxStatErrImageFormat for
    // anything but RGBA of a known depth.
    ImageProps props() const {
        const Props props(handle_);
        ImageProps image;
        const std::string depth = props.getString(kOfxImageEffectPropPixelDepth);
        image.depth = depth == kOfxBitDepthByte    ? kDepth8
                      : depth == kOfxBitDepthShort ? kDepth16
                      : depth == kOfxBitDepthFloat ? kDepthFloat
                                                   : -1;
        if (image.depth < 0 ||
            props.getString(kOfxImageEffectPropComponents) != kOfxImageComponentRGBA) {
            throw StatusError{kOfxStatErrImageFormat};
        }
        image.data = props.getPointer(kOfxImagePropData);
        image.rowBytes = props.getInt(kOfxImagePropRowBytes);
        image.bounds =
            OfxRectI{props.getInt(kOfxImagePropBounds, 0), props.getInt(kOfxImagePropBounds, 1),
                     props.getInt(kOfxImagePropBounds, 2), props.getInt(kOfxImagePropBounds, 3)};
        if (!image.data && !emptyRect(image.bounds)) throw StatusError{kOfxStatErrBadHandle};
        return image;
    }

private:
    OfxPropertySetHandle handle_ = nullptr;
};

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

// The host's abort, asked between the stages and inside them as the other host's is.
std::int32_t askHostAbort(void* effect) {
    const OfxImageEffectSuiteV1* suite = suites().imageEffect;
    return suite->abort && suite->abort(static_cast<OfxImageEffectHandle>(effect)) != 0 ? 1 : 0;
}

// The frame is the source grown by the margin at the render scale, as the other host gives it:
// the host's own rounding of the region of definition to pixels may make the output a pixel
// smaller or larger, which must not move the frame (whose centre the reflection is centred on).
// Frame rows count from the top; the output is placed in the frame, which it need not fill.
void placeInFrame(const OfxRectI& source, const OfxRectI& out, FrameRequest& request) {
    const std::int64_t margin =
        previewMargin(request.settings.expansion, request.preview.factor());
    const std::int64_t left = std::int64_t{source.x1} - margin;
    const std::int64_t top = std::int64_t{source.y2} + margin;  // exclusive: rows run downwards
    const std::int64_t width = std::int64_t{source.x2} - source.x1 + 2 * margin;
    const std::int64_t height = std::int64_t{source.y2} - source.y1 + 2 * margin;
    if (width > INT32_MAX || height > INT32_MAX) return;  // the output alone is the frame
    request.placement.frameWidth = static_cast<std::int32_t>(width);
    request.placement.frameHeight = static_cast<std::int32_t>(height);
    request.placement.x = static_cast<std::int32_t>(out.x1 - left);
    request.placement.y = static_cast<std::int32_t>(top - out.y2);
    request.layerX = request.layerY = static_cast<std::int32_t>(margin);
}

Status renderFrame(Instance& instance, const Props& inArgs) {
    const OfxTime time = inArgs.getDouble(kOfxPropTime);
    FrameRequest request;
    readSettings(instance, time, request.settings);
    // Draft renders at the low quality (no supersampling); the render scale is the preview scale.
    request.highQuality = inArgs.getInt(kOfxImageEffectPropRenderQualityDraft, 0, 0) == 0;
    request.preview = {inArgs.getDouble(kOfxImageEffectPropRenderScale, 0, 1.0),
                       inArgs.getDouble(kOfxImageEffectPropRenderScale, 1, 1.0)};
    request.interrupt.context = instance.effect;
    request.interrupt.abort = askHostAbort;

    // The output image whole and the source whole, in place.
    ClipImage outputImage(instance.output, time);
    if (!outputImage.present()) throw StatusError{kOfxStatFailed};
    const ImageProps out = outputImage.props();
    request.output = viewOf(out, out.bounds);
    if (!request.output) return {};
    ClipImage sourceImage(clipConnected(instance.source) ? instance.source : nullptr, time);
    if (sourceImage.present()) {
        const ImageProps source = sourceImage.props();
        request.layer = viewOf(source, source.bounds);
        if (request.layer) placeInFrame(source.bounds, out.bounds, request);
    }
    // The Environment clip as the custom map, whole.
    ClipImage mapImage(request.settings.hdriMap == kCustomMap && clipConnected(instance.environment)
                           ? instance.environment
                           : nullptr,
                       time);
    if (mapImage.present()) {
        const ImageProps map = mapImage.props();
        request.customMap = viewOf(map, map.bounds);
    }
    return renderInstanceFrame(instance.cache, instance.cacheLock, request);
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
    beginFrameReport(RenderPath::kOfx);
    Status status;
    try {
        status = renderFrame(instance, inArgs);
    } catch (...) {
        finishFrameReport(Status::failed());
        throw;
    }
    finishFrameReport(status);
    switch (status.code) {
        case StatusCode::kOk:
            return kOfxStatOK;
        case StatusCode::kInterrupted:
            // Abandoned at the host's request: a failed render, and nothing to tell the user.
            return kOfxStatFailed;
        case StatusCode::kOutOfMemory:
            reportError(instance.effect, "Lumet: not enough memory to render this frame.");
            return kOfxStatErrMemory;
        default:
            reportError(instance.effect, "Lumet: the frame could not be rendered.");
            return kOfxStatFailed;
    }
}

void purgeCaches(Instance& instance) {
    platform::LockGuard guard(instance.cacheLock);
    instance.cache = InstanceCache{};
}

}  // namespace lumet::ofx
