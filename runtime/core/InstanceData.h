// The part of a slave instance that every FMI version from 2.0 on keeps
// alike: the real values, the time the last step reached, and the MXCSR bits
// that the model's arithmetic runs under.
#pragma once

#include <cstdint>

#include "FloatingPoint.h"
#include "ModelDefinition.h"

struct InstanceData {
    Real* realValues;  // realCount entries
    Real time;
    // OR-ed into the caller's MXCSR for the model's arithmetic; 0 for a
    // model that computes in the caller's environment.
    std::uint32_t flushToZeroBits;
    // A Model Exchange instance: its outputs follow the parameters and
    // inputs at once. Fixed at instantiation.
    bool modelExchange;
    // Model Exchange only: a parameter or input changed since the outputs
    // were last computed, so the next read computes them first (once per
    // change, not at every set). Never set in co-simulation, where only
    // initialization and steps compute the outputs.
    bool outputsOutdated;
};

// After a parameter or input, or every value at once, changed.
inline void noteValuesChanged(InstanceData& data) {
    data.outputsOutdated = data.modelExchange;
}

// The values of a fresh or reset instance: the start value where a variable
// has one, 0.0 elsewhere, so that nothing depends on what the master's
// allocator left in the block.
inline void writeInitialValues(Real* realValues, const ModelDefinition& model) {
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        realValues[vr] = 0.0;
    }
    writeStartValues(realValues, model);
}

// Asked once per instance: the processor's answer does not change.
inline std::uint32_t floatingPointBitsOf(const ModelDefinition& model) {
    return model.floatingPoint == FloatingPointMode::FlushToZero ? flushToZeroBits() : 0U;
}

// A completed step ends at the communication point plus the step size, as
// the master computes the next communication point, rather than at the
// running sum of its ten substeps, which may differ in the last bit.
// Computed in the model's floating-point environment. Always inlined: on
// 32-bit x86 a double returned from a real call travels through x87.
[[gnu::always_inline]] inline Real endOfStep(Real currentCommunicationPoint,
                                             Real communicationStepSize) {
    return currentCommunicationPoint + communicationStepSize;
}

[[gnu::always_inline]] inline void completeStep(InstanceData& data, Real currentCommunicationPoint,
                                                Real communicationStepSize) {
    data.time = endOfStep(currentCommunicationPoint, communicationStepSize);
}
