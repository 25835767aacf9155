// Helpers for writing a model's demonstration (ModelDefinition.h): smooth
// inputs of time. They use no C library function, so a demonstration gives
// the same bits wherever it is built, and are always inlined, so that no
// double is returned across a real call (on 32-bit x86 that travels through
// the x87 unit, which nothing of ours uses).
#pragma once

#include <array>
#include <cstddef>

#include "ModelTypes.h"

namespace demonstration {

// The coefficients of sin x = x - x^3/3! + x^5/5! - ... + x^21/21! after
// the first, from the highest: (-1)^k / (2k+1)! for k = 10 down to 1. Every
// factorial up to 21! is exact in a double, so each is correctly rounded.
constexpr std::array<double, 10> sineSeries() {
    std::array<double, 10> coefficients{};
    double factorial = 1.0;
    double sign = 1.0;
    for (std::size_t k = 1; k <= coefficients.size(); ++k) {
        factorial *= static_cast<double>(2 * k) * static_cast<double>(2 * k + 1);
        sign = -sign;
        coefficients[coefficients.size() - k] = sign / factorial;
    }
    return coefficients;
}

// sin(2 pi turns) for 0 <= turns < 1, from the sine's Taylor series on a
// quarter wave (its remainder there is below 1.3e-18), within about two
// units in the last place of the exact sine. Not std::sin, whose last bits
// differ between C libraries and their versions.
[[gnu::always_inline]] inline Real sineOfTurns(Real turns) {
    // Into the first quarter wave by symmetry; both subtractions are exact.
    const bool secondHalf = turns >= 0.5;
    if (secondHalf) {
        turns -= 0.5;
    }
    if (turns > 0.25) {
        turns = 0.5 - turns;
    }
    constexpr double kTwoPi = 6.283185307179586476925;
    constexpr std::array<double, 10> kSeries = sineSeries();
    const double x = kTwoPi * turns;
    const double x2 = x * x;
    double series = 0.0;
    for (const double coefficient : kSeries) {
        series = coefficient + x2 * series;
    }
    const double sine = x + x * x2 * series;
    // 0.0 - sine rather than -sine: at half a period, zero and not -0.
    return secondHalf ? 0.0 - sine : sine;
}

// A smooth roll of the body, one way and then the other: zero until `start`,
// one full sine period of `period` seconds, zero afterwards.
[[gnu::always_inline]] inline Real roll(Real time, Real start, Real period) {
    if (time <= start || time >= start + period) {
        return 0.0;
    }
    return sineOfTurns((time - start) / period);
}

}  // namespace demonstration
