// Colour conversion (colour.h): one OpenImageIO colour configuration for the process, and one
// processor per pair of colour spaces, made once and shared by the threads writing frames.
#include "colour.h"

#include <OpenImageIO/color.h>

#include <algorithm>
#include <initializer_list>
#include <cctype>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace lumet::cli {

namespace {

std::mutex configMutex;

OIIO::ColorConfig& config() {
    static OIIO::ColorConfig instance;  // reads $OCIO when it is set
    return instance;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The configuration's spelling of a colour space name, or empty.
std::string findSpace(const std::string& name) {
    for (const std::string& space : config().getColorSpaceNames()) {
        if (sameName(space, name)) return space;
    }
    return {};
}

// The first of the names that the configuration has, as a colour space or a role.
std::string firstKnown(std::initializer_list<const char*> names) {
    std::lock_guard<std::mutex> lock(configMutex);
    for (const char* name : names) {
        const std::string space = findSpace(name);
        if (!space.empty()) return space;
        if (const char* byRole = config().getColorSpaceNameByRole(name)) return byRole;
    }
    return {};
}

}  // namespace

std::string workingColourSpace() {
    // OpenImageIO's built-in name, then those of common OpenColorIO configurations.
    static const std::string name = firstKnown(
        {"sRGB", "sRGB - Texture", "srgb_tx", "Utility - sRGB - Texture", "color_picking"});
    return name.empty() ? "sRGB" : name;
}

std::string linearColourSpace() {
    static const std::string name = firstKnown({"scene_linear", "linear", "Linear"});
    return name.empty() ? "linear" : name;
}

bool resolveColourSpace(const std::string& name, std::string& resolved, std::string& error) {
    std::lock_guard<std::mutex> lock(configMutex);
    resolved = findSpace(name);
    if (resolved.empty()) {
        if (const char* byRole = config().getColorSpaceNameByRole(name)) resolved = byRole;
    }
    if (!resolved.empty()) return true;
    std::string names;
    for (const std::string& space : config().getColorSpaceNames()) {
        names += (names.empty() ? "" : ", ") + space;
    }
    error = "\"" + name + "\" is not a colour space of " +
            (config().configname().empty() || config().configname() == "built-in"
                 ? std::string("OpenImageIO's built-in configuration")
                 : "the OpenColorIO configuration " + config().configname()) +
            " (" + names + ")";
    return false;
}

namespace {

// The processor from one colour space to another, made once (null when there is none).
OIIO::ColorProcessorHandle processorFor(const std::string& from, const std::string& to) {
    static std::map<std::pair<std::string, std::string>, OIIO::ColorProcessorHandle> made;
    std::lock_guard<std::mutex> lock(configMutex);
    auto [at, added] = made.try_emplace({from, to});
    if (added) {
        at->second = config().createColorProcessor(from, to);
        config().geterror();  // a failed pair is reported by convertColour
    }
    return at->second;
}

void apply(const OIIO::ColorProcessor& processor, float* rgba, std::size_t pixels) {
    if (processor.isNoOp()) return;
    // In bands, as the processor takes an image of int sizes.
    constexpr std::size_t kBand = 1 << 20;
    for (std::size_t start = 0; start < pixels; start += kBand) {
        const int count = static_cast<int>(std::min(kBand, pixels - start));
        processor.apply(rgba + start * 4, count, 1, 4, sizeof(float), 4 * sizeof(float),
                        static_cast<OIIO::stride_t>(count) * 4 * sizeof(float));
    }
}

}  // namespace

bool convertColour(float* rgba, std::size_t pixels, const std::string& from, const std::string& to,
                   std::string& error) {
    if (from == to) return true;
    if (const OIIO::ColorProcessorHandle direct = processorFor(from, to)) {
        apply(*direct, rgba, pixels);
        return true;
    }
    // OpenImageIO's built-in configuration converts each of its spaces to and from linear only.
    const std::string linear = linearColourSpace();
    const OIIO::ColorProcessorHandle in = processorFor(from, linear);
    const OIIO::ColorProcessorHandle out = processorFor(linear, to);
    if (from != linear && to != linear && in && out) {
        apply(*in, rgba, pixels);
        apply(*out, rgba, pixels);
        return true;
    }
    error = "cannot convert colour from \"" + from + "\" to \"" + to + "\"";
    return false;
}

}  // namespace lumet::cli
