// PNG reading and writing with libpng and float OpenEXR writing (the Linux back end of image_io.h;
// cli/windows/ holds the Windows one).
#include "image_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <png.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

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

}  // namespace

bool readPng(const std::string& path, Image& image, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = systemError(path, "cannot open");
        return false;
    }
    unsigned char signature[8] = {};
    if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        error = path + ": not a PNG file";
        return false;
    }
    std::error_code sizeError;
    const std::uint64_t fileBytes = std::filesystem::file_size(path, sizeError);
    PngMessages messages;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = path + ": out of memory";
        return false;
    }
    std::vector<std::uint8_t> pixels;
    std::vector<png_bytep> rows;
    volatile bool sizeRefused = false;
    volatile bool outOfMemory = false;
    // libpng reports errors by longjmp; nothing with a destructor may be created below this
    // point and before the jump target returns.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (!sizeRefused) {
            error = outOfMemory ? path + ": not enough memory to read the image"
                                : pngFailure(path, "corrupt or unsupported PNG", messages);
        }
        return false;
    }
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_init_io(png, file.get());
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (!checkDeclaredPngSize(path, width, height, sizeError ? 0 : fileBytes, error)) {
        sizeRefused = true;
        png_longjmp(png, 1);
    }
    const int colorType = png_get_color_type(png, info);
    const int bits = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bits < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    const bool sixteen = bits == 16;
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, sixteen ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    }
    if (sixteen && std::endian::native == std::endian::little) png_set_swap(png);
    png_read_update_info(png, info);
    const png_size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != std::size_t(width) * (sixteen ? 8u : 4u)) {
        messages.error = "unsupported layout";
        png_longjmp(png, 1);
    }
    try {
        pixels.resize(rowBytes * height);
        rows.resize(height);
        image.rgba.resize(std::size_t(width) * height * 4);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    if (outOfMemory) png_longjmp(png, 1);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    image.premultiplied = false;
    image.sourceBits = sixteen ? 16 : 8;
    const std::size_t count = image.rgba.size();
    if (sixteen) {
        const std::uint16_t* source = reinterpret_cast<const std::uint16_t*>(pixels.data());
        for (std::size_t i = 0; i < count; ++i) image.rgba[i] = source[i] / 65535.0f;
    } else {
        for (std::size_t i = 0; i < count; ++i) image.rgba[i] = pixels[i] / 255.0f;
    }
    return true;
}

namespace {

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
    std::vector<std::uint8_t> pixels = pngSamples(image, bits);
    std::vector<png_bytep> rows(image.height);
    for (std::int32_t y = 0; y < image.height; ++y) rows[y] = pixels.data() + y * rowBytes;
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        return writePngFile(temporary, path, image, bits, level, rows.data(), error);
    });
}

bool writeExr(const std::string& path, const Image& image, std::string& error) {
    try {
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        Imf::FrameBuffer frameBuffer;
        char* base = reinterpret_cast<char*>(const_cast<float*>(image.rgba.data()));
        for (int c = 0; c < 4; ++c) {
            header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
            frameBuffer.insert(names[c],
                               Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 4 * sizeof(float),
                                          4 * sizeof(float) * image.width));
        }
        return writeThroughTemporary(path, error, [&](const std::string& temporary) {
            try {
                // The file is closed, and its last data written, when `file` goes.
                Imf::OutputFile file(temporary.c_str(), header);
                file.setFrameBuffer(frameBuffer);
                file.writePixels(image.height);
            } catch (const std::exception& e) {
                error = path + ": cannot write: " + e.what();
                return false;
            }
            return true;
        });
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
}

}  // namespace lumet::cli
