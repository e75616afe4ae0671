// The lumet command's subcommands and what they share.
//
// Adding a subcommand: create cli/<name>_command.cpp (the CMake glob picks it up) containing
//
//     namespace lumet::cli {
//     namespace {
//     int runThing(CommandContext& context) { ... return 0; }
//     const bool registered = registerSubcommand({"thing", "one-line summary",
//                                                 "Usage: lumet thing [options]\n...", runThing});
//     }  // namespace
//     }  // namespace lumet::cli
//
// main() strips the global options (--plugin PATH) wherever they appear, answers --help / -h
// for every subcommand by printing its usage text, and hands the remaining arguments over in
// context.args. Throw UsageError for a bad argument (exit status 2, message naming the
// argument) and std::runtime_error for a failure (exit status 1). Open the plug-in through
// openPlugin(context) in plugin_session.h.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

namespace lumet::cli {

// A bad command line; main prints it with the usage hint and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CommandContext {
    std::string pluginPath;         // from --plugin, empty when not given
    std::vector<std::string> args;  // the subcommand's own arguments
};

using CommandFunction = int (*)(CommandContext& context);

struct Subcommand {
    const char* name;
    const char* summary;  // one line for `lumet --help`
    const char* usage;    // the full text for `lumet <name> --help`
    CommandFunction run;
};

// Registers a subcommand at static-initialisation time; returns true so it can initialise a flag.
bool registerSubcommand(const Subcommand& command);
// Every registered subcommand, sorted by name.
std::vector<Subcommand> subcommands();

// Rejects any argument a subcommand without arguments was given.
void expectNoArguments(const CommandContext& context);

}  // namespace lumet::cli
