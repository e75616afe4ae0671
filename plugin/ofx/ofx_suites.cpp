// The host's suites and the property helpers.
#include "ofx/ofx_suites.h"

namespace lumet::ofx {

namespace {
HostSuites gSuites;
}  // namespace

HostSuites& suites() { return gSuites; }

void setHost(OfxHost* host) { gSuites = HostSuites{host}; }

OfxStatus fetchSuites() {
    OfxHost* host = gSuites.host;
    if (!host || !host->fetchSuite) return kOfxStatErrMissingHostFeature;
    auto fetch = [host](const char* name, int version) {
        return host->fetchSuite(host->host, name, version);
    };
    gSuites.property = static_cast<const OfxPropertySuiteV1*>(fetch(kOfxPropertySuite, 1));
    gSuites.imageEffect = static_cast<const OfxImageEffectSuiteV1*>(fetch(kOfxImageEffectSuite, 1));
    gSuites.parameter = static_cast<const OfxParameterSuiteV1*>(fetch(kOfxParameterSuite, 1));
    gSuites.message = static_cast<const OfxMessageSuiteV1*>(fetch(kOfxMessageSuite, 1));
    if (!gSuites.property || !gSuites.imageEffect || !gSuites.parameter) {
        return kOfxStatErrMissingHostFeature;
    }
    return kOfxStatOK;
}

void check(OfxStatus status) {
    if (status != kOfxStatOK) throw StatusError{status};
}

void Props::set(const char* name, const char* value, int index) const {
    check(gSuites.property->propSetString(handle_, name, index, value));
}
void Props::set(const char* name, int value, int index) const {
    check(gSuites.property->propSetInt(handle_, name, index, value));
}
void Props::set(const char* name, double value, int index) const {
    check(gSuites.property->propSetDouble(handle_, name, index, value));
}
void Props::setPointer(const char* name, void* value) const {
    check(gSuites.property->propSetPointer(handle_, name, 0, value));
}

std::string Props::getString(const char* name, int index, const char* fallback) const {
    char* value = nullptr;
    if (gSuites.property->propGetString(handle_, name, index, &value) != kOfxStatOK || !value)
        return fallback;
    return value;
}
int Props::getInt(const char* name, int index, int fallback) const {
    int value = fallback;
    return gSuites.property->propGetInt(handle_, name, index, &value) == kOfxStatOK ? value
                                                                                    : fallback;
}
double Props::getDouble(const char* name, int index, double fallback) const {
    double value = fallback;
    return gSuites.property->propGetDouble(handle_, name, index, &value) == kOfxStatOK ? value
                                                                                       : fallback;
}
void* Props::getPointer(const char* name) const {
    void* value = nullptr;
    return gSuites.property->propGetPointer(handle_, name, 0, &value) == kOfxStatOK ? value
                                                                                    : nullptr;
}

void reportError(OfxImageEffectHandle effect, const char* text) {
    if (gSuites.message && gSuites.message->message) {
        gSuites.message->message(effect, kOfxMessageError, "lumet.error", "%s", text);
    }
}

}  // namespace lumet::ofx
