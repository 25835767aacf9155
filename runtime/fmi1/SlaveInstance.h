// The record behind every fmiComponent, its states, the argument checks and
// the two ways the runtime talks to the master's logger.
#pragma once

#include <cstdint>

#include "FmiTypes.h"

// The exported names carry the model identifier, given to the compiler per
// deliverable, in front of the FMI function name: <identifier>_fmiDoStep.
#define SLAVE_PASTE_NAME(identifier, name) identifier##_##name
#define SLAVE_EXPAND_NAME(identifier, name) SLAVE_PASTE_NAME(identifier, name)
#define SLAVE_EXPORT_NAME(name) SLAVE_EXPAND_NAME(MODEL_IDENTIFIER, name)

#if defined(_WIN32)
#define SLAVE_API __declspec(dllexport)
#else
#define SLAVE_API __attribute__((visibility("default")))
#endif

// One bit per state, so that the set of states a call is allowed in is a mask.
enum SlaveState : std::int32_t {
    Instantiated = 1,
    Initialized = 2,
    Terminated = 4,
    Error = 8,
};

using StateMask = std::int32_t;

constexpr StateMask kInstantiatedOnly = Instantiated;
constexpr StateMask kInitializedOnly = Initialized;
constexpr StateMask kTerminatedOnly = Terminated;
constexpr StateMask kBeforeTermination = Instantiated | Initialized;
constexpr StateMask kAnyLiveState = Instantiated | Initialized | Terminated;

struct SlaveInstance {
    fmiReal* realValues;
    fmiInteger* integerValues;
    fmiBoolean* booleanValues;
    fmiString* stringValues;
    std::uint8_t* auxFlags;
    fmiReal currentTime;
    char* instanceNameCopy;
    fmiString guidRef;
    fmiCallbackFunctions callbacks;
    fmiBoolean loggingFlag;
    SlaveState slaveState;
    fmiEventInfo eventRecord;
};

namespace category {
constexpr fmiString kLog = "log";
constexpr fmiString kError = "error";
constexpr fmiString kWarning = "warning";
}  // namespace category

// A trace: only while the instance's logging flag is on, read afresh each time.
template <typename... Arguments>
inline void logTrace(SlaveInstance& instance, fmiString format, Arguments... arguments) {
    if (instance.loggingFlag != fmiFalse) {
        instance.callbacks.logger(&instance, instance.instanceNameCopy, fmiOK, category::kLog,
                                  format, arguments...);
    }
}

// A refusal: always written, whatever the logging flag says.
template <typename... Arguments>
inline void logError(SlaveInstance& instance, fmiString format, Arguments... arguments) {
    instance.callbacks.logger(&instance, instance.instanceNameCopy, fmiError, category::kError,
                              format, arguments...);
}

// Refuses a call made in a state outside mask; the instance is in Error
// before the logger hears of it.
void refuseCallSequence(SlaveInstance& instance, fmiString functionName);

// The refusal is a dead end rather than a result to test, so that a caller
// keeps nothing alive across it and its accepted path stays free of register
// saves.
inline bool checkState(SlaveInstance& instance, fmiString functionName, StateMask mask) {
    if ((instance.slaveState & mask) != 0) {
        return true;
    }
    refuseCallSequence(instance, functionName);
    return false;
}

// The refusals behind the two checks below, out of line: the checks run at
// every call and every element, the refusals at most once per call.
void refuseNullArgument(SlaveInstance& instance, fmiString functionName, fmiString argumentName);
void refuseValueReference(SlaveInstance& instance, fmiString functionName, fmiValueReference vr);

inline bool checkNotNull(SlaveInstance& instance, fmiString functionName, fmiString argumentName,
                         const void* pointer) {
    if (pointer != nullptr) {
        return true;
    }
    refuseNullArgument(instance, functionName, argumentName);
    return false;
}

// Compared unsigned, so every reference at or above count fails. Unlike the
// other checks, the logger still sees the state from before the refusal.
inline bool checkValueReference(SlaveInstance& instance, fmiString functionName,
                                fmiValueReference vr, std::uint32_t count) {
    if (vr < count) {
        return true;
    }
    refuseValueReference(instance, functionName, vr);
    return false;
}

// The opening of every exported call that takes a component: a null component
// is refused silently, then the state is checked. Yields the instance, or null
// when the call must return fmiError.
inline SlaveInstance* acceptCall(fmiComponent c, fmiString functionName, StateMask mask) {
    if (c == nullptr) {
        return nullptr;
    }
    SlaveInstance& instance = *static_cast<SlaveInstance*>(c);
    return checkState(instance, functionName, mask) ? &instance : nullptr;
}
