#include "Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace {

std::string_view withoutSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// from_chars takes no "+"; people write it.
std::string_view withoutPlus(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

constexpr std::int64_t kLargestExactDigits = std::int64_t{1} << 53;
constexpr int kLargestExactScale = 22;

}  // namespace

char* formatReal(double value, char* buffer) {
    return std::to_chars(buffer, buffer + kRealTextSize, value).ptr;
}

std::string formatReal(double value) {
    char buffer[kRealTextSize];
    return std::string(buffer, formatReal(value, buffer));
}

std::optional<double> parseReal(std::string_view text) {
    text = withoutPlus(withoutSpaces(text));
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    // Out of range: from_chars leaves the value alone. Too small a number is
    // zero, as a compiler would read it ("1e-999"); too large a one is no
    // finite number. The program never changes the "C" locale.
    if (result.ec == std::errc::result_out_of_range && result.ptr == text.data() + text.size()) {
        value = std::strtod(std::string(text).c_str(), nullptr);
    } else if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<ExactDecimal> parseExactDecimal(std::string_view text) {
    text = withoutPlus(withoutSpaces(text));
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    ExactDecimal decimal;
    bool anyDigit = false;
    bool afterPoint = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !afterPoint) {
            afterPoint = true;
            continue;
        }
        if (c < '0' || c > '9') {
            break;
        }
        anyDigit = true;
        if (decimal.digits > (kLargestExactDigits - 9) / 10) {
            return std::nullopt;
        }
        decimal.digits = decimal.digits * 10 + (c - '0');
        decimal.scale += afterPoint ? 1 : 0;
    }
    if (!anyDigit) {
        return std::nullopt;
    }
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') {
            return std::nullopt;
        }
        int exponent = 0;
        const std::string_view digits = withoutPlus(text.substr(i + 1));
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
            exponent < -1000 || exponent > 1000) {
            return std::nullopt;
        }
        decimal.scale -= exponent;
    }
    for (; decimal.scale < 0; ++decimal.scale) {
        if (decimal.digits > kLargestExactDigits / 10) {
            return std::nullopt;
        }
        decimal.digits *= 10;
    }
    // "0.0100" is 1/100: the fewest digits leave the most room for the grid.
    while (decimal.scale > 0 && decimal.digits % 10 == 0) {
        decimal.digits /= 10;
        --decimal.scale;
    }
    if (decimal.scale > kLargestExactScale) {
        return std::nullopt;
    }
    decimal.digits = negative ? -decimal.digits : decimal.digits;
    return decimal;
}
