// The geometry stages on a 3840 x 2160 working plane of text-like glyphs, each stage alone and the
// whole geometry sequence. Items are pixels of the working plane, so the rates read as pixels per
// second.
#include <benchmark/benchmark.h>

#include <vector>

#include "host/host_worlds.h"
#include "geometry/alpha_extraction.h"
#include "geometry/distance_transform.h"
#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/smart_edge.h"
#include "geometry/supersample.h"
#include "geometry_fixture.h"
#include "parallel/blur.h"
#include "render/geometry_sequence.h"

namespace {

using namespace lumet;
using lumet::bench::kHeight;
using lumet::bench::kWidth;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;

void BM_AlphaExtraction8(benchmark::State& state) {
    lumet::bench::SceneWorld scene(kWidth, kHeight);
    std::vector<std::uint8_t> alpha(kPixels);
    for (auto _ : state) {
        ContentBounds bounds =
            extractAlpha(worldView(nullptr, scene.world), 0, 0, alpha.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(bounds);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_AlphaExtraction8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AlphaSmoothing(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    std::vector<std::uint8_t> out(alpha);
    for (auto _ : state) {
        smoothAlphaEdges(alpha.data(), out.data(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_AlphaSmoothing)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Supersample(benchmark::State& state) {
    const auto& half = lumet::bench::sceneAlpha(kWidth / 2);
    std::vector<std::uint8_t> out(kPixels);
    for (auto _ : state) {
        resampleBilinear8(half.data(), kWidth / 2, kHeight / 2, out.data(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Supersample)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DistanceTransform(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    std::vector<float> distance(kPixels);
    for (auto _ : state) {
        distanceTransformCpu(alpha.data(), distance.data(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_DistanceTransform)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HeightMap(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    const RenderSettings settings = lumet::bench::sceneSettings(static_cast<int>(state.range(0)));
    std::vector<float> heights(kPixels);
    for (auto _ : state) {
        computeHeightMap({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight},
                         settings, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_HeightMap)
    ->Arg(kInnerBevel)
    ->Arg(kFullBevel)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SmartEdge(benchmark::State& state) {
    lumet::bench::SceneWorld scene(kWidth, kHeight);
    const auto& alpha = lumet::bench::sceneAlpha();
    const RenderSettings settings = lumet::bench::sceneSettings();
    std::vector<float> heights(kPixels);
    computeHeightMap({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight}, settings,
                     1);
    std::vector<float> work(heights);
    for (auto _ : state) {
        applySmartEdge({worldView(nullptr, scene.world), 0, 0}, {alpha.data(), kWidth, kHeight},
                       {work.data(), kWidth, kHeight}, 1, 1.0f, settings.bevelDepth,
                       settings.edgeStrength);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_SmartEdge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Normals(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    const RenderSettings settings = lumet::bench::sceneSettings();
    std::vector<float> heights(kPixels), normals(3 * kPixels);
    computeHeightMap({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight}, settings,
                     1);
    for (auto _ : state) {
        computeNormals({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight},
                       {normals.data(), kWidth, kHeight, 3}, settings.bevelDepth, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Normals)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NormalBlur(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    const RenderSettings settings = lumet::bench::sceneSettings();
    std::vector<float> heights(kPixels), normals(3 * kPixels);
    computeHeightMap({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight}, settings,
                     1);
    computeNormals({alpha.data(), kWidth, kHeight}, {heights.data(), kWidth, kHeight},
                   {normals.data(), kWidth, kHeight, 3}, settings.bevelDepth, 1);
    for (auto _ : state) {
        blurNormals({normals.data(), kWidth, kHeight, 3}, {alpha.data(), kWidth, kHeight},
                    {heights.data(), kWidth, kHeight}, 3);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_NormalBlur)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BoxBlur(benchmark::State& state) {
    std::vector<float> plane(kPixels), scratch(kPixels);
    const auto& alpha = lumet::bench::sceneAlpha();
    for (std::int64_t i = 0; i < kPixels; ++i) plane[i] = alpha[i] / 255.0f;
    const int radius = static_cast<int>(state.range(0));
    for (auto _ : state) {
        boxBlur(plane.data(), scratch.data(), kWidth, kHeight, radius, 0.0f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_BoxBlur)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// The glow's kind of pass: a fractional radius (29.25), whose update weighs four samples.
void BM_FractionalBoxBlur(benchmark::State& state) {
    std::vector<float> plane(kPixels), scratch(kPixels);
    const auto& alpha = lumet::bench::sceneAlpha();
    for (std::int64_t i = 0; i < kPixels; ++i) plane[i] = alpha[i] / 255.0f;
    for (auto _ : state) {
        boxBlur(plane.data(), scratch.data(), kWidth, kHeight, 29, 0.25f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_FractionalBoxBlur)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThreePassBoxBlur(benchmark::State& state) {
    std::vector<float> plane(kPixels), scratch(kPixels);
    const auto& alpha = lumet::bench::sceneAlpha();
    for (std::int64_t i = 0; i < kPixels; ++i) plane[i] = alpha[i] / 255.0f;
    for (auto _ : state) {
        threePassBoxBlur(plane.data(), kWidth, kHeight, 14, scratch.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_ThreePassBoxBlur)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole sequence: Arg 1 renders a 3840 x 2160 frame at SS = 1, Arg 2 a 1920 x 1080 frame at
// SS = 2 (the same working size).
void BM_GeometrySequence(benchmark::State& state) {
    const int SS = static_cast<int>(state.range(0));
    const int W = kWidth / SS, H = kHeight / SS;
    lumet::bench::SceneWorld scene(W, H);
    const auto& alpha = lumet::bench::sceneAlpha(W);
    const RenderSettings settings = lumet::bench::sceneSettings();
    std::vector<std::uint8_t> alphaSS(kPixels);
    std::vector<float> heights(kPixels), normals(3 * kPixels);
    for (auto _ : state) {
        runGeometrySequence({alpha.data(), W, H},
                            {SS == 2 ? alphaSS.data() : nullptr, SS * W, SS * H},
                            {heights.data(), SS * W, SS * H}, {normals.data(), SS * W, SS * H, 3},
                            SS, 1.0f, settings, {worldView(nullptr, scene.world), 0, 0}, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_GeometrySequence)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
