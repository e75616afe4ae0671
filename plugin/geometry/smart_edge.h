// Smart edge: finds colour boundaries inside the covered area with a Sobel operator on the layer's
// colours and carves shallow, softened grooves along them into the height map.
#pragma once
#include <cstdint>

#include "core/image_view.h"
#include "core/plane_view.h"
#include "geometry/geometry_accelerators.h"

namespace lumet {

// The layer a frame's geometry takes colours from: the host's pixels, and where its pixel (0, 0)
// lies in the frame-size planes.
struct LayerPlacement {
    ImageView image;
    std::int32_t x = 0, y = 0;
};

// Radius of the blur of the edge strengths: (int)(6 bevelDepth + 2) x pixelScale (working pixels
// per full-resolution pixel: SS times the preview factor), rounded.
std::int32_t edgeBlurRadiusOf(float bevelDepth, float pixelScale);
// Radius of the blurred copy of the heights the carved walls are pulled towards:
// (int)(3 edgeStrength + 1) x pixelScale, rounded.
std::int32_t wallBlurRadiusOf(float edgeStrength, float pixelScale);

// Carves into `height` along the colour edges of the layer, whose pixels are replicated SS times
// over the working planes (coverage and height, of one size, SS times the frame-size planes the
// placement refers to). Heights are left unchanged when the stage's planes cannot be allocated.
// Its blurs are offered to `accelerated` first; their radii grow with SS and shrink with the host's
// preview factor `preview` (1 at full resolution).
// The edges are normalised twice by their largest value over the frame (at least 0.001): the
// Sobel magnitudes, then their blur. A frame computed in pieces measures both over the
// whole frame first and hands them in as `maxima` (the Sobel one as measured: 0 for a layer
// without colour edges, which the stage then leaves as it is); without them they are measured
// over these planes.
struct EdgeMaxima {
    float sobel = 0.0f, blurred = 0.001f;
};
void applySmartEdge(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                    PlaneView<float> height, std::int32_t SS, float preview, float bevelDepth,
                    float edgeStrength, const GeometryAccelerators& accelerated = {},
                    const EdgeMaxima* maxima = nullptr);

// The two maxima over working rows [from, to) and columns [left, right) of a part of the frame
// whose planes reach far enough around them (the Sobel taps; for the blurred one also the edge
// blur): the Sobel magnitudes' (0 or more), and, given the frame's Sobel maximum, that of the
// normalised and blurred edges (at least 0.001). -1 when the planes cannot be had. The band's
// colours are the layer's as placed.
float smartEdgeSobelMaximum(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                            std::int32_t SS, std::int32_t from, std::int32_t to, std::int32_t left,
                            std::int32_t right);
float smartEdgeBlurredMaximum(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                              std::int32_t SS, float preview, float bevelDepth, float sobelMaximum,
                              std::int32_t from, std::int32_t to, std::int32_t left,
                              std::int32_t right);

}  // namespace lumet
