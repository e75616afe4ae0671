// OpenFX images as the pipeline's views, in place. An OpenFX image is RGBA, bottom row first
// (rows at increasing y from its bounds' y1; the host's row stride may itself be negative),
// 16-bit white 65535; a view is addressed top row first, so the view of a rectangle starts at
// its top row and steps the other way.
#pragma once
#include <cstdint>

#include "core/image_view.h"
#include "ofxCore.h"

namespace lumet::ofx {

struct ImageProps {
    void* data = nullptr;  // the pixel at (bounds.x1, bounds.y1)
    std::int64_t rowBytes = 0;
    OfxRectI bounds{};
    std::int32_t depth = kDepth8;
};

// An empty rectangle has no pixels; intersection of two rectangles.
bool emptyRect(const OfxRectI& r);
OfxRectI intersectRects(const OfxRectI& a, const OfxRectI& b);

// The view of `rect` (inside the image's bounds; empty when the rectangle is).
ImageView viewOf(const ImageProps& image, const OfxRectI& rect);

}  // namespace lumet::ofx
