// The effect's parameters in frei0r's terms. The host sets them by index, in table order with the
// Preset first, so that a host that sets values by position (ffmpeg's "frei0r=lumet:Gold") sets
// the material before anything else:
//  - Preset and the other popups: strings, the choice's name ("Rose Gold", "rose-gold") or its
//    number; choosing a preset rewrites the parameters it lists, as picking it in a panel does,
//    when the name changes;
//  - sliders and Light Angle: doubles in the units a panel shows (Bevel Depth 0..300, Light Angle
//    in degrees), not frei0r's nominal 0..1; a value outside the valid range is held to it;
//  - checkboxes: booleans (above 0.5 is on); colours: frei0r colours of three 0..1 floats.
#pragma once
// frei0r.h declares its entry points without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <array>
#include <string>
#include <vector>

#include "params/param_values.h"

namespace lumet::frei0r {

// One instance's values as the host set them.
struct InstanceValues {
    ParamValues values;
    int preset = 0;  // the chosen preset, 0 before any
    // The text f0r_get_param_value hands out for each string parameter (the instance owns it).
    std::array<std::string, PARAM_COUNT> text;
};

int parameterCount();
// The name, type and explanation of parameter `index` (0 .. parameterCount() - 1).
void parameterInfo(int index, f0r_param_info_t& info);

// f0r_set_param_value and f0r_get_param_value for one instance; an index outside the list is
// ignored. A string that names no choice is reported on stderr and leaves the value as it was.
void setParameter(InstanceValues& instance, int index, const void* value);
void getParameter(InstanceValues& instance, int index, void* value);

}  // namespace lumet::frei0r
