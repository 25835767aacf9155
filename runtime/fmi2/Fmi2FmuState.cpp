// FMU states: taken from an instance, given back to it, freed, and
// serialized to bytes that mean the same on every platform. Each FMU state
// belongs to the instance that made it; an FMU state of another instance, or
// one already freed, is refused rather than read.
#include "Fmi2Instance.h"
#include "SerializedFmuState.h"

namespace {

constexpr fmi2String kFmiVersion = "2.0";

constexpr std::size_t kValuesOffset =
    (sizeof(SavedFmuState) + sizeof(Real) - 1) / sizeof(Real) * sizeof(Real);

SavedFmuState* ownFmuState(const Fmi2Instance& instance, fmi2FMUstate FMUstate) {
    for (SavedFmuState* own = instance.fmuStates; own != nullptr; own = own->next) {
        if (own == FMUstate) {
            return own;
        }
    }
    return nullptr;
}

// Yields the instance's own FMU state behind FMUstate, or null after a
// refusal.
SavedFmuState* acceptFmuState(Fmi2Instance& instance, fmi2String functionName,
                              fmi2FMUstate FMUstate) {
    if (!checkNotNull(instance, functionName, "FMUstate", FMUstate)) {
        return nullptr;
    }
    SavedFmuState* const own = ownFmuState(instance, FMUstate);
    if (own == nullptr) {
        refuse(instance, "%s: FMUstate %p is no FMU state of this instance, or it was freed.",
               functionName, FMUstate);
    }
    return own;
}

// The FMU state a call writes into: the one the master names, or a new one
// for a null. Null after a refusal.
SavedFmuState* fmuStateToWrite(Fmi2Instance& instance, fmi2String functionName,
                               fmi2FMUstate FMUstate) {
    if (FMUstate != nullptr) {
        return acceptFmuState(instance, functionName, FMUstate);
    }
    const std::size_t size = kValuesOffset + sizeof(Real) * modelDefinition.realCount;
    auto* const block = static_cast<unsigned char*>(instance.callbacks.allocateMemory(1, size));
    if (block == nullptr) {
        refuse(instance, "%s: Out of memory.", functionName);
        return nullptr;
    }
    auto* const fmuState = reinterpret_cast<SavedFmuState*>(block);
    fmuState->realValues = reinterpret_cast<Real*>(block + kValuesOffset);
    fmuState->next = instance.fmuStates;
    instance.fmuStates = fmuState;
    return fmuState;
}

void releaseFmuState(Fmi2Instance& instance, SavedFmuState* fmuState) {
    SavedFmuState** link = &instance.fmuStates;
    while (*link != fmuState) {
        link = &(*link)->next;
    }
    *link = fmuState->next;
    instance.callbacks.freeMemory(fmuState);
}

void copyValues(const Real* from, Real* to) {
    for (std::uint32_t vr = 0; vr < modelDefinition.realCount; ++vr) {
        to[vr] = from[vr];
    }
}

FmuStateContent contentOf(SavedFmuState& fmuState) {
    return {fmuState.machineState, fmuState.time, fmuState.realValues};
}

void refuseReading(Fmi2Instance& instance, const FmuStateReading& reading) {
    static constexpr fmi2String functionName = "fmi2DeSerializeFMUstate";
    switch (reading.problem) {
        case FmuStateProblem::None:
            return;
        case FmuStateProblem::NotAnFmuState:
            refuse(instance, "%s: The bytes are no serialized FMU state of this library (%s).",
                   functionName, fmuStateFormat::kName);
            return;
        case FmuStateProblem::Damaged:
            refuse(instance,
                   "%s: The serialized FMU state is damaged: its checksum, length or contents "
                   "do not match.",
                   functionName);
            return;
        case FmuStateProblem::OtherFormatVersion:
            refuse(instance,
                   "%s: The serialized FMU state is in format version %u; this library reads "
                   "version %u.",
                   functionName, reading.formatVersion, fmuStateFormat::kVersion);
            return;
        case FmuStateProblem::OtherFmiVersion:
            refuse(instance, "%s: The serialized FMU state is of FMI version %s, not %s.",
                   functionName, reading.found, kFmiVersion);
            return;
        case FmuStateProblem::OtherModel:
            refuse(instance, "%s: The serialized FMU state is of model %s, not %s.", functionName,
                   reading.found, modelDefinition.modelIdentifier);
            return;
        case FmuStateProblem::OtherGuid:
            refuse(instance, "%s: The serialized FMU state is of GUID %s, not %s.", functionName,
                   reading.found, modelDefinition.modelGuid);
            return;
    }
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    static constexpr fmi2String functionName = "fmi2GetFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr || !checkNotNull(*instance, functionName, "FMUstate", FMUstate)) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p", functionName, *FMUstate);
    const MachineState machineState = instance->state;
    SavedFmuState* const fmuState = fmuStateToWrite(*instance, functionName, *FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    fmuState->machineState = machineState;
    fmuState->time = instance->data.time;
    copyValues(instance->data.realValues, fmuState->realValues);
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
    const SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    instance->state = static_cast<MachineState>(fmuState->machineState);
    instance->data.time = fmuState->time;
    copyValues(fmuState->realValues, instance->data.realValues);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
    static constexpr fmi2String functionName = "fmi2FreeFMUstate";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr || !checkNotNull(*instance, functionName, "FMUstate", FMUstate)) {
        return fmi2Error;
    }
    logCall(*instance, "%s: FMUstate %p", functionName, *FMUstate);
    // Freeing no FMU state is nothing to do, as for free().
    if (*FMUstate == nullptr) {
        return fmi2OK;
    }
    SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, *FMUstate);
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
    if (instance == nullptr || acceptFmuState(*instance, functionName, FMUstate) == nullptr ||
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
    SavedFmuState* const fmuState = acceptFmuState(*instance, functionName, FMUstate);
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
        !checkNotNull(*instance, functionName, "FMUstate", FMUstate)) {
        return fmi2Error;
    }
    const bool isNew = *FMUstate == nullptr;
    SavedFmuState* const fmuState = fmuStateToWrite(*instance, functionName, *FMUstate);
    if (fmuState == nullptr) {
        return fmi2Error;
    }
    FmuStateContent content = contentOf(*fmuState);
    const FmuStateReading reading =
        deserializeFmuState(modelDefinition, kFmiVersion, kLiveStates,
                            reinterpret_cast<const unsigned char*>(serializedState), size, content);
    if (reading.problem != FmuStateProblem::None) {
        // A new FMU state that holds nothing goes back at once; one the
        // master named is left as it was.
        if (isNew) {
            releaseFmuState(*instance, fmuState);
        }
        refuseReading(*instance, reading);
        return fmi2Error;
    }
    fmuState->machineState = content.machineState;
    fmuState->time = content.time;
    *FMUstate = fmuState;
    return fmi2OK;
}

}  // extern "C"
