// Planes: owning, non-throwing allocations of pixel arrays. Byte sizes are computed in 64 bits;
// a size that overflows becomes a request for the largest size, which fails like any other
// failed allocation.
//
// Large planes come from the plane pool: blocks the process keeps between frames, so that a
// frame reuses the memory of the one before instead of asking the system for fresh pages and
// faulting every one of them in again. Blocks are multiples of 2 MiB, aligned to 2 MiB and
// advised as huge pages where the system has them. Small planes come from the C library.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lumet {

// Memory of a plane: pooled blocks of `bytes` or more, the C library's below that (and for
// `seldom` work always). Null on failure, which counts as a refused request; `zeroed` asks for the
// first `bytes` bytes to read zero.
void* acquirePlaneMemory(std::size_t bytes, bool zeroed, bool seldom = false);
// Returns a pooled block to the pool (idle, to be reused) and frees anything else.
void releasePlaneMemory(void* pointer);

struct PlaneFree {
    void operator()(void* pointer) const { releasePlaneMemory(pointer); }
};

template <class T>
using Plane = std::unique_ptr<T[], PlaneFree>;

// Product of non-negative factors, saturating at SIZE_MAX (and so failing to allocate) on overflow
// or on a negative factor.
inline std::size_t planeBytes(std::int64_t a, std::int64_t b = 1, std::int64_t c = 1,
                              std::int64_t d = 1) {
    const std::int64_t factors[4] = {a, b, c, d};
    std::uint64_t product = 1;
    for (std::int64_t factor : factors) {
        if (factor < 0) return SIZE_MAX;
        const std::uint64_t f = static_cast<std::uint64_t>(factor);
        if (f != 0 && product > UINT64_MAX / f) return SIZE_MAX;
        product *= f;
    }
    if (product > static_cast<std::uint64_t>(PTRDIFF_MAX)) return SIZE_MAX;
    return static_cast<std::size_t>(product);
}

// Test-only: make every allocation through allocatePlane at or above `bytes` fail (0 disables).
void setPlaneAllocationLimit(std::size_t bytes);
// Test-only: count the plane requests from now on and fail the `failAt`-th of them (1: the next
// one); 0 stops counting. A count past any frame's requests counts without failing.
void failPlaneRequest(std::int64_t failAt);
// The requests counted since failPlaneRequest.
std::int64_t planeRequestsCounted();
// The one check every plane request passes: the size limit and the counted failure above.
bool planeAllocationAllowed(std::size_t bytes);
// Plane requests refused so far, by the whole process. A stage that cannot get a plane skips
// part of its work and still returns; a frame compares this count before and after to know that
// what it made is less than its product (another thread's refusal makes it only cautious).
std::uint64_t planeRequestsRefused();

// Allocates count elements of T without throwing; null on failure. Contents are undefined.
template <class T>
Plane<T> allocatePlane(std::int64_t count) {
    const std::size_t bytes = planeBytes(count, static_cast<std::int64_t>(sizeof(T)));
    if (bytes == SIZE_MAX || !planeAllocationAllowed(bytes)) return Plane<T>();
    return Plane<T>(static_cast<T*>(acquirePlaneMemory(bytes, false)));
}

// As allocatePlane, from the C library and never the pool: for the working planes of work done
// seldom whose memory no frame on this side would reuse (the device's copy of a map), which the
// pool would otherwise keep idle for frames.
template <class T>
Plane<T> allocateSeldomPlane(std::int64_t count) {
    const std::size_t bytes = planeBytes(count, static_cast<std::int64_t>(sizeof(T)));
    if (bytes == SIZE_MAX || !planeAllocationAllowed(bytes)) return Plane<T>();
    return Plane<T>(static_cast<T*>(acquirePlaneMemory(bytes, false, true)));
}

// As allocatePlane, with every byte set to zero.
template <class T>
Plane<T> allocateZeroedPlane(std::int64_t count) {
    const std::size_t bytes = planeBytes(count, static_cast<std::int64_t>(sizeof(T)));
    if (bytes == SIZE_MAX || !planeAllocationAllowed(bytes)) return Plane<T>();
    return Plane<T>(static_cast<T*>(acquirePlaneMemory(bytes, true)));
}

// The pool's state, for the caches that own it and for tests and benchmarks.
struct PlanePoolStats {
    std::uint64_t heldBytes = 0;  // every pooled block, in use or idle
    std::uint64_t idleBytes = 0;  // blocks waiting to be reused
    std::uint64_t reused = 0;     // requests served by an idle block, since the process started
    std::uint64_t mapped = 0;     // requests that needed a new block
};
PlanePoolStats planePoolStats();

// Requests of at least this many bytes are pooled.
constexpr std::size_t kPooledPlaneBytes = std::size_t{1} << 20;

// Frees every idle block (the caches were released, or memory is needed elsewhere).
void releaseIdlePlanes();
// Marks the start of a frame; blocks left idle through the last few frames are freed, so that
// the pool keeps the working set of the frames being rendered and not of a window long gone.
void beginPlaneFrame();
// Frees the idle blocks when a frame of `bytes` would not fit under `budget` beside what the pool
// holds: a frame's bound counts the pool, whose idle memory gives way first.
void makeRoomForFrame(std::uint64_t bytes, std::uint64_t budget);

}  // namespace lumet
