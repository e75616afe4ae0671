// The frei0r filter: the C entry points a frei0r host (ffmpeg's frei0r filter, MLT) calls. Each
// instance keeps its values and its stage cache, so a host that changes one value between frames
// reruns only the stages that value feeds. Frames are RGBA8888 with straight colour and the
// layer's size; the effect works on premultiplied colour, so the layer is premultiplied into the
// instance's own buffer and the output is made straight as it goes into the host's frame.
// An outer bevel or a glow reaches past the layer, and the effect computes them on the layer grown
// by its margin (as its other hosts give it); the frame is then that canvas cut to the layer,
// as `lumet render` cuts it. f0r_update's time is not read: a host applies its keys by setting
// the values before the frame.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include "frei0r/frei0r_params.h"
#include "render/instance_render.h"

namespace {

using lumet::frei0r::InstanceValues;

struct Instance {
    Instance() { cacheLock.initialize(); }
    std::int32_t width = 0, height = 0;
    InstanceValues values;
    lumet::InstanceCache cache;
    lumet::platform::Lock cacheLock;
    std::vector<std::uint8_t> layer;   // the input frame, premultiplied
    std::vector<std::uint8_t> canvas;  // the output grown by the margin, when there is one
    bool failureReported = false;
};

// Premultiplied 8-bit colour of straight colour c at alpha a, rounded to nearest.
inline std::uint8_t premultiplied(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

// Straight colour of premultiplied colour c at alpha a, rounded to nearest (0 where a is 0).
inline std::uint8_t straight(unsigned c, unsigned a) {
    if (a == 255) return static_cast<std::uint8_t>(c);
    if (a == 0) return 0;
    const unsigned value = (c * 255 + a / 2) / a;
    return static_cast<std::uint8_t>(value > 255 ? 255 : value);
}

void premultiply(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
        const unsigned a = in[3];
        out[0] = premultiplied(in[0], a);
        out[1] = premultiplied(in[1], a);
        out[2] = premultiplied(in[2], a);
        out[3] = static_cast<std::uint8_t>(a);
    }
}

// The straight colour of the rendered rows into the host's frame (the same buffer or another).
void straighten(const lumet::ImageView& rendered, std::uint8_t* frame) {
    for (std::int32_t y = 0; y < rendered.height; ++y) {
        const std::uint8_t* from = rendered.pixel<std::uint8_t>(0, y);
        std::uint8_t* to = frame + static_cast<std::size_t>(y) * rendered.width * 4;
        for (std::int32_t x = 0; x < rendered.width; ++x, from += 4, to += 4) {
            const unsigned a = from[3];
            to[0] = straight(from[0], a);
            to[1] = straight(from[1], a);
            to[2] = straight(from[2], a);
            to[3] = static_cast<std::uint8_t>(a);
        }
    }
}

lumet::ImageView rgba8View(void* data, std::int32_t width, std::int32_t height) {
    lumet::ImageView view;
    view.data = data;
    view.rowBytes = std::int64_t{width} * 4;
    view.width = width;
    view.height = height;
    view.format = lumet::rgbaFormat(lumet::kDepth8);
    return view;
}

// Renders the frame; false when the effect could not (the caller then passes the input through).
bool render(Instance& instance, const std::uint32_t* inframe, std::uint32_t* outframe) {
    const std::size_t pixels = static_cast<std::size_t>(instance.width) * instance.height;
    instance.layer.resize(pixels * 4);
    premultiply(reinterpret_cast<const std::uint8_t*>(inframe), instance.layer.data(), pixels);

    lumet::FrameRequest request;
    lumet::settingsFromValues(instance.values.values, request.settings);
    const std::int32_t margin = request.settings.expansion;
    request.layer = rgba8View(instance.layer.data(), instance.width, instance.height);
    if (margin > 0) {
        const std::int32_t width = instance.width + 2 * margin;
        const std::int32_t height = instance.height + 2 * margin;
        instance.canvas.resize(static_cast<std::size_t>(width) * height * 4);
        request.output = rgba8View(instance.canvas.data(), width, height);
        request.layerX = request.layerY = margin;
    } else {
        instance.canvas = {};
        request.output = rgba8View(outframe, instance.width, instance.height);
    }
    request.highQuality = true;
    request.waitForCache = true;  // one thread per instance: the cache is never held elsewhere
    const lumet::Status status =
        lumet::renderInstanceFrame(instance.cache, instance.cacheLock, request);
    if (!status.ok()) return false;
    straighten(request.output.part(margin, margin, instance.width, instance.height),
               reinterpret_cast<std::uint8_t*>(outframe));
    return true;
}

}  // namespace

// The entry points are the library's only visible symbols (the rest is built hidden).
#pragma GCC visibility push(default)
extern "C" {

int f0r_init() { return 1; }

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = "Lumet";
    info->author = "Veltra";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = LUMET_VERSION_MAJOR;
    info->minor_version = LUMET_VERSION_MINOR;
    info->num_params = lumet::frei0r::parameterCount();
    info->explanation = "Bevelled metal and glass surfaces from the layer's alpha";
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    lumet::frei0r::parameterInfo(param_index, *info);
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0 || width > 65536 || height > 65536) return nullptr;
    try {
        auto* instance = new Instance;
        instance->width = static_cast<std::int32_t>(width);
        instance->height = static_cast<std::int32_t>(height);
        return instance;
    } catch (...) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) { delete static_cast<Instance*>(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    if (!instance) return;
    try {
        lumet::frei0r::setParameter(static_cast<Instance*>(instance)->values, param_index, param);
    } catch (...) {  // out of memory for a name: the value stays
    }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    if (!instance) return;
    try {
        lumet::frei0r::getParameter(static_cast<Instance*>(instance)->values, param_index, param);
    } catch (...) {
    }
}

void f0r_update(f0r_instance_t handle, double /*time*/, const uint32_t* inframe,
                uint32_t* outframe) {
    if (!handle || !inframe || !outframe) return;
    Instance& instance = *static_cast<Instance*>(handle);
    bool rendered = false;
    try {
        rendered = render(instance, inframe, outframe);
    } catch (...) {
    }
    if (rendered) return;
    // A frame the effect cannot make (out of memory) shows the input rather than garbage.
    std::copy(inframe, inframe + static_cast<std::size_t>(instance.width) * instance.height,
              outframe);
    if (!instance.failureReported) {
        std::fprintf(stderr, "lumet: a %dx%d frame could not be rendered; the input is shown\n",
                     instance.width, instance.height);
        instance.failureReported = true;
    }
}

}  // extern "C"
#pragma GCC visibility pop
