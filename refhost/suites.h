// The suites a host offers through its basic suite, kept in a registry from (name, version) to
// suite pointer so that a test can offer or withhold any of them. The basic suite's functions
// carry no context, so they serve the registry of the host that is running a command on the
// calling thread (or the only live host, for threads the plug-in starts itself).
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "SPBasic.h"

namespace refhost {

// SPErr for a suite the host does not offer ('S!Fd').
inline constexpr SPErr kSuiteNotFound = 0x53214664;

class SuiteRegistry {
public:
    void offer(const std::string& name, int version, const void* suite);
    void withhold(const std::string& name, int version);
    const void* find(const std::string& name, int version) const;

    // Acquisitions minus releases of one suite so far (0 when the plug-in released all it took).
    int outstanding(const std::string& name, int version) const;
    int acquisitions(const std::string& name, int version) const;

    SPErr acquire(const char* name, int version, const void** suite);
    SPErr release(const char* name, int version);

private:
    using Key = std::pair<std::string, int>;
    mutable std::mutex mutex_;
    std::map<Key, const void*> suites_;
    std::map<Key, int> outstanding_;
    std::map<Key, int> acquisitions_;
};

// The basic suite whose functions look up the active registry.
SPBasicSuite* basicSuite();

// Makes a registry the active one on this thread for the lifetime of the scope.
class ActiveSuitesScope {
public:
    explicit ActiveSuitesScope(SuiteRegistry* registry);
    ~ActiveSuitesScope();
    ActiveSuitesScope(const ActiveSuitesScope&) = delete;
    ActiveSuitesScope& operator=(const ActiveSuitesScope&) = delete;

private:
    SuiteRegistry* previous_;
};

// Registries of live hosts: the fallback when no command is running on the calling thread.
void registerLiveRegistry(SuiteRegistry* registry);
void unregisterLiveRegistry(SuiteRegistry* registry);

// The host's ANSI callback suite ("PF ANSI Suite" version 1), backed by the C library.
const void* ansiSuite();

}  // namespace refhost
