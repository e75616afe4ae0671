// The last frame's report, the stage counters and the frame observer. Each render fills a report
// of its own thread; a finished report, the counters and the observer are shared under one mutex,
// so renders on several threads never write the same record.
#include "render/frame_report.h"

#include <mutex>

namespace lumet {

namespace {

thread_local FrameReport tCurrent;

struct ReportState {
    std::mutex mutex;
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

FrameReport lastFrameReport() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().last;
}

StageCounters stageCounters() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().counters;
}

void resetStageCounters() {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().counters = StageCounters{};
}

void beginFrameReport(RenderPath path) {
    tCurrent = FrameReport{};
    tCurrent.path = path;
}

FrameReport& currentFrameReport() { return tCurrent; }

void finishFrameReport(const Status& result) {
    tCurrent.result = result;
    std::lock_guard<std::mutex> lock(state().mutex);
    ReportState& s = state();
    if (result.ok()) ++s.counters.frames;
    if (tCurrent.geometryRan) ++s.counters.geometry;
    if (tCurrent.reflectionRan) ++s.counters.reflection;
    if (tCurrent.shadingRan) ++s.counters.shading;
    if (tCurrent.glowRan) ++s.counters.glow;
    if (tCurrent.envLoaded) ++s.counters.envLoads;
    s.last = tCurrent;
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
