// PlaneView: a plane that knows its size, a view of pixels the stage does not own; RgbPlanes and
// RgbaPlanes: the colour planes that travel together; SurfaceView: the geometry a surface is
// reflected and shaded from. A stage takes views plus the FrameWindow that places them in the
// frame; the views carry the sizes that were loose arguments before.
#pragma once
#include <cstdint>
#include <type_traits>

namespace lumet {

template <class T>
struct PlaneView {
    T* data = nullptr;
    std::int32_t width = 0, height = 0;
    std::int32_t channels = 1;  // values a pixel, interleaved (the normals have 3)
    std::int64_t stride = 0;    // values from one row to the next

    PlaneView() = default;
    // A plane of width x height pixels of `channels` values, rows back to back.
    PlaneView(T* pixels, std::int32_t w, std::int32_t h, std::int32_t valuesPerPixel = 1)
        : data(pixels),
          width(w),
          height(h),
          channels(valuesPerPixel),
          stride(static_cast<std::int64_t>(w) * valuesPerPixel) {}
    // The read-only view of a writable plane.
    template <class U>
        requires std::is_same_v<T, const U>
    PlaneView(const PlaneView<U>& other)
        : data(other.data),
          width(other.width),
          height(other.height),
          channels(other.channels),
          stride(other.stride) {}

    T* row(std::int32_t y) const { return data + y * stride; }
    // The first value of pixel (x, y).
    T* at(std::int32_t x, std::int32_t y) const { return row(y) + static_cast<std::int64_t>(x) * channels; }
    explicit operator bool() const { return data != nullptr; }
};

template <class T>
struct RgbPlanes {
    PlaneView<T> r, g, b;

    RgbPlanes() = default;
    RgbPlanes(PlaneView<T> red, PlaneView<T> green, PlaneView<T> blue) : r(red), g(green), b(blue) {}
    // Three planes of one size.
    RgbPlanes(T* red, T* green, T* blue, std::int32_t w, std::int32_t h)
        : r(red, w, h), g(green, w, h), b(blue, w, h) {}
    template <class U>
        requires std::is_same_v<T, const U>
    RgbPlanes(const RgbPlanes<U>& other) : r(other.r), g(other.g), b(other.b) {}

    bool complete() const { return r && g && b; }
};

template <class T>
struct RgbaPlanes {
    PlaneView<T> r, g, b, a;

    RgbaPlanes() = default;
    // Four planes of one size.
    RgbaPlanes(T* red, T* green, T* blue, T* alpha, std::int32_t w, std::int32_t h)
        : r(red, w, h), g(green, w, h), b(blue, w, h), a(alpha, w, h) {}
    template <class U>
        requires std::is_same_v<T, const U>
    RgbaPlanes(const RgbaPlanes<U>& other) : r(other.r), g(other.g), b(other.b), a(other.a) {}

    bool complete() const { return r && g && b && a; }
};

// The geometry at the working size: coverage (alpha bytes), heights and normals (nx, ny, nz
// interleaved), all of one size.
struct SurfaceView {
    PlaneView<const std::uint8_t> coverage;
    PlaneView<const float> height;
    PlaneView<const float> normals;

    SurfaceView() = default;
    SurfaceView(const std::uint8_t* alpha, const float* heights, const float* normalMap,
                std::int32_t w, std::int32_t h)
        : coverage(alpha, w, h), height(heights, w, h), normals(normalMap, w, h, 3) {}
    bool complete() const { return coverage && height && normals; }
};

}  // namespace lumet
