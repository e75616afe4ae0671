#include "frame_writer.h"

#include <utility>

namespace lumet::cli {

FrameWriter::FrameWriter(Write write) : write_(std::move(write)), thread_([this] { run(); }) {}

FrameWriter::~FrameWriter() {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FrameWriter::rethrowFailure() {
    if (failure_) std::rethrow_exception(failure_);
}

void FrameWriter::write(std::int32_t frame, RenderedOutput rendered) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !waiting_ || failure_; });
    rethrowFailure();
    waiting_.emplace(Pending{frame, std::move(rendered)});
    changed_.notify_all();
}

void FrameWriter::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return (!waiting_ && !busy_) || failure_; });
    rethrowFailure();
}

void FrameWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return waiting_ || stopping_; });
        if (!waiting_ || failure_) return;
        Pending pending = std::move(*waiting_);
        waiting_.reset();
        busy_ = true;
        changed_.notify_all();
        lock.unlock();
        std::exception_ptr failure;
        try {
            write_(pending.frame, pending.rendered);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        busy_ = false;
        if (failure) failure_ = failure;
        changed_.notify_all();
    }
}

}  // namespace lumet::cli
