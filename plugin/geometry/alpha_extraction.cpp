// Alpha extraction and alpha edge smoothing (see alpha_extraction.h).
#include "geometry/alpha_extraction.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

std::int32_t pixelDepthOf(const PF_EffectWorld& world) {
    if (static_cast<std::int64_t>(world.rowbytes) >= static_cast<std::int64_t>(world.width) * 16)
        return kDepthFloat;
    if (world.world_flags & PF_WorldFlag_DEEP) return kDepth16;
    return kDepth8;
}

namespace {

template <class Read>
void extractRows(const PF_EffectWorld& input, std::int32_t offsetX, std::int32_t offsetY,
                 std::uint8_t* alpha, std::int32_t W, std::int32_t H, std::int64_t pixelBytes,
                 Read read, std::atomic<std::int32_t>* bounds) {
    // Input columns whose frame column lies inside the frame.
    const std::int64_t xBegin64 = std::max<std::int64_t>(0, -static_cast<std::int64_t>(offsetX));
    const std::int64_t xEnd64 =
        std::min<std::int64_t>(input.width, static_cast<std::int64_t>(W) - offsetX);
    if (xBegin64 >= xEnd64) return;
    const std::int32_t xBegin = static_cast<std::int32_t>(xBegin64);
    const std::int32_t xEnd = static_cast<std::int32_t>(xEnd64);
    const auto* base = reinterpret_cast<const unsigned char*>(input.data);
    ParallelRows(input.height, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin; y < end; ++y) {
            const std::int64_t fy = static_cast<std::int64_t>(offsetY) + y;
            if (fy < 0 || fy >= H) continue;
            const unsigned char* row = base + static_cast<std::int64_t>(y) * input.rowbytes;
            std::uint8_t* out = alpha + fy * W;
            std::int32_t first = -1, last = -1;
            for (std::int32_t x = xBegin; x < xEnd; ++x) {
                const std::uint8_t value = read(row + x * pixelBytes);
                out[offsetX + x] = value;
                if (value != 0) {
                    if (first < 0) first = x;
                    last = x;
                }
            }
            // One merge per row gives the same bounds as one merge per covered pixel.
            if (first >= 0) {
                AtomicMin(bounds[0], offsetX + first);
                AtomicMax(bounds[1], offsetX + last);
                AtomicMin(bounds[2], static_cast<std::int32_t>(fy));
                AtomicMax(bounds[3], static_cast<std::int32_t>(fy));
            }
        }
    });
}

}  // namespace

ContentBounds extractAlpha(const PF_EffectWorld& input, std::int32_t depth, std::int32_t offsetX,
                           std::int32_t offsetY, std::uint8_t* alpha, std::int32_t W,
                           std::int32_t H) {
    ContentBounds result{W, 0, H, 0};
    if (!alpha || W < 1 || H < 1) return result;
    std::memset(alpha, 0, planeBytes(W, H));
    if (!input.data || input.width < 1 || input.height < 1) return result;
    std::atomic<std::int32_t> bounds[4] = {W, 0, H, 0};
    switch (depth) {
        case kDepthFloat:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, 16,
                [](const unsigned char* p) {
                    float a;
                    std::memcpy(&a, p, sizeof a);
                    return alphaByteFloat(a);
                },
                bounds);
            break;
        case kDepth16:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, 8,
                [](const unsigned char* p) {
                    std::uint16_t a;
                    std::memcpy(&a, p, sizeof a);
                    return alphaByte16(a);
                },
                bounds);
            break;
        default:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, 4,
                [](const unsigned char* p) { return alphaByte8(p[0]); }, bounds);
            break;
    }
    result.minX = bounds[0].load();
    result.maxX = bounds[1].load();
    result.minY = bounds[2].load();
    result.maxY = bounds[3].load();
    return result;
}

void smoothAlphaEdges(const std::uint8_t* source, std::uint8_t* destination, std::int32_t W,
                      std::int32_t H) {
    if (!source || !destination || W < 3 || H < 3) return;
    const std::int64_t w = W;
    ParallelRows(H - 2, [&](std::int32_t begin, std::int32_t end) {
        for (std::int32_t y = begin + 1; y < end + 1; ++y) {
            const std::uint8_t* above = source + (y - 1) * w;
            const std::uint8_t* row = source + y * w;
            const std::uint8_t* below = source + (y + 1) * w;
            std::uint8_t* out = destination + y * w;
            for (std::int32_t x = 1; x < W - 1; ++x) {
                const std::uint8_t centre = row[x];
                if (centre != 0 && centre != 255) continue;
                const std::uint8_t n[8] = {above[x - 1], above[x],     above[x + 1], row[x - 1],
                                           row[x + 1],   below[x - 1], below[x],     below[x + 1]};
                bool low = false, high = false;
                unsigned sum = centre;
                for (std::uint8_t v : n) {
                    low |= v < 10;
                    high |= v > 245;
                    sum += v;
                }
                if (low && high) out[x] = static_cast<std::uint8_t>(sum / 9);
            }
        }
    });
}

bool smoothAlphaEdgesInPlace(std::uint8_t* alpha, std::int32_t W, std::int32_t H) {
    if (!alpha || W < 3 || H < 3) return true;
    Plane<std::uint8_t> copy = allocatePlane<std::uint8_t>(static_cast<std::int64_t>(W) * H);
    if (!copy) return false;
    std::memcpy(copy.get(), alpha, planeBytes(W, H));
    smoothAlphaEdges(alpha, copy.get(), W, H);
    std::memcpy(alpha, copy.get(), planeBytes(W, H));
    return true;
}

}  // namespace lumet
