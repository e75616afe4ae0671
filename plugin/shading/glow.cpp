// Glow: smoothstep extraction of the bright colour, then two scales (a quarter and the full glow
// radius, weighted 0.55 and 0.45) of three successive fractional box blurs of radii 0.45, 0.40
// and 0.35 times the pass radius (together close to a Gaussian), then a square root that lifts the
// faint tails of the glow.
#include "shading/glow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/glow_pass.h"
#include "core/stage_constants.h"
#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// Three fractional box blurs of radii max(1, factor x radius) of source into plane (source may
// be plane itself), source being zero outside content; returns where plane may be non-zero.
FrameWindow blurThreeTimes(const float* source, float* plane, float* scratch, FrameWindow content,
                           float radius) {
    for (int pass = 0; pass < 3; ++pass) {
        const float r = glowBoxRadius(radius, pass);
        const std::int32_t whole = static_cast<std::int32_t>(r);
        content =
            boxBlurContent(source, plane, scratch, whole, r - static_cast<float>(whole), content);
        source = plane;
    }
    return content;
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

void renderGlow(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alpha,
                const RgbaPlanes<float>& glowPlanes, float glowRadius, float* scratch,
                float* const* workPlanes) {
    if (!usableTogether(alpha, shade.r, shade.g, shade.b, glowPlanes.r, glowPlanes.g, glowPlanes.b,
                        glowPlanes.a))
        return;
    const std::int32_t W = alpha.width, H = alpha.height;
    const float* shadeR = shade.r.data;
    const float* shadeG = shade.g.data;
    const float* shadeB = shade.b.data;
    float* glowR = glowPlanes.r.data;
    float* glowG = glowPlanes.g.data;
    float* glowB = glowPlanes.b.data;
    float* glowA = glowPlanes.a.data;
    const std::int64_t N = static_cast<std::int64_t>(W) * H;

    bool haveWork = workPlanes != nullptr;
    for (int p = 0; haveWork && p < kGlowWorkPlanes; ++p) haveWork = workPlanes[p] != nullptr;
    float* glow[4] = {glowR, glowG, glowB, glowA};
    // The extraction goes where the blurs read it: the source work planes when there are any.
    float* const* extracted = haveWork ? workPlanes : glow;

    // The extraction, and the rows and columns where the alpha is not 0: outside them the
    // extraction is 0, so the blurs need not filter what the glow cannot reach.
    std::int32_t minX = W, maxX = -1, minY = H, maxY = -1;
    std::mutex boundsLock;
    ParallelRows(H, [&](std::int32_t begin, std::int32_t end) {
        std::int32_t x0 = W, x1 = -1, y0 = H, y1 = -1;
        for (std::int32_t y = begin; y < end; ++y) {
            const std::int64_t row = static_cast<std::int64_t>(y) * W;
            for (std::int32_t x = 0; x < W; ++x) {
                const std::int64_t i = row + x;
                const float a = static_cast<float>(alpha.data[i]) / 255.0f;
                if (alpha.data[i] != 0) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = y;
                }
                if (a < kGlowCoverageMin) {
                    extracted[0][i] = extracted[1][i] = extracted[2][i] = extracted[3][i] = 0.0f;
                    continue;
                }
                const float brightest = std::max({shadeR[i], shadeG[i], shadeB[i]});
                const float t = std::clamp((brightest - kGlowThreshold) / kGlowKnee, 0.0f, 1.0f);
                const float s = t * t * (3.0f - 2.0f * t);
                extracted[0][i] = shadeR[i] * s;
                extracted[1][i] = shadeG[i] * s;
                extracted[2][i] = shadeB[i] * s;
                extracted[3][i] = s;
            }
        }
        const std::lock_guard<std::mutex> hold(boundsLock);
        minX = std::min(minX, x0), maxX = std::max(maxX, x1);
        minY = std::min(minY, y0), maxY = std::max(maxY, y1);
    });
    const FrameWindow content =
        maxX < 0 ? FrameWindow{0, 0, 0, 0, W, H}
                 : FrameWindow{minX, minY, maxX - minX + 1, maxY - minY + 1, W, H};

    // Below one pixel (or for a radius that is not a number) the glow is the extraction itself.
    if (!(glowRadius >= 1.0f)) {
        if (haveWork) {
            for (int c = 0; c < 4; ++c)
                std::memcpy(glow[c], extracted[c], sizeof(float) * static_cast<std::size_t>(N));
        }
        return;
    }

    Plane<float> ownedScratch;
    if (!scratch) {
        ownedScratch = allocatePlane<float>(N);
        if (!ownedScratch) return;
        scratch = ownedScratch.get();
    }

    if (!haveWork) {
        // One scale at the plain radius, blurred in place. The radius is bounded like the pass
        // radii so that an out-of-range value cannot overflow the integer radius.
        const float radius = std::min(glowRadius, kGlowPassRadiusCap);
        for (float* plane : glow) blurThreeTimes(plane, plane, scratch, content, radius);
        forEachPixel(N, [&](std::int64_t i) { glowA[i] = std::min(1.0f, glowA[i]); });
        return;
    }

    float* const* source = workPlanes;
    float* const* work = workPlanes + 4;
    const float scales[2] = {kGlowScaleSmall, kGlowScaleLarge};
    const float weights[2] = {kGlowWeightSmall, kGlowWeightLarge};
    for (int pass = 0; pass < 2; ++pass) {
        const float passRadius = glowPassRadius(glowRadius, scales[pass]);
        const float weight = weights[pass];
        for (int c = 0; c < 4; ++c)
            blurThreeTimes(source[c], work[c], scratch, content, passRadius);
        if (pass == 0) {
            // The sum starts from 0 (0 + x, not x: the same float for every x, -0 included).
            forEachPixel(N, [&](std::int64_t i) {
                for (int c = 0; c < 4; ++c) glow[c][i] = 0.0f + weight * work[c][i];
            });
            continue;
        }
        // The second scale's share, then the square root that lifts the tails.
        forEachPixel(N, [&](std::int64_t i) {
            glowR[i] = std::sqrt(std::max(glowR[i] + weight * work[0][i], 0.0f));
            glowG[i] = std::sqrt(std::max(glowG[i] + weight * work[1][i], 0.0f));
            glowB[i] = std::sqrt(std::max(glowB[i] + weight * work[2][i], 0.0f));
            glowA[i] = std::min(1.0f, std::sqrt(std::max(glowA[i] + weight * work[3][i], 0.0f)));
        });
    }
}

}  // namespace lumet
