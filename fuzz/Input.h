// The fuzz input read the way CallEncoding.h lays it out: bytes, reals,
// value references and the counts and null-array flags of the calls that
// take arrays. Past the end every byte reads as zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CallEncoding.h"

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const {
        return position_ >= size_;
    }
    std::uint8_t byte() {
        return position_ < size_ ? data_[position_++] : 0;
    }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return value;
    }
    std::uint64_t u64() {
        const std::uint64_t low = u32();
        return low | static_cast<std::uint64_t>(u32()) << 32;
    }
    double real() {
        std::size_t count = 0;
        const double* table = realTable(count);
        const std::uint8_t b = byte();
        return b < count ? table[b] : realFromBits(u64());
    }
    std::uint32_t valueReference() {
        const std::uint8_t b = byte();
        if (b < kSmallReferenceEnd) {
            return b % smallReferenceModulus();
        }
        if (b < kRawReference) {
            return kValueReferences[b - kSmallReferenceEnd];
        }
        return u32();
    }
    // The element count of an array call; `huge` says no array can be that
    // long, so the caller leaves them null.
    std::size_t nvr(bool& huge) {
        const std::uint8_t b = byte();
        huge = b >= kHugeNvr;
        return huge ? kHugeNvrs[b & 3] : b % (kMaxNvr + 1);
    }
    // Which arrays of an array call are null: kNullVr, kNullValue, kNullOrder.
    std::uint8_t nullArrays() {
        const std::uint8_t b = byte();
        return b >= kArraysTampered ? b & 7 : 0;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};
