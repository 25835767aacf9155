// The FMU states of an instance, alike from FMI 2.0 on: each is one block,
// the values behind the record, and the instance keeps its own in a list, so
// that it knows them and frees what is left of them with itself. An FMU state
// of another instance, or one already freed, is refused rather than read.
//
// The functions are templates over a version's instance record, which has
// `state`, `data` and `fmuStates`. The version gives, for its record,
// allocateBlock(instance, size) and freeBlock(instance, block) (where its
// memory comes from), refuse(instance, format, ...) and checkNotNull(...),
// and its own words for an FMU state (FmuStateWords).
#pragma once

#include <cstddef>
#include <cstdint>

#include "InstanceData.h"
#include "ModelDefinition.h"
#include "SerializedFmuState.h"

struct SavedFmuState {
    SavedFmuState* next;
    std::uint32_t machineState;
    Real time;
    Real* realValues;
};

// How a version's functions call an FMU state argument, and the format of
// the refusal of an FMU state that is not the instance's (function name,
// then the pointer): the words are the version's, and a logger sees the
// format itself.
struct FmuStateWords {
    const char* argumentName;
    const char* notOwnFormat;
};

namespace fmuStateList_detail {

constexpr std::size_t kValuesOffset =
    (sizeof(SavedFmuState) + sizeof(Real) - 1) / sizeof(Real) * sizeof(Real);

inline void copyValues(const Real* from, Real* to) {
    for (std::uint32_t vr = 0; vr < modelDefinition.realCount; ++vr) {
        to[vr] = from[vr];
    }
}

}  // namespace fmuStateList_detail

template <typename Instance>
SavedFmuState* ownFmuState(const Instance& instance, const void* fmuState) {
    for (SavedFmuState* own = instance.fmuStates; own != nullptr; own = own->next) {
        if (own == fmuState) {
            return own;
        }
    }
    return nullptr;
}

// Yields the instance's own FMU state behind fmuState, or null after a
// refusal.
template <typename Instance>
SavedFmuState* acceptFmuState(Instance& instance, const char* functionName,
                              const FmuStateWords& words, const void* fmuState) {
    if (!checkNotNull(instance, functionName, words.argumentName, fmuState)) {
        return nullptr;
    }
    SavedFmuState* const own = ownFmuState(instance, fmuState);
    if (own == nullptr) {
        refuse(instance, words.notOwnFormat, functionName, fmuState);
    }
    return own;
}

// The FMU state a call writes into: the one the master names, or a new one
// for a null. Null after a refusal.
template <typename Instance>
SavedFmuState* fmuStateToWrite(Instance& instance, const char* functionName,
                               const FmuStateWords& words, void* fmuState) {
    using fmuStateList_detail::kValuesOffset;
    if (fmuState != nullptr) {
        return acceptFmuState(instance, functionName, words, fmuState);
    }
    const std::size_t size = kValuesOffset + sizeof(Real) * modelDefinition.realCount;
    auto* const block = static_cast<unsigned char*>(allocateBlock(instance, size));
    if (block == nullptr) {
        refuse(instance, "%s: Out of memory.", functionName);
        return nullptr;
    }
    auto* const saved = reinterpret_cast<SavedFmuState*>(block);
    saved->realValues = reinterpret_cast<Real*>(block + kValuesOffset);
    saved->next = instance.fmuStates;
    instance.fmuStates = saved;
    return saved;
}

template <typename Instance>
void releaseFmuState(Instance& instance, SavedFmuState* fmuState) {
    SavedFmuState** link = &instance.fmuStates;
    while (*link != fmuState) {
        link = &(*link)->next;
    }
    *link = fmuState->next;
    freeBlock(instance, fmuState);
}

// What is left of an instance's FMU states when it is freed.
template <typename Instance>
void freeFmuStates(Instance& instance) {
    SavedFmuState* fmuState = instance.fmuStates;
    while (fmuState != nullptr) {
        SavedFmuState* const next = fmuState->next;
        freeBlock(instance, fmuState);
        fmuState = next;
    }
    instance.fmuStates = nullptr;
}

// The instance's state of the call sequence is taken as it was before the
// call, which a refusal would have changed.
inline void saveFmuState(SavedFmuState& fmuState, std::uint32_t machineState,
                         const InstanceData& data) {
    fmuState.machineState = machineState;
    fmuState.time = data.time;
    fmuStateList_detail::copyValues(data.realValues, fmuState.realValues);
}

template <typename Instance>
void restoreFmuState(Instance& instance, const SavedFmuState& fmuState) {
    instance.state = static_cast<decltype(instance.state)>(fmuState.machineState);
    instance.data.time = fmuState.time;
    fmuStateList_detail::copyValues(fmuState.realValues, instance.data.realValues);
}

inline FmuStateContent contentOf(SavedFmuState& fmuState) {
    return {fmuState.machineState, fmuState.time, fmuState.realValues};
}

template <typename Instance>
void refuseReading(Instance& instance, const char* functionName, const char* fmiVersion,
                   const FmuStateReading& reading) {
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
                   functionName, reading.found, fmiVersion);
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

// Reads serialized bytes into the FMU state *fmuState names, or into a new
// one for a null, and names it there; the bytes and fmuState must not be
// null. False after a refusal, with *fmuState as it was.
template <typename Instance>
bool readFmuState(Instance& instance, const char* functionName, const FmuStateWords& words,
                  const char* fmiVersion, std::uint32_t machineStates, const unsigned char* bytes,
                  std::size_t size, void** fmuState) {
    const bool isNew = *fmuState == nullptr;
    SavedFmuState* const saved = fmuStateToWrite(instance, functionName, words, *fmuState);
    if (saved == nullptr) {
        return false;
    }
    FmuStateContent content = contentOf(*saved);
    const FmuStateReading reading =
        deserializeFmuState(modelDefinition, fmiVersion, machineStates, bytes, size, content);
    if (reading.problem != FmuStateProblem::None) {
        // A new FMU state that holds nothing goes back at once; one the
        // master named is left as it was.
        if (isNew) {
            releaseFmuState(instance, saved);
        }
        refuseReading(instance, functionName, fmiVersion, reading);
        return false;
    }
    saved->machineState = content.machineState;
    saved->time = content.time;
    *fmuState = saved;
    return true;
}
