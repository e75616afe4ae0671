// libFuzzer target: the distance transform and the blurs on random planes against their naive
// references (tests/support/naive_references.h). The first byte picks the stage; the planes are
// small (the references are quadratic or worse), their values drawn from the input, with NaN,
// infinities and denormals among the blur's samples.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/distance_transform.h"
#include "parallel/blur.h"
#include "support/naive_references.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void distanceTransformAgainstSearch(FuzzedDataProvider& in) {
    const int w = in.ConsumeIntegralInRange<int>(1, 24), h = in.ConsumeIntegralInRange<int>(1, 24);
    const auto background =
        in.ConsumeBool() ? lumet::DistanceTo::kBelowHalf : lumet::DistanceTo::kAtLeastHalf;
    std::vector<std::uint8_t> alpha(static_cast<std::size_t>(w) * h);
    for (std::uint8_t& a : alpha) a = in.ConsumeIntegral<std::uint8_t>();
    std::vector<float> fast(alpha.size(), NAN);
    lumet::distanceTransformCpu(alpha.data(), fast.data(), w, h, background);
    check(fast == lumet::testing::exhaustive(alpha, w, h, background));
}

float sample(FuzzedDataProvider& in, bool finiteOnly) {
    switch (in.ConsumeIntegralInRange<int>(0, finiteOnly ? 5 : 15)) {
        case 0:
            return 0.0f;
        case 1:
            return 1e-42f;  // a denormal
        case 13:
            return NAN;
        case 14:
            return INFINITY;
        case 15:
            return -INFINITY;
        default:
            return in.ConsumeFloatingPointInRange<float>(-4.0f, 4.0f);
    }
}

// The box blur against direct sums in double, on finite samples (with non-finite ones only what
// the blur promises: it does not crash and a zero neighbourhood stays zero is the unit tests').
void boxBlurAgainstSums(FuzzedDataProvider& in) {
    const int w = in.ConsumeIntegralInRange<int>(1, 40), h = in.ConsumeIntegralInRange<int>(1, 40);
    const int r = in.ConsumeIntegralInRange<int>(0, 50);
    const float f = in.ConsumeFloatingPointInRange<float>(0.0f, 0.999f);
    std::vector<float> plane(static_cast<std::size_t>(w) * h), scratch(plane.size());
    const bool finite = in.ConsumeIntegralInRange<int>(0, 7) != 0;
    for (float& v : plane) v = sample(in, finite);
    // Below a radius of 1 and a fraction of 0.001 the blur is no blur at all.
    const std::vector<double> before(plane.begin(), plane.end());
    const bool none = r < 1 && f < 0.001f;
    const std::vector<double> expected =
        none ? before : lumet::testing::directBox(before, w, h, r, f);
    lumet::boxBlur(plane.data(), scratch.data(), w, h, r, f);
    if (!finite) return;
    for (std::size_t i = 0; i < plane.size(); ++i)
        check(std::fabs(plane[i] - expected[i]) <= 1e-4 * (1.0 + std::fabs(expected[i])));
}

void gaussianAgainstConvolution(FuzzedDataProvider& in) {
    const int w = in.ConsumeIntegralInRange<int>(1, 40), h = in.ConsumeIntegralInRange<int>(1, 24);
    const int r = in.ConsumeIntegralInRange<int>(0, 60);
    std::vector<float> plane(static_cast<std::size_t>(w) * h);
    for (float& v : plane) v = sample(in, true);
    const std::vector<float> expected = lumet::testing::directGaussian(plane, w, h, r);
    lumet::gaussianBlurWrapX(plane.data(), w, h, r);
    check(std::memcmp(plane.data(), expected.data(), plane.size() * sizeof(float)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            distanceTransformAgainstSearch(in);
            break;
        case 1:
            boxBlurAgainstSums(in);
            break;
        default:
            gaussianAgainstConvolution(in);
    }
    return 0;
}
