// Alpha extraction and alpha edge smoothing (see alpha_extraction.h).
#include "geometry/alpha_extraction.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "core/pixel_hash.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// Frame row fy of the alpha from the input row that lands on it (null: none), zero where no input
// pixel lands; the first and last covered frame columns merged into bounds.
template <class Read>
void extractRow(const unsigned char* row, std::int32_t offsetX, std::int32_t xBegin,
                std::int32_t xEnd, std::int64_t pixelBytes, Read read, std::uint8_t* out,
                std::int32_t W, std::int32_t fy, std::atomic<std::int32_t>* bounds) {
    if (!row || xBegin >= xEnd) {
        std::memset(out, 0, static_cast<std::size_t>(W));
        return;
    }
    const std::int32_t left = offsetX + xBegin, right = offsetX + xEnd;
    std::memset(out, 0, static_cast<std::size_t>(left));
    std::memset(out + right, 0, static_cast<std::size_t>(W - right));
    std::uint8_t* __restrict to = out + offsetX;
    for (std::int32_t x = xBegin; x < xEnd; ++x) to[x] = read(row + x * pixelBytes);
    // The covered run's ends, from both sides of the row just written.
    std::int32_t first = left;
    while (first < right && out[first] == 0) ++first;
    if (first == right) return;
    std::int32_t last = right - 1;
    while (out[last] == 0) --last;
    AtomicMin(bounds[0], first);
    AtomicMax(bounds[1], last);
    AtomicMin(bounds[2], fy);
    AtomicMax(bounds[3], fy);
}

template <class Read>
void extractRows(const ImageView& input, std::int32_t offsetX, std::int32_t offsetY,
                 std::uint8_t* alpha, std::int32_t W, std::int32_t H, std::int64_t pixelBytes,
                 Read read, std::atomic<std::int32_t>* bounds, std::uint64_t* rowHashes) {
    // Input columns whose frame column lies inside the frame.
    const std::int32_t xBegin = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(-static_cast<std::int64_t>(offsetX), 0, input.width));
    const std::int32_t xEnd = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(static_cast<std::int64_t>(W) - offsetX, xBegin, input.width));
    auto inputRow = [&](std::int64_t y) {
        return reinterpret_cast<const unsigned char*>(input.row(static_cast<std::int32_t>(y)));
    };
    // Every frame row, and every input row for the hashes.
    const std::int64_t firstY = std::min<std::int64_t>(0, offsetY);
    const std::int64_t lastY = std::max<std::int64_t>(H, std::int64_t{offsetY} + input.height);
    ParallelRows(
        static_cast<std::int32_t>(lastY - firstY), [&](std::int32_t begin, std::int32_t end) {
            for (std::int64_t at = firstY + begin; at < firstY + end; ++at) {
                const std::int64_t y = at - offsetY;  // the input row on frame row `at`
                const bool hasInput = y >= 0 && y < input.height;
                if (hasInput && rowHashes)
                    rowHashes[y] = bytesHash64(inputRow(y), pixelBytes * input.width);
                if (at < 0 || at >= H) continue;
                extractRow(hasInput ? inputRow(y) : nullptr, offsetX, xBegin, xEnd, pixelBytes,
                           read, alpha + at * W, W, static_cast<std::int32_t>(at), bounds);
            }
        });
}

}  // namespace

ContentBounds extractAlpha(const ImageView& input, std::int32_t offsetX,
                           std::int32_t offsetY, std::uint8_t* alpha, std::int32_t W,
                           std::int32_t H, std::uint64_t* colourHash) {
    ContentBounds result{W, 0, H, 0};
    if (!alpha || W < 1 || H < 1) return result;
    if (!input) {
        std::memset(alpha, 0, planeBytes(W, H));
        if (colourHash) *colourHash = 0;
        return result;
    }
    Plane<std::uint64_t> rowHashes;
    if (colourHash) {
        rowHashes = allocatePlane<std::uint64_t>(input.height);
        *colourHash = 0;
    }
    std::atomic<std::int32_t> bounds[4] = {W, 0, H, 0};
    const PixelFormat format = input.format;
    const std::int32_t depth = format.depth;
    // The alpha channel's first byte within a pixel.
    const std::int64_t at = std::int64_t{channelIndex(format.order).a} * format.bytesPerChannel();
    const std::int64_t pixelBytes = format.bytesPerPixel();
    switch (depth) {
        case kDepthFloat:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, pixelBytes,
                [at](const unsigned char* p) {
                    float a;
                    std::memcpy(&a, p + at, sizeof a);
                    return alphaByteFloat(a);
                },
                bounds, rowHashes.get());
            break;
        case kDepth16:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, pixelBytes,
                [at, white = format.white16](const unsigned char* p) {
                    std::uint16_t a;
                    std::memcpy(&a, p + at, sizeof a);
                    return alphaByte16(channelOn32768(a, white));
                },
                bounds, rowHashes.get());
            break;
        default:
            extractRows(
                input, offsetX, offsetY, alpha, W, H, pixelBytes,
                [at](const unsigned char* p) { return alphaByte8(p[at]); }, bounds,
                rowHashes.get());
            break;
    }
    if (rowHashes) *colourHash = foldRowHashes(input.width, input.height, depth, rowHashes.get());
    result.minX = bounds[0].load();
    result.maxX = bounds[1].load();
    result.minY = bounds[2].load();
    result.maxY = bounds[3].load();
    return result;
}

namespace {

// Smooths pixel x of row (see smoothAlphaEdges).
inline void smoothPixel(const std::uint8_t* above, const std::uint8_t* row,
                        const std::uint8_t* below, std::uint8_t* out, std::int32_t x) {
    const std::uint8_t centre = row[x];
    if (centre != 0 && centre != 255) return;
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

}  // namespace

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
            std::int32_t x = 1;
#if defined(__SSE2__) || defined(_M_X64)
            // Sixteen pixels at a time, passed over when no pixel of theirs has both a value
            // below 10 and one above 245 among its 3 x 3 block (the centre counted too, which
            // only lets more through to the exact test).
            const __m128i lowLimit = _mm_set1_epi8(10),
                          highLimit = _mm_set1_epi8(static_cast<char>(245));
            const __m128i zero = _mm_setzero_si128();
            for (; x + 16 <= W - 1; x += 16) {
                __m128i most = zero, least = _mm_set1_epi8(static_cast<char>(255));
                for (const std::uint8_t* line : {above, row, below}) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const __m128i v =
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x + dx));
                        most = _mm_max_epu8(most, v);
                        least = _mm_min_epu8(least, v);
                    }
                }
                // Lanes above 245 and below 10: non-zero saturated differences.
                const __m128i high = _mm_subs_epu8(most, highLimit);
                const __m128i low = _mm_subs_epu8(lowLimit, least);
                const __m128i neither =
                    _mm_or_si128(_mm_cmpeq_epi8(high, zero), _mm_cmpeq_epi8(low, zero));
                if (_mm_movemask_epi8(neither) == 0xFFFF) continue;
                for (std::int32_t k = x; k < x + 16; ++k) smoothPixel(above, row, below, out, k);
            }
#endif
            for (; x < W - 1; ++x) smoothPixel(above, row, below, out, x);
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
