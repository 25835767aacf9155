// The calls of Model Exchange. The models are algebraic: no continuous
// states, no event indicators and no events of their own, so the master's
// integrator has nothing to integrate here; the outputs follow the
// parameters and inputs when read (fmi2GetReal), at any time.
#include "Fmi2Instance.h"

namespace {

// Where values can be read.
constexpr StateMask kInitialized = kModelExchangeStates & ~Instantiated;

// The model has none of what the array holds: a count of 0 succeeds
// whatever the array, any other count is refused.
fmi2Status acceptNone(fmi2Component c, fmi2String functionName, StateMask mask,
                      fmi2String countName, std::size_t count, fmi2String what) {
    Fmi2Instance* const instance = acceptModelExchangeCall(c, functionName, mask);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: %s = %u", functionName, countName, static_cast<unsigned>(count));
    if (count == 0) {
        return fmi2OK;
    }
    refuse(*instance, "%s: %s = %u, but %s has no %s (%s = 0).", functionName, countName,
           static_cast<unsigned>(count), modelDefinition.modelIdentifier, what, countName);
    return fmi2Error;
}

fmi2Status acceptNoStates(fmi2Component c, fmi2String functionName, StateMask mask,
                          std::size_t nx) {
    return acceptNone(c, functionName, mask, "nx", nx, "continuous states");
}

// A mode change without arguments.
fmi2Status enterMode(fmi2Component c, fmi2String functionName, StateMask mask, MachineState next) {
    Fmi2Instance* const instance = acceptModelExchangeCall(c, functionName, mask);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, functionName);
    enterState(*instance, next);
    return fmi2OK;
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2EnterEventMode(fmi2Component c) {
    return enterMode(c, "fmi2EnterEventMode", EventMode | ContinuousTimeMode, EventMode);
}

// No discrete states, so the first iteration is the last: nothing changes
// and no time event follows.
SLAVE_API fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo) {
    static constexpr fmi2String functionName = "fmi2NewDiscreteStates";
    Fmi2Instance* const instance = acceptModelExchangeCall(c, functionName, EventMode);
    if (instance == nullptr || !checkNotNull(*instance, functionName, "eventInfo", eventInfo)) {
        return fmi2Error;
    }
    logCall(*instance, functionName);
    eventInfo->newDiscreteStatesNeeded = fmi2False;
    eventInfo->terminateSimulation = fmi2False;
    eventInfo->nominalsOfContinuousStatesChanged = fmi2False;
    eventInfo->valuesOfContinuousStatesChanged = fmi2False;
    eventInfo->nextEventTimeDefined = fmi2False;
    eventInfo->nextEventTime = 0.0;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
    return enterMode(c, "fmi2EnterContinuousTimeMode", EventMode, ContinuousTimeMode);
}

// Nothing happens at an integrator step: no step event, no termination.
SLAVE_API fmi2Status fmi2CompletedIntegratorStep(fmi2Component c,
                                                 fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                                 fmi2Boolean* enterEventMode,
                                                 fmi2Boolean* terminateSimulation) {
    static constexpr fmi2String functionName = "fmi2CompletedIntegratorStep";
    Fmi2Instance* const instance = acceptModelExchangeCall(c, functionName, ContinuousTimeMode);
    if (instance == nullptr ||
        !checkNotNull(*instance, functionName, "enterEventMode", enterEventMode) ||
        !checkNotNull(*instance, functionName, "terminateSimulation", terminateSimulation)) {
        return fmi2Error;
    }
    logCall(*instance, "%s: noSetFMUStatePriorToCurrentPoint = fmi2%s", functionName,
            noSetFMUStatePriorToCurrentPoint != fmi2False ? "True" : "False");
    *enterEventMode = fmi2False;
    *terminateSimulation = fmi2False;
    return fmi2OK;
}

// The outputs do not depend on time: it is only kept, for FMU states.
SLAVE_API fmi2Status fmi2SetTime(fmi2Component c, fmi2Real time) {
    static constexpr fmi2String functionName = "fmi2SetTime";
    Fmi2Instance* const instance =
        acceptModelExchangeCall(c, functionName, EventMode | ContinuousTimeMode);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: time = %.16g", functionName, time);
    if (!isFinite(time)) {
        refuse(*instance, "%s: The time %g is not finite.", functionName, time);
        return fmi2Error;
    }
    instance->data.time = time;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real /*x*/[],
                                             std::size_t nx) {
    return acceptNoStates(c, "fmi2SetContinuousStates", ContinuousTimeMode, nx);
}

SLAVE_API fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real /*derivatives*/[],
                                        std::size_t nx) {
    return acceptNoStates(c, "fmi2GetDerivatives", kInitialized, nx);
}

SLAVE_API fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real /*eventIndicators*/[],
                                            std::size_t ni) {
    return acceptNone(c, "fmi2GetEventIndicators", kInitialized, "ni", ni, "event indicators");
}

SLAVE_API fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real /*x*/[], std::size_t nx) {
    return acceptNoStates(c, "fmi2GetContinuousStates", kInitialized, nx);
}

SLAVE_API fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real /*x_nominal*/[],
                                                       std::size_t nx) {
    return acceptNoStates(c, "fmi2GetNominalsOfContinuousStates", kModelExchangeStates, nx);
}

}  // extern "C"
