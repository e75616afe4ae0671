// Image files of the lumet command: PNG in (8 or 16 bit, grey, grey + alpha, RGB, RGBA), PNG out
// (8 or 16 bit RGBA) and OpenEXR out (32-bit float RGBA), plus the PGM and PFM files of the stage
// dump. Pixels in memory are floats, R, G, B, A interleaved, rows top to bottom.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace lumet::cli {

struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<float> rgba;  // 4 floats per pixel
    bool premultiplied = false;
    int sourceBits = 8;  // bit depth the image was read at
};

// Reads a PNG into straight (not premultiplied) RGBA 0..1; an image without alpha is opaque.
// Returns false and sets error (naming the file) when the file cannot be read.
bool readPng(const std::string& path, Image& image, std::string& error);

// Writes straight RGBA; colour values are clamped to 0..1 and rounded to the bit depth (8 or 16).
bool writePng(const std::string& path, const Image& image, int bits, std::string& error);

// Writes RGBA as 32-bit float channels (premultiplied, as OpenEXR expects).
bool writeExr(const std::string& path, const Image& image, std::string& error);

// Binary PGM (P5) of one byte per pixel.
bool writePgm(const std::string& path, const std::uint8_t* pixels, std::int32_t width,
              std::int32_t height, std::string& error);

// PFM of 1 ("Pf") or 3 ("PF") interleaved float channels per pixel; rows are stored bottom to
// top with a negative scale (little-endian), as the format defines. `pixels` is top to bottom.
bool writePfm(const std::string& path, const float* pixels, std::int32_t width, std::int32_t height,
              int channels, std::string& error);

// Converts between straight and premultiplied colour in place.
void premultiply(Image& image);
void unpremultiply(Image& image);

}  // namespace lumet::cli
