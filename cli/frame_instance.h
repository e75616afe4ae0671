// An effect instance that a render job renders frames with, whichever host drives it: the
// effect host's protocols (refhost::Host) or an OpenFX host (refhost::ofxhost).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "image_io.h"
#include "refhost/ofx_host.h"
#include "render_options.h"

namespace lumet::cli {

class FrameInstance {
public:
    virtual ~FrameInstance() = default;
    // Renders `frame`: the host's whole output and where the layer lies in it. False with the
    // failure described.
    virtual bool render(std::int32_t frame, refhost::ofxhost::RenderedImage& image,
                        std::string& failure) = 0;
};

// The OpenFX bundle, loaded and described (inProcess: this program's own OpenFX entry, for
// --dump-stages). Throws std::runtime_error naming what failed.
std::unique_ptr<refhost::ofxhost::Plugin> openOfxPlugin(const CommandContext& context,
                                                        bool inProcess);

// An OpenFX instance with the frame's layers, the preset (as a user's choice), the settings and
// the keys: in the general context when a custom map is given (its Environment clip), else in
// the filter context. Throws std::runtime_error when the preset's edit fails.
std::unique_ptr<FrameInstance> makeOfxInstance(refhost::ofxhost::Plugin& plugin,
                                               const RenderOptions& options, const Image& layer,
                                               const Image& customMap);

}  // namespace lumet::cli
