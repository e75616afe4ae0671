// lumet envmaps: writes the nine built-in environment maps as PNG files, prepared by the effect's
// own code (the compute-cache class that the smart render path uses), so that a person can look
// at what every render reflects: the sharp planes, the smooth planes at a chosen Blur, and one
// contact sheet of all nine.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "option_checks.h"
#include "envmap/env_map.h"
#include "image_io.h"
#include "number_text.h"

namespace lumet::cli {
namespace {

const char* const kMapNames[9] = {"gallery", "studio", "showroom", "beauty", "rim-light",
                                  "strips",  "panels", "dramatic", "diamond"};

constexpr std::int32_t kCellW = 512, kCellH = 256, kGap = 8;  // contact-sheet layout
constexpr int kSheetColumns = 3;

Image rgbToImage(const float* rgb, std::int32_t w, std::int32_t h) {
    Image image;
    image.width = w;
    image.height = h;
    image.rgba.resize(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
        image.rgba[4 * i] = rgb[3 * i];
        image.rgba[4 * i + 1] = rgb[3 * i + 1];
        image.rgba[4 * i + 2] = rgb[3 * i + 2];
        image.rgba[4 * i + 3] = 1.0f;
    }
    return image;
}

// Box-averages `source` down into the cell at (left, top) of the sheet, starting `shift` columns
// into the source (wrapping), so shift = width / 2 puts the wrap seam in the middle of the cell.
void placeCell(const Image& source, std::int32_t shift, Image& sheet, std::int32_t left,
               std::int32_t top) {
    const std::int32_t fx = source.width / kCellW, fy = source.height / kCellH;
    for (std::int32_t y = 0; y < kCellH; ++y) {
        for (std::int32_t x = 0; x < kCellW; ++x) {
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (std::int32_t dy = 0; dy < fy; ++dy) {
                for (std::int32_t dx = 0; dx < fx; ++dx) {
                    const std::int32_t sx = (x * fx + dx + shift) % source.width;
                    const std::size_t i =
                        (static_cast<std::size_t>(y * fy + dy) * source.width + sx) * 4;
                    // Clamp before averaging so boosted highlights read as white, as on screen.
                    for (int c = 0; c < 3; ++c)
                        sum[c] += std::min(1.0f, std::max(0.0f, source.rgba[i + c]));
                }
            }
            const std::size_t o = (static_cast<std::size_t>(top + y) * sheet.width + left + x) * 4;
            for (int c = 0; c < 3; ++c) sheet.rgba[o + c] = sum[c] / static_cast<float>(fx * fy);
        }
    }
}

void write(const std::string& path, const Image& image) {
    std::string error;
    if (!writePng(path, image, 8, error)) throw std::runtime_error(error);
    std::printf("%s\n", path.c_str());
}

struct EnvmapsOptions {
    std::string output;
    std::int32_t blur = 20, onlyMap = 0;
} envmapsOptions;

void declareEnvmaps(CLI::App& command) {
    command.description(
        "Prepares each built-in environment map at 2048 x 1024 as the effect does for a render\n"
        "and writes, in DIR:\n"
        "  N-NAME.png          the sharp map (what reflections sample)\n"
        "  N-NAME-blurB.png    the smooth map at Blur B (highlight-boosted and blurred)\n"
        "  contact-sheet.png   one row per map, in the order of the HDRI Map popup: the sharp\n"
        "                      map, the same turned half way round (its wrap seam in the\n"
        "                      middle), and the smooth map");
    EnvmapsOptions& o = envmapsOptions;
    command.add_option("-o,--output", o.output, "folder to write into (created when missing)")
        ->type_name("DIR")
        ->required();
    command.add_option("--blur", o.blur, "the Blur parameter for the smooth maps")
        ->check(wholeNumber())
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    command.add_option("--map", o.onlyMap, "only map N (1 Gallery ... 9 Diamond)")
        ->check(wholeNumber())
        ->type_name("N")
        ->check(CLI::Range(1, 9));
}

int runEnvmaps(CommandContext&) {
    const std::string& output = envmapsOptions.output;
    const std::int32_t blur = envmapsOptions.blur, onlyMap = envmapsOptions.onlyMap;
    std::error_code ec;
    std::filesystem::create_directories(output, ec);
    if (ec) throw std::runtime_error("cannot create '" + output + "': " + ec.message());

    Image sheet;
    sheet.width = kSheetColumns * kCellW + (kSheetColumns + 1) * kGap;
    sheet.height = 9 * kCellH + 10 * kGap;
    sheet.rgba.assign(static_cast<std::size_t>(sheet.width) * sheet.height * 4, 0.5f);
    for (std::size_t i = 3; i < sheet.rgba.size(); i += 4) sheet.rgba[i] = 1.0f;

    for (std::int32_t map = 1; map <= 9; ++map) {
        if (onlyMap != 0 && map != onlyMap) continue;
        // The map as every render path prepares it.
        const std::size_t floats =
            static_cast<std::size_t>(interleavedFloats(std::int64_t{kEnvW} * kEnvH));
        std::vector<float> sharpRgb(floats), smoothRgb(floats);
        const EnvMap m{sharpRgb.data(), smoothRgb.data(), kEnvW, kEnvH};
        if (!computeEnvMap(m, map, static_cast<float>(blur) / 100.0f, ImageView{}))
            throw std::runtime_error("preparing map " + std::to_string(map) +
                                     " failed: not enough memory");
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "%d-%s", map, kMapNames[map - 1]);
        const std::string base = (std::filesystem::path(output) / prefix).string();
        const Image sharp = rgbToImage(m.sharpRgb, m.envW, m.envH);
        const Image smooth = rgbToImage(m.smoothRgb, m.envW, m.envH);
        write(base + ".png", sharp);
        write(base + "-blur" + std::to_string(blur) + ".png", smooth);
        const std::int32_t top = kGap + (map - 1) * (kCellH + kGap);
        placeCell(sharp, 0, sheet, kGap, top);
        placeCell(sharp, m.envW / 2, sheet, 2 * kGap + kCellW, top);
        placeCell(smooth, 0, sheet, 3 * kGap + 2 * kCellW, top);
    }
    write((std::filesystem::path(output) / "contact-sheet.png").string(), sheet);
    return 0;
}

const bool registered =
    registerSubcommand({"envmaps", "write the built-in environment maps as PNG files",
                        declareEnvmaps, runEnvmaps});

}  // namespace
}  // namespace lumet::cli
