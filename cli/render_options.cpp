// Parsing and checking of the `lumet render` options.
#include "render_options.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "image_io.h"
#include "option_checks.h"
#include "number_text.h"
#include "text_layer.h"

namespace lumet::cli {

namespace {

// Frames a timeline may hold (--frames) and so the frames a key or a range may name.
constexpr std::int64_t kMaxFrames = 1000000;
constexpr std::int64_t kMaxJobs = 64;
// The widest frame field of an output pattern: every frame number fits in ten digits.
constexpr int kMaxFrameFieldWidth = 10;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool parseDouble(const std::string& text, double& value) { return parseDecimal(text, value); }

bool parseInt(const std::string& text, std::int64_t& value) { return parseInteger(text, value); }

// Choice number of a popup by name (case-insensitive) or 1-based number; 0 when neither.
int findChoice(const ParamSpec& spec, const std::string& text) {
    std::int64_t number = 0;
    if (parseInt(text, number)) {
        return number >= 1 && number <= spec.choiceCount ? static_cast<int>(number) : 0;
    }
    const std::string wanted = lower(trim(text));
    std::string choices = spec.choices ? spec.choices : "";
    int index = 1;
    std::size_t start = 0;
    while (start <= choices.size()) {
        const std::size_t bar = choices.find('|', start);
        const std::string name =
            choices.substr(start, bar == std::string::npos ? bar : bar - start);
        if (lower(name) == wanted) return index;
        if (bar == std::string::npos) break;
        start = bar + 1;
        ++index;
    }
    return 0;
}

std::string choiceList(const ParamSpec& spec) {
    std::string list = spec.choices ? spec.choices : "";
    std::replace(list.begin(), list.end(), '|', ',');
    return list;
}

// Splits "NAME=VALUE" at the first '='.
bool splitAssignment(const std::string& text, std::string& name, std::string& value) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    name = trim(text.substr(0, equals));
    value = trim(text.substr(equals + 1));
    return !name.empty();
}

}  // namespace

const ParamSpec* findParamByLabel(const std::string& label) {
    const std::string wanted = lower(trim(label));
    for (const ParamSpec& spec : kParamTable) {
        if (spec.kind == ParamKind::GroupStart || spec.kind == ParamKind::GroupEnd) continue;
        if (lower(spec.label) == wanted) return &spec;
    }
    return nullptr;
}

