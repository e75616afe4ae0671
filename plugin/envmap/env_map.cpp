// Environment-map preparation: the built-in maps (raw RGB or the Diamond JPEG) and custom layers
// resampled into the 2048 x 1024 sharp planes, and the smooth planes derived from them by a
// highlight boost and the wrapping Gaussian blur.
#include "envmap/env_map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "envmap/bicubic_taps.h"
#include "envmap/builtin_maps.h"
#include "envmap/env_map_sharp.h"
#include "parallel/blur.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {


std::int64_t pixelCount(std::int32_t w, std::int32_t h) { return static_cast<std::int64_t>(w) * h; }

bool validPlanes(const float* const* planes, std::int32_t envW, std::int32_t envH) {
    if (envW < 1 || envH < 1) return false;
    for (int i = 0; i < 6; ++i)
        if (!planes[i]) return false;
    return true;
}

// Bicubic enlargement of the source planes into the sharp planes: the sampler at u = x / envW,
// v = y / envH, computed separably. Every output column reads the same four source columns at
// the same fraction on every row, so each source row is interpolated across once (into one of
// four row slots per band) and each output row is the cubic of four such rows, element by element.
// The operations per value are exactly the sampler's, so the planes equal it bit for bit. Without
// memory for the tables the sampler is called per pixel.
void resample(const float* srcR, const float* srcG, const float* srcB, std::int32_t srcW,
              std::int32_t srcH, float* sharpR, float* sharpG, float* sharpB, std::int32_t envW,
              std::int32_t envH) {
    Plane<CubicTaps> columns = allocatePlane<CubicTaps>(envW);
    if (columns) {
        for (std::int32_t x = 0; x < envW; ++x)
            columns[x] = wrappedColumnTaps(static_cast<float>(x) / static_cast<float>(envW), srcW);
    }
    const float* sources[3] = {srcR, srcG, srcB};
    float* targets[3] = {sharpR, sharpG, sharpB};
    ParallelRows(envH, [&](std::int32_t begin, std::int32_t end) {
        const std::int64_t width = envW;
        Plane<float> slots = columns ? allocatePlane<float>(4 * 3 * width) : Plane<float>();
        if (!slots) {
            for (std::int32_t y = begin; y < end; ++y) {
                const float v = static_cast<float>(y) / static_cast<float>(envH);
                const std::int64_t row = static_cast<std::int64_t>(y) * envW;
                for (std::int32_t x = 0; x < envW; ++x) {
                    const float u = static_cast<float>(x) / static_cast<float>(envW);
                    const Rgb p = sampleBicubicWrapX(srcR, srcG, srcB, srcW, srcH, u, v);
                    sharpR[row + x] = p.r;
                    sharpG[row + x] = p.g;
                    sharpB[row + x] = p.b;
                }
            }
            return;
        }
        // Slot s % 4 holds source row s across all three channels; the (at most four distinct,
        // consecutive) rows one output row reads never share a slot.
        std::int64_t slotRow[4] = {-1, -1, -1, -1};
        auto across = [&](std::int64_t sourceRow) {
            float* slot = slots.get() + (sourceRow % 4) * 3 * width;
            if (slotRow[sourceRow % 4] == sourceRow) return slot;
            slotRow[sourceRow % 4] = sourceRow;
            for (int c = 0; c < 3; ++c) {
                const float* line = sources[c] + sourceRow * srcW;
                float* out = slot + c * width;
                for (std::int32_t x = 0; x < envW; ++x) {
                    const CubicTaps& t = columns[x];
                    out[x] = catmullRom(line[t.index[0]], line[t.index[1]], line[t.index[2]],
                                        line[t.index[3]], t.t);
                }
            }
            return slot;
        };
        for (std::int32_t y = begin; y < end; ++y) {
            const CubicTaps rows =
                clampedRowTaps(static_cast<float>(y) / static_cast<float>(envH), srcH);
            const float* r[4];
            for (int k = 0; k < 4; ++k) r[k] = across(rows.index[k]);
            const std::int64_t row = static_cast<std::int64_t>(y) * envW;
            for (int c = 0; c < 3; ++c) {
                const std::int64_t o = c * width;
                const float* __restrict r0 = r[0] + o;
                const float* __restrict r1 = r[1] + o;
                const float* __restrict r2 = r[2] + o;
                const float* __restrict r3 = r[3] + o;
                float* __restrict out = targets[c] + row;
                for (std::int32_t x = 0; x < envW; ++x)
                    out[x] = catmullRom(r0[x], r1[x], r2[x], r3[x], rows.t);
            }
        }
    });
}

