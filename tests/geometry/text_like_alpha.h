// Procedural text-like coverage for tests, previews and benchmarks: lines of glyph-like shapes
// built from thick strokes with anti-aliased edges, so no font or image file is needed.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lumet::testing {

struct Stroke {
    float x0, y0, x1, y1;  // in glyph units: x 0..0.7, y 0..1, y downwards
};

// Strokes of a few capital-like glyphs; unknown characters are blank.
inline std::vector<Stroke> glyphStrokes(char c) {
    switch (c) {
        case 'L':
            return {{0.1f, 0.1f, 0.1f, 0.9f}, {0.1f, 0.9f, 0.6f, 0.9f}};
        case 'U':
            return {{0.1f, 0.1f, 0.1f, 0.75f},
                    {0.1f, 0.75f, 0.35f, 0.9f},
                    {0.35f, 0.9f, 0.6f, 0.75f},
                    {0.6f, 0.75f, 0.6f, 0.1f}};
        case 'M':
            return {{0.08f, 0.9f, 0.08f, 0.1f},
                    {0.08f, 0.1f, 0.35f, 0.6f},
                    {0.35f, 0.6f, 0.62f, 0.1f},
                    {0.62f, 0.1f, 0.62f, 0.9f}};
        case 'E':
            return {{0.1f, 0.1f, 0.1f, 0.9f},
                    {0.1f, 0.1f, 0.6f, 0.1f},
                    {0.1f, 0.5f, 0.5f, 0.5f},
                    {0.1f, 0.9f, 0.6f, 0.9f}};
        case 'T':
            return {{0.05f, 0.1f, 0.65f, 0.1f}, {0.35f, 0.1f, 0.35f, 0.9f}};
        case 'A':
            return {
                {0.05f, 0.9f, 0.35f, 0.1f}, {0.35f, 0.1f, 0.65f, 0.9f}, {0.18f, 0.6f, 0.52f, 0.6f}};
        case 'X':
            return {{0.08f, 0.1f, 0.62f, 0.9f}, {0.62f, 0.1f, 0.08f, 0.9f}};
        case 'H':
            return {{0.1f, 0.1f, 0.1f, 0.9f}, {0.6f, 0.1f, 0.6f, 0.9f}, {0.1f, 0.5f, 0.6f, 0.5f}};
        case 'Z':
            return {
                {0.08f, 0.1f, 0.62f, 0.1f}, {0.62f, 0.1f, 0.08f, 0.9f}, {0.08f, 0.9f, 0.62f, 0.9f}};
        case 'V':
            return {{0.05f, 0.1f, 0.35f, 0.9f}, {0.35f, 0.9f, 0.65f, 0.1f}};
        case 'O': {
            std::vector<Stroke> ring;
            const int n = 20;
            for (int i = 0; i < n; ++i) {
                const float a0 = 6.2831853f * i / n, a1 = 6.2831853f * (i + 1) / n;
                ring.push_back({0.35f + 0.27f * std::cos(a0), 0.5f + 0.4f * std::sin(a0),
                                0.35f + 0.27f * std::cos(a1), 0.5f + 0.4f * std::sin(a1)});
            }
            return ring;
        }
        default:
            return {};
    }
}

// Draws a stroke of the given half width (pixels) with a one-pixel anti-aliased rim, keeping the
// larger coverage where shapes overlap.
inline void drawStroke(std::vector<std::uint8_t>& alpha, int width, int height, float x0, float y0,
                       float x1, float y1, float halfWidth) {
    const int xb = std::max(0, static_cast<int>(std::floor(std::min(x0, x1) - halfWidth - 1)));
    const int xe =
        std::min(width - 1, static_cast<int>(std::ceil(std::max(x0, x1) + halfWidth + 1)));
    const int yb = std::max(0, static_cast<int>(std::floor(std::min(y0, y1) - halfWidth - 1)));
    const int ye =
        std::min(height - 1, static_cast<int>(std::ceil(std::max(y0, y1) + halfWidth + 1)));
    const float dx = x1 - x0, dy = y1 - y0;
    const float length2 = std::max(dx * dx + dy * dy, 1e-6f);
    for (int y = yb; y <= ye; ++y) {
        for (int x = xb; x <= xe; ++x) {
            const float px = x + 0.5f - x0, py = y + 0.5f - y0;
            const float t = std::min(std::max((px * dx + py * dy) / length2, 0.0f), 1.0f);
            const float ex = px - t * dx, ey = py - t * dy;
            const float coverage =
                std::min(std::max(halfWidth - std::sqrt(ex * ex + ey * ey) + 0.5f, 0.0f), 1.0f);
            std::uint8_t& a = alpha[static_cast<std::size_t>(y) * width + x];
            a = std::max(a, static_cast<std::uint8_t>(coverage * 255.0f + 0.5f));
        }
    }
}

// Coverage of the text lines written across a width x height plane, glyphs glyphHeight pixels tall.
inline std::vector<std::uint8_t> textLikeAlpha(int width, int height, int glyphHeight,
                                               const char* text = "LUMET METAL HAZE VOX") {
    std::vector<std::uint8_t> alpha(static_cast<std::size_t>(width) * height, 0);
    const float glyphWidth = 0.8f * glyphHeight;
    const float halfWidth = 0.07f * glyphHeight;
    const int perLine = std::max(1, static_cast<int>((width - glyphHeight * 0.3f) / glyphWidth));
    const int lines = std::max(1, static_cast<int>(height / (1.2f * glyphHeight)));
    const std::size_t textLength = std::strlen(text);
    std::size_t next = 0;
    for (int line = 0; line < lines; ++line) {
        const float top = (height - lines * 1.2f * glyphHeight) * 0.5f + line * 1.2f * glyphHeight +
                          0.1f * glyphHeight;
        for (int i = 0; i < perLine; ++i) {
            const float left = glyphHeight * 0.15f + i * glyphWidth;
            for (const Stroke& s : glyphStrokes(text[next % textLength]))
                drawStroke(alpha, width, height, left + s.x0 * glyphHeight,
                           top + s.y0 * glyphHeight, left + s.x1 * glyphHeight,
                           top + s.y1 * glyphHeight, halfWidth);
            ++next;
        }
    }
    return alpha;
}

}  // namespace lumet::testing
