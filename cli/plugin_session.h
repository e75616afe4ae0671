// Opening the plug-in for a subcommand: finding the library, loading it through the reference
// host, registering it and running global and parameter set-up.
#pragma once
#include <filesystem>
#include <memory>
#include <string>

#include "commands.h"
#include "refhost/host.h"

namespace lumet::cli {

// The folder of the running program; empty when it cannot be found.
std::filesystem::path executableFolder();

// Where a library of lumet's own lies: beside the program (the build tree), else in the lib/lumet
// folder of an installed tree (<folder of the executable>/../lib/lumet/<name>); empty when
// neither holds it.
std::filesystem::path findBesideProgram(const std::string& name);

// Sets LUMET_OPENCL, which the effect reads at global set-up, for a --device choice: "cpu" starts
// no OpenCL, "opencl" accepts any device, "auto" a GPU or an accelerator. Commands that render
// nothing choose "cpu", so that they load no OpenCL library.
void chooseOpenClDevice(const std::string& device);

// Sets LUMET_MEMORY_BUDGET, which the effect reads for every frame, for a --memory-budget size.
void chooseMemoryBudget(const std::string& size);

// The plug-in path: --plugin, else $LUMET_PLUGIN, else the library built next to this program
// (<folder of the executable>/../plugin/<name>, then <folder of the executable>/<name>), else the
// one installed beside it (<folder>/../lib/lumet/<name>).
std::string resolvePluginPath(const std::string& explicitPath);

// A host with the plug-in registered, globally set up and its parameters declared. With
// `globalSetup` false, a further instance of an effect that another host in this process has
// already set up: registered and its parameters declared, as a host adds the effect to another
// layer. Throws std::runtime_error naming the library and the failing step.
std::unique_ptr<refhost::Host> openPlugin(const CommandContext& context, bool globalSetup = true);

// The OpenFX bundle: --plugin when it names a .ofx.bundle folder, else $LUMET_OFX_BUNDLE, else
// the bundle built or installed beside this program (<folder>/../Lumet.ofx.bundle,
// <folder>/Lumet.ofx.bundle, <folder>/../OFX/Plugins/Lumet.ofx.bundle), else the standard's
// plug-in folder.
std::string resolveOfxBundlePath(const std::string& explicitPath);

}  // namespace lumet::cli
