// One effect instance as the OpenFX front end keeps it: the host's handles, and a cache of its own
// (the prepared environment map and the stage cache), so that a change reruns only the stages it
// makes stale, whatever the other instances render.
#pragma once
#include "ofx/ofx_params.h"
#include "ofxImageEffect.h"
#include "platform/platform.h"
#include "render/instance_render.h"

namespace lumet::ofx {

struct Instance {
    Instance() { cacheLock.initialize(); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    OfxImageEffectHandle effect = nullptr;
    OfxParamSetHandle paramSet = nullptr;
    ParamHandles params;
    OfxImageClipHandle source = nullptr;
    OfxImageClipHandle output = nullptr;
    OfxImageClipHandle environment = nullptr;  // the general context's optional map clip

    // Guards `cache`; a render that finds it taken renders with a cache of its own instead.
    platform::Lock cacheLock;
    InstanceCache cache;
};

// The name of the general context's optional clip that stands for the custom map layer.
inline constexpr char kEnvironmentClipName[] = "Environment";

}  // namespace lumet::ofx
