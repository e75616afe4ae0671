// Smart and plain frames through the reference host.
#include "refhost/render_host.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_HashSuite.h"
#include "refhost/callback_faults.h"
#include "refhost/layers.h"

namespace refhost {

namespace {

bool emptyRect(const PF_LRect& r) { return !(r.left < r.right && r.top < r.bottom); }

PF_LRect intersectRects(const PF_LRect& a, const PF_LRect& b) {
    return PF_LRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
}

// The host's state for the smart render call in progress on this thread.
struct SmartFrame {
    Host* host = nullptr;
    const FrameOptions* options = nullptr;
    std::map<A_long, LayerCheckout> checkouts;   // by checkout id, from the pre-render
    std::map<A_long, PF_EffectWorld> handedOut;  // layer worlds given to the effect
    std::map<A_long, int> open;                  // checkouts not checked in
    PF_LRect outputRect{};
    OwnedWorld output;
    bool outputHandedOut = false;
};
thread_local SmartFrame* currentFrame = nullptr;

PF_Err checkoutLayerPixels(PF_ProgPtr, A_long checkoutId, PF_EffectWorld** pixels) {
    SmartFrame* frame = currentFrame;
    if (!frame || !pixels) return PF_Err_BAD_CALLBACK_PARAM;
    *pixels = nullptr;
    if (PF_Err err; hostCallbackFails("checkout_layer_pixels", &err)) return err;
    if (checkoutId == 0) {
        if (frame->options->inputPixelsError != PF_Err_NONE) {
            return frame->options->inputPixelsError;
        }
        if (frame->options->nullInputPixels) return PF_Err_NONE;
    }
    // Only what the pre-render checked out may be rendered from.
    auto it = frame->checkouts.find(checkoutId);
    if (it == frame->checkouts.end()) return PF_Err_BAD_CALLBACK_PARAM;
    const OwnedWorld* layer = frame->host->layer(it->second.index);
    ++frame->open[checkoutId];
    if (!layer) return PF_Err_NONE;  // a layer parameter without a layer: no pixels
    // The part of the layer the pre-render's request covered.
    const PF_LRect& r = it->second.result.result_rect;
    PF_EffectWorld world = *layer->world();
    if (emptyRect(r)) {
        world.width = world.height = 0;
    } else {
        const int pixelBytes = 4 * layer->bitsPerChannel() / 8;
        world.data =
            reinterpret_cast<PF_PixelPtr>(reinterpret_cast<char*>(world.data) +
                                          static_cast<std::ptrdiff_t>(r.top) * world.rowbytes +
                                          static_cast<std::ptrdiff_t>(r.left) * pixelBytes);
        world.width = r.right - r.left;
        world.height = r.bottom - r.top;
        // The buffer's first pixel in the layer's coordinates.
        world.origin_x = r.left;
        world.origin_y = r.top;
    }
    world.extent_hint = PF_LRect{0, 0, world.width, world.height};
    try {
        *pixels = &(frame->handedOut[checkoutId] = world);
    } catch (const std::bad_alloc&) {
        --frame->open[checkoutId];
        return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
}

PF_Err checkinLayerPixels(PF_ProgPtr, A_long checkoutId) {
    SmartFrame* frame = currentFrame;
    if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
    auto it = frame->open.find(checkoutId);
    if (it == frame->open.end() || it->second == 0) return PF_Err_BAD_CALLBACK_PARAM;
    --it->second;
    return PF_Err_NONE;
}

PF_Err checkoutOutput(PF_ProgPtr, PF_EffectWorld** output) {
    SmartFrame* frame = currentFrame;
    if (!frame || !output) return PF_Err_BAD_CALLBACK_PARAM;
    *output = nullptr;
    if (PF_Err err; hostCallbackFails("checkout_output", &err)) return err;
    if (frame->options->outputError != PF_Err_NONE) return frame->options->outputError;
    if (frame->options->nullOutput) return PF_Err_NONE;
    if (frame->options->outputOverride) {
        *output = frame->options->outputOverride;
        return PF_Err_NONE;
    }
    if (!frame->outputHandedOut) {
        // The host allocates the output world at the first checkout; that can fail too.
        if (PF_Err err; hostCallbackFails("output world allocation", &err)) return err;
        const PF_LRect& r = frame->outputRect;
        const std::int32_t width = emptyRect(r) ? 0 : r.right - r.left;
        const std::int32_t height = emptyRect(r) ? 0 : r.bottom - r.top;
        // The host answers an allocation it cannot make with an error code: nothing may unwind
        // through the effect's C entry point.
        try {
            frame->output = frame->host->takeOutputWorld(
                width, height, frame->options->bitsPerChannel, frame->options->outputRowPadding);
        } catch (const std::bad_alloc&) {
            return PF_Err_OUT_OF_MEMORY;
        }
        // The buffer's first pixel in the layer's coordinates.
        frame->output.world()->origin_x = r.left;
        frame->output.world()->origin_y = r.top;
        frame->outputHandedOut = true;
    }
    *output = frame->output.world();
    return PF_Err_NONE;
}

// Layers at the frame's depth, as a host converts them to the project's depth.
void convertLayers(Host& host, int bitsPerChannel) {
    for (int index = 0; index < host.params().count(); ++index) {
        const OwnedWorld* world = host.layer(index);
        if (world && world->bitsPerChannel() != bitsPerChannel) {
            host.setLayer(index, convertWorld(*world, bitsPerChannel));
        }
    }
}

// For the duration of a frame at a preview factor: the host's layers area-averaged down as a host
// hands them over then, and in data that carry the factors. The full-resolution layers and the
// factor 1 come back when the frame is done, whichever way it ends.
class PreviewFrame {
public:
    PreviewFrame(Host& host, const FrameOptions& options) : host_(host) {
        const std::int32_t fx = options.downsampleX, fy = options.downsampleY;
        if (fx < 1 || fy < 1) throw std::invalid_argument("downsample factors must be 1 or more");
        if (fx == 1 && fy == 1) return;
        for (int index = 0; index < host.params().count(); ++index) {
            const OwnedWorld* world = host.layer(index);
            if (!world) continue;
            OwnedWorld preview = downsampleWorld(*world, fx, fy, kLayerRowPadding);
            saved_.emplace(index, convertWorld(*world, world->bitsPerChannel(), kLayerRowPadding));
            host.setLayer(index, std::move(preview));
        }
        host.setDownsample({1, static_cast<A_u_long>(fx)}, {1, static_cast<A_u_long>(fy)});
    }
    ~PreviewFrame() {
        for (auto& [index, world] : saved_) host_.setLayer(index, std::move(world));
        host_.setDownsample({1, 1}, {1, 1});
    }
    PreviewFrame(const PreviewFrame&) = delete;
    PreviewFrame& operator=(const PreviewFrame&) = delete;

private:
    static constexpr std::int32_t kLayerRowPadding = 12;
    Host& host_;
    std::map<int, OwnedWorld> saved_;
};

}  // namespace

PF_Err renderSmartFrame(Host& host, const FrameOptions& options, RenderedFrame& result) {
    result = RenderedFrame{};
    convertLayers(host, options.bitsPerChannel);
    const PreviewFrame preview(host, options);
    host.clearLogs();
    const PF_RenderRequest request = host.fullLayerRequest();
    PF_PreRenderOutput preOutput;
    std::memset(&preOutput, 0, sizeof(preOutput));
    PF_Err err =
        host.smartPreRender(request, static_cast<short>(options.bitsPerChannel), &preOutput);
    if (err != PF_Err_NONE) {
        host.finishFrame();
        return err;
    }

    SmartFrame frame;
    frame.host = &host;
    frame.options = &options;
    // The output holds the result rectangle only for an effect that said it returns extra
    // pixels; otherwise the host clips it to what it asked for.
    frame.outputRect = preOutput.result_rect;
    if (!(preOutput.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS)) {
        frame.outputRect = intersectRects(preOutput.result_rect, request.rect);
    }
    PF_LRect inputRect{};
    for (const LayerCheckout& checkout : host.layerCheckouts()) {
        frame.checkouts[checkout.checkoutId] = checkout;
        if (checkout.checkoutId == 0) inputRect = checkout.result.result_rect;
    }

    PF_SmartRenderCallbacks callbacks{};
    callbacks.checkout_layer_pixels = &checkoutLayerPixels;
    callbacks.checkin_layer_pixels = &checkinLayerPixels;
    callbacks.checkout_output = &checkoutOutput;
    PF_SmartRenderInput input;
    std::memset(&input, 0, sizeof(input));
    input.output_request = request;
    input.bitdepth = static_cast<short>(options.bitsPerChannel);
    input.pre_render_data =
        options.dropPreRenderData ? nullptr : const_cast<void*>(host.preRenderData());
    PF_SmartRenderExtra extra{&input, &callbacks};

    PF_InData in = host.makeInData();
    in.quality = options.highQuality ? PF_Quality_HI : PF_Quality_LO;
    SmartFrame* previous = currentFrame;
    currentFrame = &frame;
    try {
        err = host.sendCommand(PF_Cmd_SMART_RENDER, in, nullptr, nullptr, &extra, nullptr);
    } catch (...) {
        currentFrame = previous;
        host.finishFrame();
        throw;
    }
    currentFrame = previous;
    host.finishFrame();

    for (const auto& [id, count] : frame.open) result.layerCheckoutsLeftOpen += count;
    result.output = std::move(frame.output);
    result.inputX = inputRect.left - frame.outputRect.left;
    result.inputY = inputRect.top - frame.outputRect.top;
    return err;
}

PF_Err renderPlainFrame(Host& host, const FrameOptions& options, RenderedFrame& result) {
    result = RenderedFrame{};
    convertLayers(host, options.bitsPerChannel);
    const PreviewFrame preview(host, options);
    FrameSetupResult setup;
    PF_Err err = host.frameSetup(&setup);
    if (err != PF_Err_NONE) return err;
    if (options.outputOverride == nullptr) {
        result.output = host.takeOutputWorld(setup.width, setup.height, options.bitsPerChannel,
                                             options.outputRowPadding);
    }
    PF_EffectWorld* output =
        options.outputOverride ? options.outputOverride : result.output.world();
    FrameParams params(host.params(), host.currentSeconds(), host.layer(0));
    PF_InData in = host.makeInData();
    in.quality = options.highQuality ? PF_Quality_HI : PF_Quality_LO;
    in.output_origin_x = setup.origin.h;
    in.output_origin_y = setup.origin.v;
    err = host.sendCommand(PF_Cmd_RENDER, in, params.array(), output, nullptr, nullptr);
    // Every frame set-up is closed by a frame set-down, whatever the render returned.
    PF_InData setdownIn = host.makeInData();
    const PF_Err setdownErr = host.sendCommand(PF_Cmd_FRAME_SETDOWN, setdownIn, params.array(),
                                               nullptr, nullptr, nullptr);
    if (err == PF_Err_NONE) err = setdownErr;
    result.inputX = setup.origin.h;
    result.inputY = setup.origin.v;
    return err;
}

const char* errorName(PF_Err err) {
    switch (err) {
        case PF_Err_NONE:
            return "PF_Err_NONE";
        case PF_Err_OUT_OF_MEMORY:
            return "PF_Err_OUT_OF_MEMORY";
        case PF_Err_INTERNAL_STRUCT_DAMAGED:
            return "PF_Err_INTERNAL_STRUCT_DAMAGED";
        case PF_Err_INVALID_INDEX:
            return "PF_Err_INVALID_INDEX";
        case PF_Err_UNRECOGNIZED_PARAM_TYPE:
            return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
        case PF_Err_INVALID_CALLBACK:
            return "PF_Err_INVALID_CALLBACK";
        case PF_Err_BAD_CALLBACK_PARAM:
            return "PF_Err_BAD_CALLBACK_PARAM";
        case PF_Interrupt_CANCEL:
            return "PF_Interrupt_CANCEL";
        case A_Err_MISSING_SUITE:
            return "A_Err_MISSING_SUITE";
        default:
            return "unknown error";
    }
}

}  // namespace refhost
