// Build-time tool: writes the plug-in property list's bytes, as the effect's own builder makes
// them, to a file that the Windows resource script embeds as resource "PIPL" 16000. Built for
// the build machine, so a cross build runs it natively.
#include <cstdio>
#include <vector>

#include "host/pipl.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: piplgen OUTPUT\n");
        return 2;
    }
    const std::vector<std::uint8_t> bytes = lumet::buildPipl();
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::fprintf(stderr, "piplgen: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "piplgen: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
