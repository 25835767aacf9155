// The calling thread's floating-point control and status as one word, so
// that the tests read and set them alike on every processor: the MXCSR on
// x86; on AArch64 the FPCR's control bits with the FPSR's cumulative
// exception flags in the low byte (the FPCR's own low byte holds only bits
// of extensions that the slaves never touch).
#pragma once

#include <cstdint>

#if defined(__aarch64__)

constexpr unsigned kStatusFlags = 0x9F;                     // IOC, DZC, OFC, UFC, IXC, IDC
constexpr unsigned kInexactFlag = 0x10;                     // IXC
constexpr unsigned kFlushToZeroBit = 1U << 24;              // FZ
constexpr unsigned kDenormalsAreZeroBit = kFlushToZeroBit;  // FZ reads subnormals as zero too
constexpr unsigned kRoundingBits = 3U << 22;                // RMode
constexpr unsigned kRoundUpward = 1U << 22;
constexpr unsigned kRoundTowardZero = 3U << 22;

inline unsigned floatingPointWord() {
    std::uint64_t fpcr = 0;
    std::uint64_t fpsr = 0;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    __asm__ volatile("mrs %0, fpsr" : "=r"(fpsr));
    return static_cast<unsigned>((fpcr & ~std::uint64_t{0xFF}) | (fpsr & kStatusFlags));
}

inline void setFloatingPointWord(unsigned word) {
    std::uint64_t fpcr = 0;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    const std::uint64_t control = (fpcr & 0xFF) | (word & ~std::uint64_t{0xFF});
    const std::uint64_t status = word & kStatusFlags;
    __asm__ volatile("msr fpcr, %0" : : "r"(control) : "memory");
    __asm__ volatile("msr fpsr, %0" : : "r"(status) : "memory");
}

// FZ flushes operands too, on every AArch64 processor.
inline bool processorSupportsDaz() {
    return true;
}

#else

#include <cpuid.h>
#include <xmmintrin.h>

#include <cstring>

constexpr unsigned kStatusFlags = 0x3F;
constexpr unsigned kInexactFlag = 0x20;  // the precision flag
constexpr unsigned kFlushToZeroBit = 0x8000;
constexpr unsigned kDenormalsAreZeroBit = 0x0040;
constexpr unsigned kRoundingBits = 0x6000;
constexpr unsigned kRoundUpward = 0x4000;
constexpr unsigned kRoundTowardZero = 0x6000;

inline unsigned floatingPointWord() {
    return _mm_getcsr();
}

inline void setFloatingPointWord(unsigned word) {
    _mm_setcsr(word);
}

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
