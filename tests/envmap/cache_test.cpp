// The compute-cache class: its key through the host's hash suite, its size (as the host cache
// counts it), and the EnvMap it computes, driven through the reference host's real compute cache
// and suites.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/world_view.h"
#include "env_map_test_support.h"
#include "host/env_map_cache.h"
#include "platform/plane.h"
#include "refhost/compute_cache.h"
#include "refhost/suites.h"

namespace lumet {
namespace {

using testing::MapPlanes;

class EnvMapCacheTest : public ::testing::Test {
protected:
    EnvMapCacheTest() : scope_(&suites_) {
        suites_.offer(kAEGPHashSuite, kAEGPHashSuiteVersion1, refhost::hashSuite());
    }

    EnvMapCacheOptions options(std::int32_t mapType, float blur) const {
        return {refhost::basicSuite(), mapType, blur, 2048, 1024, nullptr, 0, {}};
    }

    AEGP_GUID key(EnvMapCacheOptions o) {
        AEGP_GUID guid{};
        EXPECT_EQ(envMapCacheKey(&o, &guid), A_Err_NONE);
        return guid;
    }

    static bool same(const AEGP_GUID& a, const AEGP_GUID& b) {
        return std::memcmp(&a, &b, sizeof a) == 0;
    }

    refhost::SuiteRegistry suites_;
    refhost::ActiveSuitesScope scope_;
};

TEST_F(EnvMapCacheTest, KeysDifferExactlyWhereTheMapCanDiffer) {
    const AEGP_GUID base = key(options(2, 0.2f));
    EXPECT_TRUE(same(key(options(2, 0.2f)), base));  // deterministic; other settings not in it
    EXPECT_EQ(suites_.outstanding(kAEGPHashSuite, kAEGPHashSuiteVersion1), 0);  // released
    EXPECT_FALSE(same(key(options(2, 0.21f)), base));  // same radius 4, different float bits
    EXPECT_FALSE(same(key(options(3, 0.2f)), base));
    EnvMapCacheOptions smaller = options(2, 0.2f);
    smaller.envW = 1024;
    EXPECT_FALSE(same(key(smaller), base));
    smaller = options(2, 0.2f);
    smaller.envH = 512;
    EXPECT_FALSE(same(key(smaller), base));

    // Without a layer the time is not part of the key.
    EnvMapCacheOptions later = options(2, 0.2f);
    later.currentTime = 1000;
    EXPECT_TRUE(same(key(later), base));

    // With a layer: another time or another address changes the key; other pixels at the same
    // time and address do not.
    std::vector<unsigned char> pixels(16, 0);
    PF_EffectWorld layerA{}, layerB{};
    layerA.data = layerB.data = reinterpret_cast<PF_PixelPtr>(pixels.data());
    EnvMapCacheOptions custom = options(10, 0.2f);
    custom.layerWorld = &layerA;
    custom.currentTime = 10;
    const AEGP_GUID first = key(custom);
    pixels[5] = 200;
    EXPECT_TRUE(same(key(custom), first));
    custom.currentTime = 11;
    EXPECT_FALSE(same(key(custom), first));
    custom.currentTime = 10;
    custom.layerWorld = &layerB;
    EXPECT_FALSE(same(key(custom), first));
}

TEST_F(EnvMapCacheTest, KeyWithoutHashSuiteIsMissingSuite) {
    suites_.withhold(kAEGPHashSuite, kAEGPHashSuiteVersion1);
    EnvMapCacheOptions o = options(1, 0.0f);
    AEGP_GUID guid{};
    EXPECT_EQ(envMapCacheKey(&o, &guid), A_Err_MISSING_SUITE);
    o.basicSuite = nullptr;
    EXPECT_EQ(envMapCacheKey(&o, &guid), A_Err_MISSING_SUITE);
}

// Runs the compute callback on small maps and hands back the planes as a MapPlanes.
MapPlanes compute(EnvMapCacheOptions o) {
    AEGP_CCComputeValueRefconP value = nullptr;
    EXPECT_EQ(envMapCacheCompute(&o, &value), A_Err_NONE);
    auto* map = static_cast<EnvMap*>(value);
    MapPlanes out(map->envW, map->envH);
    const std::int64_t texels = std::int64_t{map->envW} * map->envH;
    deinterleaveRgb(map->sharpRgb, texels, out.p(0), out.p(1), out.p(2));
    deinterleaveRgb(map->smoothRgb, texels, out.p(3), out.p(4), out.p(5));
    envMapCacheDelete(value);
    return out;
}

TEST(EnvMapCacheCompute, DiamondSmoothPlanesComeFromDiamondItself) {
    const std::int32_t w = 128, h = 64;
    EnvMapCacheOptions o{nullptr, 9, 0.5f, w, h, nullptr, 0, {}};  // blur 0.5: radius 25
    const MapPlanes cached = compute(o);
    MapPlanes direct(w, h);
    direct.loadBuiltIn(25, 9);  // the direct loader: smooth planes from Gallery, radius 60
    EXPECT_TRUE(cached.sharpEquals(direct));
    EXPECT_FALSE(cached.smoothEquals(direct));
    MapPlanes derived = cached;
    deriveSmoothPlanes(derived.p(0), derived.p(1), derived.p(2), derived.p(3), derived.p(4),
                       derived.p(5), w, h, 25);
    EXPECT_TRUE(cached.smoothEquals(derived));
}

TEST(EnvMapCacheCompute, RawMapsMatchTheDirectLoaderAndCustomWithoutLayerIsGallery) {
    const std::int32_t w = 96, h = 48;
    MapPlanes studio(w, h);
    studio.loadBuiltIn(4, 2);
    const MapPlanes cached = compute({nullptr, 2, 0.2f, w, h, nullptr, 0, {}});
    EXPECT_TRUE(cached.sharpEquals(studio));
    EXPECT_TRUE(cached.smoothEquals(studio));

    MapPlanes gallery(w, h);
    gallery.loadBuiltIn(0, 1);
    EXPECT_TRUE(compute({nullptr, 10, 0.0f, w, h, nullptr, 0, {}}).sharpEquals(gallery));
    PF_EffectWorld noPixels{};  // a layer record that holds no pixels
    EXPECT_TRUE(compute({nullptr, 10, 0.0f, w, h, &noPixels, 0, {}}).sharpEquals(gallery));
}

TEST(EnvMapCacheCompute, UsesTheLayerAndItsDepth) {
    // A 16-bpc layer (deep flag), 2 x 1 pixels of half white.
    std::vector<std::uint16_t> pixels = {32768, 16384, 16384, 16384, 32768, 16384, 16384, 16384};
    PF_EffectWorld layer{};
    layer.width = 2;
    layer.height = 1;
    layer.rowbytes = 16;
    layer.world_flags = PF_WorldFlag_DEEP;
    layer.data = reinterpret_cast<PF_PixelPtr>(pixels.data());
    const MapPlanes map = compute({nullptr, 10, 0.0f, 32, 16, &layer, 3, viewOfWorld(layer, 1)});
    EXPECT_FLOAT_EQ(map.planes[0][37], 0.5f);
    EXPECT_FLOAT_EQ(map.planes[5][37], 0.5f);
}

TEST(EnvMapCacheCompute, OutOfMemoryStoresNothing) {
    EnvMapCacheOptions o{nullptr, 2, 0.0f, 256, 128, nullptr, 0, {}};
    AEGP_CCComputeValueRefconP value = &o;  // must stay untouched
    setPlaneAllocationLimit(256 * 128 * sizeof(float));
    EXPECT_EQ(envMapCacheCompute(&o, &value), A_Err_ALLOC);
    setPlaneAllocationLimit(0);
    EXPECT_EQ(value, &o);
}

TEST_F(EnvMapCacheTest, SharedThroughTheHostCacheAndDeletedOnUnregistration) {
    refhost::ComputeCache cache;
    const AEGP_ComputeCacheCallbacks callbacks = {envMapCacheKey, envMapCacheCompute,
                                                  envMapCacheSize, envMapCacheDelete};
    ASSERT_EQ(cache.registerClass(kEnvMapCacheClassId, &callbacks), A_Err_NONE);
    EnvMapCacheOptions o = options(6, 0.1f);
    o.envW = 64;
    o.envH = 32;
    AEGP_CCCheckoutReceiptP first = nullptr, second = nullptr;
    ASSERT_EQ(cache.computeIfNeededAndCheckout(kEnvMapCacheClassId, &o, true, &first), A_Err_NONE);
    o.currentTime = 99;  // no layer: the time does not matter
    ASSERT_EQ(cache.computeIfNeededAndCheckout(kEnvMapCacheClassId, &o, true, &second), A_Err_NONE);
    AEGP_CCComputeValueRefconP a = nullptr, b = nullptr;
    cache.receiptValue(first, &a);
    cache.receiptValue(second, &b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<EnvMap*>(a)->envW, 64);
    EXPECT_EQ(cache.stats().computes, 1u);
    // The size callback: the sharp and smooth colours, three floats a texel and one of padding
    // each, 24 bytes a texel, 8 more, and the 24-byte record (a 2048 x 1024 map: 50,331,680).
    EXPECT_EQ(cache.stats().bytes, 64u * 32 * 24 + 8 + 24);
    cache.checkin(first);
    cache.checkin(second);
    EXPECT_EQ(cache.unregisterClass(kEnvMapCacheClassId), A_Err_NONE);
    EXPECT_EQ(cache.stats().deletes, 1u);
}

}  // namespace
}  // namespace lumet
