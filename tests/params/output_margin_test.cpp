// The output margin rule at its boundaries, and the rectangle helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/frame_setup.h"
#include "params/output_margin.h"

namespace {

using lumet::outputMargin;

TEST(OutputMargin, BevelStyles) {
    EXPECT_EQ(outputMargin(1, 3.0f, 0, 0), 0);  // Inner Bevel
    for (int style = 2; style <= 5; ++style) {
        EXPECT_EQ(outputMargin(style, 0.0f, 0, 0), 500) << style;  // raised to 2
        EXPECT_EQ(outputMargin(style, 3.0f, 0, 0), 500) << style;  // capped at 20
    }
    EXPECT_EQ(outputMargin(0, 3.0f, 0, 0), 0);
    EXPECT_EQ(outputMargin(6, 3.0f, 0, 0), 0);
}

TEST(OutputMargin, GlowTerm) {
    EXPECT_EQ(outputMargin(1, 1.5f, 0.3f, 65), 500);  // g = 150
    EXPECT_EQ(outputMargin(1, 1.5f, 0.05f, 65), 0);   // exactly 0.05: no glow term
    EXPECT_EQ(outputMargin(1, 1.5f, float(0.05 + 1e-7), 65), 500);
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 240), 500);      // g = 500
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 240.5f), 1000);  // g = 501
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 490), 1000);     // g = 1000
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 490.5f), 1500);  // g = 1001
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 500), 1500);     // g = 1020
    EXPECT_EQ(outputMargin(1, 1.5f, 1, 0), 500);        // g = 20
    EXPECT_EQ(outputMargin(2, 0.0f, 1, 600), 1500);
}

TEST(OutputMargin, ValuesOutsideTheDeclaredRangesStaySafe) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(outputMargin(2, 1e30f, 0, 0), 500);
    EXPECT_EQ(outputMargin(2, nan, 0, 0), 500);
    EXPECT_EQ(outputMargin(1, 0, 1, inf), 1500);
    EXPECT_EQ(outputMargin(1, 0, 1, -1e30f), 0);
    EXPECT_EQ(outputMargin(1, 0, 1, nan), 0);
    EXPECT_EQ(outputMargin(1, 0, nan, 100), 0);
}

TEST(Rectangles, UnionAndExpansion) {
    using lumet::unionRect;
    const PF_LRect empty{0, 0, 0, 0};
    const PF_LRect a{0, 0, 10, 10}, b{-5, 2, 4, 20};
    auto same = [](const PF_LRect& x, const PF_LRect& y) {
        return x.left == y.left && x.top == y.top && x.right == y.right && x.bottom == y.bottom;
    };
    EXPECT_TRUE(same(unionRect(empty, a), a));
    EXPECT_TRUE(same(unionRect(a, empty), a));
    EXPECT_TRUE(same(unionRect(PF_LRect{5, 5, 5, 9}, b), b));  // zero width counts as empty
    EXPECT_TRUE(same(unionRect(a, b), PF_LRect{-5, 0, 10, 20}));
    EXPECT_TRUE(same(lumet::expandRect(a, 500), PF_LRect{-500, -500, 510, 510}));
    const PF_LRect huge{std::numeric_limits<A_long>::min() + 1, 0,
                        std::numeric_limits<A_long>::max() - 1, 1};
    const PF_LRect grown = lumet::expandRect(huge, 1500);
    EXPECT_EQ(grown.left, std::numeric_limits<A_long>::min());
    EXPECT_EQ(grown.right, std::numeric_limits<A_long>::max());
}

}  // namespace
