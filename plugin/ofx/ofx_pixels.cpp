// OpenFX image rectangles as views.
#include "ofx/ofx_pixels.h"

#include <algorithm>

namespace lumet::ofx {

bool emptyRect(const OfxRectI& r) { return r.x2 <= r.x1 || r.y2 <= r.y1; }

OfxRectI intersectRects(const OfxRectI& a, const OfxRectI& b) {
    OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
               std::min(a.y2, b.y2)};
    if (emptyRect(r)) r = OfxRectI{0, 0, 0, 0};
    return r;
}

ImageView viewOf(const ImageProps& image, const OfxRectI& rect) {
    ImageView view;
    if (!image.data || emptyRect(rect)) return view;
    view.format = rgbaFormat(image.depth);
    // The rectangle's top row is its highest y.
    const std::int64_t top = std::int64_t{rect.y2} - 1 - image.bounds.y1;
    const std::int64_t left = std::int64_t{rect.x1} - image.bounds.x1;
    view.data = static_cast<char*>(image.data) + top * image.rowBytes +
                left * view.format.bytesPerPixel();
    view.rowBytes = -image.rowBytes;
    view.width = rect.x2 - rect.x1;
    view.height = rect.y2 - rect.y1;
    return view;
}

}  // namespace lumet::ofx
