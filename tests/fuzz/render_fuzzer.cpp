// libFuzzer target: one frame through the reference host and the effect's in-process entry
// points, everything the frame depends on drawn from the input: the layer (1 to 64 pixels a side,
// any coverage and colour), the bit depth (8, 16, 32), the protocol (smart or plain), the render
// quality, every parameter (sliders from in-range values to NaN, infinities, huge values and raw
// bit patterns; popups and checkboxes with any integer; angles with any fixed-point value; any
// colours) and a custom map layer of odd sizes. The effect's caches live on between inputs, as
// they do between a host's frames. The effect renders on the CPU (OpenCL stays off).
//
// A frame of any size is expanded by 500 to 1500 pixels a side when the bevel style or the glow
// asks for it, which makes an input a hundred to a thousand times slower under the sanitizers;
// most inputs therefore keep the bevel style and the glow intensity to values that need no margin
// (extreme values among them). One in sixteen takes what the input gives with a glow reach that
// keeps the margin at 500 (extreme values among them too), and one in eight of those any glow
// radius at all. Likewise every environment map blur prepares a 2048 x 1024 map again (a direct
// Gaussian), so the Blur slider keeps to small radii (blurValue), and a custom map layer
// (prepared anew for its pixels) comes with one input in eight.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "host/entry.h"
#include "params/param_ids.h"
#include "params/param_table.h"
#include "refhost/host.h"
#include "refhost/layers.h"
#include "refhost/render_host.h"

namespace {

refhost::Host* host = nullptr;
constexpr std::int32_t kDiamond = 9;  // HDRI Map choice

double extremeValue(FuzzedDataProvider& in, const lumet::ParamSpec& spec) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return inf;
        case 2:
            return -inf;
        case 3:
            return 3.5e38;
        case 4:
            return -3.5e38;
        case 5:
            return 1e10;
        case 6:
            return -1e10;
        case 7:
            return spec.validMin;
        case 8:
            return spec.validMax;
        case 9:
            return std::numeric_limits<double>::denorm_min();
        case 10: {  // any bit pattern
            const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
            double value;
            static_assert(sizeof value == sizeof bits);
            __builtin_memcpy(&value, &bits, sizeof value);
            return value;
        }
        default:
            return in.ConsumeFloatingPointInRange<double>(spec.validMin, spec.validMax);
    }
}

double sliderValue(FuzzedDataProvider& in, const lumet::ParamSpec& spec) {
    if (in.ConsumeBool()) return extremeValue(in, spec);
    return in.ConsumeFloatingPointInRange<double>(spec.validMin, spec.validMax);
}

// The Blur slider: 0 or 20 (prepared maps the compute cache keeps), else values whose blur
// radius stays below 10 pixels (NaN, which means the default, and values below the range among
// them): a blur of 100 % is a 100-pixel direct Gaussian over 2048 x 1024, a minute and more under
// the sanitizers, and its conversions are those of every other slider.
double blurValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 31)) {
        case 31:
            return std::numeric_limits<double>::quiet_NaN();
        case 30:
            return -std::numeric_limits<double>::infinity();
        case 29:
            return -3.5e38;
        case 28:
            return in.ConsumeFloatingPointInRange<double>(0.0, 30.0);
        default:
            return in.ConsumeBool() ? 20.0 : 0.0;
    }
}

std::int32_t anyChoice(FuzzedDataProvider& in, const lumet::ParamSpec& spec) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 7) return in.ConsumeIntegral<std::int32_t>();
    return in.ConsumeIntegralInRange<std::int32_t>(1, spec.choiceCount);
}

