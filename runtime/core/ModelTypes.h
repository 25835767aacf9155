// The value types a model is written in, the same in every FMI version: a
// real is an IEEE double and a value reference an unsigned 32-bit number.
#pragma once

#include <cstdint>

#include "ArithmeticAsWritten.h"

using Real = double;
using ValueReference = std::uint32_t;
