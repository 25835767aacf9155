// The checks that open the exported calls of every FMI version from 2.0 on,
// and the model's update at a time event. The templates are over a version's
// instance record, which has its machine state (`state`, one bit per state)
// and `data`; the version gives refuse(instance, format, ...) for it and
// machineStateName() for its states.
#pragma once

#include <cstdint>

#include "InstanceData.h"
#include "ModelDefinition.h"
#include "MxcsrGuard.h"

// A set of machine states, one bit each: those a call is allowed in.
using StateMask = std::uint32_t;

const char* machineStateName(std::uint32_t state);

// The refusals behind the checks below, out of line: the checks run at every
// call and every element, the refusals at most once per call.
template <typename Instance>
[[gnu::noinline]] void refuseCallSequence(Instance& instance, const char* functionName) {
    const char* const stateName = machineStateName(instance.state);
    refuse(instance, "%s: Illegal call sequence: not allowed in state %s.", functionName,
           stateName);
}

template <typename Instance>
[[gnu::noinline]] void refuseNullArgument(Instance& instance, const char* functionName,
                                          const char* argumentName) {
    refuse(instance, "%s: Invalid argument %s = NULL.", functionName, argumentName);
}

template <typename Instance>
[[gnu::noinline]] void refuseValueReference(Instance& instance, const char* functionName,
                                            std::uint32_t vr) {
    refuse(instance, "%s: Illegal value reference %u.", functionName, vr);
}

template <typename Instance>
inline bool checkNotNull(Instance& instance, const char* functionName, const char* argumentName,
                         const void* pointer) {
    if (pointer != nullptr) {
        return true;
    }
    refuseNullArgument(instance, functionName, argumentName);
    return false;
}

// Compared unsigned, so every reference at or above count fails.
template <typename Instance>
inline bool checkValueReference(Instance& instance, const char* functionName, std::uint32_t vr,
                                std::uint32_t count) {
    if (vr < count) {
        return true;
    }
    refuseValueReference(instance, functionName, vr);
    return false;
}

// The opening of every exported call that takes an instance: a null one is
// refused silently (there is no logger to tell), then the state is checked.
// Yields the instance, or null when the call must return its version's error.
template <typename Instance>
inline Instance* acceptCallOf(void* handle, const char* functionName, StateMask mask) {
    if (handle == nullptr) {
        return nullptr;
    }
    Instance& instance = *static_cast<Instance*>(handle);
    if ((instance.state & mask) != 0) {
        return &instance;
    }
    refuseCallSequence(instance, functionName);
    return nullptr;
}

// The model's update at a time event, under the model's floating-point
// environment; false after a refusal because the model asked to terminate.
template <typename Instance>
[[gnu::noinline]] bool updateOutputs(Instance& instance, const char* functionName) {
    UpdateOutcome outcome = UpdateOutcome::Continue;
    {
        const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
        outcome = modelDefinition.updateAtEvent(instance.data.realValues);
    }
    if (outcome == UpdateOutcome::RequestTermination) {
        refuse(instance, "%s: The model requested termination at t=%g.", functionName,
               instance.data.time);
        return false;
    }
    return true;
}

// Model Exchange: the outputs at the current parameters and inputs, computed
// by the model's update only when something changed since the last read;
// false after a refusal because the model asked to terminate.
template <typename Instance>
inline bool refreshOutputs(Instance& instance, const char* functionName) {
    if (!instance.data.outputsOutdated) {
        return true;
    }
    instance.data.outputsOutdated = false;
    return updateOutputs(instance, functionName);
}
