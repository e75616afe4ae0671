// Output composition: derives the output alpha (layer alpha, brightness of surface outside it,
// Transparency, glow coverage), adds the glow, and writes 8, 16 or 32 bits per channel. Integer
// formats get a +-0.3 step ordered dither from a hash of the pixel position (the spatial hash
// primes 73856093 and 19349663), which breaks up banding in smooth metal gradients and is the
// same in every frame.
#include "shading/output_compose.h"

#include <algorithm>
#include <cmath>

#include "envmap/env_map.h"
#include "parallel/parallel_rows.h"

namespace lumet {

namespace {

inline float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// trunc(v) bounded to [0, limit]; NaN gives 0.
inline std::int32_t truncClamped(float v, float limit) {
    if (!(v > 0.0f)) return 0;
    if (v >= limit) return static_cast<std::int32_t>(limit);
    return static_cast<std::int32_t>(v);
}

inline float ditherOffset(std::uint32_t d) {
    return static_cast<float>(static_cast<std::int32_t>(d) - 128) / 256.0f;
}

struct ComposedPixel {
    float a, r, g, b;
    bool empty;  // no coverage, colour or glow: written as all zeros
};

struct ComposeJob {
    std::int32_t W, H;
    const float* shadeR;
    const float* shadeG;
    const float* shadeB;
    bool hasGlow;
    const float* glowR;
    const float* glowG;
    const float* glowB;
    const float* glowA;
    bool showEnvMap;
    bool smartEdge;
    float opacity;
    float glowIntensity;
    std::int32_t SS, W2, H2;
    const float* heightMap;
    const float* sharpR;
    const float* sharpG;
    const float* sharpB;
    std::int32_t envW, envH;
    const std::uint8_t* alpha;
};

ComposedPixel composePixel(const ComposeJob& job, std::int32_t x, std::int32_t y) {
    const std::int64_t i = static_cast<std::int64_t>(y) * job.W + x;
    float r = job.shadeR ? job.shadeR[i] : 0.0f;
    float g = job.shadeG ? job.shadeG[i] : 0.0f;
    float b = job.shadeB ? job.shadeB[i] : 0.0f;
    bool hasColor = r > 0.001f || g > 0.001f || b > 0.001f;
    const bool hasGlow = job.hasGlow && job.glowA[i] > 0.001f;

    if (job.showEnvMap) {
        if (job.smartEdge) {
            if (job.heightMap) {
                const std::int64_t sx = static_cast<std::int64_t>(job.SS) * x;
                const std::int64_t sy = static_cast<std::int64_t>(job.SS) * y;
                if (sx < job.W2 && sy < job.H2) {
                    r = g = b = job.heightMap[sy * job.W2 + sx];
                    hasColor = true;
                }
            }
        } else if (job.sharpR && job.sharpG && job.sharpB && job.envW > 0 && job.envH > 0) {
            const Rgb map =
                sampleBilinearWrapX(job.sharpR, job.sharpG, job.sharpB, job.envW, job.envH,
                                    static_cast<float>(x) / static_cast<float>(job.W),
                                    static_cast<float>(y) / static_cast<float>(job.H));
            r = clamp01(map.r);
            g = clamp01(map.g);
            b = clamp01(map.b);
            hasColor = true;
        }
    }

    const std::uint8_t a8 = job.alpha ? job.alpha[i] : 0;
    if (a8 < 2 && !hasColor && !hasGlow) return {0.0f, 0.0f, 0.0f, 0.0f, true};

    float alpha = static_cast<float>(a8) / 255.0f;
    // Surface outside the layer's alpha (an outer bevel) is as opaque as it is bright.
    if (a8 < 2 && hasColor) alpha = clamp01(std::max({r, g, b}));
    if (job.opacity < 0.99f) {
        // Glass: dark parts become more transparent than bright ones.
        const float lum = clamp01(0.2126f * r + 0.7152f * g + 0.0722f * b);
        alpha *= 1.0f + (lum - 1.0f) * (1.0f - job.opacity);
    }
    if (hasGlow) {
        r += job.glowIntensity * job.glowR[i];
        g += job.glowIntensity * job.glowG[i];
        b += job.glowIntensity * job.glowB[i];
        alpha = std::max(alpha, std::min(1.0f, job.glowA[i]));
    }
    alpha = std::min(1.0f, alpha);
    return {alpha, r, g, b, false};
}

template <class Pixel>
Pixel* pixelAt(PF_EffectWorld& world, std::int32_t x, std::int32_t y) {
    char* row = reinterpret_cast<char*>(world.data) + static_cast<std::int64_t>(y) * world.rowbytes;
    return reinterpret_cast<Pixel*>(row) + x;
}

void composeRow(const ComposeJob& job, std::int32_t y, std::int32_t columns, std::int32_t format,
                PF_EffectWorld& output) {
    for (std::int32_t x = 0; x < columns; ++x) {
        const ComposedPixel p = composePixel(job, x, y);
        const DitherBytes d = ditherBytes(x, y);
        if (format == kFormat32) {
            PF_PixelFloat* out = pixelAt<PF_PixelFloat>(output, x, y);
            // Float output is neither dithered nor clamped: glow may push colour above 1.
            *out =
                p.empty ? PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f} : PF_PixelFloat{p.a, p.r, p.g, p.b};
        } else if (format == kFormat16) {
            PF_Pixel16* out = pixelAt<PF_Pixel16>(output, x, y);
            if (p.empty) {
                *out = PF_Pixel16{0, 0, 0, 0};
                continue;
            }
            auto channel = [](float v, std::uint32_t dither) {
                const float dithered =
                    clamp01(std::min(1.0f, v) + 0.00234375f * ditherOffset(dither));
                return static_cast<A_u_short>(truncClamped(dithered * 32768.0f, 32768.0f));
            };
            out->alpha = static_cast<A_u_short>(truncClamped(p.a * 32768.0f, 32768.0f));
            out->red = channel(p.r, d.r);
            out->green = channel(p.g, d.g);
            out->blue = channel(p.b, d.b);
        } else {
            PF_Pixel8* out = pixelAt<PF_Pixel8>(output, x, y);
            if (p.empty) {
                *out = PF_Pixel8{0, 0, 0, 0};
                continue;
            }
            // The colour is not clamped before scaling; the integer clamp bounds it.
            auto channel = [](float v, std::uint32_t dither) {
                return static_cast<A_u_char>(
                    truncClamped(v * 255.0f + 0.6f * ditherOffset(dither), 255.0f));
            };
            out->alpha = static_cast<A_u_char>(truncClamped(p.a * 255.0f, 255.0f));
            out->red = channel(p.r, d.r);
            out->green = channel(p.g, d.g);
            out->blue = channel(p.b, d.b);
        }
    }
}

}  // namespace

