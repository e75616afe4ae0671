// Smart edge and normals: the smart edge against its definition computed directly (all depths,
// both qualities, placement in the frame), normals against the finite-difference slopes of
// analytic height fields, the cases the stages define exactly (flat and empty pixels, saturated
// blurs), and the whole geometry sequence's plateau and unit normals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "geometry/height_map.h"
#include "geometry/normals.h"
#include "geometry/smart_edge.h"
#include "params/render_settings.h"
#include "render/geometry_sequence.h"
#include "test_worlds.h"
#include "text_like_alpha.h"

namespace {

using namespace lumet;
using lumet::testing::TestWorld;

// The smart edge worked out directly from its definition, in double precision with direct sums:
// colour planes read from the world's bytes, replicated to the working size, the largest Sobel
// magnitude of the three channels where the coverage is at least 10, normalised, three box
// blurs, normalised again, the carve, and the blend with three box blurs of the heights.
struct SmartEdgeCase {
    int W, H, offsetX, offsetY, SS, depth;
    float bevelDepth, edgeStrength;
};

// Three box blurs with clamped edges by direct sums, radii max(1, trunc(r x 0.45, 0.40, 0.35)).
void boxThreeTimes(std::vector<double>& plane, int w, int h, int radius) {
    const float factors[3] = {0.45f, 0.40f, 0.35f};
    std::vector<double> pass(plane.size());
    for (float factor : factors) {
        const int r =
            std::max(1, static_cast<int>(static_cast<float>(std::min(radius, 1000)) * factor));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0;
                for (int k = -r; k <= r; ++k) sum += plane[y * w + std::clamp(x + k, 0, w - 1)];
                pass[y * w + x] = sum / (2 * r + 1);
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0;
                for (int k = -r; k <= r; ++k) sum += pass[std::clamp(y + k, 0, h - 1) * w + x];
                plane[y * w + x] = sum / (2 * r + 1);
            }
    }
}

double channelOf(const TestWorld& world, int x, int y, int c) {
    const unsigned char* p = const_cast<TestWorld&>(world).pixel(x, y);
    if (world.depth == 2) {
        float v;
        std::memcpy(&v, p + 4 * c, 4);
        return v;
    }
    if (world.depth == 1) {
        std::uint16_t v;
        std::memcpy(&v, p + 2 * c, 2);
        return v / 32768.0;
    }
    return p[c] / 255.0;
}

std::vector<double> referenceSmartEdge(const TestWorld& world,
                                       const std::vector<std::uint8_t>& alpha,
                                       const std::vector<float>& heights, const SmartEdgeCase& k) {
    const int W2 = k.W * k.SS, H2 = k.H * k.SS;
    std::vector<double> colour[3];
    for (auto& plane : colour) plane.assign(static_cast<std::size_t>(k.W) * k.H, 0.0);
    for (int y = 0; y < world.world.height; ++y)
        for (int x = 0; x < world.world.width; ++x) {
            const int fx = x + k.offsetX, fy = y + k.offsetY;
            if (fx < 0 || fx >= k.W || fy < 0 || fy >= k.H) continue;
            for (int c = 0; c < 3; ++c) colour[c][fy * k.W + fx] = channelOf(world, x, y, c + 1);
        }
    auto at = [&](int c, int x, int y) { return colour[c][(y / k.SS) * k.W + x / k.SS]; };
    std::vector<double> edge(static_cast<std::size_t>(W2) * H2, 0.0);
    for (int y = 1; y < H2 - 1; ++y)
        for (int x = 1; x < W2 - 1; ++x) {
            if (alpha[y * W2 + x] < 10) continue;
            double strongest = 0;
            for (int c = 0; c < 3; ++c) {
                const double gx = -at(c, x - 1, y - 1) - 2 * at(c, x - 1, y) - at(c, x - 1, y + 1) +
                                  at(c, x + 1, y - 1) + 2 * at(c, x + 1, y) + at(c, x + 1, y + 1);
                const double gy = -at(c, x - 1, y - 1) - 2 * at(c, x, y - 1) - at(c, x + 1, y - 1) +
                                  at(c, x - 1, y + 1) + 2 * at(c, x, y + 1) + at(c, x + 1, y + 1);
                strongest = std::max(strongest, std::sqrt(gx * gx + gy * gy));
            }
            edge[y * W2 + x] = strongest;
        }
    auto normalise = [&] {
        const double top = std::max(0.001, *std::max_element(edge.begin(), edge.end()));
        for (double& e : edge) e /= top;
    };
    normalise();
    boxThreeTimes(edge, W2, H2, static_cast<int>(k.bevelDepth * 6 + 2) * k.SS);
    normalise();
    std::vector<double> h(heights.begin(), heights.end());
    for (std::size_t i = 0; i < h.size(); ++i) {
        if (alpha[i] < 10 || edge[i] <= 0.01) continue;
        double v = std::min(1.0, edge[i] * k.edgeStrength);
        v = std::min(0.85, v * v * (3 - 2 * v));
        h[i] *= 1 - v;
    }
    std::vector<double> blurred = h;
    boxThreeTimes(blurred, W2, H2, static_cast<int>(k.edgeStrength * 3 + 1) * k.SS);
    for (std::size_t i = 0; i < h.size(); ++i) {
        if (alpha[i] < 10 || edge[i] <= 0.05) continue;
        h[i] += (blurred[i] - h[i]) * std::clamp(2 * edge[i], 0.0, 1.0) * 0.6;
    }
    return h;
}

