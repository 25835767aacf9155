// The bits of the floating-point control register (FloatingPoint.h) that
// the tests set and look at, on x86 (MXCSR) and AArch64 (FPCR).
#pragma once

#include "FloatingPoint.h"

#if defined(__aarch64__)

// The FPCR holds no status flags (they are the FPSR's, left alone here).
constexpr unsigned kStatusFlags = 0;
constexpr unsigned kInexactFlag = 0;
constexpr unsigned kFlushToZeroBit = 1U << 24;              // FZ
constexpr unsigned kDenormalsAreZeroBit = kFlushToZeroBit;  // FZ reads subnormals as zero too
constexpr unsigned kRoundingBits = 3U << 22;                // RMode
constexpr unsigned kRoundUpward = 1U << 22;
constexpr unsigned kRoundTowardZero = 3U << 22;

inline bool processorSupportsDaz() {
    return true;
}

#else

#include <cpuid.h>

#include <cstring>

constexpr unsigned kStatusFlags = 0x3F;
constexpr unsigned kInexactFlag = 0x20;  // the precision flag
constexpr unsigned kFlushToZeroBit = 0x8000;
constexpr unsigned kDenormalsAreZeroBit = 0x0040;
constexpr unsigned kRoundingBits = 0x6000;
constexpr unsigned kRoundUpward = 0x4000;
constexpr unsigned kRoundTowardZero = 0x6000;

// Decided without the library's help: FXSAVE reports the MXCSR bits that the
// processor supports in MXCSR_MASK (bytes 28 to 31 of the save area). The
// area starts zeroed because processors that predate the field leave it alone.
inline bool processorSupportsDaz() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (edx & (1U << 24)) == 0) {
        return false;  // without FXSR nothing reports the mask
    }
    struct alignas(16) SaveArea {
        unsigned char bytes[512];
    } area{};
    __asm__ __volatile__("fxsave %0" : "+m"(area));
    std::uint32_t mask = 0;
    std::memcpy(&mask, area.bytes + 28, sizeof mask);
    return (mask & kDenormalsAreZeroBit) != 0;
}

#endif

// Flush-to-zero and denormals-are-zero together, as the travel stop computes.
constexpr unsigned kFlushToZeroBits = kFlushToZeroBit | kDenormalsAreZeroBit;
