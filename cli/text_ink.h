// Glyph coverage laid out along a line of text, and its placement centred on a text layer: the
// part of text layers that does not depend on the font rasteriser (FreeType in text_layer.cpp,
// stb_truetype in windows/text_layer_windows.cpp).
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "text_layer.h"

namespace lumet::cli {

struct GlyphInk {
    std::int32_t left = 0, top = 0;  // top-left in pixels, y down, relative to the line's origin
    std::int32_t width = 0, height = 0;
    std::vector<std::uint8_t> coverage;  // width x height, 0..255
};

struct InkLine {
    std::vector<GlyphInk> glyphs;
    std::int32_t minX = std::numeric_limits<std::int32_t>::max();
    std::int32_t minY = std::numeric_limits<std::int32_t>::max();
    std::int32_t maxX = std::numeric_limits<std::int32_t>::min();
    std::int32_t maxY = std::numeric_limits<std::int32_t>::min();
    bool empty() const { return minX > maxX; }
    // Adds a glyph and grows the line's ink box by it.
    void add(GlyphInk ink);
};

// The pixels per em at which a line measured at `reference` pixels per em spans 60 % of the
// canvas width (or 60 % of its height for tall text); at least 1. `measured` must not be empty.
float fittedFontSize(const InkLine& measured, float reference, std::int32_t width,
                     std::int32_t height);

// Whether text measured at `reference` pixels per em would, at `size`, be larger than any canvas
// can show (32768 pixels a side: its glyph bitmaps alone would take gigabytes); then `error`
// names the size it would have.
bool textTooLarge(const InkLine& measured, float reference, float size,
                  const TextLayerOptions& options, std::string& error);

// The line's ink centred on a transparent canvas of the options' size, in the options' colour,
// premultiplied; overlapping glyphs combine as a union of coverage.
void placeInkLine(const InkLine& line, const TextLayerOptions& options, Image& image);

}  // namespace lumet::cli
