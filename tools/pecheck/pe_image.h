// A minimal reader of 64-bit Windows PE files (DLLs and programs): the machine and DLL flag, the
// exported names, the imported DLL names and the resources, read straight from the file bytes so
// that the build machine can check a cross-built binary without Windows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pecheck {

struct Resource {
    std::string type;  // a named type as its name ("PIPL"), a numbered one as "#<id>"
    std::string name;  // likewise
    std::uint32_t language = 0;
    std::vector<std::uint8_t> bytes;
};

struct PeImage {
    std::uint16_t machine = 0;
    bool isDll = false;
    bool isPe32Plus = false;
    std::vector<std::string> exports;
    std::vector<std::string> imports;
    std::vector<Resource> resources;
};

// Parses the file's bytes. Returns false and sets error when they are not a well-formed PE file.
bool readPeImage(const std::vector<std::uint8_t>& file, PeImage& image, std::string& error);

}  // namespace pecheck
