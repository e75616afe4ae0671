// Reaches of the stages and the content window (see content_window.h).
#include "render/content_window.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "core/glow_pass.h"
#include "core/preview_scale.h"
#include "core/stage_constants.h"
#include "geometry/height_map.h"
#include "geometry/smart_edge.h"
#include "parallel/blur.h"
#include "platform/plane.h"
#include "platform/platform.h"
#include "shading/glow.h"

namespace lumet {

namespace {

// The working pixels a value travels through the softening, the smart edge (its blurs side by
// side, or one after the other where `chained`), the normals and their blur and the shading's
// height Laplacian.
std::int32_t reachAfterDistances(const RenderSettings& settings, float pixelScale, bool chained) {
    std::int32_t reach = 0;
    const SofteningRadii radii =
        softeningRadiiOf(settings.bevelDepth, settings.bevelSoftness, pixelScale);
    reach += threePassReach(radii.r1);
    if (radii.r2 > 0) reach += threePassReach(radii.r2);
    if (settings.smartEdge && settings.bevelStyle == kInnerBevel) {
        // The Sobel taps and the two blurs of the carving read around the covered pixels.
        const std::int32_t edgeBlur =
            threePassReach(edgeBlurRadiusOf(settings.bevelDepth, pixelScale));
        const std::int32_t wallBlur =
            threePassReach(wallBlurRadiusOf(settings.edgeStrength, pixelScale));
        reach += 1 + (chained ? edgeBlur + wallBlur : std::max(edgeBlur, wallBlur));
    }
    reach += 4;                                            // the normals' 9-tap filter
    reach += threePassReach(scaledPixels(3, pixelScale));  // the normal blur
    reach += 1;                                            // the shading's height Laplacian
    return reach;
}

std::int32_t bevelReach(const RenderSettings& settings, float pixelScale) {
    return static_cast<std::int32_t>(std::ceil(bevelWidthOf(settings.bevelDepth, pixelScale))) + 1;
}

}  // namespace

std::int32_t geometryReach(const RenderSettings& settings, float pixelScale) {
    const std::int32_t style = settings.bevelStyle;
    // Outside heights fall to 0 at the bevel's width from the covered pixels.
    const std::int32_t outside =
        style >= kOuterBevel && style <= kPillow ? bevelReach(settings, pixelScale) : 0;
    return outside + reachAfterDistances(settings, pixelScale, false);
}

std::int32_t glowReach(const RenderSettings& settings, float preview) {
    if (!(settings.glowIntensity > kGlowIntensityMin)) return 0;
    // The wider of the two scales; each fractional pass moves a value its whole radius plus the
    // fractional tap.
    const float passRadius = glowPassRadius(settings.glowRadius * preview, 1.0f);
    std::int32_t reach = 0;
    for (int pass = 0; pass < 3; ++pass)
        reach += static_cast<std::int32_t>(glowBoxRadius(passRadius, pass)) + 1;
    return reach;
}

ContentWindows contentWindows(const ContentBounds& bounds, std::int32_t W, std::int32_t H,
                              const RenderSettings& settings, std::int32_t SS, float preview) {
    if (settings.showEnvMap) return {FrameWindow::whole(W, H), FrameWindow::whole(W, H)};
    if (bounds.minX > bounds.maxX || bounds.minY > bounds.maxY) {
        const FrameWindow corner{0, 0, 1, 1, W, H};
        return {corner, corner};
    }
    const std::int32_t geometry =
        (geometryReach(settings, static_cast<float>(SS) * preview) + SS - 1) / SS + 2;
    const std::int32_t output = std::max(geometry, glowReach(settings, preview) + 1);
    const FrameWindow content{bounds.minX,
                              bounds.minY,
                              bounds.maxX - bounds.minX + 1,
                              bounds.maxY - bounds.minY + 1,
                              W,
                              H};
    return {content.grown(geometry), content.grown(output)};
}

namespace {
std::atomic<std::int64_t> reservedFrameBytes{0};

// Bytes of the geometry, reflection and shading per working pixel, and of the glow and the
// output per pixel of the output window (see frameBytes).
constexpr std::int64_t kPerWorkingPixel = 41 + 57;
std::int64_t perOutputPixel() { return 32 + 4 * std::max<std::int64_t>(3, glowWorkPlaneCount()); }
}  // namespace

// Kept per working pixel: heights 4, normals 12, reflection 12, coverage 1, supersampled
// shading 12; passing at the geometry's peak: two distance planes and the inverted coverage 9,
// the normal blur's two planes and up to two scratch planes 16, the smart edge's colour, edge
// and copy planes 32. Per pixel of the output window: coverage 2, shading 12, glow 16, the
// layer's alpha and the copy of the geometry's 2, and the glow's work planes: two per channel
// blurred at once, or the device glow's three source planes.
std::int64_t frameBytes(const ContentWindows& windows, std::int32_t SS) {
    return windows.geometry.scaled(SS).pixels() * kPerWorkingPixel +
           windows.output.pixels() * perOutputPixel();
}

std::int64_t deviceFrameBytes(const ContentWindows& windows, std::int32_t SS) {
    // The device keeps the distance transform's planes (17 bytes per working pixel), the
    // reflection's inputs and outputs (29) and the shading's (41), a scratch pair the size of two
    // float planes of the output window, and the prepared map's six planes.
    constexpr std::int64_t kPerWorkingPixel = 17 + 29 + 41;
    constexpr std::int64_t kMapBytes = std::int64_t{6} * 2048 * 1024 * 4;
    return windows.geometry.scaled(SS).pixels() * kPerWorkingPixel + windows.output.pixels() * 8 +
           kMapBytes;
}

std::int64_t reservedFrameBytesNow() {
    return std::max<std::int64_t>(0, reservedFrameBytes.load());
}

bool parseByteSize(const char* text, std::int64_t& bytes) {
    if (!text) return false;
    // Digits with an optional fraction, read without the locale (a host may have set one whose
    // decimal separator is not a point).
    double value = 0.0, place = 1.0;
    bool digits = false, point = false;
    const char* at = text;
    for (; (*at >= '0' && *at <= '9') || (*at == '.' && !point); ++at) {
        if (*at == '.') {
            point = true;
            continue;
        }
        digits = true;
        if (point) {
            place /= 10.0;
            value += (*at - '0') * place;
        } else {
            value = value * 10.0 + (*at - '0');
        }
    }
    if (!digits) return false;
    double scale = 1.0;
    switch (*at) {
        case 'K':
        case 'k':
            scale = 1024.0, ++at;
            break;
        case 'M':
        case 'm':
            scale = 1024.0 * 1024.0, ++at;
            break;
        case 'G':
        case 'g':
            scale = 1024.0 * 1024.0 * 1024.0, ++at;
            break;
        default:
            break;
    }
    if (scale > 1.0 && *at == 'i') ++at;
    if (*at == 'B' || *at == 'b') ++at;
    const double total = value * scale;
    if (*at != '\0' || !(total >= 1.0) || total > 9.0e18) return false;
    bytes = static_cast<std::int64_t>(total);
    return true;
}

std::int64_t memoryBudgetBytes() {
    std::int64_t bytes = 0;
    if (parseByteSize(std::getenv("LUMET_MEMORY_BUDGET"), bytes)) return bytes;
    // At least enough that a 4K text frame keeps its stage cache on any machine.
    constexpr std::int64_t kLeast = std::int64_t{768} << 20;
    const std::uint64_t physical = platform::physicalMemoryBytes();
    return std::max(kLeast, static_cast<std::int64_t>(physical / 32));
}

std::int32_t geometryBandHalo(const RenderSettings& settings, std::int32_t SS, float preview) {
    const float pixelScale = static_cast<float>(SS) * preview;
    // The inner and outer distances matter up to the bevel's width; one more row for the
    // Laplacian's supersampled neighbours.
    const std::int32_t reach =
        bevelReach(settings, pixelScale) + reachAfterDistances(settings, pixelScale, true) + 1;
    // What the frame's measures read around the pixels they measure: the distances up to where
    // the thickness stops mattering, the Sobel taps and the edge blur.
    const std::int32_t distances =
        static_cast<std::int32_t>(thicknessReach(settings.bevelDepth, pixelScale)) + 1;
    const std::int32_t edges =
        2 + threePassReach(edgeBlurRadiusOf(settings.bevelDepth, pixelScale));
    const std::int32_t halo = std::max({reach, distances, edges});
    return (halo + SS - 1) / SS * SS;
}

StripPlan planStrips(const ContentWindows& windows, const RenderSettings& settings, std::int32_t SS,
                     float preview, std::int64_t budget) {
    StripPlan plan;
    const FrameWindow& window = windows.output;
    const FrameWindow& area = windows.geometry;
    const FrameWindow work = area.scaled(SS);
    const bool glow = settings.glowIntensity > kGlowIntensityMin;
    plan.glowHalo = glow ? glowReach(settings, preview) + 1 : 0;
    plan.geometryHalo = geometryBandHalo(settings, SS, preview);
    // The frame columns a tile reaches on either side of the columns it writes.
    const std::int64_t tileHalo = plan.glowHalo + plan.geometryHalo / SS;
    // A band's geometry at its peak per working pixel (the shading's coverage, heights, normals,
    // reflection and supersampled shade, 41, and a downsampling plane), its shade and the shade
    // kept for the glow (12 each per pixel of the area's rows), the glow and its work planes per
    // pixel of the output window's rows; a band `columns` wide (the whole width, or a tile's
    // columns with its halo).
    constexpr std::int64_t kBandPerWorkingPixel = 45;
    const std::int64_t perGlowPixel = glow ? 16 + 4 * std::int64_t{glowWorkPlaneCount()} : 0;
    const auto bandBytes = [&](std::int64_t rows, std::int64_t columns) {
        const bool whole = columns >= window.width;
        const std::int64_t windowColumns =
            whole ? window.width : std::min<std::int64_t>(columns + 2 * tileHalo, window.width);
        const std::int64_t areaColumns =
            whole ? area.width : std::min<std::int64_t>(columns + 2 * tileHalo, area.width);
        const std::int64_t glowRows =
            std::min<std::int64_t>(rows + 2 * plan.glowHalo, window.height);
        const std::int64_t workRows =
            std::min<std::int64_t>(SS * rows + 2 * std::int64_t{plan.geometryHalo}, work.height);
        return workRows * SS * areaColumns * kBandPerWorkingPixel +
               (workRows / SS) * areaColumns * 12 +
               std::min<std::int64_t>(glowRows, area.height) * areaColumns * 12 +
               glowRows * windowColumns * perGlowPixel;
    };
    // The coverage over both windows stays whole.
    plan.fixedBytes = window.pixels() + area.pixels();
    const std::int64_t left = budget - plan.fixedBytes;
    const std::int64_t H = window.height, W = window.width;
    // The largest n in [low, high] that fits (low when none does).
    const auto largest = [](std::int64_t low, std::int64_t high, auto fits) {
        while (low < high) {
            const std::int64_t middle = low + (high - low + 1) / 2;
            if (fits(middle))
                low = middle;
            else
                high = middle - 1;
        }
        return low;
    };
    // The window's rows shared evenly by bands of at most `rows`.
    const auto evenRows = [H](std::int64_t rows) {
        const std::int64_t bands = (H + rows - 1) / rows;
        return static_cast<std::int32_t>((H + bands - 1) / bands);
    };
    // Bands of whole rows: as few as the budget allows, where they can save something (the least
    // band's glow does not span the whole window) and the least of them fits.
    if (kLeastBandRows + 2 * std::int64_t{plan.glowHalo} < H &&
        bandBytes(kLeastBandRows, W) <= left) {
        plan.rows = evenRows(
            largest(kLeastBandRows, H, [&](std::int64_t n) { return bandBytes(n, W) <= left; }));
        plan.bandBytes = bandBytes(plan.rows, W);
        return plan;
    }
    // Otherwise tiles of columns (a frame far wider than tall, or one whose least band of whole
    // rows is over the budget): each takes at most a sixteenth of what the budget leaves, so that
    // the process stays well below the budget, and writes at least eight times the columns of its
    // halos, so that they add at most a quarter to its work. A tile is the window's whole height
    // where that fits, else bands of rows as tall as fit. Where even the least such tile is over
    // the sixteenth, tiles take what the budget leaves.
    const std::int64_t leastColumns = std::max<std::int64_t>(kLeastBandRows, 8 * tileHalo);
    std::int64_t target = std::max<std::int64_t>(left / 16, 0);
    if (bandBytes(kLeastBandRows, leastColumns) > target) target = std::max<std::int64_t>(left, 0);
    std::int64_t rows = largest(
        kLeastBandRows, H, [&](std::int64_t n) { return bandBytes(n, leastColumns) <= target; });
    if (rows + 2 * std::int64_t{plan.glowHalo} >= H) rows = H;
    const std::int64_t columns =
        largest(leastColumns, W, [&](std::int64_t n) { return bandBytes(rows, n) <= target; });
    plan.rows = evenRows(rows);
    if (columns < W) {
        const std::int64_t tiles = (W + columns - 1) / columns;
        plan.columns = static_cast<std::int32_t>((W + tiles - 1) / tiles);
        // A tile's own copies of the coverage over its columns.
        const std::int64_t span = plan.columns + 2 * tileHalo;
        plan.fixedBytes += std::min<std::int64_t>(span, W) * H +
                           std::min<std::int64_t>(span, area.width) * area.height;
    }
    plan.bandBytes = bandBytes(plan.rows, plan.columns > 0 ? plan.columns : W);
    return plan;
}

void FrameMemoryReservation::hold(std::int64_t bytes) {
    release();
    bytes_ = bytes;
    reservedFrameBytes += bytes;
}

void FrameMemoryReservation::release() {
    reservedFrameBytes -= bytes_;
    bytes_ = 0;
}

bool frameFitsMemory(std::int64_t bytes, FrameMemoryReservation& reservation) {
    // Under an address-space limit, what is still free to map, plus the pool's blocks, which the
    // frame reuses, less what the frames being rendered beside it have yet to take.
    const std::uint64_t left = platform::addressSpaceLeftBytes();
    if (left != UINT64_MAX) {
        const std::int64_t others = std::max<std::int64_t>(0, reservedFrameBytes.load());
        const std::uint64_t room = left + planePoolStats().heldBytes;
        if (bytes < 0 ||
            static_cast<std::uint64_t>(bytes) + static_cast<std::uint64_t>(others) > room)
            return false;
    }
    if (!frameFitsMemory(bytes)) return false;
    reservation.hold(bytes);
    return true;
}

bool frameFitsMemory(std::int64_t bytes) {
    constexpr std::uint64_t kUnknownBudget = std::uint64_t{4} << 30;
    const std::uint64_t physical = platform::physicalMemoryBytes();
    const std::uint64_t budget = physical ? physical / 2 : kUnknownBudget;
    if (bytes < 0 || static_cast<std::uint64_t>(bytes) > budget) return false;
    makeRoomForFrame(static_cast<std::uint64_t>(bytes), budget);
    return true;
}

}  // namespace lumet
