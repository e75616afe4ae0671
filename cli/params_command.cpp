// lumet params: the parameters as the host sees them after parameter set-up.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "plugin_session.h"
#include "value_format.h"

namespace lumet::cli {
namespace {

std::string flagsOf(const PF_ParamDef& def) {
    std::string flags;
    if (def.flags & PF_ParamFlag_SUPERVISE) flags += " supervised";
    if (def.ui_flags & PF_PUI_INVISIBLE) flags += " invisible";
    return flags.empty() ? "" : " [" + flags.substr(1) + "]";
}

void declareParams(CLI::App& command) {
    command.description(
        "Lists every parameter the plug-in declares, as the host stores it:\nindex, label "
        "(indented inside groups), type, range and default.");
}

int runParams(CommandContext& context) {
    chooseOpenClDevice("cpu");  // nothing is rendered
    auto host = openPlugin(context);
    const refhost::ParamsStore& store = host->params();
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({"index", "label", "type", "range", "default"});
    int depth = 0;
    for (int i = 0; i < store.count(); ++i) {
        const PF_ParamDef& def = store.definition(i);
        if (def.param_type == PF_Param_GROUP_END) depth = std::max(depth - 1, 0);
        std::string label(std::size_t(2 * depth), ' ');
        if (i == 0) {
            label += "(input layer)";
        } else if (def.param_type == PF_Param_GROUP_END) {
            label += "(end of group)";
        } else {
            label += def.name;
        }
        rows.push_back({std::to_string(i), label, refhost::paramTypeName(def.param_type),
                        formatRange(store, i), formatValue(store, i, 0) + flagsOf(def)});
        if (def.param_type == PF_Param_GROUP_START) ++depth;
    }
    std::array<std::size_t, 5> widths{};
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

const bool registered =
    registerSubcommand({"params", "list the effect's parameters", declareParams, runParams});

}  // namespace
}  // namespace lumet::cli