// Fallback when the float source planes cannot be had: the source bytes converted pixel by pixel
// in memory order, without resampling. Pixels past the end of the source are set to black so
// the planes never hold stale memory.
void copyWithoutResampling(const unsigned char* rgb, std::int64_t sourcePixels, float* sharpR,
                           float* sharpG, float* sharpB, std::int64_t envPixels) {
    const std::int64_t count = std::min(envPixels, sourcePixels);
    for (std::int64_t i = 0; i < count; ++i) {
        sharpR[i] = rgb[3 * i] / 255.0f;
        sharpG[i] = rgb[3 * i + 1] / 255.0f;
        sharpB[i] = rgb[3 * i + 2] / 255.0f;
    }
    for (std::int64_t i = count; i < envPixels; ++i) sharpR[i] = sharpG[i] = sharpB[i] = 0.0f;
}

// Sharp planes from interleaved 8-bit RGB of srcW x srcH.
void sharpFromBytes(const unsigned char* rgb, std::int32_t srcW, std::int32_t srcH, float* sharpR,
                    float* sharpG, float* sharpB, std::int32_t envW, std::int32_t envH) {
    const std::int64_t sourcePixels = pixelCount(srcW, srcH);
    Plane<float> srcR = allocatePlane<float>(sourcePixels);
    Plane<float> srcG = allocatePlane<float>(sourcePixels);
    Plane<float> srcB = allocatePlane<float>(sourcePixels);
    if (!srcR || !srcG || !srcB) {
        copyWithoutResampling(rgb, sourcePixels, sharpR, sharpG, sharpB, pixelCount(envW, envH));
        return;
    }
    for (std::int64_t i = 0; i < sourcePixels; ++i) {
        srcR[i] = rgb[3 * i] / 255.0f;
        srcG[i] = rgb[3 * i + 1] / 255.0f;
        srcB[i] = rgb[3 * i + 2] / 255.0f;
    }
    resample(srcR.get(), srcG.get(), srcB.get(), srcW, srcH, sharpR, sharpG, sharpB, envW, envH);
}

// A float layer's sample as the map takes it: NaN and the infinities (which have no colour) read
// as 0, and values beyond the half-float range are held to it, so that no interpolation, blur or
// reflection sum over the map can overflow into an infinity or a NaN in the frame.
float finiteSample(float value) {
    constexpr float kLargest = 65504.0f;
    return std::isfinite(value) ? std::clamp(value, -kLargest, kLargest) : 0.0f;
}

// Reads one channel of a layer pixel as a float, by pixel format code.
// Reads the colour of pixel (x, y) of a layer in any of the hosts' formats, 16-bit channels on
// the 0..32768 scale as the stages read them everywhere.
struct LayerReader {
    ImageView image;

    void read(std::int32_t x, std::int32_t y, float rgb[3]) const {
        const ChannelIndex c = channelIndex(image.format.order);
        switch (image.format.depth) {
            case kDepth8: {
                const auto* p = image.pixel<const std::uint8_t>(x, y);
                rgb[0] = p[c.r] / 255.0f;
                rgb[1] = p[c.g] / 255.0f;
                rgb[2] = p[c.b] / 255.0f;
                break;
            }
            case kDepth16: {
                const auto* p = image.pixel<const std::uint16_t>(x, y);
                const std::uint32_t white = image.format.white16;
                rgb[0] = static_cast<float>(channelOn32768(p[c.r], white)) / 32768.0f;
                rgb[1] = static_cast<float>(channelOn32768(p[c.g], white)) / 32768.0f;
                rgb[2] = static_cast<float>(channelOn32768(p[c.b], white)) / 32768.0f;
                break;
            }
            default: {
                const auto* p = image.pixel<const float>(x, y);
                rgb[0] = finiteSample(p[c.r]);
                rgb[1] = finiteSample(p[c.g]);
                rgb[2] = finiteSample(p[c.b]);
                break;
            }
        }
    }
};

}  // namespace

void loadBuiltInSharpPlanes(float* sharpR, float* sharpG, float* sharpB, std::int32_t envW,
                            std::int32_t envH, std::int32_t hdriMap, ByteSpan diamondJpeg) {
    if (envW < 1 || envH < 1 || !sharpR || !sharpG || !sharpB) return;
    // Source: raw maps 2..8, the JPEG for 9, Gallery for everything else and for a JPEG that
    // does not decode to exactly 2048 x 1024.
    const unsigned char* source = nullptr;
    std::int32_t sourceW = kRawMapW, sourceH = kRawMapH;
    DecodedImage decoded;
    if (hdriMap == kDiamondMap) {
        std::int32_t w = 0, h = 0;
        decoded = decodeJpegRgb(diamondJpeg, &w, &h);
        if (decoded && w == kDiamondMapW && h == kDiamondMapH) {
            source = decoded.get();
            sourceW = w;
            sourceH = h;
        } else {
            decoded.reset();
        }
    } else if (hdriMap >= 2 && hdriMap <= kRawMapCount) {
        source = rawBuiltInMap(hdriMap);
    }
    if (!source) source = rawBuiltInMap(kGalleryMap);
    if (!source) {
        // Only an incomplete build lacks the embedded maps: leave defined (black) planes.
        for (float* plane : {sharpR, sharpG, sharpB})
            std::memset(plane, 0, static_cast<std::size_t>(pixelCount(envW, envH)) * sizeof(float));
        return;
    }
    sharpFromBytes(source, sourceW, sourceH, sharpR, sharpG, sharpB, envW, envH);
}

