// Surface shading per pixel through the shared formula (core/pixel_formulas.h): the rows run it
// over plain loops, which the compiler turns into vector code (with AVX2 where the processor has
// it), every lane through the scalar operations in their order.
#include "shading/surface_shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/pixel_formulas.h"
#include "parallel/parallel_rows.h"
#include "parallel/simd_clones.h"

namespace lumet {

namespace {

void normalise3(float x, float y, float z, float out[3]) {
    out[0] = x;
    out[1] = y;
    out[2] = z;
    pixelRenormalise(out);
}

}  // namespace

void makeShadeConstants(ShadeConstants& c, const RenderSettings& settings,
                        const SurfaceView& surface, const RgbPlanes<const float>& reflection,
                        float preview) {
    std::memset(&c, 0, sizeof(c));
    c.heightMap = surface.height.data;
    c.normals = surface.normals.data;
    c.envR = reflection.r.data;
    c.envG = reflection.g.data;
    c.envB = reflection.b.data;
    c.width = surface.height.width;
    c.height = surface.height.height;

    ShadeParams& k = c.shading;
    k.cavityGain = kCavityGain * (preview * preview);
    const float angle = settings.lightAngle * 3.1415927f / 180.0f;
    const float elevation = settings.lightHeight * 3.1415927f / 180.0f;
    normalise3(std::cos(angle) * std::cos(elevation), std::sin(angle) * std::cos(elevation),
               std::sin(elevation), k.lightDir);
    normalise3(k.lightDir[0], k.lightDir[1], k.lightDir[2] + 1.0f, k.halfDir);
    for (int i = 0; i < 3; ++i) {
        k.shadow[i] = settings.shadowColor[i] / 255.0f;
        k.midtone[i] = settings.midColor[i] / 255.0f;
        k.highlight[i] = settings.highColor[i] / 255.0f;
    }
    k.saturation = settings.saturation;
    k.tintBlend = settings.tintBlend;
    k.specular = settings.specular;
    k.metal = settings.metal;
    k.opacity = settings.opacity;
    k.envExposure = settings.envExposure;
    k.envContrast = settings.envContrast;
    // 2^(7 - 6 roughness^2): 128 at roughness 0, 2 at roughness 1.
    const float exponent = std::exp2(7.0f - 6.0f * settings.roughness * settings.roughness);
    k.specNorm = std::sqrt((exponent + 2.0f) / 6.2831855f);
    for (std::int32_t i = 0; i < kPowLutSize; ++i)
        k.powLut[i] = std::pow(static_cast<float>(i) * kPowLutStep, exponent);
}

ShadedPixel shadePixel(const ShadeConstants& c, std::int32_t x, std::int32_t y, float a) {
    if (a < kCoverageMin) return {0.0f, 0.0f, 0.0f, a};
    const std::int64_t i = static_cast<std::int64_t>(y) * c.width + x;
    const bool interior = x >= 1 && x < c.width - 1 && y >= 1 && y < c.height - 1;
    const float lap = interior ? shadeLaplacian(c.heightMap + i, c.width) : 0.0f;
    const float env[3] = {c.envR[i], c.envG[i], c.envB[i]};
    const float* n = c.normals + 3 * i;
    float rgb[3];
    shadeSurface(&c.shading, env, c.heightMap[i], n, shadeHighlightPower(&c.shading, n), interior,
                 lap, rgb);
    return {rgb[0], rgb[1], rgb[2], a};
}

namespace {

// Columns of a row shaded together, in groups of kShadeGroup.
constexpr std::int32_t kShadeBlock = 256;
constexpr std::int32_t kShadeGroup = 8;

// The planes of the row being shaded.
struct ShadeRow {
    const std::uint8_t* alpha;
    const float *heights, *normals, *envR, *envG, *envB;
    float *outR, *outG, *outB;
};

// A block's normals (in planes of their own), highlight powers and the groups that hold coverage.
struct ShadeBlock {
    float nx[kShadeBlock], ny[kShadeBlock], nz[kShadeBlock], power[kShadeBlock];
    int empty[kShadeBlock];
    bool covered[kShadeBlock / kShadeGroup];
};

// Columns [begin, end) of a row (at most kShadeBlock) into `b`: the highlight powers are read
// from the table pixel by pixel, apart from the rest of the formula.
inline __attribute__((always_inline)) void prepareBlock(const ShadeParams* k, const ShadeRow& r,
                                                        std::int32_t begin, std::int32_t end,
                                                        ShadeBlock& b) {
    for (std::int32_t x = begin; x < end; ++x) {
        const float* n = r.normals + 3 * x;
        b.nx[x - begin] = n[0], b.ny[x - begin] = n[1], b.nz[x - begin] = n[2];
        b.power[x - begin] = shadeHighlightPower(k, n);
    }
    LUMET_NO_LOOP_ALIASING
    for (std::int32_t x = begin; x < end; ++x)
        b.empty[x - begin] = shadeCoverage(r.alpha[x], r.heights[x]) < kCoverageMin;
    for (std::int32_t g = 0; g * kShadeGroup < end - begin; ++g) {
        int empty = 1;
        for (std::int32_t j = g * kShadeGroup; j < std::min(end - begin, (g + 1) * kShadeGroup);
             ++j)
            empty &= b.empty[j];
        b.covered[g] = !empty;
    }
}

// Columns [begin, end) of block `b`, which starts at column `first`. On a row whose pixels all
// have four neighbours in the plane (kInteriorRow) the Laplacian is read at every column, the
// neighbours of the first and last columns lying in the rows above and below, and counts from
// column 1 to width - 2; on the other rows it is not read.
template <bool kInteriorRow>
inline __attribute__((always_inline)) void shadeColumns(const ShadeParams* k, const ShadeRow& r,
                                                        const ShadeBlock& b, std::int32_t width,
                                                        std::int32_t first, std::int32_t begin,
                                                        std::int32_t end) {
    const std::uint8_t* alpha = r.alpha;
    const float *heights = r.heights, *envR = r.envR, *envG = r.envG, *envB = r.envB;
    float *outR = r.outR, *outG = r.outG, *outB = r.outB;
    LUMET_NO_LOOP_ALIASING
    for (std::int32_t x = begin; x < end; ++x) {
        const std::int32_t j = x - first;
        const float env[3] = {envR[x], envG[x], envB[x]};
        const float n[3] = {b.nx[j], b.ny[j], b.nz[j]};
        const int interior = kInteriorRow ? (x >= 1) & (x < width - 1) : 0;
        const float lap = kInteriorRow ? shadeLaplacian(heights + x, width) : 0.0f;
        float rgb[3];
        shadeCoveredPixel(k, alpha[x], env, heights[x], n, b.power[j], interior, lap, rgb);
        outR[x] = rgb[0], outG[x] = rgb[1], outB[x] = rgb[2];
    }
}

// The columns [x0, x1) of a row, a block at a time: runs of groups with coverage are shaded, the
// groups between them cleared.
LUMET_AVX2_CLONES
void shadeSpan(const ShadeConstants& c, const ShadeRow& r, std::int32_t x0, std::int32_t x1,
               bool interiorRow) {
    ShadeBlock b;
    for (std::int32_t first = x0; first < x1; first += kShadeBlock) {
        const std::int32_t last = std::min(x1, first + kShadeBlock);
        prepareBlock(&c.shading, r, first, last, b);
        std::int32_t begin = first;
        while (begin < last) {
            const bool covered = b.covered[(begin - first) / kShadeGroup];
            std::int32_t end = begin;
            while (end < last && b.covered[(end - first) / kShadeGroup] == covered)
                end = std::min(last, end + kShadeGroup);
            if (!covered) {
                for (std::int32_t x = begin; x < end; ++x) r.outR[x] = r.outG[x] = r.outB[x] = 0.0f;
            } else if (interiorRow) {
                shadeColumns<true>(&c.shading, r, b, c.width, first, begin, end);
            } else {
                shadeColumns<false>(&c.shading, r, b, c.width, first, begin, end);
            }
            begin = end;
        }
    }
}

}  // namespace

void shadeRows(const ShadeConstants& c, const SurfaceView& surface, const RgbPlanes<float>& out,
               std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1,
               bool outerStyle) {
    if (!usableTogether(surface.coverage, surface.height, out.r, out.g, out.b)) return;
    const std::int32_t W2 = surface.coverage.width;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, std::min(W2, c.width));
    y0 = std::max(y0, 0);
    y1 = std::min(y1, std::min(surface.coverage.height, c.height));
    for (std::int32_t y = y0; y < y1; ++y) {
        const std::uint8_t* alpha = surface.coverage.row(y);
        const float* height = surface.height.row(y);
        float* outR = out.r.row(y);
        float* outG = out.g.row(y);
        float* outB = out.b.row(y);
        // Empty rows (the window's margin) cost a test of every column and a clear.
        bool content = false;
        for (std::int32_t x = x0; x < x1 && !content; ++x)
            content = alpha[x] != 0 || (outerStyle && height[x] > kRaisedHeight);
        if (!content) {
            const std::size_t bytes = static_cast<std::size_t>(x1 - x0) * sizeof(float);
            std::memset(outR + x0, 0, bytes);
            std::memset(outG + x0, 0, bytes);
            std::memset(outB + x0, 0, bytes);
            continue;
        }
        const std::int64_t i = static_cast<std::int64_t>(y) * c.width;
        const ShadeRow planes{alpha,
                              c.heightMap + i,
                              c.normals + 3 * i,
                              c.envR + i,
                              c.envG + i,
                              c.envB + i,
                              outR,
                              outG,
                              outB};
        shadeSpan(c, planes, x0, x1, y >= 1 && y < c.height - 1);
    }
}

void shadeWindow(const ShadeConstants& c, const SurfaceView& surface, const RgbPlanes<float>& out,
                 bool outerStyle) {
    const std::int32_t width = surface.coverage.width, height = surface.coverage.height;
    if (width < 1 || height < 1) return;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        shadeRows(c, surface, out, 0, width, begin, end, outerStyle);
    });
}

}  // namespace lumet
