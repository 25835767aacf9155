// FMU states: taken from an instance, given back to it, freed, and
// serialized to bytes that mean the same on every platform, in the same
// format as the FMI 2.0 library's, naming FMI version 3.0. Each FMU state is
// a block of the FMU's own from the C runtime, and belongs to the instance
// that made it; an FMU state of another instance, or one already freed, is
// refused rather than read.
#include <cstdlib>

#include "Fmi3Instance.h"
#include "SerializedFmuState.h"

namespace {

constexpr fmi3String kFmiVersion = "3.0";

constexpr std::size_t kValuesOffset =
    (sizeof(SavedFmuState) + sizeof(Real) - 1) / sizeof(Real) * sizeof(Real);

SavedFmuState* ownFmuState(const Fmi3Instance& instance, fmi3FMUState FMUState) {
    for (SavedFmuState* own = instance.fmuStates; own != nullptr; own = own->next) {
        if (own == FMUState) {
            return own;
        }
    }
    return nullptr;
}

// Yields the instance's own FMU state behind FMUState, or null after a
// refusal.
SavedFmuState* acceptFmuState(Fmi3Instance& instance, fmi3String functionName,
                              fmi3FMUState FMUState) {
    if (!checkNotNull(instance, functionName, "FMUState", FMUState)) {
        return nullptr;
    }
    SavedFmuState* const own = ownFmuState(instance, FMUState);
    if (own == nullptr) {
        refuse(instance, "%s: FMUState %p is no FMU state of this instance, or it was freed.",
               functionName, FMUState);
    }
    return own;
}

// The FMU state a call writes into: the one the master names, or a new one
// for a null. Null after a refusal.
SavedFmuState* fmuStateToWrite(Fmi3Instance& instance, fmi3String functionName,
                               fmi3FMUState FMUState) {
    if (FMUState != nullptr) {
        return acceptFmuState(instance, functionName, FMUState);
    }
    const std::size_t size = kValuesOffset + sizeof(Real) * modelDefinition.realCount;
    auto* const block = static_cast<unsigned char*>(std::calloc(1, size));
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

void releaseFmuState(Fmi3Instance& instance, SavedFmuState* fmuState) {
    SavedFmuState** link = &instance.fmuStates;
    while (*link != fmuState) {
        link = &(*link)->next;
    }
    *link = fmuState->next;
    std::free(fmuState);
}

void copyValues(const Real* from, Real* to) {
    for (std::uint32_t vr = 0; vr < modelDefinition.realCount; ++vr) {
        to[vr] = from[vr];
    }
}

FmuStateContent contentOf(SavedFmuState& fmuState) {
    return {fmuState.machineState, fmuState.time, fmuState.realValues};
}

void refuseReading(Fmi3Instance& instance, const FmuStateReading& reading) {
    static constexpr fmi3String functionName = "fmi3DeserializeFMUState";
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

SLAVE_API fmi3Status fmi3GetFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    static constexpr fmi3String functionName = "fmi3GetFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr || !checkNotNull(*own, functionName, "FMUState", FMUState)) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p", functionName, *FMUState);
    const MachineState machineState = own->state;
    SavedFmuState* const fmuState = fmuStateToWrite(*own, functionName, *FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    fmuState->machineState = machineState;
    fmuState->time = own->data.time;
    copyValues(own->data.realValues, fmuState->realValues);
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
    const SavedFmuState* const fmuState = acceptFmuState(*own, functionName, FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    own->state = static_cast<MachineState>(fmuState->machineState);
    own->data.time = fmuState->time;
    copyValues(fmuState->realValues, own->data.realValues);
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3FreeFMUState(fmi3Instance instance, fmi3FMUState* FMUState) {
    static constexpr fmi3String functionName = "fmi3FreeFMUState";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr || !checkNotNull(*own, functionName, "FMUState", FMUState)) {
        return fmi3Error;
    }
    logCall(*own, "%s: FMUState %p", functionName, *FMUState);
    // Freeing no FMU state is nothing to do, as for free().
    if (*FMUState == nullptr) {
        return fmi3OK;
    }
    SavedFmuState* const fmuState = acceptFmuState(*own, functionName, *FMUState);
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
    if (own == nullptr || acceptFmuState(*own, functionName, FMUState) == nullptr ||
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
    SavedFmuState* const fmuState = acceptFmuState(*own, functionName, FMUState);
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
        !checkNotNull(*own, functionName, "FMUState", FMUState)) {
        return fmi3Error;
    }
    const bool isNew = *FMUState == nullptr;
    SavedFmuState* const fmuState = fmuStateToWrite(*own, functionName, *FMUState);
    if (fmuState == nullptr) {
        return fmi3Error;
    }
    FmuStateContent content = contentOf(*fmuState);
    const FmuStateReading reading =
        deserializeFmuState(modelDefinition, kFmiVersion, kLiveStates,
                            reinterpret_cast<const unsigned char*>(serializedState), size, content);
    if (reading.problem != FmuStateProblem::None) {
        // A new FMU state that holds nothing goes back at once; one the
        // master named is left as it was.
        if (isNew) {
            releaseFmuState(*own, fmuState);
        }
        refuseReading(*own, reading);
        return fmi3Error;
    }
    fmuState->machineState = content.machineState;
    fmuState->time = content.time;
    *FMUState = fmuState;
    return fmi3OK;
}

}  // extern "C"
