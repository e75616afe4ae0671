// Shared helpers of the environment-map tests: owned six-plane sets of any size.
#pragma once
#include <cstdint>
#include <vector>

#include "support/world_view.h"
#include "envmap/env_map.h"

namespace lumet::testing {

struct MapPlanes {
    std::int32_t w, h;
    std::vector<float> planes[6];  // sharp R, G, B, smooth R, G, B

    MapPlanes(std::int32_t width, std::int32_t height) : w(width), h(height) {
        for (auto& plane : planes) plane.assign(static_cast<std::size_t>(w) * h, -1.0f);
    }
    float* p(int i) { return planes[i].data(); }
    void loadBuiltIn(std::int32_t radius, std::int32_t hdriMap) {
        loadBuiltInEnvMap(p(0), p(1), p(2), p(3), p(4), p(5), w, h, radius, hdriMap);
    }
    void loadLayer(const PF_EffectWorld& layer, std::int32_t radius, std::int32_t format) {
        loadLayerEnvMap(viewOfWorld(layer, format), p(0), p(1), p(2), p(3), p(4), p(5), w, h,
                        radius);
    }
    bool sharpEquals(const MapPlanes& o) const {
        return planes[0] == o.planes[0] && planes[1] == o.planes[1] && planes[2] == o.planes[2];
    }
    bool smoothEquals(const MapPlanes& o) const {
        return planes[3] == o.planes[3] && planes[4] == o.planes[4] && planes[5] == o.planes[5];
    }
};

}  // namespace lumet::testing
