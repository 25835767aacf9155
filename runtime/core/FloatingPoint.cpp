#include "FloatingPoint.h"

#if defined(__aarch64__)

// The FPCR's FZ bit: every AArch64 processor has it, and with it subnormal
// operands read as zero as well, so it stands for both of x86's bits.
std::uint32_t flushToZeroBits() {
    constexpr std::uint32_t kFpcrFz = 1U << 24;
    return kFpcrFz;
}

#else

#include <cpuid.h>
#include <x86intrin.h>

namespace {

constexpr std::uint32_t kEflagsId = 1U << 21;
constexpr std::uint32_t kEdxFxsr = 1U << 24;
constexpr std::uint32_t kEdxSse = 1U << 25;
constexpr std::uint32_t kMxcsrDaz = 1U << 6;
constexpr std::uint32_t kMxcsrFtz = 1U << 15;

constexpr unsigned kFxsaveAreaSize = 512;
constexpr unsigned kFxsaveMxcsrMaskOffset = 28;

// CPUID exists when the ID flag of EFLAGS can be toggled.
bool cpuidAvailable() {
    const auto original = static_cast<std::uint32_t>(__readeflags());
    __writeeflags(original ^ kEflagsId);
    const auto toggled = static_cast<std::uint32_t>(__readeflags());
    __writeeflags(original);
    return ((original ^ toggled) & kEflagsId) != 0;
}

std::uint32_t readLittleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// FXSAVE reports in MXCSR_MASK which MXCSR bits the processor supports; the
// field is cleared first because processors that predate it leave it alone.
bool dazSupported() {
    alignas(16) unsigned char area[kFxsaveAreaSize];
    for (unsigned i = 0; i < 4; ++i) {
        area[kFxsaveMxcsrMaskOffset + i] = 0;
    }
    __asm__ __volatile__("fxsave %0" : "+m"(area));
    return (readLittleEndian32(area + kFxsaveMxcsrMaskOffset) & kMxcsrDaz) != 0;
}

}  // namespace

// FXSAVE needs its area 16-byte aligned; the stack is realigned on entry so
// that a master that calls from a misaligned stack still works. The three
// early returns are for processors older than any that can run the tests
// (all x86-64 processors have CPUID, its leaf 1 and SSE), so coverage leaves
// their lines out.
SLAVE_REALIGNS_STACK std::uint32_t flushToZeroBits() {
    if (!cpuidAvailable()) {
        return 0;  // LCOV_EXCL_LINE
    }
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    if (eax == 0) {
        return 0;  // LCOV_EXCL_LINE
    }
    __cpuid(1, eax, ebx, ecx, edx);
    if ((edx & kEdxSse) == 0) {
        return 0;  // LCOV_EXCL_LINE
    }
    const bool daz = (edx & kEdxFxsr) != 0 && dazSupported();
    return kMxcsrFtz | (daz ? kMxcsrDaz : 0U);
}

#endif
