// FrameWindow: the rectangle of a frame that a render computes. Every plane of a windowed frame
// holds just this rectangle (row stride = width); the stages that depend on where a pixel lies in
// the frame (the reflection's projection, the dither, the layer's placement) add the corner back.
#pragma once
#include <algorithm>
#include <cstdint>

namespace lumet {

struct FrameWindow {
    std::int32_t x = 0, y = 0;                     // corner, in frame pixels
    std::int32_t width = 0, height = 0;            // size of the planes
    std::int32_t frameWidth = 0, frameHeight = 0;  // the whole frame

    static FrameWindow whole(std::int32_t frameWidth, std::int32_t frameHeight) {
        return {0, 0, frameWidth, frameHeight, frameWidth, frameHeight};
    }
    // The same rectangle at a supersampling factor (every coordinate times SS).
    FrameWindow scaled(std::int32_t SS) const {
        return {x * SS, y * SS, width * SS, height * SS, frameWidth * SS, frameHeight * SS};
    }
    // The rectangle grown by margin on every side, clipped to the frame.
    FrameWindow grown(std::int64_t margin) const {
        const std::int64_t x0 = std::max<std::int64_t>(0, x - margin);
        const std::int64_t y0 = std::max<std::int64_t>(0, y - margin);
        const std::int64_t x1 =
            std::min<std::int64_t>(frameWidth, std::int64_t{x} + width + margin);
        const std::int64_t y1 =
            std::min<std::int64_t>(frameHeight, std::int64_t{y} + height + margin);
        return {static_cast<std::int32_t>(x0),
                static_cast<std::int32_t>(y0),
                static_cast<std::int32_t>(x1 - x0),
                static_cast<std::int32_t>(y1 - y0),
                frameWidth,
                frameHeight};
    }
    std::int64_t pixels() const { return static_cast<std::int64_t>(width) * height; }
    bool contains(std::int32_t fx, std::int32_t fy) const {
        return fx >= x && fx - x < width && fy >= y && fy - y < height;
    }
    bool operator==(const FrameWindow&) const = default;
    bool isWhole() const {
        return x == 0 && y == 0 && width == frameWidth && height == frameHeight;
    }
};

}  // namespace lumet
