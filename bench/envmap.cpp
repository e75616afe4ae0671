// Environment-map preparation at the working size 2048 x 1024: every built-in map at Blur 0, 20
// and 100 (radius 0, 4 and 100) through the compute-cache class as the smart render path
// prepares it, the plain path's direct loader, and the wrapping Gaussian alone by radius.
#include <benchmark/benchmark.h>

#include <vector>

#include "envmap/env_map.h"
#include "host/env_map_cache.h"
#include "parallel/blur.h"

namespace {

void computeThroughCacheClass(benchmark::State& state) {
    lumet::EnvMapCacheOptions options{nullptr,
                                      static_cast<std::int32_t>(state.range(0)),
                                      static_cast<float>(state.range(1)) / 100.0f,
                                      lumet::kEnvW,
                                      lumet::kEnvH,
                                      nullptr,
                                      0,
                                      {}};
    for (auto _ : state) {
        AEGP_CCComputeValueRefconP value = nullptr;
        if (lumet::envMapCacheCompute(&options, &value) != A_Err_NONE) {
            state.SkipWithError("compute failed");
            return;
        }
        lumet::envMapCacheDelete(value);
    }
}

void directLoader(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(lumet::kEnvW) * lumet::kEnvH;
    std::vector<float> planes[6];
    for (auto& plane : planes) plane.resize(count);
    const float blur = static_cast<float>(state.range(1)) / 100.0f;
    for (auto _ : state) {
        lumet::loadBuiltInEnvMap(planes[0].data(), planes[1].data(), planes[2].data(),
                                 planes[3].data(), planes[4].data(), planes[5].data(), lumet::kEnvW,
                                 lumet::kEnvH, lumet::envBlurRadius(blur),
                                 static_cast<std::int32_t>(state.range(0)));
        benchmark::DoNotOptimize(planes[3].data());
    }
}

void gaussian(benchmark::State& state) {
    std::vector<float> plane(static_cast<std::size_t>(lumet::kEnvW) * lumet::kEnvH);
    for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<float>(i % 251) / 250;
    std::vector<float> scratch(plane.size());
    for (auto _ : state) {
        lumet::gaussianBlurWrapX(plane.data(), lumet::kEnvW, lumet::kEnvH,
                                 static_cast<std::int32_t>(state.range(0)), scratch.data());
        benchmark::DoNotOptimize(plane.data());
    }
}

void mapsAndBlurs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"map", "blur"});
    for (int map = 1; map <= 9; ++map)
        for (int blur : {0, 20, 100}) b->Args({map, blur});
}

}  // namespace

BENCHMARK(computeThroughCacheClass)->Apply(mapsAndBlurs)->Unit(benchmark::kMillisecond);
BENCHMARK(directLoader)->Apply(mapsAndBlurs)->Unit(benchmark::kMillisecond);
BENCHMARK(gaussian)->Arg(4)->Arg(25)->Arg(60)->Arg(100)->ArgName("radius")->Unit(
    benchmark::kMillisecond);

BENCHMARK_MAIN();
