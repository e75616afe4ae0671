// Text layer: HarfBuzz shapes each line, FreeType renders each glyph's anti-aliased coverage at its
// sub-pixel pen position, and the ink is centred on the canvas.
#include "text_layer.h"

#include <ft2build.h>

#include "text_ink.h"
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumet::cli {

namespace {

// Shapes and rasterises the text at `size` pixels per em.
bool layoutLine(FT_Face face, const std::string& text, float size, InkLine& line) {
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(size * 64.0f)), 72, 72)) {
        return false;
    }
    hb_font_t* font = hb_ft_font_create_referenced(face);
    hb_buffer_t* buffer = hb_buffer_create();
    hb_buffer_add_utf8(buffer, text.c_str(), static_cast<int>(text.size()), 0, -1);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(font, buffer, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    std::int64_t penX = 0, penY = 0;  // 26.6
    bool ok = true;
    for (unsigned i = 0; i < count && ok; ++i) {
        const std::int64_t x = penX + positions[i].x_offset;
        const std::int64_t y = penY + positions[i].y_offset;
        penX += positions[i].x_advance;
        penY += positions[i].y_advance;
        if (FT_Load_Glyph(face, infos[i].codepoint, FT_LOAD_NO_HINTING)) continue;
        FT_GlyphSlot slot = face->glyph;
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE) continue;
        // Whole pixels go into the placement, the fraction into the outline.
        const std::int64_t wholeX = x >> 6, wholeY = y >> 6;
        FT_Outline_Translate(&slot->outline, static_cast<FT_Pos>(x & 63),
                             static_cast<FT_Pos>(y & 63));
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) continue;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.width == 0 || bitmap.rows == 0) continue;
        GlyphInk ink;
        ink.left = static_cast<std::int32_t>(wholeX) + slot->bitmap_left;
        ink.top = -static_cast<std::int32_t>(wholeY) - slot->bitmap_top;
        ink.width = static_cast<std::int32_t>(bitmap.width);
        ink.height = static_cast<std::int32_t>(bitmap.rows);
        ink.coverage.resize(static_cast<std::size_t>(ink.width) * ink.height);
        for (std::int32_t row = 0; row < ink.height; ++row) {
            const unsigned char* source =
                bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
            std::copy(source, source + ink.width, ink.coverage.begin() + row * ink.width);
        }
        line.add(std::move(ink));
    }
    hb_buffer_destroy(buffer);
    hb_font_destroy(font);
    return ok;
}

// Lays out every line of the text (split at new lines), each centred on the block's axis and
// placed one line height below the one before; blank lines keep their space.
bool layoutText(FT_Face face, const std::string& text, float size, InkLine& block) {
    if (text.find('\n') == std::string::npos) return layoutLine(face, text, size, block);
    std::int32_t top = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        InkLine line;
        if (!layoutLine(face, text.substr(start, end - start), size, line)) return false;
        const std::int32_t shift = -(line.minX + line.maxX) / 2;
        for (GlyphInk& ink : line.glyphs) {
            ink.left += shift;
            ink.top += top;
            block.add(std::move(ink));
        }
        top += static_cast<std::int32_t>((face->size->metrics.height + 32) >> 6);
        start = end + 1;
    }
    return true;
}

}  // namespace

bool renderTextLayer(const TextLayerOptions& options, Image& image, std::string& error) {
    if (options.width < 1 || options.height < 1) {
        error = "--size: width and height must be at least 1";
        return false;
    }
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library)) {
        error = "FreeType could not be initialised";
        return false;
    }
    FT_Face face = nullptr;
    if (FT_New_Face(library, options.fontPath.c_str(), 0, &face)) {
        FT_Done_FreeType(library);
        error = options.fontPath + ": cannot load font";
        return false;
    }
    float size = options.fontSize;
    // Measured at a reference size: the size that fits the canvas, or whether the size asked for
    // is beyond any canvas.
    constexpr float kReference = 200.0f;
    InkLine line;
    bool ok = layoutText(face, options.text, kReference, line) && !line.empty();
    const bool tooLarge = ok && size > 0.0f && textTooLarge(line, kReference, size, options, error);
    if (ok && size <= 0.0f) size = fittedFontSize(line, kReference, options.width, options.height);
    line = InkLine{};
    if (ok && !tooLarge) ok = layoutText(face, options.text, size, line) && !line.empty();
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (tooLarge) return false;
    if (!ok) {
        error = "--text: nothing to draw (no visible glyphs in \"" + options.text + "\")";
        return false;
    }

    placeInkLine(line, options, image);
    return true;
}

}  // namespace lumet::cli
