// Image files of the lumet command. On Linux every format OpenImageIO reads comes in (the layer,
// the custom map, the montage tiles) and PNG, TIFF, OpenEXR, JPEG and DPX go out, with the colour
// converted at the edges: the effect works on sRGB-encoded colour, files such as OpenEXR hold
// scene-linear colour. The Windows build reads and writes PNG and writes float OpenEXR only,
// without colour conversion (cli/windows/). Also the PGM and PFM files of the stage dump. Pixels
// in memory are floats, R, G, B, A interleaved, rows top to bottom.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumet::cli {

// Rows of 8-bit samples, four bytes a pixel, `stride` bytes apart, in memory that `owner` keeps:
// a buffer of their own, or the buffer they were converted in (a host's output world).
struct Samples8 {
    std::shared_ptr<void> owner;
    std::uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0;

    bool empty() const { return data == nullptr; }
    void clear() { *this = Samples8{}; }
    std::uint8_t* row(std::int32_t y) const { return data + y * stride; }
    // Rows of `width` pixels in a buffer of their own (not cleared: every byte is to be written).
    static Samples8 owned(std::int32_t width, std::int32_t height);
};

struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<float> rgba;  // 4 floats per pixel
    bool premultiplied = false;
    int sourceBits = 8;  // bit depth the image was read at
    // Instead of rgba, an image taken straight to the 8-bit samples of a PNG (straight RGBA, four
    // bytes a pixel): what pngSamples would make of its floats, unpremultiplied.
    Samples8 samples8;
    // The image's frame (an OpenEXR file's display window) relative to the pixels' top-left
    // corner; a frame of 0 x 0 is the pixels' own. Pixels beyond the frame are overscan.
    std::int32_t frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
};

// The largest image a file may declare: each side at most kMaxImageSide and at most
// kMaxImagePixels pixels in all (16384 x 16384; its float RGBA copy alone takes 4 GiB).
inline constexpr std::uint32_t kMaxImageSide = 1u << 16;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 28;

// Reads an image file of any format the build reads into straight (not premultiplied) RGBA,
// sRGB-encoded as the effect's colour is: grey is spread to R, G and B, an image without alpha is
// opaque, of an OpenEXR file's channels R, G, B and A (or Y) are taken by name, and its display
// window is the image (pixels beyond it dropped, the rest of it transparent). Colour is converted
// from `colourSpace`, or when that is empty from what the file says it holds or else what its
// format holds (scene-linear for float data such as OpenEXR, HDR and float TIFF, sRGB for the
// rest); values beyond 0..1 are kept. Returns false and sets error (naming the file) when the
// file cannot be read; a declared size beyond the limits above is refused before any pixel
// memory is taken.
bool readImage(const std::string& path, Image& image, std::string& error,
               const std::string& colourSpace = "");

// Checks a file's declared size against the limits and, for a PNG, against what `fileBytes` of
// deflate data can decompress to (0: not known); false with an error naming the file when it
// fails.
bool checkDeclaredSize(const std::string& path, const char* format, std::uint64_t width,
                       std::uint64_t height, std::uint64_t fileBytes, std::string& error);

// The file formats written, by the output path's extension.
enum class FileFormat { Png, Tiff, Exr, Jpeg, Dpx };

// The format an output path's extension names (case-insensitively); none when this build does
// not write it. kOutputExtensions lists the extensions it writes, for messages.
std::optional<FileFormat> outputFormat(const std::string& path);
extern const char* const kOutputExtensions;

// How writeImage writes a file.
struct WriteSettings {
    int bits = 8;       // PNG, TIFF and DPX: 8 or 16 bits; TIFF 32: float (JPEG is 8-bit)
    int pngLevel = -1;  // zlib level of a PNG (see writePng)
    bool exrFloat = false;                // OpenEXR channels: 32-bit float instead of half
    std::string exrCompression = "zip";   // none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab
    // The colour space the file holds; empty: scene-linear for OpenEXR and float TIFF, which are
    // tagged with it, and sRGB for the rest.
    std::string colourSpace;
};

// The OpenEXR compressions that WriteSettings takes.
bool knownExrCompression(const std::string& name);

// Writes the image (premultiplied or straight, sRGB-encoded) in the format its path's extension
// names: PNG and TIFF straight, 8 or 16-bit (a TIFF of 32 bits holds floats, premultiplied);
// OpenEXR premultiplied, half or float; JPEG as the colour over black, alpha dropped; DPX
// straight RGBA. The image's colour may be converted in place. Replaces the file only once it is
// whole; false with an error naming the file when it cannot be written.
bool writeImage(const std::string& path, Image& image, const WriteSettings& settings,
                std::string& error);

// Whether the colour space names one the build knows (a name from $OCIO's configuration, or
// OpenImageIO's built-in "sRGB", "linear", "Rec709"; a role such as scene_linear); false with an
// error listing the names when it does not.
bool checkColourSpace(const std::string& name, std::string& error);

// v clamped to 0..1 (NaN to 0) and rounded to 0..scale: an 8 or 16-bit sample.
inline unsigned quantized(float v, float scale) {
    v = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
    return static_cast<unsigned>(v * scale + 0.5f);
}

// The RGBA samples of a PNG's rows, back to back: each value clamped to 0..1 (NaN to 0) and
// rounded to 8 bits, or to 16 bits stored big-endian. An image's samples8 when it has them.
std::vector<std::uint8_t> pngSamples(const Image& image, int bits);

// The byte order of 8-bit pixels: the effect host's alpha, red, green, blue, or OpenFX's red,
// green, blue, alpha.
enum class Order8 { Argb, Rgba };

// A run of 8-bit premultiplied pixels as the straight 8-bit RGBA samples that pngSamples gives
// for their unpremultiplied floats (each byte / 255), by a table of every colour and alpha pair.
// rgba may be pixels itself: each pixel is read whole before it is written.
void straightSamples8(const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba,
                      Order8 order = Order8::Argb);

// Writes straight RGBA; colour values are clamped to 0..1 and rounded to the bit depth (8 or 16).
// `level` is zlib's compression level, 0 to 9 (-1: zlib's default). Levels 0 to 3, chosen for
// speed, filter every row the same way (none at level 0, "up" above it, which costs little and
// compresses text on transparency as well as trying every filter); higher levels let the library
// pick the filter of each row.
bool writePng(const std::string& path, const Image& image, int bits, std::string& error,
              int level = -1);

// Reads a PNG that is read the same without OpenImageIO and its colour management: 8 or 16 bits
// of grey, grey and alpha, RGB or RGBA, not interlaced, in sRGB (its chunk, or no gamma) and
// asking for no more than the samples (no palette, transparent colour, significant bits, ICC
// profile or offset). False, with the image untouched, for any other file or a failure: the
// caller then reads the file through the library, which also names what is wrong with it.
// (Linux.)
bool readPlainPng(const std::string& path, Image& image);

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
