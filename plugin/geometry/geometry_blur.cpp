// Three-pass box blur with an accelerated offer (see geometry_blur.h).
#include "geometry/geometry_blur.h"

#include <algorithm>

#include "parallel/blur.h"

namespace lumet {

void blurGeometryPlane(float* plane, std::int32_t width, std::int32_t height, std::int32_t radius,
                       const GeometryAccelerators& accelerated) {
    if (radius < 1 || !plane || width < 1 || height < 1) return;
    const std::int32_t r = std::min(radius, 1000);
    if (accelerated.blurPlane && accelerated.blurPlane(plane, width, height, r)) return;
    threePassBoxBlur(plane, width, height, r);
}

}  // namespace lumet
