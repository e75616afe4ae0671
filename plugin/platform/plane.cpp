#include "platform/plane.h"

#include <atomic>

namespace lumet {

static std::atomic<std::size_t> allocationLimit{0};
static std::atomic<std::int64_t> failingRequest{0};
static std::atomic<std::int64_t> requestsCounted{0};
static std::atomic<std::uint64_t> requestsRefused{0};

void setPlaneAllocationLimit(std::size_t bytes) { allocationLimit.store(bytes); }

void failPlaneRequest(std::int64_t failAt) {
    failingRequest.store(0);
    requestsCounted.store(0);
    failingRequest.store(failAt);
}

std::int64_t planeRequestsCounted() { return requestsCounted.load(); }

std::uint64_t planeRequestsRefused() { return requestsRefused.load(); }

bool planeAllocationAllowed(std::size_t bytes) {
    const std::int64_t failAt = failingRequest.load(std::memory_order_relaxed);
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    const bool failed =
        failAt > 0 && requestsCounted.fetch_add(1, std::memory_order_relaxed) + 1 == failAt;
    if (!failed && (limit == 0 || bytes < limit)) return true;
    requestsRefused.fetch_add(1);
    return false;
}

}  // namespace lumet
