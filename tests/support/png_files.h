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

#include "imgdiff/png_levels.h"

namespace lumet::testing {

using PngPicture = pngfile::Levels;  // straight colour and alpha, 0..1, rows top first

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
    return pngfile::readPngLevels(path, picture);
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
