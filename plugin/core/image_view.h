// ImageView: a host's own pixel buffer as every stage reads or writes it in place. A host hands
// over interleaved pixels of four channels at 8 or 16 bits or in float, in its channel order
// (ARGB or RGBA), with its value of white for 16-bit channels (32768 or 65535) and its row
// stride, which is negative when the host keeps its rows bottom first. The view is always
// addressed top row first: row 0 is the top of the image.
#pragma once
#include <cstdint>

namespace lumet {

// Pixel depth codes.
enum PixelDepth : std::int32_t { kDepth8 = 0, kDepth16 = 1, kDepthFloat = 2 };

enum class ChannelOrder : std::uint8_t { kArgb, kRgba };

// The channel positions within a pixel.
struct ChannelIndex {
    std::int32_t a, r, g, b;
};
constexpr ChannelIndex channelIndex(ChannelOrder order) {
    return order == ChannelOrder::kArgb ? ChannelIndex{0, 1, 2, 3} : ChannelIndex{3, 0, 1, 2};
}

struct PixelFormat {
    std::int32_t depth = kDepth8;
    ChannelOrder order = ChannelOrder::kArgb;
    std::uint32_t white16 = 32768;  // white of a 16-bit channel (ignored at other depths)

    constexpr std::int32_t bytesPerChannel() const {
        return depth == kDepthFloat ? 4 : depth == kDepth16 ? 2 : 1;
    }
    constexpr std::int32_t bytesPerPixel() const { return 4 * bytesPerChannel(); }
    bool operator==(const PixelFormat&) const = default;
};

// The other host's ARGB worlds (16-bit white 32768) and RGBA images of the OpenFX, frei0r and
// GEGL hosts (16-bit white 65535).
constexpr PixelFormat argbFormat(std::int32_t depth) { return {depth, ChannelOrder::kArgb, 32768}; }
constexpr PixelFormat rgbaFormat(std::int32_t depth) { return {depth, ChannelOrder::kRgba, 65535}; }

// A 16-bit channel of white `white` on the 0..32768 scale the stages read 16-bit values on,
// rounded to nearest (values above white stay above 32768).
constexpr std::uint32_t channelOn32768(std::uint32_t value, std::uint32_t white) {
    return white == 32768 ? value : (value * 65536u + white) / (2u * white);
}

struct ImageView {
    void* data = nullptr;      // the first pixel of the top row
    std::int64_t rowBytes = 0; // from one row to the one below it; negative for bottom-first rows
    std::int32_t width = 0, height = 0;
    PixelFormat format;

    explicit operator bool() const { return data != nullptr && width > 0 && height > 0; }
    char* row(std::int32_t y) const { return static_cast<char*>(data) + y * rowBytes; }
    template <class Channel>
    Channel* pixel(std::int32_t x, std::int32_t y) const {
        return reinterpret_cast<Channel*>(row(y) + static_cast<std::int64_t>(x) *
                                                       format.bytesPerPixel());
    }
    // The w x h pixels whose top-left pixel is (x, y) of this view.
    ImageView part(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) const {
        ImageView view = *this;
        view.data = pixel<char>(x, y);
        view.width = w, view.height = h;
        return view;
    }
};

}  // namespace lumet
