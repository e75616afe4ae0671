// Rendering a frame through the reference host, on either protocol:
// - smart: pre-render with a request for the whole input layer, then smart render, whose
//   checkout_layer_pixels hands out the layers the pre-render checked out (at the frame's depth,
//   cut to the rectangles the pre-render answered) and whose checkout_output hands out a world
//   of the output rectangle;
// - plain: frame set-up, which sizes the output and places the input in it, then render with the
//   parameter array at the current time and the output origin in the in data.
// Worlds are made at 8, 16 or 32 bits per channel with padded row strides, and the host's render
// quality is chosen per frame. Tests can inject the failures a real host may produce.
#pragma once
#include <cstdint>

#include "refhost/host.h"
#include "refhost/world.h"

namespace refhost {

struct FrameOptions {
    int bitsPerChannel = 8;
    bool highQuality = true;
    std::int32_t outputRowPadding = 16;  // bytes added to every output row
    // Preview at 1 / downsampleX by 1 / downsampleY of full resolution: the layers are handed over
    // area-averaged by these factors and the in data say so (1 and 1: full resolution).
    std::int32_t downsampleX = 1, downsampleY = 1;

    // Failure injection (smart protocol).
    bool dropPreRenderData = false;         // smart render sees no pre-render data
    PF_Err inputPixelsError = PF_Err_NONE;  // checkout_layer_pixels of the input answers this
    bool nullInputPixels = false;           // ... or succeeds without a world
    PF_Err outputError = PF_Err_NONE;       // checkout_output answers this
    bool nullOutput = false;                // ... or succeeds without a world
    // Hand this world out as the output instead of one the host allocates (for example a world
    // that claims a size nothing could allocate). Not owned.
    PF_EffectWorld* outputOverride = nullptr;
};

struct RenderedFrame {
    OwnedWorld output;        // empty when the render failed before an output existed
    std::int32_t inputX = 0;  // where the input layer's top-left pixel lies in the output
    std::int32_t inputY = 0;
    int layerCheckoutsLeftOpen = 0;  // smart: layer checkouts the effect did not check in
};

// Renders the host's current frame. Layers whose depth differs from the frame's are converted
// first (as a host converts layers to the project's depth).
PF_Err renderSmartFrame(Host& host, const FrameOptions& options, RenderedFrame& frame);
PF_Err renderPlainFrame(Host& host, const FrameOptions& options, RenderedFrame& frame);

// The name of a host error code ("PF_Err_OUT_OF_MEMORY"), or "unknown error".
const char* errorName(PF_Err err);

}  // namespace refhost
