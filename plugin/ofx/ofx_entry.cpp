// The OpenFX entry: the plug-in record and the main entry, which routes each action and keeps
// every exception and error inside the plug-in (a failed action answers a status).
#include "ofx/ofx_entry.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "gpu/gpu_runtime.h"
#include "core/effect_identity.h"
#include "ofx/ofx_instance.h"
#include "ofx/ofx_params.h"
#include "ofx/ofx_render.h"
#include "ofx/ofx_suites.h"
#include "render/render_locks.h"

namespace lumet::ofx {

namespace {

OfxStatus load() {
    const OfxStatus status = fetchSuites();
    if (status != kOfxStatOK) return status;
    createRenderLocks();
    if (!gpu::gpuRuntimeReady()) gpu::startGpuRuntime();
    return kOfxStatOK;
}

OfxStatus unload() {
    gpu::shutdownGpuRuntime();
    return kOfxStatOK;
}

Props effectProps(const void* handle) {
    OfxPropertySetHandle props = nullptr;
    check(suites().imageEffect->getPropertySet(
        static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)), &props));
    return Props(props);
}

OfxStatus describe(const void* handle) {
    const Props props = effectProps(handle);
    props.set(kOfxPropLabel, kEffectName);
    props.set(kOfxImageEffectPluginPropGrouping, kEffectCategory);
    props.set(kOfxPropPluginDescription, "Bevelled metal and glass from a layer's alpha");
    const int version[3] = {int(kEffectMajorVersion), int(kEffectMinorVersion),
                            int(kEffectBugVersion)};
    for (int i = 0; i < 3; ++i) props.set(kOfxPropVersion, version[i], i);
    props.set(kOfxPropVersionLabel, (std::to_string(version[0]) + "." + std::to_string(version[1]) +
                                     "." + std::to_string(version[2]))
                                        .c_str());
    props.set(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextFilter, 0);
    props.set(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextGeneral, 1);
    props.set(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthByte, 0);
    props.set(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthShort, 1);
    props.set(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthFloat, 2);
    props.set(kOfxImageEffectPropSupportsTiles, 0);
    props.set(kOfxImageEffectPropSupportsMultiResolution, 1);
    props.set(kOfxImageEffectPropTemporalClipAccess, 0);
    props.set(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    props.set(kOfxImageEffectPluginPropSingleInstance, 0);
    // Each render works in its instance's cache or, when that is busy, a cache of its own; the
    // effect spreads a frame over its own threads.
    props.set(kOfxImageEffectPluginRenderThreadSafety, kOfxImageEffectRenderFullySafe);
    props.set(kOfxImageEffectPluginPropHostFrameThreading, 0);
    return kOfxStatOK;
}

void defineClip(const void* handle, const char* name, bool optional) {
    OfxPropertySetHandle clipProps = nullptr;
    check(suites().imageEffect->clipDefine(
        static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)), name, &clipProps));
    const Props props(clipProps);
    props.set(kOfxImageEffectPropSupportedComponents, kOfxImageComponentRGBA);
    props.set(kOfxImageEffectPropSupportsTiles, 0);
    props.set(kOfxImageEffectPropTemporalClipAccess, 0);
    if (optional) props.set(kOfxImageClipPropOptional, 1);
}

OfxStatus describeInContext(const void* handle, const Props& inArgs) {
    const std::string context = inArgs.getString(kOfxImageEffectPropContext);
    const bool general = context == kOfxImageEffectContextGeneral;
    if (!general && context != kOfxImageEffectContextFilter) return kOfxStatErrUnsupported;
    defineClip(handle, kOfxImageEffectSimpleSourceClipName, false);
    if (general) defineClip(handle, kEnvironmentClipName, true);
    defineClip(handle, kOfxImageEffectOutputClipName, false);
    OfxParamSetHandle paramSet = nullptr;
    check(suites().imageEffect->getParamSet(
        static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)), &paramSet));
    describeParams(paramSet);
    return kOfxStatOK;
}

OfxStatus createInstance(const void* handle) {
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    const OfxImageEffectSuiteV1& suite = *suites().imageEffect;
    auto instance = std::make_unique<Instance>();
    instance->effect = effect;
    check(suite.getParamSet(effect, &instance->paramSet));
    fetchParamHandles(instance->paramSet, instance->params);
    check(suite.clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &instance->source,
                              nullptr));
    check(suite.clipGetHandle(effect, kOfxImageEffectOutputClipName, &instance->output, nullptr));
    const Props props = effectProps(handle);
    if (props.getString(kOfxImageEffectPropContext) == kOfxImageEffectContextGeneral) {
        check(suite.clipGetHandle(effect, kEnvironmentClipName, &instance->environment, nullptr));
    }
    props.setPointer(kOfxPropInstanceData, instance.get());
    instance.release();
    return kOfxStatOK;
}

