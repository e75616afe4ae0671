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
    // Instead of rgba, an image taken straight to the 8-bit samples of a PNG (straight RGBA, four
    // bytes a pixel): what pngSamples would make of its floats, unpremultiplied.
    std::vector<std::uint8_t> samples8;
};

// The largest image a PNG may declare: each side at most kMaxImageSide and at most
// kMaxImagePixels pixels in all (16384 x 16384; its float RGBA copy alone takes 4 GiB).
inline constexpr std::uint32_t kMaxImageSide = 1u << 16;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 28;

// Reads a PNG into straight (not premultiplied) RGBA 0..1; an image without alpha is opaque.
// Returns false and sets error (naming the file) when the file cannot be read; a declared size
// beyond the limits above, or one that the file's bytes cannot hold, is refused before any pixel
// memory is taken.
bool readPng(const std::string& path, Image& image, std::string& error);

// Checks a PNG's declared size against the limits and against what `fileBytes` of deflate data
// can decompress to (0: not known); false with an error naming the file when it fails.
bool checkDeclaredPngSize(const std::string& path, std::uint64_t width, std::uint64_t height,
                          std::uint64_t fileBytes, std::string& error);

// The RGBA samples of a PNG's rows, back to back: each value clamped to 0..1 (NaN to 0) and
// rounded to 8 bits, or to 16 bits stored big-endian. An image's samples8 when it has them.
std::vector<std::uint8_t> pngSamples(const Image& image, int bits);

// A run of 8-bit premultiplied pixels (alpha, red, green, blue bytes, the host's 8-bit layout)
// as the straight 8-bit RGBA samples that pngSamples gives for their unpremultiplied floats
// (each byte / 255), by a table of every colour and alpha pair.
void straightSamples8(const std::uint8_t* argb, std::size_t pixels, std::uint8_t* rgba);

// Writes straight RGBA; colour values are clamped to 0..1 and rounded to the bit depth (8 or 16).
// `level` is zlib's compression level, 0 to 9 (-1: zlib's default). Levels 0 to 3, chosen for
// speed, filter every row the same way (none at level 0, "up" above it, which costs little and
// compresses text on transparency as well as trying every filter); higher levels let the library
// pick the filter of each row.
bool writePng(const std::string& path, const Image& image, int bits, std::string& error,
              int level = -1);

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
