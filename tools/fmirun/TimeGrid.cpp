#include "TimeGrid.h"

#include <cmath>
#include <limits>
#include <optional>

#include "Failure.h"
#include "Numbers.h"

namespace {

constexpr std::int64_t kExactIntegers = std::int64_t{1} << 53;

std::int64_t powerOfTen(int exponent) {
    std::int64_t power = 1;
    for (int i = 0; i < exponent; ++i) {
        power *= 10;
    }
    return power;
}

// The digits of `decimal` at a finer scale, when they still fit.
std::optional<std::int64_t> atScale(const ExactDecimal& decimal, int scale) {
    const std::int64_t factor = powerOfTen(scale - decimal.scale);
    if (std::abs(decimal.digits) > kExactIntegers / factor) {
        return std::nullopt;
    }
    return decimal.digits * factor;
}

// The distance from `time` to the next double away from zero: no interval
// below it can advance a time of that size.
double resolutionAt(double time) {
    const double size = std::fabs(time);
    return std::nextafter(size, std::numeric_limits<double>::infinity()) - size;
}

}  // namespace

TimeGrid::TimeGrid(const GivenTime& start, const GivenTime& stop, const GivenTime& interval)
    : start_(start.value), stop_(stop.value), interval_(interval.value) {
    if (!(interval_ > 0.0)) {
        throw Failure(kExitUsage, interval.origin + " must be positive, not " + interval.text);
    }
    if (!(stop_ > start_)) {
        throw Failure(kExitUsage, "the stop time " + formatReal(stop_) + " (" + stop.origin +
                                      ") is not after the start time " + formatReal(start_) + " (" +
                                      start.origin + ")");
    }
    const double span = stop_ - start_;  // may be infinite for the widest spans
    const double ratio = span / interval_;
    if (!(ratio <= kMaxSteps)) {
        throw Failure(kExitUsage, interval.origin + " " + interval.text + " makes more than " +
                                      formatReal(kMaxSteps) + " steps; choose a larger one");
    }
    const double farthest = std::fmax(std::fabs(start_), std::fabs(stop_));
    if (interval_ < resolutionAt(farthest)) {
        throw Failure(kExitUsage,
                      interval.origin + " " + interval.text +
                          " is too small to advance time: doubles near t = " +
                          formatReal(farthest) + " are " + formatReal(resolutionAt(farthest)) +
                          " apart, so steps would merge; choose an interval of at least that");
    }
    // The ratio lies in [0, kMaxSteps]: a safe integer. The loops below settle
    // the exact count from the points themselves.
    std::size_t last = static_cast<std::size_t>(std::ceil(ratio));

    const std::optional<ExactDecimal> startDecimal = parseExactDecimal(start.text);
    const std::optional<ExactDecimal> intervalDecimal = parseExactDecimal(interval.text);
    if (startDecimal && intervalDecimal) {
        const int scale = std::max(startDecimal->scale, intervalDecimal->scale);
        const std::optional<std::int64_t> startDigits = atScale(*startDecimal, scale);
        const std::optional<std::int64_t> intervalDigits = atScale(*intervalDecimal, scale);
        // Every numerator up to a step past the last must be a double exactly,
        // so that the one division is the only rounding.
        const auto steps = static_cast<std::int64_t>(last) + 2;
        if (startDigits && intervalDigits && *intervalDigits > 0 &&
            *intervalDigits <= (kExactIntegers - std::abs(*startDigits)) / steps) {
            exact_ = true;
            startDigits_ = *startDigits;
            intervalDigits_ = *intervalDigits;
            divisor_ = static_cast<double>(powerOfTen(scale));
            scale_ = scale;
        }
    }
    while (last > 0 && !(gridPoint(last) < stop_)) {
        --last;
    }
    while (gridPoint(last + 1) < stop_) {
        ++last;
    }
    lastGridPoint_ = last;
}

double TimeGrid::slowGridPoint(std::size_t k) const {
    // One rounding of start + k * interval; k is below 2^53, so exact.
    return std::fma(static_cast<double>(k), interval_, start_);
}

char* TimeGrid::format(std::size_t k, char* buffer) const {
    if (exact_ && k <= lastGridPoint_) {
        return formatDecimal(startDigits_ + static_cast<std::int64_t>(k) * intervalDigits_, scale_,
                             buffer);
    }
    return formatReal(at(k), buffer);
}
