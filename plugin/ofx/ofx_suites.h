// The host's suites as the OpenFX front end uses them, fetched once at load, and small readers and
// writers over the property suite. The property, image effect and parameter suites are required;
// the message suite is used when the host has one.
#pragma once
#include <string>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "ofxParam.h"
#include "ofxProperty.h"

namespace lumet::ofx {

struct HostSuites {
    OfxHost* host = nullptr;
    const OfxPropertySuiteV1* property = nullptr;
    const OfxImageEffectSuiteV1* imageEffect = nullptr;
    const OfxParameterSuiteV1* parameter = nullptr;
    const OfxMessageSuiteV1* message = nullptr;
};

// The suites of the host that set itself last (setHost); the front end reads them everywhere.
HostSuites& suites();
void setHost(OfxHost* host);
// Fetches the suites at load: kOfxStatErrMissingHostFeature when there is no host or a required
// suite is missing.
OfxStatus fetchSuites();

// A status that is not OK, thrown below the entry point and answered as the action's result.
struct StatusError {
    OfxStatus status;
};
// Throws StatusError for a failed suite call.
void check(OfxStatus status);

// Property access on one set. Getters return the fallback when the property is missing.
class Props {
public:
    explicit Props(OfxPropertySetHandle handle) : handle_(handle) {}
    OfxPropertySetHandle handle() const { return handle_; }

    void set(const char* name, const char* value, int index = 0) const;
    void set(const char* name, int value, int index = 0) const;
    void set(const char* name, double value, int index = 0) const;
    void setPointer(const char* name, void* value) const;

    std::string getString(const char* name, int index = 0, const char* fallback = "") const;
    int getInt(const char* name, int index = 0, int fallback = 0) const;
    double getDouble(const char* name, int index = 0, double fallback = 0.0) const;
    void* getPointer(const char* name) const;

private:
    OfxPropertySetHandle handle_;
};

// Tells the user through the message suite (when the host has one) why an action failed.
void reportError(OfxImageEffectHandle effect, const char* text);

}  // namespace lumet::ofx