void loadBuiltInEnvMapWithJpeg(float* sharpR, float* sharpG, float* sharpB, float* smoothR,
                               float* smoothG, float* smoothB, std::int32_t envW, std::int32_t envH,
                               std::int32_t blurRadius, std::int32_t hdriMap,
                               ByteSpan diamondJpeg) {
    const float* const planes[6] = {sharpR, sharpG, sharpB, smoothR, smoothG, smoothB};
    if (!validPlanes(planes, envW, envH)) return;
    loadBuiltInSharpPlanes(sharpR, sharpG, sharpB, envW, envH, hdriMap, diamondJpeg);
    // Every map's smooth colours, Diamond's too, are its own sharp colours blurred.
    deriveSmoothPlanes(sharpR, sharpG, sharpB, smoothR, smoothG, smoothB, envW, envH, blurRadius);
}

void loadBuiltInEnvMap(float* sharpR, float* sharpG, float* sharpB, float* smoothR, float* smoothG,
                       float* smoothB, std::int32_t envW, std::int32_t envH,
                       std::int32_t blurRadius, std::int32_t hdriMap) {
    loadBuiltInEnvMapWithJpeg(sharpR, sharpG, sharpB, smoothR, smoothG, smoothB, envW, envH,
                              blurRadius, hdriMap, builtInDiamondJpeg());
}

bool loadLayerSharpPlanes(const ImageView& layer, float* sharpR, float* sharpG, float* sharpB,
                          std::int32_t envW, std::int32_t envH) {
    if (envW < 1 || envH < 1 || !sharpR || !sharpG || !sharpB) return false;
    const std::int32_t srcW = layer.width, srcH = layer.height;
    // A layer without pixels, or whose rows cannot hold its width, is not read.
    const std::int64_t rowBytes = layer.rowBytes < 0 ? -layer.rowBytes : layer.rowBytes;
    if (!layer || layer.format.depth < kDepth8 || layer.format.depth > kDepthFloat ||
        rowBytes < std::int64_t{srcW} * layer.format.bytesPerPixel())
        return false;
    // Fit the layer inside the map keeping its aspect ratio; the bands outside repeat its edges.
    const float fw = static_cast<float>(envW), fh = static_cast<float>(envH);
    const float sw = static_cast<float>(srcW), sh = static_cast<float>(srcH);
    float scale, offX = 0.0f, offY = 0.0f;
    if (sw / sh >= fw / fh) {
        scale = fw / sw;
        offY = (fh - scale * sh) / 2.0f;
    } else {
        scale = fh / sh;
        offX = (fw - scale * sw) / 2.0f;
    }
    const LayerReader reader{layer};
    ParallelRows(envH, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) {
            const float sy = std::clamp((static_cast<float>(y) - offY) / scale, 0.0f, sh - 1.0f);
            const std::int32_t y0 = static_cast<std::int32_t>(sy);
            const std::int32_t y1 = std::min(y0 + 1, srcH - 1);
            const float ty = sy - static_cast<float>(y0);
            const std::int64_t row = static_cast<std::int64_t>(y) * envW;
            for (std::int32_t x = 0; x < envW; ++x) {
                const float sx =
                    std::clamp((static_cast<float>(x) - offX) / scale, 0.0f, sw - 1.0f);
                const std::int32_t x0 = static_cast<std::int32_t>(sx);
                const std::int32_t x1 = std::min(x0 + 1, srcW - 1);
                const float tx = sx - static_cast<float>(x0);
                float p00[3], p10[3], p01[3], p11[3];
                reader.read(x0, y0, p00);
                reader.read(x1, y0, p10);
                reader.read(x0, y1, p01);
                reader.read(x1, y1, p11);
                float out[3];
                for (int c = 0; c < 3; ++c) {
                    out[c] = p00[c] * (1.0f - tx) * (1.0f - ty) + p10[c] * tx * (1.0f - ty) +
                             p01[c] * (1.0f - tx) * ty + p11[c] * tx * ty;
                }
                sharpR[row + x] = out[0];
                sharpG[row + x] = out[1];
                sharpB[row + x] = out[2];
            }
        }
    });
    return true;
}

