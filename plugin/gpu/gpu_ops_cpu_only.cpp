// Until the OpenCL runtime is wired in, every GPU offer is declined and the CPU forms run.
#include "gpu/gpu_ops.h"

namespace lumet::gpu {

bool blurPlaneGpu(float*, std::int32_t, std::int32_t, std::int32_t) { return false; }
bool blurPlanePairGpu(float*, float*, std::int32_t, std::int32_t, std::int32_t) { return false; }
bool blurPlaneRadiiGpu(float*, std::int32_t, std::int32_t, const std::int32_t*, std::int32_t) {
    return false;
}
bool distanceTransformGpu(const std::uint8_t*, float*, std::int32_t, std::int32_t) {
    return false;
}
bool computeNormalsGpu(const float*, const std::uint8_t*, float*, std::int32_t, std::int32_t,
                       float) {
    return false;
}
bool uploadEnvMapGpu(const float*, const float*, const float*, const float*, const float*,
                     const float*, std::int32_t, std::int32_t) {
    return false;
}
bool renderEnvReflectionGpu(const float*, const std::uint8_t*, const float*, float*, float*,
                            float*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                            const RenderSettings&, std::int32_t, std::int32_t, bool) {
    return false;
}
bool shadeGpu(const std::uint8_t*, const float*, const float*, const float*, const float*,
              const float*, float*, float*, float*, std::int32_t, std::int32_t, std::int32_t,
              std::int32_t, std::int32_t, bool, const RenderSettings&, const float[3],
              const float[3], float, const float*, std::int32_t, std::int32_t, std::int32_t,
              std::int32_t, bool, bool) {
    return false;
}
bool renderGlowGpu(const float*, const float*, const float*, const std::uint8_t*, float*, float*,
                   float*, float*, std::int32_t, std::int32_t, float) {
    return false;
}

}  // namespace lumet::gpu
