// A frame in bands of rows and tiles of columns (see strip_render.h).
#include "render/strip_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/stage_constants.h"
#include "geometry/distance_transform.h"
#include "geometry/height_map.h"
#include "geometry/smart_edge.h"
#include "parallel/blur.h"
#include "parallel/frame_interrupt.h"
#include "parallel/parallel_rows.h"
#include "platform/plane.h"
#include "render/frame_report.h"
#include "render/geometry_sequence.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"

namespace lumet {

namespace {

// Rows [begin, end) of a run of rows.
struct Rows {
    std::int32_t begin = 0, end = 0;
    std::int32_t count() const { return end - begin; }
    bool empty() const { return end <= begin; }
};

// The part of the frame one run of bands computes, and what the bands read of the job: the
// whole frame, or a tile of its columns with the columns around them that its stages read. A
// tile's windows are the frame's cut to its columns (in frame pixels, so every position-dependent
// stage sees its frame positions), its coverage copies of the frame's over them, and its output
// the columns it writes.
struct StripJob {
    const RenderSettings* settings = nullptr;
    std::int32_t SS = 1;
    PreviewScale preview;
    StripPlan strips;
    std::int32_t dx = 0, dy = 0, contentW = 0, contentH = 0;
    ImageView layer;
    EnvMap env{};
    FrameWindow window, area;
    const std::uint8_t* windowAlpha = nullptr;
    const std::uint8_t* areaAlpha = nullptr;
    ImageView output;
    std::int32_t outputX = 0, outputY = 0;
    // The working columns of the area whose measures this part counts (each column of the frame
    // in exactly one part).
    Rows measured;
};

StripJob wholeFrame(const FrameJob& job) {
    StripJob part;
    part.settings = job.settings;
    part.SS = job.SS;
    part.preview = job.preview;
    part.strips = job.strips;
    part.dx = job.dx, part.dy = job.dy, part.contentW = job.contentW, part.contentH = job.contentH;
    part.layer = job.layer;
    part.env = job.env;
    part.window = job.window, part.area = job.area;
    part.windowAlpha = job.windowAlpha, part.areaAlpha = job.areaAlpha;
    part.output = job.output;
    part.outputX = job.outputX, part.outputY = job.outputY;
    part.measured = {0, job.area.width * job.SS};
    return part;
}

// The tile of `whole` that writes the window's columns `columns` (frame columns; the first tile
// also the output's columns left of the window, the last those right of it) and reaches `reach`
// frame columns around them, its coverage copied into `windowAlpha` and `areaAlpha`. False when
// the copies cannot be had.
bool tileOf(const StripJob& whole, const Rows& columns, std::int32_t reach, StripJob& tile,
            Plane<std::uint8_t>& windowAlpha, Plane<std::uint8_t>& areaAlpha) {
    tile = whole;
    const auto cut = [&](const FrameWindow& window, const std::uint8_t* alpha,
                         Plane<std::uint8_t>& copy, FrameWindow& into) {
        const std::int32_t x0 = std::max(window.x, columns.begin - reach);
        const std::int32_t x1 = std::min(window.x + window.width, columns.end + reach);
        into = {x0, window.y, x1 - x0, window.height, window.frameWidth, window.frameHeight};
        copy = allocatePlane<std::uint8_t>(into.pixels());
        if (!copy) return false;
        for (std::int32_t y = 0; y < window.height; ++y)
            std::memcpy(copy.get() + static_cast<std::int64_t>(y) * into.width,
                        alpha + static_cast<std::int64_t>(y) * window.width + (x0 - window.x),
                        static_cast<std::size_t>(into.width));
        return true;
    };
    if (!cut(whole.window, whole.windowAlpha, windowAlpha, tile.window) ||
        !cut(whole.area, whole.areaAlpha, areaAlpha, tile.area))
        return false;
    tile.windowAlpha = windowAlpha.get();
    tile.areaAlpha = areaAlpha.get();
    // The output's columns this tile writes.
    const std::int32_t outputEnd = whole.outputX + whole.output.width;
    const bool first = columns.begin == whole.window.x;
    const bool last = columns.end == whole.window.x + whole.window.width;
    const std::int32_t x0 = std::max(whole.outputX, first ? whole.outputX : columns.begin);
    const std::int32_t x1 = std::min(outputEnd, last ? outputEnd : columns.end);
    tile.output = x1 > x0 ? whole.output.part(x0 - whole.outputX, 0, x1 - x0, whole.output.height)
                          : ImageView();
    tile.outputX = x0;
    // The area's columns within the written ones, at the working size.
    const std::int32_t m0 = std::clamp(columns.begin, tile.area.x, tile.area.x + tile.area.width);
    const std::int32_t m1 = std::clamp(columns.end, tile.area.x, tile.area.x + tile.area.width);
    tile.measured = {whole.SS * (m0 - tile.area.x), whole.SS * (m1 - tile.area.x)};
    return true;
}

// The working rows of a band computing the working rows `fresh` (at most `most` of them) with
// `halo` rows around them, of a frame of H2 working rows. Every band is as tall (more rows on the
// other side at the frame's ends), so that the planes of one band, its stages' own included,
// are the pool's blocks of the next.
Rows bandAround(const Rows& fresh, std::int32_t halo, std::int32_t most, std::int32_t H2) {
    const std::int32_t height = std::min(H2, most + 2 * halo);
    const std::int32_t begin = std::clamp(fresh.begin - halo, 0, H2 - height);
    return {begin, begin + height};
}

// The working coverage of working rows `rows` of the frame: made into `owned` when SS > 1,
// the area's alpha itself when SS = 1.
PlaneView<const std::uint8_t> coverageOf(const StripJob& job, const Rows& rows,
                                         Plane<std::uint8_t>& owned) {
    const FrameWindow& area = job.area;
    const std::int32_t W2 = area.width * job.SS;
    if (job.SS == 1)
        return {job.areaAlpha + static_cast<std::int64_t>(rows.begin) * W2, W2, rows.count()};
    owned = allocatePlane<std::uint8_t>(static_cast<std::int64_t>(W2) * rows.count());
    if (!owned) return {};
    workingCoverageRows({job.areaAlpha, area.width, area.height}, {owned.get(), W2, rows.count()},
                        job.SS, job.preview.factor(), rows.begin);
    return {owned.get(), W2, rows.count()};
}

// The largest of min(distance, reach) over rows [core.begin, core.end) and columns `columns` of
// a band starting at working row `top`.
float bandThickness(PlaneView<const std::uint8_t> coverage, std::int32_t top, const Rows& core,
                    const Rows& columns, float reach, bool& failed) {
    Plane<float> distances =
        allocatePlane<float>(static_cast<std::int64_t>(coverage.width) * coverage.height);
    if (!distances) {
        failed = true;
        return 0.0f;
    }
    distanceTransformCpu(coverage.data, distances.get(), coverage.width, coverage.height);
    float thickest = 0.0f;
    for (std::int32_t y = core.begin - top; y < core.end - top; ++y) {
        const float* d = distances.get() + static_cast<std::int64_t>(y) * coverage.width;
        for (std::int32_t x = columns.begin; x < columns.end; ++x)
            thickest = std::max(thickest, std::min(d[x], reach));
    }
    return thickest;
}

// What the bands need from the whole frame, measured band by band over the working rows: the
// shape's greatest inner distance (up to where it stops mattering) and the smart edge's maxima.
struct FrameMeasures {
    float thickness = 0.0f;
    EdgeMaxima edges;
    bool smartEdge = false;
};

// One pass of the measures over a part of the frame, band by band, counting its measured
// columns: pass 0 the thickness and the Sobel maximum, pass 1 (given the whole frame's Sobel
// maximum) the blurred edges'.
Status measurePart(const StripJob& job, std::int32_t halo, int pass, FrameMeasures& measures) {
    const RenderSettings& settings = *job.settings;
    const std::int32_t SS = job.SS;
    const float preview = job.preview.factor();
    const float pixelScale = static_cast<float>(SS) * preview;
    const std::int32_t H2 = job.area.height * SS;
    const float reach = thicknessReach(settings.bevelDepth, pixelScale);
    const std::int32_t most = job.strips.rows * SS;
    const LayerPlacement layer{job.layer, job.dx - job.area.x, job.dy - job.area.y};
    // Past the reach the shape is thick enough everywhere it matters.
    bool thicknessDone = pass > 0 || measures.thickness >= reach;
    if (job.measured.empty() || (thicknessDone && !measures.smartEdge)) return {};
    bool failed = false;
    for (std::int32_t top = 0; top < H2 && !failed; top += most) {
        const Rows core{top, std::min(H2, top + most)};
        const Rows band = bandAround(core, halo, most, H2);
        Plane<std::uint8_t> owned;
        const PlaneView<const std::uint8_t> coverage = coverageOf(job, band, owned);
        if (!coverage) return Status::outOfMemory();
        if (!thicknessDone) {
            measures.thickness =
                std::max(measures.thickness,
                         bandThickness(coverage, band.begin, core, job.measured, reach, failed));
            thicknessDone = measures.thickness >= reach;
        }
        if (measures.smartEdge) {
            const LayerPlacement placed{layer.image, layer.x, layer.y - band.begin / SS};
            const Rows local{core.begin - band.begin, core.end - band.begin};
            const Rows& columns = job.measured;
            const float maximum =
                pass == 0
                    ? smartEdgeSobelMaximum(placed, coverage, SS, local.begin, local.end,
                                            columns.begin, columns.end)
                    : smartEdgeBlurredMaximum(placed, coverage, SS, preview, settings.bevelDepth,
                                              std::max(0.001f, measures.edges.sobel), local.begin,
                                              local.end, columns.begin, columns.end);
            failed = failed || maximum < 0.0f;
            float& into = pass == 0 ? measures.edges.sobel : measures.edges.blurred;
            into = std::max(into, maximum);
        } else if (thicknessDone) {
            break;
        }
        if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
    }
    return failed ? Status::outOfMemory() : Status{};
}

// One band's geometry planes.
struct BandPlanes {
    Plane<std::uint8_t> coverage;  // working, SS > 1
    Plane<float> height, normals, refl[3], working[3], half, shade[3];
};

// The geometry, reflection and shading of the working rows `band` (a multiple of SS at both
// ends), the shade at the area's rows band / SS into planes.shade.
bool shadeBand(const StripJob& job, const FrameMeasures& measures, const Rows& band,
               BandPlanes& planes) {
    const std::int32_t SS = job.SS;
    const FrameWindow& area = job.area;
    const std::int32_t W2 = area.width * SS, rows = band.count();
    const std::int64_t count = static_cast<std::int64_t>(W2) * rows;
    const PlaneView<const std::uint8_t> alpha(job.areaAlpha, area.width, area.height);
    if (SS > 1 && !(planes.coverage = allocatePlane<std::uint8_t>(count))) return false;
    planes.height = allocatePlane<float>(count);
    planes.normals = allocatePlane<float>(3 * count);
    if (!planes.height || !planes.normals) return false;
    const GeometryBand geometryBand{band.begin, measures.thickness,
                                    measures.smartEdge ? &measures.edges : nullptr};
    const LayerPlacement layer{job.layer, job.dx - area.x, job.dy - area.y};
    if (!runGeometrySequence(alpha, {planes.coverage.get(), W2, rows},
                             {planes.height.get(), W2, rows}, {planes.normals.get(), W2, rows, 3},
                             SS, job.preview.factor(), *job.settings, layer, false, &geometryBand))
        return false;
    const std::uint8_t* coverage =
        SS > 1 ? planes.coverage.get() : job.areaAlpha + static_cast<std::int64_t>(band.begin) * W2;
    const SurfaceView surface(coverage, planes.height.get(), planes.normals.get(), W2, rows);

    for (Plane<float>& plane : planes.refl)
        if (!(plane = allocatePlane<float>(count))) return false;
    const RgbPlanes<float> reflection(planes.refl[0].get(), planes.refl[1].get(),
                                      planes.refl[2].get(), W2, rows);
    const FrameWindow work = area.scaled(SS);
    renderEnvReflection(surface, reflection,
                        {work.x, work.y + band.begin, W2, rows, work.frameWidth, work.frameHeight},
                        SS * job.contentW, SS * job.contentH, *job.settings, job.env);

    ShadeConstants constants;
    makeShadeConstants(constants, *job.settings, surface, reflection, job.preview.factor());
    const std::int32_t shadeRows = rows / SS;
    const std::int64_t shadeCount = static_cast<std::int64_t>(area.width) * shadeRows;
    for (Plane<float>& plane : planes.shade)
        if (!(plane = allocatePlane<float>(shadeCount))) return false;
    const RgbPlanes<float> shadeOut(planes.shade[0].get(), planes.shade[1].get(),
                                    planes.shade[2].get(), area.width, shadeRows);
    const bool outerStyle = isOuterStyle(job.settings->bevelStyle);
    if (SS == 1) {
        shadeWindow(constants, surface, shadeOut, outerStyle);
        return true;
    }
    for (int c = 0; c < 3; ++c)
        if (!(planes.working[c] = allocatePlane<float>(count))) return false;
    if (SS == 4 && !(planes.half = allocatePlane<float>(count / 4))) return false;
    const RgbPlanes<float> working(planes.working[0].get(), planes.working[1].get(),
                                   planes.working[2].get(), W2, rows);
    shadeWindow(constants, surface, working, outerStyle);
    for (int c = 0; c < 3; ++c)
        reduceSupersampled(planes.working[c].get(), planes.half.get(), planes.shade[c].get(),
                           area.width, shadeRows, SS);
    return true;
}

// The shade of a run of the area's rows (frame rows [begin, end)) that the bands' glow and
// output read: each band adds the rows it needs below and drops those above it, so that every
// row's geometry is computed once, in a band reaching the geometry's halo around the new rows.
// The heights of the same rows come along for the diagnostic view that shows them.
class ShadeRun {
public:
    bool allocate(const StripJob& job, std::int32_t capacity, bool keepHeights) {
        width_ = job.area.width;
        begin_ = end_ = job.area.y;
        const std::int64_t count = static_cast<std::int64_t>(width_) * capacity;
        for (Plane<float>& plane : shade_)
            if (!(plane = allocatePlane<float>(count))) return false;
        if (keepHeights) {
            heightWidth_ = width_ * job.SS * job.SS;  // SS working rows of SS x width a row
            if (!(height_ =
                      allocatePlane<float>(static_cast<std::int64_t>(heightWidth_) * capacity)))
                return false;
        }
        return true;
    }

