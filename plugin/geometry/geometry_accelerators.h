// The accelerated forms a geometry stage may offer its work to before running its CPU form. The
// stages know nothing of the device: whoever runs them (the frame pipeline) fills the table when
// the frame holds one. Each form returns true when it produced the stage's result and false when
// the CPU form must run; a null entry (the default) means CPU only.
#pragma once
#include <cstdint>

namespace lumet {

struct GeometryAccelerators {
    // Three-pass box blur of radius r in place.
    bool (*blurPlane)(float* plane, std::int32_t width, std::int32_t height,
                      std::int32_t radius) = nullptr;
    // The same blur over two planes of one size.
    bool (*blurPlanePair)(float* planeA, float* planeB, std::int32_t width, std::int32_t height,
                          std::int32_t radius) = nullptr;
    // Three-pass box blurs of count radii in turn, in place (radii of 0 skipped).
    bool (*blurPlaneRadii)(float* plane, std::int32_t width, std::int32_t height,
                           const std::int32_t* radii, std::int32_t count) = nullptr;
    // Exact distance transform, background alpha < 128.
    bool (*distanceTransform)(const std::uint8_t* alpha, float* distance, std::int32_t width,
                              std::int32_t height) = nullptr;
};

}  // namespace lumet
