// Parsing and checking of the `lumet render` options.
#include "render_options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "image_io.h"
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

bool hasFramePattern(const std::string& pattern) {
    const std::size_t percent = pattern.find('%');
    if (percent == std::string::npos) return false;
    std::size_t i = percent + 1;
    while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) ++i;
    return i < pattern.size() && pattern[i] == 'd';
}

std::string expandFramePattern(const std::string& pattern, std::int32_t frame) {
    const std::size_t percent = pattern.find('%');
    if (!hasFramePattern(pattern)) return pattern;
    std::size_t i = percent + 1;
    while (pattern[i] != 'd') ++i;
    const std::string spec = pattern.substr(percent, i - percent + 1);
    char number[64];
    std::snprintf(number, sizeof number, spec.c_str(), frame);
    return pattern.substr(0, percent) + number + pattern.substr(i + 1);
}

const char* const kRenderUsage =
    "Usage: lumet render [INPUT | --text TEXT] -o OUTPUT [options]\n"
    "\n"
    "Renders a layer with the Lumet effect through the plug-in binary and the reference host.\n"
    "\n"
    "Input:\n"
    "  INPUT                   any image OpenImageIO reads (PNG, TIFF, JPEG, OpenEXR, DPX,\n"
    "                          TGA, HDR, ...): grey, grey+alpha, RGB, RGBA, OpenEXR channels\n"
    "                          R, G, B, A (or Y) by name; no alpha = opaque\n"
    "  --input-colorspace NAME the layer's colour space (default: what the file says, else\n"
    "                          linear for float data such as OpenEXR, sRGB for the rest);\n"
    "                          OpenColorIO names from $OCIO, else sRGB, linear, Rec709\n"
    "  --text TEXT             a text layer instead (one line, centred)\n"
    "  --font FILE             font for --text (default DejaVu Sans Bold; on Windows the\n"
    "                          copy beside lumet.exe, else Arial Bold)\n"
    "  --font-size PX          pixels per em (default: text fills 60% of the width)\n"
    "  --text-color #RRGGBB    text colour (default #FFFFFF)\n"
    "  --size WxH              text canvas (default 1920x1080)\n"
    "\n"
    "Effect:\n"
    "  --preset NAME           Gold, Silver, Rose Gold, Bronze, Copper, Platinum,\n"
    "                          Brushed Steel, Black Chrome, Diamond (as a user's choice)\n"
    "  --set \"LABEL=VALUE\"     any parameter by label, e.g. \"Glow Radius=120\",\n"
    "                          \"Edge Profile=Round\", \"Light Angle=90\", \"Smart "
    "Edge=off\",\n"
    "                          \"Midtone Color=#D4A840\" (repeatable)\n"
    "  --custom-map IMAGE      use IMAGE (any format, as INPUT) as the environment map\n"
    "                          (selects Custom Map); an HDR map keeps values above 1\n"
    "  --custom-map-colorspace NAME  the custom map's colour space (as --input-colorspace)\n"
    "  --quality high|low      render quality (default high: 2x supersampling)\n"
    "  --downsample N          render the host's preview at 1/N resolution, N = 1..8 (default 1)\n"
    "  --depth 8|16|32         bits per channel of the host's worlds (default 8; 32 for\n"
    "                          .exr output)\n"
    "  --protocol smart|plain  host protocol (default smart)\n"
    "  --host ae|ofx           ae (default): the plug-in library on the effect host's\n"
    "                          protocols; ofx: the OpenFX bundle (Lumet.ofx.bundle) in an\n"
    "                          OpenFX host, low quality as a draft render\n"
    "  --device auto|cpu       auto (default): OpenCL when a device starts, named by\n"
    "                          \"Lumet GPU: OpenCL ready on DEVICE\" on standard error;\n"
    "                          cpu: no OpenCL at all (sets LUMET_OPENCL=off)\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE       by extension: .png (straight alpha; 16-bit when --depth is 16\n"
    "                          or 32), .tif/.tiff (straight 8 or 16-bit; float, linear and\n"
    "                          premultiplied at --depth 32), .exr (scene-linear,\n"
    "                          premultiplied), .jpg/.jpeg (over --background or black, alpha\n"
    "                          dropped), .dpx (straight 8 or 16-bit); a pattern such as\n"
    "                          out_%04d.png for animations\n"
    "  --output-colorspace NAME  the output's colour space (default linear for .exr and float\n"
    "                          .tif, which are tagged with it, sRGB for the rest)\n"
    "  --exr-type half|float   OpenEXR channels (default half)\n"
    "  --exr-compression C     none, rle, zips, zip (default), piz, pxr24, b44, b44a, dwaa,\n"
    "                          dwab\n"
    "  --background #RRGGBB    flatten onto a colour instead of keeping alpha\n"
    "  --png-level N           PNG compression, 0 (none) to 9 (smallest files); default 1,\n"
    "                          which writes a 1080p frame several times faster than 9\n"
    "  --dump-stages DIR       write the last frame's intermediate planes into DIR\n"
    "\n"
    "Animation:\n"
    "  --frames N              render N frames (0 .. N-1)\n"
    "  --key \"LABEL@FRAME=VALUE\" keyframe; values are linear between keys (repeatable)\n"
    "  --range A-B             render only frames A..B (for render farms)\n"
    "  --jobs N                render N frames at once (1 to 64, default 1), each on its own\n"
    "                          thread and effect instance, as a host renders several frames\n"
    "\n"
    "  --full-output           keep the effect's whole (expanded) output instead of the\n"
    "                          input's frame; an .exr keeps the input's frame as its display\n"
    "                          window, the margin as overscan in its data window\n"
    "  -q, --quiet             no progress line\n"
    "  -h, --help              this help\n"
    "\n"
    "Exit status: 0 success, 1 render failure or unreadable/unwritable file, 2 usage error.\n";

