// The nine material presets: one choice in the Preset popup rewrites the bevel, environment,
// lighting, palette and glow parameters from the table (presetValues gives the rows).
#pragma once
#include <array>
#include <cstdint>


namespace lumet {

// One preset: 35 32-bit fields. Floats hold values as the parameters show them (before any
// render scaling); of Smart Edge and of each colour channel only the lowest byte is read.
struct PresetRecord {
    std::int32_t bevelStyle;
    std::int32_t edgeProfile;
    float bevelDepth;
    float bevelSoftness;
    std::int32_t smartEdge;
    float edgeStrength;
    std::int32_t hdriMap;
    float blur;
    float scale;
    float exposure;
    float contrast;
    float displacement;
    float rotationX;
    float rotationY;
    float metal;
    float transparency;
    float dispersion;
    float lightAngleDegrees;
    float lightHeight;
    float specular;
    float roughness;
    float anisotropy;
    std::int32_t shadowColor[3];
    std::int32_t midtoneColor[3];
    std::int32_t highlightColor[3];
    float saturation;
    float tintBlend;
    float glowIntensity;
    float glowRadius;
};
static_assert(sizeof(PresetRecord) == 35 * 4);

inline constexpr int kPresetCount = 9;
// Record v - 1 belongs to Preset choice v (Gold, Silver, Rose Gold, Bronze, Copper, Platinum,
// Brushed Steel, Black Chrome, Diamond).
extern const std::array<PresetRecord, kPresetCount> kPresetTable;

}  // namespace lumet
