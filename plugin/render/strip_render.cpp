// A frame in bands of rows (see strip_render.h).
#include "render/strip_render.h"

#include <algorithm>
#include <cmath>

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

Rows grown(const Rows& rows, std::int32_t by, std::int32_t limit) {
    return {std::max(0, rows.begin - by), std::min(limit, rows.end + by)};
}

// The working coverage of working rows `rows` of the frame: made into `owned` when SS > 1,
// the area's alpha itself when SS = 1.
PlaneView<const std::uint8_t> coverageOf(const FrameJob& job, const Rows& rows,
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

// The largest of min(distance, reach) over rows [core.begin, core.end) of a band starting at
// working row `top`.
float bandThickness(PlaneView<const std::uint8_t> coverage, std::int32_t top, const Rows& core,
                    float reach, bool& failed) {
    Plane<float> distances = allocatePlane<float>(static_cast<std::int64_t>(coverage.width) *
                                                  coverage.height);
    if (!distances) {
        failed = true;
        return 0.0f;
    }
    distanceTransformCpu(coverage.data, distances.get(), coverage.width, coverage.height);
    float thickest = 0.0f;
    const float* d = distances.get();
    for (std::int64_t i = std::int64_t{core.begin - top} * coverage.width;
         i < std::int64_t{core.end - top} * coverage.width; ++i)
        thickest = std::max(thickest, std::min(d[i], reach));
    return thickest;
}

// What the bands need from the whole frame, measured band by band over the working rows: the
// shape's greatest inner distance (up to where it stops mattering) and the smart edge's maxima.
struct FrameMeasures {
    float thickness = 0.0f;
    EdgeMaxima edges;
    bool smartEdge = false;
};

Status measureFrame(const FrameJob& job, FrameMeasures& measures) {
    const RenderSettings& settings = *job.settings;
    const std::int32_t SS = job.SS;
    const float preview = job.preview.factor();
    const float pixelScale = static_cast<float>(SS) * preview;
    const std::int32_t H2 = job.area.height * SS;
    const float reach = thicknessReach(settings.bevelDepth, pixelScale);
    const std::int32_t distanceRows = (static_cast<std::int32_t>(reach) + SS) / SS * SS;
    measures.smartEdge = settings.smartEdge && settings.bevelStyle == kInnerBevel && job.layer;
    const std::int32_t step = job.strips.rows * SS;
    const LayerPlacement layer{job.layer, job.dx - job.area.x, job.dy - job.area.y};
    bool failed = false;
    // The Sobel maximum and the thickness, then (given the Sobel maximum) the blurred edges'.
    for (int pass = 0; pass < (measures.smartEdge ? 2 : 1); ++pass) {
        const std::int32_t edgeReach =
            pass == 0 ? SS
                      : (2 + threePassReach(edgeBlurRadiusOf(settings.bevelDepth, pixelScale)) +
                         SS) / SS * SS;
        bool thicknessDone = pass > 0;
        for (std::int32_t top = 0; top < H2 && !failed; top += step) {
            const Rows core{top, std::min(H2, top + step)};
            const std::int32_t around = std::max(thicknessDone ? 0 : distanceRows,
                                                 measures.smartEdge ? edgeReach : 0);
            const Rows band = grown(core, around, H2);
            Plane<std::uint8_t> owned;
            const PlaneView<const std::uint8_t> coverage = coverageOf(job, band, owned);
            if (!coverage) return Status::outOfMemory();
            if (!thicknessDone) {
                const Rows distanceBand = grown(core, distanceRows, H2);
                const PlaneView<const std::uint8_t> distanceCoverage(
                    coverage.row(distanceBand.begin - band.begin), coverage.width,
                    distanceBand.count());
                measures.thickness = std::max(
                    measures.thickness,
                    bandThickness(distanceCoverage, distanceBand.begin, core, reach, failed));
                // Past the reach the shape is thick enough everywhere it matters.
                thicknessDone = measures.thickness >= reach;
            }
            if (measures.smartEdge) {
                const LayerPlacement placed{layer.image, layer.x, layer.y - band.begin / SS};
                const Rows local{core.begin - band.begin, core.end - band.begin};
                const float maximum =
                    pass == 0 ? smartEdgeSobelMaximum(placed, coverage, SS, local.begin, local.end)
                              : smartEdgeBlurredMaximum(placed, coverage, SS, preview,
                                                        settings.bevelDepth, measures.edges.sobel,
                                                        local.begin, local.end);
                failed = failed || maximum < 0.0f;
                float& into = pass == 0 ? measures.edges.sobel : measures.edges.blurred;
                into = std::max(into, maximum);
            } else if (thicknessDone) {
                break;
            }
            if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
        }
    }
    return failed ? Status::outOfMemory() : Status{};
}

// One band's planes.
struct BandPlanes {
    Plane<std::uint8_t> coverage;  // working, SS > 1
    Plane<float> height, normals, refl[3], working[3], half, shade[3], glow[4];
};

// The geometry, reflection and shading of the working rows `band` (a multiple of SS at both
// ends), the shade at the area's rows band / SS into planes.shade.
bool shadeBand(const FrameJob& job, const FrameMeasures& measures, const Rows& band,
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
    if (!runGeometrySequence(alpha, {planes.coverage.get(), W2, rows}, {planes.height.get(), W2, rows},
                             {planes.normals.get(), W2, rows, 3}, SS, job.preview.factor(),
                             *job.settings, layer, false, &geometryBand))
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
        for (int c = 0; c < 3; ++c) planes.refl[c].reset();
        planes.normals.reset();
        if (!(job.settings->showEnvMap && job.settings->smartEdge)) planes.height.reset();
        return true;
    }
    // The reflection is read where it is shaded: the shade at the working size takes its planes.
    for (int c = 0; c < 3; ++c)
        if (!(planes.working[c] = allocatePlane<float>(count))) return false;
    if (SS == 4 && !(planes.half = allocatePlane<float>(count / 4))) return false;
    const RgbPlanes<float> working(planes.working[0].get(), planes.working[1].get(),
                                   planes.working[2].get(), W2, rows);
    shadeWindow(constants, surface, working, outerStyle);
    for (int c = 0; c < 3; ++c) {
        const float* from = planes.working[c].get();
        float* to = planes.shade[c].get();
        if (SS == 4) {
            Downsample2x(from, W2, rows, planes.half.get(), W2 / 2, rows / 2);
            Downsample2x(planes.half.get(), W2 / 2, rows / 2, to, area.width, shadeRows);
        } else {
            Downsample2x(from, W2, rows, to, area.width, shadeRows);
        }
    }
    // Only the shade goes on, and the heights for the diagnostic view that shows them.
    for (int c = 0; c < 3; ++c) planes.refl[c].reset(), planes.working[c].reset();
    planes.half.reset();
    planes.normals.reset();
    if (!(job.settings->showEnvMap && job.settings->smartEdge)) planes.height.reset();
    return true;
}

