// Layer pixels as the host stores them: worlds made from float RGBA images at 8, 16 or 32 bits
// per channel (premultiplied, as the host's worlds hold colour), read back as float RGBA, and
// converted between depths.
#pragma once
#include <cstdint>
#include <vector>

#include "refhost/world.h"

namespace refhost {

// Quantisation of one channel value (0..1 nominal) for a depth: 8 bits 0..255, 16 bits
// 0..32768 (the host's 16-bit white), 32 bits as is.
std::uint8_t toChannel8(float value);
std::uint16_t toChannel16(float value);

// A world of the given depth filled from premultiplied RGBA floats (4 per pixel, rows top to
// bottom). rowPaddingBytes pads each row as a host may.
OwnedWorld worldFromRgba(const float* rgba, std::int32_t width, std::int32_t height,
                         int bitsPerChannel, std::int32_t rowPaddingBytes = 0);

// The world's pixels as RGBA floats (alpha last), at the world's depth scale (1.0 = white).
std::vector<float> rgbaFromWorld(const PF_EffectWorld& world, int bitsPerChannel);
// The same for the width x height pixels from (x0, y0), which must lie inside the world.
std::vector<float> rgbaFromWorld(const PF_EffectWorld& world, int bitsPerChannel, std::int32_t x0,
                                 std::int32_t y0, std::int32_t width, std::int32_t height);

// The same pixels at another depth.
OwnedWorld convertWorld(const OwnedWorld& source, int bitsPerChannel,
                        std::int32_t rowPaddingBytes = 0);

}  // namespace refhost
