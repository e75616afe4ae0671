// The plug-in property list (PiPL) as a host reads it from a Windows plug-in's resources: the
// resource "PIPL" 16000 (US English), parsed into its properties and checked against what the
// plug-in's registration function reported. Hosts that read resources rely on the list alone,
// so the two descriptions of the effect must agree.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "refhost/host.h"

namespace refhost {

struct PiplProperties {
    std::uint32_t kind = 0;  // four-character code, first character in the high byte
    std::string name, category, entryPoint, matchName, supportAddress;
    std::int32_t apiVersionMajor = -1, apiVersionMinor = -1;
    std::uint32_t version = 0, outFlags = 0, outFlags2 = 0;
    int propertyCount = 0;
};

// Parses PiPL bytes (reserved word 1, list version 0, then vendor/key/id/length properties with
// data padded to 4 bytes). Returns false and sets error when the bytes are malformed.
bool parsePipl(const std::vector<std::uint8_t>& bytes, PiplProperties& pipl, std::string& error);

// The differences between the property list and the registration, one line each; empty when
// they agree.
std::vector<std::string> comparePiplWithRegistration(const PiplProperties& pipl,
                                                     const Registration& registration);

// True where plug-ins carry their property list as a resource (Windows).
bool pluginResourcesSupported();

// Reads resource "PIPL" 16000, language 1033, from the plug-in file without running its code.
// Returns false and sets error when the file cannot be opened or holds no such resource.
bool readPiplResource(const std::string& pluginPath, std::vector<std::uint8_t>& bytes,
                      std::string& error);

// The whole host-side check: read, parse and compare. Returns an empty string when the resource
// agrees with the registration (or the platform has no resources), else what is wrong.
std::string checkPiplResource(const std::string& pluginPath, const Registration& registration);

}  // namespace refhost
