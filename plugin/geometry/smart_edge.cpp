// Smart edge: Sobel colour gradient (the largest of the three channels' magnitudes), normalised,
// blurred and renormalised; heights are scaled down along strong edges (at most by 85 %) and the
// carved walls are then pulled towards a box-blurred copy of the heights.
#include "geometry/smart_edge.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/preview_scale.h"
#include "core/stage_constants.h"
#include "geometry/alpha_extraction.h"
#include "geometry/geometry_blur.h"
#include "geometry/pixel_bands.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// The edges are divided by their largest value, or by this where that is smaller.
constexpr float kEdgeMaximumLeast = 0.001f;

struct ColourPlanes {
    Plane<float> r, g, b;
    bool allocate(std::int64_t count) {
        r = allocatePlane<float>(count);
        g = allocatePlane<float>(count);
        b = allocatePlane<float>(count);
        return r && g && b;
    }
};

// Reads the input's colours into frame-size planes with the alpha extraction's placement; every
// pixel the input does not cover is 0.
void extractColours(const ImageView& input, std::int32_t offsetX, std::int32_t offsetY,
                    std::int32_t W, std::int32_t H, ColourPlanes& planes) {
    const std::int32_t depth = input.format.depth;
    const ChannelIndex c = channelIndex(input.format.order);
    const std::int64_t pixelBytes = input.format.bytesPerPixel();
    const std::uint32_t white16 = input.format.white16;
    // The input's columns that land in the frame: [xBegin, xEnd), none when xBegin == xEnd.
    const bool hasPixels = static_cast<bool>(input);
    const std::int64_t xBegin64 = std::max<std::int64_t>(0, -static_cast<std::int64_t>(offsetX));
    const std::int64_t xEnd64 =
        std::max(xBegin64, std::min<std::int64_t>(hasPixels ? input.width : 0,
                                                  static_cast<std::int64_t>(W) - offsetX));
    const std::int32_t xBegin = static_cast<std::int32_t>(xBegin64);
    const std::int32_t xEnd = static_cast<std::int32_t>(xEnd64);
    ParallelRows(H, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t fy = begin; fy < end; ++fy) {
            float* r = planes.r.get() + static_cast<std::int64_t>(fy) * W;
            float* g = planes.g.get() + static_cast<std::int64_t>(fy) * W;
            float* b = planes.b.get() + static_cast<std::int64_t>(fy) * W;
            const std::int64_t y = static_cast<std::int64_t>(fy) - offsetY;
            const bool covered = hasPixels && xBegin < xEnd && y >= 0 && y < input.height;
            // Columns [0, left) and [right, W) of the row are outside the input.
            const std::int32_t left = covered ? offsetX + xBegin : W;
            const std::int32_t right = covered ? offsetX + xEnd : W;
            for (float* plane : {r, g, b}) {
                std::fill(plane, plane + left, 0.0f);
                std::fill(plane + right, plane + W, 0.0f);
            }
            if (!covered) continue;
            const unsigned char* row =
                reinterpret_cast<const unsigned char*>(input.row(static_cast<std::int32_t>(y)));
            for (std::int32_t x = xBegin; x < xEnd; ++x) {
                const std::int32_t fx = offsetX + x;
                const unsigned char* at = row + static_cast<std::int64_t>(x) * pixelBytes;
                if (depth == kDepthFloat) {
                    float p[4];
                    std::memcpy(p, at, sizeof p);
                    r[fx] = p[c.r];
                    g[fx] = p[c.g];
                    b[fx] = p[c.b];
                } else if (depth == kDepth16) {
                    std::uint16_t p[4];
                    std::memcpy(p, at, sizeof p);
                    const float scale = 1.0f / 32768.0f;
                    r[fx] = static_cast<float>(channelOn32768(p[c.r], white16)) * scale;
                    g[fx] = static_cast<float>(channelOn32768(p[c.g], white16)) * scale;
                    b[fx] = static_cast<float>(channelOn32768(p[c.b], white16)) * scale;
                } else {
                    r[fx] = static_cast<float>(at[c.r]) / 255.0f;
                    g[fx] = static_cast<float>(at[c.g]) / 255.0f;
                    b[fx] = static_cast<float>(at[c.b]) / 255.0f;
                }
            }
        }
    });
}

// The squared Sobel gradient magnitude of one colour plane at column x of a working row, from
// the three working rows around it.
inline float sobelSquared(const float* top, const float* middle, const float* bottom,
                          std::int64_t x) {
    const float tl = top[x - 1], tc = top[x], tr = top[x + 1];
    const float ml = middle[x - 1], mr = middle[x + 1];
    const float bl = bottom[x - 1], bc = bottom[x], br = bottom[x + 1];
    const float gx = (-tl - 2.0f * ml - bl) + (tr + 2.0f * mr + br);
    const float gy = (-tl - 2.0f * tc - tr) + (bl + 2.0f * bc + br);
    return gx * gx + gy * gy;
}

