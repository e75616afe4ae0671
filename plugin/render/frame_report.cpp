// The last frame's report, the stage counters and the frame observer.
#include "render/frame_report.h"

#include <mutex>

namespace lumet {

namespace {

struct ReportState {
    std::mutex mutex;
    FrameReport current;
    FrameReport last;
    StageCounters counters;
    FrameObserver observer = nullptr;
    void* observerContext = nullptr;
};

ReportState& state() {
    static ReportState instance;
    return instance;
}

}  // namespace

void setFrameObserver(FrameObserver observer, void* context) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().observer = observer;
    state().observerContext = context;
}

const FrameReport& lastFrameReport() { return state().last; }

StageCounters stageCounters() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().counters;
}

void resetStageCounters() {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().counters = StageCounters{};
}

void beginFrameReport(RenderPath path) {
    state().current = FrameReport{};
    state().current.path = path;
}

FrameReport& currentFrameReport() { return state().current; }

void finishFrameReport(PF_Err result) {
    std::lock_guard<std::mutex> lock(state().mutex);
    ReportState& s = state();
    s.current.result = result;
    if (result == PF_Err_NONE) ++s.counters.frames;
    if (s.current.geometryRan) ++s.counters.geometry;
    if (s.current.reflectionRan) ++s.counters.reflection;
    if (s.current.shadingRan) ++s.counters.shading;
    if (s.current.glowRan) ++s.counters.glow;
    if (s.current.envLoaded) ++s.counters.envLoads;
    s.last = s.current;
}

void notifyFrameObserver(const FramePlanes& planes) {
    FrameObserver observer;
    void* context;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        observer = state().observer;
        context = state().observerContext;
    }
    if (observer) observer(context, planes);
}

}  // namespace lumet
