// The subcommand registry.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace lumet::cli {
namespace {

std::vector<Subcommand>& registry() {
    static std::vector<Subcommand> commands;
    return commands;
}

}  // namespace

bool registerSubcommand(const Subcommand& command) {
    registry().push_back(command);
    return true;
}

std::vector<Subcommand> subcommands() {
    std::vector<Subcommand> sorted = registry();
    std::sort(sorted.begin(), sorted.end(), [](const Subcommand& a, const Subcommand& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    return sorted;
}

void warn(const std::string& text) { std::fprintf(stderr, "lumet: warning: %s\n", text.c_str()); }

}  // namespace lumet::cli
