// The benchmark scene of the geometry stages: a 3840 x 2160 working plane holding lines of
// text-like glyphs, two-coloured so the smart edge finds colour boundaries inside them.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "../tests/geometry/text_like_alpha.h"
#include "AE_Effect.h"
#include "params/render_settings.h"

namespace lumet::bench {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// Coverage of the working plane (or of a frame of any size), glyphs 240 pixels tall at full size.
inline const std::vector<std::uint8_t>& sceneAlpha(int width = kWidth) {
    static std::vector<std::uint8_t> full = lumet::testing::textLikeAlpha(kWidth, kHeight, 240);
    static std::vector<std::uint8_t> half =
        lumet::testing::textLikeAlpha(kWidth / 2, kHeight / 2, 120);
    return width == kWidth ? full : half;
}

// An 8-bit ARGB world holding the coverage as alpha, red on the left half of each glyph cell and
// gold on the right half.
struct SceneWorld {
    std::vector<std::uint8_t> pixels;
    PF_EffectWorld world{};
    SceneWorld(int width, int height) : pixels(static_cast<std::size_t>(width) * height * 4) {
        const std::vector<std::uint8_t>& alpha = sceneAlpha(width);
        const int cell = width == kWidth ? 192 : 96;
        for (std::size_t i = 0; i < alpha.size(); ++i) {
            const int x = static_cast<int>(i % width);
            const bool left = (x % cell) < cell / 2;
            std::uint8_t* p = &pixels[4 * i];
            p[0] = alpha[i];
            p[1] = left ? 200 : 230;
            p[2] = left ? 30 : 180;
            p[3] = left ? 40 : 40;
        }
        world.data = reinterpret_cast<PF_PixelPtr>(pixels.data());
        world.width = width;
        world.height = height;
        world.rowbytes = width * 4;
        world.world_flags = 0;
    }
};

inline RenderSettings sceneSettings(int style = 1, int profile = 1) {
    RenderSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.bevelStyle = style;
    settings.edgeProfile = profile;
    settings.bevelDepth = 1.0f;
    settings.bevelSoftness = 0.3f;
    settings.smartEdge = true;
    settings.edgeStrength = 0.6f;
    return settings;
}

}  // namespace lumet::bench
