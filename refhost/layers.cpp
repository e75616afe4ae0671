// Layer worlds from and to float RGBA, and depth conversion.
#include "refhost/layers.h"

#include <algorithm>
#include <cmath>

namespace refhost {

namespace {

// Below 0, -0 and NaN give 0 (max(0, v) is 0 for each), beyond full scale the top: the
// branch-free form, which vectorises, of "0 unless v > 0, else round v * scale, capped".
inline std::uint8_t channel8(float value) {
    return static_cast<std::uint8_t>(std::min(255.0f, std::max(0.0f, value) * 255.0f + 0.5f));
}

inline std::uint16_t channel16(float value) {
    return static_cast<std::uint16_t>(std::min(32768.0f, std::max(0.0f, value) * 32768.0f + 0.5f));
}

// One row of RGBA floats into a world's ARGB pixels.
template <typename Pixel, typename Convert>
void worldRow(const float* __restrict rgba, Pixel* __restrict row, std::int32_t width,
              Convert convert) {
    for (std::int32_t x = 0; x < width; ++x, rgba += 4)
        row[x] = {convert(rgba[3]), convert(rgba[0]), convert(rgba[1]), convert(rgba[2])};
}

}  // namespace

std::uint8_t toChannel8(float value) { return channel8(value); }

std::uint16_t toChannel16(float value) { return channel16(value); }

OwnedWorld worldFromRgba(const float* rgba, std::int32_t width, std::int32_t height,
                         int bitsPerChannel, std::int32_t rowPaddingBytes) {
    OwnedWorld world(width, height, bitsPerChannel, rowPaddingBytes);
    for (std::int32_t y = 0; y < height; ++y) {
        const float* source = rgba + static_cast<std::size_t>(y) * width * 4;
        if (bitsPerChannel == 8)
            worldRow(source, world.row<PF_Pixel8>(y), width, channel8);
        else if (bitsPerChannel == 16)
            worldRow(source, world.row<PF_Pixel16>(y), width, channel16);
        else
            worldRow(source, world.row<PF_PixelFloat>(y), width, [](float v) { return v; });
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

std::vector<float> areaAverage(const std::vector<float>& rgba, std::int32_t width,
                               std::int32_t height, std::int32_t factorX, std::int32_t factorY,
                               std::int32_t originX, std::int32_t originY, std::int32_t outWidth,
                               std::int32_t outHeight) {
    std::vector<float> out(static_cast<std::size_t>(outWidth) * outHeight * 4, 0.0f);
    const float weight = 1.0f / static_cast<float>(factorX * factorY);
    for (std::int32_t y = 0; y < outHeight; ++y) {
        for (std::int32_t x = 0; x < outWidth; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (std::int32_t sy = originY + y * factorY; sy < originY + (y + 1) * factorY; ++sy) {
                if (sy < 0 || sy >= height) continue;
                const std::int32_t left = originX + x * factorX;
                for (std::int32_t sx = std::max(left, 0); sx < std::min(left + factorX, width);
                     ++sx) {
                    const float* p = &rgba[(static_cast<std::size_t>(sy) * width + sx) * 4];
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
                }
            }
            float* q = &out[(static_cast<std::size_t>(y) * outWidth + x) * 4];
            for (int c = 0; c < 4; ++c) q[c] = static_cast<float>(sum[c]) * weight;
        }
    }
    return out;
}

OwnedWorld downsampleWorld(const OwnedWorld& source, std::int32_t factorX, std::int32_t factorY,
                           std::int32_t rowPaddingBytes) {
    const std::int32_t width = (source.width() + factorX - 1) / factorX;
    const std::int32_t height = (source.height() + factorY - 1) / factorY;
    const std::vector<float> rgba = rgbaFromWorld(*source.world(), source.bitsPerChannel());
    const std::vector<float> averaged =
        areaAverage(rgba, source.width(), source.height(), factorX, factorY, 0, 0, width, height);
    return worldFromRgba(averaged.data(), width, height, source.bitsPerChannel(), rowPaddingBytes);
}

OwnedWorld convertWorld(const OwnedWorld& source, int bitsPerChannel,
                        std::int32_t rowPaddingBytes) {
    const std::vector<float> rgba = rgbaFromWorld(*source.world(), source.bitsPerChannel());
    return worldFromRgba(rgba.data(), source.width(), source.height(), bitsPerChannel,
                         rowPaddingBytes);
}

}  // namespace refhost
