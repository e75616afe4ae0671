// The eight raw studio panoramas. Layout in pixels of 1024 x 512: the horizon is row 256, the
// ceiling above it and the floor below. Every light is placed with the canvas's wrap-around, so
// the maps repeat seamlessly in x.
#include "maps.h"

#include <algorithm>
#include <cmath>

namespace mapgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHorizon = 256.0;

// Ground brightness by height: `ceiling` at the top, `horizon` around row 256, `floor` at the
// bottom, blended smoothly.
double groundLevel(double y, double ceiling, double horizon, double floor) {
    if (y < kHorizon) {
        const double t = smoothstep(0.0, kHorizon, y);
        return ceiling + (horizon - ceiling) * t * t;
    }
    const double t = smoothstep(kHorizon, 512.0, y);
    return horizon + (floor - horizon) * std::sqrt(t);
}

double flat(double) { return 1.0; }

}  // namespace

Canvas drawGallery() {
    Canvas c(kRawWidth, kRawHeight);
    // Dark ceiling and floor around walls lit by the track lights: the walls carry most of what
    // a polished face reflects, so they hold the broad mid-tones; the fixtures, the lit corners
    // and the glossy floor line give the highlights.
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 8, 64.0, 3, 11);
        double level;
        if (y < 178.0) {
            const double t = y / 178.0;
            level = 0.04 + 0.16 * t * t * t;
        } else if (y < 300.0) {
            // Wall: brightest just under the track, falling off towards the floor.
            const double t = (y - 178.0) / 122.0;
            level = 0.52 - 0.22 * t;
        } else {
            // Polished floor: the wall's reflection close to the skirting, then dark.
            const double t = (y - 300.0) / 212.0;
            level = 0.05 + 0.2 * std::exp(-5.0 * t);
        }
        return grey(static_cast<float>(level * (0.85 + 0.3 * n)));
    });
    // Wall panels between the ceiling line (row 178) and the floor line (row 300), with dark
    // gaps at the corners.
    for (int i = 0; i < 8; ++i) {
        const double cx = 128.0 * i;
        c.rect(cx, 239.0, 6.0, 61.0, 2.0, grey(-0.2));
    }
    Random random(101);
    // Wall washers: one broad pool of light per panel, brightest under its fixture and fading
    // down the wall, with a hot core; their brightness varies from panel to panel.
    for (int i = 0; i < 8; ++i) {
        const double x = 64.0 + 128.0 * i + random.uniform(-10.0, 10.0);
        const double b = random.uniform(0.8, 1.0);
        c.addShape(x, 240.0, 100.0, 64.0, grey(static_cast<float>(0.6 * b)),
                   [](double px, double py) {
                       const double across = std::exp(-(px * px) / (2.0 * 38.0 * 38.0));
                       const double down = std::clamp((py + 62.0) / 124.0, 0.0, 1.0);
                       const double along = (1.0 - smoothstep(0.0, 1.0, down)) * 0.85 + 0.15;
                       return across * along * (1.0 - smoothstep(56.0, 64.0, std::abs(py)));
                   });
        c.blob(x, 196.0, 16.0, 12.0, grey(static_cast<float>(0.3 * b)));
    }
    // Large ceiling fixtures: soft rectangular diffusers with a halo, and a row of downlights.
    for (int i = 0; i < 8; ++i) {
        c.rect(128.0 * i, 128.0, 30.0, 8.0, 4.0, grey(0.95), 10.0, 0.35);
    }
    for (int i = 0; i < 16; ++i) {
        c.spot(32.0 + 64.0 * i, 62.0, 4.0, grey(1.0), 8.0, 0.3);
    }
    for (int i = 0; i < 24; ++i) {
        const double x = 21.3 * (2 * i + 1) + random.uniform(-4.0, 4.0);
        c.spot(x, 96.0 + random.uniform(-6.0, 6.0), 2.5, grey(0.95), 5.0, 0.3);
    }
    // Track spots just under the ceiling line, small and bright.
    for (int i = 0; i < 32; ++i) {
        const double x = random.uniform(0.0, kRawWidth);
        const double y = random.uniform(168.0, 178.0);
        const double b = random.uniform(0.8, 1.0);
        c.spot(x, y, 2.2, grey(static_cast<float>(b)), 4.0, 0.4);
    }
    // Rim highlights: the lit edges where walls meet ceiling and floor, and the wall corners.
    c.horizontalLine(179.0, 2.0, grey(0.75), [](double x) {
        return 0.8 + 0.2 * std::cos(2.0 * kPi * 8.0 * x / kRawWidth);
    });
    c.horizontalLine(301.0, 3.0, grey(0.8), [](double x) {
        return 0.75 + 0.25 * std::cos(2.0 * kPi * 4.0 * x / kRawWidth + 1.0);
    });
    for (int i = 0; i < 8; ++i) {
        const double x = 128.0 * i + 5.0;
        c.streak(x, 181.0, x, 298.0, 1.4, grey(0.8),
                 [](double t) { return std::pow(std::sin(kPi * t), 0.4); });
    }
    // The glossy floor: a bright sheen along the skirting and soft reflections of the pools
    // and of the ceiling fixtures.
    c.horizontalLine(312.0, 9.0, grey(0.3), [](double) { return 1.0; });
    for (int i = 0; i < 8; ++i) {
        c.blob(64.0 + 128.0 * i, 335.0, 26.0, 20.0, grey(0.22));
        c.blob(128.0 * i, 420.0, 24.0, 10.0, grey(0.16));
    }
    for (int i = 0; i < 16; ++i) c.blob(32.0 + 64.0 * i, 470.0, 3.0, 10.0, grey(0.12));
    return c;
}