// Columns [1, width - 1) of a row of edges from the rows above, at and below it of the three
// colour planes (each at the working width): the largest magnitude, the root of the largest
// square (the root is correctly rounded, so it keeps the order; a NaN square is passed over, as
// its root would be), 0 off the surface. A loop that becomes vector code, each lane the scalar
// operations.
LUMET_AVX2_CLONES void sobelRun(const float* const* top, const float* const* middle,
                                const float* const* bottom, const std::uint8_t* __restrict alpha,
                                float* __restrict edges, std::int32_t width) {
    const float *__restrict t0 = top[0], *__restrict t1 = top[1], *__restrict t2 = top[2];
    const float *__restrict m0 = middle[0], *__restrict m1 = middle[1], *__restrict m2 = middle[2];
    const float *__restrict b0 = bottom[0], *__restrict b1 = bottom[1], *__restrict b2 = bottom[2];
    for (std::int64_t x = 1; x < width - 1; ++x) {
        float e = 0.0f;
        e = std::max(e, sobelSquared(t0, m0, b0, x));
        e = std::max(e, sobelSquared(t1, m1, b1, x));
        e = std::max(e, sobelSquared(t2, m2, b2, x));
        edges[x] = alpha[x] < kSurfaceAlpha ? 0.0f : std::sqrt(e);
    }
}

}  // namespace

std::int32_t edgeBlurRadiusOf(float bevelDepth, float pixelScale) {
    return scaledPixels(static_cast<std::int32_t>(bevelDepth * 6.0f + 2.0f), pixelScale);
}

std::int32_t wallBlurRadiusOf(float edgeStrength, float pixelScale) {
    return scaledPixels(static_cast<std::int32_t>(edgeStrength * 3.0f + 1.0f), pixelScale);
}

namespace {

// The largest value of rows [from, to) of a plane `width` wide, at least `least`.
float largestEdge(const float* edges, std::int32_t width, std::int32_t from, std::int32_t to,
                  float least = kEdgeMaximumLeast, std::int32_t left = 0, std::int32_t right = -1) {
    std::atomic<float> maximum{least};
    const std::int64_t w = width;
    if (right < 0) right = width;
    ParallelRows(std::max(to - from, 0), [&](std::int32_t begin, std::int32_t end) {
        float local = least;
        for (std::int64_t y = from + begin; y < from + end; ++y)
            for (std::int64_t i = y * w + left; i < y * w + right; ++i)
                local = std::max(local, edges[i]);
        AtomicMax(maximum, local);
    });
    return maximum.load();
}

void scaleEdges(float* edges, std::int32_t W2, std::int32_t H2, float maximum) {
    const float scale = 1.0f / maximum;
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) edges[i] = edges[i] * scale;
    });
}

// The Sobel magnitudes of the layer's colours into `edges` (the coverage's size; 0 off the
// surface and on the border rows and columns). The working planes are the colour planes enlarged
// SS times by replication; each worker enlarges the colour rows it reads into rows of the working
// width, each once while the rows that need it pass. False when the planes cannot be had.
bool sobelEdges(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                std::int32_t SS, float* E) {
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::int32_t W = W2 / SS, H = H2 / SS;
    const std::uint8_t* alphaSS = coverage.data;
    ColourPlanes colours;
    if (!colours.allocate(static_cast<std::int64_t>(W) * H)) return false;
    extractColours(layer.image, layer.x, layer.y, W, H, colours);
    const std::int64_t w = W2;
    // Per worker: three enlarged rows of each of the three channels.
    constexpr int kSlots = 3;
    const unsigned workers = parallelBandCount(std::max(H2 - 2, 0));
    const std::int64_t perWorker = 3 * kSlots * w;
    const Plane<float> enlarged = allocatePlane<float>(workers * perWorker);
    if (!enlarged) return false;
    const float* planes[3] = {colours.r.get(), colours.g.get(), colours.b.get()};
    // Every pixel of the edge plane is written: the border rows and columns, and the pixels off
    // the surface, are 0.
    std::fill(E, E + w, 0.0f);
    std::fill(E + (H2 - 1) * w, E + H2 * w, 0.0f);
    ParallelRows(std::max(H2 - 2, 0), [&](std::int32_t begin, std::int32_t end) {
        float* own = enlarged.get() + std::min(parallelWorker(), workers - 1) * perWorker;
        std::int32_t slotRow[kSlots] = {-1, -1, -1};
        // The enlarged channel rows of colour row `source`, made in a slot that none of the rows
        // `keep` holds.
        auto rowsOf = [&](std::int32_t source, const std::int32_t (&keep)[3]) {
            int slot = 0;
            while (slot < kSlots && slotRow[slot] != source) ++slot;
            if (slot == kSlots) {
                slot = 0;
                while (slotRow[slot] == keep[0] || slotRow[slot] == keep[1] ||
                       slotRow[slot] == keep[2])
                    ++slot;
                slotRow[slot] = source;
                for (int c = 0; c < 3; ++c) {
                    const float* from = planes[c] + static_cast<std::int64_t>(source) * W;
                    float* to = own + (slot * 3 + c) * w;
                    for (std::int32_t x = 0; x < W; ++x)
                        for (std::int32_t k = 0; k < SS; ++k) to[x * SS + k] = from[x];
                }
            }
            return own + slot * 3 * w;
        };
        for (std::int32_t y = begin + 1; y < end + 1; ++y) {
            const std::int32_t need[3] = {(y - 1) / SS, y / SS, (y + 1) / SS};
            const float* rows[3];
            for (int k = 0; k < 3; ++k) rows[k] = rowsOf(need[k], need);
            const float* top[3] = {rows[0], rows[0] + w, rows[0] + 2 * w};
            const float* middle[3] = {rows[1], rows[1] + w, rows[1] + 2 * w};
            const float* bottom[3] = {rows[2], rows[2] + w, rows[2] + 2 * w};
            float* out = E + y * w;
            out[0] = out[w - 1] = 0.0f;
            sobelRun(top, middle, bottom, alphaSS + y * w, out, W2);
        }
    });
    return true;
}

