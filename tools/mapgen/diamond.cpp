// The Diamond panorama: a dense field of crystal facets (a Voronoi diagram of jittered grid
// sites, wrapping in x), each facet a flat grey or white plane with a slight tilt and a lit or
// dark rim, strewn with small iridescent spots of dispersed light.
#include <cmath>
#include <limits>

#include "maps.h"

namespace mapgen {

namespace {

constexpr int kCellsX = 64;  // divides the width, so the site grid wraps
constexpr int kCellsY = 32;

struct Site {
    double x, y;
    double shade;         // facet brightness
    double tiltX, tiltY;  // brightness gradient across the facet, per pixel
    double rim;           // brightness added along the facet border (negative: dark seam)
};

// Pure hue on the colour wheel, softened towards white.
Colour spectral(double hue) {
    auto channel = [&](double offset) {
        return 0.5 + 0.5 * std::cos(6.283185307179586 * (hue + offset));
    };
    return {static_cast<float>(0.35 + 0.65 * channel(0.0)),
            static_cast<float>(0.35 + 0.65 * channel(-1.0 / 3.0)),
            static_cast<float>(0.35 + 0.65 * channel(1.0 / 3.0))};
}

}  // namespace

Canvas drawDiamond() {
    Canvas c(kDiamondWidth, kDiamondHeight);
    const double cellW = static_cast<double>(kDiamondWidth) / kCellsX;
    const double cellH = static_cast<double>(kDiamondHeight) / kCellsY;
    std::vector<Site> sites(static_cast<std::size_t>(kCellsX) * kCellsY);
    Random random(909);
    for (int j = 0; j < kCellsY; ++j) {
        for (int i = 0; i < kCellsX; ++i) {
            Site& s = sites[static_cast<std::size_t>(j) * kCellsX + i];
            s.x = (i + random.uniform(0.1, 0.9)) * cellW;
            s.y = (j + random.uniform(0.1, 0.9)) * cellH;
            // Mostly mid and light greys with some near-white facets.
            const double r = random.uniform();
            s.shade = r < 0.25 ? random.uniform(0.12, 0.35)
                               : (r < 0.8 ? random.uniform(0.4, 0.7) : random.uniform(0.8, 0.97));
            const double angle = random.uniform(0.0, 6.283185307179586);
            const double tilt = random.uniform(0.0, 0.25) / cellW;
            s.tiltX = tilt * std::cos(angle);
            s.tiltY = tilt * std::sin(angle);
            s.rim = random.uniform() < 0.6 ? random.uniform(0.25, 0.5) : -random.uniform(0.1, 0.3);
        }
    }
    c.fill([&](double x, double y) {
        const int ci = static_cast<int>(x / cellW), cj = static_cast<int>(y / cellH);
        double best = std::numeric_limits<double>::max(), second = best;
        const Site* nearest = nullptr;
        double nearestDx = 0.0, nearestDy = 0.0;
        for (int dj = -2; dj <= 2; ++dj) {
            const int j = cj + dj;
            if (j < 0 || j >= kCellsY) continue;
            for (int di = -2; di <= 2; ++di) {
                const int i = ((ci + di) % kCellsX + kCellsX) % kCellsX;
                const Site& s = sites[static_cast<std::size_t>(j) * kCellsX + i];
                const double dx = c.wrappedDx(x, s.x), dy = y - s.y;
                const double d = std::sqrt(dx * dx + dy * dy);
                if (d < best) {
                    second = best;
                    best = d;
                    nearest = &s;
                    nearestDx = dx;
                    nearestDy = dy;
                } else if (d < second) {
                    second = d;
                }
            }
        }
        // Distance to the facet border, approximately half the gap between the two nearest sites.
        const double border = 0.5 * (second - best);
        double v = nearest->shade + nearestDx * nearest->tiltX + nearestDy * nearest->tiltY;
        v += nearest->rim * std::exp(-(border * border) / 2.0);
        return grey(static_cast<float>(std::clamp(v, 0.02, 1.0)));
    });
    // Small spots of dispersed colour, and a few white sparkles.
    for (int i = 0; i < 900; ++i) {
        const double x = random.uniform(0.0, kDiamondWidth);
        const double y = random.uniform(0.0, kDiamondHeight);
        const double r = random.uniform(1.2, 3.5);
        c.spot(x, y, r, scaled(spectral(random.uniform()), random.uniform(0.35, 0.6)), r * 1.5,
               0.3);
    }
    for (int i = 0; i < 200; ++i) {
        c.spot(random.uniform(0.0, kDiamondWidth), random.uniform(0.0, kDiamondHeight), 1.2,
               grey(0.8), 3.0, 0.25);
    }
    return c;
}

}  // namespace mapgen
