#include "platform/plane.h"

#include <atomic>

namespace lumet {

static std::atomic<std::size_t> allocationLimit{0};

void setPlaneAllocationLimit(std::size_t bytes) { allocationLimit.store(bytes); }

bool planeAllocationAllowed(std::size_t bytes) {
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    return limit == 0 || bytes < limit;
}

}  // namespace lumet