    // Makes the run hold exactly [rows.begin, rows.end) (non-empty, rows.begin not before the
    // run's begin, the count within the capacity).
    bool advance(const StripJob& job, const FrameMeasures& measures, std::int32_t halo,
                 const Rows& rows) {
        const FrameWindow& area = job.area;
        const std::int32_t SS = job.SS;
        const std::int32_t drop = std::min(rows.begin, end_) - begin_;
        if (drop > 0) {
            const std::int32_t kept = end_ - begin_ - drop;
            for (Plane<float>& plane : shade_) moveRows(plane.get(), width_, drop, kept);
            if (height_) moveRows(height_.get(), heightWidth_, drop, kept);
        }
        begin_ = std::max(begin_ + drop, rows.begin);
        end_ = std::max(end_, begin_);
        // The new rows' geometry, a band's rows at a time, with its halo.
        while (end_ < rows.end) {
            const Rows fresh{end_, std::min(rows.end, end_ + job.strips.rows)};
            const Rows band = bandAround({SS * (fresh.begin - area.y), SS * (fresh.end - area.y)},
                                         halo, SS * job.strips.rows, SS * area.height);
            BandPlanes planes;
            if (!shadeBand(job, measures, band, planes)) return false;
            const std::int32_t from = fresh.begin - (area.y + band.begin / SS);
            for (int c = 0; c < 3; ++c)
                copyRows(planes.shade[c].get(), width_, from, shade_[c].get(), end_ - begin_,
                         fresh.count());
            if (height_)
                copyRows(planes.height.get(), heightWidth_, from, height_.get(), end_ - begin_,
                         fresh.count());
            end_ = fresh.end;
            if (frameInterrupted()) return true;
        }
        return true;
    }

