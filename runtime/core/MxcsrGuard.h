// The model's floating-point environment for the length of one call: a
// model validated under flush-to-zero computes under it, and the caller gets
// its own MXCSR back, status flags included, before the call returns. The
// caller's environment is never read or written for a model that computes in
// the caller's environment.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

class MxcsrGuard {
  public:
    [[gnu::always_inline]] explicit MxcsrGuard(std::uint32_t bits) : bits_(bits) {
        if (bits_ != 0) {
            saved_ = _mm_getcsr();
            _mm_setcsr(saved_ | bits_);
        }
    }
    [[gnu::always_inline]] ~MxcsrGuard() {
        if (bits_ != 0) {
            _mm_setcsr(saved_);
        }
    }

    MxcsrGuard(const MxcsrGuard&) = delete;
    MxcsrGuard& operator=(const MxcsrGuard&) = delete;

  private:
    std::uint32_t bits_;
    std::uint32_t saved_ = 0;
};
