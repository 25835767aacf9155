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

// The full course of fmi2SetReal: every check with its refusal, the trace.
// Also what the plain course falls back to on any doubt; it writes again
// what that wrote, the same values.
[[gnu::noinline]] fmi2Status setRealsChecked(fmi2Component c, const fmi2ValueReference* vr,
                                             std::size_t nvr, const fmi2Real* value) {
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

// The full course of fmi2GetReal, outputs outdated in Model Exchange
// computed first.
[[gnu::noinline]] fmi2Status getRealsChecked(fmi2Component c, const fmi2ValueReference* vr,
                                             std::size_t nvr, fmi2Real* value) {
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

// The common call, and the one that must cost least: an instance in a state
// that allows it, at least one element, the arrays there, no trace. Null for
// any other, which the full course takes; so the plain course calls nothing
// and needs no frame.
inline Fmi2Instance* plainAccess(fmi2Component c, StateMask mask, const fmi2ValueReference* vr,
                                 std::size_t nvr, const void* value) {
    auto* const instance = static_cast<Fmi2Instance*>(c);
    if (instance == nullptr || (instance->state & mask) == 0 || nvr == 0) {
        return nullptr;
    }
    if (vr == nullptr || value == nullptr || tracesCalls(*instance)) {
        return nullptr;
    }
    return instance;
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
    Fmi2Instance* const instance = plainAccess(c, kValuesWritable, vr, nvr, value);
    if (instance == nullptr) {
        return setRealsChecked(c, vr, nvr, value);
    }
    Real* const values = instance->data.realValues;
    std::size_t i = 0;
    do {
        if (!contains(instance->settableReals, vr[i])) {
            return setRealsChecked(c, vr, nvr, value);
        }
        values[vr[i]] = value[i];
    } while (++i < nvr);
    noteValuesChanged(instance->data);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], std::size_t nvr,
                                 fmi2Real value[]) {
    Fmi2Instance* const instance = plainAccess(c, kValuesReadable, vr, nvr, value);
    if (instance == nullptr || instance->data.outputsOutdated) {
        return getRealsChecked(c, vr, nvr, value);
    }
    const Real* const values = instance->data.realValues;
    const std::uint32_t count = modelDefinition.realCount;
    std::size_t i = 0;
    do {
        if (vr[i] >= count) {
            return getRealsChecked(c, vr, nvr, value);
        }
        value[i] = values[vr[i]];
    } while (++i < nvr);
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
