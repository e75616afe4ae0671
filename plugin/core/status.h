// Status: how a frame or a step of it ended, in no host's terms. Each front end turns it into its
// host's error codes.
#pragma once
#include <cstdint>

namespace lumet {

enum class StatusCode : std::int32_t {
    kOk = 0,
    kOutOfMemory,   // a plane, a buffer or the frame's memory share could not be had
    kInterrupted,   // the host asked to abandon the frame
    kBadInput,      // the host handed over something the effect cannot read
    kFailed,        // anything else
};

struct Status {
    StatusCode code = StatusCode::kOk;
    // For an interrupted frame: what the host's abort answered, which its front end returns.
    std::int32_t hostAnswer = 0;

    bool ok() const { return code == StatusCode::kOk; }
    bool operator==(const Status&) const = default;
    static Status outOfMemory() { return {StatusCode::kOutOfMemory, 0}; }
    static Status interrupted(std::int32_t answer) { return {StatusCode::kInterrupted, answer}; }
    static Status failed() { return {StatusCode::kFailed, 0}; }
};

}  // namespace lumet
