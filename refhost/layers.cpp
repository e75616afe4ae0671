// Layer worlds from and to float RGBA, and depth conversion.
#include "refhost/layers.h"

#include <algorithm>
#include <cmath>

namespace refhost {

std::uint8_t toChannel8(float value) {
    if (!(value > 0.0f)) return 0;
    return static_cast<std::uint8_t>(std::min(255.0f, value * 255.0f + 0.5f));
}

std::uint16_t toChannel16(float value) {
    if (!(value > 0.0f)) return 0;
    return static_cast<std::uint16_t>(std::min(32768.0f, value * 32768.0f + 0.5f));
}

OwnedWorld worldFromRgba(const float* rgba, std::int32_t width, std::int32_t height,
                         int bitsPerChannel, std::int32_t rowPaddingBytes) {
    OwnedWorld world(width, height, bitsPerChannel, rowPaddingBytes);
    for (std::int32_t y = 0; y < height; ++y) {
        const float* source = rgba + static_cast<std::size_t>(y) * width * 4;
        for (std::int32_t x = 0; x < width; ++x) {
            const float* p = source + 4 * static_cast<std::size_t>(x);
            if (bitsPerChannel == 8) {
                world.row<PF_Pixel8>(y)[x] = {toChannel8(p[3]), toChannel8(p[0]), toChannel8(p[1]),
                                              toChannel8(p[2])};
            } else if (bitsPerChannel == 16) {
                world.row<PF_Pixel16>(y)[x] = {toChannel16(p[3]), toChannel16(p[0]),
                                               toChannel16(p[1]), toChannel16(p[2])};
            } else {
                world.row<PF_PixelFloat>(y)[x] = {p[3], p[0], p[1], p[2]};
            }
        }
    }
    return world;
}

std::vector<float> rgbaFromWorld(const PF_EffectWorld& world, int bitsPerChannel) {
    return rgbaFromWorld(world, bitsPerChannel, 0, 0, world.width, world.height);
}

std::vector<float> rgbaFromWorld(const PF_EffectWorld& world, int bitsPerChannel, std::int32_t x0,
                                 std::int32_t y0, std::int32_t width, std::int32_t height) {
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4);
    for (std::int32_t y = 0; y < height; ++y) {
        const char* row = reinterpret_cast<const char*>(world.data) +
                          static_cast<std::ptrdiff_t>(y0 + y) * world.rowbytes;
        float* out = rgba.data() + static_cast<std::size_t>(y) * width * 4;
        for (std::int32_t x = x0; x < x0 + width; ++x, out += 4) {
            if (bitsPerChannel == 8) {
                const PF_Pixel8& p = reinterpret_cast<const PF_Pixel8*>(row)[x];
                out[0] = p.red / 255.0f, out[1] = p.green / 255.0f, out[2] = p.blue / 255.0f;
                out[3] = p.alpha / 255.0f;
            } else if (bitsPerChannel == 16) {
                const PF_Pixel16& p = reinterpret_cast<const PF_Pixel16*>(row)[x];
                out[0] = p.red / 32768.0f, out[1] = p.green / 32768.0f;
                out[2] = p.blue / 32768.0f, out[3] = p.alpha / 32768.0f;
            } else {
                const PF_PixelFloat& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
                out[0] = p.red, out[1] = p.green, out[2] = p.blue, out[3] = p.alpha;
            }
        }
    }
    return rgba;
}

OwnedWorld convertWorld(const OwnedWorld& source, int bitsPerChannel,
                        std::int32_t rowPaddingBytes) {
    const std::vector<float> rgba = rgbaFromWorld(*source.world(), source.bitsPerChannel());
    return worldFromRgba(rgba.data(), source.width(), source.height(), bitsPerChannel,
                         rowPaddingBytes);
}

}  // namespace refhost
