// lumet presets: each material preset and the parameter values choosing it sets.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "plugin_session.h"
#include "value_format.h"

namespace lumet::cli {
namespace {

constexpr int kPresetParam = 1;

void declarePresets(CLI::App& command) {
    command.description(
        "Chooses each preset on a fresh instance and lists the parameters the plug-in sets\n"
        "(index, label, value).");
}

int runPresets(CommandContext& context) {
    chooseOpenClDevice("cpu");  // nothing is rendered
    auto host = openPlugin(context);
    refhost::ParamsStore& store = host->params();
    const PF_ParamDef& preset = store.definition(kPresetParam);
    if (preset.param_type != PF_Param_POPUP) {
        throw std::runtime_error("parameter 1 of this plug-in is not a preset popup");
    }
    for (int choice = 1; choice <= preset.u.pd.num_choices; ++choice) {
        // Each preset is applied to a fresh instance, as a user would pick it first.
        store.resetToDefaults();
        store.setValue(kPresetParam, choice);
        if (PF_Err err = host->changeParam(kPresetParam)) {
            throw std::runtime_error("applying preset " + std::to_string(choice) +
                                     " failed with error " + std::to_string(err));
        }
        std::printf("%s%d %s\n", choice > 1 ? "\n" : "", choice,
                    choiceName(store.choices(kPresetParam), choice).c_str());
        for (int index : host->changedByLastCommand()) {
            std::printf("  %-3d %-16s %s\n", index, store.definition(index).name,
                        formatValue(store, index, host->currentSeconds()).c_str());
        }
    }
    return 0;
}

const bool registered = registerSubcommand(
    {"presets", "list the material presets and the values they set", declarePresets, runPresets});

}  // namespace
}  // namespace lumet::cli
