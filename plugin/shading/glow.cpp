// Glow: smoothstep extraction of the bright colour, then two scales (a quarter and the full glow
// radius, weighted 0.55 and 0.45) of three successive fractional box blurs of radii 0.45, 0.40
// and 0.35 times the pass radius (together close to a Gaussian), then a square root that lifts the
// faint tails of the glow.
#include "shading/glow.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

constexpr float kPassRadiusCap = 1200.0f;
constexpr float kRadiusFactors[3] = {0.45f, 0.40f, 0.35f};

// Three fractional box blurs of radii max(1, factor x radius) of source into plane (source may
// be plane itself).
void blurThreeTimes(const float* source, float* plane, float* scratch, std::int32_t W,
                    std::int32_t H, float radius) {
    for (float factor : kRadiusFactors) {
        const float r = std::max(1.0f, factor * radius);
        const std::int32_t whole = static_cast<std::int32_t>(r);
        boxBlurInto(source, plane, scratch, W, H, whole, r - static_cast<float>(whole));
        source = plane;
    }
}

template <class Function>
void forEachPixel(std::int64_t count, Function&& function) {
    // Blocks of 4096 pixels keep the item count of ParallelRows inside 32 bits for any frame.
    const std::int64_t bandSize = 4096;
    const std::int32_t bands = static_cast<std::int32_t>((count + bandSize - 1) / bandSize);
    ParallelRows(bands, [&](std::int32_t begin, std::int32_t end) {
        const std::int64_t first = begin * bandSize;
        const std::int64_t last = std::min(count, end * bandSize);
        for (std::int64_t i = first; i < last; ++i) function(i);
    });
}

}  // namespace

float glowPassRadius(float glowRadius, float scale) {
    return std::min(kPassRadiusCap, std::max(1.0f, glowRadius * scale * 1.1f));
}

void renderGlow(const float* shadeR, const float* shadeG, const float* shadeB,
                const std::uint8_t* alpha, float* glowR, float* glowG, float* glowB, float* glowA,
                std::int32_t W, std::int32_t H, float glowRadius, float* scratch,
                float* const* workPlanes) {
    if (W < 1 || H < 1 || !shadeR || !shadeG || !shadeB || !alpha || !glowR || !glowG || !glowB ||
        !glowA)
        return;
    const std::int64_t N = static_cast<std::int64_t>(W) * H;

    forEachPixel(N, [&](std::int64_t i) {
        const float a = static_cast<float>(alpha[i]) / 255.0f;
        if (a < 0.002f) {
            glowR[i] = glowG[i] = glowB[i] = glowA[i] = 0.0f;
            return;
        }
        const float brightest = std::max({shadeR[i], shadeG[i], shadeB[i]});
        const float t = std::clamp((brightest - 0.25f) / 0.50f, 0.0f, 1.0f);
        const float s = t * t * (3.0f - 2.0f * t);
        glowR[i] = shadeR[i] * s;
        glowG[i] = shadeG[i] * s;
        glowB[i] = shadeB[i] * s;
        glowA[i] = s;
    });

    // Below one pixel (or for a radius that is not a number) the glow is the extraction itself.
    if (!(glowRadius >= 1.0f)) return;

    Plane<float> ownedScratch;
    if (!scratch) {
        ownedScratch = allocatePlane<float>(N);
        if (!ownedScratch) return;
        scratch = ownedScratch.get();
    }
    float* glow[4] = {glowR, glowG, glowB, glowA};
    const std::size_t bytes = sizeof(float) * static_cast<std::size_t>(N);

    bool haveWork = workPlanes != nullptr;
    for (int p = 0; haveWork && p < kGlowWorkPlanes; ++p) haveWork = workPlanes[p] != nullptr;

    if (!haveWork) {
        // One scale at the plain radius, blurred in place. The radius is bounded like the pass
        // radii so that an out-of-range value cannot overflow the integer radius.
        const float radius = std::min(glowRadius, kPassRadiusCap);
        for (float* plane : glow) blurThreeTimes(plane, plane, scratch, W, H, radius);
        forEachPixel(N, [&](std::int64_t i) { glowA[i] = std::min(1.0f, glowA[i]); });
        return;
    }

    float* const* source = workPlanes;
    float* const* work = workPlanes + 4;
    for (int c = 0; c < 4; ++c) {
        std::memcpy(source[c], glow[c], bytes);
        std::memset(glow[c], 0, bytes);
    }
    const float scales[2] = {0.25f, 1.0f};
    const float weights[2] = {0.55f, 0.45f};
    for (int pass = 0; pass < 2; ++pass) {
        const float passRadius = glowPassRadius(glowRadius, scales[pass]);
        const float weight = weights[pass];
        for (int c = 0; c < 4; ++c) blurThreeTimes(source[c], work[c], scratch, W, H, passRadius);
        forEachPixel(N, [&](std::int64_t i) {
            for (int c = 0; c < 4; ++c) glow[c][i] += weight * work[c][i];
        });
    }
    forEachPixel(N, [&](std::int64_t i) {
        glowR[i] = std::sqrt(std::max(glowR[i], 0.0f));
        glowG[i] = std::sqrt(std::max(glowG[i], 0.0f));
        glowB[i] = std::sqrt(std::max(glowB[i], 0.0f));
        glowA[i] = std::min(1.0f, std::sqrt(std::max(glowA[i], 0.0f)));
    });
}

}  // namespace lumet
