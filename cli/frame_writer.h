// FrameWriter: writes rendered frames on a thread of its own, in the order they were rendered,
// while the next frame renders. One frame waits at most beside the one being written, so memory
// stays at two frames. The first failed write stops the writer; the caller learns of it (the
// exception rethrown) at its next hand-over or at finish(), and no later frame is written.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "frame_instance.h"

namespace lumet::cli {

class FrameWriter {
public:
    // `write` converts and writes one frame; it runs on the writer's thread.
    using Write = std::function<void(std::int32_t frame, RenderedOutput& rendered)>;
    explicit FrameWriter(Write write);
    ~FrameWriter();  // finishes what was handed over; a failure then is dropped
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Hands a frame over, waiting while another one is waiting; rethrows an earlier failure.
    void write(std::int32_t frame, RenderedOutput rendered);
    // Waits until every frame handed over is written; rethrows a failure.
    void finish();

private:
    struct Pending {
        std::int32_t frame;
        RenderedOutput rendered;
    };
    void run();
    void rethrowFailure();

    Write write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Pending> waiting_;  // guarded by mutex_
    bool busy_ = false, stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace lumet::cli
