// Supersampling: bilinear resample of an 8-bit coverage plane, used to double the frame's alpha
// when the host renders at high quality.
#pragma once
#include <cstdint>

namespace lumet {

// Supersampling factor for the host's render quality: 2 for high quality, 1 otherwise.
inline std::int32_t supersamplingFactor(bool highQuality) { return highQuality ? 2 : 1; }

// Bilinear resample with pixel centres aligned (source coordinate (d + 0.5) * scale - 0.5), edges
// clamped, rounded to the nearest byte. A source only one pixel wide (or high) is replicated along
// that axis.
void resampleBilinear8(const std::uint8_t* source, std::int32_t sourceW, std::int32_t sourceH,
                       std::uint8_t* destination, std::int32_t destinationW,
                       std::int32_t destinationH);

}  // namespace lumet
