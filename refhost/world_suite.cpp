// The world suite: a registry of the worlds' pixels and their depths.
#include "refhost/world_suite.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "AE_EffectCBSuites.h"

namespace refhost {
namespace {

std::mutex registryMutex;
std::map<const void*, int>& registry() {
    static auto* worlds = new std::map<const void*, int>;  // outlives every world
    return *worlds;
}

PF_Err newWorld(PF_ProgPtr, A_long width, A_long height, PF_Boolean clear, PF_PixelFormat format,
                PF_EffectWorld* world) {
    if (!world || width < 0 || height < 0) return PF_Err_BAD_CALLBACK_PARAM;
    const int bits = format == PF_PixelFormat_ARGB32    ? 8
                     : format == PF_PixelFormat_ARGB64  ? 16
                     : format == PF_PixelFormat_ARGB128 ? 32
                                                        : 0;
    if (bits == 0) return PF_Err_BAD_CALLBACK_PARAM;
    const std::int64_t rowBytes = std::int64_t{width} * 4 * (bits / 8);
    if (rowBytes > INT32_MAX) return PF_Err_OUT_OF_MEMORY;
    const std::size_t bytes = static_cast<std::size_t>(rowBytes * height);
    void* pixels = clear ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!pixels) return PF_Err_OUT_OF_MEMORY;
    std::memset(world, 0, sizeof *world);
    world->data = static_cast<PF_PixelPtr>(pixels);
    world->rowbytes = static_cast<A_long>(rowBytes);
    world->width = width;
    world->height = height;
    world->world_flags = PF_WorldFlag_WRITEABLE | (bits == 16 ? PF_WorldFlag_DEEP : 0);
    world->extent_hint = PF_LRect{0, 0, width, height};
    world->pix_aspect_ratio = PF_RationalScale{1, 1};
    recordWorldPixels(pixels, bits);
    return PF_Err_NONE;
}

PF_Err disposeWorld(PF_ProgPtr, PF_EffectWorld* world) {
    if (!world) return PF_Err_BAD_CALLBACK_PARAM;
    forgetWorldPixels(world->data);
    std::free(world->data);
    std::memset(world, 0, sizeof *world);
    return PF_Err_NONE;
}

PF_Err getPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    if (!world || !format) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(registryMutex);
    const auto it = registry().find(world->data);
    if (it == registry().end()) return PF_Err_BAD_CALLBACK_PARAM;
    *format = it->second == 8    ? PF_PixelFormat_ARGB32
              : it->second == 16 ? PF_PixelFormat_ARGB64
                                 : PF_PixelFormat_ARGB128;
    return PF_Err_NONE;
}

const PF_WorldSuite2 theWorldSuite = {newWorld, disposeWorld, getPixelFormat};

}  // namespace

void recordWorldPixels(const void* pixels, int bitsPerChannel) {
    if (!pixels) return;
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[pixels] = bitsPerChannel;
}

void forgetWorldPixels(const void* pixels) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry().erase(pixels);
}

const void* worldSuite() { return &theWorldSuite; }

}  // namespace refhost
