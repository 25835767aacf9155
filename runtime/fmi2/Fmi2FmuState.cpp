// FMU states: taken from an instance, given back to it, freed, and
// serialized to bytes that mean the same on every platform. Each FMU state
// belongs to the instance that made it; an FMU state of another instance, or
// one already freed, is refused rather than read.
#include "Fmi2Instance.h"

namespace {

constexpr fmi2String kFmiVersion = "2.0";
constexpr FmuStateWords kWords = {
    "FMUstate", "%s: FMUstate %p is no FMU state of this instance, or it was freed."};

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
    restoreFmuState(*instance, *fmuState);
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
    if (!readFmuState(*instance, functionName, kWords, kFmiVersion, kLiveStates,
                      reinterpret_cast<const unsigned char*>(serializedState), size, FMUstate)) {
        return fmi2Error;
    }
    return fmi2OK;
}

}  // extern "C"
