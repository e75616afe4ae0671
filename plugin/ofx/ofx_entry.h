// The OpenFX plug-in: its record, and the entry points the bundle's binary exports.
#pragma once
#include "ofxCore.h"

namespace lumet::ofx {

// The reverse-domain identifier hosts store projects under.
inline constexpr char kPluginIdentifier[] = "example.veltra.lumet";

int numberOfPlugins();
OfxPlugin* plugin(int nth);  // null for any but the first
OfxStatus setHostEntry(const OfxHost* host);

}  // namespace lumet::ofx
