// The states of the FMI 2.0 and 3.0 call sequences, one bit each, as the
// tests know them; the state after initialization is "step complete" in 2.0
// and "step mode" in 3.0, or event mode in 2.0 Model Exchange.
#pragma once

#include <functional>
#include <string>

enum MachineState : unsigned {
    Instantiated = 1,
    InitializationMode = 2,
    Stepping = 4,
    Terminated = 8,
    Error = 16,
    // Model Exchange only; the bits FMU states record for them.
    EventMode = 64,
    ContinuousTimeMode = 128,
};
using StateMask = unsigned;
constexpr StateMask kLiveStates = Instantiated | InitializationMode | Stepping | Terminated | Error;
constexpr StateMask kValuesReadable = InitializationMode | Stepping | Terminated | Error;
constexpr StateMask kValuesWritable = Instantiated | InitializationMode | Stepping;
constexpr MachineState kStates[] = {Instantiated, InitializationMode, Stepping, Terminated, Error};
constexpr MachineState kModelExchangeStates[] = {Instantiated,       InitializationMode, EventMode,
                                                 ContinuousTimeMode, Terminated,         Error};

// The name a refusal gives the state.
inline const char* machineStateName(MachineState state, const char* steppingName) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case Stepping:
            return steppingName;
        case Terminated:
            return "terminated";
        case EventMode:
            return "event mode";
        case ContinuousTimeMode:
            return "continuous-time mode";
        default:
            return "error";
    }
}

// A call of the library and the states it is allowed in.
template <typename Functions, typename Instance, typename Status>
struct StateCall {
    const char* name;
    StateMask allowedIn;
    std::function<Status(const Functions&, Instance)> invoke;

    // FreeInstance returns nothing; a refusal shows in the log only.
    bool returnsNothing() const {
        return std::string(name).find("FreeInstance") != std::string::npos;
    }
};
