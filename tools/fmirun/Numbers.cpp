#include "Numbers.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
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

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kPowersOfTen[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL,
                                          1000000000000000000ULL,
                                          10000000000000000000ULL};

// From the bit length: 1233 / 4096 is just above log10(2).
int digitCount(std::uint64_t number) {
    if (number == 0) {
        return 1;
    }
    const int bits = 64 - __builtin_clzll(number | 1);
    const int guess = (bits * 1233) >> 12;
    return guess + (number >= kPowersOfTen[guess] ? 1 : 0);
}

[[gnu::always_inline]] inline void writeFourDigits(std::uint32_t number, char* at) {
    std::memcpy(at, kDigitPairs + 2 * (number / 100), 2);
    std::memcpy(at + 2, kDigitPairs + 2 * (number % 100), 2);
}

// Writes the `count` digits of `number` ending at `end`: eight at a time,
// then in 32-bit arithmetic, two at a time.
[[gnu::always_inline]] inline void writeDigits(std::uint64_t number, int count, char* end) {
    for (; count >= 8; count -= 8) {
        end -= 8;
        const auto low = static_cast<std::uint32_t>(number % 100000000);
        number /= 100000000;
        writeFourDigits(low / 10000, end);
        writeFourDigits(low % 10000, end + 4);
    }
    auto rest = static_cast<std::uint32_t>(number);
    for (; count >= 2; count -= 2) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (rest % 100), 2);
        rest /= 100;
    }
    if (count == 1) {
        *--end = static_cast<char>('0' + rest);
    }
}

}  // namespace

char* formatDecimal(std::int64_t digits, int scale, char* buffer) {
    char* at = buffer;
    std::uint64_t magnitude = static_cast<std::uint64_t>(digits);
    if (digits < 0) {
        *at++ = '-';
        magnitude = 0 - magnitude;
    }
    const std::uint64_t unit = kPowersOfTen[scale];
    const std::uint64_t whole = magnitude / unit;
    std::uint64_t fraction = magnitude % unit;
    const int wholeDigits = digitCount(whole);
    writeDigits(whole, wholeDigits, at + wholeDigits);
    at += wholeDigits;
    if (fraction == 0) {
        return at;
    }
    int fractionDigits = scale;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --fractionDigits;
    }
    *at++ = '.';
    writeDigits(fraction, fractionDigits, at + fractionDigits);
    return at + fractionDigits;
}

// The shortest digits come from fmt's Dragonbox, a fraction of the cost of
// std::to_chars; the layout is to_chars's: fixed unless scientific is
// shorter, an exponent of at least two digits. Rows are mostly numbers.
char* formatReal(double value, char* buffer) {
    if (value == 0.0) {
        char* at = buffer;
        if (std::signbit(value)) {
            *at++ = '-';
        }
        *at++ = '0';
        return at;
    }
    if (!std::isfinite(value)) {
        return std::to_chars(buffer, buffer + kRealTextSize, value).ptr;
    }
    char* at = buffer;
    if (std::signbit(value)) {
        *at++ = '-';
        value = -value;
    }
    const auto decimal = fmt::detail::dragonbox::to_decimal(value);
    const int digits = digitCount(decimal.significand);
    const int point = digits + decimal.exponent;  // digits before the decimal point
    const int exponent = point - 1;
    const int absExponent = exponent < 0 ? -exponent : exponent;
    const int exponentDigits = absExponent >= 100 ? 3 : 2;
    const int scientificLength = digits + (digits > 1 ? 1 : 0) + 2 + exponentDigits;
    const int fixedLength = point <= 0 ? 2 - point + digits : (point < digits ? digits + 1 : point);
    if (fixedLength <= scientificLength) {
        if (point <= 0) {
            *at++ = '0';
            *at++ = '.';
            std::memset(at, '0', static_cast<std::size_t>(-point));
            at += -point;
            writeDigits(decimal.significand, digits, at + digits);
            return at + digits;
        }
        if (point < digits) {
            // All digits one place on, then those before the point back.
            writeDigits(decimal.significand, digits, at + digits + 1);
            for (int i = 0; i < point; ++i) {
                at[i] = at[i + 1];
            }
            at[point] = '.';
            return at + digits + 1;
        }
        writeDigits(decimal.significand, digits, at + digits);
        std::memset(at + digits, '0', static_cast<std::size_t>(point - digits));
        return at + point;
    }
    writeDigits(decimal.significand, digits, at + digits + 1);
    at[0] = at[1];
    if (digits > 1) {
        at[1] = '.';
        at += digits + 1;
    } else {
        at += 1;
    }
    *at++ = 'e';
    *at++ = exponent < 0 ? '-' : '+';
    writeDigits(static_cast<std::uint64_t>(absExponent), exponentDigits, at + exponentDigits);
    return at + exponentDigits;
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
