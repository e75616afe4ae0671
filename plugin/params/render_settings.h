// RenderSettings: every parameter of one frame scaled to the units the stages compute with
// (percentages / 100, rotations / 1000, angles in degrees, colours 0..255 floats, popups 1-based),
// plus the output margin and the rectangles that place the input inside the output.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace lumet {

struct RenderSettings {
    std::int32_t bevelStyle;
    std::int32_t edgeProfile;
    float bevelDepth;
    float bevelSoftness;
    bool smartEdge;
    std::int32_t hdriMap;
    float envBlur;
    float envScale;
    float envExposure;
    float envContrast;
    float envDisplacement;
    float envRotX;
    float envRotY;
    float metal;
    float opacity;
    float dispersion;
    float lightAngle;
    float lightHeight;
    float specular;
    float roughness;
    float anisotropy;
    float edgeStrength;
    float glowIntensity;
    float glowRadius;
    float shadowColor[3];
    float midColor[3];
    float highColor[3];
    float saturation;
    float tintBlend;
    std::int32_t expansion;
    bool showEnvMap;
    std::int32_t inputRect[4];   // left, top, right, bottom
    std::int32_t outputRect[4];  // left, top, right, bottom
};

// Copies the parameter fields (bevelStyle .. tintBlend, which lie in front of the layout fields)
// from one record into another in one go; expansion onwards stays as it was in `to`.
inline void copyParameterFields(RenderSettings& to, const RenderSettings& from) {
    static_assert(std::is_trivially_copyable_v<RenderSettings> &&
                  std::is_standard_layout_v<RenderSettings>);
    static_assert(offsetof(RenderSettings, tintBlend) + sizeof(float) <=
                  offsetof(RenderSettings, expansion));
    std::memcpy(&to, &from, offsetof(RenderSettings, expansion));
}

}  // namespace lumet
