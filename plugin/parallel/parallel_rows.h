// Row-band parallel-for: splits [0, n) into at most 16 contiguous bands, runs each on a thread of
// its own and returns when all are done. No pool: threads are created and joined per call.
// Also the atomic minimum and maximum with which bands merge their results.
#pragma once
#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace lumet {

using BandFunction = void (*)(void* context, std::int32_t begin, std::int32_t end);

// Upper bound on the number of bands (and threads) of one call.
constexpr unsigned kMaxParallelThreads = 16;

// Number of bands a call with n items in groups of `group` uses on this machine (1 when there
// are fewer than two groups).
unsigned parallelBandCount(std::int32_t n, std::int32_t group = 1);

// The worker (0 to parallelBandCount(n, group) - 1 of the call) that runs the calling band
// function: pieces that run at the same time have different workers, so a band function can keep
// scratch memory per worker. 0 outside a parallel call.
unsigned parallelWorker();

// Calls band(context, begin, end) for bands that together cover [0, n) exactly once. Every band,
// and every piece a band is handed over in, begins at a multiple of `group` (at least 1): a pass
// that works on groups of rows or columns at once gets whole groups, except at n. A band whose
// thread cannot be started runs on the calling thread, so the whole range is always processed
// and every started thread has been joined when the call returns.
void parallelRowsRaw(std::int32_t n, BandFunction band, void* context, std::int32_t group = 1);

// For a band function that runs long between its pieces: whether the call it runs in was told to
// stop because the host asked to abandon the frame (on the frame's own thread: whether it was
// abandoned). It may then return early; its output is thrown away.
bool parallelWorkStopped();

// ParallelRows whose bands and pieces begin at multiples of `group` items.
template <class Function>
void ParallelRowGroups(std::int32_t n, std::int32_t group, Function&& function) {
    using F = std::remove_reference_t<Function>;
    parallelRowsRaw(
        n,
        [](void* context, std::int32_t begin, std::int32_t end) {
            (*static_cast<F*>(context))(begin, end);
        },
        const_cast<void*>(static_cast<const void*>(&function)), group);
}

template <class Function>
void ParallelRows(std::int32_t n, Function&& function) {
    ParallelRowGroups(n, 1, std::forward<Function>(function));
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
