// libFuzzer target: the options of `lumet render`. The input is split at zero bytes into the
// arguments after "render"; parsing must either give options that hold together or refuse with a
// usage error (or a runtime error for an input sequence without files), never crash or throw
// anything else.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "render_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    try {
        const lumet::cli::RenderOptions options = lumet::cli::parseRenderOptions(args);
        const std::int64_t last = std::int64_t{options.firstFrame} + options.frames - 1;
        if (options.width < 1 || options.height < 1 || options.frames < 1 || options.jobs < 1 ||
            options.renderFrames.empty() || options.renderFrames.front() < options.firstFrame ||
            options.renderFrames.back() > last)
            std::abort();
    } catch (const std::runtime_error&) {  // UsageError among them
    }
    return 0;
}