TEST(SmartEdge, MatchesTheDefinitionComputedDirectly) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const SmartEdgeCase cases[] = {
        {26, 20, 2, 3, 1, 0, 0.5f, 0.7f}, {26, 20, 0, 0, 1, 1, 1.2f, 1.0f},
        {26, 20, 3, 1, 1, 2, 0.2f, 0.0f}, {18, 14, 1, 2, 2, 0, 0.4f, 0.9f},
        {3, 2, 0, 0, 1, 0, 0.5f, 1.0f},  // too low for any Sobel row
    };
    for (const SmartEdgeCase& k : cases) {
        // Mixed colours; one colour (edges only where the layer ends); coverage below 10
        // throughout.
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(::testing::Message() << k.W << " x " << k.H << " SS " << k.SS << " depth "
                                              << k.depth << " variant " << variant);
            // A layer of blocks in three colours with some noise, a little smaller than the frame.
            TestWorld world(k.W - 1, k.H - 1, k.depth);
            const float palette[3][3] = {
                {0.9f, 0.2f, 0.1f}, {0.2f, 0.7f, 0.9f}, {0.5f, 0.5f, 0.2f}};
            for (int y = 0; y < k.H - 1; ++y)
                for (int x = 0; x < k.W - 1; ++x) {
                    const int block = variant == 1 ? 0 : (x / 5 + 2 * (y / 4)) % 3;
                    const float* c = palette[block];
                    const float noise = variant == 1 ? 0.0f : 0.05f * unit(random);
                    world.set(x, y, 1.0f, c[0] + noise, c[1], c[2] - noise);
                }
            const int W2 = k.W * k.SS, H2 = k.H * k.SS;
            std::vector<std::uint8_t> alpha(static_cast<std::size_t>(W2) * H2);
            std::vector<float> heights(alpha.size());
            for (std::size_t i = 0; i < alpha.size(); ++i) {
                const float a = unit(random);
                alpha[i] = variant == 2 ? static_cast<std::uint8_t>(9 * a)
                                        : static_cast<std::uint8_t>(a < 0.15f ? 0 : 255 * a);
                heights[i] = alpha[i] ? unit(random) : 0.0f;
            }
            const std::vector<double> expected = referenceSmartEdge(world, alpha, heights, k);
            std::vector<float> carved = heights;
            applySmartEdge({&world.world, k.depth, k.offsetX, k.offsetY}, {alpha.data(), W2, H2},
                           {carved.data(), W2, H2}, k.SS, k.bevelDepth, k.edgeStrength);
            double worst = 0;
            for (std::size_t i = 0; i < carved.size(); ++i)
                worst = std::max(worst, std::fabs(carved[i] - expected[i]));
            EXPECT_LT(worst, 1e-5);
            if (variant == 2) {
                EXPECT_EQ(carved, heights);  // no coverage of 10: nothing measured or carved
            }
        }
    }
}

