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
#include <atomic>
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

namespace {

// Whether frames go to 8-bit PNGs as they come, in the effect's own colour, with no background
// to lay under them. Such a frame is taken from the output world straight to its PNG samples.
bool straightToPng8(const RenderOptions& options) {
    return options.depth == 8 && !options.background &&
           outputFormat(options.outputPath) == FileFormat::Png &&
           options.outputColourSpace.empty();
}

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

Image loadLayer(const RenderOptions& options) {
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
        if (!renderTextLayer(text, layer, error)) throw UsageError(error);
    } else {
        if (!readImage(options.inputPath, layer, error, options.inputColourSpace)) {
            throw std::runtime_error(error);  // a file error, not a usage error
        }
        premultiply(layer);
    }
    return layer;
}

// Hands an effect instance the frame's layers, the preset (as a user's choice), the settings and
// the keys. False, with the failure reported, when applying the preset fails.
bool prepareInstance(refhost::Host& host, const RenderOptions& options, const Image& layer,
                     const Image& customMap) {
    const int bits = options.depth;
    whileDoing("handing the layer to the host", [&] {
        host.setLayer(PARAM_INPUT,
                      refhost::worldFromRgba(layer.rgba.data(), layer.width, layer.height, bits));
    });
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

// Ctrl-C: the frame in progress is abandoned through the host's abort callback, no further frame
// starts, the frames already written stay, and the command exits with 130 (128 + SIGINT).
constexpr int kInterruptedStatus = 130;
std::atomic<bool> interruptRequested{false};

void onInterrupt(int) { interruptRequested = true; }

class InterruptHandler {
public:
    InterruptHandler() : previous_(std::signal(SIGINT, onInterrupt)) {}
    ~InterruptHandler() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
    InterruptHandler(const InterruptHandler&) = delete;
    InterruptHandler& operator=(const InterruptHandler&) = delete;

private:
    void (*previous_)(int);
};

int interrupted() {
    std::fprintf(stderr, "lumet: interrupted; the frames written so far are kept\n");
    return kInterruptedStatus;
}

// An effect instance on the effect host's smart or plain protocol, at the command's preview
// factor; Ctrl-C reaches the effect through the host's abort callback.
class HostFrameInstance : public FrameInstance {
public:
    HostFrameInstance(std::unique_ptr<refhost::Host> host, const RenderOptions& options)
        : host_(std::move(host)), options_(options) {
        frameOptions_.bitsPerChannel = options.depth;
        frameOptions_.highQuality = options.highQuality;
        frameOptions_.downsampleX = frameOptions_.downsampleY = options.downsample;
        host_->setAbortPlan(refhost::AbortPlan{0, -1.0, &interruptRequested});
    }
    bool render(std::int32_t frame, RenderedOutput& output, std::string& failure) override {
        host_->setTime(frame, 1, kTimeScale);
        const PF_Err err = options_.smartProtocol
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
    // Converts only the cut of the output world, which then goes back to the host for a later
    // frame.
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
        const PF_EffectWorld& world = *frame.output.world();
        if (straightToPng8(options_)) {
            image.premultiplied = false;
            image.samples8.resize(static_cast<std::size_t>(cut.width) * cut.height * 4);
            for (std::int32_t y = 0; y < cut.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint8_t*>(world.data) +
                                  static_cast<std::ptrdiff_t>(cut.y0 + y) * world.rowbytes;
                straightSamples8(
                    row + 4 * static_cast<std::size_t>(cut.x0), cut.width,
                    image.samples8.data() + static_cast<std::size_t>(y) * cut.width * 4);
            }
        } else {
            image.rgba = refhost::rgbaFromWorld(world, options_.depth, cut.x0, cut.y0, cut.width,
                                                cut.height);
        }
        host_->returnOutputWorld(std::move(output.frame.output));
        return image;
    }

private:
    std::unique_ptr<refhost::Host> host_;
    const RenderOptions& options_;
    refhost::FrameOptions frameOptions_;
};

// The progress line on a terminal ("frame F (D of N)"), and the report of a failed frame, from
// any job's thread.
class Progress {
public:
    Progress(bool shown, std::int32_t total) : shown_(shown), total_(total) {}
    void done(std::int32_t frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        if (!shown_) return;
        std::fprintf(stderr, "\rlumet: frame %d (%d of %d)", frame, finished_, total_);
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
    }

private:
    void endLine() {
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    std::mutex mutex_;
    bool shown_;
    std::int32_t total_;
    std::int32_t finished_ = 0;
    bool lineOpen_ = false;
};

int runRender(CommandContext& context) {
    const RenderOptions options = parseRenderOptions(context.args);
    for (const auto& [option, name] :
         {std::pair<const char*, const std::string&>{"--input-colorspace", options.inputColourSpace},
          {"--custom-map-colorspace", options.customMapColourSpace},
          {"--output-colorspace", options.outputColourSpace}}) {
        std::string error;
        if (!name.empty() && !checkColourSpace(name, error)) {
            throw UsageError(std::string(option) + ": " + error);
        }
    }
    if (outputFormat(options.outputPath) == FileFormat::Jpeg && !options.background) {
        std::fprintf(stderr,
                     "lumet: warning: JPEG has no alpha: the frames are laid over black and "
                     "their alpha is dropped (--background chooses the colour)\n");
    }
    const Image layer =
        whileDoing(options.text ? "making the text layer" : "reading " + options.inputPath,
                   [&] { return loadLayer(options); });
    Image customMap;
    if (!options.customMapPath.empty()) {
        std::string error;
        whileDoing("reading " + options.customMapPath, [&] {
            if (!readImage(options.customMapPath, customMap, error,
                           options.customMapColourSpace)) {
                throw std::runtime_error("--custom-map: " + error);
            }
            premultiply(customMap);
        });
    }
    if (!options.dumpStagesDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.dumpStagesDir, ec);
        if (ec) {
            throw UsageError("--dump-stages: cannot create \"" + options.dumpStagesDir +
                             "\": " + ec.message());
        }
    }

    // The effect reads the switch at global set-up, when it would start its OpenCL runtime.
#ifdef _WIN32
    const bool switchFailed = options.cpuOnly && _putenv_s("LUMET_OPENCL", "off") != 0;
#else
    const bool switchFailed = options.cpuOnly && setenv("LUMET_OPENCL", "off", 1) != 0;
#endif
    if (switchFailed) {
        throw std::runtime_error("--device cpu: cannot set LUMET_OPENCL");
    }
    const InterruptHandler interruptHandler;
    // The effect's instances, one per job: on the effect host, or through the OpenFX bundle
    // (one plug-in, several instances).
    const bool inProcess = !options.dumpStagesDir.empty();
    std::unique_ptr<refhost::ofxhost::Plugin> ofxPlugin;
    if (options.ofxHost) ofxPlugin = openOfxPlugin(context, inProcess);
    auto makeInstance = [&](bool first) -> std::unique_ptr<FrameInstance> {
        if (ofxPlugin) {
            return whileDoing("setting up the OpenFX instance", [&] {
                return makeOfxInstance(*ofxPlugin, options, layer, customMap);
            });
        }
        std::unique_ptr<refhost::Host> host =
            inProcess ? openInProcess() : openPlugin(context, /*globalSetup=*/first);
        if (!prepareInstance(*host, options, layer, customMap)) return nullptr;
        return std::make_unique<HostFrameInstance>(std::move(host), options);
    };
    std::unique_ptr<FrameInstance> first = makeInstance(true);
    if (!first) return 1;

    const std::int32_t total = options.lastFrame - options.firstFrame + 1;
    Progress progress(!options.quiet && isatty(fileno(stderr)) && total > 1, total);

    // One frame on one effect instance, rendered at its time. False (with the failure reported)
    // when the render fails or was interrupted.
    auto renderFrame = [&](FrameInstance& instance, std::int32_t frame, StageDump* dump,
                           RenderedOutput& rendered) {
        if (interruptRequested) return false;
        if (dump) dump->install();
        std::string failure;
        const bool ok = whileDoing("rendering frame " + std::to_string(frame),
                                   [&] { return instance.render(frame, rendered, failure); });
        if (dump) dump->uninstall();
        if (!ok && !interruptRequested) progress.fail(frame, failure);
        return ok;
    };
    // Writes a rendered frame; its host gets the frame's buffers back.
    auto writeFrame = [&](FrameInstance& instance, std::int32_t frame, RenderedOutput& rendered) {
        const std::string path = expandFramePattern(options.outputPath, frame);
        whileDoing("writing " + path, [&] {
            writeOutput(options,
                        instance.takeImage(rendered, layer.width, layer.height, options.fullOutput),
                        path);
        });
        progress.done(frame);
    };
    auto renderOne = [&](FrameInstance& instance, std::int32_t frame) {
        RenderedOutput rendered;
        if (!renderFrame(instance, frame, nullptr, rendered)) return false;
        writeFrame(instance, frame, rendered);
        return true;
    };

    if (options.jobs == 1 || total == 1) {
        // Frame k is converted and written on the writer's thread while frame k + 1 renders.
        FrameWriter writer([&](std::int32_t frame, RenderedOutput& rendered) {
            writeFrame(*first, frame, rendered);
        });
        StageDump dump;
        for (std::int32_t frame = options.firstFrame; frame <= options.lastFrame; ++frame) {
            const bool last = frame == options.lastFrame;
            RenderedOutput rendered;
            if (!renderFrame(*first, frame, last && inProcess ? &dump : nullptr, rendered)) {
                writer.finish();  // the frames rendered before are written
                progress.finish();
                return interruptRequested ? interrupted() : 1;
            }
            writer.write(frame, std::move(rendered));
        }
        writer.finish();
        progress.finish();
        if (!options.dumpStagesDir.empty()) {
            std::string error;
            if (!dump.write(options.dumpStagesDir, error)) throw std::runtime_error(error);
        }
        return 0;
    }

    const int jobs = static_cast<int>(std::min<std::int32_t>(options.jobs, total));
    std::vector<std::unique_ptr<FrameInstance>> instances;
    instances.push_back(std::move(first));
    for (int j = 1; j < jobs; ++j) {
        instances.push_back(makeInstance(false));
        if (!instances.back()) return 1;
    }
    std::atomic<std::int32_t> nextFrame{options.firstFrame};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::exception_ptr error;
    std::vector<std::thread> threads;
    for (int j = 0; j < jobs; ++j) {
        threads.emplace_back([&, j] {
            try {
                for (std::int32_t frame = nextFrame++; frame <= options.lastFrame && !failed;
                     frame = nextFrame++) {
                    if (!renderOne(*instances[static_cast<std::size_t>(j)], frame)) {
                        failed = true;
                    }
                }
            } catch (...) {
                failed = true;
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) error = std::current_exception();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    progress.finish();
    // Further instances go first; the first, which set the effect up, sets it down last.
    while (instances.size() > 1) instances.pop_back();
    if (error) std::rethrow_exception(error);
    if (interruptRequested) return interrupted();
    return failed ? 1 : 0;
}

const bool registered = registerSubcommand(
    {"render", "render an image or text with the effect", kRenderUsage, runRender});

}  // namespace
}  // namespace lumet::cli
