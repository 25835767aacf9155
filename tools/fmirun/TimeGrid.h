// The communication points of a run: the start time plus whole intervals
// while that lies before the stop time, then the stop time itself, so only
// the last step may be shorter. Each point is the double nearest to the exact
// sum, rounded once: with the start and interval as the decimals written
// ("0.01" is one hundredth, so the 94th point is 0.94) when those are short
// enough to be held exactly, else as the doubles they read as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A time as given: its value, its text (for the exact decimal) and where it
// came from (for messages).
struct GivenTime {
    double value = 0.0;
    std::string text;
    std::string origin;
};

class TimeGrid {
  public:
    // Throws Failure (kExitUsage) when the stop is not after the start, when
    // the interval is too small for time to advance by it everywhere between
    // them, or when it makes more than kMaxSteps steps.
    TimeGrid(const GivenTime& start, const GivenTime& stop, const GivenTime& interval);

    std::size_t steps() const {
        return lastGridPoint_ + 1;
    }
    double start() const {
        return start_;
    }
    double stop() const {
        return stop_;
    }
    // The k-th point, 0 <= k <= steps(): the start, then the grid, then the stop.
    double at(std::size_t k) const {
        return k > lastGridPoint_ ? stop_ : gridPoint(k);
    }

    // The k-th point as text that reads back as at(k): the exact decimal of a
    // grid point when there is one, which costs far less than the shortest
    // form of a double. Returns its end.
    char* format(std::size_t k, char* buffer) const;

    // More rows than anyone means to write: a mistyped interval, most likely.
    static constexpr double kMaxSteps = 1e8;

  private:
    double gridPoint(std::size_t k) const {
        if (exact_) {
            const std::int64_t numerator =
                startDigits_ + static_cast<std::int64_t>(k) * intervalDigits_;
            return static_cast<double>(numerator) / divisor_;
        }
        return slowGridPoint(k);
    }
    double slowGridPoint(std::size_t k) const;

    double start_;
    double stop_;
    double interval_;
    // start + k * interval = (startDigits_ + k * intervalDigits_) / divisor_,
    // exactly, when exact_.
    bool exact_ = false;
    std::int64_t startDigits_ = 0;
    std::int64_t intervalDigits_ = 0;
    double divisor_ = 1.0;
    int scale_ = 0;
    std::size_t lastGridPoint_ = 0;  // the last k whose grid point lies before the stop
};
