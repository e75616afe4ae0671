// Text forms of parameter definitions and values as the host stores them.
#pragma once
#include <string>

#include "refhost/params_store.h"

namespace lumet::cli {

// The value of parameter `index` at `seconds`: "3 (Chisel Hard)", "on", "150.00", "135 deg",
// "(92, 60, 15)".
std::string formatValue(const refhost::ParamsStore& store, int index, double seconds);
// The declared range: choices, slider ranges with precision, checkbox text.
std::string formatRange(const refhost::ParamsStore& store, int index);
// Choice `choice` (1-based) of a popup's "|"-separated string, or "" when out of range.
std::string choiceName(const std::string& choices, int choice);

}  // namespace lumet::cli
