// Row-band parallel-for over freshly created threads.
#include "parallel/parallel_rows.h"

#include "platform/platform.h"

namespace lumet {

unsigned parallelBandCount(std::int32_t n) {
    unsigned threads = platform::hardwareThreads();
    if (threads < 1) threads = 1;
    if (threads > kMaxParallelThreads) threads = kMaxParallelThreads;
    if (n < static_cast<std::int32_t>(threads)) threads = n < 1 ? 1u : static_cast<unsigned>(n);
    return threads;
}

namespace {
struct Band {
    BandFunction function;
    void* context;
    std::int32_t begin;
    std::int32_t end;
};
void runBand(void* raw) {
    const Band* band = static_cast<const Band*>(raw);
    band->function(band->context, band->begin, band->end);
}
}  // namespace

void parallelRowsRaw(std::int32_t n, BandFunction function, void* context) {
    if (n < 1) return;
    const unsigned threads = parallelBandCount(n);
    if (threads <= 1) {
        function(context, 0, n);
        return;
    }
    Band bands[kMaxParallelThreads];
    platform::ThreadHandle handles[kMaxParallelThreads];
    bool started[kMaxParallelThreads] = {};
    const std::int32_t bandSize = n / static_cast<std::int32_t>(threads);
    for (unsigned t = 0; t < threads; ++t) {
        const std::int32_t begin = static_cast<std::int32_t>(t) * bandSize;
        const std::int32_t end = t + 1 == threads ? n : begin + bandSize;
        bands[t] = Band{function, context, begin, end};
        started[t] = platform::startThread(handles[t], runBand, &bands[t]);
    }
    // Bands whose thread could not be created are done here, while the others run.
    for (unsigned t = 0; t < threads; ++t) {
        if (!started[t]) runBand(&bands[t]);
    }
    for (unsigned t = 0; t < threads; ++t) {
        if (started[t]) platform::joinThread(handles[t]);
    }
}

}  // namespace lumet
