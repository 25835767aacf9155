// The record behind every fmi3Instance, its states of the call sequence,
// and the messages the instance formats itself before the master's
// logMessage hears them; the checks that open every call are those of every
// version (InstanceChecks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Fmi3Message.h"
#include "Fmi3Types.h"
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
// mask. Without event mode, clocks or structural parameters a co-simulation
// instance knows no event, configuration or intermediate update mode; a
// Model Exchange instance knows no step mode. The values are those
// serialized FMU states record, so existing bits keep their numbers.
enum MachineState : std::uint32_t {
    Instantiated = 1,
    InitializationMode = 2,
    // Co-simulation only.
    StepMode = 4,
    Terminated = 8,
    // Where every refused or failed call leaves an instance: values may be
    // read, an FMU state restored, the instance reset or freed.
    Error = 16,
    // No call of this FMU ends in Fatal: no failure of one instance
    // corrupts another. The state exists so that a restored FMU state can
    // never claim it.
    Fatal = 32,
    // Model Exchange only.
    EventMode = 64,
    ContinuousTimeMode = 128,
};

// The states after initialization: a co-simulation instance steps, a Model
// Exchange instance alternates between event and continuous-time mode.
constexpr StateMask kSimulating = StepMode | EventMode | ContinuousTimeMode;
constexpr StateMask kLiveStates =
    Instantiated | InitializationMode | kSimulating | Terminated | Error;
constexpr StateMask kValuesReadable = InitializationMode | kSimulating | Terminated | Error;
constexpr StateMask kValuesWritable = Instantiated | InitializationMode | kSimulating;
// The states only one interface has: an FMU state taken in one of them
// restores only in an instance of that interface.
constexpr StateMask kCoSimulationOnly = StepMode;
constexpr StateMask kModelExchangeOnly = EventMode | ContinuousTimeMode;

// Long enough for every message with the longest instantiation token and
// value references; a longer one is cut, never overrun.
constexpr std::size_t kMessageCapacity = 512;

struct Fmi3Instance {
    InstanceData data;
    MachineState state;
    // One bit per entry of kLogCategories: debug logging on for it; and
    // kModelExchangeAccess for a Model Exchange instance (see below).
    std::uint32_t debugLogging;
    // What fmi3SetFloat64 may write in the current state: the parameters and
    // inputs, or the inputs alone in continuous-time mode.
    ValueReferenceSet settableReals;
    fmi3InstanceEnvironment instanceEnvironment;
    // Null when the master wants no messages at all.
    fmi3LogMessageCallback logMessage;
    const char* instanceName;
    SavedFmuState* fmuStates;
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

// Above every log category: set for the life of a Model Exchange instance,
// whose value accesses then take the way of the traced ones, out of line,
// where a set notes the change and a read refreshes the outputs first. One
// test of the word then keeps both off the co-simulation accesses, which
// the instruction counts of the set and the get would otherwise show.
constexpr std::uint32_t kModelExchangeAccess = std::uint32_t{1} << 31;
static_assert((kAllCategories & kModelExchangeAccess) == 0, "a log category took the bit");

inline bool takesOutOfLineAccess(const Fmi3Instance& instance) {
    return (instance.debugLogging & (kCallsCategory | kModelExchangeAccess)) != 0;
}

// A trace: only while debug logging is on for logCalls, read afresh each time.
SLAVE_MESSAGE_FORMAT(2, 3) void logCall(Fmi3Instance& instance, const char* format, ...);

// A refusal: the instance is in Error before the master hears of it, and the
// message goes out whatever debug logging says.
SLAVE_MESSAGE_FORMAT(2, 3) void refuse(Fmi3Instance& instance, const char* format, ...);

inline Fmi3Instance* acceptCall(fmi3Instance instance, fmi3String functionName, StateMask mask) {
    return acceptCallOf<Fmi3Instance>(instance, functionName, mask);
}

inline const char* interfaceName(const Fmi3Instance& instance) {
    return instance.data.modelExchange ? "Model Exchange" : "co-simulation";
}

// The refusal of a call that belongs to the other interface than the
// instance's; `callInterface` names the interface of the call.
[[gnu::noinline]] void refuseOtherInterface(Fmi3Instance& instance, fmi3String functionName,
                                            fmi3String callInterface);

// The refusal of a call out of its states, which for a call of co-simulation
// alone names the interface when the instance is a Model Exchange one.
[[gnu::noinline]] void refuseCoSimulationCall(Fmi3Instance& instance, fmi3String functionName);

// The opening of a call of co-simulation alone: a Model Exchange instance is
// never in step mode (an FMU state cannot take it there), so for a call
// allowed in step mode alone the interface is told apart only after the
// state check fails, and a step pays nothing for it. Calls allowed in states
// both interfaces have check the interface themselves.
inline Fmi3Instance* acceptCoSimulationCall(fmi3Instance instance, fmi3String functionName,
                                            StateMask mask) {
    if (instance == nullptr) {
        return nullptr;
    }
    auto& own = *static_cast<Fmi3Instance*>(instance);
    if ((own.state & mask) != 0) {
        return &own;
    }
    refuseCoSimulationCall(own, functionName);
    return nullptr;
}

// The opening of a call of Model Exchange alone: refused for a co-simulation
// instance, then the state checked.
Fmi3Instance* acceptModelExchangeCall(fmi3Instance instance, fmi3String functionName,
                                      StateMask mask);

// The parameters and inputs, or the inputs alone in continuous-time mode,
// where only continuous variables may change; after every change of state
// that may enter or leave that mode.
void settleSettableReals(Fmi3Instance& instance);

// The answer of a function that does not apply to this FMU, without clocks,
// structural parameters or event mode in co-simulation: fmi3Error with the
// reason, and the instance in Error. A null instance is refused silently.
fmi3Status refuseInapplicable(fmi3Instance instance, fmi3String functionName, fmi3String reason);
