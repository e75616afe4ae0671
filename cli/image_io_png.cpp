// The PNG writer of image_io.h on Linux: libpng, whose 8-bit frames come straight from the
// effect's output (Image::samples8) at the zlib level asked for.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
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

}  // namespace

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
    // (libpng takes non-const rows but only reads them when writing.)
    std::uint8_t* pixels =
        asTheyAre ? const_cast<std::uint8_t*>(image.samples8.data()) : converted.data();
    std::vector<png_bytep> rows(image.height);
    for (std::int32_t y = 0; y < image.height; ++y) rows[y] = pixels + y * rowBytes;
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        return writePngFile(temporary, path, image, bits, level, rows.data(), error);
    });
}

}  // namespace lumet::cli
