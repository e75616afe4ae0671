// Height map: heights 0..1 from the exact distances to the shape's outline, shaped by an edge
// profile and a bevel style, with the bevel width limited to the shape's thickness, softened by box
// blurs and, for the inner bevel, faded across anti-aliased rims.
#pragma once
#include <cstdint>

#include "core/plane_view.h"
#include "geometry/geometry_accelerators.h"
#include "params/param_ids.h"  // BevelStyle, EdgeProfile

namespace lumet {

struct RenderSettings;

// Edge profile curve f(t) for t in [0, 1]; any profile outside 2..5 is Smooth.
float edgeProfile(float t, std::int32_t profile);

// The helpers below take `pixelScale`, working pixels per full-resolution pixel: SS times the
// host's preview factor (core/preview_scale.h), so that a preview keeps the render's proportions.

// Bevel width in working pixels: min(40, max(2, 10 * bevelDepth)) * pixelScale.
float bevelWidthOf(float bevelDepth, float pixelScale);

// Radii of the two softening blurs: r1 (4 to 14, times pixelScale: shallow bevels blur more) and
// r2 from the softness (0 to 30, times pixelScale), rounded to whole pixels.
struct SofteningRadii {
    std::int32_t r1;
    std::int32_t r2;
};
SofteningRadii softeningRadiiOf(float bevelDepth, float bevelSoftness, float pixelScale);

// 1 / bevel width, the width limited to 80 % of the shape's greatest inner distance maxIn (but
// never below 2 pixelScale) when maxIn > 0.
float bevelInverseWidth(float bevelWidth, float maxIn, float pixelScale);

// Height of one pixel before softening: inside (any coverage) from the inner distance, outside from
// the outer distance; outside pixels get 0 when there is no outer distance (hasOuter false) or the
// style has no outer part.
float bevelHeight(std::int32_t style, std::int32_t profile, bool inside, float dIn, float dOut,
                  bool hasOuter, float invWidth);

// Fills `height` (expected zeroed) from the coverage (of the same size) with the settings'
// bevelStyle, edgeProfile, bevelDepth and bevelSoftness. When the inner distance plane cannot be
// allocated the heights are all 0; without memory for the outer one, pixels outside the shape get
// 0. The distance transforms and the softening blurs are offered to `accelerated` first.
// The bevel is kept within the shape's greatest inner distance, measured over these planes; a
// frame computed in pieces measures it over the whole frame first (thicknessReach says how
// far that needs to see) and hands it in as `frameThickness` (negative: measure here).
void computeHeightMap(PlaneView<const std::uint8_t> coverage, PlaneView<float> height,
                      const RenderSettings& settings, float pixelScale,
                      const GeometryAccelerators& accelerated = {}, float frameThickness = -1.0f);

// Inner distances at or beyond this change no bevel: the greatest one matters only below it.
float thicknessReach(float bevelDepth, float pixelScale);

}  // namespace lumet
