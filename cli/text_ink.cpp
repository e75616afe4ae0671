// Placement of a line's glyph coverage on a text layer (text_ink.h).
#include "text_ink.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumet::cli {

void InkLine::add(GlyphInk ink) {
    minX = std::min(minX, ink.left);
    minY = std::min(minY, ink.top);
    maxX = std::max(maxX, ink.left + ink.width);
    maxY = std::max(maxY, ink.top + ink.height);
    glyphs.push_back(std::move(ink));
}

float fittedFontSize(const InkLine& measured, float reference, std::int32_t width,
                     std::int32_t height) {
    const float fitX = 0.6f * width / static_cast<float>(measured.maxX - measured.minX);
    const float fitY = 0.6f * height / static_cast<float>(measured.maxY - measured.minY);
    return std::max(1.0f, reference * std::min(fitX, fitY));
}

bool textTooLarge(const InkLine& measured, float reference, float size,
                  const TextLayerOptions& options, std::string& error) {
    constexpr double kLargestInk = 32768.0;
    const double scale = static_cast<double>(size) / reference;
    const double width = (measured.maxX - measured.minX) * scale;
    const double height = (measured.maxY - measured.minY) * scale;
    if (measured.empty() || std::max(width, height) <= kLargestInk) return false;
    error = "--font-size: at " + std::to_string(std::lround(size)) +
            " pixels per em the text would be " + std::to_string(std::lround(width)) + " x " +
            std::to_string(std::lround(height)) + " pixels, far beyond the " +
            std::to_string(options.width) + " x " + std::to_string(options.height) + " canvas";
    return true;
}

void placeInkLine(const InkLine& line, const TextLayerOptions& options, Image& image) {
    image.width = options.width;
    image.height = options.height;
    image.premultiplied = true;
    image.sourceBits = 8;
    image.rgba.assign(static_cast<std::size_t>(image.width) * image.height * 4, 0.0f);
    const std::int32_t offsetX = (image.width - (line.maxX - line.minX)) / 2 - line.minX;
    const std::int32_t offsetY = (image.height - (line.maxY - line.minY)) / 2 - line.minY;
    for (const GlyphInk& ink : line.glyphs) {
        for (std::int32_t row = 0; row < ink.height; ++row) {
            const std::int32_t y = ink.top + row + offsetY;
            if (y < 0 || y >= image.height) continue;
            for (std::int32_t column = 0; column < ink.width; ++column) {
                const std::int32_t x = ink.left + column + offsetX;
                if (x < 0 || x >= image.width) continue;
                const float c = ink.coverage[row * ink.width + column] / 255.0f;
                if (c <= 0.0f) continue;
                float* pixel = &image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4];
                const float a = pixel[3] + c * (1.0f - pixel[3]);
                pixel[3] = a;
                pixel[0] = options.color[0] * a;
                pixel[1] = options.color[1] * a;
                pixel[2] = options.color[2] * a;
            }
        }
    }
}

}  // namespace lumet::cli
