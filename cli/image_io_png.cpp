// The PNG writer of image_io.h on Linux: libpng, whose 8-bit frames come straight from the
// effect's output (Image::samples8) at the zlib level asked for; and the reader of the PNG
// layers that need nothing of OpenImageIO.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "image_io.h"
#include "stdio_file.h"

namespace lumet::cli {

namespace {

// libpng's messages, gathered for the one error message instead of going to standard error.
struct PngMessages {
    std::string error;
    std::string warnings;
};

void pngError(png_structp png, png_const_charp message) {
    static_cast<PngMessages*>(png_get_error_ptr(png))->error = message;
    png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp message) {
    std::string& warnings = static_cast<PngMessages*>(png_get_error_ptr(png))->warnings;
    if (!warnings.empty()) warnings += "; ";
    warnings += message;
}

// "PATH: WHAT (libpng's error; libpng's warnings)".
std::string pngFailure(const std::string& path, const char* what, const PngMessages& messages) {
    std::string detail = messages.error;
    if (!messages.warnings.empty()) {
        detail += (detail.empty() ? "" : "; ") + std::string("warnings: ") + messages.warnings;
    }
    return path + ": " + what + (detail.empty() ? "" : " (" + detail + ")");
}

// Writes the rows (already in PNG byte order) into a new file `temporary`; errors name `path`.
bool writePngFile(const std::string& temporary, const std::string& path, const Image& image,
                  int bits, int level, png_bytep* rows, std::string& error) {
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) {
        error = systemError(path, "cannot write");
        return false;
    }
    PngMessages messages;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = path + ": out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = std::ferror(file.get()) ? systemError(path, "write failed")
                                        : pngFailure(path, "PNG write failed", messages);
        return false;
    }
    png_init_io(png, file.get());
    png_set_compression_level(png, level);
    // The fast levels filter every row the same way (see writePng).
    if (level == 0)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    else if (level >= 1 && level <= 3)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, image.width, image.height, bits, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        error = systemError(path, "write failed");
        return false;
    }
    return closeWritten(file, path, error);
}

// The image's RGBA floats from a PNG's rows of `channels` samples of T (grey, grey and alpha,
// RGB or RGBA): each sample v / 255 or v / 65535, grey spread to red, green and blue, a missing
// alpha opaque.
template <typename T>
void placePngRow(const T* in, std::int32_t width, int channels, float* out) {
    constexpr float scale = sizeof(T) == 1 ? 255.0f : 65535.0f;
    const bool grey = channels < 3, alpha = channels == 2 || channels == 4;
    for (std::int32_t x = 0; x < width; ++x, in += channels, out += 4) {
        for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(in[grey ? 0 : c]) / scale;
        out[3] = alpha ? static_cast<float>(in[channels - 1]) / scale : 1.0f;
    }
}

}  // namespace

bool readPlainPng(const std::string& path, Image& image) {
    File file(std::fopen(path.c_str(), "rb"));
    png_byte signature[8];
    if (!file || std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        return false;
    PngMessages messages;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    // libpng's errors jump back here. What needs destroying lives from before the jump's target
    // (the image being read and its row), so that the jump passes no destructor.
    Image read;
    std::vector<std::uint8_t> row;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file.get());
    png_set_sig_bytes(png, sizeof signature);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bits = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bits, &colourType, &interlace, nullptr, nullptr);
    const int channels = colourType == PNG_COLOR_TYPE_GRAY         ? 1
                         : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : colourType == PNG_COLOR_TYPE_RGB        ? 3
                         : colourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                                   : 0;
    // Palettes, fewer than 8 bits, interlacing, a transparent colour, significant bits, an ICC
    // profile, an offset, or a gamma without the sRGB chunk (which, where present, says what the
    // colour is whatever the gamma and chromaticities beside it say) are the library's to read;
    // so is a size it refuses (it says why).
    png_int_32 offsetX = 0, offsetY = 0;
    int offsetUnit = 0;
    const bool offset = png_get_oFFs(png, info, &offsetX, &offsetY, &offsetUnit) != 0 &&
                        (offsetX != 0 || offsetY != 0);
    const bool otherColour = png_get_valid(png, info, PNG_INFO_iCCP) != 0 ||
                             (png_get_valid(png, info, PNG_INFO_gAMA) != 0 &&
                              png_get_valid(png, info, PNG_INFO_sRGB) == 0);
    bool plain = channels != 0 && (bits == 8 || bits == 16) && interlace == PNG_INTERLACE_NONE &&
                 png_get_valid(png, info, PNG_INFO_tRNS | PNG_INFO_sBIT) == 0 && !offset &&
                 !otherColour;
    if (plain) {
        std::error_code sizeError;
        const std::uint64_t fileBytes = std::filesystem::file_size(path, sizeError);
        std::string refused;
        plain = checkDeclaredSize(path, "png", width, height, sizeError ? 0 : fileBytes, refused);
    }
    if (plain) {
        if (bits == 16 && std::endian::native == std::endian::little) png_set_swap(png);
        png_read_update_info(png, info);
        try {
            read.rgba.resize(static_cast<std::size_t>(width) * height * 4);
            row.resize(static_cast<std::size_t>(width) * channels * (bits / 8));
        } catch (const std::bad_alloc&) {
            plain = false;
        }
        plain = plain && png_get_rowbytes(png, info) == row.size();
    }
    if (!plain) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    read.width = static_cast<std::int32_t>(width);
    read.height = static_cast<std::int32_t>(height);
    read.sourceBits = bits;
    for (std::int32_t y = 0; y < read.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        float* out = read.rgba.data() + static_cast<std::size_t>(y) * read.width * 4;
        if (bits == 8)
            placePngRow(row.data(), read.width, channels, out);
        else
            placePngRow(reinterpret_cast<const std::uint16_t*>(row.data()), read.width, channels,
                        out);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    image = std::move(read);
    return true;
}

bool writePng(const std::string& path, const Image& image, int bits, std::string& error,
              int level) {
    if (bits != 8 && bits != 16) {
        error = path + ": PNG bit depth must be 8 or 16";
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * (bits == 16 ? 8 : 4);
    // An 8-bit frame's samples are written where they are; other frames are converted first.
    std::vector<std::uint8_t> converted;
    const bool asTheyAre = bits == 8 && !image.samples8.empty();
    if (!asTheyAre) converted = pngSamples(image, bits);
    std::vector<png_bytep> rows(image.height);
    for (std::int32_t y = 0; y < image.height; ++y)
        rows[y] = asTheyAre ? image.samples8.row(y) : converted.data() + y * rowBytes;
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        return writePngFile(temporary, path, image, bits, level, rows.data(), error);
    });
}

}  // namespace lumet::cli
