// Doubles as text: written so that they read back bit for bit, read only when
// the whole text is a number.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The shortest decimal that reads back as the same double ("0.1", "1e+300",
// "-0", "inf", "nan").
std::string formatReal(double value);

// The number that the whole text (surrounding spaces and a leading "+" aside)
// denotes; nothing when it denotes none. Accepts "inf" and "nan".
std::optional<double> parseReal(std::string_view text);
