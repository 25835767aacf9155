// An FMI 1.0 library of a model validated under flush-to-zero switches the
// loading thread to flush-to-zero, and to denormals-are-zero where the
// processor supports it, when it is loaded (the SSE unit's MXCSR on x86, the
// FPCR on AArch64). Nothing undoes this.
#include "FloatingPoint.h"
#include "ModelDefinition.h"

namespace {

// The stack is realigned on entry where the processor needs it, so that a
// master that loads the library from a misaligned stack still works.
__attribute__((constructor)) SLAVE_REALIGNS_STACK void setUpFloatingPoint() {
    if (modelDefinition.floatingPoint == FloatingPointMode::FlushToZero) {
        setFloatingPointControl(floatingPointControl() | flushToZeroBits());
    }
}

}  // namespace
