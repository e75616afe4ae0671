// Parsing the PiPL bytes and comparing them with the registration.
#include "refhost/pipl_resource.h"

namespace refhost {
namespace {

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t(b[at]) | (std::uint32_t(b[at + 1]) << 8) |
           (std::uint32_t(b[at + 2]) << 16) | (std::uint32_t(b[at + 3]) << 24);
}

constexpr std::uint32_t code(const char (&c)[5]) {
    return (std::uint32_t(std::uint8_t(c[0])) << 24) | (std::uint32_t(std::uint8_t(c[1])) << 16) |
           (std::uint32_t(std::uint8_t(c[2])) << 8) | std::uint32_t(std::uint8_t(c[3]));
}

bool pascal(const std::vector<std::uint8_t>& data, std::string& out) {
    if (data.empty() || data[0] + 1u > data.size()) return false;
    out.assign(data.begin() + 1, data.begin() + 1 + data[0]);
    return true;
}

}  // namespace

bool parsePipl(const std::vector<std::uint8_t>& b, PiplProperties& pipl, std::string& error) {
    pipl = PiplProperties{};
    if (b.size() < 10 || b[0] != 1 || b[1] != 0) {
        error = "PiPL does not start with reserved word 1";
        return false;
    }
    if (u32(b, 2) != 0) {
        error = "PiPL list version is not 0";
        return false;
    }
    const std::uint32_t count = u32(b, 6);
    std::size_t at = 10;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (b.size() - at < 16) {
            error = "PiPL property " + std::to_string(i) + " is cut short";
            return false;
        }
        const std::uint32_t vendor = u32(b, at), key = u32(b, at + 4), length = u32(b, at + 12);
        at += 16;
        const std::size_t padded = (std::size_t(length) + 3) / 4 * 4;
        if (vendor != code("8BIM") || b.size() - at < padded) {
            error = "PiPL property " + std::to_string(i) + " is malformed";
            return false;
        }
        const std::vector<std::uint8_t> data(b.begin() + std::ptrdiff_t(at),
                                             b.begin() + std::ptrdiff_t(at + length));
        at += padded;
        bool ok = true;
        if (key == code("kind") && length == 4) {
            pipl.kind = u32(data, 0);
        } else if (key == code("name")) {
            ok = pascal(data, pipl.name);
        } else if (key == code("catg")) {
            ok = pascal(data, pipl.category);
        } else if (key == code("eMNA")) {
            ok = pascal(data, pipl.matchName);
        } else if (key == code("eURL")) {
            ok = pascal(data, pipl.supportAddress);
        } else if (key == code("8664")) {
            std::size_t end = 0;
            while (end < data.size() && data[end] != 0) ++end;
            ok = end < data.size();
            pipl.entryPoint.assign(data.begin(), data.begin() + std::ptrdiff_t(end));
        } else if (key == code("eSVR") && length == 4) {
            pipl.apiVersionMajor = std::int32_t(data[0] | (data[1] << 8));
            pipl.apiVersionMinor = std::int32_t(data[2] | (data[3] << 8));
        } else if (key == code("eVER") && length == 4) {
            pipl.version = u32(data, 0);
        } else if (key == code("eGLO") && length == 4) {
            pipl.outFlags = u32(data, 0);
        } else if (key == code("eGL2") && length == 4) {
            pipl.outFlags2 = u32(data, 0);
        }
        if (!ok) {
            error = "PiPL property " + std::to_string(i) + " holds a malformed string";
            return false;
        }
    }
    if (at != b.size()) {
        error = "PiPL has " + std::to_string(b.size() - at) + " bytes after its last property";
        return false;
    }
    pipl.propertyCount = int(count);
    return true;
}

std::vector<std::string> comparePiplWithRegistration(const PiplProperties& pipl,
                                                     const Registration& r) {
    std::vector<std::string> differences;
    auto text = [&](const char* what, const std::string& listed, const std::string& registered) {
        if (listed != registered) {
            differences.push_back(std::string(what) + ": PiPL \"" + listed + "\", registration \"" +
                                  registered + "\"");
        }
    };
    auto number = [&](const char* what, long long listed, long long registered) {
        if (listed != registered) {
            differences.push_back(std::string(what) + ": PiPL " + std::to_string(listed) +
                                  ", registration " + std::to_string(registered));
        }
    };
    if (r.calls != 1) number("registration calls", 1, r.calls);
    text("name", pipl.name, r.name);
    text("match name", pipl.matchName, r.matchName);
    text("category", pipl.category, r.category);
    text("entry point", pipl.entryPoint, r.entryPoint);
    text("support address", pipl.supportAddress, r.supportAddress);
    number("kind", pipl.kind, std::uint32_t(r.kind));
    number("API version", pipl.apiVersionMajor, r.apiVersionMajor);
    number("API sub-version", pipl.apiVersionMinor, r.apiVersionMinor);
    return differences;
}

std::string checkPiplResource(const std::string& pluginPath, const Registration& registration) {
    if (!pluginResourcesSupported()) return {};
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readPiplResource(pluginPath, bytes, error)) return error;
    PiplProperties pipl;
    if (!parsePipl(bytes, pipl, error)) return pluginPath + ": " + error;
    std::string report;
    for (const std::string& difference : comparePiplWithRegistration(pipl, registration)) {
        report += (report.empty() ? "" : "; ") + difference;
    }
    return report.empty() ? report : pluginPath + ": PiPL disagrees with registration: " + report;
}

}  // namespace refhost
