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
// failed or cancelled. The values are those serialized FMU states record,
// so a state keeps its bit; the states of Model Exchange came later.
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
    EventMode = 64,
    ContinuousTimeMode = 128,
};

// The states an instance of each interface can be in. The masks below may
// name the states of both: an instance only ever reaches its own.
constexpr StateMask kSharedStates = Instantiated | InitializationMode | Terminated | Error;
constexpr StateMask kCoSimulationStates = kSharedStates | StepComplete;
constexpr StateMask kModelExchangeStates = kSharedStates | EventMode | ContinuousTimeMode;

constexpr StateMask kLiveStates = kCoSimulationStates | kModelExchangeStates;
constexpr StateMask kValuesReadable = kLiveStates & ~Instantiated;
constexpr StateMask kValuesWritable =
    Instantiated | InitializationMode | StepComplete | EventMode | ContinuousTimeMode;
// Discrete variables change only at events, never in continuous-time mode.
constexpr StateMask kDiscreteWritable = kValuesWritable & ~ContinuousTimeMode;
constexpr StateMask kStepQueries = StepComplete | Terminated;
constexpr StateMask kRunning = StepComplete | EventMode | ContinuousTimeMode;

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

inline fmi2String interfaceNameOf(const Fmi2Instance& instance) {
    return instance.data.modelExchange ? "Model Exchange" : "co-simulation";
}

inline StateMask statesOf(const Fmi2Instance& instance) {
    return instance.data.modelExchange ? kModelExchangeStates : kCoSimulationStates;
}

// What fmi2SetReal may write in the instance's state: in continuous-time
// mode only the inputs, since a parameter changes only at an event.
ValueReferenceSet settableRealsIn(MachineState state);

// Enters a state and with it the set of reals the master may write there.
inline void enterState(Fmi2Instance& instance, MachineState state) {
    instance.state = state;
    instance.settableReals = settableRealsIn(state);
}

// The opening of a call of one interface only: an instance of the other is
// refused, naming both, before its state is looked at.
[[gnu::noinline]] void refuseInterface(Fmi2Instance& instance, fmi2String functionName,
                                       fmi2String interfaceName);

inline Fmi2Instance* acceptInterfaceCall(fmi2Component c, fmi2String functionName, StateMask mask,
                                         bool modelExchange) {
    if (c != nullptr && static_cast<Fmi2Instance*>(c)->data.modelExchange != modelExchange) {
        refuseInterface(*static_cast<Fmi2Instance*>(c), functionName,
                        modelExchange ? "Model Exchange" : "co-simulation");
        return nullptr;
    }
    return acceptCall(c, functionName, mask);
}

inline Fmi2Instance* acceptCoSimulationCall(fmi2Component c, fmi2String functionName,
                                            StateMask mask) {
    return acceptInterfaceCall(c, functionName, mask, false);
}

inline Fmi2Instance* acceptModelExchangeCall(fmi2Component c, fmi2String functionName,
                                             StateMask mask) {
    return acceptInterfaceCall(c, functionName, mask, true);
}
