// Peer comparison on the geometry benchmark scene (3840 x 2160 text-like coverage): our exact
// distance transform against OpenCV's exact one (DIST_L2, DIST_MASK_PRECISE), and our box blur
// against cv::blur with replicated borders, in the same run on the same planes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "../geometry_fixture.h"
#include "geometry/distance_transform.h"
#include "parallel/blur.h"
#include "platform/platform.h"

namespace {

using lumet::bench::kHeight;
using lumet::bench::kWidth;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;

// Runs a benchmark body with the thread count of its last argument (0: the machine's own) for both
// libraries.
struct ThreadCount {
    explicit ThreadCount(int threads) {
        lumet::platform::setHardwareThreadOverride(threads > 0 ? threads : -1);
        cv::setNumThreads(threads > 0 ? threads : -1);
    }
    ~ThreadCount() {
        lumet::platform::setHardwareThreadOverride(-1);
        cv::setNumThreads(-1);
    }
};

void BM_Lumet_DistanceTransform(benchmark::State& state) {
    ThreadCount threads(static_cast<int>(state.range(0)));
    const auto& alpha = lumet::bench::sceneAlpha();
    std::vector<float> distance(kPixels);
    for (auto _ : state) {
        lumet::distanceTransformCpu(alpha.data(), distance.data(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Lumet_DistanceTransform)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCV_DistanceTransform(benchmark::State& state) {
    ThreadCount threads(static_cast<int>(state.range(0)));
    const auto& alpha = lumet::bench::sceneAlpha();
    // OpenCV measures the distance to the nearest zero pixel: inside (alpha >= 128) is non-zero.
    cv::Mat mask(kHeight, kWidth, CV_8UC1);
    for (std::int64_t i = 0; i < kPixels; ++i) mask.data[i] = alpha[i] >= 128 ? 255 : 0;
    cv::Mat distance;
    for (auto _ : state) {
        cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_OpenCV_DistanceTransform)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::vector<float> scenePlane() {
    const auto& alpha = lumet::bench::sceneAlpha();
    std::vector<float> plane(kPixels);
    for (std::int64_t i = 0; i < kPixels; ++i) plane[i] = alpha[i] / 255.0f;
    return plane;
}

void BM_Lumet_BoxBlur(benchmark::State& state) {
    ThreadCount threads(static_cast<int>(state.range(1)));
    std::vector<float> plane = scenePlane(), scratch(kPixels);
    const int radius = static_cast<int>(state.range(0));
    for (auto _ : state) {
        lumet::boxBlur(plane.data(), scratch.data(), kWidth, kHeight, radius, 0.0f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Lumet_BoxBlur)
    ->Args({5, 0})
    ->Args({30, 0})
    ->Args({5, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OpenCV_Blur(benchmark::State& state) {
    ThreadCount threads(static_cast<int>(state.range(1)));
    std::vector<float> plane = scenePlane();
    cv::Mat source(kHeight, kWidth, CV_32FC1, plane.data()), destination;
    const int radius = static_cast<int>(state.range(0));
    for (auto _ : state) {
        cv::blur(source, destination, cv::Size(2 * radius + 1, 2 * radius + 1), cv::Point(-1, -1),
                 cv::BORDER_REPLICATE);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_OpenCV_Blur)
    ->Args({5, 0})
    ->Args({30, 0})
    ->Args({5, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer's distances agree with ours on this scene (both are exact transforms).
void BM_CheckAgreement(benchmark::State& state) {
    const auto& alpha = lumet::bench::sceneAlpha();
    cv::Mat mask(kHeight, kWidth, CV_8UC1);
    for (std::int64_t i = 0; i < kPixels; ++i) mask.data[i] = alpha[i] >= 128 ? 255 : 0;
    cv::Mat peer;
    cv::distanceTransform(mask, peer, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
    std::vector<float> ours(kPixels);
    lumet::distanceTransformCpu(alpha.data(), ours.data(), kWidth, kHeight);
    double worst = 0.0;
    for (std::int64_t i = 0; i < kPixels; ++i)
        worst = std::max(worst, std::abs(double(ours[i]) - double(peer.ptr<float>()[i])));
    for (auto _ : state) benchmark::DoNotOptimize(worst);
    state.counters["max_abs_difference"] = worst;
}
BENCHMARK(BM_CheckAgreement)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
