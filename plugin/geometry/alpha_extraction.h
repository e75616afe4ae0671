// Alpha extraction: reads a host layer's alpha at 8, 16 or 32 bits per channel, in place, into an 8-bit frame
// plane (placing the layer at an offset inside the frame) and records the bounds of the covered
// pixels; alpha edge smoothing softens hard, aliased edges with 3x3 averages.
#pragma once
#include <cstdint>

#include "core/image_view.h"

namespace lumet {

// Inclusive bounds of the frame pixels with non-zero alpha; min above max when there is none.
struct ContentBounds {
    std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
};

// Alpha of one host pixel as a byte: 8-bit unchanged, 16-bit (a * 255) >> 15 (values above full
// scale read as 255), float clamped to 0..1 then * 255 truncated (NaN reads as 0).
inline std::uint8_t alphaByte8(std::uint8_t a) { return a; }
inline std::uint8_t alphaByte16(std::uint16_t a) {
    const std::uint32_t v = (static_cast<std::uint32_t>(a) * 255u) >> 15;
    return static_cast<std::uint8_t>(v > 255u ? 255u : v);
}
inline std::uint8_t alphaByteFloat(float a) {
    if (!(a > 0.0f)) return 0;
    if (a > 1.0f) a = 1.0f;
    return static_cast<std::uint8_t>(a * 255.0f);
}

// Fills alpha (W x H) with the alpha of every input pixel that lands inside the frame at
// (offsetX + x, offsetY + y), 0 where none lands. Returns the content bounds, initially
// (W, 0, H, 0). With colourHash, the same pass hashes every row of the input (the whole world,
// whether it lands or not) into the value imagePixelHash gives; 0 when the rows' hashes could not
// be held.
ContentBounds extractAlpha(const ImageView& input, std::int32_t offsetX,
                           std::int32_t offsetY, std::uint8_t* alpha, std::int32_t W,
                           std::int32_t H, std::uint64_t* colourHash = nullptr);

// Reads source and writes the smoothed pixels into destination, which must already hold a copy of
// source: pixels of exactly 0 or 255 with a neighbour below 10 and one above 245 become the mean of
// their 3x3 block. Border rows and columns are never changed.
void smoothAlphaEdges(const std::uint8_t* source, std::uint8_t* destination, std::int32_t W,
                      std::int32_t H);

// In-place form with its own scratch copy; false (alpha unchanged) when the copy cannot be made.
bool smoothAlphaEdgesInPlace(std::uint8_t* alpha, std::int32_t W, std::int32_t H);

}  // namespace lumet
