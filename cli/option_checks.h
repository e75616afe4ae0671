// Checks shared by the subcommands' option declarations.
#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "number_text.h"
#include "render/content_window.h"

namespace lumet::cli {

// Numbers as people write them: plain decimals (whole ones for a count). CLI11 on its own also
// reads hexadecimal, octal and binary forms ("0x20" as 32), which nobody means here.
inline CLI::Validator plainNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            return parseDecimal(text, value) ? "" : "\"" + text + "\" is not a plain number";
        },
        "", "plain number");
}
inline CLI::Validator wholeNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::int64_t value = 0;
            return parseInteger(text, value) ? "" : "\"" + text + "\" is not a whole number";
        },
        "", "whole number");
}

// A size in bytes with an optional K, M or G suffix (300M, 2G).
inline CLI::Validator byteSize() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::int64_t bytes = 0;
            return parseByteSize(text.c_str(), bytes)
                       ? ""
                       : "\"" + text + "\" is not a size (bytes, or with K, M or G: 300M)";
        },
        "", "SIZE");
}

}  // namespace lumet::cli
