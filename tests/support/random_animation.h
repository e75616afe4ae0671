// Random short animations for the sequence-versus-alone tests: a seeded generator picks which
// parameters to key and how each moves from frame to frame (held, nudged by less than a
// thousandth of its range, or jumping), animates the layer's fill colour and position and the
// map (built-in or a custom layer), and chooses per frame the protocol, the quality and the bit
// depth. The description of an animation says how to reproduce a failure.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "params/param_ids.h"
#include "support/sequence_render.h"

namespace lumet::test {

struct KeyedParam {
    int index;
    const char* label;
    double low, high;
    bool whole;  // popups and checkboxes take whole values
};

// The parameters an animation may key, with the ranges the generator draws from (glow radius
// and bevel depth kept small enough for fast frames).
inline const std::vector<KeyedParam>& keyableParams() {
    static const std::vector<KeyedParam> params = {
        {PARAM_EDGE_PROFILE, "Edge Profile", 1, 5, true},
        {PARAM_BEVEL_DEPTH, "Bevel Depth", 0, 300, false},
        {PARAM_BEVEL_SOFTNESS, "Bevel Softness", 0, 100, false},
        {PARAM_SMART_EDGE, "Smart Edge", 0, 1, true},
        {PARAM_EDGE_STRENGTH, "Edge Strength", 0, 100, false},
        {PARAM_HDRI_MAP, "HDRI Map", 1, 10, true},
        {PARAM_BLUR, "Blur", 0, 100, false},
        {PARAM_SCALE, "Scale", 1, 200, false},
        {PARAM_EXPOSURE, "Exposure", 0, 200, false},
        {PARAM_CONTRAST, "Contrast", 0, 100, false},
        {PARAM_DISPLACEMENT, "Displacement", 0, 100, false},
        {PARAM_ROTATION_X, "Rotation X", -300, 300, false},
        {PARAM_ROTATION_Y, "Rotation Y", -300, 300, false},
        {PARAM_METAL, "Metal", 0, 100, false},
        {PARAM_TRANSPARENCY, "Transparency", 0, 100, false},
        {PARAM_DISPERSION, "Dispersion", 0, 100, false},
        {PARAM_LIGHT_ANGLE, "Light Angle", 0, 360, false},
        {PARAM_LIGHT_HEIGHT, "Light Height", 10, 80, false},
        {PARAM_SPECULAR, "Specular", 0, 100, false},
        {PARAM_ROUGHNESS, "Roughness", 0, 100, false},
        {PARAM_ANISOTROPY, "Anisotropy", 0, 100, false},
        {PARAM_GLOW_INTENSITY, "Glow Intensity", 0, 3, false},
        {PARAM_GLOW_RADIUS, "Glow Radius", 0, 40, false},
        {PARAM_SATURATION, "Saturation", 0, 100, false},
        {PARAM_TINT_BLEND, "Tint Blend", 0, 100, false},
    };
    return params;
}

// One frame of an animation: every keyed value, the layer and the map layer, how it renders.
struct AnimationFrame {
    std::vector<double> values;  // in the order of RandomAnimation::keyed
    float fill[3] = {1, 1, 1};
    float shift = 0;      // horizontal shift of the layer's shape, pixels
    float stripe = 0.5f;  // height (0..1) of a darker stripe in the fill
    int mapSeed = 0;      // the custom map layer's pattern
    PF_Pixel midColor{255, 212, 168, 64};
    FrameConfig config;
};

struct RandomAnimation {
    std::uint32_t seed = 0;
    std::vector<int> keyed;  // indices into keyableParams()
    std::vector<AnimationFrame> frames;
    std::int32_t width = 48, height = 24;

    std::string describe() const {
        std::ostringstream out;
        out << "seed " << seed << ", " << width << " x " << height << "\n";
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const AnimationFrame& a = frames[f];
            out << "  frame " << f << ": "
                << (a.config.protocol == Protocol::kSmart ? "smart" : "plain") << ", "
                << (a.config.highQuality ? "high" : "low") << ", " << a.config.bits << " bpc, fill "
                << a.fill[0] << "/" << a.fill[1] << "/" << a.fill[2] << ", shift " << a.shift
                << ", stripe " << a.stripe << ", map " << a.mapSeed << ", midtone "
                << int(a.midColor.red) << "/" << int(a.midColor.green) << "/"
                << int(a.midColor.blue);
            for (std::size_t k = 0; k < keyed.size(); ++k)
                out << ", " << keyableParams()[keyed[k]].label << " " << a.values[k];
            out << "\n";
        }
        return out.str();
    }

