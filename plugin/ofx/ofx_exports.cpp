// The only symbols the OpenFX binary exports, under the names the standard gives them.
#include "ofx/ofx_entry.h"

#ifdef _WIN32
#define LUMET_OFX_EXPORT __declspec(dllexport)
#else
#define LUMET_OFX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LUMET_OFX_EXPORT int OfxGetNumberOfPlugins(void) {
    return lumet::ofx::numberOfPlugins();
}

extern "C" LUMET_OFX_EXPORT OfxPlugin* OfxGetPlugin(int nth) { return lumet::ofx::plugin(nth); }

extern "C" LUMET_OFX_EXPORT OfxStatus OfxSetHost(const OfxHost* host) {
    return lumet::ofx::setHostEntry(host);
}
