// The record behind every fmi3Instance, its states of the call sequence, the
// argument checks, and the messages the instance formats itself before the
// master's logMessage hears them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Fmi3Message.h"
#include "Fmi3Types.h"
#include "FmuStateList.h"
#include "InstanceData.h"
#include "LogCategories.h"
#include "RealBits.h"

#if defined(_WIN32)
#define SLAVE_API __declspec(dllexport)
#else
#define SLAVE_API __attribute__((visibility("default")))
#endif

// One bit per state, so that the set of states a call is allowed in is a
// mask. Without event mode, clocks or structural parameters a co-simulation
// instance knows no event, configuration or intermediate update mode.
enum MachineState : std::uint32_t {
    Instantiated = 1,
    InitializationMode = 2,
    StepMode = 4,
    Terminated = 8,
    // Where every refused or failed call leaves an instance: values may be
    // read, an FMU state restored, the instance reset or freed.
    Error = 16,
    // No call of this FMU ends in Fatal: no failure of one instance
    // corrupts another. The state exists so that a restored FMU state can
    // never claim it.
    Fatal = 32,
};

using StateMask = std::uint32_t;

constexpr StateMask kLiveStates = Instantiated | InitializationMode | StepMode | Terminated | Error;
constexpr StateMask kValuesReadable = InitializationMode | StepMode | Terminated | Error;
constexpr StateMask kValuesWritable = Instantiated | InitializationMode | StepMode;

// Long enough for every message with the longest instantiation token and
// value references; a longer one is cut, never overrun.
constexpr std::size_t kMessageCapacity = 512;

struct Fmi3Instance {
    InstanceData data;
    MachineState state;
    // One bit per entry of kLogCategories: debug logging on for it.
    std::uint32_t debugLogging;
    // The parameters and inputs: what fmi3SetFloat64 may write.
    ValueReferenceSet settableReals;
    fmi3InstanceEnvironment instanceEnvironment;
    // Null when the master wants no messages at all.
    fmi3LogMessageCallback logMessage;
    const char* instanceName;
    SavedFmuState* fmuStates;
    // Where the instance formats every message it sends.
    char message[kMessageCapacity];
};

// FMU states live in blocks of the FMU's own, from the C runtime.
inline void* allocateBlock(const Fmi3Instance& /*instance*/, std::size_t size) {
    return std::calloc(1, size);
}

inline void freeBlock(const Fmi3Instance& /*instance*/, void* block) {
    std::free(block);
}

// The value reference of the independent variable, time, which every model
// description declares after the model's own reals.
inline ValueReference timeValueReference() {
    return modelDefinition.realCount;
}

inline bool tracesCalls(const Fmi3Instance& instance) {
    return (instance.debugLogging & kCallsCategory) != 0;
}

// A trace: only while debug logging is on for logCalls, read afresh each time.
SLAVE_MESSAGE_FORMAT(2, 3) void logCall(Fmi3Instance& instance, const char* format, ...);

// A refusal: the instance is in Error before the master hears of it, and the
// message goes out whatever debug logging says.
SLAVE_MESSAGE_FORMAT(2, 3) void refuse(Fmi3Instance& instance, const char* format, ...);

const char* machineStateName(std::uint32_t state);

// The refusals behind the checks below, out of line: the checks run at every
// call and every element, the refusals at most once per call.
void refuseCallSequence(Fmi3Instance& instance, fmi3String functionName);
void refuseNullArgument(Fmi3Instance& instance, fmi3String functionName, fmi3String argumentName);
void refuseValueReference(Fmi3Instance& instance, fmi3String functionName, fmi3ValueReference vr);

inline bool checkNotNull(Fmi3Instance& instance, fmi3String functionName, fmi3String argumentName,
                         const void* pointer) {
    if (pointer != nullptr) {
        return true;
    }
    refuseNullArgument(instance, functionName, argumentName);
    return false;
}

// Compared unsigned, so every reference at or above count fails.
inline bool checkValueReference(Fmi3Instance& instance, fmi3String functionName,
                                fmi3ValueReference vr, std::uint32_t count) {
    if (vr < count) {
        return true;
    }
    refuseValueReference(instance, functionName, vr);
    return false;
}

// The opening of every exported call that takes an instance: a null instance
// is refused silently (there is no logger to tell), then the state is
// checked. Yields the instance, or null when the call must return fmi3Error.
inline Fmi3Instance* acceptCall(fmi3Instance instance, fmi3String functionName, StateMask mask) {
    if (instance == nullptr) {
        return nullptr;
    }
    Fmi3Instance& own = *static_cast<Fmi3Instance*>(instance);
    if ((own.state & mask) != 0) {
        return &own;
    }
    refuseCallSequence(own, functionName);
    return nullptr;
}

// The model's update at a time event, under the model's floating-point
// environment; false after a refusal because the model asked to terminate.
bool updateOutputs(Fmi3Instance& instance, fmi3String functionName);

// The answer of a function that does not apply to a co-simulation FMU
// without clocks, events or structural parameters: fmi3Error with the reason,
// and the instance in Error. A null instance is refused silently.
fmi3Status refuseInapplicable(fmi3Instance instance, fmi3String functionName, fmi3String reason);
