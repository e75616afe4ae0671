// lumet render: an image file or a text layer through the effect, on the smart or the plain
// protocol of the reference host or through the OpenFX bundle in the OpenFX test host, into an
// image file of the output's format (image_io.h), one frame or an animation.
//
// Renders go through the plug-in binary. With --dump-stages the command drives the effect's
// in-process core instead (the same sources the binary is built from, through the same host
// protocol): the binary exports nothing but its two entry points, and the planes of a frame live
// in that library's own process-wide caches, so only an in-process effect can hand them to an
// observer while the frame is rendered.
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "frame_instance.h"
#include "frame_writer.h"
#include "host/entry.h"
#include "image_io.h"
#include "params/param_ids.h"
#include "params/param_table.h"
#include "plugin_session.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"
#include "render/frame_report.h"
#include "render_options.h"
#include "stage_dump.h"
#include "text_layer.h"

namespace lumet::cli {
namespace {

constexpr A_u_long kTimeScale = 24;  // frames per second of the host's timeline

// Runs `step`, turning a failed allocation into an error that says what was being done.
template <typename Step>
auto whileDoing(const std::string& what, Step&& step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        throw std::runtime_error(what + ": out of memory");
    }
}

std::unique_ptr<refhost::Host> openInProcess() {
    auto host = std::make_unique<refhost::Host>(
        refhost::PluginEntryPoints{&lumet::effectMain, &lumet::pluginDataEntry});
    if (host->registerPlugin() != PF_Err_NONE || host->globalSetup() != PF_Err_NONE ||
        host->paramsSetup() != PF_Err_NONE) {
        throw std::runtime_error("the in-process effect could not be set up");
    }
    return host;
}

void storeValue(refhost::ParamsStore& params, const ParamSpec& spec, const ParamValue& value) {
    switch (spec.kind) {
        case ParamKind::Popup:
            params.setValue(spec.id, value.choice);
            break;
        case ParamKind::Checkbox:
            params.setValue(spec.id, value.on ? 1.0 : 0.0);
            break;
        case ParamKind::Color:
            params.setColor(spec.id, PF_Pixel{255, value.rgb[0], value.rgb[1], value.rgb[2]});
            break;
        default:
            params.setValue(spec.id, value.number);
            break;
    }
}

void storeKey(refhost::ParamsStore& params, const ParamSpec& spec, double seconds,
              const ParamValue& value) {
    switch (spec.kind) {
        case ParamKind::Popup:
            params.setKeyframe(spec.id, seconds, value.choice);
            break;
        case ParamKind::Checkbox:
            params.setKeyframe(spec.id, seconds, value.on ? 1.0 : 0.0);
            break;
        case ParamKind::Color:
            params.setColorKeyframe(spec.id, seconds,
                                    PF_Pixel{255, value.rgb[0], value.rgb[1], value.rgb[2]});
            break;
        default:
            params.setKeyframe(spec.id, seconds, value.number);
            break;
    }
}

}  // namespace

OutputCut outputCut(std::int32_t W, std::int32_t H, std::int32_t inputX, std::int32_t inputY,
                    std::int32_t layerWidth, std::int32_t layerHeight, bool full) {
    if (full) return {0, 0, W, H, inputX, inputY, layerWidth, layerHeight};
    OutputCut cut;
    cut.x0 = std::clamp(inputX, 0, W);
    cut.y0 = std::clamp(inputY, 0, H);
    cut.width = std::clamp(layerWidth, 0, W - cut.x0);
    cut.height = std::clamp(layerHeight, 0, H - cut.y0);
    return cut;
}

bool straightToPng8(const RenderOptions& options) {
    return options.depth == 8 && !options.background &&
           outputFormat(options.outputPath) == FileFormat::Png &&
           options.outputColourSpace.empty();
}

