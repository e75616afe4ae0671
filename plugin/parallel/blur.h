// Blur primitives on single-channel float planes (row-major, index y * width + x), all in place:
// a running-sum box blur with a fractional radius, a three-pass box blur that approximates a
// Gaussian, and a direct Gaussian convolution that wraps around horizontally. Every pass is split
// over ParallelRows. A failed scratch allocation leaves the plane unchanged.
#pragma once
#include <cstdint>

#include "core/frame_window.h"

namespace lumet {

// Box blur of radius r plus fraction f (the two taps just outside the window weigh f), with
// clamped edges: a horizontal pass into scratch, then a vertical pass back. scratch is required.
// Each pass keeps its running sum exact: samples on a grid of 2^-32 (columnSteps), summed without
// rounding, so an output is a function of its window's samples alone. A line blurs to the same
// floats wherever its pass starts or ends, as long as the window's reach (r + 1 with a fraction,
// r without) lies inside it: a plane cut into pieces with that margin gives the whole plane's
// floats, and content whose zero margin is wider than the reach blurs to the same floats
// wherever it lies in a plane of any size. So does threePassBoxBlur, given the margin of its
// three passes.
void boxBlur(float* plane, float* scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius, float fraction);

// boxBlur from source into destination (which may be source itself), so that a blur of a copy
// needs no copy first; source is left unchanged when it is another plane.
void boxBlurInto(const float* source, float* destination, float* scratch, std::int32_t width,
                 std::int32_t height, std::int32_t radius, float fraction);

// boxBlurInto for a source that is zero (+0 or -0) outside `content`, a rectangle of the plane
// (the plane is content.frameWidth x content.frameHeight): only the pixels the blur can reach from
// the content are filtered, to the same floats as boxBlurInto. Returns that reached rectangle
// (the content grown by the window's reach, clipped); outside it the destination is zero (+0
// where destination is another plane than source).
// With `onThisThread` the passes run on the calling thread instead of ParallelRows, for work that
// is already split over threads otherwise (several planes blurred at once); such a blur stops
// early, leaving the destination incomplete, once parallelWorkStopped() says so.
FrameWindow boxBlurContent(const float* source, float* destination, float* scratch,
                           std::int32_t radius, float fraction, const FrameWindow& content,
                           bool onThisThread = false);

// Radii of the three passes for radius r (r capped at 1000): 0.45 r, 0.40 r, 0.35 r, at least 1.
void threePassRadii(std::int32_t radius, std::int32_t out[3]);

// How far the three-pass box blur of radius r moves a value: the sum of its pass radii (0 below
// radius 1).
std::int32_t threePassReach(std::int32_t radius);

// Three box blurs of integer radius (see threePassRadii). Allocates scratch when none is given.
// CPU only: callers that may use the GPU offer the blur to it first. `onThisThread` as for
// boxBlurContent.
void threePassBoxBlur(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                      float* scratch = nullptr, bool onThisThread = false);

// Gaussian of radius r (capped at 500, sigma = max(0.1, r / 3)), wrapping in x and clamping in y.
void gaussianBlurWrapX(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       float* scratch = nullptr);

}  // namespace lumet