bool parseColor(const std::string& text, float rgb[3]) {
    std::string hex = trim(text);
    if (!hex.empty() && hex[0] == '#') hex = hex.substr(1);
    if (hex.size() != 6 || !std::all_of(hex.begin(), hex.end(),
                                        [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        rgb[c] =
            static_cast<float>(std::strtol(hex.substr(2 * c, 2).c_str(), nullptr, 16)) / 255.0f;
    }
    return true;
}

bool parseParamValue(const ParamSpec& spec, const std::string& text, ParamValue& value,
                     std::string& error) {
    const std::string label = spec.label;
    switch (spec.kind) {
        case ParamKind::Popup: {
            value.choice = findChoice(spec, text);
            if (value.choice == 0) {
                error = "\"" + label + "\": unknown choice \"" + text + "\" (one of " +
                        choiceList(spec) + ", or 1.." + std::to_string(spec.choiceCount) + ")";
                return false;
            }
            return true;
        }
        case ParamKind::FloatSlider: {
            if (!parseDouble(trim(text), value.number)) {
                error = "\"" + label + "\": \"" + text + "\" is not a number";
                return false;
            }
            if (value.number < spec.validMin || value.number > spec.validMax) {
                char range[96];
                std::snprintf(range, sizeof range, "%g to %g", spec.validMin, spec.validMax);
                error = "\"" + label + "\": " + text + " is outside " + range;
                return false;
            }
            return true;
        }
        case ParamKind::Angle:
            if (!parseDouble(trim(text), value.number) || std::fabs(value.number) > 32000.0) {
                error = "\"" + label + "\": \"" + text + "\" is not an angle in degrees";
                return false;
            }
            return true;
        case ParamKind::Checkbox: {
            const std::string word = lower(trim(text));
            if (word == "on" || word == "true" || word == "1" || word == "yes") {
                value.on = true;
            } else if (word == "off" || word == "false" || word == "0" || word == "no") {
                value.on = false;
            } else {
                error = "\"" + label + "\": \"" + text + "\" is not on or off";
                return false;
            }
            return true;
        }
        case ParamKind::Color: {
            float rgb[3];
            if (!parseColor(text, rgb)) {
                error = "\"" + label + "\": \"" + text + "\" is not a colour #RRGGBB";
                return false;
            }
            for (int c = 0; c < 3; ++c) {
                value.rgb[c] = static_cast<std::uint8_t>(std::lround(rgb[c] * 255.0f));
            }
            return true;
        }
        default:
            error = "\"" + label + "\" cannot be set from the command line" +
                    (spec.kind == ParamKind::Layer ? " (use --custom-map IMAGE)" : "");
            return false;
    }
}

FramePattern parseFramePattern(const std::string& path) {
    FramePattern pattern;
    // The pattern is looked for in the file name only: a folder may hold any character.
    const std::size_t nameStart = path.find_last_of("/\\") == std::string::npos
                                      ? 0
                                      : path.find_last_of("/\\") + 1;
    for (std::size_t i = nameStart; i < path.size(); ++i) {
        std::size_t end = i;
        int width = 0;
        if (path[i] == '%') {
            end = i + 1;
            while (end < path.size() && std::isdigit(static_cast<unsigned char>(path[end]))) ++end;
            if (end >= path.size() || path[end] != 'd') continue;
            const std::string digits = path.substr(i + 1, end - i - 1);
            width = digits.empty() ? 1 : static_cast<int>(std::strtol(digits.c_str(), nullptr, 10));
            ++end;
        } else if (path[i] == '#' || path[i] == '@') {
            while (end < path.size() && path[end] == path[i]) ++end;
            width = static_cast<int>(end - i);
        } else {
            continue;
        }
        pattern.found = true;
        pattern.prefix = path.substr(0, i);
        pattern.suffix = path.substr(end);
        pattern.width = std::max(width, 1);
        return pattern;
    }
    return pattern;
}

bool hasFramePattern(const std::string& path) { return parseFramePattern(path).found; }

std::string expandFramePattern(const std::string& path, std::int32_t frame) {
    const FramePattern pattern = parseFramePattern(path);
    if (!pattern.found) return path;
    std::string number = std::to_string(frame < 0 ? -std::int64_t{frame} : frame);
    if (static_cast<int>(number.size()) < pattern.width)
        number.insert(0, static_cast<std::size_t>(pattern.width) - number.size(), '0');
    return pattern.prefix + (frame < 0 ? "-" : "") + number + pattern.suffix;
}

std::vector<std::int32_t> findSequenceFrames(const std::string& path) {
    namespace fs = std::filesystem;
    const FramePattern pattern = parseFramePattern(path);
    const fs::path prefixPath(pattern.prefix + "x");  // the folder, and the name's start
    const fs::path folder = prefixPath.has_parent_path() ? prefixPath.parent_path() : ".";
    std::string start = prefixPath.filename().string();
    start.pop_back();
    std::set<std::int32_t> frames;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= start.size() + pattern.suffix.size() || name.rfind(start, 0) != 0 ||
            name.compare(name.size() - pattern.suffix.size(), std::string::npos,
                         pattern.suffix) != 0)
            continue;
        const std::string digits =
            name.substr(start.size(), name.size() - start.size() - pattern.suffix.size());
        std::int64_t frame = 0;
        if (!std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }) ||
            !parseInt(digits, frame) || frame >= kMaxFrames)
            continue;
        // The name the frame's number gives, so that 7 and 07 are not both taken for frame 7.
        if (expandFramePattern(fs::path(path).filename().string(),
                               static_cast<std::int32_t>(frame)) != name)
            continue;
        frames.insert(static_cast<std::int32_t>(frame));
    }
    return {frames.begin(), frames.end()};
}