    // The shade's rows [rows.begin, rows.end), which the run holds.
    RgbPlanes<const float> shade(const Rows& rows) const {
        const std::int64_t at = static_cast<std::int64_t>(rows.begin - begin_) * width_;
        return {shade_[0].get() + at, shade_[1].get() + at, shade_[2].get() + at, width_,
                rows.count()};
    }
    PlaneView<const float> heights(const Rows& rows, std::int32_t SS) const {
        if (!height_) return {};
        return {height_.get() + static_cast<std::int64_t>(rows.begin - begin_) * heightWidth_,
                width_ * SS, SS * rows.count()};
    }

private:
    static void moveRows(float* plane, std::int32_t width, std::int32_t drop, std::int32_t kept) {
        if (kept > 0)
            std::memmove(plane, plane + static_cast<std::int64_t>(drop) * width,
                         static_cast<std::size_t>(kept) * width * sizeof(float));
    }
    static void copyRows(const float* from, std::int32_t width, std::int32_t fromRow, float* to,
                         std::int32_t toRow, std::int32_t rows) {
        std::memcpy(to + static_cast<std::int64_t>(toRow) * width,
                    from + static_cast<std::int64_t>(fromRow) * width,
                    static_cast<std::size_t>(rows) * width * sizeof(float));
    }

