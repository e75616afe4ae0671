// libFuzzer target: the preparation of a custom map layer (any depth, channel order, size, row
// stride either way and pixel values, NaN and infinities among the floats) into the sharp planes
// of a small map. Every texel
// must be written and finite, as the reflection indexes with them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "envmap/env_map_sharp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int formatCode = in.ConsumeIntegralInRange<int>(0, 2);  // 8 bpc, 16 bpc, float
    const int pixelBytes = 4 << formatCode;
    const std::int32_t width = in.ConsumeIntegralInRange<std::int32_t>(1, 48);
    const std::int32_t height = in.ConsumeIntegralInRange<std::int32_t>(1, 48);
    const std::int32_t padding = in.ConsumeIntegralInRange<std::int32_t>(0, 3) * 4;
    const std::int32_t rowBytes = width * pixelBytes + padding;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rowBytes) * height);
    const std::vector<std::uint8_t> given = in.ConsumeBytes<std::uint8_t>(pixels.size());
    std::copy(given.begin(), given.end(), pixels.begin());

    const bool rgba = in.ConsumeBool(), bottomFirst = in.ConsumeBool();
    lumet::ImageView layer;
    layer.format = rgba ? lumet::rgbaFormat(formatCode) : lumet::argbFormat(formatCode);
    layer.width = width;
    layer.height = height;
    layer.rowBytes = bottomFirst ? -rowBytes : rowBytes;
    layer.data =
        pixels.data() + (bottomFirst ? static_cast<std::size_t>(rowBytes) * (height - 1) : 0);

    const std::int32_t envW = in.ConsumeIntegralInRange<std::int32_t>(1, 64);
    const std::int32_t envH = in.ConsumeIntegralInRange<std::int32_t>(1, 32);
    const std::size_t texels = static_cast<std::size_t>(envW) * envH;
    std::vector<float> r(texels, NAN), g(texels, NAN), b(texels, NAN);
    if (!lumet::loadLayerSharpPlanes(layer, r.data(), g.data(), b.data(), envW, envH)) return 0;
    for (const std::vector<float>* plane : {&r, &g, &b})
        for (float v : *plane)
            if (!std::isfinite(v)) std::abort();
    return 0;
}
