// lumet_mapgen: writes the built-in environment maps that the plug-in embeds.
//   lumet_mapgen OUTPUT_DIR
// writes OUTPUT_DIR/builtin_maps_raw.bin (the eight 1024 x 512 RGB maps back to back, in the
// order of the HDRI Map popup) and OUTPUT_DIR/diamond.jpg (2048 x 1024 baseline JFIF JPEG).
// The output is a pure function of this program: the same bytes on every run and machine.
#include <cstdio>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb_image.h>

#include "maps.h"

namespace {

constexpr int kJpegQuality = 92;

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumet_mapgen OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];

    using Draw = mapgen::Canvas (*)();
    const Draw rawMaps[] = {mapgen::drawGallery, mapgen::drawStudio,   mapgen::drawShowroom,
                            mapgen::drawBeauty,  mapgen::drawRimLight, mapgen::drawStrips,
                            mapgen::drawPanels,  mapgen::drawDramatic};
    std::vector<unsigned char> raw;
    std::uint64_t grainSeed = 1;
    for (Draw draw : rawMaps) {
        const std::vector<std::uint8_t> bytes = draw().toRgb8(grainSeed++);
        raw.insert(raw.end(), bytes.begin(), bytes.end());
    }
    if (!writeFile(dir + "/builtin_maps_raw.bin", raw)) {
        std::fprintf(stderr, "lumet_mapgen: cannot write %s/builtin_maps_raw.bin\n", dir.c_str());
        return 1;
    }

    const std::vector<std::uint8_t> diamond = mapgen::drawDiamond().toRgb8(grainSeed);
    std::vector<unsigned char> jpeg;
    if (!stbi_write_jpg_to_func(appendBytes, &jpeg, mapgen::kDiamondWidth, mapgen::kDiamondHeight,
                                3, diamond.data(), kJpegQuality)) {
        std::fprintf(stderr, "lumet_mapgen: JPEG encoding failed\n");
        return 1;
    }
    // The plug-in accepts the stream only if it decodes to exactly this size and depth.
    int width = 0, height = 0, components = 0;
    unsigned char* decoded = stbi_load_from_memory(jpeg.data(), static_cast<int>(jpeg.size()),
                                                   &width, &height, &components, 3);
    stbi_image_free(decoded);
    if (!decoded || width != mapgen::kDiamondWidth || height != mapgen::kDiamondHeight ||
        components != 3) {
        std::fprintf(stderr, "lumet_mapgen: the Diamond JPEG does not decode at %d x %d x 3\n",
                     mapgen::kDiamondWidth, mapgen::kDiamondHeight);
        return 1;
    }
    if (!writeFile(dir + "/diamond.jpg", jpeg)) {
        std::fprintf(stderr, "lumet_mapgen: cannot write %s/diamond.jpg\n", dir.c_str());
        return 1;
    }
    return 0;
}
