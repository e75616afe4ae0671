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

// The squared Sobel gradient magnitude of one colour plane at a working pixel, where the
// working plane is the colour plane enlarged SS times by replication: the three rows and three
// columns come as the colour plane's rows and the source column of each working column.
inline float sobelSquared(const float* top, const float* middle, const float* bottom,
                            std::int32_t left, std::int32_t centre, std::int32_t right) {
    const float tl = top[left], tc = top[centre], tr = top[right];
    const float ml = middle[left], mr = middle[right];
    const float bl = bottom[left], bc = bottom[centre], br = bottom[right];
    const float gx = (-tl - 2.0f * ml - bl) + (tr + 2.0f * mr + br);
    const float gy = (-tl - 2.0f * tc - tr) + (bl + 2.0f * bc + br);
    return gx * gx + gy * gy;
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
// surface and on the border rows and columns). False when the colour planes cannot be had.
bool sobelEdges(const LayerPlacement& layer, PlaneView<const std::uint8_t> coverage,
                std::int32_t SS, float* E) {
    const std::int32_t W2 = coverage.width, H2 = coverage.height;
    const std::int32_t W = W2 / SS, H = H2 / SS;
    const std::uint8_t* alphaSS = coverage.data;
    ColourPlanes colours;
    if (!colours.allocate(static_cast<std::int64_t>(W) * H)) return false;
    extractColours(layer.image, layer.x, layer.y, W, H, colours);
    Plane<std::int32_t> sourceColumn = allocatePlane<std::int32_t>(W2);
    if (!sourceColumn) return false;
    for (std::int32_t x = 0; x < W2; ++x) sourceColumn[x] = x / SS;
    const std::int64_t w = W2;
    const float* planes[3] = {colours.r.get(), colours.g.get(), colours.b.get()};
    // Every pixel of the edge plane is written: the border rows and columns, and the pixels off
    // the surface, are 0.
    std::fill(E, E + w, 0.0f);
    std::fill(E + (H2 - 1) * w, E + H2 * w, 0.0f);
    ParallelRows(std::max(H2 - 2, 0), [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin + 1; y < end + 1; ++y) {
            const std::int64_t top = static_cast<std::int64_t>((y - 1) / SS) * W;
            const std::int64_t middle = static_cast<std::int64_t>(y / SS) * W;
            const std::int64_t bottom = static_cast<std::int64_t>((y + 1) / SS) * W;
            E[y * w] = E[y * w + w - 1] = 0.0f;
            for (std::int32_t x = 1; x < W2 - 1; ++x) {
                const std::int64_t i = y * w + x;
                if (alphaSS[i] < kSurfaceAlpha) {
                    E[i] = 0.0f;
                    continue;
                }
                const std::int32_t left = sourceColumn[x - 1], centre = sourceColumn[x],
                                   right = sourceColumn[x + 1];
                // The largest magnitude is the root of the largest square (the root is
                // correctly rounded, so it keeps the order); a NaN square is passed over, as
                // its root would be.
                float e = 0.0f;
                for (const float* plane : planes) {
                    e = std::max(e, sobelSquared(plane + top, plane + middle, plane + bottom, left,
                                                 centre, right));
                }
                E[i] = std::sqrt(e);
            }
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
    scaleEdges(E, W2, H2, maxima ? maxima->blurred : largestEdge(E, W2, 0, H2));

    ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) {
            if (alphaSS[i] < kSurfaceAlpha || !(E[i] > kEdgeCarveMin)) continue;
            float v = std::min(1.0f, E[i] * edgeStrength);
            v = v * v * (3.0f - 2.0f * v);
            v = std::min(kEdgeCarveMax, v);
            heightMap[i] = heightMap[i] * (1.0f - v);
        }
    });

    const std::int32_t r = wallBlurRadiusOf(edgeStrength, SS * preview);
    if (r > 0) {
        Plane<float> copy = allocatePlane<float>(count2);
        if (copy) {
            std::memcpy(copy.get(), heightMap, planeBytes(count2, sizeof(float)));
            blurGeometryPlane(copy.get(), W2, H2, r, accelerated);
            ParallelPixels(W2, H2, [&](std::int64_t begin, std::int64_t end) {
                for (std::int64_t i = begin; i < end; ++i) {
                    if (alphaSS[i] < kSurfaceAlpha || !(E[i] > kEdgeWallMin)) continue;
                    const float weight = std::min(std::max(2.0f * E[i], 0.0f), 1.0f);
                    heightMap[i] = heightMap[i] + (copy[i] - heightMap[i]) * weight * kEdgeWallPull;
                }
            });
        }
    }
}

}  // namespace lumet
