// The OpenFX image actions of an instance: clip preferences, the regions of definition and of
// interest, and the render, which runs the one frame pipeline.
#pragma once
#include "ofx/ofx_instance.h"
#include "ofx/ofx_suites.h"

namespace lumet::ofx {

// Output RGBA and premultiplied, as the pipeline writes it.
OfxStatus clipPreferences(Instance& instance, const Props& outArgs);
// The source's region grown by the output margin on every side.
OfxStatus regionOfDefinition(Instance& instance, const Props& inArgs, const Props& outArgs);
// The whole source, and the whole Environment clip when it is connected.
OfxStatus regionsOfInterest(Instance& instance, const Props& inArgs, const Props& outArgs);
// Renders the frame at the time and render scale of the arguments into the output clip's image.
OfxStatus renderAction(Instance& instance, const Props& inArgs);
// Frees the instance's kept products (the host asks when it is short of memory).
void purgeCaches(Instance& instance);

}  // namespace lumet::ofx
