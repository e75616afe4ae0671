// Hashes that name a layer's pixels for the render caches: a 64-bit FNV-1a over 8-byte words in
// four interleaved lanes (four independent multiply chains, so a row hashes at memory speed), one
// value per row, and the rows' values folded in order with the world's size and depth. Any pass
// over a layer's rows can hash them on the way; the fold gives the same value whichever pass did.
#pragma once
#include <cstdint>
#include <cstring>

namespace lumet {

inline constexpr std::uint64_t kFnvPrime64 = 1099511628211ull;
inline constexpr std::uint64_t kFnvBasis64 = 14695981039346656037ull;

inline std::uint64_t fnvMix64(std::uint64_t hash, std::uint64_t word) {
    return (hash ^ word) * kFnvPrime64;
}

// The hash of `count` bytes.
inline std::uint64_t bytesHash64(const unsigned char* bytes, std::int64_t count) {
    std::uint64_t lane[4] = {kFnvBasis64, kFnvBasis64 ^ 1u, kFnvBasis64 ^ 2u, kFnvBasis64 ^ 3u};
    std::int64_t i = 0;
    for (; i + 32 <= count; i += 32) {
        for (int k = 0; k < 4; ++k) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i + 8 * k, 8);
            lane[k] = fnvMix64(lane[k], word);
        }
    }
    std::uint64_t hash = kFnvBasis64;
    for (std::uint64_t value : lane) hash = fnvMix64(hash, value);
    for (; i < count; ++i) hash = fnvMix64(hash, bytes[i]);
    return fnvMix64(hash, static_cast<std::uint64_t>(count));
}

// The layer's hash: the fold starts from the world's size and depth, takes the rows' hashes in
// order and is never 0 (which stands for no hash).
inline std::uint64_t rowFoldStart(std::int32_t width, std::int32_t height, std::int32_t depth) {
    std::uint64_t hash = kFnvBasis64;
    hash = fnvMix64(hash, static_cast<std::uint64_t>(width));
    hash = fnvMix64(hash, static_cast<std::uint64_t>(height));
    return fnvMix64(hash, static_cast<std::uint64_t>(depth));
}
inline std::uint64_t rowFoldFinish(std::uint64_t hash) { return hash == 0 ? 1 : hash; }

inline std::uint64_t foldRowHashes(std::int32_t width, std::int32_t height, std::int32_t depth,
                                   const std::uint64_t* rowHashes) {
    std::uint64_t hash = rowFoldStart(width, height, depth);
    for (std::int32_t y = 0; y < height; ++y) hash = fnvMix64(hash, rowHashes[y]);
    return rowFoldFinish(hash);
}

}  // namespace lumet
