// Drawing primitives of the map generator: a float RGB canvas that wraps around horizontally, so
// every shape drawn across column 0 continues on the far side and the panoramas have no seam.
// Shapes add light; all coordinates are pixels of the canvas, y = 0 at the top (straight up).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mapgen {

struct Colour {
    float r, g, b;
};

inline Colour grey(float v) { return {v, v, v}; }

inline Colour scaled(Colour c, double s) {
    return {static_cast<float>(c.r * s), static_cast<float>(c.g * s), static_cast<float>(c.b * s)};
}

// Deterministic random numbers (splitmix64), one stream per map.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi).
    double uniform(double lo = 0.0, double hi = 1.0) {
        return lo + (hi - lo) * static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    std::uint64_t state_;
};

// Hash of integer coordinates to [0, 1): per-pixel grain and noise lattices.
double hash01(std::int64_t x, std::int64_t y, std::uint64_t seed);

class Canvas {
public:
    Canvas(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // Scale of this canvas against the 1024 x 512 reference layout of the raw maps.
    double scale() const { return width_ / 1024.0; }

    Colour& at(int x, int y) { return pixels_[static_cast<std::size_t>(y) * width_ + wrapX(x)]; }
    const Colour& at(int x, int y) const {
        return pixels_[static_cast<std::size_t>(y) * width_ + wrapX(x)];
    }
    int wrapX(int x) const { return ((x % width_) + width_) % width_; }
    // Horizontal offset from cx to x along the shorter way round the panorama.
    double wrappedDx(double x, double cx) const;

    // Adds colour * weight(dx, dy) over the box |dx| <= extentX, |dy| <= extentY around (cx, cy).
    template <class Weight>
    void addShape(double cx, double cy, double extentX, double extentY, Colour colour,
                  Weight weight) {
        // A shape as wide as the canvas visits every column once, at its nearest offset.
        const bool fullWidth = 2.0 * extentX + 2.0 >= width_;
        const int x0 = fullWidth ? 0 : static_cast<int>(std::floor(cx - extentX));
        const int x1 = fullWidth ? width_ - 1 : static_cast<int>(std::ceil(cx + extentX));
        const int y0 = std::max(0, static_cast<int>(std::floor(cy - extentY)));
        const int y1 = std::min(height_ - 1, static_cast<int>(std::ceil(cy + extentY)));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double px = fullWidth ? wrappedDx(x + 0.5, cx) : x + 0.5 - cx;
                const double w = weight(px, y + 0.5 - cy);
                if (w == 0.0) continue;
                Colour& p = at(x, y);
                p.r += static_cast<float>(colour.r * w);
                p.g += static_cast<float>(colour.g * w);
                p.b += static_cast<float>(colour.b * w);
            }
        }
    }

    // Background: value(x, y) for every pixel (replaces the content).
    template <class Function>
    void fill(Function value) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) at(x, y) = value(x + 0.5, y + 0.5);
    }

    // Rectangle of half sizes hw x hh with edges softened over `soft` pixels and an optional
    // Gaussian halo of radius glowRadius and relative strength glow.
    void rect(double cx, double cy, double hw, double hh, double soft, Colour colour,
              double glowRadius = 0.0, double glow = 0.0);
    // Round spot: a bright disc of radius r with soft edge plus a Gaussian halo.
    void spot(double cx, double cy, double r, Colour colour, double glowRadius = 0.0,
              double glow = 0.0);
    // Soft Gaussian blob with radii sx, sy.
    void blob(double cx, double cy, double sx, double sy, Colour colour);
    // Thin line from (x0, y0) to (x1, y1) of half width w (Gaussian cross-section) whose
    // brightness along its length follows profile(t), t in [0, 1].
    template <class Profile>
    void streak(double x0, double y0, double x1, double y1, double w, Colour colour,
                Profile profile) {
        const double dx = x1 - x0, dy = y1 - y0;
        const double length2 = std::max(1e-9, dx * dx + dy * dy);
        const double cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
        const double reach = 3.0 * w + 1.0;
        addShape(cx, cy, std::abs(dx) * 0.5 + reach, std::abs(dy) * 0.5 + reach, colour,
                 [&](double px, double py) {
                     // px, py relative to the centre; project onto the segment.
                     const double rx = px + 0.5 * dx, ry = py + 0.5 * dy;
                     const double t = (rx * dx + ry * dy) / length2;
                     if (t < 0.0 || t > 1.0) return 0.0;
                     const double ex = rx - t * dx, ey = ry - t * dy;
                     const double d2 = (ex * ex + ey * ey) / (w * w);
                     return d2 > 9.0 ? 0.0 : std::exp(-d2) * profile(t);
                 });
    }
    // Line around the whole panorama at row y, half width w (Gaussian cross-section), with
    // brightness profile(x) along it; profile must take the same value at x = 0 and x = width.
    template <class Profile>
    void horizontalLine(double y, double w, Colour colour, Profile profile) {
        addShape(0.5 * width_, y, 0.5 * width_, 3.0 * w + 1.0, colour, [&](double px, double py) {
            const double d2 = (py * py) / (w * w);
            return d2 > 9.0 ? 0.0 : std::exp(-d2) * profile(px + 0.5 * width_);
        });
    }
    // Band along the ellipse (x - cx)^2 / a^2 + (y - cy)^2 / b^2 = 1 with Gaussian half width w,
    // kept where keep(angle) > 0 and weighted by it (angle of the point seen from the centre,
    // measured from +x, with y growing downwards).
    template <class Keep>
    void ellipseArc(double cx, double cy, double a, double b, double w, Colour colour, Keep keep) {
        addShape(cx, cy, a + 4.0 * w, b + 4.0 * w, colour, [&](double px, double py) {
            const double f = (px * px) / (a * a) + (py * py) / (b * b) - 1.0;
            const double gx = 2.0 * px / (a * a), gy = 2.0 * py / (b * b);
            const double gradient = std::sqrt(gx * gx + gy * gy);
            if (gradient < 1e-9) return 0.0;
            const double d = f / gradient;
            if (std::abs(d) > 4.0 * w) return 0.0;
            const double k = keep(std::atan2(py, px));
            return k <= 0.0 ? 0.0 : k * std::exp(-(d * d) / (w * w));
        });
    }

    // Writes 8-bit RGB, top row first, adding a faint per-pixel grain so gradients do not band.
    std::vector<std::uint8_t> toRgb8(std::uint64_t grainSeed) const;

private:
    int width_, height_;
    std::vector<Colour> pixels_;
};

// Smooth value noise in [0, 1] whose lattice has `periodX` cells across the width, so it wraps.
double periodicNoise(double x, double y, int width, int periodX, double cellHeight,
                     std::uint64_t seed);
// Sum of octaves of periodicNoise, each with twice the cells of the last; result in [0, 1].
double periodicFbm(double x, double y, int width, int periodX, double cellHeight, int octaves,
                   std::uint64_t seed);

double smoothstep(double edge0, double edge1, double x);

}  // namespace mapgen
