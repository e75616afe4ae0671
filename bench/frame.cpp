// Whole frames through the plug-in binary and the reference host: a 1920 x 1080 text layer with
// the word "Lumet" across about 60 % of its width, Gold preset, smart protocol. For high quality,
// low quality and Outer Bevel: the first frame from cold (render caches and the environment map
// released through global set-down), an unchanged frame, and frames after a Glow Radius, a Light
// Angle and a Bevel Depth change. peakRSS_MB is the process's peak resident memory so far.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <memory>
#include <string>

#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"
#include "text_layer.h"

namespace {

using namespace lumet;

struct Scene {
    bool highQuality;
    int bevelStyle;
};

refhost::Host& sharedHost() {
    static std::unique_ptr<refhost::Host> host = [] {
        auto h = std::make_unique<refhost::Host>(LUMET_PLUGIN_PATH);
        h->registerPlugin();
        h->globalSetup();
        h->paramsSetup();
        cli::TextLayerOptions text;
        text.text = "Lumet";
        cli::Image layer;
        std::string error;
        if (!cli::renderTextLayer(text, layer, error)) throw std::runtime_error(error);
        h->setLayer(PARAM_INPUT,
                    refhost::worldFromRgba(layer.rgba.data(), layer.width, layer.height, 8));
        return h;
    }();
    return *host;
}

void prepare(refhost::Host& host, const Scene& scene) {
    host.params().resetToDefaults();
    host.params().setValue(PARAM_PRESET, 1);
    host.changeParam(PARAM_PRESET);
    host.params().setValue(PARAM_BEVEL_STYLE, scene.bevelStyle);
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void renderOrFail(benchmark::State& state, refhost::Host& host, const Scene& scene) {
    refhost::FrameOptions options;
    options.highQuality = scene.highQuality;
    refhost::RenderedFrame frame;
    const PF_Err err = refhost::renderSmartFrame(host, options, frame);
    if (err != PF_Err_NONE) state.SkipWithError(refhost::errorName(err));
}

enum class Step { kCold, kUnchanged, kGlowRadius, kLightAngle, kBevelDepth };

void frameBenchmark(benchmark::State& state, Scene scene, Step step) {
    refhost::Host& host = sharedHost();
    prepare(host, scene);
    renderOrFail(state, host, scene);  // settle the caches
    int toggle = 0;
    for (auto _ : state) {
        state.PauseTiming();
        toggle ^= 1;
        switch (step) {
            case Step::kCold:
                // Global set-down releases the render caches and the compute-cache values.
                host.globalSetdown();
                host.globalSetup();
                break;
            case Step::kUnchanged:
                break;
            case Step::kGlowRadius:
                host.params().setValue(PARAM_GLOW_RADIUS, toggle ? 70.0 : 65.0);
                break;
            case Step::kLightAngle:
                host.params().setValue(PARAM_LIGHT_ANGLE, toggle ? 120.0 : 135.0);
                break;
            case Step::kBevelDepth:
                host.params().setValue(PARAM_BEVEL_DEPTH, toggle ? 120.0 : 150.0);
                break;
        }
        state.ResumeTiming();
        renderOrFail(state, host, scene);
    }
    state.counters["peakRSS_MB"] = peakMegabytes();
}

void registerScene(const char* name, Scene scene) {
    const std::pair<const char*, Step> steps[] = {{"cold", Step::kCold},
                                                  {"unchanged", Step::kUnchanged},
                                                  {"glowRadius", Step::kGlowRadius},
                                                  {"lightAngle", Step::kLightAngle},
                                                  {"bevelDepth", Step::kBevelDepth}};
    for (const auto& [stepName, step] : steps) {
        benchmark::RegisterBenchmark(
            (std::string(name) + "/" + stepName).c_str(),
            [scene, step](benchmark::State& state) { frameBenchmark(state, scene, step); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    }
}

const bool registered = [] {
    registerScene("Frame/GoldHigh", {true, kInnerBevel});
    registerScene("Frame/GoldLow", {false, kInnerBevel});
    registerScene("Frame/GoldOuterHigh", {true, kOuterBevel});
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
