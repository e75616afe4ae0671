// What the last frame did, for tests and the command line's stage dump: which stages ran, the
// frame's layout, and (to an observer installed in-process) every intermediate plane of the
// frame while it is still alive. Nothing here changes what a render computes.
#pragma once
#include <cstdint>

#include "core/status.h"
#include "core/frame_window.h"
#include "params/render_settings.h"
#include "render/stage_cache.h"

namespace lumet {

enum class RenderPath : std::int32_t { kNone = 0, kSmart = 1, kPlain = 2, kOfx = 3 };

// Counters of the stages that actually recomputed, summed over frames since the last reset.
struct StageCounters {
    std::uint64_t frames = 0;      // frames that reached the output stage
    std::uint64_t geometry = 0;    // geometry sequence runs
    std::uint64_t reflection = 0;  // reflection stage runs
    std::uint64_t shading = 0;     // shading stage runs
    std::uint64_t glow = 0;        // glow computations (not reuses)
    std::uint64_t envLoads = 0;    // environment maps prepared by the plain path itself
};

struct FrameReport {
    RenderPath path = RenderPath::kNone;
    Status result;
    StageFlags flags;  // the dirty flags the frame decided (after the size check)
    bool geometryRan = false, reflectionRan = false, shadingRan = false, glowRan = false;
    bool glowUsed = false;   // the output received a glow
    bool envLoaded = false;  // the plain path prepared its environment map
    bool gpu = false;        // the frame held the GPU lock
    // Pieces (bands of rows, in every tile of columns) the frame was computed in, over the memory
    // budget (0: whole, through the stage cache).
    std::int32_t strips = 0;
    std::int32_t W = 0, H = 0, SS = 0, W2 = 0, H2 = 0, dx = 0, dy = 0;
    FrameWindow window;          // the rectangle of the frame the glow and output covered
    FrameWindow geometryWindow;  // the rectangle the geometry, reflection and shading covered
    std::uint32_t alphaHash = 0;
};

// The planes of one frame, valid only during the observer call. Absent planes are null. The
// planes hold windows of the W x H frame: alpha and glow `window`, shade `geometryWindow` and
// the working planes `geometryWindow` at SS times its size; outside them the frame holds zeros
// and flat normals (0, 0, 1).
struct FramePlanes {
    const RenderSettings* settings = nullptr;
    std::int32_t W = 0, H = 0, SS = 1, W2 = 0, H2 = 0, dx = 0, dy = 0;
    FrameWindow window, geometryWindow;     // frame pixels
    const std::uint8_t* alpha = nullptr;    // the window, after smoothing
    const std::uint8_t* alphaSS = nullptr;  // working (the alpha itself when SS = 1)
    const float* heightMap = nullptr;       // working
    const float* normalMap = nullptr;       // 3 x working, interleaved
    const float* refl[3] = {};              // working
    const float* shade[3] = {};             // the geometry window
    const float* glow[4] = {};              // the window, R, G, B, A; null when no glow
    const float* envSharpRgb = nullptr;   // envW x envH, interleaved R, G, B
    const float* envSmoothRgb = nullptr;  // the same
    std::int32_t envW = 0, envH = 0;
};

using FrameObserver = void (*)(void* context, const FramePlanes& planes);

// Installs (or, with null, removes) the observer that every frame calls just before its output
// stage. Process-wide; meant for in-process use by tests and the stage dump.
void setFrameObserver(FrameObserver observer, void* context);

// The report of the frame that finished last, on any thread.
FrameReport lastFrameReport();
StageCounters stageCounters();
void resetStageCounters();

// Used by the render paths.
void beginFrameReport(RenderPath path);
FrameReport& currentFrameReport();
void finishFrameReport(const Status& result);
void notifyFrameObserver(const FramePlanes& planes);

}  // namespace lumet
