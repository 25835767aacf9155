// FMU states: taken from an instance, given back to it, freed, and
// serialized to bytes that mean the same on every platform, in the same
// format as the FMI 2.0 library's, naming FMI version 3.0. Each FMU state is
// a block of the FMU's own from the C runtime, and belongs to the instance
// that made it; an FMU state of another instance, or one already freed, is
// refused rather than read.
#include "Fmi3Instance.h"

namespace {

constexpr fmi3String kFmiVersion = "3.0";
constexpr FmuStateWords kWords = {
    "FMUState", "%s: FMUState %p is no FMU state of this instance, or it was freed."};

// Values and time mean the same in both interfaces, so an FMU state taken in
// a state both have restores in an instance of either; one taken in a state
// only one interface has (step mode; event or continuous-time mode) is
// refused in an instance of the other, which could not go on from it.
bool fitsInterface(Fmi3Instance& instance, fmi3String functionName, const SavedFmuState& fmuState) {
    const StateMask foreign = instance.data.modelExchange ? kCoSimulationOnly : kModelExchangeOnly;
    if ((fmuState.machineState & foreign) == 0) {
        return true;
    }
    const char* const stateName = machineStateName(fmuState.machineState);
    const char* const otherInterface =
        instance.data.modelExchange ? "co-simulation" : "Model Exchange";
    refuse(instance,
           "%s: The FMU state was taken in %s, which only a %s instance has; this is a %s "
           "instance.",
           functionName, stateName, otherInterface, interfaceName(instance));
    return false;
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3GetFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    static constexpr fmi3String functionName = "fmi3GetFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr || !checkNotNull(*own, functionName, kWords.argumentName, FMUState)) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p", functionName, *FMUState);
    const MachineState machineState = own->state;
    SavedFmuState* const fmuState = fmuStateToWrite(*own, functionName, kWords, *FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    saveFmuState(*fmuState, machineState, own->data);
    *FMUState = fmuState;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3SetFMUState(fmi3Instance instance, fmi3FMUState FMUState) {
    static constexpr fmi3String functionName = "fmi3SetFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p", functionName, FMUState);
    const SavedFmuState* const fmuState = acceptFmuState(*own, functionName, kWords, FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    if (!fitsInterface(*own, functionName, *fmuState)) {
        return fmi3Error;
    }
    restoreFmuState(*own, *fmuState);
    settleSettableReals(*own);
    noteValuesChanged(own->data);
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3FreeFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    static constexpr fmi3String functionName = "fmi3FreeFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr || !checkNotNull(*own, functionName, kWords.argumentName, FMUState)) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p", functionName, *FMUState);
    // Freeing no FMU state is nothing to do, as for free().
    if (*FMUState == nullptr) {
        return fmi3OK;
    }
    SavedFmuState* const fmuState = acceptFmuState(*own, functionName, kWords, *FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    releaseFmuState(*own, fmuState);
    *FMUState = nullptr;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3SerializedFMUStateSize(fmi3Instance instance, fmi3FMUState FMUState,
                                                std::size_t* size) {
    static constexpr fmi3String functionName = "fmi3SerializedFMUStateSize";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr || acceptFmuState(*own, functionName, kWords, FMUState) == nullptr ||
        !checkNotNull(*own, functionName, "size", size)) {
        return fmi3Error;
    }
    *size = serializedFmuStateSize(modelDefinition, kFmiVersion);
    logCall(*own, "%s: FMUState %p, size %zu", functionName, FMUState, *size);
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3SerializeFMUState(fmi3Instance instance, fmi3FMUState FMUState,
                                           fmi3Byte serializedState[], std::size_t size) {
    static constexpr fmi3String functionName = "fmi3SerializeFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p, size %zu", functionName, FMUState, size);
    SavedFmuState* const fmuState = acceptFmuState(*own, functionName, kWords, FMUState);
    if (fmuState == nullptr ||
        !checkNotNull(*own, functionName, "serializedState[]", serializedState)) {
        return fmi3Error;
    }
    const std::size_t needed = serializedFmuStateSize(modelDefinition, kFmiVersion);
    if (size < needed) {
        refuse(*own,
               "%s: size %zu is less than the %zu bytes that fmi3SerializedFMUStateSize "
               "gives.",
               functionName, size, needed);
        return fmi3Error;
    }
    serializeFmuState(modelDefinition, kFmiVersion, contentOf(*fmuState),
                      reinterpret_cast<unsigned char*>(serializedState));
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3DeserializeFMUState(fmi3Instance instance,
                                             const fmi3Byte serializedState[], std::size_t size,
                                             fmi3FMUState* FMUState) {
    static constexpr fmi3String functionName = "fmi3DeserializeFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: size %zu", functionName, size);
    if (!checkNotNull(*own, functionName, "serializedState[]", serializedState) ||
        !checkNotNull(*own, functionName, kWords.argumentName, FMUState)) {
        return fmi3Error;
    }
    if (!readFmuState(*own, functionName, kWords, kFmiVersion, kLiveStates,
                      reinterpret_cast<const unsigned char*>(serializedState), size, FMUState)) {
        return fmi3Error;
    }
    return fmi3OK;
}

}  // extern "C"
