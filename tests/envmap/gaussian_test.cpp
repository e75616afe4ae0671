// The wrapping Gaussian that prepares the smooth planes, against a direct convolution written
// here from its definition: the fast row pass must give the same floats, bit for bit, and so
// must its fallback when no padded row can be allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "parallel/blur.h"
#include "platform/plane.h"
#include "support/naive_references.h"

namespace lumet {
namespace {

using testing::directGaussian;

std::vector<float> pattern(int w, int h) {
    std::vector<float> plane(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<float>((i * 2654435761u) % 1000) / 999.0f;
    return plane;
}

TEST(WrappingGaussian, EqualsTheDirectConvolutionBitForBit) {
    struct Case {
        int w, h, radius;
    };
    // Radii below, near and beyond the width (taps wrap more than once), and the cap; a width
    // that is not a whole number of the row pass's blocks nor of the column pass's tiles.
    for (const Case& c : {Case{37, 11, 1}, Case{37, 11, 5}, Case{64, 20, 30}, Case{13, 9, 40},
                          Case{1, 7, 3}, Case{50, 3, 700}, Case{300, 7, 12}}) {
        const std::vector<float> input = pattern(c.w, c.h);
        std::vector<float> fast = input;
        gaussianBlurWrapX(fast.data(), c.w, c.h, c.radius);
        EXPECT_EQ(fast, directGaussian(input, c.w, c.h, c.radius))
            << c.w << "x" << c.h << " r" << c.radius;
    }
}

TEST(WrappingGaussian, RowFallbackWithoutPaddedRowGivesTheSameResult) {
    const int w = 300, h = 6, r = 20;  // kernel 164 bytes, padded row 1360, planes 7200
    const std::vector<float> input = pattern(w, h);
    std::vector<float> scratch(input.size());
    std::vector<float> fallback = input;
    setPlaneAllocationLimit(1000);
    gaussianBlurWrapX(fallback.data(), w, h, r, scratch.data());
    setPlaneAllocationLimit(0);
    EXPECT_EQ(fallback, directGaussian(input, w, h, r));
}

}  // namespace
}  // namespace lumet