// The glow of the output window's rows `rows` (frame rows), from the shade of the area's rows
// `shadeRows` (frame rows), which `shade` holds from its row shadeTop (frame row).
bool glowBand(const FrameJob& job, const Rows& rows, const Rows& shadeRows, const float* const* shade,
              std::int32_t shadeTop, BandPlanes& planes) {
    const FrameWindow& window = job.window;
    const FrameWindow& area = job.area;
    const std::int64_t N = static_cast<std::int64_t>(window.width) * rows.count();
    for (Plane<float>& plane : planes.glow)
        if (!(plane = allocatePlane<float>(N))) return false;
    const RgbaPlanes<float> glow(planes.glow[0].get(), planes.glow[1].get(), planes.glow[2].get(),
                                 planes.glow[3].get(), window.width, rows.count());
    if (shadeRows.empty()) {
        // No shade within the glow's reach: the whole frame's glow is +0 here.
        for (Plane<float>& plane : planes.glow)
            std::fill(plane.get(), plane.get() + N, 0.0f);
        return true;
    }
    const std::int64_t offset = static_cast<std::int64_t>(shadeRows.begin - shadeTop) * area.width;
    const RgbPlanes<const float> shadeView(shade[0] + offset, shade[1] + offset, shade[2] + offset,
                                           area.width, shadeRows.count());
    const FrameWindow shadeAt{area.x - window.x, shadeRows.begin - rows.begin, area.width,
                              shadeRows.count(), window.width, rows.count()};
    Plane<float> work[kGlowMostWorkPlanes];
    float* workPlanes[kGlowMostWorkPlanes];
    for (int k = 0; k < glowWorkPlaneCount(); ++k) {
        if (!(work[k] = allocatePlane<float>(N))) return false;
        workPlanes[k] = work[k].get();
    }
    const PlaneView<const std::uint8_t> alpha(
        job.windowAlpha + static_cast<std::int64_t>(rows.begin - window.y) * window.width,
        window.width, rows.count());
    return renderGlow(shadeView, shadeAt, alpha, glow,
                      job.settings->glowRadius * job.preview.factor(), nullptr, workPlanes);
}

