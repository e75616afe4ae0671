// Glow: smoothstep extraction of the bright colour, then two scales (a quarter and the full glow
// radius, weighted 0.55 and 0.45) of three successive fractional box blurs of radii 0.45, 0.40
// and 0.35 times the pass radius (together close to a Gaussian), then a square root that lifts the
// faint tails of the glow.
#include "shading/glow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/glow_pass.h"
#include "core/pixel_formulas.h"
#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// Three fractional box blurs of radii max(1, factor x radius) of source into plane (source may
// be plane itself), source being zero outside content; returns where plane may be non-zero. With
// `onThisThread` the passes run on the calling thread (see boxBlurContent).
FrameWindow blurThreeTimes(const float* source, float* plane, float* scratch, FrameWindow content,
                           float radius, bool onThisThread = false) {
    for (int pass = 0; pass < 3; ++pass) {
        const float r = glowBoxRadius(radius, pass);
        const std::int32_t whole = static_cast<std::int32_t>(r);
        content = boxBlurContent(source, plane, scratch, whole, r - static_cast<float>(whole),
                                 content, onThisThread);
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

// The first and one past the last non-zero byte of a row (0, 0 when it has none), eight bytes at
// a time.
std::pair<std::int32_t, std::int32_t> nonZeroSpan(const std::uint8_t* row, std::int32_t width) {
    auto word = [&](std::int32_t x) {
        std::uint64_t bytes;
        std::memcpy(&bytes, row + x, sizeof bytes);
        return bytes;
    };
    std::int32_t begin = 0;
    while (begin + 8 <= width && word(begin) == 0) begin += 8;
    while (begin < width && row[begin] == 0) ++begin;
    if (begin == width) return {0, 0};
    std::int32_t end = width;
    while (end - 8 >= begin && word(end - 8) == 0) end -= 8;
    while (row[end - 1] == 0) --end;
    return {begin, end};
}

// Where the alpha is not 0, as a window of the alpha's frame (empty when nowhere):
// outside it the extraction is 0, so the blurs need not filter what the glow cannot reach.
FrameWindow coveredWindow(PlaneView<const std::uint8_t> alpha) {
    const std::int32_t W = alpha.width, H = alpha.height;
    std::int32_t minX = W, maxX = -1, minY = H, maxY = -1;
    std::mutex boundsLock;
    ParallelRows(H, [&](std::int32_t begin, std::int32_t end) {
        std::int32_t x0 = W, x1 = -1, y0 = H, y1 = -1;
        for (std::int32_t y = begin; y < end; ++y) {
            const auto [first, last] =
                nonZeroSpan(alpha.data + static_cast<std::int64_t>(y) * W, W);
            if (first == last) continue;
            x0 = std::min(x0, first), x1 = std::max(x1, last - 1);
            y0 = std::min(y0, y), y1 = y;
        }
        const std::lock_guard<std::mutex> hold(boundsLock);
        minX = std::min(minX, x0), maxX = std::max(maxX, x1);
        minY = std::min(minY, y0), maxY = std::max(maxY, y1);
    });
    return maxX < 0 ? FrameWindow{0, 0, 0, 0, W, H}
                    : FrameWindow{minX, minY, maxX - minX + 1, maxY - minY + 1, W, H};
}

// The extraction along a run of n pixels: channel `own` times the smoothstep weight of the
// brightest of r, g and b, or (for the glow's alpha) the weight itself, where the alpha counts.
// Vector code on every lane (the compiler may evaluate both sides of the selects: exceptions are
// not trapped in this file); the same floats as one pixel at a time.
LUMET_AVX2_CLONES void extractRun(const float* __restrict r, const float* __restrict g,
                                  const float* __restrict b, const float* __restrict own,
                                  const std::uint8_t* __restrict a, float* __restrict out,
                                  std::int32_t n, bool weightOnly) {
    if (weightOnly) {
        for (std::int32_t x = 0; x < n; ++x)
            out[x] = glowExtracted(glowWeight(r[x], g[x], b[x]), a[x]);
    } else {
        for (std::int32_t x = 0; x < n; ++x)
            out[x] = glowExtracted(own[x] * glowWeight(r[x], g[x], b[x]), a[x]);
    }
}

// The two scales' weighted sum and the square root that lifts the glow's faint tails, over n
// pixels of `largeScale` in place, held to 1 for the glow's alpha.
LUMET_AVX2_CLONES void liftRun(const float* __restrict smallScale, float* __restrict largeScale,
                               std::int64_t n, bool alphaChannel) {
    // The sum starts from 0 (0 + x, not x: the same float for every x, -0 included).
    if (alphaChannel) {
        for (std::int64_t i = 0; i < n; ++i) {
            const float sum =
                (0.0f + kGlowWeightSmall * smallScale[i]) + kGlowWeightLarge * largeScale[i];
            largeScale[i] = std::min(1.0f, std::sqrt(std::max(sum, 0.0f)));
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) {
            const float sum =
                (0.0f + kGlowWeightSmall * smallScale[i]) + kGlowWeightLarge * largeScale[i];
            largeScale[i] = std::sqrt(std::max(sum, 0.0f));
        }
    }
}

// Row y of channel c (R, G, B, then the glow's alpha, which is the smoothstep itself) of the
// extraction: the smoothstep of the brightest shade channel, where the coverage counts. The shade
// covers `shadeAt` of the alpha's frame; outside it the shade, and so the extraction, is 0.
void extractRow(const RgbPlanes<const float>& shade, const FrameWindow& shadeAt,
                PlaneView<const std::uint8_t> alpha, int c, float* to, std::int32_t y) {
    const std::int64_t W = alpha.width;
    const std::int32_t sx0 = shadeAt.x, sx1 = shadeAt.x + shadeAt.width;
    float* out = to + y * W;
    if (!shadeAt.contains(sx0, y)) {
        std::memset(out, 0, static_cast<std::size_t>(W) * sizeof(float));
        return;
    }
    std::memset(out, 0, static_cast<std::size_t>(sx0) * sizeof(float));
    std::memset(out + sx1, 0, static_cast<std::size_t>(W - sx1) * sizeof(float));
    const std::int64_t shadeRow = static_cast<std::int64_t>(y - shadeAt.y) * shadeAt.width;
    const float* __restrict r = shade.r.data + shadeRow;
    const float* __restrict g = shade.g.data + shadeRow;
    const float* __restrict b = shade.b.data + shadeRow;
    extractRun(r, g, b,
               c == 0   ? r
               : c == 1 ? g
                        : b,
               alpha.data + y * W + sx0, out + sx0, sx1 - sx0, c == 3);
}

// One channel of the two-scale glow on the calling thread, in two planes of its own: the
// extraction into the channel's glow plane, its small scale into `smallBlur` (with `scratch`),
// its large scale in place, then the weighted sum and the square root that lifts the tails.
// Every plane is 0 outside what its blur reached, so the sum runs over the large scale's rows.
void glowChannel(const RgbPlanes<const float>& shade, const FrameWindow& shadeAt,
                 PlaneView<const std::uint8_t> alpha, const FrameWindow& content, int c,
                 float glowRadius, float* out, float* smallBlur, float* scratch) {
    const std::int64_t W = alpha.width;
    for (std::int32_t y = 0; y < alpha.height; ++y) {
        if (y < content.y || y >= content.y + content.height)
            std::memset(out + y * W, 0, static_cast<std::size_t>(W) * sizeof(float));
        else
            extractRow(shade, shadeAt, alpha, c, out, y);
    }
    blurThreeTimes(out, smallBlur, scratch, content, glowPassRadius(glowRadius, kGlowScaleSmall),
                   true);
    if (parallelWorkStopped()) return;
    const FrameWindow large = blurThreeTimes(out, out, scratch, content,
                                             glowPassRadius(glowRadius, kGlowScaleLarge), true);
    if (parallelWorkStopped()) return;
    const std::int64_t begin = large.y * W;
    liftRun(smallBlur + begin, out + begin, large.height * W, c == 3);
}

// Channels blurred at once: each on a worker of its own with two planes of that worker's.
unsigned glowChannelWorkers() { return parallelBandCount(4); }

}  // namespace

bool renderGlow(const RgbPlanes<const float>& shade, const FrameWindow& shadeAt,
                PlaneView<const std::uint8_t> alpha, const RgbaPlanes<float>& glowPlanes,
                float glowRadius, float* scratch, float* const* workPlanes) {
    const std::int32_t W = alpha.width, H = alpha.height;
    if (!usableTogether(shade.r, shade.g, shade.b) || shade.r.width != shadeAt.width ||
        shade.r.height != shadeAt.height || shadeAt.frameWidth != W || shadeAt.frameHeight != H ||
        shadeAt.x < 0 || shadeAt.y < 0 || shadeAt.x + shadeAt.width > W ||
        shadeAt.y + shadeAt.height > H ||
        !usableTogether(alpha, glowPlanes.r, glowPlanes.g, glowPlanes.b, glowPlanes.a))
        return false;
    float* glow[4] = {glowPlanes.r.data, glowPlanes.g.data, glowPlanes.b.data, glowPlanes.a.data};
    const std::int64_t N = static_cast<std::int64_t>(W) * H;

    bool haveWork = workPlanes != nullptr;
    for (int p = 0; haveWork && p < glowWorkPlaneCount(); ++p) haveWork = workPlanes[p] != nullptr;

    const FrameWindow content = coveredWindow(alpha);
    // The extraction alone, for a radius below one pixel and when the blurs have no planes.
    auto extractOnly = [&](int c) {
        ParallelRows(H, [&](std::int32_t begin, std::int32_t end) {
            for (std::int32_t y = begin; y < end; ++y)
                extractRow(shade, shadeAt, alpha, c, glow[c], y);
        });
    };

    // Below one pixel (or for a radius that is not a number) the glow is the extraction itself.
    if (!(glowRadius >= 1.0f)) {
        for (int c = 0; c < 4; ++c) extractOnly(c);
        return true;
    }

    if (!haveWork) {
        Plane<float> ownedScratch;
        if (!scratch) {
            ownedScratch = allocatePlane<float>(N);
            if (!ownedScratch) {
                for (int c = 0; c < 4; ++c) extractOnly(c);
                return true;
            }
            scratch = ownedScratch.get();
        }
        // One scale at the plain radius, blurred in place. The radius is bounded like the pass
        // radii so that an out-of-range value cannot overflow the integer radius.
        const float radius = std::min(glowRadius, kGlowPassRadiusCap);
        for (int c = 0; c < 4; ++c) {
            extractOnly(c);
            blurThreeTimes(glow[c], glow[c], scratch, content, radius);
        }
        float* glowA = glow[3];
        forEachPixel(N, [&](std::int64_t i) { glowA[i] = std::min(1.0f, glowA[i]); });
        return true;
    }

    // The four channels are independent: each runs whole on one thread, its blurs' passes one
    // after another, so that the many short passes of a glow need no threads of their own.
    const unsigned workers = glowChannelWorkers();
    ParallelRows(4, [&](std::int32_t begin, std::int32_t end) {
        const unsigned worker = std::min(parallelWorker(), workers - 1);
        for (int c = begin; c < end && !parallelWorkStopped(); ++c) {
            glowChannel(shade, shadeAt, alpha, content, c, glowRadius, glow[c],
                        workPlanes[2 * worker], workPlanes[2 * worker + 1]);
        }
    });
    return true;
}

std::int32_t glowWorkPlaneCount() { return 2 * static_cast<std::int32_t>(glowChannelWorkers()); }

void renderGlow(const RgbPlanes<const float>& shade, PlaneView<const std::uint8_t> alpha,
                const RgbaPlanes<float>& glow, float glowRadius, float* scratch,
                float* const* workPlanes) {
    renderGlow(shade, FrameWindow::whole(alpha.width, alpha.height), alpha, glow, glowRadius,
               scratch, workPlanes);
}

}  // namespace lumet