Canvas drawStudio() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 6, 80.0, 2, 21);
        return grey(static_cast<float>(groundLevel(y, 0.08, 0.22, 0.12) * (0.9 + 0.2 * n)));
    });
    // Three rows of softboxes along the horizon; centres hotter than their edges.
    struct Row {
        int count;
        double y, halfWidth, halfHeight, brightness, phase;
    };
    const Row rows[] = {{12, 212.0, 17.0, 11.0, 1.0, 0.0},
                        {16, 250.0, 12.0, 8.0, 0.95, 0.5},
                        {12, 284.0, 19.0, 5.0, 0.75, 0.25}};
    for (const Row& row : rows) {
        const double spacing = static_cast<double>(kRawWidth) / row.count;
        for (int i = 0; i < row.count; ++i) {
            const double x = spacing * (i + row.phase) + spacing * 0.5;
            c.rect(x, row.y, row.halfWidth, row.halfHeight, 1.2,
                   grey(static_cast<float>(0.9 * row.brightness)), 10.0, 0.16);
            c.blob(x, row.y, row.halfWidth * 0.6, row.halfHeight * 0.6,
                   grey(static_cast<float>(0.15 * row.brightness)));
        }
    }
    // Soft reflection of the top row on the glossy studio floor, and the floor's sheen.
    for (int i = 0; i < 12; ++i) c.blob(85.3 * i + 42.7, 350.0, 14.0, 18.0, grey(0.16));
    c.horizontalLine(306.0, 10.0, grey(0.1), [](double) { return 1.0; });
    return c;
}

Canvas drawShowroom() {
    Canvas c(kRawWidth, kRawHeight);
    const Colour amber{1.0f, 0.62f, 0.22f};
    const Colour cream{1.0f, 0.93f, 0.78f};
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 8, 64.0, 3, 31);
        const double g = groundLevel(y, 0.04, 0.16, 0.07) * (0.85 + 0.3 * n);
        return Colour{static_cast<float>(g * 1.05), static_cast<float>(g * 0.95),
                      static_cast<float>(g * 0.82)};
    });
    // Long cream strips across the ceiling with short gaps between them.
    for (int i = 0; i < 6; ++i) {
        const double x = 1024.0 / 6.0 * (i + 0.5);
        c.rect(x, 92.0, 72.0, 5.0, 1.5, scaled(cream, 0.95), 9.0, 0.25);
    }
    // Amber cove strips at the top of the walls.
    for (int i = 0; i < 4; ++i) {
        c.rect(256.0 * i + 128.0, 168.0, 96.0, 6.0, 1.5, scaled(amber, 0.95), 14.0, 0.3);
    }
    // Vertical cream strips on the walls and amber display shelves between them.
    for (int i = 0; i < 8; ++i) {
        const double x = 128.0 * i + 20.0;
        c.rect(x, 250.0, 5.0, 62.0, 1.5, scaled(cream, 0.9), 12.0, 0.22);
        c.rect(x + 64.0, 236.0, 34.0, 3.5, 1.2, scaled(amber, 0.85), 8.0, 0.3);
        c.rect(x + 64.0, 270.0, 34.0, 3.5, 1.2, scaled(amber, 0.75), 8.0, 0.3);
    }
    // Warm light washing the walls below the coves, and its glow on the floor.
    for (int i = 0; i < 4; ++i) {
        c.blob(256.0 * i + 128.0, 215.0, 80.0, 40.0, scaled(amber, 0.22));
        c.blob(256.0 * i + 128.0, 330.0, 90.0, 26.0, scaled(amber, 0.16));
    }
    return c;
}

