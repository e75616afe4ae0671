// lumet montage: lays images out on a grid, each with an optional caption, into one image (the
// demo's contact sheet of the presets).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "number_text.h"
#include "render_options.h"
#include "text_layer.h"

namespace lumet::cli {
namespace {

const char* const kMontageUsage =
    "Usage: lumet montage -o OUTPUT [--columns N] [--background #RRGGBB]\n"
    "                     IMAGE[=CAPTION]...\n"
    "\n"
    "Places the images on a grid of N columns (default 3), in order, each tile the size of the\n"
    "largest image, with its caption (if given) drawn below it. The images may be of any format\n"
    "lumet render reads; OUTPUT's extension chooses its format, as for lumet render.\n";

int runMontage(CommandContext& context) {
    std::string output;
    int columns = 3;
    float background[3] = {0.04f, 0.04f, 0.06f};
    std::vector<std::pair<std::string, std::string>> tiles;
    const auto& args = context.args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError(arg + ": missing value");
            return args[++i];
        };
        if (arg == "-o" || arg == "--output") {
            output = value();
        } else if (arg == "--columns") {
            std::int64_t number = 0;
            if (!parseInteger(value(), number) || number < 1 || number > 100) {
                throw UsageError("--columns: must be 1..100");
            }
            columns = static_cast<int>(number);
        } else if (arg == "--background") {
            if (!parseColor(value(), background)) {
                throw UsageError("--background: not a colour #RRGGBB");
            }
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError(arg + ": unknown option (see lumet montage --help)");
        } else {
            const std::size_t equals = arg.find('=');
            tiles.emplace_back(arg.substr(0, equals),
                               equals == std::string::npos ? "" : arg.substr(equals + 1));
        }
    }
    if (output.empty()) throw UsageError("no output: give -o FILE.png");
    if (!outputFormat(output)) {
        throw UsageError("-o: \"" + output + "\": lumet writes " + kOutputExtensions);
    }
    if (tiles.empty()) throw UsageError("no images given");

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
    {"montage", "lay images out on a captioned grid", kMontageUsage, runMontage});

}  // namespace
}  // namespace lumet::cli
