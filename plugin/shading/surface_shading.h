// Surface shading: environment exposure and contrast, half-Lambert diffuse light, a three-tone
// palette (shadow, midtone, highlight), a Schlick Fresnel boost, cavity darkening from the height
// Laplacian, a tabulated Blinn-Phong specular highlight, a warm scatter for glass and saturation.
#pragma once
#include <cstdint>

#include "core/plane_view.h"
#include "core/shade_constants.h"
#include "params/render_settings.h"

namespace lumet {

// Builds the constants for a frame: light and half vectors, palette / 255, the specular exponent,
// its normalisation and the power table; the shading reads the surface's heights and normals and
// the reflection (all of one size) through them. `preview` is the host's preview factor (1 at full
// resolution): the height Laplacian of the cavity darkening grows with the square of the pixel
// size, so its gain falls with the factor's square.
void makeShadeConstants(ShadeConstants& constants, const RenderSettings& settings,
                        const SurfaceView& surface, const RgbPlanes<const float>& reflection,
                        float preview);

struct ShadedPixel {
    float r, g, b, a;
};

// Shades pixel (x, y) with effective coverage a; each channel ends in 0..1. a < 0.01 gives black.
ShadedPixel shadePixel(const ShadeConstants& constants, std::int32_t x, std::int32_t y, float a);

// The bevel styles whose surface may extend beyond the layer's alpha (all but Inner Bevel).
inline bool isOuterStyle(std::int32_t bevelStyle) { return bevelStyle >= 2 && bevelStyle <= 5; }

// Shades the rectangle [x0, x1) x [y0, y1) of the surface (the one the constants were made from)
// into `out` (of the surface's size), writing every pixel of it. A pixel with coverage byte / 255
// below 0.01 is shaded only as an outer-bevel surface (height above 0.01, coverage taken from the
// height) and is 0 otherwise; rows without any coverage, or without any height above 0.01 when
// outerStyle is set, are cleared. Colour at coverage below 0.95 is scaled by coverage squared after
// the clamp.
void shadeRows(const ShadeConstants& constants, const SurfaceView& surface,
               const RgbPlanes<float>& out, std::int32_t x0, std::int32_t x1, std::int32_t y0,
               std::int32_t y1, bool outerStyle);

// shadeRows over the whole surface, its rows split into ParallelRows bands.
void shadeWindow(const ShadeConstants& constants, const SurfaceView& surface,
                 const RgbPlanes<float>& out, bool outerStyle);

}  // namespace lumet
