// The first half of the loaders: the sharp planes alone. The compute-cache class derives the
// smooth planes itself, so it skips the loaders' own smooth planes (and Diamond's blur of
// Gallery), which it would discard.
#pragma once
#include <cstdint>

#include "core/image_view.h"
#include "envmap/builtin_maps.h"

namespace lumet {

// Sharp planes of built-in map hdriMap, the Diamond map decoded from diamondJpeg; Gallery for
// any value that names no other map and for a stream that does not decode to 2048 x 1024.
void loadBuiltInSharpPlanes(float* sharpR, float* sharpG, float* sharpB, std::int32_t envW,
                            std::int32_t envH, std::int32_t hdriMap, ByteSpan diamondJpeg);

// Sharp planes of a layer fitted into the map; false (planes untouched) when the layer has no
// readable pixels.
bool loadLayerSharpPlanes(const ImageView& layer, float* sharpR, float* sharpG, float* sharpB,
                          std::int32_t envW, std::int32_t envH);

// loadBuiltInEnvMap with the Diamond stream given explicitly (loadBuiltInEnvMap passes the
// embedded one; tests pass damaged or wrongly sized streams to exercise the fallback).
void loadBuiltInEnvMapWithJpeg(float* sharpR, float* sharpG, float* sharpB, float* smoothR,
                               float* smoothG, float* smoothB, std::int32_t envW, std::int32_t envH,
                               std::int32_t blurRadius, std::int32_t hdriMap, ByteSpan diamondJpeg);

}  // namespace lumet
