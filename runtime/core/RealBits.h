// Tests of a real on its bits rather than by arithmetic. They raise no
// floating-point status flag in the caller's environment: a comparison or a
// subtraction with a subnormal operand raises the denormal flag wherever
// denormals-are-zero is off, and a library that computes under its own
// environment must hand the caller's back unchanged, flags included.
#pragma once

#include <cstdint>
#include <cstring>

#include "ModelTypes.h"

inline std::uint64_t bitPatternOf(Real x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

constexpr std::uint64_t kExponentBits = 0x7ff0000000000000ULL;

// Neither infinite nor NaN.
inline bool isFinite(Real x) {
    return (bitPatternOf(x) & kExponentBits) != kExponentBits;
}

// Greater than zero and finite: subnormals included, both zeros, negatives,
// infinities and NaNs excluded.
inline bool isPositiveFinite(Real x) {
    const std::uint64_t bits = bitPatternOf(x);
    return bits != 0 && bits < kExponentBits;
}
