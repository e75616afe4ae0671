// Reaches of the stages and the content window (see content_window.h).
#include "render/content_window.h"

#include <algorithm>
#include <atomic>
#include <cmath>

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

// How far the three-pass box blur of radius r moves a value: the sum of its pass radii.
std::int32_t threePassReach(std::int32_t radius) {
    if (radius < 1) return 0;
    std::int32_t radii[3];
    threePassRadii(radius, radii);
    return radii[0] + radii[1] + radii[2];
}

}  // namespace

std::int32_t geometryReach(const RenderSettings& settings, float pixelScale) {
    const std::int32_t style = settings.bevelStyle;
    std::int32_t reach = 0;
    // Outside heights fall to 0 at the bevel's width from the covered pixels.
    if (style >= kOuterBevel && style <= kPillow)
        reach +=
            static_cast<std::int32_t>(std::ceil(bevelWidthOf(settings.bevelDepth, pixelScale))) + 1;
    const SofteningRadii radii =
        softeningRadiiOf(settings.bevelDepth, settings.bevelSoftness, pixelScale);
    reach += threePassReach(radii.r1);
    if (radii.r2 > 0) reach += threePassReach(radii.r2);
    if (settings.smartEdge && style == kInnerBevel) {
        // The Sobel taps and the two blurs of the carving read around the covered pixels.
        const std::int32_t edgeBlur = edgeBlurRadiusOf(settings.bevelDepth, pixelScale);
        const std::int32_t wallBlur = wallBlurRadiusOf(settings.edgeStrength, pixelScale);
        reach += 1 + std::max(threePassReach(edgeBlur), threePassReach(wallBlur));
    }
    reach += 4;                                            // the normals' 9-tap filter
    reach += threePassReach(scaledPixels(3, pixelScale));  // the normal blur
    reach += 1;                                            // the shading's height Laplacian
    return reach;
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

std::int64_t frameBytes(const ContentWindows& windows, std::int32_t SS) {
    // Kept per working pixel: heights 4, normals 12, reflection 12, coverage 1, supersampled
    // shading 12; passing at the geometry's peak: two distance planes and the inverted coverage
    // 9, the normal blur's two planes and up to two scratch planes 16, the smart edge's colour,
    // edge and copy planes 32.
    constexpr std::int64_t kPerWorkingPixel = 41 + 57;
    // Per pixel of the output window: coverage 2, shading 12, glow 16, the layer's alpha and the
    // copy of the geometry's 2, and the glow's work planes: two per channel blurred at once, or
    // the device glow's three source planes.
    const std::int64_t glowWork = 4 * std::max<std::int64_t>(3, glowWorkPlaneCount());
    const std::int64_t perOutputPixel = 32 + glowWork;
    return windows.geometry.scaled(SS).pixels() * kPerWorkingPixel +
           windows.output.pixels() * perOutputPixel;
}

std::int64_t deviceFrameBytes(const ContentWindows& windows, std::int32_t SS) {
    // The device keeps the distance transform's planes (17 bytes per working pixel), the
    // reflection's inputs and outputs (29) and the shading's (41), a scratch pair the size of two
    // float planes of the output window, and the prepared map's six planes.
    constexpr std::int64_t kPerWorkingPixel = 17 + 29 + 41;
    constexpr std::int64_t kMapBytes = std::int64_t{6} * 2048 * 1024 * 4;
    return windows.geometry.scaled(SS).pixels() * kPerWorkingPixel +
           windows.output.pixels() * 8 + kMapBytes;
}

namespace {
std::atomic<std::int64_t> reservedFrameBytes{0};
}  // namespace

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
        if (bytes < 0 || static_cast<std::uint64_t>(bytes) + static_cast<std::uint64_t>(others) > room)
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
