// OpenFX images and the worlds the pipeline takes. An OpenFX image is RGBA, bottom row first
// (rows at increasing y from its bounds' y1; the row stride may be negative), 16-bit white 65535;
// the pipeline's worlds are ARGB, top row first, 16-bit white 32768. Frames cross between them
// here, so the pipeline stays one for both hosts.
#pragma once
#include <cstdint>

#include "AE_Effect.h"
#include "ofxCore.h"
#include "platform/plane.h"

namespace lumet::ofx {

struct ImageView {
    void* data = nullptr;  // the pixel at (bounds.x1, bounds.y1)
    std::int64_t rowBytes = 0;
    OfxRectI bounds{};
    int bytesPerChannel = 0;  // 1, 2 or 4 (float)
};

// A world whose pixels the front end owns.
struct OwnedFrame {
    Plane<std::uint8_t> pixels;
    PF_EffectWorld world{};
};

// An empty rectangle has no pixels; intersection of two rectangles.
bool emptyRect(const OfxRectI& r);
OfxRectI intersectRects(const OfxRectI& a, const OfxRectI& b);

// A cleared world of the size at the depth; false when its memory cannot be had.
bool makeFrame(std::int32_t width, std::int32_t height, int bytesPerChannel, OwnedFrame& frame);

// Copies `region` of the image (inside its bounds) into the world of the region's size.
void importImage(const ImageView& image, const OfxRectI& region, PF_EffectWorld& world);
// Copies the world, which covers the image's bounds, into the image.
void exportImage(const PF_EffectWorld& world, const ImageView& image);

// 16-bit channels between the two whites, rounded to nearest.
inline std::uint16_t shortToWorld(std::uint16_t v) {
    return static_cast<std::uint16_t>((std::uint32_t{v} * 65536u + 65535u) / 131070u);
}
inline std::uint16_t worldToShort(std::uint16_t v) {
    const std::uint32_t held = v > 32768 ? 32768u : v;
    return static_cast<std::uint16_t>((held * 65535u + 16384u) / 32768u);
}

}  // namespace lumet::ofx
