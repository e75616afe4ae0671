// A PNG file read at its own depth (8 or 16 bits, any colour type) without gamma or colour
// conversion, as straight RGBA levels 0..1, rows top first: what imgdiff and the tests that read
// other programs' files compare.
#pragma once
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lumet::pngfile {

struct Levels {
    int width = 0, height = 0;
    std::vector<float> rgba;
};

// False when the file cannot be opened or is not a readable PNG.
inline bool readPngLevels(const std::string& path, Levels& picture) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);  // palette, grey below 8 bits and tRNS to full channels
    png_set_gray_to_rgb(png);
    const int bits = png_get_bit_depth(png, info);
    if (!(png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) &&
        !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_add_alpha(png, bits == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (bits == 16) png_set_swap(png);  // host order
    png_read_update_info(png, info);
    picture.width = static_cast<int>(png_get_image_width(png, info));
    picture.height = static_cast<int>(png_get_image_height(png, info));
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<std::uint8_t> data(rowBytes * picture.height);
    std::vector<png_bytep> rows(picture.height);
    for (int y = 0; y < picture.height; ++y) rows[y] = data.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    const std::size_t count = static_cast<std::size_t>(picture.width) * picture.height * 4;
    picture.rgba.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        picture.rgba[i] = bits == 16
                              ? reinterpret_cast<const std::uint16_t*>(data.data())[i] / 65535.0f
                              : data[i] / 255.0f;
    }
    return true;
}

}  // namespace lumet::pngfile
