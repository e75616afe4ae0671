// Frames between OpenFX images and the pipeline's worlds: channel order, row order and the
// 16-bit white.
#include "ofx/ofx_pixels.h"

#include <algorithm>
#include <cstring>

namespace lumet::ofx {

namespace {

std::uint8_t* imagePixel(const ImageView& image, std::int32_t x, std::int32_t y) {
    const std::int64_t pixelBytes = 4 * image.bytesPerChannel;
    return static_cast<std::uint8_t*>(image.data) + (y - image.bounds.y1) * image.rowBytes +
           (x - image.bounds.x1) * pixelBytes;
}

std::uint8_t* worldRow(const PF_EffectWorld& world, std::int32_t row) {
    return reinterpret_cast<std::uint8_t*>(world.data) + std::int64_t{row} * world.rowbytes;
}

// RGBA to ARGB on one row of n pixels.
template <class T, class Convert>
void toWorldRow(const T* rgba, T* argb, std::int32_t n, Convert convert) {
    for (std::int32_t x = 0; x < n; ++x, rgba += 4, argb += 4) {
        argb[0] = convert(rgba[3]);
        argb[1] = convert(rgba[0]);
        argb[2] = convert(rgba[1]);
        argb[3] = convert(rgba[2]);
    }
}
template <class T, class Convert>
void toImageRow(const T* argb, T* rgba, std::int32_t n, Convert convert) {
    for (std::int32_t x = 0; x < n; ++x, rgba += 4, argb += 4) {
        rgba[0] = convert(argb[1]);
        rgba[1] = convert(argb[2]);
        rgba[2] = convert(argb[3]);
        rgba[3] = convert(argb[0]);
    }
}

auto same = [](auto v) { return v; };

}  // namespace

bool emptyRect(const OfxRectI& r) { return r.x2 <= r.x1 || r.y2 <= r.y1; }

OfxRectI intersectRects(const OfxRectI& a, const OfxRectI& b) {
    OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
               std::min(a.y2, b.y2)};
    if (emptyRect(r)) r = OfxRectI{0, 0, 0, 0};
    return r;
}

bool makeFrame(std::int32_t width, std::int32_t height, int bytesPerChannel, OwnedFrame& frame) {
    // The pipeline tells the depth by the row stride (16 bytes a pixel: float) and the deep flag.
    const std::int64_t rowBytes = std::int64_t{width} * 4 * bytesPerChannel;
    if (width < 0 || height < 0 || rowBytes > INT32_MAX) return false;
    frame.pixels = allocateZeroedPlane<std::uint8_t>(std::max<std::int64_t>(rowBytes * height, 1));
    if (!frame.pixels) return false;
    frame.world = PF_EffectWorld{};
    frame.world.data = reinterpret_cast<PF_PixelPtr>(frame.pixels.get());
    frame.world.rowbytes = static_cast<A_long>(rowBytes);
    frame.world.width = width;
    frame.world.height = height;
    frame.world.world_flags =
        PF_WorldFlag_WRITEABLE | (bytesPerChannel == 2 ? PF_WorldFlags{PF_WorldFlag_DEEP} : 0);
    frame.world.extent_hint = PF_LRect{0, 0, width, height};
    frame.world.pix_aspect_ratio = PF_RationalScale{1, 1};
    return true;
}

void importImage(const ImageView& image, const OfxRectI& region, PF_EffectWorld& world) {
    const std::int32_t n = region.x2 - region.x1;
    for (std::int32_t row = 0; row < region.y2 - region.y1; ++row) {
        const std::uint8_t* from = imagePixel(image, region.x1, region.y2 - 1 - row);
        std::uint8_t* to = worldRow(world, row);
        switch (image.bytesPerChannel) {
            case 1:
                toWorldRow(from, to, n, same);
                break;
            case 2:
                toWorldRow(reinterpret_cast<const std::uint16_t*>(from),
                           reinterpret_cast<std::uint16_t*>(to), n, shortToWorld);
                break;
            default:
                toWorldRow(reinterpret_cast<const float*>(from), reinterpret_cast<float*>(to), n,
                           same);
                break;
        }
    }
}

void exportImage(const PF_EffectWorld& world, const ImageView& image) {
    const OfxRectI& b = image.bounds;
    const std::int32_t n = b.x2 - b.x1;
    for (std::int32_t row = 0; row < b.y2 - b.y1; ++row) {
        const std::uint8_t* from = worldRow(world, row);
        std::uint8_t* to = imagePixel(image, b.x1, b.y2 - 1 - row);
        switch (image.bytesPerChannel) {
            case 1:
                toImageRow(from, to, n, same);
                break;
            case 2:
                toImageRow(reinterpret_cast<const std::uint16_t*>(from),
                           reinterpret_cast<std::uint16_t*>(to), n, worldToShort);
                break;
            default:
                toImageRow(reinterpret_cast<const float*>(from), reinterpret_cast<float*>(to), n,
                           same);
                break;
        }
    }
}

}  // namespace lumet::ofx
