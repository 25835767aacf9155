// The record behind every fmi2Component, its states of the call sequence
// and the two ways the runtime talks to the master's logger; the checks that
// open every call are those of every version (InstanceChecks.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "Fmi2Types.h"
#include "FmuStateList.h"
#include "InstanceChecks.h"
#include "InstanceData.h"
#include "LogCategories.h"
#include "RealBits.h"

#if defined(_WIN32)
#define SLAVE_API __declspec(dllexport)
#else
#define SLAVE_API __attribute__((visibility("default")))
#endif

// One bit per state, so that the set of states a call is allowed in is a
// mask. A slave that never steps asynchronously has no step in progress,
// failed or cancelled.
enum MachineState : std::uint32_t {
    Instantiated = 1,
    InitializationMode = 2,
    StepComplete = 4,
    Terminated = 8,
    Error = 16,
    // No call of this slave ends in Fatal: no failure of one instance
    // corrupts another. The state exists so that a restored FMU state can
    // never claim it.
    Fatal = 32,
};

constexpr StateMask kLiveStates =
    Instantiated | InitializationMode | StepComplete | Terminated | Error;
constexpr StateMask kValuesReadable = InitializationMode | StepComplete | Terminated | Error;
constexpr StateMask kValuesWritable = Instantiated | InitializationMode | StepComplete;
constexpr StateMask kStepQueries = StepComplete | Terminated;

struct Fmi2Instance {
    InstanceData data;
    MachineState state;
    // One bit per entry of kLogCategories: debug logging on for it.
    std::uint32_t debugLogging;
    // The parameters and inputs: what fmi2SetReal may write.
    ValueReferenceSet settableReals;
    fmi2CallbackFunctions callbacks;
    const char* instanceName;
    SavedFmuState* fmuStates;
};

// FMU states live in blocks from the master's allocateMemory, given back to
// its freeMemory.
inline void* allocateBlock(const Fmi2Instance& instance, std::size_t size) {
    return instance.callbacks.allocateMemory(1, size);
}

inline void freeBlock(const Fmi2Instance& instance, void* block) {
    instance.callbacks.freeMemory(block);
}

inline bool tracesCalls(const Fmi2Instance& instance) {
    return (instance.debugLogging & kCallsCategory) != 0;
}

// A trace: only while debug logging is on for logCalls, read afresh each time.
template <typename... Arguments>
inline void logCall(const Fmi2Instance& instance, fmi2String format, Arguments... arguments) {
    if (tracesCalls(instance)) {
        instance.callbacks.logger(instance.callbacks.componentEnvironment, instance.instanceName,
                                  fmi2OK, logCategory::kCalls.name, format, arguments...);
    }
}

// A refusal: the instance is in Error before the logger hears of it, and the
// message goes out whatever debug logging says.
template <typename... Arguments>
inline void refuse(Fmi2Instance& instance, fmi2String format, Arguments... arguments) {
    instance.state = Error;
    instance.callbacks.logger(instance.callbacks.componentEnvironment, instance.instanceName,
                              fmi2Error, logCategory::kError.name, format, arguments...);
}

inline Fmi2Instance* acceptCall(fmi2Component c, fmi2String functionName, StateMask mask) {
    return acceptCallOf<Fmi2Instance>(c, functionName, mask);
}
