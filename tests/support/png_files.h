// PNG files for the tests that run the effect inside other programs (ffmpeg, melt, gegl): a
// small test layer written, and what the programs wrote read back at its own depth (8 or 16
// bits, any colour type) through libpng, without colour conversion, as straight RGBA levels.
#pragma once
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lumet::testing {

struct PngPicture {
    int width = 0, height = 0;
    std::vector<float> rgba;  // straight colour and alpha, 0..1, rows top first
};

// A width x height layer, straight RGBA bytes: an anti-aliased ellipse inset by `inset` pixels,
// orange on its left half and blue on its right (a colour edge inside the shape for the smart
// edge).
inline std::vector<std::uint8_t> testLayerPixels(int width, int height, int inset) {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 0);
    const double cx = width / 2.0, cy = height / 2.0;
    const double rx = width / 2.0 - inset, ry = height / 2.0 - inset;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Coverage from 4 x 4 samples per pixel.
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    const double dx = (x + (sx + 0.5) / 4 - cx) / rx;
                    const double dy = (y + (sy + 0.5) / 4 - cy) / ry;
                    inside += dx * dx + dy * dy <= 1.0;
                }
            }
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool left = x < width / 2;
            p[0] = left ? 230 : 40;
            p[1] = left ? 140 : 90;
            p[2] = left ? 30 : 220;
            p[3] = static_cast<std::uint8_t>((inside * 255 + 8) / 16);
        }
    }
    return rgba;
}

inline bool writeTestLayer(const std::string& path, int width, int height, int inset) {
    const std::vector<std::uint8_t> rgba = testLayerPixels(width, height, inset);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

inline bool readPngFile(const std::string& path, PngPicture& picture) {
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

// How far two pictures of one size are apart, in 8-bit levels (each value rounded to its
// nearest level first): alpha everywhere, straight colour where both are opaque, and
// premultiplied colour everywhere (unrounded), the colour that partly covered pixels show; and
// how many pixels both cover at least half.
struct PictureDifference {
    int alpha = 0;
    int opaqueColour = 0;
    double premultipliedColour = 0;
    int coveredPixels = 0;
};

inline PictureDifference pictureDifference(const PngPicture& a, const PngPicture& b) {
    PictureDifference difference;
    auto level = [](float v) {
        return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
    };
    for (std::size_t i = 0; i + 3 < a.rgba.size() && i + 3 < b.rgba.size(); i += 4) {
        const int alphaA = level(a.rgba[i + 3]), alphaB = level(b.rgba[i + 3]);
        difference.alpha = std::max(difference.alpha, std::abs(alphaA - alphaB));
        const bool opaque = alphaA == 255 && alphaB == 255;
        difference.coveredPixels += alphaA >= 128 && alphaB >= 128;
        for (int c = 0; c < 3; ++c) {
            if (opaque) {
                difference.opaqueColour = std::max(
                    difference.opaqueColour, std::abs(level(a.rgba[i + c]) - level(b.rgba[i + c])));
            }
            const double premultiplied = 255.0 * std::abs(double(a.rgba[i + c]) * a.rgba[i + 3] -
                                                          double(b.rgba[i + c]) * b.rgba[i + 3]);
            difference.premultipliedColour =
                std::max(difference.premultipliedColour, premultiplied);
        }
    }
    return difference;
}

}  // namespace lumet::testing
