// Writing and reading values by value reference. A value reference is the
// index into the instance's real values; there is no lookup table. Only
// parameters and inputs can be written, in every state that writes, but
// for the parameters in continuous-time mode. In Model Exchange a write
// marks the outputs outdated and the next read recomputes them.
#include "Fmi2Instance.h"

namespace {

void refuseSetting(Fmi2Instance& instance, fmi2String functionName, fmi2ValueReference vr) {
    // The elements before this one were written.
    noteValuesChanged(instance.data);
    if (vr >= modelDefinition.realCount) {
        refuseValueReference(instance, functionName, vr);
        return;
    }
    if (modelDefinition.realVariables[vr].causality == Causality::Output) {
        refuse(instance, "%s: Variable %u is an output; only parameters and inputs can be set.",
               functionName, vr);
        return;
    }
    refuse(instance,
           "%s: Variable %u is a parameter; in continuous-time mode only inputs can be set, "
           "parameters in event mode.",
           functionName, vr);
}

inline bool checkSettable(Fmi2Instance& instance, fmi2String functionName, fmi2ValueReference vr) {
    if (vr < 32 && ((instance.settableReals >> vr) & 1U) != 0) {
        return true;
    }
    refuseSetting(instance, functionName, vr);
    return false;
}

// The opening that all value-access calls share: the state, then, for any
// element at all, both arrays. Null when the call must return fmi2Error.
inline Fmi2Instance* acceptAccess(fmi2Component c, fmi2String functionName, StateMask mask,
                                  const fmi2ValueReference* vr, std::size_t nvr,
                                  const void* value) {
    Fmi2Instance* const instance = acceptCall(c, functionName, mask);
    if (instance == nullptr || nvr == 0) {
        return instance;
    }
    if (!checkNotNull(*instance, functionName, "vr[]", vr) ||
        !checkNotNull(*instance, functionName, "value[]", value)) {
        return nullptr;
    }
    return instance;
}

// With debug logging on: every element traced. Out of line, so that the
// untraced loops keep nothing alive across a logger call.
[[gnu::noinline]] fmi2Status setRealsTraced(Fmi2Instance& instance, const fmi2ValueReference* vr,
                                            std::size_t nvr, const fmi2Real* value) {
    logCall(instance, "fmi2SetReal: nvr = %u", static_cast<unsigned>(nvr));
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkSettable(instance, "fmi2SetReal", vr[i])) {
            return fmi2Error;
        }
        // Traced before the store, so a logger sees the value that is coming.
        logCall(instance, "fmi2SetReal: #r%u# = %.16g", vr[i], value[i]);
        instance.data.realValues[vr[i]] = value[i];
    }
    noteValuesChanged(instance.data);
    return fmi2OK;
}

[[gnu::noinline]] fmi2Status getRealsTraced(Fmi2Instance& instance, const fmi2ValueReference* vr,
                                            std::size_t nvr, fmi2Real* value) {
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkValueReference(instance, "fmi2GetReal", vr[i], modelDefinition.realCount)) {
            return fmi2Error;
        }
        value[i] = instance.data.realValues[vr[i]];
        // Traced after the copy: the trace shows what the master received.
        logCall(instance, "fmi2GetReal: #r%u# = %.16g", vr[i], value[i]);
    }
    return fmi2OK;
}

// No model has integer, boolean or string variables: the first element is
// refused before its value is touched, and nvr 0 succeeds.
fmi2Status accessNone(fmi2Component c, fmi2String functionName, StateMask mask,
                      const fmi2ValueReference* vr, std::size_t nvr, const void* value) {
    Fmi2Instance* const instance = acceptAccess(c, functionName, mask, vr, nvr, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: nvr = %u", functionName, static_cast<unsigned>(nvr));
    if (nvr > 0) {
        refuseValueReference(*instance, functionName, vr[0]);
        return fmi2Error;
    }
    return fmi2OK;
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                 const fmi2Real value[]) {
    static constexpr fmi2String functionName = "fmi2SetReal";
    Fmi2Instance* const instance = acceptAccess(c, functionName, kValuesWritable, vr, nvr, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (tracesCalls(*instance)) {
        return setRealsTraced(*instance, vr, nvr, value);
    }
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkSettable(*instance, functionName, vr[i])) {
            return fmi2Error;
        }
        instance->data.realValues[vr[i]] = value[i];
    }
    noteValuesChanged(instance->data);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                 fmi2Real value[]) {
    static constexpr fmi2String functionName = "fmi2GetReal";
    Fmi2Instance* const instance = acceptAccess(c, functionName, kValuesReadable, vr, nvr, value);
    if (instance == nullptr || !refreshOutputs(*instance, functionName)) {
        return fmi2Error;
    }
    if (tracesCalls(*instance)) {
        return getRealsTraced(*instance, vr, nvr, value);
    }
    const std::uint32_t count = modelDefinition.realCount;
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!checkValueReference(*instance, functionName, vr[i], count)) {
            return fmi2Error;
        }
        value[i] = instance->data.realValues[vr[i]];
    }
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                    const fmi2Integer value[]) {
    return accessNone(c, "fmi2SetInteger", kDiscreteWritable, vr, nvr, value);
}

SLAVE_API fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                    const fmi2Boolean value[]) {
    return accessNone(c, "fmi2SetBoolean", kDiscreteWritable, vr, nvr, value);
}

SLAVE_API fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                   const fmi2String value[]) {
    return accessNone(c, "fmi2SetString", kDiscreteWritable, vr, nvr, value);
}

SLAVE_API fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                    fmi2Integer value[]) {
    return accessNone(c, "fmi2GetInteger", kValuesReadable, vr, nvr, value);
}

SLAVE_API fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                    fmi2Boolean value[]) {
    return accessNone(c, "fmi2GetBoolean", kValuesReadable, vr, nvr, value);
}

SLAVE_API fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                   fmi2String value[]) {
    return accessNone(c, "fmi2GetString", kValuesReadable, vr, nvr, value);
}

}  // extern "C"
