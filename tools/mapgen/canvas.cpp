// Drawing primitives of the map generator (see canvas.h).
#include "canvas.h"

#include <algorithm>

namespace mapgen {

double hash01(std::int64_t x, std::int64_t y, std::uint64_t seed) {
    std::uint64_t h = seed ^ (static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull) ^
                      (static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {}

double Canvas::wrappedDx(double x, double cx) const {
    double d = std::fmod(x - cx, static_cast<double>(width_));
    if (d > 0.5 * width_) d -= width_;
    if (d < -0.5 * width_) d += width_;
    return d;
}

void Canvas::rect(double cx, double cy, double hw, double hh, double soft, Colour colour,
                  double glowRadius, double glow) {
    const double reach = soft + 3.0 * glowRadius + 1.0;
    addShape(cx, cy, hw + reach, hh + reach, colour, [&](double px, double py) {
        const double ax = std::abs(px), ay = std::abs(py);
        double w = (1.0 - smoothstep(hw - soft, hw + soft, ax)) *
                   (1.0 - smoothstep(hh - soft, hh + soft, ay));
        if (glow > 0.0) {
            const double ox = std::max(0.0, ax - hw), oy = std::max(0.0, ay - hh);
            w += glow * std::exp(-(ox * ox + oy * oy) / (2.0 * glowRadius * glowRadius));
        }
        return w;
    });
}

void Canvas::spot(double cx, double cy, double r, Colour colour, double glowRadius, double glow) {
    const double reach = r + 3.0 * glowRadius + 1.0;
    addShape(cx, cy, reach, reach, colour, [&](double px, double py) {
        const double d = std::sqrt(px * px + py * py);
        double w = 1.0 - smoothstep(r - 0.75, r + 0.75, d);
        if (glow > 0.0) w += glow * std::exp(-(d * d) / (2.0 * glowRadius * glowRadius));
        return w;
    });
}

void Canvas::blob(double cx, double cy, double sx, double sy, Colour colour) {
    addShape(cx, cy, 3.0 * sx, 3.0 * sy, colour, [&](double px, double py) {
        return std::exp(-0.5 * ((px * px) / (sx * sx) + (py * py) / (sy * sy)));
    });
}

std::vector<std::uint8_t> Canvas::toRgb8(std::uint64_t grainSeed) const {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width_) * height_ * 3);
    auto quantise = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(v * 255.0), 0l, 255l));
    };
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const Colour& p = at(x, y);
            const double grain = (hash01(x, y, grainSeed) - 0.5) * (1.2 / 255.0);
            std::uint8_t* out = &bytes[(static_cast<std::size_t>(y) * width_ + x) * 3];
            out[0] = quantise(p.r + grain);
            out[1] = quantise(p.g + grain);
            out[2] = quantise(p.b + grain);
        }
    }
    return bytes;
}

double periodicNoise(double x, double y, int width, int periodX, double cellHeight,
                     std::uint64_t seed) {
    const double cellWidth = static_cast<double>(width) / periodX;
    const double fx = x / cellWidth, fy = y / cellHeight;
    const double ix = std::floor(fx), iy = std::floor(fy);
    const double tx = fx - ix, ty = fy - iy;
    auto lattice = [&](double cx, double cy) {
        const std::int64_t wrapped =
            ((static_cast<std::int64_t>(cx) % periodX) + periodX) % periodX;
        return hash01(wrapped, static_cast<std::int64_t>(cy), seed);
    };
    const double sx = tx * tx * (3.0 - 2.0 * tx), sy = ty * ty * (3.0 - 2.0 * ty);
    const double top = lattice(ix, iy) + (lattice(ix + 1, iy) - lattice(ix, iy)) * sx;
    const double bottom =
        lattice(ix, iy + 1) + (lattice(ix + 1, iy + 1) - lattice(ix, iy + 1)) * sx;
    return top + (bottom - top) * sy;
}

double periodicFbm(double x, double y, int width, int periodX, double cellHeight, int octaves,
                   std::uint64_t seed) {
    double sum = 0.0, amplitude = 1.0, total = 0.0;
    for (int octave = 0; octave < octaves; ++octave) {
        sum += amplitude * periodicNoise(x, y, width, periodX << octave, cellHeight / (1 << octave),
                                         seed + octave);
        total += amplitude;
        amplitude *= 0.5;
    }
    return sum / total;
}

}  // namespace mapgen