void loadLayerEnvMap(const ImageView& layer, float* sharpR, float* sharpG, float* sharpB,
                     float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                     std::int32_t envH, std::int32_t blurRadius) {
    const float* const planes[6] = {sharpR, sharpG, sharpB, smoothR, smoothG, smoothB};
    if (!validPlanes(planes, envW, envH)) return;
    if (!loadLayerSharpPlanes(layer, sharpR, sharpG, sharpB, envW, envH)) {
        // No usable layer: the built-in fallback for Custom Map (hdriMap 10), Gallery.
        loadBuiltInEnvMap(sharpR, sharpG, sharpB, smoothR, smoothG, smoothB, envW, envH, blurRadius,
                          10);
        return;
    }
    deriveSmoothPlanes(sharpR, sharpG, sharpB, smoothR, smoothG, smoothB, envW, envH, blurRadius);
}

void deriveSmoothPlanes(const float* sharpR, const float* sharpG, const float* sharpB,
                        float* smoothR, float* smoothG, float* smoothB, std::int32_t envW,
                        std::int32_t envH, std::int32_t blurRadius, float* scratch) {
    if (envW < 1 || envH < 1 || !sharpR || !sharpG || !sharpB || !smoothR || !smoothG || !smoothB)
        return;
    const std::int64_t count = pixelCount(envW, envH);
    if (blurRadius < 1) {
        if (smoothR != sharpR) {
            std::memcpy(smoothR, sharpR, static_cast<std::size_t>(count) * sizeof(float));
            std::memcpy(smoothG, sharpG, static_cast<std::size_t>(count) * sizeof(float));
            std::memcpy(smoothB, sharpB, static_cast<std::size_t>(count) * sizeof(float));
        }
        return;
    }
    // Highlight boost: pixels brighter than luma 0.85 gain up to gain x, ramping up to luma ~1.
    // Each texel's three values are read before any is written, so the planes may be the same.
    const float gain = std::min(1.0f, static_cast<float>(blurRadius) / 100.0f) * 4.0f;
    ParallelRows(envH, [&](std::int32_t begin, std::int32_t end) {
        for (std::int64_t i = static_cast<std::int64_t>(begin) * envW;
             i < static_cast<std::int64_t>(end) * envW; ++i) {
            const float r = sharpR[i], g = sharpG[i], b = sharpB[i];
            const float luma = 0.299f * r + 0.587f * g + 0.114f * b;
            float factor = 1.0f;
            if (luma > 0.85f) factor = 1.0f + std::min(1.0f, (luma - 0.85f) * 6.6225176f) * gain;
            smoothR[i] = r * factor;
            smoothG[i] = g * factor;
            smoothB[i] = b * factor;
        }
    });
    // One scratch plane serves the three blurs; without it the planes stay unblurred.
    Plane<float> owned;
    if (!scratch) {
        owned = allocatePlane<float>(count);
        scratch = owned.get();
    }
    if (!scratch) return;
    for (float* plane : {smoothR, smoothG, smoothB})
        gaussianBlurWrapX(plane, envW, envH, blurRadius, scratch);
}

void smoothMapFromPlanes(float* r, float* g, float* b, const EnvMap& map, std::int32_t blurRadius) {
    deriveSmoothPlanes(r, g, b, r, g, b, map.envW, map.envH, blurRadius, map.smoothRgb);
    interleaveRgb(r, g, b, pixelCount(map.envW, map.envH), map.smoothRgb);
}

bool allocateMapPlanes(Plane<float> (&planes)[3], std::int64_t texels) {
    for (Plane<float>& plane : planes) plane = allocatePlane<float>(texels);
    return planes[0] && planes[1] && planes[2];
}

bool computeEnvMap(const EnvMap& map, std::int32_t mapType, float blur, const ImageView& layer) {
    const std::int64_t count = static_cast<std::int64_t>(map.envW) * map.envH;
    // The one working copy: the sharp planes, interleaved into the map and then turned into the
    // smooth planes in place. (The smooth planes are always derived from this map's sharp planes
    // at the requested blur, for Diamond too, so no loader makes smooth planes of its own.)
    Plane<float> planes[3];
    if (!allocateMapPlanes(planes, count)) return false;
    float* sR = planes[0].get();
    float* sG = planes[1].get();
    float* sB = planes[2].get();
    if (!layer) {
        loadBuiltInSharpPlanes(sR, sG, sB, map.envW, map.envH, mapType, builtInDiamondJpeg());
    } else if (!loadLayerSharpPlanes(layer, sR, sG, sB, map.envW, map.envH)) {
        // Unreadable layer rows: the Custom Map fallback, Gallery.
        loadBuiltInSharpPlanes(sR, sG, sB, map.envW, map.envH, 10, builtInDiamondJpeg());
    }
    interleaveRgb(sR, sG, sB, count, map.sharpRgb);
    smoothMapFromPlanes(sR, sG, sB, map, envBlurRadius(blur));
    return true;
}

}  // namespace lumet
