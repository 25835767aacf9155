// The functions of Model Exchange. The force elements are algebraic: no
// continuous states, no event indicators, and no event of their own, so the
// master's integrator sees a model with nothing to integrate whose outputs
// follow the time, parameters and inputs at once (see fmi3GetFloat64). Event
// mode and continuous-time mode exist to keep the call sequence the master
// runs for every Model Exchange FMU. A co-simulation instance refuses these
// calls: it has no event mode and integrates nothing.
#include "Fmi3Instance.h"

namespace {

constexpr fmi3String kNoEventMode = "This FMU has no event mode (hasEventMode=\"false\").";

// The states in which the vectors of continuous states, their derivatives,
// nominals and the event indicators can be read: once initialization began.
constexpr StateMask kVectorsReadable =
    InitializationMode | EventMode | ContinuousTimeMode | Terminated | Error;

// Event mode belongs to co-simulation too in the standard, where this FMU
// does not offer it (hasEventMode="false"), so a co-simulation instance hears
// that rather than of the interface.
Fmi3Instance* acceptEventModeCall(fmi3Instance instance, fmi3String functionName, StateMask mask) {
    if (instance != nullptr && !static_cast<Fmi3Instance*>(instance)->data.modelExchange) {
        refuseInapplicable(instance, functionName, kNoEventMode);
        return nullptr;
    }
    return acceptCall(instance, functionName, mask);
}

// A vector of continuous states or event indicators: there are none, so
// only an empty one is right, whatever its pointer.
fmi3Status acceptEmptyVector(fmi3Instance instance, fmi3String functionName, StateMask mask,
                             fmi3String countName, std::size_t count, fmi3String what) {
    Fmi3Instance* const own = acceptModelExchangeCall(instance, functionName, mask);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: %s = %zu", functionName, countName, count);
    if (count != 0) {
        refuse(*own, "%s: %s = %zu, but this FMU has no %s (0).", functionName, countName, count,
               what);
        return fmi3Error;
    }
    return fmi3OK;
}

fmi3Status acceptStateVector(fmi3Instance instance, fmi3String functionName, StateMask mask,
                             std::size_t nContinuousStates) {
    return acceptEmptyVector(instance, functionName, mask, "nContinuousStates", nContinuousStates,
                             "continuous states");
}

// The number of continuous states or event indicators: none, in any state.
fmi3Status writeNoneCount(fmi3Instance instance, fmi3String functionName, fmi3String argumentName,
                          std::size_t* count) {
    Fmi3Instance* const own = acceptModelExchangeCall(instance, functionName, kLiveStates);
    if (own == nullptr || !checkNotNull(*own, functionName, argumentName, count)) {
        return fmi3Error;
    }
    logCall(*own, "%s", functionName);
    *count = 0;
    return fmi3OK;
}

// Every result of fmi3UpdateDiscreteStates, which the master must give
// places for.
struct DiscreteStateResults {
    fmi3Boolean* discreteStatesNeedUpdate;
    fmi3Boolean* terminateSimulation;
    fmi3Boolean* nominalsOfContinuousStatesChanged;
    fmi3Boolean* valuesOfContinuousStatesChanged;
    fmi3Boolean* nextEventTimeDefined;
    fmi3Float64* nextEventTime;
};

bool hasEveryResult(Fmi3Instance& instance, fmi3String functionName,
                    const DiscreteStateResults& results) {
    return checkNotNull(instance, functionName, "discreteStatesNeedUpdate",
                        results.discreteStatesNeedUpdate) &&
           checkNotNull(instance, functionName, "terminateSimulation",
                        results.terminateSimulation) &&
           checkNotNull(instance, functionName, "nominalsOfContinuousStatesChanged",
                        results.nominalsOfContinuousStatesChanged) &&
           checkNotNull(instance, functionName, "valuesOfContinuousStatesChanged",
                        results.valuesOfContinuousStatesChanged) &&
           checkNotNull(instance, functionName, "nextEventTimeDefined",
                        results.nextEventTimeDefined) &&
           checkNotNull(instance, functionName, "nextEventTime", results.nextEventTime);
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3EnterEventMode(fmi3Instance instance) {
    static constexpr fmi3String functionName = "fmi3EnterEventMode";
    Fmi3Instance* const own = acceptEventModeCall(instance, functionName, ContinuousTimeMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s", functionName);
    own->state = EventMode;
    settleSettableReals(*own);
    return fmi3OK;
}

// No discrete states and no events: one call ends the event iteration, and no
// time event lies ahead. The next event time is left as it is, since it is
// not defined.
SLAVE_API fmi3Status fmi3UpdateDiscreteStates(
    fmi3Instance instance, fmi3Boolean* discreteStatesNeedUpdate, fmi3Boolean* terminateSimulation,
    fmi3Boolean* nominalsOfContinuousStatesChanged, fmi3Boolean* valuesOfContinuousStatesChanged,
    fmi3Boolean* nextEventTimeDefined, fmi3Float64* nextEventTime) {
    static constexpr fmi3String functionName = "fmi3UpdateDiscreteStates";
    Fmi3Instance* const own = acceptEventModeCall(instance, functionName, EventMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s", functionName);
    const DiscreteStateResults results{
        discreteStatesNeedUpdate,        terminateSimulation,  nominalsOfContinuousStatesChanged,
        valuesOfContinuousStatesChanged, nextEventTimeDefined, nextEventTime};
    if (!hasEveryResult(*own, functionName, results)) {
        return fmi3Error;
    }
    *discreteStatesNeedUpdate = fmi3False;
    *terminateSimulation = fmi3False;
    *nominalsOfContinuousStatesChanged = fmi3False;
    *valuesOfContinuousStatesChanged = fmi3False;
    *nextEventTimeDefined = fmi3False;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3EnterContinuousTimeMode(fmi3Instance instance) {
    static constexpr fmi3String functionName = "fmi3EnterContinuousTimeMode";
    Fmi3Instance* const own = acceptModelExchangeCall(instance, functionName, EventMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s", functionName);
    own->state = ContinuousTimeMode;
    settleSettableReals(*own);
    return fmi3OK;
}

// Nothing happens at the end of an integrator step: no event, no
// termination (needsCompletedIntegratorStep="false").
SLAVE_API fmi3Status fmi3CompletedIntegratorStep(fmi3Instance instance,
                                                 fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                                 fmi3Boolean* enterEventMode,
                                                 fmi3Boolean* terminateSimulation) {
    static constexpr fmi3String functionName = "fmi3CompletedIntegratorStep";
    Fmi3Instance* const own = acceptModelExchangeCall(instance, functionName, ContinuousTimeMode);
    if (own == nullptr || !checkNotNull(*own, functionName, "enterEventMode", enterEventMode) ||
        !checkNotNull(*own, functionName, "terminateSimulation", terminateSimulation)) {
        return fmi3Error;
    }
    logCall(*own, "%s: noSetFMUStatePriorToCurrentPoint = fmi3%s", functionName,
            noSetFMUStatePriorToCurrentPoint ? "True" : "False");
    *enterEventMode = fmi3False;
    *terminateSimulation = fmi3False;
    return fmi3OK;
}

// The outputs do not depend on time, so they stay as they are; the time is
// what the independent variable reads.
SLAVE_API fmi3Status fmi3SetTime(fmi3Instance instance, fmi3Float64 time) {
    static constexpr fmi3String functionName = "fmi3SetTime";
    Fmi3Instance* const own = acceptModelExchangeCall(instance, functionName, ContinuousTimeMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: time = %.16g", functionName, time);
    if (!isFinite(time)) {
        refuse(*own, "%s: The time %g is not finite.", functionName, time);
        return fmi3Error;
    }
    own->data.time = time;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3SetContinuousStates(fmi3Instance instance,
                                             const fmi3Float64 /*continuousStates*/[],
                                             std::size_t nContinuousStates) {
    return acceptStateVector(instance, "fmi3SetContinuousStates", ContinuousTimeMode,
                             nContinuousStates);
}

SLAVE_API fmi3Status fmi3GetContinuousStateDerivatives(fmi3Instance instance,
                                                       fmi3Float64 /*derivatives*/[],
                                                       std::size_t nContinuousStates) {
    return acceptStateVector(instance, "fmi3GetContinuousStateDerivatives", kVectorsReadable,
                             nContinuousStates);
}

SLAVE_API fmi3Status fmi3GetEventIndicators(fmi3Instance instance,
                                            fmi3Float64 /*eventIndicators*/[],
                                            std::size_t nEventIndicators) {
    return acceptEmptyVector(instance, "fmi3GetEventIndicators", kVectorsReadable,
                             "nEventIndicators", nEventIndicators, "event indicators");
}

SLAVE_API fmi3Status fmi3GetContinuousStates(fmi3Instance instance,
                                             fmi3Float64 /*continuousStates*/[],
                                             std::size_t nContinuousStates) {
    return acceptStateVector(instance, "fmi3GetContinuousStates", kVectorsReadable,
                             nContinuousStates);
}

SLAVE_API fmi3Status fmi3GetNominalsOfContinuousStates(fmi3Instance instance,
                                                       fmi3Float64 /*nominals*/[],
                                                       std::size_t nContinuousStates) {
    return acceptStateVector(instance, "fmi3GetNominalsOfContinuousStates", kVectorsReadable,
                             nContinuousStates);
}

SLAVE_API fmi3Status fmi3GetNumberOfEventIndicators(fmi3Instance instance,
                                                    std::size_t* nEventIndicators) {
    return writeNoneCount(instance, "fmi3GetNumberOfEventIndicators", "nEventIndicators",
                          nEventIndicators);
}

SLAVE_API fmi3Status fmi3GetNumberOfContinuousStates(fmi3Instance instance,
                                                     std::size_t* nContinuousStates) {
    return writeNoneCount(instance, "fmi3GetNumberOfContinuousStates", "nContinuousStates",
                          nContinuousStates);
}

}  // extern "C"
