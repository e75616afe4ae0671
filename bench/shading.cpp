// The shading stages on the benchmark scene: a 1920 x 1080 frame of text-like glyphs rendered at
// high quality, so reflection and shading run on the 3840 x 2160 working plane and the glow and
// output composition on the 1920 x 1080 output. Items are pixels of the plane each stage covers.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "host/host_worlds.h"
#include "../tests/support/shading_inputs.h"
#include "envmap/env_map.h"
#include "geometry_fixture.h"
#include "render/geometry_sequence.h"
#include "shading/downsample.h"
#include "shading/env_reflection.h"
#include "shading/glow.h"
#include "shading/output_compose.h"
#include "shading/surface_shading.h"

namespace {

using namespace lumet;
constexpr int W = 1920, H = 1080, SS = 2, W2 = W * SS, H2 = H * SS;
constexpr std::int64_t kWorking = std::int64_t{W2} * H2, kOutput = std::int64_t{W} * H;

// Geometry, environment map and every stage's product for the Gold preset, computed once.
struct Scene {
    RenderSettings settings = test::goldSettings();
    std::vector<std::uint8_t> alpha, alphaSS = std::vector<std::uint8_t>(kWorking);
    std::vector<float> heights = std::vector<float>(kWorking),
                       normals = std::vector<float>(3 * kWorking);
    std::vector<std::vector<float>> env =
        std::vector<std::vector<float>>(6, std::vector<float>(std::size_t{kEnvW} * kEnvH));
    std::vector<std::vector<float>> refl =
        std::vector<std::vector<float>>(3, std::vector<float>(kWorking));
    std::vector<std::vector<float>> shadeSS =
        std::vector<std::vector<float>>(3, std::vector<float>(kWorking));
    std::vector<std::vector<float>> shade =
        std::vector<std::vector<float>>(3, std::vector<float>(kOutput));
    std::unique_ptr<ShadeConstants> constants = std::make_unique<ShadeConstants>();
    std::unique_ptr<test::EnvMapOver> envMap;

    Scene() : alpha(lumet::bench::sceneAlpha(W)) {
        runGeometrySequence({alpha.data(), W, H}, {alphaSS.data(), W2, H2},
                            {heights.data(), W2, H2}, {normals.data(), W2, H2, 3}, SS, 1.0f,
                            settings, {}, false);
        loadBuiltInEnvMap(env[0].data(), env[1].data(), env[2].data(), env[3].data(), env[4].data(),
                          env[5].data(), kEnvW, kEnvH, envBlurRadius(settings.envBlur),
                          settings.hdriMap);
        envMap = std::make_unique<test::EnvMapOver>(env[0].data(), env[1].data(), env[2].data(),
                                                    env[3].data(), env[4].data(), env[5].data(),
                                                    kEnvW, kEnvH);
        reflect(settings);
        makeShadeConstants(*constants, settings, surface(), reflection(), 1.0f);
        shadeWindow(*constants, surface(),
                    {shadeSS[0].data(), shadeSS[1].data(), shadeSS[2].data(), W2, H2}, false);
        for (int c = 0; c < 3; ++c) Downsample2x(shadeSS[c].data(), W2, H2, shade[c].data(), W, H);
    }
    void reflect(const RenderSettings& s) {
        renderEnvReflection(surface(), {refl[0].data(), refl[1].data(), refl[2].data(), W2, H2},
                            FrameWindow::whole(W2, H2), W2, H2, s, envMap->map());
    }
    SurfaceView surface() const { return {alphaSS.data(), heights.data(), normals.data(), W2, H2}; }
    RgbPlanes<const float> reflection() const {
        return {refl[0].data(), refl[1].data(), refl[2].data(), W2, H2};
    }
};

Scene& scene() {
    static Scene instance;
    return instance;
}

// Arg 0: plain (Gold); 1: dispersion 7 (Diamond); 2: anisotropy 100 (Brushed Steel).
void BM_EnvReflection(benchmark::State& state) {
    Scene& s = scene();
    RenderSettings settings = s.settings;
    if (state.range(0) == 1) settings.dispersion = 0.07f;
    if (state.range(0) == 2) settings.anisotropy = 1.0f;
    for (auto _ : state) {
        s.reflect(settings);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWorking);
}
BENCHMARK(BM_EnvReflection)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShadeConstants(benchmark::State& state) {
    Scene& s = scene();
    auto constants = std::make_unique<ShadeConstants>();
    for (auto _ : state) {
        makeShadeConstants(*constants, s.settings, s.surface(), s.reflection(), 1.0f);
        benchmark::DoNotOptimize(constants->shading.powLut[700]);
    }
}
BENCHMARK(BM_ShadeConstants)->Unit(benchmark::kMicrosecond);

void BM_Shading(benchmark::State& state) {
    Scene& s = scene();
    std::vector<std::vector<float>> out(3, std::vector<float>(kWorking));
    for (auto _ : state) {
        for (auto& plane : out) std::fill(plane.begin(), plane.end(), 0.0f);
        shadeWindow(*s.constants, s.surface(),
                    {out[0].data(), out[1].data(), out[2].data(), W2, H2}, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWorking);
}
BENCHMARK(BM_Shading)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Downsample2x(benchmark::State& state) {
    Scene& s = scene();
    std::vector<float> out(kOutput);
    for (auto _ : state) {
        Downsample2x(s.shadeSS[0].data(), W2, H2, out.data(), W, H);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWorking);
}
BENCHMARK(BM_Downsample2x)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Glow(benchmark::State& state) {
    Scene& s = scene();
    std::vector<std::vector<float>> planes(13, std::vector<float>(kOutput));
    float* work[8];
    for (int i = 0; i < 8; ++i) work[i] = planes[5 + i].data();
    const float radius = static_cast<float>(state.range(0));
    for (auto _ : state) {
        renderGlow({s.shade[0].data(), s.shade[1].data(), s.shade[2].data(), W, H},
                   {s.alpha.data(), W, H},
                   {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data(), W, H},
                   radius, planes[4].data(), work);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kOutput);
}
BENCHMARK(BM_Glow)->Arg(65)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg: output format code (0: 8 bpc, 1: 16 bpc, 2: 32 bpc float), with glow planes present.
void BM_ComposeOutput(benchmark::State& state) {
    Scene& s = scene();
    const std::int32_t format = static_cast<std::int32_t>(state.range(0));
    const int pixelSize = format == kFormat32 ? 16 : format == kFormat16 ? 8 : 4;
    std::vector<std::vector<float>> glow(4, std::vector<float>(kOutput, 0.05f));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kOutput) * pixelSize);
    PF_EffectWorld world{};
    world.data = reinterpret_cast<PF_PixelPtr>(bytes.data());
    world.width = W;
    world.height = H;
    world.rowbytes = W * pixelSize;
    world.world_flags = format == kFormat16 ? PF_WorldFlag_DEEP : 0;
    for (auto _ : state) {
        composeOutput(FrameWindow::whole(W, H), FrameWindow::whole(W, H),
                      {s.shade[0].data(), s.shade[1].data(), s.shade[2].data(), W, H},
                      RgbaPlanes<const float>(glow[0].data(), glow[1].data(), glow[2].data(),
                                              glow[3].data(), W, H),
                      {s.alpha.data(), W, H}, {s.heights.data(), W2, H2}, s.envMap->map(),
                      s.settings, SS, worldView(nullptr, world));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kOutput);
}
BENCHMARK(BM_ComposeOutput)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