Instance* instanceOf(const void* handle) {
    auto* instance = static_cast<Instance*>(effectProps(handle).getPointer(kOfxPropInstanceData));
    if (!instance) throw StatusError{kOfxStatErrBadHandle};
    return instance;
}

OfxStatus destroyInstance(const void* handle) {
    Instance* instance = instanceOf(handle);
    effectProps(handle).setPointer(kOfxPropInstanceData, nullptr);
    delete instance;
    return kOfxStatOK;
}

// A user's choice in the Preset popup rewrites the preset's parameters; the host's own changes
// (loading a project, undo, the effect's own writes) do not.
OfxStatus instanceChanged(const void* handle, const Props& inArgs) {
    if (inArgs.getString(kOfxPropType) != kOfxTypeParameter ||
        inArgs.getString(kOfxPropName) != paramName(PARAM_PRESET) ||
        inArgs.getString(kOfxPropChangeReason) != kOfxChangeUserEdited) {
        return kOfxStatReplyDefault;
    }
    Instance* instance = instanceOf(handle);
    applyPresetChoice(instance->params, instance->paramSet, inArgs.getDouble(kOfxPropTime));
    return kOfxStatOK;
}

OfxStatus dispatch(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                   OfxPropertySetHandle outArgs) {
    auto is = [action](const char* name) { return std::strcmp(action, name) == 0; };
    if (is(kOfxActionLoad)) return load();
    if (!suites().property || !suites().imageEffect || !suites().parameter)
        return kOfxStatErrMissingHostFeature;
    if (is(kOfxActionUnload)) return unload();
    if (is(kOfxActionDescribe)) return describe(handle);
    if (is(kOfxImageEffectActionDescribeInContext)) return describeInContext(handle, Props(inArgs));
    if (is(kOfxActionCreateInstance)) return createInstance(handle);
    if (is(kOfxActionDestroyInstance)) return destroyInstance(handle);
    if (is(kOfxActionInstanceChanged)) return instanceChanged(handle, Props(inArgs));
    if (is(kOfxImageEffectActionGetClipPreferences))
        return clipPreferences(*instanceOf(handle), Props(outArgs));
    if (is(kOfxImageEffectActionGetRegionOfDefinition))
        return regionOfDefinition(*instanceOf(handle), Props(inArgs), Props(outArgs));
    if (is(kOfxImageEffectActionGetRegionsOfInterest))
        return regionsOfInterest(*instanceOf(handle), Props(inArgs), Props(outArgs));
    if (is(kOfxImageEffectActionRender)) return renderAction(*instanceOf(handle), Props(inArgs));
    if (is(kOfxImageEffectActionBeginSequenceRender) ||
        is(kOfxImageEffectActionEndSequenceRender)) {
        return kOfxStatOK;
    }
    if (is(kOfxActionPurgeCaches)) {
        purgeCaches(*instanceOf(handle));
        return kOfxStatOK;
    }
    return kOfxStatReplyDefault;  // identity, time domain, frames needed, edits: the defaults
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
    if (!action) return kOfxStatErrValue;
    try {
        return dispatch(action, handle, inArgs, outArgs);
    } catch (const StatusError& error) {
        return error.status;
    } catch (const std::bad_alloc&) {
        return kOfxStatErrMemory;
    } catch (...) {
        return kOfxStatFailed;
    }
}

void setHostRecord(OfxHost* host) { setHost(host); }

OfxPlugin gPlugin = {kOfxImageEffectPluginApi,
                     kOfxImageEffectPluginApiVersion,
                     kPluginIdentifier,
                     kEffectMajorVersion,
                     kEffectMinorVersion,
                     setHostRecord,
                     mainEntry};

}  // namespace

int numberOfPlugins() { return 1; }

OfxPlugin* plugin(int nth) { return nth == 0 ? &gPlugin : nullptr; }

OfxStatus setHostEntry(const OfxHost* host) {
    setHost(const_cast<OfxHost*>(host));
    return kOfxStatOK;
}

}  // namespace lumet::ofx
