// The value types a model is written in, the same in every FMI version: a
// real is an IEEE double and a value reference an unsigned 32-bit number.
#pragma once

#include <cstdint>

#include "ArithmeticAsWritten.h"

using Real = double;
using ValueReference = std::uint32_t;

// a * b, the same bits on every processor under flush-to-zero. A product
// whose exact value lies just below the smallest normal, 2^-1022, and rounds
// up to it is 2^-1022 on x86, which asks whether a result is tiny after
// rounding; AArch64 asks before rounding and flushes it to zero. There the
// product is taken again 2^54 times larger, where it is normal and rounds
// the same way, and a result of exactly 2^-968 (2^-1022 scaled) gives
// x86's. An operand that flush-to-zero reads as zero stays zero scaled; an
// operand so large that scaling overflows cannot make a product that small.
// Without flush-to-zero a zero product is an exact zero or far below 2^-1022,
// and stays.
[[gnu::always_inline]] inline Real product(Real a, Real b) {
    const Real result = a * b;
#if defined(__aarch64__)
    if (result == 0.0) {
        const Real scaled = (a * 0x1p54) * b;
        if (scaled == 0x1p-968 || scaled == -0x1p-968) {
            return scaled * 0x1p-54;
        }
    }
#endif
    return result;
}