namespace {

WriteSettings writeSettings(const RenderOptions& options) {
    WriteSettings settings;
    settings.bits = options.depth;
    settings.pngLevel = options.pngLevel;
    settings.exrFloat = options.exrFloat;
    settings.exrCompression = options.exrCompression;
    settings.colourSpace = options.outputColourSpace;
    return settings;
}

void writeOutput(const RenderOptions& options, Image image, const std::string& path) {
    if (options.background) {
        const auto& bg = *options.background;
        for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
            const float a = image.rgba[i + 3];
            for (int c = 0; c < 3; ++c) image.rgba[i + c] += bg[c] * (1.0f - a);
            image.rgba[i + 3] = 1.0f;
        }
    }
    std::string error;
    if (!writeImage(path, image, writeSettings(options), error)) {
        throw std::runtime_error(error);
    }
}

// The layer: the text, or the image (an input sequence's file at `path`).
Image loadLayer(const RenderOptions& options, const std::string& path) {
    Image layer;
    std::string error;
    if (options.text) {
        TextLayerOptions text;
        text.text = *options.text;
        text.fontPath = options.fontPath;
        text.fontSize = options.fontSize;
        std::copy(options.textColor, options.textColor + 3, text.color);
        text.width = options.width;
        text.height = options.height;
        std::error_code missing;
        if (!text.fontPath.empty() && !std::filesystem::is_regular_file(text.fontPath, missing))
            throw std::runtime_error("--font: " + text.fontPath + ": no such font file");
        if (!renderTextLayer(text, layer, error)) throw UsageError(error);
    } else {
        if (!readImage(path, layer, error, options.inputColourSpace)) {
            throw std::runtime_error(error);  // a file error, not a usage error
        }
        premultiply(layer);
    }
    return layer;
}

void setHostLayer(refhost::Host& host, const Image& layer, int bits) {
    whileDoing("handing the layer to the host", [&] {
        host.setLayer(PARAM_INPUT,
                      refhost::worldFromRgba(layer.rgba.data(), layer.width, layer.height, bits));
    });
}

// Hands an effect instance the frame's layers, the preset (as a user's choice), the settings and
// the keys. False, with the failure reported, when applying the preset fails.
bool prepareInstance(refhost::Host& host, const RenderOptions& options, const Image& layer,
                     const Image& customMap) {
    const int bits = options.depth;
    setHostLayer(host, layer, bits);
    refhost::ParamsStore& params = host.params();
    if (options.preset) {
        // As a user's choice in the host: the effect rewrites the preset's parameters.
        params.setValue(PARAM_PRESET, *options.preset);
        const PF_Err err = host.changeParam(PARAM_PRESET);
        if (err != PF_Err_NONE) {
            std::fprintf(stderr, "lumet: applying the preset failed: error %d (%s)\n", err,
                         refhost::errorName(err));
            return false;
        }
    }
    if (!options.customMapPath.empty()) {
        whileDoing("handing the custom map to the host", [&] {
            host.setLayer(PARAM_CUSTOM_MAP,
                          refhost::worldFromRgba(customMap.rgba.data(), customMap.width,
                                                 customMap.height, bits));
        });
        params.setValue(PARAM_HDRI_MAP, kCustomMap);
    }
    for (const ParamSetting& setting : options.settings) {
        storeValue(params, paramSpec(setting.id), setting.value);
    }
    for (const ParamKey& key : options.keys) {
        storeKey(params, paramSpec(key.id), double(key.frame) / kTimeScale, key.value);
    }
    return true;
}

// Ctrl-C, SIGTERM (how farms stop a task) and SIGHUP: the frame in progress is abandoned through
// the host's abort callback, no further frame starts, the frames already written stay (a frame
// being written is finished: files appear whole, by rename), and the command exits with 128 plus
// the signal's number.
std::atomic<bool> interruptRequested{false};
std::atomic<int> interruptSignal{0};

void onInterrupt(int signal) {
    interruptSignal = signal;
    interruptRequested = true;
}

