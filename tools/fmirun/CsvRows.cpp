// The rows of a run as CSV text: a translation unit of its own, so that
// what the row writer needs does not change how the compiler inlines the
// run's loops, the loop without rows included.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "Numbers.h"
#include "Run.h"

namespace {

// The bits of a value and of the one before it in a row differ at most in
// the sign: a force and its reaction, as every bar's two ends have.
inline bool sameMagnitudeBits(fmiReal a, fmiReal b) {
    std::uint64_t aBits = 0;
    std::uint64_t bBits = 0;
    std::memcpy(&aBits, &a, sizeof a);
    std::memcpy(&bBits, &b, sizeof b);
    return ((aBits ^ bBits) << 1) == 0;
}

// The text of a value whose magnitude's text stands at [from, to) with or
// without a minus sign: the same digits, with the value's own sign. Every
// text formatReal writes is its magnitude's after an optional '-'.
inline char* copyWithSign(const char* from, const char* to, bool negative, char* at) {
    if (*from == '-') {
        ++from;
    }
    if (negative) {
        *at++ = '-';
    }
    const auto length = static_cast<std::size_t>(to - from);
    std::memcpy(at, from, length);
    return at + length;
}

}  // namespace

// A value of the same magnitude as the one before it takes that one's
// digits rather than computing them again: the shortest digits cost about
// half of a row's time, and a force is often followed by its reaction.
void CsvOutput::writeRow(const TimeGrid& grid, std::size_t k, const fmiReal* values,
                         std::size_t count) {
    char* at = grid.format(k, buffer_.data() + used_);
    const char* previous = at;
    for (std::size_t i = 0; i < count; ++i) {
        *at++ = ',';
        char* const start = at;
        if (i > 0 && sameMagnitudeBits(values[i], values[i - 1])) {
            at = copyWithSign(previous, start - 1, std::signbit(values[i]), at);
        } else {
            at = formatReal(values[i], at);
        }
        previous = start;
    }
    *at++ = '\n';
    used_ = static_cast<std::size_t>(at - buffer_.data());
}
