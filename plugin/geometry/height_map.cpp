// Height map from exact Euclidean distances (distance_transform.h), edge profiles and bevel
// styles, then softening with three-pass box blurs.
#include "geometry/height_map.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/preview_scale.h"
#include "geometry/distance_transform.h"
#include "geometry/geometry_blur.h"
#include "geometry/pixel_bands.h"
#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "params/render_settings.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// The edge profile and the bevel height, inline for the height map's per-pixel loop.
inline float profileAt(float t, std::int32_t profile) {
    const float smooth = t * t * (3.0f - 2.0f * t);
    float g;
    switch (profile) {
        case kProfileRound: {
            const float r = 1.0f - t;
            g = std::sqrt(std::max(0.0f, 1.0f - r * r));
            break;
        }
        case kProfileChiselHard:
            g = t;
            break;
        case kProfileChiselSoft:
            g = (2.0f - t) * t;
            break;
        case kProfileMesa: {
            const float u = std::min(std::max(3.0f * t, 0.0f), 1.0f);
            g = u * u * (3.0f - 2.0f * u);
            break;
        }
        default:
            return t * t * t * (t * (6.0f * t - 15.0f) + 10.0f);
    }
    return g + (smooth - g) * 0.15f;
}

}  // namespace

float edgeProfile(float t, std::int32_t profile) { return profileAt(t, profile); }

float bevelWidthOf(float bevelDepth, float pixelScale) {
    const float p = pixelScale;
    return std::min(40.0f * p, std::max(2.0f * p, bevelDepth * 10.0f * p));
}

SofteningRadii softeningRadiiOf(float bevelDepth, float bevelSoftness, float pixelScale) {
    SofteningRadii radii;
    radii.r1 = scaledPixels(
        static_cast<std::int32_t>((1.0f - std::min(bevelDepth, 2.0f) * 0.5f) * 10.0f + 4.0f),
        pixelScale);
    const std::int32_t s = static_cast<std::int32_t>(bevelSoftness * 30.0f);
    radii.r2 = scaledPixels(std::min(s, 30), pixelScale);
    return radii;
}

float thicknessReach(float bevelDepth, float pixelScale) {
    // The limit applies while 0.8 x the greatest distance is below the bevel's width.
    return std::ceil(bevelWidthOf(bevelDepth, pixelScale) / 0.8f) + 1.0f;
}

namespace {
inline float clamp01(float v) { return std::min(std::max(v, 0.0f), 1.0f); }
}  // namespace

float bevelInverseWidth(float bevelWidth, float maxIn, float pixelScale) {
    if (maxIn > 0.0f) {
        const float limit = 0.8f * maxIn;
        if (bevelWidth > limit) return 1.0f / std::max(2.0f * pixelScale, limit);
    }
    return 1.0f / bevelWidth;
}

namespace {

inline float heightAt(std::int32_t style, std::int32_t profile, bool inside, float dIn, float dOut,
                      bool hasOuter, float invWidth) {
    if (inside) {
        switch (style) {
            case kOuterBevel:
                return 1.0f;
            case kFullBevel:
                return 0.5f + 0.5f * profileAt(clamp01(dIn * invWidth), profile);
            case kEmboss:
                return 0.5f + 0.5f * profileAt(clamp01(dIn * 2.0f * invWidth), profile);
            case kPillow:
                return 1.0f - 0.7f * profileAt(clamp01(dIn * invWidth), profile);
            default:
                return profileAt(clamp01(dIn * invWidth), profile);
        }
    }
    if (!hasOuter) return 0.0f;
    switch (style) {
        case kOuterBevel:
        case kPillow:
            return 1.0f - profileAt(clamp01(dOut * invWidth), profile);
        case kFullBevel:
            return 0.5f - 0.5f * profileAt(clamp01(dOut * invWidth), profile);
        case kEmboss:
            return 0.5f - 0.5f * profileAt(clamp01(dOut * 2.0f * invWidth), profile);
        default:
            return 0.0f;
    }
}

}  // namespace