class InterruptHandler {
public:
    InterruptHandler() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            previous_[i] = std::signal(kSignals[i], onInterrupt);
    }
    ~InterruptHandler() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            std::signal(kSignals[i], previous_[i] == SIG_ERR ? SIG_DFL : previous_[i]);
    }
    InterruptHandler(const InterruptHandler&) = delete;
    InterruptHandler& operator=(const InterruptHandler&) = delete;

private:
#ifdef SIGHUP
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
#else
    static constexpr std::array<int, 2> kSignals{SIGINT, SIGTERM};
#endif
    std::array<void (*)(int), kSignals.size()> previous_{};
};

int interrupted() {
    std::fprintf(stderr, "lumet: interrupted; the frames written so far are kept\n");
    return 128 + interruptSignal.load();
}

// An effect instance on the effect host's smart or plain protocol, at the command's preview
// factor; Ctrl-C reaches the effect through the host's abort callback.
class HostFrameInstance : public FrameInstance {
public:
    HostFrameInstance(std::unique_ptr<refhost::Host> host, const RenderOptions& options)
        : host_(std::move(host)), options_(options) {
        frameOptions_.bitsPerChannel = options.depth;
        frameOptions_.highQuality = options.highQuality();
        frameOptions_.downsampleX = frameOptions_.downsampleY = options.downsample;
        host_->setAbortPlan(refhost::AbortPlan{0, -1.0, &interruptRequested});
    }
    void setLayer(const Image& layer) override { setHostLayer(*host_, layer, options_.depth); }
    bool render(std::int32_t frame, RenderedOutput& output, std::string& failure) override {
        host_->setTime(frame, 1, kTimeScale);
        const PF_Err err = options_.smartProtocol()
                               ? refhost::renderSmartFrame(*host_, frameOptions_, output.frame)
                               : refhost::renderPlainFrame(*host_, frameOptions_, output.frame);
        if (err == PF_Err_NONE) return true;
        if (err == PF_Interrupt_CANCEL && interruptRequested) {
            failure = "interrupted";
            return false;
        }
        failure = "error " + std::to_string(err) + " (" + refhost::errorName(err) + ")";
        return false;
    }
    // Converts only the cut of the output world. Straight 8-bit PNG samples are converted in the
    // world itself, which the image then holds until it is written (memory the host has already
    // touched, where a buffer of their own would be new pages); the world then goes back to the
    // host for a later frame, as it does at once otherwise.
    Image takeImage(RenderedOutput& output, std::int32_t layerWidth, std::int32_t layerHeight,
                    bool full) override {
        const refhost::RenderedFrame& frame = output.frame;
        const OutputCut cut = outputCut(frame.output.width(), frame.output.height(), frame.inputX,
                                        frame.inputY, previewSize(layerWidth, options_.downsample),
                                        previewSize(layerHeight, options_.downsample), full);
        Image image;
        image.width = cut.width;
        image.height = cut.height;
        image.frameX = cut.frameX, image.frameY = cut.frameY;
        image.frameWidth = cut.frameWidth, image.frameHeight = cut.frameHeight;
        image.premultiplied = true;
        if (straightToPng8(options_)) {
            image.premultiplied = false;
            refhost::Host* host = host_.get();
            const std::shared_ptr<refhost::OwnedWorld> held(
                new refhost::OwnedWorld(std::move(output.frame.output)),
                [host](refhost::OwnedWorld* world) {
                    host->returnOutputWorld(std::move(*world));
                    delete world;
                });
            const PF_EffectWorld& world = *held->world();
            image.samples8.owner = held;
            image.samples8.stride = world.rowbytes;
            image.samples8.data = reinterpret_cast<std::uint8_t*>(world.data) +
                                  static_cast<std::ptrdiff_t>(cut.y0) * world.rowbytes +
                                  4 * static_cast<std::ptrdiff_t>(cut.x0);
            for (std::int32_t y = 0; y < cut.height; ++y)
                straightSamples8(image.samples8.row(y), cut.width, image.samples8.row(y));
            return image;
        }
        image.rgba = refhost::rgbaFromWorld(*frame.output.world(), options_.depth, cut.x0, cut.y0,
                                            cut.width, cut.height);
        host_->returnOutputWorld(std::move(output.frame.output));
        return image;
    }

private:
    std::unique_ptr<refhost::Host> host_;
    const RenderOptions& options_;
    refhost::FrameOptions frameOptions_;
};

