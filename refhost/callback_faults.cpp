// The counter of the host's fallible callbacks (see callback_faults.h).
#include "refhost/callback_faults.h"

#include <atomic>
#include <mutex>

namespace refhost {

namespace {

std::atomic<std::int64_t> failingCall{0};
std::atomic<std::int64_t> callsCounted{0};
std::atomic<A_long> injectedError{0};
std::mutex failedMutex;
std::string failedName;

}  // namespace

void failHostCallback(std::int64_t failAt, A_long err) {
    failingCall.store(0);
    callsCounted.store(0);
    injectedError.store(err);
    {
        std::lock_guard<std::mutex> lock(failedMutex);
        failedName.clear();
    }
    failingCall.store(failAt);
}

std::int64_t hostCallbacksCounted() { return callsCounted.load(); }

std::string failedHostCallback() {
    std::lock_guard<std::mutex> lock(failedMutex);
    return failedName;
}

bool hostCallbackFails(const char* name, A_long* err) {
    const std::int64_t failAt = failingCall.load(std::memory_order_relaxed);
    if (failAt <= 0 || callsCounted.fetch_add(1) + 1 != failAt) return false;
    std::lock_guard<std::mutex> lock(failedMutex);
    failedName = name;
    *err = injectedError.load();
    return true;
}

}  // namespace refhost
