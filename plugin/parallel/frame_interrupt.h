// The host's means of cutting a frame short, as the thread that renders the frame sees them. A
// front end installs the host's abort and progress callbacks for the length of a frame
// (FrameInterruptScope); the pipeline asks between its stages, and ParallelRows asks every few
// milliseconds while its bands run, which then stop at their next chunk. A stage cut short
// leaves its output incomplete: whoever ran it checks frameInterrupted() and throws it away.
// Without a scope nothing is ever asked and every stage runs to its end.
#pragma once
#include <chrono>
#include <cstdint>

namespace lumet {

struct FrameInterrupt {
    // Asks the host whether to abandon the frame: 0 to go on, else the error to return. Called
    // only on the thread that installed the scope. Null: never abandon.
    std::int32_t (*abort)(void* context) = nullptr;
    // Tells the host how far the frame has come (done of total). Null: not reported.
    void (*progress)(void* context, std::int32_t done, std::int32_t total) = nullptr;
    void* context = nullptr;
};

// Installs `interrupt` for the calling thread until the scope ends (scopes nest; the inner one
// wins).
class FrameInterruptScope {
public:
    explicit FrameInterruptScope(const FrameInterrupt& interrupt);
    ~FrameInterruptScope();
    FrameInterruptScope(const FrameInterruptScope&) = delete;
    FrameInterruptScope& operator=(const FrameInterruptScope&) = delete;

    const FrameInterrupt interrupt;
    std::int32_t error = 0;  // what the host answered when it asked to abandon the frame
    std::chrono::steady_clock::time_point asked;  // when the host was last asked

private:
    FrameInterruptScope* previous_;
};

// Asks the host now (on the thread of the scope). Returns the host's error once it has asked to
// abandon the frame, and from then on without asking again; 0 otherwise and without a scope.
std::int32_t askFrameAbort();

// How often the frame asks the host at most, and at least while work goes on.
inline constexpr std::chrono::milliseconds kAbortAskInterval{4};

// askFrameAbort when kAbortAskInterval has passed since the host was last asked (or the scope
// began); otherwise the earlier answer. Work made of many short steps (parallel passes of a few
// milliseconds each) asks at each step, so that the host never waits long between questions.
std::int32_t askFrameAbortWhenDue();

// The error of an abandon the host asked for earlier in this frame, without asking (0: none).
std::int32_t frameInterrupted();

// Reports progress through the installed scope, if it has a progress callback.
void reportFrameProgress(std::int32_t done, std::int32_t total);

// For ParallelRows: whether the calling thread renders under a scope.
bool frameInterruptInstalled();

}  // namespace lumet
