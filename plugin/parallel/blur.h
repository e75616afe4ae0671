// Blur primitives on single-channel float planes (row-major, index y * width + x), all in place:
// a running-sum box blur with a fractional radius, a three-pass box blur that approximates a
// Gaussian, and a direct Gaussian convolution that wraps around horizontally. Every pass is split
// over ParallelRows. A failed scratch allocation leaves the plane unchanged.
#pragma once
#include <cstdint>

namespace lumet {

// Box blur of radius r plus fraction f (the two taps just outside the window weigh f), with
// clamped edges: a horizontal pass into scratch, then a vertical pass back. scratch is required.
void boxBlur(float* plane, float* scratch, std::int32_t width, std::int32_t height,
             std::int32_t radius, float fraction);

// Radii of the three passes for radius r (r capped at 1000): 0.45 r, 0.40 r, 0.35 r, at least 1.
void threePassRadii(std::int32_t radius, std::int32_t out[3]);

// Three box blurs of integer radius (see threePassRadii). Allocates scratch when none is given.
// CPU only: callers that may use the GPU offer the blur to it first.
void threePassBoxBlur(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                      float* scratch = nullptr);

// Gaussian of radius r (capped at 500, sigma = max(0.1, r / 3)), wrapping in x and clamping in y.
void gaussianBlurWrapX(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       float* scratch = nullptr);

}  // namespace lumet
