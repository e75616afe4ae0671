// Output composition: shaded colour, glow and coverage into the host's output world at 8, 16 or
// 32 bits per channel, with an ordered position-hash dither for the integer formats and the Show
// Env Map diagnostic view.
#pragma once
#include <cstdint>

#include "envmap/env_map.h"
#include "core/frame_window.h"
#include "core/image_view.h"
#include "core/plane_view.h"
#include "params/render_settings.h"

namespace lumet {

// Output pixel format codes: the depth of the output's view.
constexpr std::int32_t kFormat8 = kDepth8;
constexpr std::int32_t kFormat16 = kDepth16;
constexpr std::int32_t kFormat32 = kDepthFloat;

// The three dither bytes of pixel (x, y): a hash of the position, the same in every frame.
struct DitherBytes {
    std::uint32_t r, g, b;
};
inline DitherBytes ditherBytes(std::int32_t x, std::int32_t y) {
    const std::uint32_t hx = static_cast<std::uint32_t>(x) * 73856093u;
    const std::uint32_t hy = static_cast<std::uint32_t>(y) * 19349663u;
    return {(hx ^ hy) & 255u, ((hx + 93u) ^ hy) & 255u, ((hy - 97u) ^ hx) & 255u};
}

// Writes the frame into the output view, whose top-left pixel is frame pixel (outputX, outputY):
// every pixel of the view is written, transparent outside `window` (and outside the frame),
// composed inside it. The glow and alpha planes hold `window`; the shade planes hold
// `shadeWindow`, which lies inside it, and the colour is 0 around it. Output alpha comes from the
// layer's alpha, from the brightness of colour outside it (outer bevels), from Transparency and
// from the glow; a complete set of glow planes adds glowIntensity x glow. settings.showEnvMap
// replaces the colour by the height field (smartEdge on; `height` holds the shade window at SS
// times its size, read at SS x, SS x y) or by the map's sharp planes stretched over the frame.
// The view gives the depth, channel order and 16-bit white; its rows may run either way in
// memory.
void composeOutput(const FrameWindow& window, const FrameWindow& shadeWindow,
                   const RgbPlanes<const float>& shade, const RgbaPlanes<const float>& glow,
                   PlaneView<const std::uint8_t> alpha, PlaneView<const float> height,
                   const EnvMap& env, const RenderSettings& settings, std::int32_t SS,
                   const ImageView& output, std::int32_t outputX = 0,
                   std::int32_t outputY = 0);

}  // namespace lumet
