// The floating-point controls of a thread (rounding, flush-to-zero,
// denormals-are-zero), kept apart for the master and the slave. A slave may
// set them for its thread, and for good: the travel stop sets flush-to-zero
// when it is loaded. The master's own arithmetic (the time grid, the
// interpolated inputs, the peaks) must come out the same whatever a slave
// does, and the slave must see at every call what it left at the last one.
#pragma once

#if defined(__x86_64__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

#if defined(__x86_64__)
// All of it is the SSE control and status register: two instructions to
// read or write, cheap enough around every call of a step.
using FloatingPointControls = unsigned int;

inline FloatingPointControls currentFloatingPointControls() {
    return _mm_getcsr();
}
inline void setFloatingPointControls(FloatingPointControls controls) {
    _mm_setcsr(controls);
}
#else
using FloatingPointControls = std::fenv_t;

inline FloatingPointControls currentFloatingPointControls() {
    std::fenv_t environment;
    std::fegetenv(&environment);
    return environment;
}
inline void setFloatingPointControls(const FloatingPointControls& controls) {
    std::fesetenv(&controls);
}
#endif

// Within its scope the slave's controls hold; at its end the master's come
// back and the slave's, as the slave left them, are kept for its next call.
class InSlaveControls {
  public:
    explicit InSlaveControls(FloatingPointControls& slave)
        : slave_(slave), master_(currentFloatingPointControls()) {
        setFloatingPointControls(slave_);
    }
    ~InSlaveControls() {
        slave_ = currentFloatingPointControls();
        setFloatingPointControls(master_);
    }
    InSlaveControls(const InSlaveControls&) = delete;
    InSlaveControls& operator=(const InSlaveControls&) = delete;

  private:
    FloatingPointControls& slave_;
    FloatingPointControls master_;
};
