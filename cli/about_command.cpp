// lumet about: the plug-in's about text, its line breaks shown as new lines.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <stdexcept>

#include "commands.h"
#include "plugin_session.h"

namespace lumet::cli {
namespace {

void declareAbout(CLI::App& command) {
    command.description("Prints the about text the plug-in writes for the host's about box.");
}

int runAbout(CommandContext& context) {
    chooseOpenClDevice("cpu");  // nothing is rendered
    auto host = openPlugin(context);
    std::string text;
    if (PF_Err err = host->about(&text)) {
        throw std::runtime_error("the about command failed with error " + std::to_string(err));
    }
    for (char& c : text) {
        if (c == '\r') c = '\n';
    }
    std::printf("%s\n", text.c_str());
    return 0;
}

const bool registered =
    registerSubcommand({"about", "print the plug-in's about text", declareAbout, runAbout});

}  // namespace
}  // namespace lumet::cli