Canvas drawBeauty() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 4, 128.0, 2, 41);
        return grey(static_cast<float>(groundLevel(y, 0.12, 0.24, 0.15) * (0.9 + 0.2 * n)));
    });
    // Broad curved reflections: wide bands along sine curves (whole periods across the width,
    // so they close on themselves) with a soft Gaussian cross-section.
    struct Band {
        double centre, amplitude, periods, phase, halfWidth, brightness;
    };
    const Band bands[] = {{150.0, 40.0, 1.0, 0.3, 38.0, 0.5},
                          {230.0, 28.0, 2.0, 1.7, 30.0, 0.46},
                          {320.0, 36.0, 1.0, 2.8, 44.0, 0.4},
                          {90.0, 20.0, 2.0, 4.1, 26.0, 0.32},
                          {410.0, 24.0, 2.0, 0.9, 34.0, 0.24}};
    for (const Band& band : bands) {
        for (int x = 0; x < kRawWidth; ++x) {
            const double u = (x + 0.5) / kRawWidth;
            const double cy =
                band.centre + band.amplitude * std::sin(2.0 * kPi * band.periods * u + band.phase);
            // Brightness swells and fades along the band.
            const double along = 0.6 + 0.4 * std::cos(2.0 * kPi * u * band.periods + band.phase);
            for (int y = 0; y < kRawHeight; ++y) {
                const double d = (y + 0.5 - cy) / band.halfWidth;
                if (std::abs(d) > 3.5) continue;
                const float v = static_cast<float>(band.brightness * along * std::exp(-d * d));
                Colour& p = c.at(x, y);
                p.r += v;
                p.g += v;
                p.b += v;
            }
        }
    }
    // Two large soft umbrellas.
    c.blob(300.0, 200.0, 60.0, 45.0, grey(0.22));
    c.blob(820.0, 215.0, 70.0, 40.0, grey(0.2));
    return c;
}

Canvas drawRimLight() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 8, 64.0, 2, 51);
        return grey(static_cast<float>(0.012 + 0.012 * n));
    });
    // Tall strip lights, brightest in the middle, fading at their ends.
    const double bars[] = {90.0, 340.0, 600.0, 850.0};
    for (double x : bars) {
        c.addShape(x, kHorizon, 14.0, 190.0, grey(1.0), [](double px, double py) {
            const double across = 1.0 - smoothstep(5.0, 7.0, std::abs(px));
            const double along = 1.0 - smoothstep(150.0, 175.0, std::abs(py));
            const double halo =
                0.18 * std::exp(-(px * px) / 40.0) * (1.0 - smoothstep(140.0, 185.0, std::abs(py)));
            return across * along * (0.9 + 0.1 * std::cos(py / 175.0 * kPi * 0.5)) + halo;
        });
    }
    // Bright arcs overhead and underfoot between the bars.
    const double arcs[] = {215.0, 725.0};
    for (double x : arcs) {
        c.ellipseArc(x, 150.0, 150.0, 90.0, 2.2, grey(0.95), [](double angle) {
            return angle < 0.0 ? std::pow(std::sin(-angle), 0.7) : 0.0;
        });
        c.ellipseArc(x, 362.0, 150.0, 90.0, 2.2, grey(0.9), [](double angle) {
            return angle > 0.0 ? std::pow(std::sin(angle), 0.7) : 0.0;
        });
        c.ellipseArc(x, 150.0, 120.0, 62.0, 1.2, grey(0.5), [](double angle) {
            return angle < 0.0 ? std::pow(std::sin(-angle), 1.5) : 0.0;
        });
        c.ellipseArc(x, 362.0, 120.0, 62.0, 1.2, grey(0.45), [](double angle) {
            return angle > 0.0 ? std::pow(std::sin(angle), 1.5) : 0.0;
        });
    }
    return c;
}

