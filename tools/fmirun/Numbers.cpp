#include "Numbers.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

std::string formatReal(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::optional<double> parseReal(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    // Out of range ("1e999", "1e-999"): from_chars leaves the value alone,
    // yet the text names a number, and strtod rounds it to infinity or zero
    // as a compiler would. The program never changes the "C" locale.
    if (result.ec == std::errc::result_out_of_range && result.ptr == text.data() + text.size()) {
        return std::strtod(std::string(text).c_str(), nullptr);
    }
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}