// Progress, from any job's thread: on a terminal one line rewritten in place (frame, frames per
// second, time left); in a log (a farm's, a pipe) a line per frame with its time and a summary at
// the end. Failed frames are reported either way.
class Progress {
public:
    using Clock = std::chrono::steady_clock;
    Progress(bool quiet, bool terminal, std::int32_t total)
        : quiet_(quiet), terminal_(terminal), total_(total), start_(Clock::now()),
          last_(start_) {}
    void done(std::int32_t frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        const Clock::time_point now = Clock::now();
        const double frameSeconds = seconds(last_, now), elapsed = seconds(start_, now);
        last_ = now;
        if (quiet_) return;
        const double fps = elapsed > 0.0 ? finished_ / elapsed : 0.0;
        if (!terminal_) {
            std::fprintf(stderr, "lumet: frame %d done in %.2f s (%d of %d)\n", frame,
                         frameSeconds, finished_, total_);
            return;
        }
        if (total_ < 2) return;
        const double left = fps > 0.0 ? (total_ - finished_) / fps : 0.0;
        std::fprintf(stderr, "\rlumet: frame %d (%d of %d), %.1f fps, %.0f s left   ", frame,
                     finished_, total_, fps, left);
        std::fflush(stderr);
        lineOpen_ = true;
    }
    void fail(std::int32_t frame, const std::string& failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        endLine();
        std::fprintf(stderr, "lumet: render failed at frame %d: %s\n", frame, failure.c_str());
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        endLine();
        if (quiet_ || terminal_ || finished_ == 0) return;
        const double elapsed = seconds(start_, Clock::now());
        std::fprintf(stderr, "lumet: %d of %d frames written in %.2f s (%.2f fps)\n", finished_,
                     total_, elapsed, elapsed > 0.0 ? finished_ / elapsed : 0.0);
    }

private:
    static double seconds(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    }
    void endLine() {
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    std::mutex mutex_;
    bool quiet_, terminal_;
    std::int32_t total_;
    Clock::time_point start_, last_;
    std::int32_t finished_ = 0;
    bool lineOpen_ = false;
};

RenderOptions renderOptions;  // set by the command line's parse

struct LayerSize {
    std::int32_t width = 0, height = 0;
};

// One render: the options, the layers, the effect's instances (one per job) and the progress.
class RenderRun {
public:
    RenderRun(CommandContext& context, const RenderOptions& options)
        : context_(context), options_(options),
          progress_(options.quiet, isatty(fileno(stderr)) != 0,
                    static_cast<std::int32_t>(options.renderFrames.size())) {}

    // Reads the layer (an input sequence's first frame to render) and the custom map.
    void loadLayers() {
        const std::string path = layerPath(options_.renderFrames.front());
        layer_ = whileDoing(options_.text ? "making the text layer" : "reading " + path,
                            [&] { return loadLayer(options_, path); });
        if (options_.customMapPath.empty()) return;
        std::string error;
        whileDoing("reading " + options_.customMapPath, [&] {
            if (!readImage(options_.customMapPath, customMap_, error,
                           options_.customMapColourSpace))
                throw std::runtime_error("--custom-map: " + error);
            premultiply(customMap_);
        });
    }

