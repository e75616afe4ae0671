// lumet montage: lays images out on a grid, each with an optional caption, into one image (the
// demo's contact sheet of the presets).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "option_checks.h"
#include "image_io.h"
#include "number_text.h"
#include "render_options.h"
#include "text_layer.h"

namespace lumet::cli {
namespace {

struct MontageOptions {
    std::string output;
    int columns = 3;
    float background[3] = {0.04f, 0.04f, 0.06f};
    std::vector<std::string> images;
} montageOptions;

void declareMontage(CLI::App& command) {
    command.description(
        "Places the images on a grid of N columns, in order, each tile the size of the largest\n"
        "image, with its caption (if given) drawn below it. The images may be of any format\n"
        "lumet render reads; the output's extension chooses its format, as for lumet render.");
    MontageOptions& o = montageOptions;
    command.add_option("-o,--output", o.output, "the contact sheet")
        ->type_name("FILE")
        ->required();
    command.add_option("--columns", o.columns, "tiles per row")
        ->check(wholeNumber())
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    command
        .add_option_function<std::string>(
            "--background",
            [](const std::string& text) {
                if (!parseColor(text, montageOptions.background))
                    throw CLI::ValidationError("--background", "not a colour #RRGGBB: " + text);
            },
            "the sheet's colour (default #0A0A0F)")
        ->type_name("#RRGGBB");
    command.add_option("images", o.images, "the images, each with an optional caption")
        ->type_name("IMAGE[=CAPTION]")
        ->required();
}

int runMontage(CommandContext&) {
    const std::string& output = montageOptions.output;
    const int columns = montageOptions.columns;
    const float* background = montageOptions.background;
    std::vector<std::pair<std::string, std::string>> tiles;
    for (const std::string& arg : montageOptions.images) {
        const std::size_t equals = arg.find('=');
        tiles.emplace_back(arg.substr(0, equals),
                           equals == std::string::npos ? "" : arg.substr(equals + 1));
    }
    if (!outputFormat(output)) {
        throw UsageError("-o: \"" + output + "\": lumet writes " + kOutputExtensions);
    }

    std::vector<Image> images(tiles.size());
    std::int32_t tileW = 0, tileH = 0;
    bool captions = false;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        std::string error;
        if (!readImage(tiles[i].first, images[i], error)) throw std::runtime_error(error);
        tileW = std::max(tileW, images[i].width);
        tileH = std::max(tileH, images[i].height);
        captions = captions || !tiles[i].second.empty();
    }
    const std::int32_t captionH = captions ? std::max(24, tileH / 8) : 0;
    const std::int32_t rows = static_cast<std::int32_t>((tiles.size() + columns - 1) / columns);
    Image sheet;
    sheet.width = tileW * columns;
    sheet.height = (tileH + captionH) * rows;
    sheet.rgba.resize(static_cast<std::size_t>(sheet.width) * sheet.height * 4);
    for (std::size_t i = 0; i < sheet.rgba.size(); i += 4) {
        sheet.rgba[i] = background[0], sheet.rgba[i + 1] = background[1];
        sheet.rgba[i + 2] = background[2], sheet.rgba[i + 3] = 1.0f;
    }
    // Straight-alpha "over" onto the opaque sheet.
    auto blit = [&sheet](const Image& image, std::int32_t left, std::int32_t top) {
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                const float* p = &image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4];
                const float a = image.premultiplied ? 1.0f : p[3];
                float* q =
                    &sheet.rgba[(static_cast<std::size_t>(top + y) * sheet.width + left + x) * 4];
                for (int c = 0; c < 3; ++c) {
                    q[c] = image.premultiplied ? p[c] + q[c] * (1.0f - p[3])
                                               : p[c] * a + q[c] * (1.0f - a);
                }
            }
        }
    };
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const std::int32_t column = static_cast<std::int32_t>(i) % columns;
        const std::int32_t row = static_cast<std::int32_t>(i) / columns;
        const std::int32_t left = column * tileW, top = row * (tileH + captionH);
        blit(images[i], left + (tileW - images[i].width) / 2, top + (tileH - images[i].height) / 2);
        if (!tiles[i].second.empty()) {
            TextLayerOptions text;
            text.text = tiles[i].second;
            text.width = tileW;
            text.height = captionH;
            text.fontSize = captionH * 0.6f;
            text.color[0] = text.color[1] = text.color[2] = 0.85f;
            Image caption;
            std::string error;
            if (renderTextLayer(text, caption, error)) blit(caption, left, top + tileH);
        }
    }
    sheet.premultiplied = false;
    std::string error;
    if (!writeImage(output, sheet, WriteSettings{}, error)) throw std::runtime_error(error);
    return 0;
}

const bool registered = registerSubcommand(
    {"montage", "lay images out on a grid with captions", declareMontage, runMontage});

}  // namespace
}  // namespace lumet::cli
