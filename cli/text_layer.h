// Text layers of the lumet command: a line of text rasterised and centred on a transparent canvas,
// as a host's text layer would hand it to the effect. Linux shapes it with HarfBuzz and renders it
// with FreeType (text_layer.cpp); Windows lays it out with stb_truetype (windows/).
#pragma once
#include <cstdint>
#include <string>

#include "image_io.h"

namespace lumet::cli {

#ifdef _WIN32
// Empty: DejaVu Sans Bold beside the program, else Arial Bold, else the Linux DejaVu file where
// Wine shows it as drive Z:.
constexpr const char* kDefaultFontPath = "";
#else
constexpr const char* kDefaultFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
#endif

struct TextLayerOptions {
    std::string text;
    std::string fontPath = kDefaultFontPath;
    float fontSize = 0.0f;  // pixels per em; 0 fits the text to 60 % of the canvas width
    float color[3] = {1.0f, 1.0f, 1.0f};
    std::int32_t width = 1920;
    std::int32_t height = 1080;
};

// Renders the text into a premultiplied RGBA image of the requested size. Returns false and
// sets error when the font cannot be loaded or the text has no glyphs.
bool renderTextLayer(const TextLayerOptions& options, Image& image, std::string& error);

}  // namespace lumet::cli
