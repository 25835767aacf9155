// The parts of instantiation, debug logging and reset that every FMI version
// from 2.0 on does alike. The templates are over a version's instance
// record; the version gives checkNotNull(...) and refuse(instance, format,
// ...) for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "InstanceData.h"
#include "LogCategories.h"
#include "ModelDefinition.h"

// Where the real values start in an instance's block, behind the record.
constexpr std::size_t roundedToReal(std::size_t bytes) {
    return (bytes + sizeof(Real) - 1) / sizeof(Real) * sizeof(Real);
}

// What the master may write: the parameters and inputs.
inline ValueReferenceSet parametersAndInputs(const ModelDefinition& model) {
    ValueReferenceSet set = 0;
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        if (model.realVariables[vr].causality != Causality::Output) {
            set |= ValueReferenceSet{1} << vr;
        }
    }
    return set;
}

// The bit of the named log category, 0 for a name that is none of them.
inline std::uint32_t categoryBitOf(const char* name) {
    std::uint32_t bit = 1;
    for (const LogCategory& category : kLogCategories) {
        if (std::strcmp(category.name, name) == 0) {
            return bit;
        }
        bit <<= 1;
    }
    return 0;
}

// The categories a call of SetDebugLogging names, every one for none. Every
// name is checked before any setting changes; false after a refusal.
template <typename Instance>
bool chooseLogCategories(Instance& instance, const char* functionName, std::size_t nCategories,
                         const char* const categories[], std::uint32_t& chosen) {
    if (nCategories > 0 && !checkNotNull(instance, functionName, "categories[]", categories)) {
        return false;
    }
    chosen = nCategories == 0 ? kAllCategories : 0U;
    for (std::size_t i = 0; i < nCategories; ++i) {
        if (!checkNotNull(instance, functionName, "categories[i]", categories[i])) {
            return false;
        }
        const std::uint32_t bit = categoryBitOf(categories[i]);
        if (bit == 0) {
            refuse(instance, "%s: Unknown log category %s.", functionName, categories[i]);
            return false;
        }
        chosen |= bit;
    }
    return true;
}

inline void switchDebugLogging(std::uint32_t& debugLogging, bool loggingOn,
                               std::uint32_t categories) {
    if (loggingOn) {
        debugLogging |= categories;
    } else {
        debugLogging &= ~categories;
    }
}

// A fresh or reset instance's time and values; its state is the version's.
inline void writeFreshData(InstanceData& data) {
    data.time = 0.0;
    writeInitialValues(data.realValues, modelDefinition);
    noteValuesChanged(data);
}
