// Normals: unit surface normals from the height map with a separable 9-tap Gaussian-derivative
// filter, plateau flattening and edge fading; and the normal blur that softens the normal field.
#pragma once
#include <cstdint>

#include "core/plane_view.h"
#include "geometry/geometry_accelerators.h"

namespace lumet {

// Slope scale of the normals: max(0.4, sqrt(bevelDepth) * 2.5 * pixelScale), pixelScale being the
// working pixels per full-resolution pixel (SS times the preview factor): the slope of a bevel per
// working pixel falls as its pixels grow finer.
float normalStrengthOf(float bevelDepth, float pixelScale);

// The 9 taps, k = -4 .. 4: smoothing exp(-k^2 / 8p^2) normalised to sum 1, derivative
// -k/4 exp(-k^2 / 8p^2) normalised to absolute sum 1, p being the host's preview factor (1 at
// full resolution): the filter spans the same part of the layer at every preview scale.
// normalTapsGain(p) is what the slope scale is multiplied by at p (1 at p = 1).
struct NormalTaps {
    float smoothing[9];
    float derivative[9];
};
NormalTaps normalTaps(float preview = 1.0f);
float normalTapsGain(float preview);

// Fills `normals` (3 floats a pixel, nx, ny, nz) from the heights and coverage, all of one size.
// Leaves normalMap unchanged when its two scratch planes cannot be allocated.
void computeNormals(PlaneView<const std::uint8_t> coverage, PlaneView<const float> height,
                    PlaneView<float> normals, float bevelDepth, float pixelScale,
                    float preview = 1.0f);

// Blurs nx and ny with the three-pass box blur of the radius (capped at 1000; offered to
// accelerated.blurPlanePair first) and rebuilds nz, except on empty flat pixels. Does nothing
// without memory for its planes.
void blurNormals(PlaneView<float> normals, PlaneView<const std::uint8_t> coverage,
                 PlaneView<const float> height, std::int32_t radius,
                 const GeometryAccelerators& accelerated = {});

}  // namespace lumet
