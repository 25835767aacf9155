// The processor's floating-point control register and the bits of a
// flush-to-zero environment, for the models that were validated in one: the
// SSE unit's MXCSR on x86, the FPCR on AArch64. What differs between the
// two stays here, in FloatingPoint.cpp, in MxcsrGuard.h's register constraint
// and in ModelTypes.h's product().
#pragma once

#include <cstdint>

#include "ArithmeticAsWritten.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#elif !defined(__aarch64__)
#error "The slaves compute on x86 (SSE2) or AArch64 only"
#endif

// The bits that switch this processor to flush-to-zero, and to
// denormals-are-zero where it supports that: MXCSR's FTZ and DAZ (0 on an x86
// processor without SSE), or the FPCR's FZ, which flushes subnormal operands
// and results alike.
std::uint32_t flushToZeroBits();

// The control register as it is. The MXCSR holds its status flags too; the
// FPCR holds none (they are the FPSR's), so writing it back leaves them be.
[[gnu::always_inline]] inline std::uint32_t floatingPointControl() {
#if defined(__aarch64__)
    std::uint64_t fpcr = 0;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr) : : "memory");
    return static_cast<std::uint32_t>(fpcr);
#else
    return _mm_getcsr();
#endif
}

[[gnu::always_inline]] inline void setFloatingPointControl(std::uint32_t bits) {
#if defined(__aarch64__)
    const std::uint64_t fpcr = bits;
    __asm__ volatile("msr fpcr, %0" : : "r"(fpcr) : "memory");
#else
    _mm_setcsr(bits);
#endif
}

// A function that may be entered from a stack aligned less than the x86
// ABIs promise realigns it first (FXSAVE and SSE spills need 16 bytes);
// AArch64 keeps its stack aligned in hardware, so nothing is needed there.
#if defined(__x86_64__) || defined(__i386__)
#define SLAVE_REALIGNS_STACK __attribute__((force_align_arg_pointer))
#else
#define SLAVE_REALIGNS_STACK
#endif