std::vector<float> normalsOf(const std::vector<float>& hm, const std::vector<std::uint8_t>& alpha,
                             int w, int h, float depth) {
    std::vector<float> n(3 * w * h, 0.0f);
    computeNormals({alpha.data(), w, h}, {hm.data(), w, h}, {n.data(), w, h, 3}, depth, 1);
    return n;
}

TEST(Normals, FlatAndEmptyPixels) {
    const int w = 30, h = 20;
    // Constant heights inside full coverage: straight up everywhere.
    const std::vector<std::uint8_t> full(w * h, 255);
    for (float v : {0.0f, 0.5f, 1.0f}) {
        const auto n = normalsOf(std::vector<float>(w * h, v), full, w, h, 1.0f);
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(n[3 * i], 0.0f);
            ASSERT_EQ(n[3 * i + 1], 0.0f);
            ASSERT_EQ(n[3 * i + 2], 1.0f);
        }
    }
    // Empty pixels (height below 0.001, alpha below 2) stay flat even next to a step; a pixel with
    // height 0 but alpha 200 is processed and damped.
    std::vector<float> step(w * h, 0.0f);
    std::vector<std::uint8_t> alpha(w * h, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 15; x < w; ++x) step[y * w + x] = 0.5f;
    alpha[10 * w + 13] = 200;
    const auto n = normalsOf(step, alpha, w, h, 1.0f);
    EXPECT_EQ(n[3 * (10 * w + 12)], 0.0f);
    EXPECT_EQ(n[3 * (10 * w + 12) + 2], 1.0f);
    EXPECT_GT(n[3 * (10 * w + 13)], 0.0f);
}

// Normals of analytic height fields against their finite-difference slopes. The derivative
// filter (9 taps of -k/4 exp(-k^2/8), normalised by their absolute sum, along one axis; the
// normalised Gaussian along the other) answers a slope with a fixed gain, and exactly so on a
// quadratic field: the normal is (-s gain dh/dx, -s gain dh/dy, 1) normalised, s the strength
// max(0.4, sqrt(bevel depth) x 2.5 x SS). Heights stay below the plateau (0.8) and coverage is
// full, so neither the plateau nor the edge step changes the normal; a normal whose slope is below
// 0.02 is straight up.
TEST(Normals, AnalyticFieldsFollowTheirFiniteDifferenceSlopes) {
    double absoluteSum = 0, moment = 0;
    for (int k = -4; k <= 4; ++k) {
        const double d = -k * 0.25 * std::exp(-k * k * 0.125);
        absoluteSum += std::fabs(d);
        moment += k * d;
    }
    const double gain = moment / absoluteSum;  // the filter's output for a slope of 1
    const int w = 44, h = 40;
    const double cx = 21.5, cy = 19.0;
    auto paraboloid = [&](double x, double y) {
        return 0.75 - 0.0012 * ((x - cx) * (x - cx) + (y - cy) * (y - cy));
    };
    auto cone = [&](double x, double y) { return 0.78 - 0.028 * std::hypot(x - cx, y - cy); };
    struct Field {
        const char* name;
        std::function<double(double, double)> f;
        double depth, tolerance, innerRadius;
    };
    const Field fields[] = {{"paraboloid", paraboloid, 1.0, 2e-5, 0.0},
                            {"cone", cone, 0.6, 4e-3, 9.0},
                            {"shallow paraboloid", paraboloid, 0.0, 2e-5, 0.0}};
    const std::vector<std::uint8_t> full(w * h, 255);
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        std::vector<float> heights(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) heights[y * w + x] = static_cast<float>(field.f(x, y));
        const auto n = normalsOf(heights, full, w, h, static_cast<float>(field.depth));
        const double s = std::max(0.4, std::sqrt(field.depth) * 2.5);
        double worst = 0;
        int tilted = 0;
        for (int y = 4; y < h - 4; ++y)
            for (int x = 4; x < w - 4; ++x) {
                if (std::hypot(x - cx, y - cy) < field.innerRadius || heights[y * w + x] > 0.8f)
                    continue;
                const double dx = (field.f(x + 1, y) - field.f(x - 1, y)) / 2;
                const double dy = (field.f(x, y + 1) - field.f(x, y - 1)) / 2;
                double nx = -s * gain * dx, ny = -s * gain * dy, nz = 1;
                const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
                nx /= length, ny /= length, nz /= length;
                if (nx * nx + ny * ny < 0.0004) {
                    nx = ny = 0, nz = 1;
                } else {
                    ++tilted;
                }
                const float* got = &n[3 * (y * w + x)];
                worst = std::max({worst, std::fabs(got[0] - nx), std::fabs(got[1] - ny),
                                  std::fabs(got[2] - nz)});
                // Rising height is where the normal leans.
                if (nx != 0) {
                    EXPECT_EQ(got[0] > 0, x < cx) << x << ", " << y;
                }
            }
        EXPECT_LT(worst, field.tolerance);
        EXPECT_GT(tilted, 100);
    }
}

