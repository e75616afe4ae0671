// The content window: the layer's covered pixels grown by how far any stage can carry a value
// beyond them or reads around them. Outside it every plane holds what an empty frame holds
// (coverage and heights 0, flat normals, no reflection, shade or glow) and the output is
// transparent, so a frame computed over the window alone is the frame computed over the whole
// canvas.
#pragma once
#include <cstdint>

#include "core/frame_window.h"
#include "geometry/alpha_extraction.h"
#include "params/render_settings.h"

namespace lumet {

// Working pixels between the covered area and the farthest pixel whose geometry, reflection or
// shading can differ from an empty frame's, or that a stage reads to compute a pixel that can:
// the outer bevel's width, the softening blurs, the smart edge's blurs, the normal taps and
// their blur, the shading's neighbourhood. pixelScale: working pixels per full-resolution pixel
// (SS times the host's preview factor).
std::int32_t geometryReach(const RenderSettings& settings, float pixelScale);

// Frame pixels by which the glow spreads beyond the covered area (0 without glow), its radius
// scaled by the preview factor.
std::int32_t glowReach(const RenderSettings& settings, float preview);

// The windows of a W x H frame whose covered pixels lie within `bounds` (frame pixels,
// inclusive; min above max for an empty layer), cut to the frame:
//  - geometry: the bounds grown by the geometry's reach (in frame pixels, with the alpha
//    smoothing's and the resampling's pixel): the coverage, the geometry, the reflection and the
//    shading;
//  - output: the geometry window grown to the glow's reach as well: the glow and the output.
// An empty layer gets the single pixel (0, 0) for both; the Show Env Map view the whole frame.
// `preview` is the host's preview factor (1 at full resolution).
struct ContentWindows {
    FrameWindow geometry;
    FrameWindow output;
};
ContentWindows contentWindows(const ContentBounds& bounds, std::int32_t W, std::int32_t H,
                              const RenderSettings& settings, std::int32_t SS, float preview);

// An upper estimate of the bytes a frame's planes take at their peak over these windows: the
// kept and passing planes of the geometry, reflection and shading per working pixel, the glow's
// and the output's per pixel of the output window.
std::int64_t frameBytes(const ContentWindows& windows, std::int32_t SS);

// The bytes a device whose buffers live in host memory takes for the same frame.
std::int64_t deviceFrameBytes(const ContentWindows& windows, std::int32_t SS);

// The memory a frame's working planes may take before the frame is computed in pieces (bands of
// rows, tiles of columns) instead of whole: LUMET_MEMORY_BUDGET when it is set and reads as a size (bytes, or with a K,
// M or G suffix: 300M), else a thirty-second of the physical memory, at least 768 MiB.
std::int64_t memoryBudgetBytes();

// A size such as 4096, 512K, 300M, 2G or 1.5G (powers of 1024; a trailing B or iB allowed);
// false for anything else, zero included.
bool parseByteSize(const char* text, std::int64_t& bytes);

// How a frame over the budget is computed: bands of `rows` output rows (0: whole), each with
// the glow's reach around it (`glowHalo` frame rows) and the geometry's around that
// (`geometryHalo` working rows, a multiple of SS); with `columns` (0: the whole width), in tiles
// of that many of the window's columns, each reaching as far around its columns as a band
// around its rows; and the bytes a band takes at its peak besides the frame's coverage planes
// and a tile's copies of them (`fixedBytes`).
struct StripPlan {
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    std::int32_t glowHalo = 0;
    std::int32_t geometryHalo = 0;
    std::int64_t bandBytes = 0;
    std::int64_t fixedBytes = 0;
};

// The working rows around a band whose values the band's geometry, reflection and shading
// still need: the distances up to the bevel's width, the softening, the smart edge, the normals
// and their blur and the shading's neighbourhood; and those the frame's measures read around
// what they measure (the thickness's distances, the Sobel taps and the edge blur).
std::int32_t geometryBandHalo(const RenderSettings& settings, std::int32_t SS, float preview);

// The bands for a frame over these windows that fit `budget` bytes with its coverage planes:
// bands of whole rows, as few as the budget allows, of even height and at least kLeastBandRows
// rows, where the least of them fits and a band's glow does not span the whole window; else
// tiles of columns that each take at most a sixteenth of the budget, the window's whole height
// where that fits.
constexpr std::int32_t kLeastBandRows = 16;
StripPlan planStrips(const ContentWindows& windows, const RenderSettings& settings, std::int32_t SS,
                     float preview, std::int64_t budget);

// The bytes the frames being rendered now hold against the memory bound.
std::int64_t reservedFrameBytesNow();

// The bytes a frame being rendered counts against the memory bound until it ends, so that
// frames rendered at once share it.
class FrameMemoryReservation {
public:
    FrameMemoryReservation() = default;
    ~FrameMemoryReservation() { release(); }
    FrameMemoryReservation(const FrameMemoryReservation&) = delete;
    FrameMemoryReservation& operator=(const FrameMemoryReservation&) = delete;
    void hold(std::int64_t bytes);
    void release();

private:
    std::int64_t bytes_ = 0;
};

// Whether a frame of frameBytes may be computed: at most half the physical memory the system
// reports (4 GiB when it reports none), so that a frame too large for the machine fails with
// the host's out-of-memory error before its planes are allocated, instead of paging the system
// to a halt or bringing the out-of-memory killer onto the host. Under an address-space limit the
// bound is what the process may still map.
// Under an address-space limit the frames being rendered at once count together: the frame's
// reservation holds its bytes when it fits.
bool frameFitsMemory(std::int64_t bytes);
bool frameFitsMemory(std::int64_t bytes, FrameMemoryReservation& reservation);

}  // namespace lumet
