// The OpenFX plug-in: its record, and the entry points the bundle's binary exports.
#pragma once
#include "ofxCore.h"

namespace lumet::ofx {

// The reverse-domain identifier hosts store projects under: fixed for good, since a saved
// project that names another identifier no longer finds the effect.
inline constexpr char kPluginIdentifier[] = "com.veltra.lumet";

int numberOfPlugins();
OfxPlugin* plugin(int nth);  // null for any but the first
OfxStatus setHostEntry(const OfxHost* host);

}  // namespace lumet::ofx