    Plane<float> shade_[3], height_;
    std::int32_t width_ = 0, heightWidth_ = 0;
    std::int32_t begin_ = 0, end_ = 0;
};

// The glow of the output window's rows `rows` (frame rows) from the shade of the area's rows
// `shadeRows` within them, into `planes`, with `work` (planes with room for the rows).
bool glowBand(const StripJob& job, const Rows& rows, const Rows& shadeRows,
              const RgbPlanes<const float>& shade, Plane<float> (&planes)[4],
              Plane<float> (&work)[kGlowMostWorkPlanes]) {
    const FrameWindow& window = job.window;
    const FrameWindow& area = job.area;
    const std::int64_t N = static_cast<std::int64_t>(window.width) * rows.count();
    const RgbaPlanes<float> glow(planes[0].get(), planes[1].get(), planes[2].get(), planes[3].get(),
                                 window.width, rows.count());
    if (shadeRows.empty()) {
        // No shade within the glow's reach: the whole frame's glow is +0 here.
        for (Plane<float>& plane : planes) std::fill(plane.get(), plane.get() + N, 0.0f);
        return true;
    }
    const FrameWindow shadeAt{area.x - window.x, shadeRows.begin - rows.begin,
                              area.width,        shadeRows.count(),
                              window.width,      rows.count()};
    float* workPlanes[kGlowMostWorkPlanes];
    for (int k = 0; k < glowWorkPlaneCount(); ++k) workPlanes[k] = work[k].get();
    const PlaneView<const std::uint8_t> alpha(
        job.windowAlpha + static_cast<std::int64_t>(rows.begin - window.y) * window.width,
        window.width, rows.count());
    return renderGlow(shade, shadeAt, alpha, glow, job.settings->glowRadius * job.preview.factor(),
                      nullptr, workPlanes);
}

// Writes the output's rows that show frame rows `rows`.
void composeBand(const StripJob& job, const Rows& rows, const FrameWindow& bandWindow,
                 const FrameWindow& shadeWindow, const RgbPlanes<const float>& shade,
                 const RgbaPlanes<const float>& glow, const std::uint8_t* alpha,
                 PlaneView<const float> height) {
    const Rows shown{std::max(rows.begin, job.outputY),
                     std::min(rows.end, job.outputY + job.output.height)};
    if (shown.empty() || job.output.width < 1) return;
    const ImageView part =
        job.output.part(0, shown.begin - job.outputY, job.output.width, shown.count());
    composeOutput(bandWindow, shadeWindow, shade, glow,
                  {alpha, bandWindow.width, bandWindow.height}, height, job.env, *job.settings,
                  job.SS, part, job.outputX, shown.begin);
}

// The bands of a part of the frame: each band's geometry, glow and output rows in turn.
Status renderBands(const StripJob& job, const FrameMeasures& measures, std::int32_t halo,
                   std::int32_t& done, std::int32_t pieces) {
    const RenderSettings& settings = *job.settings;
    const FrameWindow& window = job.window;
    const FrameWindow& area = job.area;
    const std::int32_t SS = job.SS;
    const StripPlan& plan = job.strips;
    const bool hasGlow = settings.glowIntensity > kGlowIntensityMin;
    const std::int32_t glowHalo = hasGlow ? plan.glowHalo : 0;
    const std::int32_t bands = (window.height + plan.rows - 1) / plan.rows;
    ShadeRun run;
    if (!run.allocate(job, std::min(area.height, plan.rows + 2 * glowHalo),
                      settings.showEnvMap && settings.smartEdge))
        return Status::outOfMemory();
    // The glow's planes, with room for the most rows a band's glow covers.
    Plane<float> glow[4], glowWork[kGlowMostWorkPlanes];
    if (hasGlow) {
        const std::int64_t most = static_cast<std::int64_t>(window.width) *
                                  std::min(window.height, plan.rows + 2 * glowHalo);
        for (Plane<float>& plane : glow)
            if (!(plane = allocatePlane<float>(most))) return Status::outOfMemory();
        for (int k = 0; k < glowWorkPlaneCount(); ++k)
            if (!(glowWork[k] = allocatePlane<float>(most))) return Status::outOfMemory();
    }
    for (std::int32_t band = 0; band < bands; ++band) {
        const Rows rows{window.y + band * plan.rows,
                        std::min(window.y + window.height, window.y + (band + 1) * plan.rows)};
        // The glow's rows around the band, and the shade's within them.
        const Rows glowRows{std::max(window.y, rows.begin - glowHalo),
                            std::min(window.y + window.height, rows.end + glowHalo)};
        const Rows shadeRows{std::max(area.y, glowRows.begin),
                             std::min(area.y + area.height, glowRows.end)};
        if (!shadeRows.empty() && !run.advance(job, measures, halo, shadeRows))
            return Status::outOfMemory();
        const RgbPlanes<const float> shade =
            shadeRows.empty() ? RgbPlanes<const float>() : run.shade(shadeRows);
        if (hasGlow && !glowBand(job, glowRows, shadeRows, shade, glow, glowWork))
            return Status::outOfMemory();
        // The band's part of the frame: the glow and alpha over glowRows of the window, the
        // shade over shadeRows of the area.
        const FrameWindow bandWindow{window.x,         glowRows.begin,    window.width,
                                     glowRows.count(), window.frameWidth, window.frameHeight};
        const FrameWindow shadeWindow{
            area.x,          shadeRows.empty() ? glowRows.begin : shadeRows.begin,
            area.width,      std::max(shadeRows.count(), 0),
            area.frameWidth, area.frameHeight};
        const RgbaPlanes<const float> glowView =
            hasGlow ? RgbaPlanes<const float>(glow[0].get(), glow[1].get(), glow[2].get(),
                                              glow[3].get(), window.width, glowRows.count())
                    : RgbaPlanes<const float>();
        composeBand(
            job, rows, bandWindow, shadeWindow, shade, glowView,
            job.windowAlpha + static_cast<std::int64_t>(glowRows.begin - window.y) * window.width,
            shadeRows.empty() ? PlaneView<const float>() : run.heights(shadeRows, SS));
        reportFrameProgress(++done, pieces + 1);
        if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
    }
    return {};
}

}  // namespace

Status runStripFrame(const FrameJob& job) {
    const RenderSettings& settings = *job.settings;
    const StripJob whole = wholeFrame(job);
    const FrameWindow& window = job.window;
    const StripPlan& plan = job.strips;
    const std::int32_t halo = plan.geometryHalo;
    const std::int32_t bands = (window.height + plan.rows - 1) / plan.rows;
    // Tiles of the window's columns, each reaching the glow's and the geometry's halo around
    // the columns it writes (the frame itself when there are none).
    const std::int32_t tileColumns = plan.columns > 0 ? plan.columns : window.width;
    const std::int32_t tiles = (window.width + tileColumns - 1) / tileColumns;
    const std::int32_t reach = plan.glowHalo + halo / job.SS;
    const auto part = [&](std::int32_t tile, StripJob& into, Plane<std::uint8_t>& windowAlpha,
                          Plane<std::uint8_t>& areaAlpha) {
        if (tiles == 1) {
            into = whole;
            return true;
        }
        const Rows columns{window.x + tile * tileColumns,
                           std::min(window.x + window.width, window.x + (tile + 1) * tileColumns)};
        return tileOf(whole, columns, reach, into, windowAlpha, areaAlpha);
    };
    FrameReport& report = currentFrameReport();
    report.strips = bands * tiles;
    // The measures over every part, the blurred edges' after the Sobel maximum of the whole
    // frame (a layer without colour edges needs none).
    FrameMeasures measures;
    measures.smartEdge = settings.smartEdge && settings.bevelStyle == kInnerBevel && job.layer;
    for (int pass = 0; pass < (measures.smartEdge ? 2 : 1); ++pass) {
        if (pass == 1 && !(measures.edges.sobel > 0.0f)) break;
        for (std::int32_t tile = 0; tile < tiles; ++tile) {
            StripJob piece;
            Plane<std::uint8_t> windowAlpha, areaAlpha;
            if (!part(tile, piece, windowAlpha, areaAlpha)) return Status::outOfMemory();
            if (const Status measured = measurePart(piece, halo, pass, measures); !measured.ok())
                return measured;
        }
    }
    // The rows of the output above and below the window are transparent.
    composeBand(whole, {job.outputY, window.y}, window, job.area, {}, {}, job.windowAlpha, {});
    composeBand(whole, {window.y + window.height, job.outputY + job.output.height}, window,
                job.area, {}, {}, job.windowAlpha, {});
    std::int32_t done = 0;
    for (std::int32_t tile = 0; tile < tiles; ++tile) {
        StripJob piece;
        Plane<std::uint8_t> windowAlpha, areaAlpha;
        if (!part(tile, piece, windowAlpha, areaAlpha)) return Status::outOfMemory();
        if (const Status rendered = renderBands(piece, measures, halo, done, bands * tiles);
            !rendered.ok())
            return rendered;
    }
    return {};
}

}  // namespace lumet