// A layer of width x height pixels, straight RGBA 0..1 drawn from the input (zeros once it runs
// out): either a filled rectangle with a soft edge or raw coverage bytes.
std::vector<float> layerPixels(FuzzedDataProvider& in, std::int32_t width, std::int32_t height) {
    std::vector<float> rgba(std::size_t(width) * height * 4, 0.0f);
    const float color[3] = {in.ConsumeIntegral<std::uint8_t>() / 255.0f,
                            in.ConsumeIntegral<std::uint8_t>() / 255.0f,
                            in.ConsumeIntegral<std::uint8_t>() / 255.0f};
    const bool raw = in.ConsumeBool();
    const std::int32_t x0 = in.ConsumeIntegralInRange<std::int32_t>(0, width - 1);
    const std::int32_t y0 = in.ConsumeIntegralInRange<std::int32_t>(0, height - 1);
    const std::int32_t x1 = in.ConsumeIntegralInRange<std::int32_t>(x0, width - 1);
    const std::int32_t y1 = in.ConsumeIntegralInRange<std::int32_t>(y0, height - 1);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            float a;
            if (raw) {
                a = in.ConsumeIntegral<std::uint8_t>() / 255.0f;
            } else {
                a = x >= x0 && x <= x1 && y >= y0 && y <= y1 ? 1.0f : 0.0f;
            }
            float* p = &rgba[(std::size_t(y) * width + x) * 4];
            for (int c = 0; c < 3; ++c) p[c] = color[c] * a;
            p[3] = a;
        }
    }
    return rgba;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LUMET_OPENCL", "off", 1);
    host =
        new refhost::Host(refhost::PluginEntryPoints{&lumet::effectMain, &lumet::pluginDataEntry});
    if (host->registerPlugin() != PF_Err_NONE || host->globalSetup() != PF_Err_NONE ||
        host->paramsSetup() != PF_Err_NONE) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Rare choices are the largest value of a draw: an input that has run out draws the smallest.
    FuzzedDataProvider in(data, size);
    const int bits = (8 << in.ConsumeIntegralInRange<int>(0, 2));
    const bool smart = in.ConsumeBool();
    const bool wide = in.ConsumeIntegralInRange<int>(0, 15) == 15;
    const bool farReach = wide && in.ConsumeIntegralInRange<int>(0, 7) == 7;
    refhost::FrameOptions options;
    options.bitsPerChannel = bits;
    // High quality doubles the working size; with a wide margin that is too slow to fuzz.
    options.highQuality = !wide && in.ConsumeBool();
    const std::int32_t width = in.ConsumeIntegralInRange<std::int32_t>(1, 64);
    const std::int32_t height = in.ConsumeIntegralInRange<std::int32_t>(1, 64);

    refhost::ParamsStore& params = host->params();
    for (const lumet::ParamSpec& spec : lumet::kParamTable) {
        switch (spec.kind) {
            case lumet::ParamKind::FloatSlider:
                if (spec.id == lumet::PARAM_BLUR) {
                    params.setValue(spec.id, blurValue(in));
                } else {
                    params.setValue(spec.id, sliderValue(in, spec));
                }
                break;
            case lumet::ParamKind::Popup:
                if (spec.id != lumet::PARAM_PRESET) {
                    std::int32_t choice = anyChoice(in, spec);
                    // The Diamond map's preparation blurs a whole map widely (most of a minute
                    // under the sanitizers, again on every plain frame that switches to it).
                    if (spec.id == lumet::PARAM_HDRI_MAP && choice == kDiamond &&
                        in.ConsumeIntegralInRange<int>(0, 15) != 15) {
                        choice = kDiamond - 1;
                    }
                    params.setValue(spec.id, choice);
                }
                break;
            case lumet::ParamKind::Checkbox:
                params.setValue(spec.id, in.ConsumeBool() ? 1.0 : 0.0);
                break;
            case lumet::ParamKind::Angle:  // any 16.16 value
                params.setValue(spec.id, in.ConsumeIntegral<std::int32_t>() / 65536.0);
                break;
            case lumet::ParamKind::Color:
                params.setColor(spec.id, PF_Pixel{255, in.ConsumeIntegral<std::uint8_t>(),
                                                  in.ConsumeIntegral<std::uint8_t>(),
                                                  in.ConsumeIntegral<std::uint8_t>()});
                break;
            default:
                break;
        }
    }
    if (!wide) {
        // Inner Bevel (or a choice that is not one, which means the default, Inner Bevel) and a
        // glow too faint to widen the frame.
        constexpr std::int32_t kNoMarginStyles[] = {1, 0, 6,
                                                    std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max()};
        params.setValue(lumet::PARAM_BEVEL_STYLE,
                        kNoMarginStyles[in.ConsumeIntegralInRange<int>(0, 4)]);
        constexpr double kFaintGlows[] = {0.0, 0.05, -1e10, -3.5e38,
                                          -std::numeric_limits<double>::infinity()};
        params.setValue(lumet::PARAM_GLOW_INTENSITY,
                        kFaintGlows[in.ConsumeIntegralInRange<int>(0, 4)]);
    }

    if (wide && !farReach) {
        // At most 240 pixels, 2 x 240 + 20 = 500: the glow's margin stays 500.
        const lumet::ParamSpec& radius = lumet::paramSpec(lumet::PARAM_GLOW_RADIUS);
        constexpr double kShortReaches[] = {std::numeric_limits<double>::quiet_NaN(), -1e10,
                                            -3.5e38, -std::numeric_limits<double>::infinity()};
        params.setValue(lumet::PARAM_GLOW_RADIUS,
                        in.ConsumeBool()
                            ? kShortReaches[in.ConsumeIntegralInRange<int>(0, 3)]
                            : in.ConsumeFloatingPointInRange<double>(radius.validMin, 240.0));
    }

    const bool customMap = in.ConsumeIntegralInRange<int>(0, 7) == 7;
    if (customMap) {
        params.setValue(lumet::PARAM_HDRI_MAP, 10);
        const std::int32_t mapWidth = in.ConsumeIntegralInRange<std::int32_t>(1, 67);
        const std::int32_t mapHeight = in.ConsumeIntegralInRange<std::int32_t>(1, 37);
        const std::vector<float> map = layerPixels(in, mapWidth, mapHeight);
        host->setLayer(lumet::PARAM_CUSTOM_MAP,
                       refhost::worldFromRgba(map.data(), mapWidth, mapHeight, bits));
    } else {
        host->removeLayer(lumet::PARAM_CUSTOM_MAP);
    }
    const std::vector<float> layer = layerPixels(in, width, height);
    host->setLayer(lumet::PARAM_INPUT, refhost::worldFromRgba(layer.data(), width, height, bits));

    refhost::RenderedFrame frame;
    if (smart) {
        refhost::renderSmartFrame(*host, options, frame);
    } else {
        refhost::renderPlainFrame(*host, options, frame);
    }
    return 0;
}
