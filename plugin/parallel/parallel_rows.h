// Row-band parallel-for: splits [0, n) into at most 16 contiguous bands, runs each on a thread of
// its own and returns when all are done. No pool: threads are created and joined per call.
// Also the atomic minimum and maximum with which bands merge their results.
#pragma once
#include <atomic>
#include <cstdint>
#include <type_traits>

namespace lumet {

using BandFunction = void (*)(void* context, std::int32_t begin, std::int32_t end);

// Upper bound on the number of bands (and threads) of one call.
constexpr unsigned kMaxParallelThreads = 16;

// Number of bands a call with n items uses on this machine (1 when n < 2).
unsigned parallelBandCount(std::int32_t n);

// The band (0 to parallelBandCount(n) - 1) of a call over n items that item `item` lies in. A
// band may be handed over in pieces, one after another on one thread, never two pieces of a band
// at once: a band function can keep scratch memory per band.
unsigned parallelBandOf(std::int32_t n, std::int32_t item);

// Calls band(context, begin, end) for bands that together cover [0, n) exactly once. A band whose
// thread cannot be started runs on the calling thread, so the whole range is always processed
// and every started thread has been joined when the call returns.
void parallelRowsRaw(std::int32_t n, BandFunction band, void* context);

template <class Function>
void ParallelRows(std::int32_t n, Function&& function) {
    using F = std::remove_reference_t<Function>;
    parallelRowsRaw(
        n,
        [](void* context, std::int32_t begin, std::int32_t end) {
            (*static_cast<F*>(context))(begin, end);
        },
        const_cast<void*>(static_cast<const void*>(&function)));
}

inline void AtomicMin(std::atomic<std::int32_t>& cell, std::int32_t value) {
    std::int32_t current = cell.load(std::memory_order_relaxed);
    while (value < current && !cell.compare_exchange_weak(current, value)) {
    }
}

inline void AtomicMax(std::atomic<std::int32_t>& cell, std::int32_t value) {
    std::int32_t current = cell.load(std::memory_order_relaxed);
    while (value > current && !cell.compare_exchange_weak(current, value)) {
    }
}

inline void AtomicMax(std::atomic<float>& cell, float value) {
    float current = cell.load(std::memory_order_relaxed);
    while (value > current && !cell.compare_exchange_weak(current, value)) {
    }
}

}  // namespace lumet
