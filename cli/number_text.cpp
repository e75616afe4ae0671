// Plain decimal numbers on the command line (number_text.h).
#include "number_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace lumet::cli {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Skips a run of digits from `i`; returns how many there were.
std::size_t skipDigits(const std::string& text, std::size_t& i) {
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    return i - start;
}

bool hasDecimalForm(const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = skipDigits(text, i);
    if (i < text.size() && text[i] == '.') {
        ++i;
        digits += skipDigits(text, i);
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (skipDigits(text, i) == 0) return false;
    }
    return i == text.size();
}

}  // namespace

bool parseDecimal(const std::string& text, double& value) {
    if (!hasDecimalForm(text)) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool parseInteger(const std::string& text, std::int64_t& value) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (skipDigits(text, i) == 0 || i != text.size()) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size()) return false;
    value = parsed;
    return true;
}

}  // namespace lumet::cli
