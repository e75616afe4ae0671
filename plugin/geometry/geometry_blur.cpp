// Three-pass box blur with a GPU offer (see geometry_blur.h).
#include "geometry/geometry_blur.h"

#include <algorithm>

#include "gpu/gpu_ops.h"
#include "parallel/blur.h"

namespace lumet {

void blurGeometryPlane(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius) {
    if (radius < 1 || !plane || width < 1 || height < 1) return;
    const std::int32_t r = std::min(radius, 1000);
    if (gpu::blurPlaneGpu(plane, width, height, r)) return;
    threePassBoxBlur(plane, width, height, r);
}

}  // namespace lumet
