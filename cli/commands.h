// The lumet command's subcommands and what they share.
//
// Adding a subcommand: create cli/<name>_command.cpp (the CMake glob picks it up) containing
//
//     namespace lumet::cli {
//     namespace {
//     struct ThingOptions { ... } options;
//     void declareThing(CLI::App& command) { command.add_option("-o,--output", options.output,
//                                                               "where it goes")->required(); }
//     int runThing(CommandContext& context) { ... return 0; }
//     const bool registered = registerSubcommand({"thing", "one-line summary", declareThing,
//                                                 runThing});
//     }  // namespace
//     }  // namespace lumet::cli
//
// main() builds one command line from the registry: the global options (--plugin PATH,
// --version), then each subcommand's options as its declare function states them, once, with
// their help, type and check; --help on every level comes from those declarations. Throw
// UsageError for a bad combination of arguments (exit status 2, message naming the argument) and
// std::runtime_error for a failure, an unreadable or unwritable file among them (exit status 1).
// Open the plug-in through openPlugin(context) in plugin_session.h.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lumet::cli {

// A bad command line; main prints it with the usage hint and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CommandContext {
    std::string pluginPath;  // from --plugin, empty when not given
};

using DeclareFunction = void (*)(CLI::App& command);
using CommandFunction = int (*)(CommandContext& context);

struct Subcommand {
    const char* name;
    const char* summary;      // one line for `lumet --help`
    DeclareFunction declare;  // adds the subcommand's options and arguments
    CommandFunction run;
};

// Registers a subcommand at static-initialisation time; returns true so it can initialise a flag.
bool registerSubcommand(const Subcommand& command);
// Every registered subcommand, sorted by name.
std::vector<Subcommand> subcommands();

// Writes "lumet: warning: TEXT" to standard error: an option that does nothing in this command.
void warn(const std::string& text);

}  // namespace lumet::cli
