// The options of `lumet render`, parsed and checked before anything is rendered, and the values
// of parameters given by label on the command line.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "params/param_table.h"

namespace CLI {
class App;
}

namespace lumet::cli {

// A parameter value as the command line spells it, converted for the parameter's kind.
struct ParamValue {
    double number = 0.0;      // float slider value, angle in degrees
    std::int32_t choice = 0;  // popup choice, 1-based
    bool on = false;          // checkbox
    std::uint8_t rgb[3] = {};
};

struct ParamSetting {
    int id = 0;  // parameter index
    ParamValue value;
};

struct ParamKey {
    int id = 0;
    std::int32_t frame = 0;
    ParamValue value;
};

// The zlib level PNGs are written at unless --png-level says otherwise: fast to write, a little
// larger than the smallest files.
constexpr int kFastPngLevel = 1;

struct RenderOptions {
    std::string inputPath;  // an image or an image sequence's pattern; empty with --text
    bool inputSequence = false;
    std::optional<std::string> text;
    std::string fontPath;
    float fontSize = 0.0f;
    float textColor[3] = {1.0f, 1.0f, 1.0f};
    std::int32_t width = 1920, height = 1080;
    std::optional<int> preset;  // 1..9
    std::vector<ParamSetting> settings;
    std::vector<ParamKey> keys;  // at the host's frame index (timeline frame - firstFrame)
    std::string customMapPath;
    std::string quality = "high";
    int downsample = 1;  // preview at 1 / downsample of the resolution (1 to 8)
    int depth = 8;
    std::string protocol = "smart";
    std::string host = "ae";  // ofx: through the OpenFX bundle and the OpenFX test host
    // --device: auto (a GPU or accelerator), cpu (no OpenCL) or opencl (any device); empty when
    // not given, which leaves LUMET_OPENCL as the environment has it.
    std::string device;
    // --memory-budget: the size above which a frame is computed in pieces; empty when not
    // given, which leaves LUMET_MEMORY_BUDGET as the environment has it.
    std::string memoryBudget;
    std::string outputPath;
    std::optional<std::array<float, 3>> background;
    // The timeline: frames firstFrame .. firstFrame + frames - 1, numbered as the input sequence's
    // files or from --first-frame; output files carry these numbers.
    std::int32_t firstFrame = 0, frames = 1;
    std::vector<std::int32_t> renderFrames;  // the timeline frames to render, ascending
    std::string dumpStagesDir;
    bool fullOutput = false;  // keep the whole expanded output instead of the input's frame
    bool quiet = false;
    int jobs = 1;  // frames rendered at once, each by its own effect instance
    int pngLevel = kFastPngLevel;  // zlib level of PNG output (0 none .. 9 smallest)
    // The colour and the formats of the files read and written (image_io.h). Colour space names
    // are OpenColorIO's ($OCIO) or OpenImageIO's built-in ones; empty: what the file says or its
    // format implies (scene-linear for OpenEXR and float data, sRGB for the rest).
    std::string inputColourSpace;      // --input-colorspace: of the layer
    std::string customMapColourSpace;  // --custom-map-colorspace
    std::string outputColourSpace;     // --output-colorspace
    bool depthGiven = false;           // --depth given; else an OpenEXR output renders at 32
    bool exrFloat = false;             // --exr-type float (default half)
    std::string exrCompression = "zip";  // --exr-compression

    bool highQuality() const { return quality == "high"; }
    bool smartProtocol() const { return protocol == "smart"; }
    bool ofxHost() const { return host == "ofx"; }
};

// Declares the options of `lumet render` on `command`, each once with its help, type and check;
// after a successful parse the options, checked together, go to `use`. A bad combination throws
// UsageError naming the option; a missing input sequence std::runtime_error.
void declareRenderOptions(CLI::App& command, std::function<void(RenderOptions)> use);

// Parses the arguments after "render" (tests and the fuzzer); throws UsageError.
RenderOptions parseRenderOptions(const std::vector<std::string>& args);

// The parameter whose label matches (case-insensitively); null when none does.
const ParamSpec* findParamByLabel(const std::string& label);

// Converts text into a value for the parameter: popups by choice name or number, colours as
// #RRGGBB, angles in degrees, checkboxes on/off, sliders as numbers within the valid range.
bool parseParamValue(const ParamSpec& spec, const std::string& text, ParamValue& value,
                     std::string& error);

// Parses #RRGGBB into 0..1 floats.
bool parseColor(const std::string& text, float rgb[3]);

// A frame-number field in a file name: printf's %d or %0Nd, or a run of N '#' or '@' (N digits,
// zero-padded; a longer number is written whole).
struct FramePattern {
    bool found = false;
    std::string prefix, suffix;
    int width = 1;
};
FramePattern parseFramePattern(const std::string& path);
bool hasFramePattern(const std::string& path);
// The name of `frame` in a pattern; a name without a pattern is returned unchanged.
std::string expandFramePattern(const std::string& path, std::int32_t frame);
// The frame numbers whose files exist for an input pattern, ascending.
std::vector<std::int32_t> findSequenceFrames(const std::string& path);
// Parses A-B, A-BxN, N and comma lists of them into ascending frame numbers; false when the
// text is none of those.
bool parseFrameList(const std::string& text, std::vector<std::int32_t>& frames);

}  // namespace lumet::cli
