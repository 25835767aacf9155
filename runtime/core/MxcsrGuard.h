// The model's floating-point environment for the length of one call: a
// model validated under flush-to-zero computes under it, and the caller gets
// its own control register (the MXCSR on x86, status flags included; the
// FPCR on AArch64) back before the call returns. The caller's environment is
// never read or written for a model that computes in the caller's
// environment.
#pragma once

#include <cstdint>

#include "FloatingPoint.h"

class MxcsrGuard {
  public:
    [[gnu::always_inline]] explicit MxcsrGuard(std::uint32_t bits) : bits_(bits) {
        if (bits_ != 0) {
            saved_ = floatingPointControl();
            setFloatingPointControl(saved_ | bits_);
        }
    }
    [[gnu::always_inline]] ~MxcsrGuard() {
        if (bits_ != 0) {
            setFloatingPointControl(saved_);
        }
    }

    MxcsrGuard(const MxcsrGuard&) = delete;
    MxcsrGuard& operator=(const MxcsrGuard&) = delete;

  private:
    std::uint32_t bits_;
    std::uint32_t saved_ = 0;
};

// A value as seen inside the guard. The compiler moves arithmetic on values
// held in registers freely across control-register writes; passing an
// argument through here after the guard is in place keeps everything
// computed from it after the switch. (Values read from memory and results
// written to memory stay on their side of the switch on their own.) The
// constraint names the register file of the processor's floating-point
// arithmetic: SSE's on x86, the SIMD and floating-point registers on AArch64.
template <typename Value>
[[gnu::always_inline]] inline Value insideGuard(Value value) {
#if defined(__aarch64__)
    __asm__ volatile("" : "+w"(value));
#else
    __asm__ volatile("" : "+x"(value));
#endif
    return value;
}
