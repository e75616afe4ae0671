// Supersampling: bilinear resample of an 8-bit coverage plane, used to bring the frame's alpha to
// the working size when the host renders at high quality, and the edge restoration of previews.
#pragma once
#include <cstdint>

namespace lumet {

// Bilinear resample with pixel centres aligned (source coordinate (d + 0.5) * scale - 0.5), edges
// clamped, rounded to the nearest byte. A source only one pixel wide (or high) is replicated along
// that axis.
void resampleBilinear8(const std::uint8_t* source, std::int32_t sourceW, std::int32_t sourceH,
                       std::uint8_t* destination, std::int32_t destinationW,
                       std::int32_t destinationH);

// Rows [firstRow, firstRow + rows) of that resample, into `destination` from its first row.
void resampleBilinear8Rows(const std::uint8_t* source, std::int32_t sourceW, std::int32_t sourceH,
                           std::uint8_t* destination, std::int32_t destinationW,
                           std::int32_t destinationH, std::int32_t firstRow, std::int32_t rows);

// The gain by which a preview's supersampled coverage is steepened about half coverage (1: left
// as it is). The host averages the layer over blocks of n x n pixels and the coverage is then
// interpolated back up, which spreads a sharp antialiased edge over about 2n full-resolution
// pixels; the bevel's rim and the highlights along it would come out wider and dimmer than the
// render's. Steepening by n / 2 brings the ramp back to about the render's width and leaves the
// half-coverage contour where it was. Below a factor of 2 the ramp is the render's own.
inline float previewEdgeGain(float preview) {
    return preview > 0.0f && preview < 0.5f ? 0.5f / preview : 1.0f;
}

// Every value v of the width x height plane becomes 127.5 + (v - 127.5) x gain, clamped and
// rounded half up.
void steepenCoverage(std::uint8_t* plane, std::int32_t width, std::int32_t height, float gain);

}  // namespace lumet