Canvas drawStrips() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 6, 80.0, 2, 61);
        return grey(static_cast<float>(groundLevel(y, 0.3, 0.46, 0.36) * (0.92 + 0.16 * n)));
    });
    // Broad vertical bands of light from floor to ceiling, and two horizontal bands.
    struct Band {
        double x, halfWidth, brightness;
    };
    const Band bands[] = {{60.0, 34.0, 0.55},  {230.0, 44.0, 0.6},  {400.0, 26.0, 0.5},
                          {560.0, 40.0, 0.58}, {730.0, 30.0, 0.52}, {900.0, 46.0, 0.6}};
    for (const Band& band : bands) {
        c.addShape(band.x, kHorizon, band.halfWidth + 10.0, 256.0,
                   grey(static_cast<float>(band.brightness)), [&](double px, double py) {
                       const double across = 1.0 - smoothstep(band.halfWidth - 6.0,
                                                              band.halfWidth + 4.0, std::abs(px));
                       const double along = 1.0 - 0.35 * smoothstep(120.0, 256.0, std::abs(py));
                       return across * along;
                   });
    }
    c.rect(512.0, 120.0, 2048.0, 16.0, 6.0, grey(0.35));
    c.rect(512.0, 400.0, 2048.0, 12.0, 5.0, grey(0.28));
    return c;
}

Canvas drawPanels() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([](double, double y) {
        return grey(static_cast<float>(groundLevel(y, 0.004, 0.012, 0.006)));
    });
    // A few large, flat, hard-edged white panels.
    struct Panel {
        double x, y, halfWidth, halfHeight;
    };
    const Panel panels[] = {{150.0, 210.0, 60.0, 80.0},
                            {430.0, 250.0, 28.0, 110.0},
                            {640.0, 120.0, 95.0, 30.0},
                            {860.0, 300.0, 45.0, 45.0},
                            {600.0, 420.0, 80.0, 18.0}};
    for (const Panel& panel : panels) {
        c.addShape(
            panel.x, panel.y, panel.halfWidth + 2.0, panel.halfHeight + 2.0, grey(1.0),
            [&](double px, double py) {
                const double inside =
                    (1.0 - smoothstep(panel.halfWidth - 0.7, panel.halfWidth + 0.7, std::abs(px))) *
                    (1.0 -
                     smoothstep(panel.halfHeight - 0.7, panel.halfHeight + 0.7, std::abs(py)));
                // A faint fall-off towards the edges keeps the panel from looking flat.
                const double r2 = (px * px) / (panel.halfWidth * panel.halfWidth) +
                                  (py * py) / (panel.halfHeight * panel.halfHeight);
                return inside * (1.0 - 0.04 * std::min(1.0, r2));
            });
    }
    return c;
}

Canvas drawDramatic() {
    Canvas c(kRawWidth, kRawHeight);
    c.fill([&](double x, double y) {
        const double n = periodicFbm(x, y, kRawWidth, 8, 64.0, 2, 81);
        return grey(static_cast<float>(groundLevel(y, 0.006, 0.018, 0.01) * (0.7 + 0.6 * n)));
    });
    Random random(808);
    // Thin, mostly near-horizontal chrome streaks whose brightness ripples along their length.
    for (int i = 0; i < 70; ++i) {
        const double x = random.uniform(0.0, kRawWidth);
        const double y = random.uniform(40.0, 472.0);
        const double length = random.uniform(60.0, 360.0);
        const double angle = random.uniform(-0.35, 0.35) + (random.uniform() < 0.2 ? kPi / 2 : 0);
        const double dx = 0.5 * length * std::cos(angle), dy = 0.5 * length * std::sin(angle);
        const double width = random.uniform(0.6, 1.6);
        const double brightness = random.uniform(0.45, 1.0);
        const double ripples = random.uniform(1.0, 4.0), phase = random.uniform(0.0, 2.0 * kPi);
        c.streak(x - dx, y - dy, x + dx, y + dy, width, grey(static_cast<float>(brightness)),
                 [=](double t) {
                     const double taper = std::pow(std::sin(kPi * t), 0.6);
                     return taper * (0.55 + 0.45 * std::cos(2.0 * kPi * ripples * t + phase));
                 });
    }
    // A few long sweeping highlights that follow shallow curves across the panorama.
    for (int i = 0; i < 3; ++i) {
        const double centre = 150.0 + 110.0 * i, amplitude = 30.0 + 15.0 * i;
        const double phase = 1.3 * i;
        for (int segment = 0; segment < 64; ++segment) {
            const double x0 = 16.0 * segment, x1 = x0 + 16.0;
            auto curve = [&](double x) {
                return centre + amplitude * std::sin(2.0 * kPi * x / kRawWidth + phase);
            };
            const double s = std::cos(2.0 * kPi * 2.0 * (x0 + 8.0) / kRawWidth + phase);
            c.streak(x0, curve(x0), x1, curve(x1), 0.9,
                     grey(static_cast<float>(0.3 + 0.25 * s * s)), flat);
        }
    }
    return c;
}

}  // namespace mapgen
