// A test's effect world as the view the pipeline reads: ARGB, white 32768, at a given depth.
#pragma once
#include <cstdint>

#include "AE_Effect.h"
#include "core/image_view.h"

inline lumet::ImageView viewOfWorld(const PF_EffectWorld& world, std::int32_t depth) {
    lumet::ImageView view;
    view.data = world.data;
    view.rowBytes = world.rowbytes;
    view.width = world.width;
    view.height = world.height;
    view.format = lumet::argbFormat(depth);
    return view;
}
