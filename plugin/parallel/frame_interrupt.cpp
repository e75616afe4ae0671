// The frame interrupt of the rendering thread (see frame_interrupt.h).
#include "parallel/frame_interrupt.h"

namespace lumet {

namespace {
thread_local FrameInterruptScope* installed = nullptr;
}  // namespace

FrameInterruptScope::FrameInterruptScope(const FrameInterrupt& interrupt)
    : interrupt(interrupt), asked(std::chrono::steady_clock::now()), previous_(installed) {
    installed = this;
}

FrameInterruptScope::~FrameInterruptScope() { installed = previous_; }

std::int32_t askFrameAbort() {
    FrameInterruptScope* scope = installed;
    if (!scope || !scope->interrupt.abort) return 0;
    if (scope->error == 0) scope->error = scope->interrupt.abort(scope->interrupt.context);
    scope->asked = std::chrono::steady_clock::now();
    return scope->error;
}

std::int32_t askFrameAbortWhenDue() {
    FrameInterruptScope* scope = installed;
    if (!scope || !scope->interrupt.abort || scope->error != 0) return scope ? scope->error : 0;
    if (std::chrono::steady_clock::now() - scope->asked < kAbortAskInterval) return 0;
    return askFrameAbort();
}

std::int32_t frameInterrupted() { return installed ? installed->error : 0; }

void reportFrameProgress(std::int32_t done, std::int32_t total) {
    const FrameInterruptScope* scope = installed;
    if (scope && scope->interrupt.progress)
        scope->interrupt.progress(scope->interrupt.context, done, total);
}

bool frameInterruptInstalled() { return installed && installed->interrupt.abort; }

}  // namespace lumet