// Writes the output's rows that show frame rows `rows`.
void composeBand(const FrameJob& job, const Rows& rows, const FrameWindow& bandWindow,
                 const FrameWindow& shadeWindow, const RgbPlanes<const float>& shade,
                 const RgbaPlanes<const float>& glow, const std::uint8_t* alpha,
                 PlaneView<const float> height) {
    const Rows shown{std::max(rows.begin, job.outputY),
                     std::min(rows.end, job.outputY + job.output.height)};
    if (shown.empty()) return;
    const ImageView part =
        job.output.part(0, shown.begin - job.outputY, job.output.width, shown.count());
    composeOutput(bandWindow, shadeWindow, shade, glow,
                  {alpha, bandWindow.width, bandWindow.height}, height, job.env, *job.settings,
                  job.SS, part, job.outputX, shown.begin);
}

}  // namespace

Status runStripFrame(const FrameJob& job) {
    const RenderSettings& settings = *job.settings;
    const FrameWindow& window = job.window;
    const FrameWindow& area = job.area;
    const std::int32_t SS = job.SS;
    const StripPlan& plan = job.strips;
    FrameReport& report = currentFrameReport();
    FrameMeasures measures;
    if (const Status measured = measureFrame(job, measures); !measured.ok()) return measured;
    const bool hasGlow = settings.glowIntensity > kGlowIntensityMin;
    const std::int32_t bands = (window.height + plan.rows - 1) / plan.rows;
    report.strips = bands;
    // The rows of the output above and below the window are transparent.
    composeBand(job, {job.outputY, window.y}, window, area, {}, {}, job.windowAlpha, {});
    composeBand(job, {window.y + window.height, job.outputY + job.output.height}, window, area, {},
                {}, job.windowAlpha, {});
    for (std::int32_t band = 0; band < bands; ++band) {
        const Rows rows{window.y + band * plan.rows,
                        std::min(window.y + window.height, window.y + (band + 1) * plan.rows)};
        // The glow's rows around the band, the shade's within them, the geometry's around those.
        const Rows glowRows{std::max(window.y, rows.begin - (hasGlow ? plan.glowHalo : 0)),
                            std::min(window.y + window.height,
                                     rows.end + (hasGlow ? plan.glowHalo : 0))};
        const Rows shadeRows{std::max(area.y, glowRows.begin),
                             std::min(area.y + area.height, glowRows.end)};
        BandPlanes planes;
        Rows work;
        if (!shadeRows.empty()) {
            work = grown({SS * (shadeRows.begin - area.y), SS * (shadeRows.end - area.y)},
                         plan.geometryHalo, SS * area.height);
            if (!shadeBand(job, measures, work, planes)) return Status::outOfMemory();
        }
        const std::int32_t shadeTop = area.y + work.begin / SS;
        const float* shade[3] = {planes.shade[0].get(), planes.shade[1].get(),
                                 planes.shade[2].get()};
        if (hasGlow && !glowBand(job, glowRows, shadeRows, shade, shadeTop, planes))
            return Status::outOfMemory();
        // The band's part of the frame: the glow and alpha over glowRows of the window, the
        // shade over shadeRows of the area.
        const FrameWindow bandWindow{window.x, glowRows.begin, window.width, glowRows.count(),
                                     window.frameWidth, window.frameHeight};
        const FrameWindow shadeWindow{area.x, shadeRows.empty() ? glowRows.begin : shadeRows.begin,
                                      area.width, std::max(shadeRows.count(), 0),
                                      area.frameWidth, area.frameHeight};
        const std::int64_t offset =
            static_cast<std::int64_t>(shadeRows.begin - shadeTop) * area.width;
        const RgbPlanes<const float> shadeView =
            shadeRows.empty() ? RgbPlanes<const float>()
                              : RgbPlanes<const float>(shade[0] + offset, shade[1] + offset,
                                                       shade[2] + offset, area.width,
                                                       shadeRows.count());
        const RgbaPlanes<const float> glowView =
            hasGlow ? RgbaPlanes<const float>(planes.glow[0].get(), planes.glow[1].get(),
                                              planes.glow[2].get(), planes.glow[3].get(),
                                              window.width, glowRows.count())
                    : RgbaPlanes<const float>();
        // The height the diagnostic view reads at the working size, from the shade's first row.
        const PlaneView<const float> height(
            planes.height ? planes.height.get() +
                                static_cast<std::int64_t>(SS * (shadeRows.begin - area.y) -
                                                          work.begin) *
                                    area.width * SS
                          : nullptr,
            area.width * SS, SS * std::max(shadeRows.count(), 0));
        composeBand(job, rows, bandWindow, shadeWindow, shadeView, glowView,
                    job.windowAlpha +
                        static_cast<std::int64_t>(glowRows.begin - window.y) * window.width,
                    height);
        reportFrameProgress(band + 1, bands + 1);
        if (const std::int32_t answer = frameInterrupted()) return Status::interrupted(answer);
    }
    return {};
}

}  // namespace lumet
