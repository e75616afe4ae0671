// The stage cache's dirty rules on the record itself: which stages each settings field, the layer,
// the environment map and the valid flags make dirty.
#include "render/stage_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

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

// The first stage a change of the cached frame's settings makes dirty (kGeometry .. kGlow), with
// every later stage; kNone: none.
enum Stage : int { kGeometry, kReflection, kShading, kGlow, kNone };

Stage firstDirtyAfter(void (*change)(RenderSettings&)) {
    StageCache cache;
    RenderSettings settings = goldSettings();
    fillCache(cache, settings);
    change(settings);
    const StageFlags f = decideStages(cache, settings, kLayer, kEnv);
    const bool dirty[] = {f.geometryDirty, f.reflectionDirty, f.shadingDirty, f.glowDirty};
    int first = kNone;
    for (int s = kGlow; s >= kGeometry; --s) {
        if (dirty[s] && first == s + 1)
            first = s;
        else if (dirty[s])
            return Stage(-1);  // a dirty stage with a clean one after it
    }
    return Stage(first);
}

using Change = std::pair<const char*, void (*)(RenderSettings&)>;
#define CHANGE(e) Change(#e, [](RenderSettings& x) { e; })

TEST(StageCacheRules, EachFieldMakesItsStageAndEveryLaterStageDirty) {
    const std::pair<Stage, std::vector<Change>> rows[] = {
        {kNone, {CHANGE((void)x)}},
        {kGeometry,
         {CHANGE(x.bevelStyle = 2), CHANGE(x.edgeProfile = 3), CHANGE(x.bevelDepth = 1.25f),
          CHANGE(x.bevelSoftness = 0.21f), CHANGE(x.smartEdge = false),
          CHANGE(x.edgeStrength = 0.5f)}},
        {kReflection,
         {CHANGE(x.envBlur = 0.21f), CHANGE(x.envScale = 0.6f), CHANGE(x.envDisplacement = 0.4f),
          CHANGE(x.envRotX = 0.01f), CHANGE(x.envRotY = -0.01f), CHANGE(x.dispersion = 0.07f),
          CHANGE(x.anisotropy = 1.0f),
          // With anisotropy on, the light angle still reaches only the shading:
          // the streaks' direction is fixed.
          CHANGE((x.anisotropy = 0.5f, x.lightAngle = 90.0f))}},
        {kShading,
         {CHANGE(x.lightAngle = 136.0f), CHANGE(x.lightHeight = 55.0f), CHANGE(x.specular = 0.9f),
          CHANGE(x.roughness = 0.3f), CHANGE(x.metal = 0.5f), CHANGE(x.opacity = 0.5f),
          CHANGE(x.shadowColor[0] = 1.0f), CHANGE(x.midColor[1] = 1.0f),
          CHANGE(x.highColor[2] = 1.0f), CHANGE(x.saturation = 0.5f), CHANGE(x.tintBlend = 0.5f),
          CHANGE(x.envExposure = 0.9f), CHANGE(x.envContrast = 0.6f)}},
        // Any step of the radius changes the glow; the intensity only scales it at the output.
        {kGlow, {CHANGE(x.glowRadius = 65.0009f)}},
        // Fields outside every rule (the map acts through its key).
        {kNone,
         {CHANGE(x.glowIntensity = 1.0f), CHANGE(x.showEnvMap = true), CHANGE(x.expansion = 500),
          CHANGE(x.hdriMap = 3)}},
    };
    for (const auto& [stage, changes] : rows)
        for (const auto& [name, change] : changes)
            EXPECT_EQ(firstDirtyAfter(change), stage) << name;
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
