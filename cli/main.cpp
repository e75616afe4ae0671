// lumet: the command-line front end of the reference host. One command line, declared once with
// CLI11: the global options, then a subcommand from the registry (commands.h) with its own.
#include <CLI/CLI.hpp>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#endif

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "commands.h"

namespace {

using lumet::cli::CommandContext;
using lumet::cli::UsageError;

// Exit statuses: 0 success (and --help, --version), 1 a failed render or file, 2 a usage error.
int usageError(const std::string& message) {
    std::fprintf(stderr, "lumet: %s\nRun 'lumet --help' for usage.\n", message.c_str());
    return 2;
}

int run(int argc, char** argv) {
    CLI::App app("Drives the Lumet effect plug-in through the reference host.", "lumet");
    app.set_version_flag("--version", "lumet " LUMET_VERSION);
    app.require_subcommand(1);
    app.footer("Run 'lumet <command> --help' for a command's options.");
    CommandContext context;
    app.add_option("--plugin", context.pluginPath,
                   "the plug-in library (default: $LUMET_PLUGIN, else the one built or installed "
                   "next to this program)")
        ->type_name("PATH");
    for (const lumet::cli::Subcommand& command : lumet::cli::subcommands()) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        sub->fallthrough();  // --plugin may follow the subcommand's name
        command.declare(*sub);
    }
    // The first word that is not an option or --plugin's value names the subcommand.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--plugin") {
            ++i;
        } else if (word.empty() || word[0] != '-') {
            bool known = false;
            for (const lumet::cli::Subcommand& command : lumet::cli::subcommands())
                known = known || word == command.name;
            if (!known) return usageError("unknown command '" + word + "'");
            break;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {  // --help, --version
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }
    for (const lumet::cli::Subcommand& command : lumet::cli::subcommands()) {
        if (app.got_subcommand(command.name)) return command.run(context);
    }
    return usageError("no command given");
}

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Where the kernel gives huge pages only to memory that asks for them, runs the program again
// with the C library's heap asking (its glibc.malloc.hugetlb tunable, read only at start-up):
// a layer, a host world or a frame's file samples is then faulted in 2 MiB at a time instead of
// 4 KiB. On a virtual machine a page fault can cost 10 us, so that 4 KiB pages of a 33 MB layer
// took 85 ms to touch where huge pages took 7 ms (a 1080p text frame to PNG: 0.37 s in all
// before, 0.25 s after). Nothing changes where the program cannot be run again (no /proc), under
// Valgrind (whose child would run without it) or when the tunable is already set either way.
void runAgainWithHugePageHeap(char** argv) {
    constexpr const char* kTunable = "glibc.malloc.hugetlb";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, kTunable)) return;
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "vgpreload")) return;
    std::ifstream modeFile("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string mode{std::istreambuf_iterator<char>(modeFile),
                           std::istreambuf_iterator<char>()};
    if (mode.find("[madvise]") == std::string::npos) return;
    // A copy: setenv may replace the string that getenv pointed to.
    const bool hadTunables = tunables != nullptr;
    const std::string original = hadTunables ? tunables : "";
    const std::string value =
        original + (original.empty() ? "" : ":") + std::string(kTunable) + "=1";
    if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
    execv("/proc/self/exe", argv);
    // Not run again: go on as this process, with the environment as it was.
    if (hadTunables)
        setenv("GLIBC_TUNABLES", original.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    runAgainWithHugePageHeap(argv);
#endif
#if defined(__GLIBC__)
    // A run frees and asks again for the same large buffers (the layer, each frame's output and
    // its file samples): kept in the heap up to 32 MiB each and 64 MiB in all, the next buffer
    // reuses their pages, where fresh ones from the system are zeroed and faulted in one by one,
    // which costs far more than the pixels written into them (a 1080p text frame to PNG: 0.48 s
    // in all with a new mapping for every buffer, 0.38 s with the heap reused; larger limits kept
    // memory that a 2560 x 1440 OpenEXR run never reused, 45 MB more at its peak). Not under an
    // address-space limit (a farm's or a container's), where memory the heap keeps is memory the
    // effect's plane pool and the OpenCL runtime cannot map.
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur == RLIM_INFINITY) {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
    }
#endif
    try {
        return run(argc, argv);
    } catch (const UsageError& error) {
        return usageError(error.what());
    } catch (const std::bad_alloc&) {
        // Commands name what they were doing when they can; this is the last resort.
        std::fprintf(stderr, "lumet: out of memory\n");
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumet: %s\n", error.what());
        return 1;
    }
}
