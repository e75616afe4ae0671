// lumet: the command-line front end of the reference host. Global options, then a subcommand
// from the registry (commands.h).
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "commands.h"

namespace {

using lumet::cli::CommandContext;
using lumet::cli::UsageError;

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: lumet [--plugin PATH] <command> [options]\n"
                 "\n"
                 "Drives the Lumet effect plug-in through the reference host.\n"
                 "\n"
                 "Options:\n"
                 "  --plugin PATH  the plug-in library (default: $LUMET_PLUGIN, else the one\n"
                 "                 built next to this program)\n"
                 "  -h, --help     show this help\n"
                 "\n"
                 "Commands:\n");
    for (const auto& command : lumet::cli::subcommands()) {
        std::fprintf(to, "  %-12s %s\n", command.name, command.summary);
    }
    std::fprintf(to, "\nRun 'lumet <command> --help' for a command's options.\n");
}

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// Takes --plugin PATH / --plugin=PATH out of the arguments, wherever they stand before "--".
std::string extractPluginOption(std::vector<std::string>& args) {
    std::string path;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--") break;
        if (args[i] == "--plugin") {
            if (i + 1 >= args.size()) throw UsageError("option '--plugin' needs a PATH");
            path = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        } else if (args[i].rfind("--plugin=", 0) == 0) {
            path = args[i].substr(9);
            if (path.empty()) throw UsageError("option '--plugin=' needs a PATH");
            args.erase(args.begin() + long(i));
        } else {
            ++i;
        }
    }
    return path;
}

int run(std::vector<std::string> args) {
    CommandContext context;
    context.pluginPath = extractPluginOption(args);
    if (args.empty()) throw UsageError("no command given");
    const std::string name = args.front();
    if (isHelp(name)) {
        printUsage(stdout);
        return 0;
    }
    if (name.rfind("-", 0) == 0) throw UsageError("unknown option '" + name + "'");
    for (const auto& command : lumet::cli::subcommands()) {
        if (name != command.name) continue;
        context.args.assign(args.begin() + 1, args.end());
        for (const std::string& arg : context.args) {
            if (arg == "--") break;
            if (isHelp(arg)) {
                std::fputs(command.usage, stdout);
                return 0;
            }
        }
        return command.run(context);
    }
    throw UsageError("unknown command '" + name + "'");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "lumet: %s\nRun 'lumet --help' for usage.\n", error.what());
        return 2;
    } catch (const std::bad_alloc&) {
        // Commands name what they were doing when they can; this is the last resort.
        std::fprintf(stderr, "lumet: out of memory\n");
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumet: %s\n", error.what());
        return 1;
    }
}