float bevelHeight(std::int32_t style, std::int32_t profile, bool inside, float dIn, float dOut,
                  bool hasOuter, float invWidth) {
    return heightAt(style, profile, inside, dIn, dOut, hasOuter, invWidth);
}

namespace {

float largestValue(const float* plane, std::int32_t width, std::int32_t height) {
    std::atomic<float> maximum{0.0f};
    ParallelPixels(width, height, [&](std::int64_t begin, std::int64_t end) {
        float local = 0.0f;
        for (std::int64_t i = begin; i < end; ++i) local = std::max(local, plane[i]);
        AtomicMax(maximum, local);
    });
    return maximum.load();
}

}  // namespace

void computeHeightMap(PlaneView<const std::uint8_t> coverage, PlaneView<float> height,
                      const RenderSettings& settings, float pixelScale,
                      const GeometryAccelerators& accelerated, float frameThickness) {
    if (!usableTogether(coverage, height)) return;
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::uint8_t* alphaSS = coverage.data;
    float* heightMap = height.data;
    const std::int64_t count = static_cast<std::int64_t>(W2) * H2;
    const float bevelWidth = bevelWidthOf(settings.bevelDepth, pixelScale);

    Plane<float> dIn = allocatePlane<float>(count);
    if (!dIn) {
        std::memset(heightMap, 0, planeBytes(count, sizeof(float)));
        return;
    }
    distanceTransform(alphaSS, dIn.get(), W2, H2, accelerated);

    // A thin shape gets a bevel no wider than 80 % of its greatest half-thickness (at least 2
    // pixelScale).
    const float invWidth = bevelInverseWidth(
        bevelWidth, frameThickness >= 0.0f ? frameThickness : largestValue(dIn.get(), W2, H2),
        pixelScale);

    const std::int32_t style = settings.bevelStyle;
    const bool outerPart = style >= kOuterBevel && style <= kPillow;
    Plane<float> dOut;
    if (outerPart) {
        dOut = allocatePlane<float>(count);
        if (dOut) {
            // The accelerated transform measures from alpha < 128, so it is handed the inverted
            // coverage; the CPU transform measures outside distances directly.
            bool done = false;
            if (accelerated.distanceTransform) {
                Plane<std::uint8_t> inverted = allocatePlane<std::uint8_t>(count);
                if (inverted) {
                    for (std::int64_t i = 0; i < count; ++i)
                        inverted[i] = static_cast<std::uint8_t>(255 - alphaSS[i]);
                    done = accelerated.distanceTransform(inverted.get(), dOut.get(), W2, H2);
                }
            }
            if (!done) distanceTransformCpu(alphaSS, dOut.get(), W2, H2, DistanceTo::kAtLeastHalf);
        }
    }

    const std::int32_t profile = settings.edgeProfile;
    const float* in = dIn.get();
    const float* out = dOut.get();
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i)
            heightMap[i] = heightAt(style, profile, alphaSS[i] != 0, in[i], out ? out[i] : 0.0f,
                                    out != nullptr, invWidth);
    });
    dIn.reset();
    dOut.reset();

    const SofteningRadii radii =
        softeningRadiiOf(settings.bevelDepth, settings.bevelSoftness, pixelScale);
    if (radii.r2 > 0) {
        const std::int32_t both[2] = {radii.r1, radii.r2};
        if (!accelerated.blurPlaneRadii ||
            !accelerated.blurPlaneRadii(heightMap, W2, H2, both, 2)) {
            threePassBoxBlur(heightMap, W2, H2, radii.r1);
            threePassBoxBlur(heightMap, W2, H2, radii.r2);
        }
    } else {
        blurGeometryPlane(heightMap, W2, H2, radii.r1, accelerated);
    }

    if (style == kInnerBevel) {
        ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
            for (std::int64_t i = begin; i < end; ++i) {
                const float a = static_cast<float>(alphaSS[i]) / 255.0f;
                if (a < 1.0f) heightMap[i] *= a * a;
            }
        });
    }
}

}  // namespace lumet