    // An effect instance with the layers, the preset, the settings and the keys; null when the
    // preset could not be applied.
    std::unique_ptr<FrameInstance> makeInstance(bool first) {
        if (ofxPlugin_) {
            return whileDoing("setting up the OpenFX instance", [&] {
                return makeOfxInstance(*ofxPlugin_, options_, layer_, customMap_,
                                       &interruptRequested);
            });
        }
        std::unique_ptr<refhost::Host> host =
            inProcess() ? openInProcess() : openPlugin(context_, /*globalSetup=*/first);
        if (!prepareInstance(*host, options_, layer_, customMap_)) return nullptr;
        return std::make_unique<HostFrameInstance>(std::move(host), options_);
    }

    int run() {
        if (options_.ofxHost()) ofxPlugin_ = openOfxPlugin(context_, inProcess());
        std::unique_ptr<FrameInstance> first = makeInstance(true);
        if (!first) return 1;
        const bool oneInstance = options_.jobs == 1 || options_.renderFrames.size() == 1;
        // One instance holds its own copy of a still or text layer at the frames' depth; the
        // float copy (four times the bytes of an 8-bit world) is not needed again.
        if (oneInstance && !options_.inputSequence) std::vector<float>().swap(layer_.rgba);
        const int status = oneInstance ? renderInOrder(*first) : renderWithJobs(std::move(first));
        progress_.finish();
        if (interruptRequested) return interrupted();
        return status;
    }

private:
    bool inProcess() const { return !options_.dumpStagesDir.empty(); }
    // A job's copy of the layer, which an input sequence replaces frame by frame; a still or
    // text layer is never copied.
    Image sequenceLayer() const { return options_.inputSequence ? layer_ : Image{}; }
    LayerSize sizeOf(const Image& sequenceLayer) const {
        const Image& layer = options_.inputSequence ? sequenceLayer : layer_;
        return {layer.width, layer.height};
    }
    std::string layerPath(std::int32_t frame) const {
        return options_.inputSequence ? expandFramePattern(options_.inputPath, frame)
                                      : options_.inputPath;
    }

    // Renders a timeline frame on an instance, a sequence's own layer first. False (with the
    // failure reported) when the render fails or was interrupted.
    bool renderFrame(FrameInstance& instance, std::int32_t frame, StageDump* dump,
                     RenderedOutput& rendered, Image& layer) {
        if (interruptRequested) return false;
        if (options_.inputSequence && frame != options_.renderFrames.front()) {
            const std::string path = layerPath(frame);
            layer = whileDoing("reading " + path, [&] { return loadLayer(options_, path); });
            instance.setLayer(layer);
        }
        if (dump) dump->install();
        std::string failure;
        const bool ok = whileDoing("rendering frame " + std::to_string(frame), [&] {
            return instance.render(frame - options_.firstFrame, rendered, failure);
        });
        if (dump) dump->uninstall();
        if (!ok && !interruptRequested) progress_.fail(frame, failure);
        return ok && !interruptRequested;  // a frame finished after a signal is not written
    }

    // Writes a rendered frame; its host gets the frame's buffers back.
    void writeFrame(FrameInstance& instance, std::int32_t frame, RenderedOutput& rendered,
                    LayerSize layer) {
        const std::string path = expandFramePattern(options_.outputPath, frame);
        whileDoing("writing " + path, [&] {
            writeOutput(options_,
                        instance.takeImage(rendered, layer.width, layer.height,
                                           options_.fullOutput),
                        path);
        });
        progress_.done(frame);
    }

