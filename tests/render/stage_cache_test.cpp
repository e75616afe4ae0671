// The stage cache's dirty rules on the record itself: which stages each settings field, the layer,
// the environment map and the valid flags make dirty.
#include "render/stage_cache.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/shading_inputs.h"

namespace lumet {
namespace {

using test::goldSettings;

EnvMapKey mapKey(std::uint8_t first) {
    EnvMapKey key;
    key.bytes[0] = first;
    key.known = true;
    return key;
}
const EnvMapKey kEnv = mapKey(7);
const LayerIdentity kLayer{1234u, 0};

// A cache that holds a completed frame of `settings`: planes for 8 x 6 at SS = 2, all valid.
void fillCache(StageCache& cache, const RenderSettings& settings) {
    StageFlags flags;
    checkStageCacheSize(cache, 8, 6, 16, 12, 2, flags);
    cache.geometryValid = cache.reflectionValid = cache.shadingValid = cache.glowValid = true;
    commitStageCache(cache, settings, kLayer, kEnv);
}

struct Dirty {
    bool geometry, reflection, shading, glow;
};

Dirty dirtyAfter(void (*change)(RenderSettings&)) {
    StageCache cache;
    RenderSettings settings = goldSettings();
    fillCache(cache, settings);
    change(settings);
    const StageFlags f = decideStages(cache, settings, kLayer, kEnv);
    return {f.geometryDirty, f.reflectionDirty, f.shadingDirty, f.glowDirty};
}

#define EXPECT_DIRTY(change, g, r, s, w)                               \
    do {                                                               \
        const Dirty d = dirtyAfter([](RenderSettings& x) { change; }); \
        EXPECT_EQ(d.geometry, g) << #change;                           \
        EXPECT_EQ(d.reflection, r) << #change;                         \
        EXPECT_EQ(d.shading, s) << #change;                            \
        EXPECT_EQ(d.glow, w) << #change;                               \
    } while (0)

TEST(StageCacheRules, EachFieldMakesItsStageAndEveryLaterStageDirty) {
    EXPECT_DIRTY((void)x, false, false, false, false);
    // Geometry fields.
    EXPECT_DIRTY(x.bevelStyle = 2, true, true, true, true);
    EXPECT_DIRTY(x.edgeProfile = 3, true, true, true, true);
    EXPECT_DIRTY(x.bevelDepth = 1.25f, true, true, true, true);
    EXPECT_DIRTY(x.bevelSoftness = 0.21f, true, true, true, true);
    EXPECT_DIRTY(x.smartEdge = false, true, true, true, true);
    EXPECT_DIRTY(x.edgeStrength = 0.5f, true, true, true, true);
    // Reflection fields.
    EXPECT_DIRTY(x.envBlur = 0.21f, false, true, true, true);
    EXPECT_DIRTY(x.envScale = 0.6f, false, true, true, true);
    EXPECT_DIRTY(x.envDisplacement = 0.4f, false, true, true, true);
    EXPECT_DIRTY(x.envRotX = 0.01f, false, true, true, true);
    EXPECT_DIRTY(x.envRotY = -0.01f, false, true, true, true);
    EXPECT_DIRTY(x.dispersion = 0.07f, false, true, true, true);
    EXPECT_DIRTY(x.anisotropy = 1.0f, false, true, true, true);
    // Shading fields.
    EXPECT_DIRTY(x.lightAngle = 136.0f, false, false, true, true);
    EXPECT_DIRTY(x.lightHeight = 55.0f, false, false, true, true);
    EXPECT_DIRTY(x.specular = 0.9f, false, false, true, true);
    EXPECT_DIRTY(x.roughness = 0.3f, false, false, true, true);
    EXPECT_DIRTY(x.metal = 0.5f, false, false, true, true);
    EXPECT_DIRTY(x.opacity = 0.5f, false, false, true, true);
    EXPECT_DIRTY(x.shadowColor[0] = 1.0f, false, false, true, true);
    EXPECT_DIRTY(x.midColor[1] = 1.0f, false, false, true, true);
    EXPECT_DIRTY(x.highColor[2] = 1.0f, false, false, true, true);
    EXPECT_DIRTY(x.saturation = 0.5f, false, false, true, true);
    EXPECT_DIRTY(x.tintBlend = 0.5f, false, false, true, true);
    EXPECT_DIRTY(x.envExposure = 0.9f, false, false, true, true);
    EXPECT_DIRTY(x.envContrast = 0.6f, false, false, true, true);
    // Any step of the radius changes the glow; the intensity only scales it at the output.
    EXPECT_DIRTY(x.glowRadius = 65.0009f, false, false, false, true);
    EXPECT_DIRTY(x.glowIntensity = 1.0f, false, false, false, false);
    // With anisotropy on, the light angle still reaches only the shading: the streaks' direction
    // is fixed.
    EXPECT_DIRTY((x.anisotropy = 0.5f, x.lightAngle = 90.0f), false, true, true, true);
    // Fields outside every rule.
    EXPECT_DIRTY(x.showEnvMap = true, false, false, false, false);
    EXPECT_DIRTY(x.expansion = 500, false, false, false, false);
    EXPECT_DIRTY(x.hdriMap = 3, false, false, false, false);  // acts through the map's key
}

TEST(StageCacheRules, HashEnvironmentAndValidFlagsGateTheirStages) {
    StageCache cache;
    const RenderSettings settings = goldSettings();
    fillCache(cache, settings);
    StageFlags f = decideStages(cache, settings, LayerIdentity{999u, 0}, kEnv);
    EXPECT_TRUE(f.geometryDirty && f.geometryChangedForDevice && f.glowDirty);
    EXPECT_FALSE(f.envChanged);
    // The same alpha with other colours, while the smart edge carves them.
    f = decideStages(cache, settings, LayerIdentity{1234u, 55u}, kEnv);
    EXPECT_TRUE(f.geometryDirty);

    f = decideStages(cache, settings, kLayer, mapKey(8));
    EXPECT_FALSE(f.geometryDirty || f.geometryChangedForDevice);
    EXPECT_TRUE(f.envChanged && f.reflectionDirty && f.shadingDirty && f.glowDirty);
    // A map whose key could not be made is never taken for the cached one.
    EnvMapKey unknown = kEnv;
    unknown.known = false;
    EXPECT_TRUE(decideStages(cache, settings, kLayer, unknown).reflectionDirty);

    cache.shadingValid = false;
    f = decideStages(cache, settings, kLayer, kEnv);
    EXPECT_FALSE(f.reflectionDirty);
    EXPECT_TRUE(f.shadingDirty && f.glowDirty);
}

}  // namespace
}  // namespace lumet
