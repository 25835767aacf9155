// Doubles as text: written so that they read back bit for bit, read only when
// the whole text is a finite number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Room for the longest text formatReal writes ("-2.2250738585072014e-308").
constexpr std::size_t kRealTextSize = 32;

// The shortest decimal that reads back as the same double ("0.1", "1e+300",
// "-0", "inf", "nan"), written at `buffer`; returns its end. No allocation:
// the run loop writes every row through here.
char* formatReal(double value, char* buffer);
std::string formatReal(double value);

// The finite number that the whole text (surrounding spaces and a leading "+"
// aside) denotes; nothing when it denotes none, or denotes NaN, an infinity or
// a number beyond the largest double ("1e999"). Every number fmirun reads goes
// through here, so the same rule holds on the command line, in input files
// and in model descriptions.
std::optional<double> parseReal(std::string_view text);

// A decimal number held exactly: digits / 10^scale.
struct ExactDecimal {
    std::int64_t digits = 0;
    int scale = 0;
};

// The text as an exact decimal when it is one whose digits fit in a double's
// 53 bits and whose scale is at most 22 (so 10^scale is a double too); nothing
// otherwise ("1e-320", "0.1234567890123456789", "nan").
std::optional<ExactDecimal> parseExactDecimal(std::string_view text);

// digits / 10^scale, 0 <= scale <= 19, as a decimal ("-12.5") at `buffer`;
// returns its end. It reads back as the double nearest to that decimal.
char* formatDecimal(std::int64_t digits, int scale, char* buffer);
