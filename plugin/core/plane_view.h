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
    requires std::is_same_v<T, const U> PlaneView(const PlaneView<U>& other)
        : data(other.data),
          width(other.width),
          height(other.height),
          channels(other.channels),
          stride(other.stride) {}

    T* row(std::int32_t y) const { return data + y * stride; }
    // The first value of pixel (x, y).
    T* at(std::int32_t x, std::int32_t y) const {
        return row(y) + static_cast<std::int64_t>(x) * channels;
    }
    explicit operator bool() const { return data != nullptr; }
    // Rows back to back (every stage's own planes are; the stages that index a plane as one run
    // of width x height pixels require it).
    bool contiguous() const { return stride == static_cast<std::int64_t>(width) * channels; }
};

// Whether every view has pixels, rows back to back and the first one's width and height (at
// least 1 x 1): what a stage that walks its planes as one run of pixels needs.
template <class First, class... Rest>
bool usableTogether(const PlaneView<First>& first, const PlaneView<Rest>&... rest) {
    auto fits = [&](const auto& view) {
        return view && view.contiguous() && view.width == first.width &&
               view.height == first.height;
    };
    return first.width >= 1 && first.height >= 1 && fits(first) && (fits(rest) && ...);
}

template <class T>
struct RgbPlanes {
    PlaneView<T> r, g, b;

    RgbPlanes() = default;
    RgbPlanes(PlaneView<T> red, PlaneView<T> green, PlaneView<T> blue)
        : r(red), g(green), b(blue) {}
    // Three planes of one size.
    RgbPlanes(T* red, T* green, T* blue, std::int32_t w, std::int32_t h)
        : r(red, w, h), g(green, w, h), b(blue, w, h) {}
    template <class U>
    requires std::is_same_v<T, const U> RgbPlanes(const RgbPlanes<U>& other)
        : r(other.r), g(other.g), b(other.b) {}

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
    requires std::is_same_v<T, const U> RgbaPlanes(const RgbaPlanes<U>& other)
        : r(other.r), g(other.g), b(other.b), a(other.a) {}

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
