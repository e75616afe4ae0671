// The host's preview scale. A host that previews at a fraction of the full resolution hands the
// effect its layers scaled down by that fraction and says by how much (the downsample factors,
// or an OpenFX host's render scale). Every size the effect gives in pixels (the bevel width and
// its limits, the blur radii, the cavity's sample distance, the glow radius, the output margin)
// means pixels of the full-resolution layer, so the stages scale each by the preview scale and
// a preview looks like the full render scaled down.
//
// The stages measure round distances and blur with square kernels, so one scale serves both
// axes. When the host scales x and y unequally the larger factor is used: the margins then
// reach as far as the glow and the bevel need along either axis, and the finer axis keeps the
// render's look (the coarser one shows the bevel a little wider, as any non-square preview
// of a round shape would).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumet {

// The preview scale at and below which high quality samples four times per axis (a third of the
// full resolution, with room for a host's rounding).
inline constexpr float kFinerSamplingFactor = 0.34f;

struct PreviewScale {
    // Layer pixels per full-resolution pixel along each axis: 1 at full resolution, 1/2 when the
    // host previews at half resolution. Values outside (0, 1] count as 1.
    double x = 1.0, y = 1.0;

    // The one factor the stages scale their pixel sizes by (see above); exactly 1.0f at full
    // resolution, so that a full-resolution frame computes what it always did.
    float factor() const {
        const auto valid = [](double f) { return f > 0.0 && f <= 1.0 ? f : 1.0; };
        return static_cast<float>(std::max(valid(x), valid(y)));
    }
    bool operator==(const PreviewScale&) const = default;
};

// Working samples per layer pixel along each axis at high quality: 2, and 4 in previews at a third
// of the full resolution or less. A preview pixel stands for a block of full-resolution pixels
// whose high-quality render averages the surface's fine reflections and highlight edges over
// many samples; two per axis would point-sample them and the preview would sparkle where the
// render is smooth. At a quarter resolution four per axis still cost a quarter of the full
// render's work.
inline std::int32_t highQualitySupersampling(float factor) {
    return factor <= kFinerSamplingFactor ? 4 : 2;
}

// A size of `pixels` full-resolution pixels at `scale` working pixels per full-resolution pixel
// (the supersampling times the preview factor), rounded to whole pixels. Exact for whole scales.
inline std::int32_t scaledPixels(std::int32_t pixels, float scale) {
    return static_cast<std::int32_t>(std::lround(static_cast<double>(pixels) * scale));
}

}  // namespace lumet
