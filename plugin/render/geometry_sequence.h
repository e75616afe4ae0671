// The geometry sequence of a frame: supersampled coverage, height map, smart edge, plateau snap,
// normals and normal blur, in the order both render paths run them. It is also where the geometry
// stages get their accelerated forms: the GPU's, when this thread holds the device.
#pragma once
#include <cstdint>

#include "core/plane_view.h"
#include "geometry/smart_edge.h"

namespace lumet {

struct RenderSettings;

// Runs the geometry of one frame from its alpha (W x H) into the working planes (SS times its
// size; the normals with three values a pixel):
//  1. when SS = 2, alphaSS = bilinear resample of the alpha; when SS = 1 the stages read the
//     alpha and alphaSS may be empty;
//  2. the heights zeroed, then the height map;
//  3. the smart edge, when settings.smartEdge is set, the style is Inner Bevel and the layer is
//     given;
//  4. every height of 0.95 or more set to exactly 1.0;
//  5. the normals zeroed, then computed (offered to the GPU first when gpuNormals);
//  6. the normal blur with radius 3 x SS.
// Its pixel sizes (bevel width, blur radii, the normals' slope scale) are those of the full-
// resolution layer times SS and the host's preview factor `preview` (1 at full resolution).
// The distance transforms and the blurs of steps 2, 3 and 6 are offered to the GPU first
// whenever this thread holds the GPU lock.
// Returns false (planes untouched) when a plane is missing or of another size, in particular
// when SS = 2 and alphaSS is empty: no stage may read the frame-size alpha as if it were the
// working size.
//
// With `coverageReady`, alphaSS already holds step 1's coverage of this alpha at this SS and
// preview factor (a cached frame whose layer is unchanged), and step 1 is skipped.
//
// With `band`, the working planes hold only the working rows [band->top, band->top + their
// height) of the frame (top a multiple of SS), whose alpha is still the whole frame's: every
// stage reads its neighbours within the band, so rows closer to the band's ends than the
// geometry's reach hold nothing the frame has there; the frame's thickness and edge maxima,
// which need the whole frame, come with the band.
struct GeometryBand {
    std::int32_t top = 0;
    float thickness = -1.0f;
    const EdgeMaxima* edges = nullptr;
};
bool runGeometrySequence(PlaneView<const std::uint8_t> alpha, PlaneView<std::uint8_t> alphaSS,
                         PlaneView<float> height, PlaneView<float> normals, std::int32_t SS,
                         float preview, const RenderSettings& settings, const LayerPlacement& layer,
                         bool gpuNormals, const GeometryBand* band = nullptr,
                         bool coverageReady = false);

// The working rows [top, top + coverage.height) of the frame's coverage at the working size,
// as the geometry sequence makes them (SS > 1).
void workingCoverageRows(PlaneView<const std::uint8_t> alpha, PlaneView<std::uint8_t> coverage,
                         std::int32_t SS, float preview, std::int32_t top);

}  // namespace lumet
