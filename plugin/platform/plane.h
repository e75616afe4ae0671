// Planes: owning, non-throwing allocations of pixel arrays. Byte sizes are computed in 64 bits;
// a size that overflows becomes a request for the largest size, which fails like any other
// failed allocation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lumet {

struct PlaneFree {
    void operator()(void* pointer) const { std::free(pointer); }
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
    return Plane<T>(static_cast<T*>(std::malloc(bytes == 0 ? 1 : bytes)));
}

// As allocatePlane, with every byte set to zero.
template <class T>
Plane<T> allocateZeroedPlane(std::int64_t count) {
    const std::size_t bytes = planeBytes(count, static_cast<std::int64_t>(sizeof(T)));
    if (bytes == SIZE_MAX || !planeAllocationAllowed(bytes)) return Plane<T>();
    return Plane<T>(static_cast<T*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
}

}  // namespace lumet