bool usableLayout(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                  std::int32_t SS) {
    if (!layer.image || !coverage.data || SS < 1) return false;
    const std::int32_t W = coverage.width / SS, H = coverage.height / SS;
    return W >= 1 && H >= 1 && coverage.width == W * SS && coverage.height == H * SS;
}

}  // namespace

float smartEdgeSobelMaximum(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                            std::int32_t SS, std::int32_t from, std::int32_t to, std::int32_t left,
                            std::int32_t right) {
    if (!usableLayout(layer, coverage, SS)) return 0.0f;
    Plane<float> edges =
        allocatePlane<float>(static_cast<std::int64_t>(coverage.width) * coverage.height);
    if (!edges || !sobelEdges(layer, coverage, SS, edges.get())) return -1.0f;
    return largestEdge(edges.get(), coverage.width, from, to, 0.0f, left, right);
}

float smartEdgeBlurredMaximum(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                              std::int32_t SS, float preview, float bevelDepth, float sobelMaximum,
                              std::int32_t from, std::int32_t to, std::int32_t left,
                              std::int32_t right) {
    if (!usableLayout(layer, coverage, SS)) return 0.001f;
    Plane<float> edges =
        allocatePlane<float>(static_cast<std::int64_t>(coverage.width) * coverage.height);
    if (!edges || !sobelEdges(layer, coverage, SS, edges.get())) return -1.0f;
    float* E = edges.get();
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    scaleEdges(E, W2, H2, sobelMaximum);
    blurGeometryPlane(E, W2, H2, edgeBlurRadiusOf(bevelDepth, SS * preview), {});
    return largestEdge(E, W2, from, to, kEdgeMaximumLeast, left, right);
}

void applySmartEdge(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                    PlaneView<float> height, std::int32_t SS, float preview, float bevelDepth,
                    float edgeStrength, const GeometryAccelerators& accelerated,
                    const EdgeMaxima* maxima) {
    if (!usableTogether(coverage, height) || !usableLayout(layer, coverage, SS)) return;
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::uint8_t* alphaSS = coverage.data;
    float* heightMap = height.data;
    const std::int64_t count2 = static_cast<std::int64_t>(W2) * H2;

    Plane<float> edges = allocatePlane<float>(count2);
    if (!edges || !sobelEdges(layer, coverage, SS, edges.get())) return;
    float* E = edges.get();
    // Without any colour edge nothing is carved or pulled: the edges stay 0 through their blur.
    const float sobel = maxima ? maxima->sobel : largestEdge(E, W2, 0, H2, 0.0f);
    if (!(sobel > 0.0f)) return;
    scaleEdges(E, W2, H2, std::max(kEdgeMaximumLeast, sobel));
    blurGeometryPlane(E, W2, H2, edgeBlurRadiusOf(bevelDepth, SS * preview), accelerated);
    // The blurred edges divided by their largest value are read where they are used, not
    // written back: the same products.
    const float scale = 1.0f / (maxima ? maxima->blurred : largestEdge(E, W2, 0, H2));

    // The carved heights, and a copy of them for the walls' blur where the walls are pulled.
    const std::int32_t r = wallBlurRadiusOf(edgeStrength, SS * preview);
    const Plane<float> copy = r > 0 ? allocatePlane<float>(count2) : Plane<float>();
    float* carved = copy.get();
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) {
            const float e = E[i] * scale;
            if (alphaSS[i] >= kSurfaceAlpha && e > kEdgeCarveMin) {
                float v = std::min(1.0f, e * edgeStrength);
                v = v * v * (3.0f - 2.0f * v);
                v = std::min(kEdgeCarveMax, v);
                heightMap[i] = heightMap[i] * (1.0f - v);
            }
            if (carved) carved[i] = heightMap[i];
        }
    });
    if (!carved) return;
    blurGeometryPlane(carved, W2, H2, r, accelerated);
    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) {
            const float e = E[i] * scale;
            if (alphaSS[i] < kSurfaceAlpha || !(e > kEdgeWallMin)) continue;
            const float weight = std::min(std::max(2.0f * e, 0.0f), 1.0f);
            heightMap[i] = heightMap[i] + (carved[i] - heightMap[i]) * weight * kEdgeWallPull;
        }
    });
}

}  // namespace lumet
