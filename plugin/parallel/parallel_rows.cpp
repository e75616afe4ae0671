// Row-band parallel-for over freshly created threads.
#include "parallel/parallel_rows.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "parallel/frame_interrupt.h"
#include "platform/platform.h"

namespace lumet {

unsigned parallelBandCount(std::int32_t n) {
    unsigned threads = platform::hardwareThreads();
    if (threads < 1) threads = 1;
    if (threads > kMaxParallelThreads) threads = kMaxParallelThreads;
    if (n < static_cast<std::int32_t>(threads)) threads = n < 1 ? 1u : static_cast<unsigned>(n);
    return threads;
}

unsigned parallelBandOf(std::int32_t n, std::int32_t item) {
    const unsigned threads = parallelBandCount(n);
    const std::int32_t bandSize = std::max<std::int32_t>(1, n / static_cast<std::int32_t>(threads));
    return std::min(threads - 1, static_cast<unsigned>(std::max(item, 0) / bandSize));
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

// Under a frame interrupt the bands run in chunks, so that they can stop soon after the host
// asked to abandon the frame. Which pixels a call computes never depends on the chunks: every
// band function computes its items independently of the range it is given.
constexpr std::int32_t kChunksPerBand = 32;
// How often the calling thread asks the host while the bands run.
constexpr auto kAskInterval = kAbortAskInterval;

struct ChunkedCall {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
};

struct ChunkedBand {
    Band band;
    ChunkedCall* call;
};

void runChunks(const Band& band, const std::atomic<bool>& stop, bool askHost) {
    const std::int32_t chunk = std::max<std::int32_t>(1, (band.end - band.begin) / kChunksPerBand);
    for (std::int32_t begin = band.begin; begin < band.end; begin += chunk) {
        if (stop.load(std::memory_order_relaxed) || frameInterrupted()) return;
        band.function(band.context, begin, std::min(band.end, begin + chunk));
        if (askHost) askFrameAbortWhenDue();
    }
}

void runChunkedBand(void* raw) {
    ChunkedBand* chunked = static_cast<ChunkedBand*>(raw);
    runChunks(chunked->band, chunked->call->stop, false);
    const std::lock_guard<std::mutex> lock(chunked->call->mutex);
    --chunked->call->running;
    chunked->call->finished.notify_one();
}

// The bands on their threads while the calling thread, the one that may talk to the host, asks
// it every few milliseconds whether to go on.
void runInterruptible(std::int32_t n, unsigned threads, BandFunction function, void* context) {
    ChunkedCall call;
    ChunkedBand bands[kMaxParallelThreads];
    platform::ThreadHandle handles[kMaxParallelThreads];
    bool started[kMaxParallelThreads] = {};
    const std::int32_t bandSize = n / static_cast<std::int32_t>(threads);
    call.running = threads;
    for (unsigned t = 0; t < threads; ++t) {
        const std::int32_t begin = static_cast<std::int32_t>(t) * bandSize;
        const std::int32_t end = t + 1 == threads ? n : begin + bandSize;
        bands[t] = ChunkedBand{Band{function, context, begin, end}, &call};
        started[t] = platform::startThread(handles[t], runChunkedBand, &bands[t]);
    }
    for (unsigned t = 0; t < threads; ++t) {
        if (started[t]) continue;
        runChunks(bands[t].band, call.stop, true);
        const std::lock_guard<std::mutex> lock(call.mutex);
        --call.running;
    }
    std::unique_lock<std::mutex> lock(call.mutex);
    while (call.running > 0) {
        if (call.finished.wait_for(lock, kAskInterval, [&] { return call.running == 0; })) break;
        lock.unlock();
        if (askFrameAbort() != 0) call.stop = true;
        lock.lock();
    }
    lock.unlock();
    for (unsigned t = 0; t < threads; ++t) {
        if (started[t]) platform::joinThread(handles[t]);
    }
}

}  // namespace

void parallelRowsRaw(std::int32_t n, BandFunction function, void* context) {
    if (n < 1) return;
    const unsigned threads = parallelBandCount(n);
    if (frameInterruptInstalled()) {
        // A frame the host abandoned computes nothing more. A call that starts long after the
        // last question asks first: a stage made of many short passes asks between them.
        if (askFrameAbortWhenDue() != 0) return;
        if (threads <= 1) {
            const std::atomic<bool> never{false};
            runChunks(Band{function, context, 0, n}, never, true);
        } else {
            runInterruptible(n, threads, function, context);
        }
        return;
    }
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
