// Parameter ids: a parameter's index in the host's parameter array equals its id. Projects store
// values by these numbers, so they never change.
#pragma once
#include <cstdint>

namespace lumet {

enum ParamId : int {
    PARAM_INPUT = 0,
    PARAM_PRESET,
    PARAM_BEVEL_GROUP,
    PARAM_BEVEL_STYLE,
    PARAM_EDGE_PROFILE,
    PARAM_BEVEL_DEPTH,
    PARAM_BEVEL_SOFTNESS,
    PARAM_SMART_EDGE,
    PARAM_EDGE_STRENGTH,
    PARAM_BEVEL_GROUP_END,
    PARAM_HDRI_GROUP,
    PARAM_HDRI_MAP,
    PARAM_CUSTOM_MAP,
    PARAM_BLUR,
    PARAM_SCALE,
    PARAM_EXPOSURE,
    PARAM_CONTRAST,
    PARAM_DISPLACEMENT,
    PARAM_ROTATION_GROUP,
    PARAM_ROTATION_X,
    PARAM_ROTATION_Y,
    PARAM_ROTATION_GROUP_END,
    PARAM_METAL,
    PARAM_TRANSPARENCY,
    PARAM_DISPERSION,
    PARAM_HDRI_GROUP_END,
    PARAM_LIGHTING_GROUP,
    PARAM_LIGHT_ANGLE,
    PARAM_LIGHT_HEIGHT,
    PARAM_SPECULAR,
    PARAM_ROUGHNESS,
    PARAM_ANISOTROPY,
    PARAM_LIGHTING_GROUP_END,
    PARAM_GLOW_GROUP,
    PARAM_GLOW_INTENSITY,
    PARAM_GLOW_RADIUS,
    PARAM_GLOW_GROUP_END,
    PARAM_COLOR_GROUP,
    PARAM_SHADOW_COLOR,
    PARAM_MIDTONE_COLOR,
    PARAM_HIGHLIGHT_COLOR,
    PARAM_SATURATION,
    PARAM_TINT_BLEND,
    PARAM_COLOR_GROUP_END,
    PARAM_SHOW_ENV_MAP,
    PARAM_COUNT  // 45: the input layer plus 44 declared parameters
};

// Popup choice numbers as the host stores them (1-based).
enum BevelStyle : std::int32_t { kInnerBevel = 1, kOuterBevel, kFullBevel, kEmboss, kPillow };
enum EdgeProfile : std::int32_t {
    kProfileSmooth = 1,
    kProfileRound,
    kProfileChiselHard,
    kProfileChiselSoft,
    kProfileMesa
};
enum HdriMap : int {
    kGallery = 1,
    kStudio,
    kShowroom,
    kBeauty,
    kRimLight,
    kStrips,
    kPanels,
    kDramatic,
    kDiamond,
    kCustomMap
};

}  // namespace lumet
