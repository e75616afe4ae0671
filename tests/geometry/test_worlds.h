// Host worlds for the geometry tests: ARGB pixels at 8, 16 or 32 bits per channel with padded row
// strides, as a host hands them out.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "AE_Effect.h"

namespace lumet::testing {

struct TestWorld {
    std::vector<unsigned char> bytes;
    PF_EffectWorld world{};
    int depth = 0;  // 0: 8-bit, 1: 16-bit, 2: float (the output formats' codes too)
    int pixelBytes = 4;

    // Every byte, padding included, starts as `fill`.
    TestWorld(int width, int height, int pixelDepth, int paddingBytes = 12, unsigned char fill = 0)
        : depth(pixelDepth),
          pixelBytes(pixelDepth == 2   ? 16
                     : pixelDepth == 1 ? 8
                                       : 4) {
        world.width = width;
        world.height = height;
        world.rowbytes = width * pixelBytes + paddingBytes;
        world.world_flags = depth == 1 ? PF_WorldFlags{PF_WorldFlag_DEEP} : 0;
        bytes.assign(static_cast<size_t>(world.rowbytes) * height, fill);
        world.data = reinterpret_cast<PF_PixelPtr>(bytes.data());
    }
    unsigned char* pixel(int x, int y) {
        return bytes.data() + static_cast<size_t>(y) * world.rowbytes + x * pixelBytes;
    }
    template <class Pixel>
    Pixel at(int x, int y) const {
        Pixel p;
        std::memcpy(&p, bytes.data() + static_cast<size_t>(y) * world.rowbytes + x * pixelBytes,
                    sizeof p);
        return p;
    }
    // Channels in 0..1 (alpha, red, green, blue), stored at the world's depth.
    void set(int x, int y, float a, float r, float g, float b) {
        const float c[4] = {a, r, g, b};
        unsigned char* p = pixel(x, y);
        for (int i = 0; i < 4; ++i) {
            if (depth == 2) {
                std::memcpy(p + 4 * i, &c[i], 4);
            } else if (depth == 1) {
                const std::uint16_t v = static_cast<std::uint16_t>(c[i] * 32768.0f + 0.5f);
                std::memcpy(p + 2 * i, &v, 2);
            } else {
                p[i] = static_cast<unsigned char>(c[i] * 255.0f + 0.5f);
            }
        }
    }
    void setRawAlpha16(int x, int y, std::uint16_t a) { std::memcpy(pixel(x, y), &a, 2); }
    void setRawAlphaFloat(int x, int y, float a) { std::memcpy(pixel(x, y), &a, 4); }
};

}  // namespace lumet::testing
