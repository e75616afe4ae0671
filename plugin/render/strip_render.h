// A frame too large for the memory budget, computed in bands of output rows, within tiles of its
// columns where the plan has them: each band runs the geometry, reflection, shading and glow over
// its rows and the rows around them that those stages read (job.strips says how many), and
// writes its rows of the output; a tile does the same over its columns and the columns around
// them. The values that need the whole frame (the shape's greatest inner distance, the smart
// edge's two maxima) are measured over all bands first. Every stage's result at a band's own
// pixels is the whole frame's, so the output is the same bytes as the frame computed at once;
// nothing is kept for the next frame.
#pragma once

#include "core/status.h"
#include "render/frame_pipeline.h"

namespace lumet {

// Runs the job (whose windows, coverage and strips are set) on the CPU. Returns out of memory
// when a band's planes cannot be had, interrupted when the host asked to abandon the frame
// (the output is then incomplete).
Status runStripFrame(const FrameJob& job);

}  // namespace lumet
