// The options of `lumet render`, parsed and checked before anything is rendered, and the values
// of parameters given by label on the command line.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "params/param_table.h"

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
    std::string inputPath;  // PNG layer, or empty with --text
    std::optional<std::string> text;
    std::string fontPath;
    float fontSize = 0.0f;
    float textColor[3] = {1.0f, 1.0f, 1.0f};
    std::int32_t width = 1920, height = 1080;
    std::optional<int> preset;  // 1..9
    std::vector<ParamSetting> settings;
    std::vector<ParamKey> keys;
    std::string customMapPath;
    bool highQuality = true;
    int downsample = 1;  // preview at 1 / downsample of the resolution (1 to 8)
    int depth = 8;
    bool smartProtocol = true;
    bool ofxHost = false;  // --host ofx: through the OpenFX bundle and the OpenFX test host
    bool cpuOnly = false;  // --device cpu: the effect starts no OpenCL runtime
    std::string outputPath;
    std::optional<std::array<float, 3>> background;
    std::int32_t frames = 1;
    std::int32_t firstFrame = 0, lastFrame = 0;  // inclusive range to render
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
};

// Parses the arguments after "render"; throws UsageError naming the bad option.
RenderOptions parseRenderOptions(const std::vector<std::string>& args);

// The parameter whose label matches (case-insensitively); null when none does.
const ParamSpec* findParamByLabel(const std::string& label);

// Converts text into a value for the parameter: popups by choice name or number, colours as
// #RRGGBB, angles in degrees, checkboxes on/off, sliders as numbers within the valid range.
bool parseParamValue(const ParamSpec& spec, const std::string& text, ParamValue& value,
                     std::string& error);

// Parses #RRGGBB into 0..1 floats.
bool parseColor(const std::string& text, float rgb[3]);

// Expands a frame number into an output pattern such as out_%04d.png (printf-style %d with
// optional zero padding and width); a name without a pattern is returned unchanged.
std::string expandFramePattern(const std::string& pattern, std::int32_t frame);
bool hasFramePattern(const std::string& pattern);

// The text of `lumet render --help`.
extern const char* const kRenderUsage;

}  // namespace lumet::cli
