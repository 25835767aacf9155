// Writing and reading values by value reference. A value reference of the
// model is the index into the instance's real values; the one after them is
// the independent variable, time, which can be read but never set. Only
// parameters and inputs can be written, in every state that writes. Every
// variable is a scalar Float64, so a call passes one value per reference.
#include "Fmi3Instance.h"

namespace {

// The values before the refused one are written all the same.
[[gnu::noinline]] void refuseSetting(Fmi3Instance& instance, fmi3String functionName,
                                     fmi3ValueReference vr) {
    noteValuesChanged(instance.data);
    if (vr == timeValueReference()) {
        refuse(instance,
               "%s: Variable %u is the independent variable time; it follows the steps and "
               "cannot be set.",
               functionName, vr);
        return;
    }
    if (vr >= modelDefinition.realCount) {
        refuseValueReference(instance, functionName, vr);
        return;
    }
    if (modelDefinition.realVariables[vr].causality == Causality::Parameter) {
        refuse(instance,
               "%s: Variable %u is a tunable parameter; in continuous-time mode only "
               "continuous inputs can be set.",
               functionName, vr);
        return;
    }
    refuse(instance, "%s: Variable %u is an output; only parameters and inputs can be set.",
           functionName, vr);
}

inline bool checkSettable(Fmi3Instance& instance, fmi3String functionName, fmi3ValueReference vr) {
    if (vr < 32 && ((instance.settableReals >> vr) & 1U) != 0) {
        return true;
    }
    refuseSetting(instance, functionName, vr);
    return false;
}

[[gnu::noinline]] void refuseValueCount(Fmi3Instance& instance, fmi3String functionName,
                                        std::size_t nValueReferences, std::size_t nValues) {
    refuse(instance, "%s: nValues = %zu, but the %zu value references name %zu scalar values.",
           functionName, nValues, nValueReferences, nValueReferences);
}

// The opening that all value-access calls share: the state, then, for any
// element at all, both arrays, then one value per scalar variable. Null when
// the call must return fmi3Error.
inline Fmi3Instance* acceptAccess(fmi3Instance instance, fmi3String functionName, StateMask mask,
                                  const fmi3ValueReference* vr, std::size_t nValueReferences,
                                  const void* values, std::size_t nValues) {
    Fmi3Instance* const own = acceptCall(instance, functionName, mask);
    if (own == nullptr) {
        return nullptr;
    }
    if (nValues != nValueReferences) {
        refuseValueCount(*own, functionName, nValueReferences, nValues);
        return nullptr;
    }
    if (nValueReferences == 0) {
        return own;
    }
    if (!checkNotNull(*own, functionName, "valueReferences[]", vr) ||
        !checkNotNull(*own, functionName, "values[]", values)) {
        return nullptr;
    }
    return own;
}

// The value of one reference already checked against the model's reals and
// time.
inline fmi3Float64 valueOf(const Fmi3Instance& instance, fmi3ValueReference vr) {
    return vr < modelDefinition.realCount ? instance.data.realValues[vr] : instance.data.time;
}

// With debug logging on, or in Model Exchange: every element traced while
// logCalls is on, and every change noted. Out of line, so that the untraced
// co-simulation loops keep nothing alive across a logger call.
[[gnu::noinline]] fmi3Status setFloat64OutOfLine(Fmi3Instance& instance,
                                                 const fmi3ValueReference* vr, std::size_t nvr,
                                                 const fmi3Float64* values) {
    logCall(instance, "fmi3SetFloat64: nValueReferences = %zu", nvr);
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkSettable(instance, "fmi3SetFloat64", vr[i])) {
            return fmi3Error;
        }
        // Traced before the store, so a logger sees the value that is coming.
        logCall(instance, "fmi3SetFloat64: #r%u# = %.16g", vr[i], values[i]);
        instance.data.realValues[vr[i]] = values[i];
    }
    noteValuesChanged(instance.data);
    return fmi3OK;
}

// As above; Model Exchange refreshes the outputs to the values as they
// stand now before any is read.
[[gnu::noinline]] fmi3Status getFloat64OutOfLine(Fmi3Instance& instance,
                                                 const fmi3ValueReference* vr, std::size_t nvr,
                                                 fmi3Float64* values) {
    if (!refreshOutputs(instance, "fmi3GetFloat64")) {
        return fmi3Error;
    }
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkValueReference(instance, "fmi3GetFloat64", vr[i],
                                 modelDefinition.realCount + 1)) {
            return fmi3Error;
        }
        values[i] = valueOf(instance, vr[i]);
        // Traced after the copy: the trace shows what the master received.
        logCall(instance, "fmi3GetFloat64: #r%u# = %.16g", vr[i], values[i]);
    }
    return fmi3OK;
}