bool parseFrameList(const std::string& text, std::vector<std::int32_t>& frames) {
    std::set<std::int32_t> list;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = trim(text.substr(start, comma - start));
        std::int64_t first = 0, last = 0, step = 1;
        const std::size_t dash = item.find('-', 1);
        const std::size_t by = item.find_first_of("xX:");
        const std::string firstText = item.substr(0, std::min(dash, item.size()));
        if (!parseInt(firstText, first)) return false;
        last = first;
        if (dash != std::string::npos) {
            const std::string lastText =
                item.substr(dash + 1, by == std::string::npos ? std::string::npos : by - dash - 1);
            if (!parseInt(lastText, last) ||
                (by != std::string::npos && !parseInt(item.substr(by + 1), step)))
                return false;
        } else if (by != std::string::npos) {
            return false;
        }
        if (first < 0 || last < first || step < 1 || last >= kMaxFrames) return false;
        for (std::int64_t frame = first; frame <= last; frame += step)
            list.insert(static_cast<std::int32_t>(frame));
        start = comma + 1;
    }
    frames.assign(list.begin(), list.end());
    return !frames.empty();
}

namespace {

// What the command line gave, before the checks that need several options at once.
struct RenderArguments {
    RenderOptions options;
    std::string preset, range, textColor, size, background, exrType = "half";
    std::vector<std::string> sets, keys;
    std::optional<std::int64_t> frames, firstFrame;
};

void declareInput(CLI::App& command, RenderArguments& a) {
    RenderOptions& o = a.options;
    const std::string group = "Input";
    command.add_option("input", o.inputPath,
                       "the layer: an image, or a sequence such as in.####.exr, in.%04d.png or "
                       "in.@.tif whose frame numbers are the timeline's")
        ->type_name("INPUT");
    command.add_option("--text", a.options.text, "a text layer instead; each line of TEXT a line")
        ->group(group);
    command.add_option("--font", o.fontPath, "font for --text (default DejaVu Sans Bold)")
        ->type_name("FILE")
        ->group(group);
    command.add_option("--font-size", o.fontSize, "pixels per em (default: the text fills 60% "
                                                  "of the width)")
        ->check(plainNumber())
        ->type_name("PX")
        ->check(CLI::Range(0.001, 100000.0))
        ->group(group);
    command.add_option("--text-color", a.textColor, "text colour (default #FFFFFF)")
        ->type_name("#RRGGBB")
        ->group(group);
    command.add_option("--size", a.size, "text canvas (default 1920x1080)")
        ->type_name("WxH")
        ->group(group);
    command.add_option("--input-colorspace", o.inputColourSpace,
                       "the layer's colour space (default: what the file says, else linear for "
                       "float data such as OpenEXR, sRGB for the rest); OpenColorIO names from "
                       "$OCIO, else sRGB, linear, Rec709")
        ->type_name("NAME")
        ->group(group);
    command.add_option("--first-frame", a.firstFrame,
                       "the timeline's first frame number for text and still layers (default 0)")
        ->check(wholeNumber())
        ->type_name("N")
        ->check(CLI::Range(std::int64_t{0}, kMaxFrames - 1))
        ->group(group);
}

void declareEffect(CLI::App& command, RenderArguments& a) {
    RenderOptions& o = a.options;
    const std::string group = "Effect";
    command.add_option("--preset", a.preset, "Gold, Silver, Rose Gold, Bronze, Copper, Platinum, "
                                             "Brushed Steel, Black Chrome, Diamond (as a user's "
                                             "choice)")
        ->type_name("NAME")
        ->group(group);
    command.add_option("--set", a.sets, "any parameter by label, e.g. \"Glow Radius=120\", "
                                        "\"Edge Profile=Round\", \"Smart Edge=off\", \"Midtone "
                                        "Color=#D4A840\" (repeatable)")
        ->type_name("LABEL=VALUE")
        ->group(group);
    command.add_option("--custom-map", o.customMapPath, "IMAGE as the environment map (selects "
                                                        "Custom Map)")
        ->type_name("IMAGE")
        ->group(group);
    command.add_option("--custom-map-colorspace", o.customMapColourSpace,
                       "the custom map's colour space (as --input-colorspace); an HDR map keeps "
                       "values above 1")
        ->type_name("NAME")
        ->group(group);
    command.add_option("--quality", o.quality, "render quality: high (2x supersampling) or low")
        ->check(CLI::IsMember({"high", "low"}))
        ->capture_default_str()
        ->group(group);
    command.add_option("--downsample", o.downsample, "the host's preview at 1/N resolution")
        ->check(wholeNumber())
        ->type_name("N")
        ->check(CLI::Range(1, 8))
        ->capture_default_str()
        ->group(group);
    command.add_option("--depth", o.depth, "bits per channel of the host's worlds (default 8; 32 "
                                           "for .exr output)")
        ->check(wholeNumber())
        ->check(CLI::IsMember({8, 16, 32}))
        ->group(group);
    command.add_option("--protocol", o.protocol, "the effect host's protocol")
        ->check(CLI::IsMember({"smart", "plain"}))
        ->capture_default_str()
        ->group(group);
    command.add_option("--host", o.host, "ae: the plug-in library on the effect host's protocols; "
                                         "ofx: the OpenFX bundle in an OpenFX host")
        ->check(CLI::IsMember({"ae", "ofx"}))
        ->capture_default_str()
        ->group(group);
    command.add_option("--device", o.device, "auto (default): OpenCL on a GPU or accelerator; "
                                             "cpu: no OpenCL; opencl: any OpenCL device, a CPU "
                                             "runtime such as POCL too")
        ->check(CLI::IsMember({"auto", "cpu", "opencl"}))
        ->group(group);
    command.add_option("--memory-budget", o.memoryBudget,
                       "working memory a frame may take before it is computed in pieces (bands of "
                       "rows, tiles of columns; the same image, without the stage cache), e.g. 300M or 2G; default a "
                       "thirty-second of the physical memory, at least 768M")
        ->check(byteSize())
        ->group(group);
}

void declareOutput(CLI::App& command, RenderArguments& a) {
    RenderOptions& o = a.options;
    const std::string group = "Output";
    command.add_option("-o,--output", o.outputPath,
                       "by extension: .png (straight alpha; 16-bit when --depth is 16 or 32), "
                       ".tif/.tiff (straight 8 or 16-bit; float, linear and premultiplied at "
                       "--depth 32), .exr (scene-linear, premultiplied), .jpg/.jpeg (over "
                       "--background or black, alpha dropped), .dpx (straight 8 or 16-bit); "
                       "out.####.png or out_%04d.png for several frames")
        ->type_name("FILE")
        ->required()
        ->group(group);
    command.add_option("--output-colorspace", o.outputColourSpace,
                       "the output's colour space (default linear for .exr and float .tif, "
                       "which are tagged with it, sRGB for the rest)")
        ->type_name("NAME")
        ->group(group);
    command.add_option("--exr-type", a.exrType, "OpenEXR channels")
        ->check(CLI::IsMember({"half", "float"}))
        ->capture_default_str()
        ->group(group);
    command
        .add_option("--exr-compression", o.exrCompression,
                    "none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab")
        ->check(CLI::Validator(
            [](std::string& name) {
                return knownExrCompression(name) ? std::string()
                                                 : "\"" + name + "\" is not an OpenEXR compression";
            },
            "", "exr compression"))
        ->capture_default_str()
        ->group(group);
    command.add_option("--background", a.background, "flatten onto a colour")
        ->type_name("#RRGGBB")
        ->group(group);
    command.add_option("--png-level", o.pngLevel, "PNG compression, 0 (none) to 9 (smallest); 1 "
                                                  "writes a 1080p frame several times faster "
                                                  "than 9")
        ->check(wholeNumber())
        ->check(CLI::Range(0, 9))
        ->capture_default_str()
        ->group(group);
    command.add_option("--dump-stages", o.dumpStagesDir, "the last frame's intermediate planes")
        ->type_name("DIR")
        ->group(group);
    command.add_flag("--full-output", o.fullOutput,
                     "keep the effect's whole (expanded) output instead of the layer's frame")
        ->group(group);
}

void declareAnimation(CLI::App& command, RenderArguments& a) {
    const std::string group = "Animation";
    command.add_option("--frames", a.frames, "frames on the timeline of a text or still layer")
        ->check(wholeNumber())
        ->type_name("N")
        ->check(CLI::Range(std::int64_t{1}, kMaxFrames))
        ->group(group);
    command.add_option("--key", a.keys, "a keyframe at a timeline frame; values are linear "
                                        "between keys (repeatable)")
        ->type_name("LABEL@FRAME=VALUE")
        ->group(group);
    command.add_option("--range", a.range, "the frames to render: A-B, A-BxN (every Nth), N, or "
                                           "a comma list of those")
        ->type_name("FRAMES")
        ->group(group);
    command.add_option("--jobs", a.options.jobs, "frames rendered at once, each on its own thread "
                                                 "and effect instance")
        ->check(wholeNumber())
        ->check(CLI::Range(std::int64_t{1}, kMaxJobs))
        ->capture_default_str()
        ->group(group);
    command.add_flag("-q,--quiet", a.options.quiet, "no progress or log lines");
}

ParamValue checkedValue(const char* option, const ParamSpec& spec, const std::string& text) {
    ParamValue value;
    std::string error;
    if (!parseParamValue(spec, text, value, error)) throw UsageError(option + (": " + error));
    return value;
}

const ParamSpec& paramByLabel(const char* option, const std::string& label) {
    const ParamSpec* spec = findParamByLabel(label);
    if (!spec) throw UsageError(option + (": no parameter is labelled \"" + label + "\""));
    return *spec;
}

void checkEffectArguments(RenderArguments& a) {
    RenderOptions& o = a.options;
    if (!a.preset.empty()) o.preset = checkedValue("--preset", paramSpec(PARAM_PRESET), a.preset).choice;
    for (const std::string& text : a.sets) {
        std::string label, valueText;
        if (!splitAssignment(text, label, valueText))
            throw UsageError("--set: \"" + text + "\" is not LABEL=VALUE");
        const ParamSpec& spec = paramByLabel("--set", label);
        o.settings.push_back({spec.id, checkedValue("--set", spec, valueText)});
        if (spec.id == PARAM_PRESET)
            warn("--set \"" + text + "\" stores the popup without applying the preset's values; "
                 "--preset applies them");
    }
    for (const std::string& text : a.keys) {
        std::string left, valueText;
        const std::size_t at = text.find('@');
        if (!splitAssignment(text, left, valueText) || at == std::string::npos ||
            at > text.find('='))
            throw UsageError("--key: \"" + text + "\" is not LABEL@FRAME=VALUE");
        const ParamSpec& spec = paramByLabel("--key", trim(left.substr(0, left.find('@'))));
        std::int64_t frame = 0;
        if (!parseInt(trim(left.substr(left.find('@') + 1)), frame) || frame < 0 ||
            frame >= kMaxFrames)
            throw UsageError("--key: \"" + text + "\": the frame must be a whole number from 0 to " +
                             std::to_string(kMaxFrames - 1));
        if (spec.id == PARAM_PRESET) {
            warn("--key \"" + text + "\" does nothing: a preset is applied once, as a user's "
                 "choice (use --preset)");
            continue;
        }
        o.keys.push_back({spec.id, static_cast<std::int32_t>(frame),
                          checkedValue("--key", spec, valueText)});
    }
    const bool customMapChosen = std::any_of(o.settings.begin(), o.settings.end(), [](const auto& s) {
        return s.id == PARAM_HDRI_MAP && s.value.choice == kCustomMap;
    });
    if (customMapChosen && o.customMapPath.empty())
        warn("Custom Map is chosen without --custom-map: the effect has no map layer and renders "
             "with its fallback");
}

void checkLayerArguments(const CLI::App& command, RenderArguments& a) {
    RenderOptions& o = a.options;
    if (o.inputPath.empty() == !o.text.has_value())
        throw UsageError(o.text ? "give either an input image or --text, not both"
                                : "no input: give an input image or --text TEXT");
    if (!a.textColor.empty() && !parseColor(a.textColor, o.textColor))
        throw UsageError("--text-color: \"" + a.textColor + "\" is not a colour #RRGGBB");
    if (!a.size.empty()) {
        const std::size_t x = lower(a.size).find('x');
        std::int64_t w = 0, h = 0;
        if (x == std::string::npos || !parseInt(a.size.substr(0, x), w) ||
            !parseInt(a.size.substr(x + 1), h) || w < 1 || h < 1 || w > 16384 || h > 16384)
            throw UsageError("--size: \"" + a.size + "\" is not WxH (1..16384 each)");
        o.width = static_cast<std::int32_t>(w);
        o.height = static_cast<std::int32_t>(h);
    }
    if (!o.text) {
        for (const char* option : {"--size", "--font", "--font-size", "--text-color"}) {
            if (command.count(option) > 0)
                warn(std::string(option) + " does nothing with an image input (it shapes --text)");
        }
    } else if (command.count("--input-colorspace") > 0) {
        warn("--input-colorspace does nothing with --text: a text layer is made in sRGB");
    }
    if (o.customMapPath.empty() && command.count("--custom-map-colorspace") > 0)
        warn("--custom-map-colorspace does nothing without --custom-map");
    if (!a.background.empty()) {
        std::array<float, 3> rgb{};
        if (!parseColor(a.background, rgb.data()))
            throw UsageError("--background: \"" + a.background + "\" is not a colour #RRGGBB");
        o.background = rgb;
    }
}

// The timeline and the frames to render: an input sequence's frame numbers, or --first-frame and
// --frames for a text or still layer; --range picks from them.
void checkFrameArguments(RenderArguments& a) {
    RenderOptions& o = a.options;
    o.inputSequence = !o.inputPath.empty() && hasFramePattern(o.inputPath);
    std::vector<std::int32_t> available;
    if (o.inputSequence) {
        available = findSequenceFrames(o.inputPath);
        if (available.empty())
            throw std::runtime_error(o.inputPath + ": no file of this sequence exists");
        if (a.frames) warn("--frames does nothing with an input sequence: its files are the frames");
        if (a.firstFrame)
            warn("--first-frame does nothing with an input sequence: its files are numbered");
        o.firstFrame = available.front();
        o.frames = available.back() - available.front() + 1;
    } else {
        o.firstFrame = static_cast<std::int32_t>(a.firstFrame.value_or(0));
        o.frames = static_cast<std::int32_t>(a.frames.value_or(1));
        if (std::int64_t{o.firstFrame} + o.frames > kMaxFrames)
            throw UsageError("--first-frame and --frames: the timeline ends beyond frame " +
                             std::to_string(kMaxFrames - 1));
        for (std::int32_t f = 0; f < o.frames; ++f) available.push_back(o.firstFrame + f);
    }
    const std::int32_t lastFrame = o.firstFrame + o.frames - 1;
    if (a.range.empty()) {
        o.renderFrames = available;
    } else {
        if (!parseFrameList(a.range, o.renderFrames))
            throw UsageError("--range: \"" + a.range + "\" is not A-B, A-BxN, N or a comma list");
        for (std::int32_t frame : o.renderFrames) {
            if (frame < o.firstFrame || frame > lastFrame)
                throw UsageError("--range: frame " + std::to_string(frame) + " is outside the "
                                 "timeline " + std::to_string(o.firstFrame) + "-" +
                                 std::to_string(lastFrame));
            if (o.inputSequence &&
                !std::binary_search(available.begin(), available.end(), frame))
                throw std::runtime_error("frame " + std::to_string(frame) + " of " + o.inputPath +
                                         " is missing: " + expandFramePattern(o.inputPath, frame));
        }
    }
    for (ParamKey& key : o.keys) {
        if (key.frame < o.firstFrame || key.frame > lastFrame)
            warn("--key at frame " + std::to_string(key.frame) + " lies outside the timeline " +
                 std::to_string(o.firstFrame) + "-" + std::to_string(lastFrame) +
                 ": only its slope towards the nearest key shows");
        key.frame -= o.firstFrame;  // the host's time counts from the timeline's start
    }
}

void checkOutputArguments(const CLI::App& command, const RenderArguments& a, RenderOptions& o) {
    const std::optional<FileFormat> format = outputFormat(o.outputPath);
    if (!format) {
        const std::size_t dot = o.outputPath.rfind('.');
        throw UsageError("-o: \"" + o.outputPath + "\": " +
                         (dot == std::string::npos ? std::string("no extension")
                                                   : "unknown extension \"" +
                                                         o.outputPath.substr(dot) + "\"") +
                         " (lumet writes " + kOutputExtensions + ")");
    }
    o.depthGiven = command.count("--depth") > 0;
    if (*format == FileFormat::Exr && !o.depthGiven) o.depth = 32;
    o.exrFloat = a.exrType == "float";
    if (*format != FileFormat::Png && command.count("--png-level") > 0)
        warn("--png-level does nothing for " + o.outputPath + ": it is not a PNG");
    if (*format != FileFormat::Exr &&
        (command.count("--exr-type") > 0 || command.count("--exr-compression") > 0))
        warn("--exr-type and --exr-compression do nothing for " + o.outputPath);
    if (*format == FileFormat::Jpeg && !o.background)
        warn("JPEG has no alpha: the frames are laid over black and their alpha is dropped "
             "(--background chooses the colour)");
    for (const auto& [option, name] :
         {std::pair<const char*, const std::string&>{"--input-colorspace", o.inputColourSpace},
          {"--custom-map-colorspace", o.customMapColourSpace},
          {"--output-colorspace", o.outputColourSpace}}) {
        std::string error;
        if (!name.empty() && !checkColourSpace(name, error))
            throw UsageError(std::string(option) + ": " + error);
    }
    const FramePattern pattern = parseFramePattern(o.outputPath);
    if (pattern.found && pattern.width > kMaxFrameFieldWidth)
        throw UsageError("-o: \"" + o.outputPath + "\": the frame field is wider than " +
                         std::to_string(kMaxFrameFieldWidth) + " digits");
    if (o.renderFrames.size() > 1 && !pattern.found)
        throw UsageError("-o: \"" + o.outputPath +
                         "\" needs a frame pattern such as out.####.png to hold several frames");
    if (o.host == "ofx" && o.protocol == "plain")
        throw UsageError("--protocol plain is the effect host's: it cannot be combined with "
                         "--host ofx");
    if (o.jobs > 1 && !o.dumpStagesDir.empty())
        throw UsageError("--dump-stages records one frame: it cannot be combined with --jobs");
}

}  // namespace

void declareRenderOptions(CLI::App& command, std::function<void(RenderOptions)> use) {
    command.description("Renders a layer with the Lumet effect through the plug-in binary and the "
                        "reference host.");
    auto arguments = std::make_shared<RenderArguments>();
    arguments->options.fontPath = kDefaultFontPath;
    declareInput(command, *arguments);
    declareEffect(command, *arguments);
    declareOutput(command, *arguments);
    declareAnimation(command, *arguments);
    command.footer("Exit status: 0 success, 1 a failed render or file, 2 a usage error.");
    command.final_callback([&command, arguments, use] {
        RenderArguments& a = *arguments;
        checkLayerArguments(command, a);
        checkEffectArguments(a);
        checkFrameArguments(a);
        checkOutputArguments(command, a, a.options);
        use(a.options);
    });
}

RenderOptions parseRenderOptions(const std::vector<std::string>& args) {
    CLI::App command("render", "render");
    RenderOptions parsed;
    declareRenderOptions(command, [&](RenderOptions options) { parsed = std::move(options); });
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        command.parse(reversed);
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    return parsed;
}

}  // namespace lumet::cli
