// Whole frames through the plug-in binary and the reference host: a 1920 x 1080 text layer with
// the word "Lumet" across about 60 % of its width, Gold preset, smart protocol. For high quality,
// low quality and Outer Bevel: the first frame from cold (render caches, the plane pool and the
// environment map released through global set-down, as in a fresh process), the first frame of a
// new layer (the text moved by a pixel: every stage runs again, on the planes the pool kept), an
// unchanged frame, and frames after a Glow Radius, a Light Angle and a Bevel Depth change.
// peakRSS_MB is the process's peak resident memory so far.
//
// Cli/... times whole `lumet render` processes: the 1080p Gold text, ten frames of it with Light
// Angle keyed 0 to 150 into PNGs, and a 65536 x 1 text layer; peakRSS_MB is the largest child's.
//
// Scaling: Frame/Gold4KSameText puts the same 1920 x 1080 text layer's pixels in the middle of a
// 3840 x 2160 layer (the content the same size), Frame/Gold4KScaled fits the text to 60 % of the
// 3840 x 2160 layer (the content twice as wide and tall).
//
// Where OpenCV is installed, Peer/OpenCvExactDistance times OpenCV's exact Euclidean distance
// transform over the 5840 x 4160 working canvas of the high-quality 1080p frame (the layer with
// its 500-pixel margin, doubled) in the same run, and every frame benchmark after it reports
// perTransform: its mean time over that transform's.
//
// abortGap_ms is the longest time between two questions to the host's abort callback in a
// measured frame; abortChecks the questions of the last frame.
//
// Each frame step runs 3 times, or LUMET_BENCH_ITERATIONS times (more, for a profiler's samples).
//
// Frame/... renders on the CPU (LUMET_OPENCL=off at the plug-in's global set-up); FrameOpenCL/...
// lets the plug-in start its OpenCL runtime on the machine's first device, which the label names,
// and adds setUp: one global set-up alone, which loads OpenCL and builds the kernels.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "params/param_ids.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"
#include "text_layer.h"
#ifdef LUMET_PEER_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace lumet;

enum class Device { kCpu, kOpenCl };
enum class Layer { kText1080, kSameText2160, kScaledText2160 };

struct Scene {
    bool highQuality;
    int bevelStyle;
    Device device = Device::kCpu;
    Layer layer = Layer::kText1080;
};

// The scene's layer as premultiplied RGBA.
cli::Image sceneLayer(Layer layer) {
    cli::TextLayerOptions text;
    text.text = "Lumet";
    if (layer == Layer::kScaledText2160) text.width = 3840, text.height = 2160;
    cli::Image image;
    std::string error;
    if (!cli::renderTextLayer(text, image, error)) throw std::runtime_error(error);
    if (layer != Layer::kSameText2160) return image;
    cli::Image wide;
    wide.width = 3840, wide.height = 2160;
    wide.rgba.assign(static_cast<std::size_t>(wide.width) * wide.height * 4, 0.0f);
    const std::int32_t x0 = (wide.width - image.width) / 2, y0 = (wide.height - image.height) / 2;
    for (std::int32_t y = 0; y < image.height; ++y) {
        std::copy_n(&image.rgba[static_cast<std::size_t>(y) * image.width * 4], image.width * 4,
                    &wide.rgba[(static_cast<std::size_t>(y + y0) * wide.width + x0) * 4]);
    }
    return wide;
}

// Mean time of OpenCV's exact distance transform over the working canvas, once measured.
double transformMilliseconds = 0.0;

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
        setenv("LUMET_OPENCL", "any", 1);  // POCL's CPU device too
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

// The scene's layer, or the same moved one pixel to the right.
void setSceneLayer(refhost::Host& host, Layer which, bool moved) {
    static Layer current;
    static bool layerSet = false, currentMoved = false;
    if (layerSet && current == which && currentMoved == moved) return;
    cli::Image layer = sceneLayer(which);
    if (moved) {
        for (std::int32_t y = 0; y < layer.height; ++y) {
            float* row = &layer.rgba[static_cast<std::size_t>(y) * layer.width * 4];
            std::copy_backward(row, row + (layer.width - 1) * 4, row + layer.width * 4);
            std::fill(row, row + 4, 0.0f);
        }
    }
    host.setLayer(PARAM_INPUT,
                  refhost::worldFromRgba(layer.rgba.data(), layer.width, layer.height, 8));
    current = which;
    currentMoved = moved;
    layerSet = true;
}

void prepare(refhost::Host& host, const Scene& scene) {
    setSceneLayer(host, scene.layer, false);
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
    // As a host does, the frame's buffer goes back to be written by the next frame.
    host.returnOutputWorld(std::move(frame.output));
}

enum class Step { kSetUp, kCold, kNewLayer, kUnchanged, kGlowRadius, kLightAngle, kBevelDepth };

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
    double seconds = 0.0, longestGap = 0.0;
    int checks = 0;
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
            case Step::kNewLayer:
                setSceneLayer(host, scene.layer, toggle != 0);
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
        const auto start = std::chrono::steady_clock::now();
        host.setAbortPlan({});
        renderOrFail(state, host, scene);
        const auto end = std::chrono::steady_clock::now();
        seconds += std::chrono::duration<double>(end - start).count();
        longestGap = std::max(longestGap, host.abortLog().longestGapSeconds);
        checks = host.abortLog().calls;
    }
    state.counters["abortGap_ms"] = 1000.0 * longestGap;
    state.counters["abortChecks"] = checks;
    state.counters["peakRSS_MB"] = peakMegabytes();
    if (transformMilliseconds > 0.0 && state.iterations() > 0) {
        state.counters["perTransform"] =
            1000.0 * seconds / static_cast<double>(state.iterations()) / transformMilliseconds;
    }
}

