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
    const float* shadeRgb[3] = {shade.r.data, shade.g.data, shade.b.data};
    float* glow[4] = {glowPlanes.r.data, glowPlanes.g.data, glowPlanes.b.data, glowPlanes.a.data};
    const std::int64_t N = static_cast<std::int64_t>(W) * H;

    bool haveWork = workPlanes != nullptr;
    for (int p = 0; haveWork && p < kGlowWorkPlanes; ++p) haveWork = workPlanes[p] != nullptr;

    // The rows and columns where the alpha is not 0: outside them the extraction is 0, so the
    // blurs need not filter what the glow cannot reach.
    std::int32_t minX = W, maxX = -1, minY = H, maxY = -1;
    std::mutex boundsLock;
    ParallelRows(H, [&](std::int32_t begin, std::int32_t end) {
        std::int32_t x0 = W, x1 = -1, y0 = H, y1 = -1;
        for (std::int32_t y = begin; y < end; ++y) {
            const std::uint8_t* row = alpha.data + static_cast<std::int64_t>(y) * W;
            for (std::int32_t x = 0; x < W; ++x) {
                if (row[x] == 0) continue;
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = y;
            }
        }
        const std::lock_guard<std::mutex> hold(boundsLock);
        minX = std::min(minX, x0), maxX = std::max(maxX, x1);
        minY = std::min(minY, y0), maxY = std::max(maxY, y1);
    });
    const FrameWindow content =
        maxX < 0 ? FrameWindow{0, 0, 0, 0, W, H}
                 : FrameWindow{minX, minY, maxX - minX + 1, maxY - minY + 1, W, H};

    // Channel c (R, G, B, then the glow's alpha, which is the smoothstep itself) of the
    // extraction: the smoothstep of the brightest shade channel, where the coverage counts.
    auto extract = [&](int c, float* to) {
        forEachPixel(N, [&](std::int64_t i) {
            const float a = static_cast<float>(alpha.data[i]) / 255.0f;
            if (a < kGlowCoverageMin) {
                to[i] = 0.0f;
                return;
            }
            const float brightest = std::max({shadeRgb[0][i], shadeRgb[1][i], shadeRgb[2][i]});
            const float t = std::clamp((brightest - kGlowThreshold) / kGlowKnee, 0.0f, 1.0f);
            const float s = t * t * (3.0f - 2.0f * t);
            to[i] = c < 3 ? shadeRgb[c][i] * s : s;
        });
    };

    // Below one pixel (or for a radius that is not a number) the glow is the extraction itself.
    if (!(glowRadius >= 1.0f)) {
        for (int c = 0; c < 4; ++c) extract(c, glow[c]);
        return;
    }

    Plane<float> ownedScratch;
    if (!scratch) {
        ownedScratch = allocatePlane<float>(N);
        if (!ownedScratch) {
            for (int c = 0; c < 4; ++c) extract(c, glow[c]);
            return;
        }
        scratch = ownedScratch.get();
    }

    if (!haveWork) {
        // One scale at the plain radius, blurred in place. The radius is bounded like the pass
        // radii so that an out-of-range value cannot overflow the integer radius.
        const float radius = std::min(glowRadius, kGlowPassRadiusCap);
        for (int c = 0; c < 4; ++c) {
            extract(c, glow[c]);
            blurThreeTimes(glow[c], glow[c], scratch, content, radius);
        }
        float* glowA = glow[3];
        forEachPixel(N, [&](std::int64_t i) { glowA[i] = std::min(1.0f, glowA[i]); });
        return;
    }

    // A channel at a time, through one source and one work plane: the extraction, the two scales'
    // blurs and their weighted sum, then the square root that lifts the tails.
    float* const source = workPlanes[0];
    float* const work = workPlanes[1];
    const float scales[2] = {kGlowScaleSmall, kGlowScaleLarge};
    const float weights[2] = {kGlowWeightSmall, kGlowWeightLarge};
    for (int c = 0; c < 4; ++c) {
        extract(c, source);
        float* out = glow[c];
        for (int pass = 0; pass < 2; ++pass) {
            const float passRadius = glowPassRadius(glowRadius, scales[pass]);
            const float weight = weights[pass];
            blurThreeTimes(source, work, scratch, content, passRadius);
            if (pass == 0) {
                // The sum starts from 0 (0 + x, not x: the same float for every x, -0 included).
                forEachPixel(N, [&](std::int64_t i) { out[i] = 0.0f + weight * work[i]; });
            } else if (c < 3) {
                forEachPixel(N, [&](std::int64_t i) {
                    out[i] = std::sqrt(std::max(out[i] + weight * work[i], 0.0f));
                });
            } else {
                forEachPixel(N, [&](std::int64_t i) {
                    out[i] = std::min(1.0f, std::sqrt(std::max(out[i] + weight * work[i], 0.0f)));
                });
            }
        }
    }
}

}  // namespace lumet
