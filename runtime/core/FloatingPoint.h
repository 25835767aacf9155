// The SSE unit's control and status register (MXCSR) and the bits of a
// flush-to-zero environment, for the models that were validated in one.
#pragma once

#include <cstdint>

// The MXCSR bits that switch this processor to flush-to-zero, and to
// denormals-are-zero where it supports that; 0 on a processor without SSE.
std::uint32_t flushToZeroBits();