// Iterations of each frame step: 3, or LUMET_BENCH_ITERATIONS (for profiling one step).
int stepIterations() {
    const char* value = std::getenv("LUMET_BENCH_ITERATIONS");
    const int n = value ? std::atoi(value) : 0;
    return n > 0 ? n : 3;
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
                                                  {"newLayer", Step::kNewLayer},
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
            ->Iterations(stepIterations());
    }
}

// Writes an opaque white 8-bit RGBA PNG of width x 1 to `path` (zlib's stored format, no filter).
bool writeWhiteRowPng(const std::string& path, std::uint32_t width) {
    auto be32 = [](std::string& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 255);
    };
    auto chunk = [&](std::string& out, const char* type, const std::string& data) {
        be32(out, static_cast<std::uint32_t>(data.size()));
        const std::string typed = type + data;
        out += typed;
        be32(out, static_cast<std::uint32_t>(
                      crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
    };
    std::string header;
    be32(header, width);
    be32(header, 1);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    const std::string row = std::string(1, '\0') + std::string(4 * std::size_t{width}, '\xff');
    std::string packed(compressBound(row.size()), '\0');
    uLongf packedSize = packed.size();
    if (compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                 reinterpret_cast<const Bytef*>(row.data()), row.size()) != Z_OK)
        return false;
    packed.resize(packedSize);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", "");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

// A whole `lumet render` process with `arguments` (its output under /tmp).
void cliBenchmark(benchmark::State& state, const std::string& arguments) {
    const std::string command =
        std::string(LUMET_CLI_PATH) + " render --device cpu --quiet " + arguments + " >/dev/null";
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("lumet render failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    state.counters["peakRSS_MB"] = usage.ru_maxrss / 1024.0;
    if (transformMilliseconds > 0.0 && state.iterations() > 0) {
        state.counters["perTransform"] =
            1000.0 * seconds / static_cast<double>(state.iterations()) / transformMilliseconds;
    }
}

#ifdef LUMET_PEER_OPENCV
// OpenCV's exact distance transform (DIST_L2, DIST_MASK_PRECISE) over the high-quality working
// canvas of the 1080p frame: the layer's alpha at (500, 500) of a 2920 x 2080 frame, doubled.
void openCvExactDistance(benchmark::State& state) {
    const cli::Image layer = sceneLayer(Layer::kText1080);
    constexpr int kMargin = 500;
    const int W2 = 2 * (layer.width + 2 * kMargin), H2 = 2 * (layer.height + 2 * kMargin);
    cv::Mat mask(H2, W2, CV_8UC1, cv::Scalar(0));
    for (int y = 0; y < 2 * layer.height; ++y) {
        for (int x = 0; x < 2 * layer.width; ++x) {
            const float a =
                layer.rgba[(static_cast<std::size_t>(y / 2) * layer.width + x / 2) * 4 + 3];
            mask.at<std::uint8_t>(y + 2 * kMargin, x + 2 * kMargin) = a >= 0.5f ? 255 : 0;
        }
    }
    cv::Mat distance;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::ClobberMemory();
    }
    transformMilliseconds = 1000.0 * seconds / static_cast<double>(state.iterations());
}
#endif

const bool registered = [] {
#ifdef LUMET_PEER_OPENCV
    benchmark::RegisterBenchmark("Peer/OpenCvExactDistance/5840x4160", openCvExactDistance)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
#endif
    registerScene("Frame/GoldHigh", {true, kInnerBevel});
    registerScene("Frame/GoldLow", {false, kInnerBevel});
    registerScene("Frame/GoldOuterHigh", {true, kOuterBevel});
    registerScene("Frame/Gold4KSameText", {true, kInnerBevel, Device::kCpu, Layer::kSameText2160});
    registerScene("Frame/Gold4KScaled", {true, kInnerBevel, Device::kCpu, Layer::kScaledText2160});
    registerScene("FrameOpenCL/GoldHigh", {true, kInnerBevel, Device::kOpenCl});
    registerScene("FrameOpenCL/GoldLow", {false, kInnerBevel, Device::kOpenCl});
    const std::pair<const char*, const char*> commands[] = {
        {"Cli/Gold1080", "--text Lumet --preset Gold -o /tmp/lumet_bench_gold.png"},
        {"Cli/Gold1080LightAngle10Frames",
         "--text Lumet --preset Gold --frames 10 --key 'Light Angle@0=0' "
         "--key 'Light Angle@9=150' -o /tmp/lumet_bench_anim_%02d.png"},
        {"Cli/Layer65536x1", "/tmp/lumet_bench_row_in.png -o /tmp/lumet_bench_row.png"}};
    if (!writeWhiteRowPng("/tmp/lumet_bench_row_in.png", 65536)) std::perror("lumet_bench_row_in");
    for (const auto& [name, arguments] : commands) {
        benchmark::RegisterBenchmark(name,
                                     [arguments = std::string(arguments)](benchmark::State& state) {
                                         cliBenchmark(state, arguments);
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
