// Shared pieces of the OpenCL tests: the runtime started once per test program on the machine's
// OpenCL device (POCL's CPU device here), the GPU lock held the way a render holds it, random
// planes and their comparison.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gpu/gpu_runtime.h"
#include "render/render_locks.h"

namespace lumet::testing {

// Starts the runtime when it is not ready; the tests of this program need a device.
inline void requireGpuRuntime() {
    if (!gpu::gpuRuntimeReady()) gpu::startGpuRuntime();
    ASSERT_TRUE(gpu::gpuRuntimeReady()) << "no OpenCL device: is pocl-opencl-icd installed?";
}

// Holds the GPU lock for its lifetime, as a render that obtained it does.
class GpuLockHold {
public:
    GpuLockHold() { EnterGpuLock(); }
    ~GpuLockHold() { LeaveGpuLock(); }
    GpuLockHold(const GpuLockHold&) = delete;
    GpuLockHold& operator=(const GpuLockHold&) = delete;
};

inline std::vector<float> randomPlane(std::int64_t count, std::uint32_t seed, float low = 0.0f,
                                      float high = 1.0f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(low, high);
    std::vector<float> plane(static_cast<std::size_t>(count));
    for (float& v : plane) v = value(random);
    return plane;
}

// Coverage of a few overlapping anti-aliased discs, with some pixels exactly at 127/128.
inline std::vector<std::uint8_t> blobAlpha(std::int32_t W, std::int32_t H, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> fx(0.0f, static_cast<float>(W));
    std::uniform_real_distribution<float> fy(0.0f, static_cast<float>(H));
    std::uniform_real_distribution<float> fr(2.0f, static_cast<float>(std::min(W, H)) * 0.3f);
    struct Disc {
        float x, y, r;
    };
    std::vector<Disc> discs;
    for (int i = 0; i < 6; ++i) discs.push_back({fx(random), fy(random), fr(random)});
    std::vector<std::uint8_t> alpha(static_cast<std::size_t>(W) * H);
    for (std::int32_t y = 0; y < H; ++y)
        for (std::int32_t x = 0; x < W; ++x) {
            float cover = 0.0f;
            for (const Disc& d : discs) {
                const float dist =
                    std::hypot(static_cast<float>(x) - d.x, static_cast<float>(y) - d.y);
                cover = std::max(cover, std::clamp(d.r - dist + 0.5f, 0.0f, 1.0f));
            }
            alpha[static_cast<std::size_t>(y) * W + x] = static_cast<std::uint8_t>(cover * 255.0f);
        }
    return alpha;
}

// Whether two planes hold the same values bit for bit (-0 is not +0).
inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace lumet::testing
