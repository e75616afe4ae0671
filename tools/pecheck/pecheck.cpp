// Build-machine check of a cross-built Windows binary:
//   pecheck FILE [--dll] [--exports A,B] [--system-imports-only] [--pipl BYTES]
// --dll: the file is a 64-bit x86 DLL; --exports: its export table holds exactly these names;
// --system-imports-only: every imported DLL is an operating-system DLL (no compiler runtime);
// --pipl: resource "PIPL" 16000, language 1033, exists once and equals the bytes of file BYTES.
// Prints what it found and exits 1 when a check fails.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pe_image.h"

namespace {

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// DLLs every Windows installation carries. MinGW runtime DLLs (libstdc++-6, libgcc_s_seh-1,
// libwinpthread-1) are not among them: a binary that imports them would not load on its own.
bool isSystemDll(const std::string& name) {
    static const char* const kSystemDlls[] = {
        "kernel32.dll", "user32.dll",  "gdi32.dll",   "advapi32.dll", "msvcrt.dll",
        "ucrtbase.dll", "ntdll.dll",   "shell32.dll", "ole32.dll",    "ws2_32.dll",
        "bcrypt.dll",   "shlwapi.dll", "version.dll"};
    const std::string n = lower(name);
    if (n.rfind("api-ms-win-", 0) == 0) return true;
    return std::find_if(std::begin(kSystemDlls), std::end(kSystemDlls),
                        [&](const char* s) { return n == s; }) != std::end(kSystemDlls);
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> parts;
    std::stringstream stream(list);
    for (std::string part; std::getline(stream, part, ',');) parts.push_back(part);
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: pecheck FILE [--dll] [--exports A,B] [--system-imports-only] "
                     "[--pipl BYTES]\n");
        return 2;
    }
    const std::string path = argv[1];
    bool wantDll = false, systemImportsOnly = false;
    std::string exportList, piplPath;
    bool checkExports = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dll") {
            wantDll = true;
        } else if (arg == "--system-imports-only") {
            systemImportsOnly = true;
        } else if (arg == "--exports" && i + 1 < argc) {
            exportList = argv[++i];
            checkExports = true;
        } else if (arg == "--pipl" && i + 1 < argc) {
            piplPath = argv[++i];
        } else {
            std::fprintf(stderr, "pecheck: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
    }

    std::vector<std::uint8_t> file;
    if (!readFile(path, file)) {
        std::fprintf(stderr, "pecheck: cannot read %s\n", path.c_str());
        return 1;
    }
    pecheck::PeImage image;
    std::string error;
    if (!pecheck::readPeImage(file, image, error)) {
        std::fprintf(stderr, "pecheck: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }

    int failures = 0;
    auto fail = [&](const std::string& message) {
        std::printf("FAIL %s\n", message.c_str());
        ++failures;
    };
    std::printf("%s: machine 0x%04x, %s\n", path.c_str(), image.machine,
                image.isDll ? "DLL" : "program");
    if (wantDll && (image.machine != 0x8664 || !image.isDll)) fail("not a 64-bit x86 DLL");

    std::printf("exports:");
    for (const std::string& name : image.exports) std::printf(" %s", name.c_str());
    std::printf("\n");
    if (checkExports) {
        std::vector<std::string> expected = split(exportList), actual = image.exports;
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        if (expected != actual) fail("export table is not exactly " + exportList);
    }

    std::printf("imports:");
    for (const std::string& name : image.imports) std::printf(" %s", name.c_str());
    std::printf("\n");
    if (systemImportsOnly) {
        for (const std::string& name : image.imports) {
            if (!isSystemDll(name)) fail("imports non-system DLL " + name);
        }
    }

    for (const pecheck::Resource& resource : image.resources) {
        std::printf("resource %s %s language %u: %zu bytes\n", resource.type.c_str(),
                    resource.name.c_str(), resource.language, resource.bytes.size());
    }
    if (!piplPath.empty()) {
        std::vector<std::uint8_t> expected;
        if (!readFile(piplPath, expected)) {
            fail("cannot read " + piplPath);
        } else {
            int found = 0;
            for (const pecheck::Resource& resource : image.resources) {
                if (resource.type != "PIPL") continue;
                if (resource.name != "#16000" || resource.language != 1033) {
                    fail("PIPL resource " + resource.name + " language " +
                         std::to_string(resource.language) + " (want #16000, 1033)");
                    continue;
                }
                ++found;
                if (resource.bytes != expected) {
                    fail("PIPL 16000 differs from " + piplPath + " (" +
                         std::to_string(resource.bytes.size()) + " vs " +
                         std::to_string(expected.size()) + " bytes)");
                } else {
                    std::printf("PIPL 16000 language 1033 equals %s (%zu bytes)\n",
                                piplPath.c_str(), expected.size());
                }
            }
            if (found != 1)
                fail("want exactly one PIPL 16000 resource, found " + std::to_string(found));
        }
    }
    std::printf("%s\n", failures ? "pecheck: FAILED" : "pecheck: ok");
    return failures ? 1 : 0;
}
