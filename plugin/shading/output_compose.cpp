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
#include "parallel/simd_clones.h"

namespace lumet {

namespace {

inline float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// trunc(v) bounded to [0, limit]; NaN gives 0.
inline std::int32_t truncClamped(float v, float limit) {
    const float positive = v > 0.0f ? v : 0.0f;
    return static_cast<std::int32_t>(std::min(positive, limit));
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
    const float* sharpRgb;   // the map's sharp colours, interleaved
    std::int32_t envW, envH;
    const std::uint8_t* alpha;
    ChannelOrder order;
    float white16;  // the output's 16-bit white
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

// The integer channel of 8 and 16-bit output for colour v and dither byte d.
inline std::uint8_t channel8(float v, std::uint32_t d) {
    // The colour is not clamped before scaling; the integer clamp bounds it.
    return static_cast<std::uint8_t>(truncClamped(v * 255.0f + 0.6f * ditherOffset(d), 255.0f));
}
inline std::uint16_t channel16(float v, std::uint32_t d, float white) {
    const float dithered = clamp01(std::min(1.0f, v) + 0.00234375f * ditherOffset(d));
    return static_cast<std::uint16_t>(truncClamped(dithered * white, white));
}

// Writes pixel (x, y) of the frame in the output's format.
template <int kFormat>
void writePixel(const ComposeJob& job, const ComposedPixel& p, std::int32_t x, std::int32_t y,
                char* at) {
    const ChannelIndex c = channelIndex(job.order);
    if constexpr (kFormat == kFormat32) {
        // Float output is neither dithered nor clamped: glow may push colour above 1.
        float* out = reinterpret_cast<float*>(at);
        const bool none = p.empty;
        out[c.a] = none ? 0.0f : p.a, out[c.r] = none ? 0.0f : p.r;
        out[c.g] = none ? 0.0f : p.g, out[c.b] = none ? 0.0f : p.b;
    } else if constexpr (kFormat == kFormat16) {
        std::uint16_t* out = reinterpret_cast<std::uint16_t*>(at);
        if (p.empty) {
            std::memset(out, 0, 8);
            return;
        }
        const DitherBytes d = ditherBytes(x, y);
        out[c.a] = static_cast<std::uint16_t>(truncClamped(p.a * job.white16, job.white16));
        out[c.r] = channel16(p.r, d.r, job.white16), out[c.g] = channel16(p.g, d.g, job.white16);
        out[c.b] = channel16(p.b, d.b, job.white16);
    } else {
        std::uint8_t* out = reinterpret_cast<std::uint8_t*>(at);
        if (p.empty) {
            std::memset(out, 0, 4);
            return;
        }
        const DitherBytes d = ditherBytes(x, y);
        out[c.a] = static_cast<std::uint8_t>(truncClamped(p.a * 255.0f, 255.0f));
        out[c.r] = channel8(p.r, d.r), out[c.g] = channel8(p.g, d.g), out[c.b] = channel8(p.b, d.b);
    }
}

// Frame pixels (x + k, y) for k < n of 8 or 16-bit output from their composed values: the dither
// from the position, the integer channels, all zeros where empty. Branch-free, so that the
// compiler can turn the loop into vector code; the same arithmetic as writePixel.
template <int kFormat, bool kRgba>
LUMET_AVX2_CLONES void writeIntegerRun(const float* A, const float* R, const float* G,
                                       const float* B, const std::uint8_t* empty, std::int32_t n,
                                       std::int32_t x, std::int32_t y, float white16, char* out) {
    // Channel shifts within the packed pixel: ARGB or RGBA in memory order.
    constexpr int kA = kRgba ? 3 : 0, kR = kRgba ? 0 : 1, kG = kRgba ? 1 : 2, kB = kRgba ? 2 : 3;
    const std::uint32_t hy = static_cast<std::uint32_t>(y) * 19349663u;
    for (std::int32_t k = 0; k < n; ++k) {
        const std::uint32_t hx = static_cast<std::uint32_t>(x + k) * 73856093u;
        const std::uint32_t dr = (hx ^ hy) & 255u, dg = ((hx + 93u) ^ hy) & 255u;
        const std::uint32_t db = ((hy - 97u) ^ hx) & 255u;
        const std::uint32_t keep = empty[k] ? 0u : ~0u;
        if constexpr (kFormat == kFormat8) {
            const std::uint32_t a = static_cast<std::uint32_t>(truncClamped(A[k] * 255.0f, 255.0f));
            const std::uint32_t pixel = a << 8 * kA |
                                        static_cast<std::uint32_t>(channel8(R[k], dr)) << 8 * kR |
                                        static_cast<std::uint32_t>(channel8(G[k], dg)) << 8 * kG |
                                        static_cast<std::uint32_t>(channel8(B[k], db)) << 8 * kB;
            const std::uint32_t value = pixel & keep;
            std::memcpy(out + 4 * std::int64_t{k}, &value, 4);
        } else {
            const std::uint64_t a =
                static_cast<std::uint32_t>(truncClamped(A[k] * white16, white16));
            const std::uint64_t pixel = a << 16 * kA |
                                        std::uint64_t{channel16(R[k], dr, white16)} << 16 * kR |
                                        std::uint64_t{channel16(G[k], dg, white16)} << 16 * kG |
                                        std::uint64_t{channel16(B[k], db, white16)} << 16 * kB;
            const std::uint64_t value = pixel & (std::uint64_t{keep} << 32 | keep);
            std::memcpy(out + 8 * std::int64_t{k}, &value, 8);
        }
    }
}

// Float output is neither dithered nor clamped: glow may push colour above 1.
template <bool kRgba>
void writeFloatRun(const float* A, const float* R, const float* G, const float* B,
                   const std::uint8_t* empty, std::int32_t n, char* out) {
    constexpr int kA = kRgba ? 3 : 0, kR = kRgba ? 0 : 1, kG = kRgba ? 1 : 2, kB = kRgba ? 2 : 3;
    float* __restrict floats = reinterpret_cast<float*>(out);
    for (std::int32_t k = 0; k < n; ++k) {
        const bool none = empty[k];
        floats[4 * k + kA] = none ? 0.0f : A[k];
        floats[4 * k + kR] = none ? 0.0f : R[k];
        floats[4 * k + kG] = none ? 0.0f : G[k];
        floats[4 * k + kB] = none ? 0.0f : B[k];
    }
}

// composePixel without the map view, for a run of window row y whose colour is read from r, g, b
// (null: no colour, outside the shade window) and whose glow, when kGlow, from the glow planes:
// the same operations on every pixel, computed for a block of pixels at a time without branches
// on the pixel, then written in the output's format.
template <int kFormat, bool kGlow, bool kGlass, bool kShaded>
void composeRun(const ComposeJob& job, std::int32_t y, std::int32_t x0, std::int32_t x1,
                const float* r, const float* g, const float* b, char* out) {
    static_assert(kFormat8 == 0, "8-bit pixels are 4 bytes, 16-bit 8, float 16");
    constexpr std::int64_t kPixelBytes = kFormat == kFormat32 ? 16 : kFormat == kFormat16 ? 8 : 4;
    constexpr std::int32_t kBlock = 256;
    static const std::uint8_t kNoCoverage[kBlock] = {};
    const std::int64_t rowStart = static_cast<std::int64_t>(y) * job.window.width;
    const std::int32_t frameY = y + job.window.y;
    const float opacityFactor = 1.0f - job.opacity;
    const float gi = job.glowIntensity;
    alignas(32) float A[kBlock], R[kBlock], G[kBlock], B[kBlock];
    alignas(32) std::uint8_t empty[kBlock];
    for (std::int32_t start = x0; start < x1; start += kBlock) {
        const std::int32_t n = std::min(kBlock, x1 - start);
        const std::int64_t i0 = rowStart + start;
        const std::int32_t c0 = start - x0;
        const std::uint8_t* __restrict alphaRow = job.alpha ? job.alpha + i0 : kNoCoverage;
        const float* __restrict glowR = kGlow ? job.glowR + i0 : nullptr;
        const float* __restrict glowG = kGlow ? job.glowG + i0 : nullptr;
        const float* __restrict glowB = kGlow ? job.glowB + i0 : nullptr;
        const float* __restrict glowA = kGlow ? job.glowA + i0 : nullptr;
        const float* __restrict sr = kShaded ? r + c0 : nullptr;
        const float* __restrict sg = kShaded ? g + c0 : nullptr;
        const float* __restrict sb = kShaded ? b + c0 : nullptr;
        for (std::int32_t k = 0; k < n; ++k) {
            float cr = 0.0f, cg = 0.0f, cb = 0.0f;
            if constexpr (kShaded) cr = sr[k], cg = sg[k], cb = sb[k];
            const bool hasColor = (cr > 0.001f) | (cg > 0.001f) | (cb > 0.001f);
            float ga = 0.0f;
            if constexpr (kGlow) ga = glowA[k];
            const bool hasGlow = kGlow && ga > 0.001f;
            const std::uint8_t a8 = alphaRow[k];
            empty[k] = (a8 < 2) & !hasColor & !hasGlow;
            float alpha = static_cast<float>(a8) / 255.0f;
            // Surface outside the layer's alpha (an outer bevel) is as opaque as it is bright.
            const float bright = clamp01(std::max(std::max(cr, cg), cb));
            alpha = ((a8 < 2) & hasColor) ? bright : alpha;
            if constexpr (kGlass) {
                // Glass: dark parts become more transparent than bright ones.
                const float lum = clamp01(0.2126f * cr + 0.7152f * cg + 0.0722f * cb);
                alpha *= 1.0f + (lum - 1.0f) * opacityFactor;
            }
            if constexpr (kGlow) {
                const float gr = gi * glowR[k], gg = gi * glowG[k], gb = gi * glowB[k];
                cr = hasGlow ? cr + gr : cr;
                cg = hasGlow ? cg + gg : cg;
                cb = hasGlow ? cb + gb : cb;
                alpha = hasGlow ? std::max(alpha, std::min(1.0f, ga)) : alpha;
            }
            A[k] = std::min(1.0f, alpha), R[k] = cr, G[k] = cg, B[k] = cb;
        }
        char* to = out + c0 * kPixelBytes;
        if constexpr (kFormat == kFormat32) {
            if (job.order == ChannelOrder::kRgba)
                writeFloatRun<true>(A, R, G, B, empty, n, to);
            else
                writeFloatRun<false>(A, R, G, B, empty, n, to);
        } else if (job.order == ChannelOrder::kRgba) {
            writeIntegerRun<kFormat, true>(A, R, G, B, empty, n, start + job.window.x, frameY,
                                           job.white16, to);
        } else {
            writeIntegerRun<kFormat, false>(A, R, G, B, empty, n, start + job.window.x, frameY,
                                            job.white16, to);
        }
    }
}

// Window row y from window column x0 to x1: the run left of the shade window, the shaded run,
// the run right of it.
template <int kFormat, bool kGlow, bool kGlass>
void composeWindowRow(const ComposeJob& job, std::int32_t y, std::int32_t x0, std::int32_t x1,
                      char* out) {
    constexpr std::int64_t kPixelBytes = kFormat == kFormat32 ? 16 : kFormat == kFormat16 ? 8 : 4;
    const FrameWindow& sw = job.shadeWindow;
    const std::int32_t sy = y + job.window.y - sw.y;
    const bool shadedRow = sy >= 0 && sy < sw.height && job.shadeR && job.shadeG && job.shadeB;
    // The shade window's columns, in window columns, within [x0, x1).
    const std::int32_t left = sw.x - job.window.x;
    const std::int32_t s0 = shadedRow ? std::clamp(left, x0, x1) : x1;
    const std::int32_t s1 = shadedRow ? std::clamp(left + sw.width, s0, x1) : x1;
    composeRun<kFormat, kGlow, kGlass, false>(job, y, x0, s0, nullptr, nullptr, nullptr, out);
    if (s0 < s1) {
        const std::int64_t si = static_cast<std::int64_t>(sy) * sw.width + (s0 - left);
        composeRun<kFormat, kGlow, kGlass, true>(job, y, s0, s1, job.shadeR + si, job.shadeG + si,
                                                 job.shadeB + si, out + (s0 - x0) * kPixelBytes);
    }
    composeRun<kFormat, kGlow, kGlass, false>(job, y, s1, x1, nullptr, nullptr, nullptr,
                                              out + (s1 - x0) * kPixelBytes);
}

template <int kFormat>
void composeWindowRowFor(const ComposeJob& job, std::int32_t y, std::int32_t x0, std::int32_t x1,
                         char* out) {
    const bool glass = job.opacity < 0.99f;
    if (job.hasGlow) {
        glass ? composeWindowRow<kFormat, true, true>(job, y, x0, x1, out)
              : composeWindowRow<kFormat, true, false>(job, y, x0, x1, out);
    } else {
        glass ? composeWindowRow<kFormat, false, true>(job, y, x0, x1, out)
              : composeWindowRow<kFormat, false, false>(job, y, x0, x1, out);
    }
}

// A view row holding frame row fy, frame columns [fx0, fx0 + n): transparent outside the window
// (which lies inside the frame), composed inside it.
void composeRow(const ComposeJob& job, std::int32_t fy, std::int32_t fx0, std::int32_t n,
                char* row, const PixelFormat& pixelFormat) {
    const std::int32_t format = pixelFormat.depth;
    const std::int64_t pixelBytes = pixelFormat.bytesPerPixel();
    const FrameWindow& w = job.window;
    const bool inside = fy >= w.y && fy - w.y < w.height;
    const std::int32_t fx1 = fx0 + n;
    const std::int32_t begin = inside ? std::clamp(w.x, fx0, fx1) : fx1;
    const std::int32_t end = inside ? std::clamp(w.x + w.width, begin, fx1) : fx1;
    std::memset(row, 0, static_cast<std::size_t>((begin - fx0) * pixelBytes));
    std::memset(row + (end - fx0) * pixelBytes, 0,
                static_cast<std::size_t>((fx1 - end) * pixelBytes));
    if (begin >= end) return;
    char* out = row + (begin - fx0) * pixelBytes;
    if (!job.showEnvMap) {
        if (format == kFormat32)
            composeWindowRowFor<kFormat32>(job, fy - w.y, begin - w.x, end - w.x, out);
        else if (format == kFormat16)
            composeWindowRowFor<kFormat16>(job, fy - w.y, begin - w.x, end - w.x, out);
        else
            composeWindowRowFor<kFormat8>(job, fy - w.y, begin - w.x, end - w.x, out);
        return;
    }
    for (std::int32_t x = begin; x < end; ++x, out += pixelBytes) {
        const ComposedPixel p = composePixel(job, x - w.x, fy - w.y);
        if (format == kFormat32)
            writePixel<kFormat32>(job, p, x, fy, out);
        else if (format == kFormat16)
            writePixel<kFormat16>(job, p, x, fy, out);
        else
            writePixel<kFormat8>(job, p, x, fy, out);
    }
}

}  // namespace

void composeOutput(const FrameWindow& window, const FrameWindow& shadeWindow,
                   const RgbPlanes<const float>& shade, const RgbaPlanes<const float>& glow,
                   PlaneView<const std::uint8_t> alpha, PlaneView<const float> height,
                   const EnvMap& env, const RenderSettings& settings, std::int32_t SS,
                   const ImageView& output, std::int32_t outputX, std::int32_t outputY) {
    if (window.frameWidth < 1 || window.frameHeight < 1 || !output) return;
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
                         alpha.data,
                         output.format.order,
                         static_cast<float>(output.format.white16)};
    ParallelRows(output.height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y)
            composeRow(job, y + outputY, outputX, output.width, output.row(y), output.format);
    });
}

}  // namespace lumet