    // Frame k is converted and written on the writer's thread while frame k + 1 renders.
    int renderInOrder(FrameInstance& instance) {
        std::vector<LayerSize> sizes;  // the layer size of each frame in flight
        std::mutex sizesMutex;
        FrameWriter writer([&](std::int32_t frame, RenderedOutput& rendered) {
            LayerSize size;
            {
                std::lock_guard<std::mutex> lock(sizesMutex);
                size = sizes.front();
                sizes.erase(sizes.begin());
            }
            writeFrame(instance, frame, rendered, size);
        });
        StageDump dump;
        Image layer = sequenceLayer();
        for (std::int32_t frame : options_.renderFrames) {
            const bool last = frame == options_.renderFrames.back();
            RenderedOutput rendered;
            if (!renderFrame(instance, frame, last && inProcess() ? &dump : nullptr, rendered,
                             layer)) {
                writer.finish();  // the frames rendered before are written
                return 1;
            }
            {
                std::lock_guard<std::mutex> lock(sizesMutex);
                sizes.push_back(sizeOf(layer));
            }
            writer.write(frame, std::move(rendered));
        }
        writer.finish();
        if (!options_.dumpStagesDir.empty()) {
            std::string error;
            if (!dump.write(options_.dumpStagesDir, error)) throw std::runtime_error(error);
        }
        return 0;
    }

    // Each job takes the next frame to render on its own instance.
    int renderWithJobs(std::unique_ptr<FrameInstance> first) {
        const std::size_t total = options_.renderFrames.size();
        const int jobs = static_cast<int>(std::min<std::size_t>(options_.jobs, total));
        std::vector<std::unique_ptr<FrameInstance>> instances;
        instances.push_back(std::move(first));
        for (int j = 1; j < jobs; ++j) {
            instances.push_back(makeInstance(false));
            if (!instances.back()) return 1;
        }
        std::atomic<std::size_t> next{0};
        std::atomic<bool> failed{false};
        std::mutex errorMutex;
        std::exception_ptr error;
        std::vector<std::thread> threads;
        // A thread the system cannot start (no memory left for its stack) ends the render as a
        // failure once the started ones have stopped.
        auto startJob = [&](auto work) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error&) {
                failed = true;
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error)
                    error = std::make_exception_ptr(
                        std::runtime_error("cannot start a render job's thread"));
            }
        };
        for (int j = 0; j < jobs; ++j) {
            startJob([&, j] {
                FrameInstance& instance = *instances[static_cast<std::size_t>(j)];
                Image layer = sequenceLayer();
                try {
                    for (std::size_t i = next++; i < total && !failed; i = next++) {
                        const std::int32_t frame = options_.renderFrames[i];
                        RenderedOutput rendered;
                        if (!renderFrame(instance, frame, nullptr, rendered, layer)) {
                            failed = true;
                            break;
                        }
                        writeFrame(instance, frame, rendered, sizeOf(layer));
                    }
                } catch (...) {
                    failed = true;
                    std::lock_guard<std::mutex> lock(errorMutex);
                    if (!error) error = std::current_exception();
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        // Further instances go first; the first, which set the effect up, sets it down last.
        while (instances.size() > 1) instances.pop_back();
        if (error) std::rethrow_exception(error);
        return failed ? 1 : 0;
    }

    CommandContext& context_;
    const RenderOptions& options_;
    Progress progress_;
    Image layer_, customMap_;
    std::unique_ptr<refhost::ofxhost::Plugin> ofxPlugin_;
};

int runRender(CommandContext& context) {
    const RenderOptions& options = renderOptions;
    RenderRun run(context, options);
    run.loadLayers();
    if (!options.dumpStagesDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.dumpStagesDir, ec);
        if (ec) {
            throw std::runtime_error("--dump-stages: cannot create \"" + options.dumpStagesDir +
                                     "\": " + ec.message());
        }
    }
    if (!options.device.empty()) chooseOpenClDevice(options.device);
    if (!options.memoryBudget.empty()) chooseMemoryBudget(options.memoryBudget);
    const InterruptHandler interruptHandler;
    return run.run();
}

void declareRender(CLI::App& command) {
    declareRenderOptions(command, [](RenderOptions options) { renderOptions = std::move(options); });
}

const bool registered = registerSubcommand(
    {"render", "render an image or text with the effect", declareRender, runRender});

}  // namespace
}  // namespace lumet::cli
