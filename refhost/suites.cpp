// Suite registry, the basic suite and the ANSI suite.
#include "refhost/suites.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "AE_EffectCBSuites.h"
#include "refhost/callback_faults.h"

namespace refhost {

void SuiteRegistry::offer(const std::string& name, int version, const void* suite) {
    std::lock_guard<std::mutex> lock(mutex_);
    suites_[{name, version}] = suite;
}

void SuiteRegistry::withhold(const std::string& name, int version) {
    std::lock_guard<std::mutex> lock(mutex_);
    suites_.erase({name, version});
}

const void* SuiteRegistry::find(const std::string& name, int version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? nullptr : it->second;
}

int SuiteRegistry::outstanding(const std::string& name, int version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = outstanding_.find({name, version});
    return it == outstanding_.end() ? 0 : it->second;
}

int SuiteRegistry::acquisitions(const std::string& name, int version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = acquisitions_.find({name, version});
    return it == acquisitions_.end() ? 0 : it->second;
}

SPErr SuiteRegistry::acquire(const char* name, int version, const void** suite) {
    if (!name || !suite) return kSuiteNotFound;
    std::lock_guard<std::mutex> lock(mutex_);
    *suite = nullptr;
    auto it = suites_.find({name, version});
    if (it == suites_.end()) return kSuiteNotFound;
    *suite = it->second;
    ++outstanding_[{name, version}];
    ++acquisitions_[{name, version}];
    return kSPNoError;
}

SPErr SuiteRegistry::release(const char* name, int version) {
    if (!name) return kSuiteNotFound;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = outstanding_.find({name, version});
    if (it == outstanding_.end() || it->second == 0) return kSuiteNotFound;
    --it->second;
    return kSPNoError;
}

namespace {

thread_local SuiteRegistry* activeRegistry = nullptr;
std::mutex liveMutex;
std::vector<SuiteRegistry*> liveRegistries;

SuiteRegistry* currentRegistry() {
    if (activeRegistry) return activeRegistry;
    std::lock_guard<std::mutex> lock(liveMutex);
    return liveRegistries.size() == 1 ? liveRegistries.front() : nullptr;
}

SPErr acquireSuite(const char* name, int32_t version, const void** suite) {
    SuiteRegistry* registry = currentRegistry();
    if (!registry) {
        if (suite) *suite = nullptr;
        return kSuiteNotFound;
    }
    const std::string site = std::string("AcquireSuite ") + (name ? name : "");
    if (A_Err err; hostCallbackFails(site.c_str(), &err)) {
        if (suite) *suite = nullptr;
        return kSuiteNotFound;
    }
    return registry->acquire(name, version, suite);
}

SPErr releaseSuite(const char* name, int32_t version) {
    SuiteRegistry* registry = currentRegistry();
    return registry ? registry->release(name, version) : kSuiteNotFound;
}

SPBoolean isEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

SPErr allocateBlock(size_t size, void** block) {
    *block = std::malloc(size ? size : 1);
    return *block ? SPErr(kSPNoError) : SPErr(A_Err_ALLOC);
}
SPErr freeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}
SPErr reallocateBlock(void* block, size_t size, void** out) {
    void* grown = std::realloc(block, size ? size : 1);
    if (!grown) return A_Err_ALLOC;
    *out = grown;
    return kSPNoError;
}
SPErr undefinedFunction() { return kSuiteNotFound; }

SPBasicSuite theBasicSuite = {acquireSuite, releaseSuite,    isEqual,          allocateBlock,
                              freeBlock,    reallocateBlock, undefinedFunction};

A_char* ansiStrcpy(A_char* to, const A_char* from) { return std::strcpy(to, from); }

const PF_ANSICallbacksSuite1 theAnsiSuite = {
    [](A_FpLong x) { return std::atan(x); },
    [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); },
    [](A_FpLong x) { return std::ceil(x); },
    [](A_FpLong x) { return std::cos(x); },
    [](A_FpLong x) { return std::exp(x); },
    [](A_FpLong x) { return std::fabs(x); },
    [](A_FpLong x) { return std::floor(x); },
    [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); },
    [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); },
    [](A_FpLong x) { return std::log(x); },
    [](A_FpLong x) { return std::log10(x); },
    [](A_FpLong x, A_FpLong y) { return std::pow(x, y); },
    [](A_FpLong x) { return std::sin(x); },
    [](A_FpLong x) { return std::sqrt(x); },
    [](A_FpLong x) { return std::tan(x); },
    std::sprintf,
    ansiStrcpy,
    [](A_FpLong x) { return std::asin(x); },
    [](A_FpLong x) { return std::acos(x); },
};

}  // namespace

SPBasicSuite* basicSuite() { return &theBasicSuite; }

ActiveSuitesScope::ActiveSuitesScope(SuiteRegistry* registry) : previous_(activeRegistry) {
    activeRegistry = registry;
}
ActiveSuitesScope::~ActiveSuitesScope() { activeRegistry = previous_; }

void registerLiveRegistry(SuiteRegistry* registry) {
    std::lock_guard<std::mutex> lock(liveMutex);
    liveRegistries.push_back(registry);
}

void unregisterLiveRegistry(SuiteRegistry* registry) {
    std::lock_guard<std::mutex> lock(liveMutex);
    std::erase(liveRegistries, registry);
}

const void* ansiSuite() { return &theAnsiSuite; }

}  // namespace refhost