RenderOptions parseRenderOptions(const std::vector<std::string>& args) {
    RenderOptions options;
    std::string error;
    const int argc = static_cast<int>(args.size());
    options.fontPath = kDefaultFontPath;
    bool rangeGiven = false;
    std::int64_t rangeA = 0, rangeB = 0;
    std::vector<std::string> setTexts, keyTexts;
    std::string presetText;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = args[static_cast<std::size_t>(i)];
        auto next = [&](std::string& value) {
            if (i + 1 >= argc) {
                error = arg + ": missing value";
                return false;
            }
            value = args[static_cast<std::size_t>(++i)];
            return true;
        };
        std::string value;
        if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--text") {
            if (!next(value)) throw UsageError(error);
            options.text = value;
        } else if (arg == "--font") {
            if (!next(value)) throw UsageError(error);
            options.fontPath = value;
        } else if (arg == "--font-size") {
            double size = 0;
            if (!next(value)) throw UsageError(error);
            if (!parseDouble(value, size) || size <= 0 || size > 100000) {
                error = "--font-size: \"" + value + "\" is not a positive size in pixels";
                throw UsageError(error);
            }
            options.fontSize = static_cast<float>(size);
        } else if (arg == "--text-color") {
            if (!next(value)) throw UsageError(error);
            if (!parseColor(value, options.textColor)) {
                error = "--text-color: \"" + value + "\" is not a colour #RRGGBB";
                throw UsageError(error);
            }
        } else if (arg == "--size") {
            if (!next(value)) throw UsageError(error);
            const std::size_t x = lower(value).find('x');
            std::int64_t w = 0, h = 0;
            if (x == std::string::npos || !parseInt(value.substr(0, x), w) ||
                !parseInt(value.substr(x + 1), h) || w < 1 || h < 1 || w > 16384 || h > 16384) {
                error = "--size: \"" + value + "\" is not WxH (1..16384 each)";
                throw UsageError(error);
            }
            options.width = static_cast<std::int32_t>(w);
            options.height = static_cast<std::int32_t>(h);
        } else if (arg == "--preset") {
            if (!next(presetText)) throw UsageError(error);
        } else if (arg == "--set") {
            if (!next(value)) throw UsageError(error);
            setTexts.push_back(value);
        } else if (arg == "--key") {
            if (!next(value)) throw UsageError(error);
            keyTexts.push_back(value);
        } else if (arg == "--custom-map") {
            if (!next(options.customMapPath)) throw UsageError(error);
        } else if (arg == "--quality") {
            if (!next(value)) throw UsageError(error);
            if (value != "high" && value != "low") {
                error = "--quality: \"" + value + "\" is not high or low";
                throw UsageError(error);
            }
            options.highQuality = value == "high";
        } else if (arg == "--downsample") {
            std::int64_t n = 0;
            if (!next(value)) throw UsageError(error);
            if (!parseInt(value, n) || n < 1 || n > 8) {
                error = "--downsample: \"" + value + "\" is not a factor 1..8";
                throw UsageError(error);
            }
            options.downsample = static_cast<int>(n);
        } else if (arg == "--depth") {
            if (!next(value)) throw UsageError(error);
            if (value != "8" && value != "16" && value != "32") {
                error = "--depth: \"" + value + "\" is not 8, 16 or 32";
                throw UsageError(error);
            }
            options.depth = std::atoi(value.c_str());
            options.depthGiven = true;
        } else if (arg == "--protocol") {
            if (!next(value)) throw UsageError(error);
            if (value != "smart" && value != "plain") {
                error = "--protocol: \"" + value + "\" is not smart or plain";
                throw UsageError(error);
            }
            options.smartProtocol = value == "smart";
        } else if (arg == "--host") {
            if (!next(value)) throw UsageError(error);
            if (value != "ae" && value != "ofx") {
                error = "--host: \"" + value + "\" is not ae or ofx";
                throw UsageError(error);
            }
            options.ofxHost = value == "ofx";
        } else if (arg == "--device") {
            if (!next(value)) throw UsageError(error);
            if (value != "auto" && value != "cpu") {
                error = "--device: \"" + value + "\" is not auto or cpu";
                throw UsageError(error);
            }
            options.cpuOnly = value == "cpu";
        } else if (arg == "-o" || arg == "--output") {
            if (!next(options.outputPath)) throw UsageError(error);
        } else if (arg == "--background") {
            if (!next(value)) throw UsageError(error);
            std::array<float, 3> rgb{};
            if (!parseColor(value, rgb.data())) {
                error = "--background: \"" + value + "\" is not a colour #RRGGBB";
                throw UsageError(error);
            }
            options.background = rgb;
        } else if (arg == "--png-level") {
            if (!next(value)) throw UsageError(error);
            std::int64_t n = 0;
            if (!parseInt(value, n) || n < 0 || n > 9) {
                error = "--png-level: \"" + value + "\" is not a compression level from 0 to 9";
                throw UsageError(error);
            }
            options.pngLevel = static_cast<int>(n);
        } else if (arg == "--jobs") {
            if (!next(value)) throw UsageError(error);
            std::int64_t n = 0;
            if (!parseInt(value, n) || n < 1 || n > kMaxJobs) {
                error = "--jobs: \"" + value + "\" is not a job count from 1 to " +
                        std::to_string(kMaxJobs);
                throw UsageError(error);
            }
            options.jobs = static_cast<int>(n);
        } else if (arg == "--frames") {
            if (!next(value)) throw UsageError(error);
            std::int64_t n = 0;
            if (!parseInt(value, n) || n < 1 || n > kMaxFrames) {
                error = "--frames: \"" + value + "\" is not a frame count from 1 to " +
                        std::to_string(kMaxFrames);
                throw UsageError(error);
            }
            options.frames = static_cast<std::int32_t>(n);
        } else if (arg == "--range") {
            if (!next(value)) throw UsageError(error);
            const std::size_t dash = value.find('-', 1);
            if (dash == std::string::npos || !parseInt(value.substr(0, dash), rangeA) ||
                !parseInt(value.substr(dash + 1), rangeB) || rangeA < 0 || rangeB < rangeA) {
                error = "--range: \"" + value + "\" is not A-B with 0 <= A <= B";
                throw UsageError(error);
            }
            rangeGiven = true;
        } else if (arg == "--dump-stages") {
            if (!next(options.dumpStagesDir)) throw UsageError(error);
        } else if (arg == "--full-output") {
            options.fullOutput = true;
        } else if (arg == "--input-colorspace") {
            if (!next(options.inputColourSpace)) throw UsageError(error);
        } else if (arg == "--custom-map-colorspace") {
            if (!next(options.customMapColourSpace)) throw UsageError(error);
        } else if (arg == "--output-colorspace") {
            if (!next(options.outputColourSpace)) throw UsageError(error);
        } else if (arg == "--exr-type") {
            if (!next(value)) throw UsageError(error);
            if (value != "half" && value != "float") {
                throw UsageError("--exr-type: \"" + value + "\" is not half or float");
            }
            options.exrFloat = value == "float";
        } else if (arg == "--exr-compression") {
            if (!next(options.exrCompression)) throw UsageError(error);
            if (!knownExrCompression(options.exrCompression)) {
                throw UsageError("--exr-compression: \"" + options.exrCompression +
                                 "\" is not none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa "
                                 "or dwab");
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = arg + ": unknown option (see lumet render --help)";
            throw UsageError(error);
        } else if (options.inputPath.empty()) {
            options.inputPath = arg;
        } else {
            error = arg + ": only one input image may be given";
            throw UsageError(error);
        }
    }

    if (options.inputPath.empty() == !options.text.has_value()) {
        error = options.text ? "give either an input image or --text, not both"
                             : "no input: give an input image or --text TEXT";
        throw UsageError(error);
    }
    if (options.outputPath.empty()) {
        error = std::string("no output: give -o FILE (") + kOutputExtensions + ")";
        throw UsageError(error);
    }
    const std::optional<FileFormat> format = outputFormat(options.outputPath);
    if (!format) {
        const std::size_t dot = options.outputPath.rfind('.');
        error = "-o: \"" + options.outputPath + "\": " +
                (dot == std::string::npos ? std::string("no extension")
                                          : "unknown extension \"" +
                                                options.outputPath.substr(dot) + "\"") +
                " (lumet writes " + kOutputExtensions + ")";
        throw UsageError(error);
    }
    if (*format == FileFormat::Exr && !options.depthGiven) options.depth = 32;
    if (!presetText.empty()) {
        ParamValue preset;
        if (!parseParamValue(paramSpec(PARAM_PRESET), presetText, preset, error)) {
            error = "--preset: " + error;
            throw UsageError(error);
        }
        options.preset = preset.choice;
    }
    for (const std::string& text : setTexts) {
        std::string label, valueText;
        if (!splitAssignment(text, label, valueText)) {
            error = "--set: \"" + text + "\" is not LABEL=VALUE";
            throw UsageError(error);
        }
        const ParamSpec* spec = findParamByLabel(label);
        if (!spec) {
            error = "--set: no parameter is labelled \"" + label + "\"";
            throw UsageError(error);
        }
        ParamSetting setting;
        setting.id = spec->id;
        if (!parseParamValue(*spec, valueText, setting.value, error)) {
            error = "--set: " + error;
            throw UsageError(error);
        }
        options.settings.push_back(setting);
    }
    for (const std::string& text : keyTexts) {
        std::string left, valueText;
        const std::size_t at = text.find('@');
        if (!splitAssignment(text, left, valueText) || at == std::string::npos ||
            at > text.find('=')) {
            error = "--key: \"" + text + "\" is not LABEL@FRAME=VALUE";
            throw UsageError(error);
        }
        const std::string label = trim(left.substr(0, left.find('@')));
        std::int64_t frame = 0;
        if (!parseInt(trim(left.substr(left.find('@') + 1)), frame) || frame < 0 ||
            frame >= kMaxFrames) {
            // A key beyond the rendered frames still shapes the values between, so only frames
            // no timeline can hold are refused (they would wrap in the host's 32-bit time).
            error = "--key: \"" + text + "\": the frame must be a whole number from 0 to " +
                    std::to_string(kMaxFrames - 1);
            throw UsageError(error);
        }
        const ParamSpec* spec = findParamByLabel(label);
        if (!spec) {
            error = "--key: no parameter is labelled \"" + label + "\"";
            throw UsageError(error);
        }
        ParamKey key;
        key.id = spec->id;
        key.frame = static_cast<std::int32_t>(frame);
        if (!parseParamValue(*spec, valueText, key.value, error)) {
            error = "--key: " + error;
            throw UsageError(error);
        }
        options.keys.push_back(key);
    }
    options.firstFrame = 0;
    options.lastFrame = options.frames - 1;
    if (rangeGiven) {
        if (rangeB >= options.frames) {
            error = "--range: " + std::to_string(rangeA) + "-" + std::to_string(rangeB) +
                    " goes beyond the last frame " + std::to_string(options.frames - 1) +
                    " (see --frames)";
            throw UsageError(error);
        }
        options.firstFrame = static_cast<std::int32_t>(rangeA);
        options.lastFrame = static_cast<std::int32_t>(rangeB);
    }
    if (hasFramePattern(options.outputPath)) {
        // printf would pad a frame into a name longer than any file system takes, or fail and
        // leave every frame the same name.
        const std::size_t percent = options.outputPath.find('%');
        std::size_t digitsEnd = percent + 1;
        while (options.outputPath[digitsEnd] != 'd') ++digitsEnd;
        std::string width = options.outputPath.substr(percent + 1, digitsEnd - percent - 1);
        width.erase(0, std::min(width.find_first_not_of('0'), width.size()));
        if (width.size() > 2 || (!width.empty() && std::stoi(width) > kMaxFrameFieldWidth)) {
            error = "-o: \"" + options.outputPath + "\": the frame field is wider than " +
                    std::to_string(kMaxFrameFieldWidth) + " digits";
            throw UsageError(error);
        }
    }
    const std::int32_t count = options.lastFrame - options.firstFrame + 1;
    if (options.ofxHost && !options.smartProtocol) {
        throw UsageError(
            "--protocol plain is the effect host's: it cannot be combined with "
            "--host ofx");
    }
    if (options.jobs > 1 && !options.dumpStagesDir.empty()) {
        throw UsageError("--dump-stages records one frame: it cannot be combined with --jobs");
    }
    if (count > 1 && !hasFramePattern(options.outputPath)) {
        error = "-o: \"" + options.outputPath +
                "\" needs a frame pattern such as out_%04d.png to hold several frames";
        throw UsageError(error);
    }
    return options;
}

}  // namespace lumet::cli
