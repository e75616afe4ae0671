// Numbers as the command line accepts them: plain decimal only. strtod and strtol also take
// hexadecimal ("0x10"), "inf", "nan", leading blanks and out-of-range values, none of which a
// user means as a parameter value or a count.
#pragma once
#include <cstdint>
#include <string>

namespace lumet::cli {

// [+-]digits[.digits][e[+-]digits] (or .digits), finite in a double; false for anything else.
bool parseDecimal(const std::string& text, double& value);

// [+-]digits within a 64-bit integer; false for anything else.
bool parseInteger(const std::string& text, std::int64_t& value);

}  // namespace lumet::cli
