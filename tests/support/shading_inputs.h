// Small hand-built inputs shared by the shading and render tests: the Gold settings record,
// environment planes and deterministic noise.
#pragma once
#include <cstdint>
#include <vector>

#include "envmap/env_map.h"
#include "params/render_settings.h"

namespace lumet::test {

// The Gold preset scaled as the render settings carry it (percentages / 100).
inline RenderSettings goldSettings() {
    RenderSettings s{};
    s.bevelStyle = 1;
    s.edgeProfile = 1;
    s.bevelDepth = 1.5f;
    s.bevelSoftness = 0.2f;
    s.smartEdge = true;
    s.hdriMap = 1;
    s.envBlur = 0.2f;
    s.envScale = 0.5f;
    s.envExposure = 1.0f;
    s.envContrast = 0.5f;
    s.envDisplacement = 0.5f;
    s.metal = 1.0f;
    s.opacity = 1.0f;
    s.lightAngle = 135.0f;
    s.lightHeight = 60.0f;
    s.specular = 1.0f;
    s.roughness = 0.25f;
    s.edgeStrength = 1.0f;
    s.glowIntensity = 0.3f;
    s.glowRadius = 65.0f;
    const float shadow[3] = {92, 60, 15}, mid[3] = {212, 168, 64}, high[3] = {255, 235, 180};
    for (int i = 0; i < 3; ++i) {
        s.shadowColor[i] = shadow[i];
        s.midColor[i] = mid[i];
        s.highColor[i] = high[i];
    }
    s.saturation = 1.0f;
    s.tintBlend = 1.0f;
    return s;
}

// Six environment planes of w x h.
struct TestEnv {
    std::int32_t w, h;
    std::vector<float> sharpR, sharpG, sharpB, smoothR, smoothG, smoothB;
    TestEnv(std::int32_t width, std::int32_t height)
        : w(width),
          h(height),
          sharpR(static_cast<std::size_t>(width) * height),
          sharpG(sharpR.size()),
          sharpB(sharpR.size()),
          smoothR(sharpR.size()),
          smoothG(sharpR.size()),
          smoothB(sharpR.size()) {}
};

// Sharp planes that encode the sample position: red = column, green = row, blue = column + row.
// Catmull-Rom and bilinear interpolation reproduce linear data exactly, so a sample away from the
// wrap seam and the clamped rows reads back u x (w - 1) in red and v x (h - 1) in green.
inline TestEnv coordinateEnv(std::int32_t w, std::int32_t h) {
    TestEnv env(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            env.sharpR[i] = env.smoothR[i] = static_cast<float>(x);
            env.sharpG[i] = env.smoothG[i] = static_cast<float>(y);
            env.sharpB[i] = env.smoothB[i] = static_cast<float>(x + y);
        }
    return env;
}

// An EnvMap over six planes of w x h together with its interleaved colours, which it owns.
class EnvMapOver {
public:
    EnvMapOver(const float* sharpR, const float* sharpG, const float* sharpB, const float* smoothR,
               const float* smoothG, const float* smoothB, std::int32_t w, std::int32_t h)
        : sharp_(interleavedFloats(static_cast<std::int64_t>(w) * h)), smooth_(sharp_.size()) {
        const std::int64_t texels = static_cast<std::int64_t>(w) * h;
        interleaveRgb(sharpR, sharpG, sharpB, texels, sharp_.data());
        interleaveRgb(smoothR, smoothG, smoothB, texels, smooth_.data());
        map_ = {sharp_.data(), smooth_.data(), w, h};
    }
    explicit EnvMapOver(const TestEnv& env)
        : EnvMapOver(env.sharpR.data(), env.sharpG.data(), env.sharpB.data(), env.smoothR.data(),
                     env.smoothG.data(), env.smoothB.data(), env.w, env.h) {}
    EnvMapOver(const EnvMapOver&) = delete;
    EnvMapOver& operator=(const EnvMapOver&) = delete;
    const EnvMap& map() const { return map_; }

private:
    std::vector<float> sharp_, smooth_;
    EnvMap map_{};
};

// Deterministic pseudo-random values in [0, 1).
inline std::vector<float> noisePlane(std::size_t count, std::uint32_t seed) {
    std::vector<float> plane(count);
    std::uint32_t state = seed * 2654435761u + 1u;
    for (float& v : plane) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(state >> 8) / 16777216.0f;
    }
    return plane;
}

}  // namespace lumet::test
