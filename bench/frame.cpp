// Whole frames through the plug-in binary and the reference host: a 1920 x 1080 text layer with
// the word "Lumet" across about 60 % of its width, Gold preset, smart protocol. For high quality,
// low quality and Outer Bevel: the first frame from cold (render caches and the environment map
// released through global set-down), an unchanged frame, and frames after a Glow Radius, a Light
// Angle and a Bevel Depth change. peakRSS_MB is the process's peak resident memory so far.
//
// Frame/... renders on the CPU (LUMET_OPENCL=off at the plug-in's global set-up); FrameOpenCL/...
// lets the plug-in start its OpenCL runtime on the machine's first device, which the label names,
// and adds setUp: one global set-up alone, which loads OpenCL and builds the kernels.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"
#include "text_layer.h"

namespace {

using namespace lumet;

enum class Device { kCpu, kOpenCl };

struct Scene {
    bool highQuality;
    int bevelStyle;
    Device device = Device::kCpu;
};

// The plug-in's global set-up with its standard error (where its OpenCL runtime names the device
// it started on) captured; returns the device's name, empty when OpenCL did not start.
std::string globalSetupNamingDevice(refhost::Host& host) {
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* capture = std::tmpfile();
    if (saved >= 0 && capture) dup2(fileno(capture), 2);
    host.globalSetup();
    std::fflush(stderr);
    if (saved >= 0 && capture) {
        dup2(saved, 2);
        close(saved);
    }
    std::string text;
    if (capture) {
        std::rewind(capture);
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, capture)) > 0) text.append(buffer, n);
        std::fclose(capture);
    }
    const std::string marker = "Lumet GPU: OpenCL ready on ";
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    const std::size_t start = at + marker.size();
    return text.substr(start, text.find('\n', start) - start);
}

// Which device the shared host's plug-in was set up for, and the OpenCL device's name.
Device setUpDevice = Device::kCpu;
std::string openClDeviceName;

void chooseDevice(Device device) {
    if (device == Device::kCpu) {
        setenv("LUMET_OPENCL", "off", 1);
    } else {
        unsetenv("LUMET_OPENCL");
    }
}

refhost::Host& sharedHost(Device device) {
    static std::unique_ptr<refhost::Host> host = [device] {
        auto h = std::make_unique<refhost::Host>(LUMET_PLUGIN_PATH);
        h->registerPlugin();
        chooseDevice(device);
        openClDeviceName = globalSetupNamingDevice(*h);
        setUpDevice = device;
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
    if (setUpDevice != device) {
        host->globalSetdown();
        chooseDevice(device);
        openClDeviceName = globalSetupNamingDevice(*host);
        setUpDevice = device;
    }
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

enum class Step { kSetUp, kCold, kUnchanged, kGlowRadius, kLightAngle, kBevelDepth };

void frameBenchmark(benchmark::State& state, Scene scene, Step step) {
    refhost::Host& host = sharedHost(scene.device);
    if (scene.device == Device::kOpenCl) {
        if (openClDeviceName.empty()) {
            state.SkipWithError("no OpenCL device started");
            return;
        }
        state.SetLabel(openClDeviceName);
    }
    if (step == Step::kSetUp) {
        for (auto _ : state) {
            state.PauseTiming();
            host.globalSetdown();
            state.ResumeTiming();
            if (globalSetupNamingDevice(host).empty() != (scene.device == Device::kCpu)) {
                state.SkipWithError("the device changed between set-ups");
            }
        }
        return;
    }
    prepare(host, scene);
    renderOrFail(state, host, scene);  // settle the caches
    int toggle = 0;
    for (auto _ : state) {
        state.PauseTiming();
        toggle ^= 1;
        switch (step) {
            case Step::kSetUp:
                break;
            case Step::kCold:
                // Global set-down releases the render caches and the compute-cache values (and
                // shuts the OpenCL runtime down: set-up starts it again, kernel build included).
                host.globalSetdown();
                globalSetupNamingDevice(host);
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
    if (scene.device == Device::kOpenCl) {
        benchmark::RegisterBenchmark(
            (std::string(name) + "/setUp").c_str(),
            [scene](benchmark::State& state) { frameBenchmark(state, scene, Step::kSetUp); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    }
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
    registerScene("FrameOpenCL/GoldHigh", {true, kInnerBevel, Device::kOpenCl});
    registerScene("FrameOpenCL/GoldLow", {false, kInnerBevel, Device::kOpenCl});
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
