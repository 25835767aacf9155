// FMU states: taken from an instance, given back to it, freed, and
// serialized to bytes that mean the same on every platform. Each FMU state
// belongs to the instance that made it; an FMU state of another instance, or
// one already freed, is refused rather than read.
#include "Fmi2Instance.h"

namespace {

constexpr fmi2String kFmiVersion = "2.0";
constexpr FmuStateWords kWords = {
    "FMUstate", "%s: FMUstate %p is no FMU state of this instance, or it was freed."};

// Values and time mean the same in both interfaces, so a state both have
// restores in an instance of either; the writes since the FMU state was
// taken are forgotten, and Model Exchange computes its outputs afresh.
void restoreInstance(Fmi2Instance& instance, const SavedFmuState& fmuState) {
    restoreFmuState(instance, fmuState);
    enterState(instance, instance.state);
    noteValuesChanged(instance.data);
}

// Serialized bytes taken in a state that only the other interface has
// (step complete; event or continuous-time mode) are refused by name; any
// other fault of the bytes is left to the reading itself. True when the
// bytes may be read.
bool acceptInterfaceOf(Fmi2Instance& instance, fmi2String functionName, const unsigned char* bytes,
                       std::size_t size) {
    FmuStateContent written = {0, 0.0, nullptr};
    const FmuStateReading reading =
        deserializeFmuState(modelDefinition, kFmiVersion, kLiveStates, bytes, size, written);
    if (reading.problem != FmuStateProblem::None ||
        (written.machineState & statesOf(instance)) != 0) {
        return true;
    }
    refuse(instance,
           "%s: The serialized FMU state was taken in %s, a state of %s instances only; %s is "
           "a %s instance.",
           functionName, machineStateName(written.machineState),
           instance.data.modelExchange ? "co-simulation" : "Model Exchange", instance.instanceName,
           interfaceNameOf(instance));
    return false;
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    static constexpr fmi2String functionName = "fmi2GetFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr ||
        !checkNotNull(*instance, functionName, kWords.argumentName, FMUstate)) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p", functionName, *FMUstate);
    const MachineState machineState = instance->state;
    // The outputs it holds are those a read would give.
    if (machineState != Instantiated && !refreshOutputs(*instance, functionName)) {
        return fmi2Error;
    }
    SavedFmuState* const fmuState = fmuStateToWrite(*instance, functionName, kWords, *FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    saveFmuState(*fmuState, machineState, instance->data);
    *FMUstate = fmuState;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
    static constexpr fmi2String functionName = "fmi2SetFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p", functionName, FMUstate);
    const SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, kWords, FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    restoreInstance(*instance, *fmuState);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    static constexpr fmi2String functionName = "fmi2FreeFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr ||
        !checkNotNull(*instance, functionName, kWords.argumentName, FMUstate)) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p", functionName, *FMUstate);
    // Freeing no FMU state is nothing to do, as for free().
    if (*FMUstate == nullptr) {
        return fmi2OK;
    }
    SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, kWords, *FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    releaseFmuState(*instance, fmuState);
    *FMUstate = nullptr;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate,
                                                std::size_t* size) {
    static constexpr fmi2String functionName = "fmi2SerializedFMUstateSize";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr ||
        acceptFmuState(*instance, functionName, kWords, FMUstate) == nullptr ||
        !checkNotNull(*instance, functionName, "size", size)) {
        return fmi2Error;
    }
    *size = serializedFmuStateSize(modelDefinition, kFmiVersion);
    logCall(*instance, "%s: FMUstate %p, size %u", functionName, FMUstate,
            static_cast<unsigned>(*size));
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate,
                                           fmi2Byte serializedState[], std::size_t size) {
    static constexpr fmi2String functionName = "fmi2SerializeFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p, size %u", functionName, FMUstate,
            static_cast<unsigned>(size));
    SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, kWords, FMUstate);
    if (fmuState == nullptr ||
        !checkNotNull(*instance, functionName, "serializedState[]", serializedState)) {
        return fmi2Error;
    }
    const std::size_t needed = serializedFmuStateSize(modelDefinition, kFmiVersion);
    if (size < needed) {
        refuse(*instance,
               "%s: size %u is less than the %u bytes that fmi2SerializedFMUstateSize "
               "gives.",
               functionName, static_cast<unsigned>(size), static_cast<unsigned>(needed));
        return fmi2Error;
    }
    serializeFmuState(modelDefinition, kFmiVersion, contentOf(*fmuState),
                      reinterpret_cast<unsigned char*>(serializedState));
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[],
                                             std::size_t size, fmi2FMUstate* FMUstate) {
    static constexpr fmi2String functionName = "fmi2DeSerializeFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: size %u", functionName, static_cast<unsigned>(size));
    if (!checkNotNull(*instance, functionName, "serializedState[]", serializedState) ||
        !checkNotNull(*instance, functionName, kWords.argumentName, FMUstate)) {
        return fmi2Error;
    }
    const auto* const bytes = reinterpret_cast<const unsigned char*>(serializedState);
    if (!acceptInterfaceOf(*instance, functionName, bytes, size) ||
        !readFmuState(*instance, functionName, kWords, kFmiVersion, statesOf(*instance), bytes,
                      size, FMUstate)) {
        return fmi2Error;
    }
    return fmi2OK;
}

}  // extern "C"
