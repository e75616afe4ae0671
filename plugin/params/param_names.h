// The parameters as hosts without a panel of the effect's own show them (frei0r, GEGL): which
// rows a user sets, their names in a host's lower-case-with-dashes style, and the choice a popup's
// name means.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "params/param_table.h"

namespace lumet {

// Whether a user sets this parameter: a popup, slider, angle, checkbox or colour that is shown.
// Groups, the custom map layer and the hidden controls are not.
bool userParameter(const ParamSpec& spec);

// The rows a user sets, in table order (Preset first).
std::vector<const ParamSpec*> userParameters();

// A popup's choice names, in order.
std::vector<std::string_view> choiceNames(const ParamSpec& spec);

// Text in lower case, with a dash for every run of spaces, dashes and underscores:
// "Rose Gold" -> "rose-gold", "Bevel Depth" -> "bevel-depth".
std::string dashedName(std::string_view text);

// The 1-based choice that `name` means for a popup: its choice name in any case and with spaces,
// dashes or underscores alike ("Rose Gold", "rose-gold", "ROSE_GOLD"), or its number; 0 for none.
int choiceFromName(const ParamSpec& spec, std::string_view name);

}  // namespace lumet