TEST(NormalBlur, SaturatedSlopesAndEmptyPixels) {
    const int w = 12, h = 10;
    std::vector<float> normals(3 * w * h);
    for (int i = 0; i < w * h; ++i) {
        normals[3 * i] = 0.9f;
        normals[3 * i + 1] = 0.8f;  // q = 1.45 >= 1 after any blur of a constant field
        normals[3 * i + 2] = 0.3f;
    }
    std::vector<std::uint8_t> alpha(w * h, 255);
    std::vector<float> hm(w * h, 0.5f);
    alpha[5] = 1;
    hm[5] = 0.0f;  // empty: untouched
    blurNormals({normals.data(), w, h, 3}, {alpha.data(), w, h}, {hm.data(), w, h}, 3);
    for (int i = 0; i < w * h; ++i) {
        if (i == 5) {
            EXPECT_EQ(normals[3 * i + 2], 0.3f);
            continue;
        }
        EXPECT_EQ(normals[3 * i + 2], 0.05f);
        EXPECT_NEAR(std::hypot(normals[3 * i], normals[3 * i + 1]), 1.0f, 1e-5f);
    }
}

RenderSettings sequenceSettings(int style) {
    RenderSettings s;
    std::memset(&s, 0, sizeof s);
    s.bevelStyle = style;
    s.edgeProfile = kProfileRound;
    s.bevelDepth = 1.2f;
    s.bevelSoftness = 0.2f;
    s.smartEdge = true;
    s.edgeStrength = 0.8f;
    return s;
}

TEST(GeometrySequence, SnapsThePlateauAndKeepsNormalsUnitAtBothQualities) {
    const int W = 70, H = 50;
    const std::vector<std::uint8_t> alpha = lumet::testing::textLikeAlpha(W, H, 30);
    TestWorld world(W, H, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            world.set(x, y, alpha[y * W + x] / 255.0f, x < W / 2 ? 0.9f : 0.2f, 0.6f, 0.3f);
    for (int SS : {1, 2}) {
        for (int style : {kInnerBevel, kEmboss}) {
            const std::size_t count = static_cast<std::size_t>(SS * SS * W * H);
            std::vector<std::uint8_t> alphaSS(count);
            std::vector<float> hm(count), normals(3 * count);
            ASSERT_TRUE(runGeometrySequence(
                {alpha.data(), W, H}, {SS == 2 ? alphaSS.data() : nullptr, SS * W, SS * H},
                {hm.data(), SS * W, SS * H}, {normals.data(), SS * W, SS * H, 3}, SS,
                sequenceSettings(style), {&world.world, 0, 0, 0}, false));
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_FALSE(hm[i] >= 0.95f && hm[i] < 1.0f) << "SS " << SS << " pixel " << i;
                const float* n = &normals[3 * i];
                ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-4f) << i;
            }
        }
    }
}

TEST(GeometrySequence, RefusesMissingSupersampledPlane) {
    const int W = 8, H = 8;
    std::vector<std::uint8_t> alpha(W * H, 255);
    std::vector<float> hm(4 * W * H, 7.0f), normals(12 * W * H, 7.0f);
    EXPECT_FALSE(runGeometrySequence({alpha.data(), W, H}, {nullptr, 2 * W, 2 * H},
                                     {hm.data(), 2 * W, 2 * H}, {normals.data(), 2 * W, 2 * H, 3},
                                     2, sequenceSettings(kInnerBevel), {}, false));
    for (float v : hm) ASSERT_EQ(v, 7.0f);
}

}  // namespace
