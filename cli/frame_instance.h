// An effect instance that a render job renders frames with, whichever host drives it: the
// effect host's protocols (refhost::Host) or an OpenFX host (refhost::ofxhost).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "image_io.h"
#include "refhost/ofx_host.h"
#include "refhost/render_host.h"
#include "render_options.h"

namespace lumet::cli {

// A rendered frame as its host hands it back: the effect host's output world, or the OpenFX
// host's image.
struct RenderedOutput {
    refhost::RenderedFrame frame;
    refhost::ofxhost::RenderedImage image;
};

// The part of an output of W x H that is written: the layer's frame (the layer's corner at
// (inputX, inputY)), or all of it when `full`.
struct OutputCut {
    std::int32_t x0 = 0, y0 = 0, width = 0, height = 0;
    // The layer's frame relative to the cut's top-left corner (full: where the input's pixels lie
    // in the expanded output); 0 x 0 when the cut is the frame.
    std::int32_t frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
};
OutputCut outputCut(std::int32_t W, std::int32_t H, std::int32_t inputX, std::int32_t inputY,
                    std::int32_t layerWidth, std::int32_t layerHeight, bool full);

// The layer's size as a host hands it over at a preview factor (area-averaged blocks, the last
// one partial).
inline std::int32_t previewSize(std::int32_t size, int downsample) {
    return (size + downsample - 1) / downsample;
}

// Whether frames go to 8-bit PNGs as they come, in the effect's own colour, with no background
// to lay under them. Such a frame is taken from the host's output image straight to its PNG
// samples (Image::samples8).
bool straightToPng8(const RenderOptions& options);

class FrameInstance {
public:
    virtual ~FrameInstance() = default;
    // Hands the instance the layer of the next frames (each frame of an input sequence is its
    // own layer; the effect's caches follow its content).
    virtual void setLayer(const Image& layer) = 0;
    // Renders `frame` into `output`; false with the failure described.
    virtual bool render(std::int32_t frame, RenderedOutput& output, std::string& failure) = 0;
    // The output as the premultiplied image to write, cut as outputCut says; the output's buffers
    // go back to the host. Safe while the instance renders its next frame.
    virtual Image takeImage(RenderedOutput& output, std::int32_t layerWidth,
                            std::int32_t layerHeight, bool full) = 0;
};

// The OpenFX bundle, loaded and described (inProcess: this program's own OpenFX entry, for
// --dump-stages). Throws std::runtime_error naming what failed.
std::unique_ptr<refhost::ofxhost::Plugin> openOfxPlugin(const CommandContext& context,
                                                        bool inProcess);

// An OpenFX instance with the frame's layers, the preset (as a user's choice), the settings and
// the keys: in the general context when a custom map is given (its Environment clip), else in
// the filter context. Throws std::runtime_error when the preset's edit fails.
// `abort`, while set, makes the host's abort answer true (Ctrl-C).
std::unique_ptr<FrameInstance> makeOfxInstance(refhost::ofxhost::Plugin& plugin,
                                               const RenderOptions& options, const Image& layer,
                                               const Image& customMap,
                                               const std::atomic<bool>* abort);

}  // namespace lumet::cli
