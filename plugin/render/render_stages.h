// Pieces both render paths share: the alpha hash and the glow with its GPU-or-CPU choice.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/frame_window.h"
#include "core/image_view.h"
#include "core/plane_view.h"
#include "params/render_settings.h"
#include "platform/plane.h"
#include "shading/glow.h"

namespace lumet {

// The settings the stages compute with: every float field that is not finite (a NaN or an
// infinity a host may hand over) becomes 0, so that no stage derives an index from it. The caches
// still compare the frame's own values, so such a field keeps its stages dirty.
RenderSettings withFiniteValues(const RenderSettings& settings);

// Hash of a window's coverage (window.width x window.height bytes) followed by the window's
// corner and size and the frame's size: the same shape at another place is another geometry.
std::uint32_t windowAlphaHash(const std::uint8_t* alpha, const FrameWindow& window);

// Copies the part of plane `from` (holding window `fromWindow`) that window `to` covers into
// plane `to` (holding `toWindow`); the rest of `to` is left as it is.
template <class T>
void copyWindow(const T* from, const FrameWindow& fromWindow, T* to, const FrameWindow& toWindow) {
    const std::int32_t x0 = std::max(fromWindow.x, toWindow.x);
    const std::int32_t x1 = std::min(fromWindow.x + fromWindow.width, toWindow.x + toWindow.width);
    const std::int32_t y0 = std::max(fromWindow.y, toWindow.y);
    const std::int32_t y1 =
        std::min(fromWindow.y + fromWindow.height, toWindow.y + toWindow.height);
    for (std::int32_t y = y0; y < y1 && x0 < x1; ++y) {
        std::memcpy(
            to + static_cast<std::int64_t>(y - toWindow.y) * toWindow.width + (x0 - toWindow.x),
            from + static_cast<std::int64_t>(y - fromWindow.y) * fromWindow.width +
                (x0 - fromWindow.x),
            static_cast<std::size_t>(x1 - x0) * sizeof(T));
    }
}

// As copyWindow, with the rest of `to` set to zero: each pixel of `to` written once, so that the
// plane need not be cleared first. A null `from` zeroes the whole of `to`.
template <class T>
void copyWindowZeroAround(const T* from, const FrameWindow& fromWindow, T* to,
                          const FrameWindow& toWindow) {
    const std::int32_t x0 = std::max(fromWindow.x, toWindow.x);
    const std::int32_t x1 = std::min(fromWindow.x + fromWindow.width, toWindow.x + toWindow.width);
    const std::int32_t y0 = std::max(fromWindow.y, toWindow.y);
    const std::int32_t y1 =
        std::min(fromWindow.y + fromWindow.height, toWindow.y + toWindow.height);
    const bool overlap = from && x0 < x1;
    for (std::int32_t y = toWindow.y; y < toWindow.y + toWindow.height; ++y) {
        T* row = to + static_cast<std::int64_t>(y - toWindow.y) * toWindow.width;
        if (!overlap || y < y0 || y >= y1) {
            std::fill(row, row + toWindow.width, T{});
            continue;
        }
        std::fill(row, row + (x0 - toWindow.x), T{});
        std::memcpy(row + (x0 - toWindow.x),
                    from + static_cast<std::int64_t>(y - fromWindow.y) * fromWindow.width +
                        (x0 - fromWindow.x),
                    static_cast<std::size_t>(x1 - x0) * sizeof(T));
        std::fill(row + (x1 - toWindow.x), row + toWindow.width, T{});
    }
}

// 64-bit hash of an image's pixels (every row's pixel bytes, not the padding) with its size and
// depth: what the smart edge reads of the layer's colour. 0 for an image without pixels.
std::uint64_t imagePixelHash(const ImageView& image);

// A frame's coverage over its two windows: the layer's alpha (`layerAlpha`, filling `layerRect`
// in frame pixels) placed into the output window, zero elsewhere, its edges smoothed; and the same
// over the geometry window `area` (inside the output window), a plane of its own only where the
// windows differ.
struct FrameCoverage {
    Plane<std::uint8_t> window;
    Plane<std::uint8_t> ownArea;
    const std::uint8_t* area = nullptr;
};
// False when a plane could not be had.
bool makeFrameCoverage(const std::uint8_t* layerAlpha, const FrameWindow& layerRect,
                       const FrameWindow& window, const FrameWindow& area, FrameCoverage& coverage);

// The frame of an empty layer: the observer sees empty windows, the output is transparent.
void writeTransparentFrame(const RenderSettings& settings, std::int32_t W, std::int32_t H,
                           std::int32_t SS, std::int32_t dx, std::int32_t dy,
                           const ImageView& output, std::int32_t outputX, std::int32_t outputY);

// The glow into four caller-owned planes of the alpha's size, from the shade over `shadeAt` of
// that frame (zero around it): on the GPU when this render holds the GPU lock, else on the GPU
// under the (waited-for) lock when the runtime is ready, else or on failure on the CPU. Returns
// false when the planes it works in could not be had (no glow this frame).
bool computeGlowPlanes(bool holdsGpuLock, const RgbPlanes<const float>& shade,
                       const FrameWindow& shadeAt, PlaneView<const std::uint8_t> alpha,
                       const RgbaPlanes<float>& glow, float glowRadius);

}  // namespace lumet
