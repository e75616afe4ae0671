// Output composition: derives the output alpha (layer alpha, brightness of surface outside it,
// Transparency, glow coverage), adds the glow, and writes 8, 16 or 32 bits per channel. Integer
// formats get a +-0.3 step ordered dither from a hash of the pixel position (the spatial hash
// primes 73856093 and 19349663), which breaks up banding in smooth metal gradients and is the
// same in every frame.
#include "shading/output_compose.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    FrameWindow window;       // the rectangle of the frame the glow and alpha planes hold
    FrameWindow shadeWindow;  // the rectangle the shade planes hold, inside `window`
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
    std::int32_t SS;
    const float* heightMap;  // the shade window at SS times its size
    const float* sharpRgb;  // the map's sharp colours, interleaved
    std::int32_t envW, envH;
    const std::uint8_t* alpha;
};

// Pixel (x, y) of the window.
ComposedPixel composePixel(const ComposeJob& job, std::int32_t x, std::int32_t y) {
    const std::int64_t i = static_cast<std::int64_t>(y) * job.window.width + x;
    const FrameWindow& sw = job.shadeWindow;
    const std::int32_t sx = x + job.window.x - sw.x, sy = y + job.window.y - sw.y;
    const bool shaded = sx >= 0 && sx < sw.width && sy >= 0 && sy < sw.height;
    const std::int64_t si = shaded ? static_cast<std::int64_t>(sy) * sw.width + sx : 0;
    float r = shaded && job.shadeR ? job.shadeR[si] : 0.0f;
    float g = shaded && job.shadeG ? job.shadeG[si] : 0.0f;
    float b = shaded && job.shadeB ? job.shadeB[si] : 0.0f;
    bool hasColor = r > 0.001f || g > 0.001f || b > 0.001f;
    const bool hasGlow = job.hasGlow && job.glowA[i] > 0.001f;

    if (job.showEnvMap) {
        if (job.smartEdge) {
            if (job.heightMap) {
                // Heights outside the shade window are 0.
                r = g = b =
                    shaded
                        ? job.heightMap[static_cast<std::int64_t>(job.SS) * sy * job.SS * sw.width +
                                        static_cast<std::int64_t>(job.SS) * sx]
                        : 0.0f;
                hasColor = true;
            }
        } else if (job.sharpRgb && job.envW > 0 && job.envH > 0) {
            const Rgb map = sampleBilinearWrapX(
                job.sharpRgb, job.sharpRgb + 1, job.sharpRgb + 2, job.envW, job.envH,
                static_cast<float>(x + job.window.x) / static_cast<float>(job.window.frameWidth),
                static_cast<float>(y + job.window.y) / static_cast<float>(job.window.frameHeight),
                3);
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

// Output row y (frame pixels): transparent outside the window, composed inside it.
void composeRow(const ComposeJob& job, std::int32_t y, std::int32_t columns, std::int32_t format,
                PF_EffectWorld& output) {
    const std::int64_t pixelBytes = format == kFormat32 ? 16 : format == kFormat16 ? 8 : 4;
    char* row =
        reinterpret_cast<char*>(output.data) + static_cast<std::int64_t>(y) * output.rowbytes;
    const FrameWindow& w = job.window;
    const bool inside = y >= w.y && y - w.y < w.height;
    const std::int32_t begin = inside ? std::min(w.x, columns) : columns;
    const std::int32_t end = inside ? std::min(w.x + w.width, columns) : columns;
    std::memset(row, 0, static_cast<std::size_t>(begin * pixelBytes));
    std::memset(row + end * pixelBytes, 0, static_cast<std::size_t>((columns - end) * pixelBytes));
    for (std::int32_t x = begin; x < end; ++x) {
        const ComposedPixel p = composePixel(job, x - w.x, y - w.y);
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
            const DitherBytes d = ditherBytes(x, y);
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
            const DitherBytes d = ditherBytes(x, y);
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

void composeOutput(const FrameWindow& window, const FrameWindow& shadeWindow,
                   const RgbPlanes<const float>& shade, const RgbaPlanes<const float>& glow,
                   PlaneView<const std::uint8_t> alpha, PlaneView<const float> height,
                   const EnvMap& env, const RenderSettings& settings, std::int32_t SS,
                   std::int32_t outputFormat, PF_EffectWorld& output) {
    if (window.frameWidth < 1 || window.frameHeight < 1 || !output.data) return;
    // Only the part of the frame that the world can hold is written.
    const std::int32_t columns =
        std::min<std::int32_t>(window.frameWidth, static_cast<std::int32_t>(output.width));
    const std::int32_t rows =
        std::min<std::int32_t>(window.frameHeight, static_cast<std::int32_t>(output.height));
    if (columns < 1 || rows < 1) return;
    const ComposeJob job{window,
                         shadeWindow,
                         shade.r.data,
                         shade.g.data,
                         shade.b.data,
                         glow.complete(),
                         glow.r.data,
                         glow.g.data,
                         glow.b.data,
                         glow.a.data,
                         settings.showEnvMap,
                         settings.smartEdge,
                         settings.opacity,
                         settings.glowIntensity,
                         std::max(SS, 1),
                         height.data,
                         env.sharpRgb,
                         env.envW,
                         env.envH,
                         alpha.data};
    ParallelRows(rows, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y)
            composeRow(job, y, columns, outputFormat, output);
    });
}

}  // namespace lumet