    // Puts the host into frame f's state.
    FrameConfig apply(refhost::Host& host, int f) const {
        const AnimationFrame& a = frames[static_cast<std::size_t>(f)];
        std::vector<float> rgba =
            wordLayer(width, height, a.fill[0], a.fill[1], a.fill[2], a.shift);
        const float centre = a.stripe * height;
        for (std::int32_t y = 0; y < height; ++y) {
            if (std::fabs(y + 0.5f - centre) > 1.5f) continue;
            for (std::int32_t x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) rgba[(y * width + x) * 4 + c] *= 0.4f;
        }
        host.setLayer(PARAM_INPUT,
                      refhost::worldFromRgba(rgba.data(), width, height, a.config.bits, 12));
        // A small custom map: bands whose colours and widths follow the map seed.
        const std::int32_t mapW = 40, mapH = 20;
        std::vector<float> map(static_cast<std::size_t>(mapW) * mapH * 4);
        for (std::int32_t y = 0; y < mapH; ++y)
            for (std::int32_t x = 0; x < mapW; ++x) {
                float* p = &map[(static_cast<std::size_t>(y) * mapW + x) * 4];
                const int band = (x * (2 + a.mapSeed % 5) / mapW + y / 7 + a.mapSeed) % 3;
                p[0] = band == 0 ? 1.0f : 0.2f;
                p[1] = band == 1 ? 0.9f : 0.1f;
                p[2] = band == 2 ? 1.0f : 0.3f;
                p[3] = 1.0f;
            }
        host.setLayer(PARAM_CUSTOM_MAP, refhost::worldFromRgba(map.data(), mapW, mapH, 8));
        host.params().setColor(PARAM_MIDTONE_COLOR, a.midColor);
        for (std::size_t k = 0; k < keyed.size(); ++k)
            host.params().setValue(keyableParams()[keyed[k]].index, a.values[k]);
        return a.config;
    }
};

// An animation of `frameCount` frames. With `mixProtocols` a frame may switch protocol (a host
// uses one, but the two share the device's kept copies); otherwise the first frame's holds.
inline RandomAnimation randomAnimation(std::uint32_t seed, int frameCount, bool mixProtocols) {
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    auto chance = [&](double p) { return uniform(0, 1) < p; };
    auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };

    RandomAnimation a;
    a.seed = seed;
    const int keyedCount = 2 + pick(4);
    const int available = static_cast<int>(keyableParams().size());
    while (static_cast<int>(a.keyed.size()) < keyedCount) {
        const int k = pick(available);
        if (std::find(a.keyed.begin(), a.keyed.end(), k) == a.keyed.end()) a.keyed.push_back(k);
    }
    const bool keyFill = chance(0.4), keyShape = chance(0.3), keyStripe = chance(0.4);
    const bool keyMidtone = chance(0.3), keyMap = chance(0.5);
    const Protocol protocol = chance(0.5) ? Protocol::kSmart : Protocol::kPlain;
    const int bitChoices[3] = {8, 16, 32};

    AnimationFrame current;
    for (std::size_t k = 0; k < a.keyed.size(); ++k) {
        const KeyedParam& p = keyableParams()[a.keyed[k]];
        current.values.push_back(p.whole ? std::round(uniform(p.low, p.high))
                                         : uniform(p.low, p.high));
    }
    current.config = FrameConfig{protocol, chance(0.25), bitChoices[pick(3)]};
    for (int f = 0; f < frameCount; ++f) {
        if (f > 0) {
            for (std::size_t k = 0; k < a.keyed.size(); ++k) {
                const KeyedParam& p = keyableParams()[a.keyed[k]];
                double& v = current.values[k];
                const double roll = uniform(0, 1);
                if (roll < 0.3) continue;  // held
                if (p.whole) {
                    v = std::round(uniform(p.low, p.high));
                } else if (roll < 0.65) {
                    // A step below a thousandth of the range, up or down.
                    v += (chance(0.5) ? 1 : -1) * uniform(0.1, 0.9) * 0.001 * (p.high - p.low);
                } else {
                    v = uniform(p.low, p.high);
                }
            }
            if (keyFill && chance(0.7))
                for (float& c : current.fill) c = static_cast<float>(uniform(0.2, 1.0));
            if (keyShape && chance(0.5)) current.shift = static_cast<float>(uniform(-3, 3));
            if (keyStripe && chance(0.7)) current.stripe = static_cast<float>(uniform(0.2, 0.8));
            if (keyMidtone && chance(0.7))
                current.midColor =
                    PF_Pixel{255, static_cast<A_u_char>(pick(256)),
                             static_cast<A_u_char>(pick(256)), static_cast<A_u_char>(pick(256))};
            if (keyMap && chance(0.6)) current.mapSeed = pick(1000);
            if (chance(0.25)) current.config.highQuality = !current.config.highQuality;
            if (chance(0.25)) current.config.bits = bitChoices[pick(3)];
            if (mixProtocols && chance(0.3)) {
                current.config.protocol = current.config.protocol == Protocol::kSmart
                                              ? Protocol::kPlain
                                              : Protocol::kSmart;
            }
        }
        a.frames.push_back(current);
    }
    return a;
}

// The number an environment variable holds, or `fallback` when it is unset or not a number.
inline int environmentCount(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end && *end == '\0' && value > 0) ? static_cast<int>(value) : fallback;
}

}  // namespace lumet::test
