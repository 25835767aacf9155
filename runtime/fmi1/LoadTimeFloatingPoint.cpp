// An FMI 1.0 library of a model validated under flush-to-zero switches the
// loading thread's SSE unit to flush-to-zero, and to denormals-are-zero where
// the processor supports it, when it is loaded. Nothing undoes this.
#include <x86intrin.h>

#include "FloatingPoint.h"
#include "ModelDefinition.h"

namespace {

// The stack is realigned on entry, so that a master that loads the library
// from a misaligned stack still works.
__attribute__((constructor, force_align_arg_pointer)) void setUpFloatingPoint() {
    if (modelDefinition.floatingPoint == FloatingPointMode::FlushToZero) {
        _mm_setcsr(_mm_getcsr() | flushToZeroBits());
    }
}

}  // namespace
