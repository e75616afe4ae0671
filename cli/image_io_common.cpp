// The image-file parts of image_io.h that need no image library: the PGM and PFM files of the
// stage dump and the premultiplication of colour.
#include <bit>
#include <cstdio>

#include "image_io.h"
#include "stdio_file.h"

namespace lumet::cli {

bool writePgm(const std::string& path, const std::uint8_t* pixels, std::int32_t width,
              std::int32_t height, std::string& error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = systemError(path, "cannot write");
        return false;
    }
    std::fprintf(file.get(), "P5\n%d %d\n255\n", width, height);
    const std::size_t count = static_cast<std::size_t>(width) * height;
    if (std::fwrite(pixels, 1, count, file.get()) != count || std::fflush(file.get()) != 0) {
        error = systemError(path, "write failed");
        return false;
    }
    return true;
}

bool writePfm(const std::string& path, const float* pixels, std::int32_t width, std::int32_t height,
              int channels, std::string& error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = systemError(path, "cannot write");
        return false;
    }
    const bool little = std::endian::native == std::endian::little;
    std::fprintf(file.get(), "%s\n%d %d\n%s\n", channels == 3 ? "PF" : "Pf", width, height,
                 little ? "-1.0" : "1.0");
    const std::size_t rowCount = static_cast<std::size_t>(width) * channels;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        if (std::fwrite(pixels + rowCount * y, sizeof(float), rowCount, file.get()) != rowCount) {
            error = systemError(path, "write failed");
            return false;
        }
    }
    if (std::fflush(file.get()) != 0) {
        error = systemError(path, "write failed");
        return false;
    }
    return true;
}

void premultiply(Image& image) {
    if (image.premultiplied) return;
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const float a = image.rgba[i + 3];
        image.rgba[i] *= a;
        image.rgba[i + 1] *= a;
        image.rgba[i + 2] *= a;
    }
    image.premultiplied = true;
}

void unpremultiply(Image& image) {
    if (!image.premultiplied) return;
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const float a = image.rgba[i + 3];
        if (a > 0.0f) {
            image.rgba[i] /= a;
            image.rgba[i + 1] /= a;
            image.rgba[i + 2] /= a;
        } else {
            image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = 0.0f;
        }
    }
    image.premultiplied = false;
}

}  // namespace lumet::cli
