// Access to the embedded built-in maps and the JPEG decoding of the Diamond map with stb_image
// (JPEG only, from memory, no file access).
#include "envmap/builtin_maps.h"

#include <climits>
#include <cstdlib>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include <stb_image.h>

namespace lumet {

const unsigned char* rawBuiltInMap(std::int32_t hdriMap) {
    if (hdriMap < 1 || hdriMap > kRawMapCount) return nullptr;
    const ByteSpan all = builtInRawMaps();
    const std::size_t offset = static_cast<std::size_t>(hdriMap - 1) * kRawMapBytes;
    if (!all.data || all.size < offset + kRawMapBytes) return nullptr;
    return all.data + offset;
}

void DecodedImageFree::operator()(unsigned char* pixels) const { stbi_image_free(pixels); }

DecodedImage decodeJpegRgb(ByteSpan stream, std::int32_t* width, std::int32_t* height) {
    if (!stream.data || stream.size == 0 || stream.size > static_cast<std::size_t>(INT_MAX))
        return DecodedImage();
    int w = 0, h = 0, components = 0;
    DecodedImage pixels(
        stbi_load_from_memory(stream.data, static_cast<int>(stream.size), &w, &h, &components, 3));
    if (pixels) {
        *width = w;
        *height = h;
    }
    return pixels;
}

}  // namespace lumet
