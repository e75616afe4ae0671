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

namespace {

// How a call splits [0, n) into bands of whole groups: band t begins at t x (groups / threads)
// groups, the last band ends at n. With groups of one item these are the plain bands.
struct BandSplit {
    unsigned threads;
    std::int32_t group;
    std::int32_t size;  // items per band but the last, a multiple of the group

    BandSplit(std::int32_t n, std::int32_t groupSize) {
        group = std::max<std::int32_t>(1, groupSize);
        const std::int32_t groups =
            n < 1 ? 0 : static_cast<std::int32_t>((std::int64_t{n} + group - 1) / group);
        threads = platform::hardwareThreads();
        if (threads < 1) threads = 1;
        if (threads > kMaxParallelThreads) threads = kMaxParallelThreads;
        if (groups < static_cast<std::int32_t>(threads))
            threads = groups < 1 ? 1u : static_cast<unsigned>(groups);
        size = std::max<std::int32_t>(1, groups / static_cast<std::int32_t>(threads)) * group;
    }
    std::int32_t begin(unsigned t) const { return static_cast<std::int32_t>(t) * size; }
    std::int32_t end(unsigned t, std::int32_t n) const {
        return t + 1 == threads ? n : begin(t) + size;
    }
};

}  // namespace

unsigned parallelBandCount(std::int32_t n, std::int32_t group) {
    return BandSplit(n, group).threads;
}

unsigned parallelBandOf(std::int32_t n, std::int32_t item, std::int32_t group) {
    const BandSplit split(n, group);
    return std::min(split.threads - 1, static_cast<unsigned>(std::max(item, 0) / split.size));
}

namespace {
struct Band {
    BandFunction function;
    void* context;
    std::int32_t begin;
    std::int32_t end;
    std::int32_t group;
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
    const std::int32_t groups = (band.end - band.begin) / band.group;
    const std::int32_t chunk = std::max<std::int32_t>(1, groups / kChunksPerBand) * band.group;
    for (std::int32_t begin = band.begin; begin < band.end; begin += chunk) {
        if (stop.load(std::memory_order_relaxed) || frameInterrupted()) return;
        band.function(band.context, begin, std::min(band.end, begin + chunk));
        if (askHost) askFrameAbortWhenDue();
    }
}

// The stop flag of the call whose band this worker thread runs.
thread_local const std::atomic<bool>* tCallStop = nullptr;

void runChunkedBand(void* raw) {
    ChunkedBand* chunked = static_cast<ChunkedBand*>(raw);
    tCallStop = &chunked->call->stop;
    runChunks(chunked->band, chunked->call->stop, false);
    tCallStop = nullptr;
    const std::lock_guard<std::mutex> lock(chunked->call->mutex);
    --chunked->call->running;
    chunked->call->finished.notify_one();
}

// The bands on their threads while the calling thread, the one that may talk to the host, asks
// it every few milliseconds whether to go on.
void runInterruptible(std::int32_t n, const BandSplit& split, BandFunction function,
                      void* context) {
    const unsigned threads = split.threads;
    ChunkedCall call;
    ChunkedBand bands[kMaxParallelThreads];
    platform::ThreadHandle handles[kMaxParallelThreads];
    bool started[kMaxParallelThreads] = {};
    call.running = threads;
    for (unsigned t = 0; t < threads; ++t) {
        bands[t] = ChunkedBand{
            Band{function, context, split.begin(t), split.end(t, n), split.group}, &call};
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

bool parallelWorkStopped() {
    return (tCallStop && tCallStop->load(std::memory_order_relaxed)) || frameInterrupted() != 0;
}

void parallelRowsRaw(std::int32_t n, BandFunction function, void* context, std::int32_t group) {
    if (n < 1) return;
    const BandSplit split(n, group);
    const unsigned threads = split.threads;
    if (frameInterruptInstalled()) {
        // A frame the host abandoned computes nothing more. A call that starts long after the
        // last question asks first: a stage made of many short passes asks between them.
        if (askFrameAbortWhenDue() != 0) return;
        if (threads <= 1) {
            const std::atomic<bool> never{false};
            runChunks(Band{function, context, 0, n, split.group}, never, true);
        } else {
            runInterruptible(n, split, function, context);
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
    for (unsigned t = 0; t < threads; ++t) {
        bands[t] = Band{function, context, split.begin(t), split.end(t, n), split.group};
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
