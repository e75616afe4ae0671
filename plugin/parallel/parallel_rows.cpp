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

namespace {
struct Band {
    BandFunction function;
    void* context;
    std::int32_t begin;
    std::int32_t end;
    std::int32_t group;
};
// The worker running a band function on this thread, and the stop flag of its call (null
// outside an interruptible call).
thread_local unsigned tWorker = 0;
thread_local const std::atomic<bool>* tCallStop = nullptr;

// Sets the calling thread's worker for as long as it lives, then puts back what was there (a
// band function may itself make a parallel call whose band comes back to this thread).
class WorkerScope {
public:
    WorkerScope(unsigned worker, const std::atomic<bool>* stop)
        : worker_(tWorker), stop_(tCallStop) {
        tWorker = worker;
        tCallStop = stop;
    }
    ~WorkerScope() {
        tWorker = worker_;
        tCallStop = stop_;
    }
    WorkerScope(const WorkerScope&) = delete;
    WorkerScope& operator=(const WorkerScope&) = delete;

private:
    unsigned worker_;
    const std::atomic<bool>* stop_;
};

struct WorkerBand {
    Band band;
    unsigned worker;
};

void runBand(void* raw) {
    const WorkerBand* own = static_cast<const WorkerBand*>(raw);
    const WorkerScope scope(own->worker, nullptr);
    own->band.function(own->band.context, own->band.begin, own->band.end);
}

// Under a frame interrupt the bands run in pieces, so that they can stop soon after the host
// asked to abandon the frame, and a worker that is done with its own band takes the pieces its
// neighbours have not started, so that a band of costly rows does not keep the others waiting.
// Which pixels a call computes never depends on the pieces or on who runs them: every band
// function computes its items independently of the range it is given.
constexpr std::int32_t kChunksPerBand = 32;
// How often the calling thread asks the host while the bands run.
constexpr auto kAskInterval = kAbortAskInterval;

struct ChunkedBand {
    Band band;
    std::int64_t chunk = 1;             // items per piece, a multiple of the group
    std::atomic<std::int64_t> next{0};  // the first item not handed out yet

    void prepare(const Band& whole) {
        band = whole;
        const std::int32_t groups = (whole.end - whole.begin) / whole.group;
        chunk = std::int64_t{std::max<std::int32_t>(1, groups / kChunksPerBand)} * whole.group;
        next = whole.begin;
    }
};

struct ChunkedCall {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
    unsigned workers = 0;
    ChunkedBand bands[kMaxParallelThreads];
};

struct ChunkedWorker {
    ChunkedCall* call;
    unsigned worker;
};

// Worker w's pieces: its own band's in order, then what is left of the others'.
void runPieces(ChunkedCall& call, unsigned w, bool askHost) {
    const WorkerScope scope(w, &call.stop);
    for (unsigned k = 0; k < call.workers; ++k) {
        ChunkedBand& band = call.bands[(w + k) % call.workers];
        while (!call.stop.load(std::memory_order_relaxed) && !frameInterrupted()) {
            const std::int64_t begin = band.next.fetch_add(band.chunk, std::memory_order_relaxed);
            if (begin >= band.band.end) break;
            const std::int64_t end = std::min<std::int64_t>(band.band.end, begin + band.chunk);
            band.band.function(band.band.context, static_cast<std::int32_t>(begin),
                               static_cast<std::int32_t>(end));
            if (askHost) askFrameAbortWhenDue();
        }
    }
}

void runChunkedWorker(void* raw) {
    const ChunkedWorker* own = static_cast<const ChunkedWorker*>(raw);
    runPieces(*own->call, own->worker, false);
    const std::lock_guard<std::mutex> lock(own->call->mutex);
    --own->call->running;
    own->call->finished.notify_one();
}

// The workers on their threads while the calling thread, the one that may talk to the host, asks
// it every few milliseconds whether to go on.
void runInterruptible(std::int32_t n, const BandSplit& split, BandFunction function,
                      void* context) {
    const unsigned threads = split.threads;
    ChunkedCall call;
    ChunkedWorker workers[kMaxParallelThreads];
    platform::ThreadHandle handles[kMaxParallelThreads];
    bool started[kMaxParallelThreads] = {};
    call.running = threads;
    call.workers = threads;
    for (unsigned t = 0; t < threads; ++t) {
        call.bands[t].prepare(
            Band{function, context, split.begin(t), split.end(t, n), split.group});
    }
    for (unsigned t = 0; t < threads; ++t) {
        workers[t] = ChunkedWorker{&call, t};
        started[t] = platform::startThread(handles[t], runChunkedWorker, &workers[t]);
    }
    for (unsigned t = 0; t < threads; ++t) {
        if (started[t]) continue;
        runPieces(call, t, true);
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

unsigned parallelWorker() { return tWorker; }

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
            ChunkedCall call;
            call.workers = 1;
            call.bands[0].prepare(Band{function, context, 0, n, split.group});
            runPieces(call, 0, true);
        } else {
            runInterruptible(n, split, function, context);
        }
        return;
    }
    if (threads <= 1) {
        const WorkerScope scope(0, tCallStop);
        function(context, 0, n);
        return;
    }
    WorkerBand bands[kMaxParallelThreads];
    platform::ThreadHandle handles[kMaxParallelThreads];
    bool started[kMaxParallelThreads] = {};
    for (unsigned t = 0; t < threads; ++t) {
        bands[t] =
            WorkerBand{Band{function, context, split.begin(t), split.end(t, n), split.group}, t};
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