// No model has variables of any other type: the first element is refused
// before its value is touched, and no elements succeed.
fmi3Status accessNone(fmi3Instance instance, fmi3String functionName, StateMask mask,
                      const fmi3ValueReference* vr, std::size_t nValueReferences,
                      const void* values, std::size_t nValues) {
    Fmi3Instance* const own =
        acceptAccess(instance, functionName, mask, vr, nValueReferences, values, nValues);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: nValueReferences = %zu", functionName, nValueReferences);
    if (nValueReferences > 0) {
        refuseValueReference(*own, functionName, vr[0]);
        return fmi3Error;
    }
    return fmi3OK;
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3SetFloat64(fmi3Instance instance,
                                    const fmi3ValueReference valueReferences[],
                                    std::size_t nValueReferences, const fmi3Float64 values[],
                                    std::size_t nValues) {
    static constexpr fmi3String functionName = "fmi3SetFloat64";
    Fmi3Instance* const own = acceptAccess(instance, functionName, kValuesWritable, valueReferences,
                                           nValueReferences, values, nValues);
    if (own == nullptr) {
        return fmi3Error;
    }
    if (takesOutOfLineAccess(*own)) {
        return setFloat64OutOfLine(*own, valueReferences, nValueReferences, values);
    }
    for (std::size_t i = 0; i < nValueReferences; ++i) {
        if (!checkSettable(*own, functionName, valueReferences[i])) {
            return fmi3Error;
        }
        own->data.realValues[valueReferences[i]] = values[i];
    }
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3GetFloat64(fmi3Instance instance,
                                    const fmi3ValueReference valueReferences[],
                                    std::size_t nValueReferences, fmi3Float64 values[],
                                    std::size_t nValues) {
    static constexpr fmi3String functionName = "fmi3GetFloat64";
    Fmi3Instance* const own = acceptAccess(instance, functionName, kValuesReadable, valueReferences,
                                           nValueReferences, values, nValues);
    if (own == nullptr) {
        return fmi3Error;
    }
    if (takesOutOfLineAccess(*own)) {
        return getFloat64OutOfLine(*own, valueReferences, nValueReferences, values);
    }
    // The model's reals first, as fmi2GetReal reads them: time, the one
    // reference after them, and a refusal are the rarer branches. The array
    // is read once, not after every store to the master's values.
    const std::uint32_t realCount = modelDefinition.realCount;
    const Real* const realValues = own->data.realValues;
    for (std::size_t i = 0; i < nValueReferences; ++i) {
        const fmi3ValueReference vr = valueReferences[i];
        if (vr < realCount) {
            values[i] = realValues[vr];
        } else if (vr == timeValueReference()) {
            values[i] = own->data.time;
        } else {
            refuseValueReference(*own, functionName, vr);
            return fmi3Error;
        }
    }
    return fmi3OK;
}

#define SLAVE_FMI3_NO_VARIABLES_OF(TypeName, ValueType)                                    \
    SLAVE_API fmi3Status fmi3Get##TypeName(                                                \
        fmi3Instance instance, const fmi3ValueReference valueReferences[],                 \
        std::size_t nValueReferences, ValueType values[], std::size_t nValues) {           \
        return accessNone(instance, "fmi3Get" #TypeName, kValuesReadable, valueReferences, \
                          nValueReferences, values, nValues);                              \
    }                                                                                      \
    SLAVE_API fmi3Status fmi3Set##TypeName(                                                \
        fmi3Instance instance, const fmi3ValueReference valueReferences[],                 \
        std::size_t nValueReferences, const ValueType values[], std::size_t nValues) {     \
        return accessNone(instance, "fmi3Set" #TypeName, kValuesWritable, valueReferences, \
                          nValueReferences, values, nValues);                              \
    }

SLAVE_FMI3_NO_VARIABLES_OF(Float32, fmi3Float32)
SLAVE_FMI3_NO_VARIABLES_OF(Int8, fmi3Int8)
SLAVE_FMI3_NO_VARIABLES_OF(UInt8, fmi3UInt8)
SLAVE_FMI3_NO_VARIABLES_OF(Int16, fmi3Int16)
SLAVE_FMI3_NO_VARIABLES_OF(UInt16, fmi3UInt16)
SLAVE_FMI3_NO_VARIABLES_OF(Int32, fmi3Int32)
SLAVE_FMI3_NO_VARIABLES_OF(UInt32, fmi3UInt32)
SLAVE_FMI3_NO_VARIABLES_OF(Int64, fmi3Int64)
SLAVE_FMI3_NO_VARIABLES_OF(UInt64, fmi3UInt64)
SLAVE_FMI3_NO_VARIABLES_OF(Boolean, fmi3Boolean)
SLAVE_FMI3_NO_VARIABLES_OF(String, fmi3String)

#undef SLAVE_FMI3_NO_VARIABLES_OF

// Binary values carry their sizes beside them; there are none either.
SLAVE_API fmi3Status fmi3GetBinary(fmi3Instance instance,
                                   const fmi3ValueReference valueReferences[],
                                   std::size_t nValueReferences, std::size_t /*valueSizes*/[],
                                   fmi3Binary values[], std::size_t nValues) {
    return accessNone(instance, "fmi3GetBinary", kValuesReadable, valueReferences, nValueReferences,
                      values, nValues);
}

SLAVE_API fmi3Status fmi3SetBinary(fmi3Instance instance,
                                   const fmi3ValueReference valueReferences[],
                                   std::size_t nValueReferences, const std::size_t /*valueSizes*/[],
                                   const fmi3Binary values[], std::size_t nValues) {
    return accessNone(instance, "fmi3SetBinary", kValuesWritable, valueReferences, nValueReferences,
                      values, nValues);
}

// A clock is one value per reference, without a count of values; there are
// no clocks.
SLAVE_API fmi3Status fmi3GetClock(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                  std::size_t nValueReferences, fmi3Clock values[]) {
    return accessNone(instance, "fmi3GetClock", kValuesReadable, valueReferences, nValueReferences,
                      values, nValueReferences);
}

SLAVE_API fmi3Status fmi3SetClock(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                  std::size_t nValueReferences, const fmi3Clock values[]) {
    return accessNone(instance, "fmi3SetClock", kValuesWritable, valueReferences, nValueReferences,
                      values, nValueReferences);
}

}  // extern "C"
