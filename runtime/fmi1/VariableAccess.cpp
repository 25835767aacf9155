// Writing and reading values by value reference. A value reference is the
// index into the instance's array of its type; there is no lookup table.
#include <type_traits>

#include "ModelDefinition.h"
#include "SlaveInstance.h"

namespace {

enum class Direction { Set, Get };

struct AccessCall {
    fmiString functionName;
    Direction direction;
    // The "nvr = %d" trace of the Set functions; Get functions write none.
    fmiString nvrTrace;
};

// Whether an element's trace may be due: with logging off when the elements
// begin, it stays off to the end of the call, since nothing in the loop calls
// out but a refusal, and a refusal ends the call. The loop then spares each
// element the test of the flag.
using MayTrace = std::true_type;
using NeverTraces = std::false_type;

template <typename Tracing, typename AccessElement>
fmiStatus accessElements(SlaveInstance& instance, std::size_t nvr, AccessElement accessElement) {
    for (std::size_t i = 0; i < nvr; ++i) {
        if (!accessElement(instance, i, Tracing{})) {
            return fmiError;
        }
    }
    return fmiOK;
}

// The sequence that all eight functions share. accessElement handles element
// i (value reference check included) and yields false when the call must end;
// the elements before it keep their effect.
template <typename AccessElement>
fmiStatus accessValues(fmiComponent c, const AccessCall& call, const fmiValueReference* vr,
                       std::size_t nvr, const void* value, AccessElement accessElement) {
    const StateMask mask = call.direction == Direction::Set ? kBeforeTermination : kAnyLiveState;
    SlaveInstance* const instance = acceptCall(c, call.functionName, mask);
    if (instance == nullptr) {
        return fmiError;
    }
    if (nvr == 0) {
        if (call.nvrTrace != nullptr) {
            logTrace(*instance, call.nvrTrace, 0);
        }
        return fmiOK;
    }
    if (!checkNotNull(*instance, call.functionName, "vr[]", vr) ||
        !checkNotNull(*instance, call.functionName, "value[]", value)) {
        return fmiError;
    }
    if (call.nvrTrace != nullptr) {
        logTrace(*instance, call.nvrTrace, static_cast<int>(nvr));
    }
    if (instance->loggingFlag == fmiFalse) {
        return accessElements<NeverTraces>(*instance, nvr, accessElement);
    }
    return accessElements<MayTrace>(*instance, nvr, accessElement);
}

// The integer, boolean and string variables: no model has any, so with a
// count of 0 the first element is refused before value[] is touched.
template <typename Value>
fmiStatus setUntraced(fmiComponent c, const AccessCall& call, const fmiValueReference* vr,
                      std::size_t nvr, const Value* value, Value* SlaveInstance::*values,
                      std::uint32_t count) {
    const auto setElement = [&](SlaveInstance& instance, std::size_t i, auto /*tracing*/) {
        if (!checkValueReference(instance, call.functionName, vr[i], count)) {
            return false;
        }
        (instance.*values)[vr[i]] = value[i];
        return true;
    };
    return accessValues(c, call, vr, nvr, value, setElement);
}

template <typename Value>
fmiStatus getUntraced(fmiComponent c, const AccessCall& call, const fmiValueReference* vr,
                      std::size_t nvr, Value* value, Value* SlaveInstance::*values,
                      std::uint32_t count) {
    const auto getElement = [&](SlaveInstance& instance, std::size_t i, auto /*tracing*/) {
        if (!checkValueReference(instance, call.functionName, vr[i], count)) {
            return false;
        }
        value[i] = (instance.*values)[vr[i]];
        return true;
    };
    return accessValues(c, call, vr, nvr, value, getElement);
}

}  // namespace

extern "C" {

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetReal)(fmiComponent c, const fmiValueReference vr[],
                                                  std::size_t nvr, const fmiReal value[]) {
    static constexpr AccessCall call{"fmiSetReal", Direction::Set, "fmiSetReal: nvr = %d"};
    const std::uint32_t count = modelDefinition.realCount;
    const auto setElement = [&](SlaveInstance& instance, std::size_t i, auto tracing) {
        if (!checkValueReference(instance, call.functionName, vr[i], count)) {
            return false;
        }
        // Traced before the store, so a logger sees the value that is coming.
        if constexpr (decltype(tracing)::value) {
            logTrace(instance, "fmiSetReal: #r%d# = %.16g", vr[i], value[i]);
        }
        instance.realValues[vr[i]] = value[i];
        return true;
    };
    return accessValues(c, call, vr, nvr, value, setElement);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetReal)(fmiComponent c, const fmiValueReference vr[],
                                                  std::size_t nvr, fmiReal value[]) {
    static constexpr AccessCall call{"fmiGetReal", Direction::Get, nullptr};
    const std::uint32_t count = modelDefinition.realCount;
    const auto getElement = [&](SlaveInstance& instance, std::size_t i, auto tracing) {
        if (!checkValueReference(instance, call.functionName, vr[i], count)) {
            return false;
        }
        value[i] = instance.realValues[vr[i]];
        // Traced after the copy: the trace shows what the master received.
        if constexpr (decltype(tracing)::value) {
            logTrace(instance, "fmiGetReal: #r%u# = %.16g", vr[i], value[i]);
        }
        return true;
    };
    return accessValues(c, call, vr, nvr, value, getElement);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetInteger)(fmiComponent c, const fmiValueReference vr[],
                                                     std::size_t nvr, const fmiInteger value[]) {
    static constexpr AccessCall call{"fmiSetInteger", Direction::Set, "fmiSetInteger: nvr = %d"};
    return setUntraced(c, call, vr, nvr, value, &SlaveInstance::integerValues,
                       modelDefinition.integerCount);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetBoolean)(fmiComponent c, const fmiValueReference vr[],
                                                     std::size_t nvr, const fmiBoolean value[]) {
    static constexpr AccessCall call{"fmiSetBoolean", Direction::Set, "fmiSetBoolean: nvr = %d"};
    return setUntraced(c, call, vr, nvr, value, &SlaveInstance::booleanValues,
                       modelDefinition.booleanCount);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetString)(fmiComponent c, const fmiValueReference vr[],
                                                    std::size_t nvr, const fmiString value[]) {
    static constexpr AccessCall call{"fmiSetString", Direction::Set, "fmiSetString: nvr = %d"};
    return setUntraced(c, call, vr, nvr, value, &SlaveInstance::stringValues,
                       modelDefinition.stringCount);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetInteger)(fmiComponent c, const fmiValueReference vr[],
                                                     std::size_t nvr, fmiInteger value[]) {
    static constexpr AccessCall call{"fmiGetInteger", Direction::Get, nullptr};
    return getUntraced(c, call, vr, nvr, value, &SlaveInstance::integerValues,
                       modelDefinition.integerCount);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetBoolean)(fmiComponent c, const fmiValueReference vr[],
                                                     std::size_t nvr, fmiBoolean value[]) {
    static constexpr AccessCall call{"fmiGetBoolean", Direction::Get, nullptr};
    return getUntraced(c, call, vr, nvr, value, &SlaveInstance::booleanValues,
                       modelDefinition.booleanCount);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetString)(fmiComponent c, const fmiValueReference vr[],
                                                    std::size_t nvr, fmiString value[]) {
    static constexpr AccessCall call{"fmiGetString", Direction::Get, nullptr};
    return getUntraced(c, call, vr, nvr, value, &SlaveInstance::stringValues,
                       modelDefinition.stringCount);
}

}  // extern "C"