DitherBytes ditherBytes(std::int32_t x, std::int32_t y) {
    const std::uint32_t hx = static_cast<std::uint32_t>(x) * 73856093u;
    const std::uint32_t hy = static_cast<std::uint32_t>(y) * 19349663u;
    return {(hx ^ hy) & 255u, ((hx + 93u) ^ hy) & 255u, ((hy - 97u) ^ hx) & 255u};
}

void composeOutput(std::int32_t W, std::int32_t H, const float* shadeR, const float* shadeG,
                   const float* shadeB, bool hasGlow, const float* glowR, const float* glowG,
                   const float* glowB, const float* glowA, bool showEnvMap,
                   const RenderSettings& settings, std::int32_t SS, std::int32_t W2,
                   std::int32_t H2, const float* heightMap, const float* sharpR,
                   const float* sharpG, const float* sharpB, std::int32_t envW, std::int32_t envH,
                   const std::uint8_t* alpha, std::int32_t outputFormat, PF_EffectWorld& output) {
    if (W < 1 || H < 1 || !output.data) return;
    // Only the part of the planes that the world can hold is written.
    const std::int32_t columns = std::min<std::int32_t>(W, static_cast<std::int32_t>(output.width));
    const std::int32_t rows = std::min<std::int32_t>(H, static_cast<std::int32_t>(output.height));
    if (columns < 1 || rows < 1) return;
    const ComposeJob job{W,
                         H,
                         shadeR,
                         shadeG,
                         shadeB,
                         hasGlow && glowR && glowG && glowB && glowA,
                         glowR,
                         glowG,
                         glowB,
                         glowA,
                         showEnvMap,
                         settings.smartEdge,
                         settings.opacity,
                         settings.glowIntensity,
                         std::max(SS, 1),
                         W2,
                         H2,
                         heightMap,
                         sharpR,
                         sharpG,
                         sharpB,
                         envW,
                         envH,
                         alpha};
    ParallelRows(rows, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y)
            composeRow(job, y, columns, outputFormat, output);
    });
}

}  // namespace lumet
