// The Windows back end of text_layer.h, for a target without FreeType or HarfBuzz: stb_truetype
// lays the line out left to right (advances and the font's pair kerning, no other shaping) and
// renders each glyph's anti-aliased coverage at its sub-pixel pen position; the ink is centred on
// the canvas as the Linux text layer centres it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "plugin_session.h"
#include "text_ink.h"
#include "text_layer.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

namespace lumet::cli {

namespace {

// Code points of UTF-8 text; a malformed sequence becomes U+FFFD.
std::vector<int> decodeUtf8(const std::string& text) {
    std::vector<int> points;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int length = lead < 0x80         ? 1
                     : (lead >> 5) == 6  ? 2
                     : (lead >> 4) == 14 ? 3
                     : (lead >> 3) == 30 ? 4
                                         : 0;
        int point = length == 1   ? lead
                    : length == 2 ? lead & 0x1F
                    : length == 3 ? lead & 0x0F
                                  : lead & 0x07;
        bool ok = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; ok && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        points.push_back(ok ? point : 0xFFFD);
        i += ok ? static_cast<std::size_t>(length) : 1;
    }
    return points;
}

// Lays out and rasterises the line at `size` pixels per em.
void layoutLine(const stbtt_fontinfo& font, const std::vector<int>& points, float size,
                InkLine& line) {
    const float scale = stbtt_ScaleForMappingEmToPixels(&font, size);
    double penX = 0.0;
    int previous = 0;
    for (int point : points) {
        const int glyph = stbtt_FindGlyphIndex(&font, point);
        if (previous) penX += scale * stbtt_GetGlyphKernAdvance(&font, previous, glyph);
        previous = glyph;
        int advance = 0, bearing = 0;
        stbtt_GetGlyphHMetrics(&font, glyph, &advance, &bearing);
        // Whole pixels go into the placement, the fraction into the rasterisation.
        const double whole = std::floor(penX);
        const float fraction = static_cast<float>(penX - whole);
        penX += scale * advance;
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetGlyphBitmapBoxSubpixel(&font, glyph, scale, scale, fraction, 0.0f, &x0, &y0, &x1,
                                        &y1);
        if (x1 <= x0 || y1 <= y0) continue;
        GlyphInk ink;
        ink.left = static_cast<std::int32_t>(whole) + x0;
        ink.top = y0;  // stb_truetype's boxes are already y down from the baseline
        ink.width = x1 - x0;
        ink.height = y1 - y0;
        ink.coverage.resize(static_cast<std::size_t>(ink.width) * ink.height);
        stbtt_MakeGlyphBitmapSubpixel(&font, ink.coverage.data(), ink.width, ink.height, ink.width,
                                      scale, scale, fraction, 0.0f, glyph);
        if (std::none_of(ink.coverage.begin(), ink.coverage.end(),
                         [](std::uint8_t c) { return c != 0; })) {
            continue;
        }
        line.add(std::move(ink));
    }
}

std::filesystem::path windowsFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return std::filesystem::path(L"C:\\Windows");
    return std::filesystem::path(std::wstring(buffer, length));
}

// The font used without --font: DejaVu Sans Bold installed beside the program (the Linux
// command's font, so both draw the same letters), else Windows' Arial Bold, else DejaVu Sans Bold
// where Wine shows the Linux file system as drive Z:.
std::vector<std::filesystem::path> defaultFontCandidates() {
    return {executableFolder() / L"DejaVuSans-Bold.ttf",
            windowsFolder() / L"Fonts" / L"arialbd.ttf",
            std::filesystem::path(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans-Bold.ttf")};
}

bool readFile(const std::filesystem::path& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad() && !bytes.empty();
}

bool loadFont(const std::string& requested, std::vector<unsigned char>& bytes, std::string& used,
              std::string& error) {
    if (!requested.empty()) {
        used = requested;
        if (!readFile(std::filesystem::path(requested), bytes)) {
            error = requested + ": cannot load font";
            return false;
        }
        return true;
    }
    std::string tried;
    for (const std::filesystem::path& candidate : defaultFontCandidates()) {
        if (readFile(candidate, bytes)) {
            used = candidate.string();
            return true;
        }
        tried += (tried.empty() ? "" : ", ") + candidate.string();
    }
    error = "no font for the text (looked for " + tried + "); give --font FILE.ttf";
    return false;
}

}  // namespace

bool renderTextLayer(const TextLayerOptions& options, Image& image, std::string& error) {
    if (options.width < 1 || options.height < 1) {
        error = "--size: width and height must be at least 1";
        return false;
    }
    std::vector<unsigned char> fontBytes;
    std::string fontName;
    if (!loadFont(options.fontPath, fontBytes, fontName, error)) return false;
    stbtt_fontinfo font;
    const int offset = stbtt_GetFontOffsetForIndex(fontBytes.data(), 0);
    if (offset < 0 || !stbtt_InitFont(&font, fontBytes.data(), offset)) {
        error = fontName + ": cannot load font";
        return false;
    }
    const std::vector<int> points = decodeUtf8(options.text);
    float size = options.fontSize;
    // Measured at a reference size: the size that fits the canvas, or whether the size asked for
    // is beyond any canvas.
    const float reference = 200.0f;
    InkLine line;
    layoutLine(font, points, reference, line);
    bool ok = !line.empty();
    if (ok && size > 0.0f && textTooLarge(line, reference, size, options, error)) return false;
    if (ok && size <= 0.0f) size = fittedFontSize(line, reference, options.width, options.height);
    line = InkLine{};
    if (ok) {
        layoutLine(font, points, size, line);
        ok = !line.empty();
    }
    if (!ok) {
        error = "--text: nothing to draw (no visible glyphs in \"" + options.text + "\")";
        return false;
    }

    placeInkLine(line, options, image);
    return true;
}

}  // namespace lumet::cli
