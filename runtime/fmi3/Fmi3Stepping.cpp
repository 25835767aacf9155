// The communication step and the output derivatives. Every step runs to its
// end within fmi3DoStep: the FMU has no event mode, never returns early and
// never ends a simulation itself.
#include <limits>

#include "Fmi3Instance.h"
#include "MxcsrGuard.h"

namespace {

constexpr fmi3String kDoStep = "fmi3DoStep";

// No threshold: every substep of every step recomputes the outputs.
constexpr Real kNoEventTime = -std::numeric_limits<Real>::infinity();

// A step from a finite communication point by a finite, positive step size;
// the communication point need not be where the last step ended, as after a
// restored FMU state.
inline bool isStepAccepted(fmi3Float64 currentCommunicationPoint,
                           fmi3Float64 communicationStepSize) {
    return isPositiveFinite(communicationStepSize) && isFinite(currentCommunicationPoint);
}

[[gnu::noinline]] fmi3Status refuseStep(Fmi3Instance& instance,
                                        fmi3Float64 currentCommunicationPoint,
                                        fmi3Float64 communicationStepSize) {
    refuse(instance,
           "%s: A step needs a finite communication point and a finite, positive step size; "
           "got currentCommunicationPoint = %g, communicationStepSize = %g.",
           kDoStep, currentCommunicationPoint, communicationStepSize);
    return fmi3Error;
}

// The four results of a step, which the master must give places for.
struct StepResults {
    fmi3Boolean* eventHandlingNeeded;
    fmi3Boolean* terminateSimulation;
    fmi3Boolean* earlyReturn;
    fmi3Float64* lastSuccessfulTime;
};

[[gnu::noinline]] bool checkStepResults(Fmi3Instance& instance, const StepResults& results) {
    return checkNotNull(instance, kDoStep, "eventHandlingNeeded", results.eventHandlingNeeded) &&
           checkNotNull(instance, kDoStep, "terminateSimulation", results.terminateSimulation) &&
           checkNotNull(instance, kDoStep, "earlyReturn", results.earlyReturn) &&
           checkNotNull(instance, kDoStep, "lastSuccessfulTime", results.lastSuccessfulTime);
}

inline bool hasEveryStepResult(const StepResults& results) {
    return results.eventHandlingNeeded != nullptr && results.terminateSimulation != nullptr &&
           results.earlyReturn != nullptr && results.lastSuccessfulTime != nullptr;
}

// The general loop, for a model whose update may ask for termination: the
// step ends at the substep that asks, and the master's logger hears of it in
// the master's own floating-point environment.
fmi3Status runEverySubstep(Fmi3Instance& instance, fmi3Float64 currentCommunicationPoint,
                           fmi3Float64 communicationStepSize) {
    bool terminationRequested = false;
    {
        const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
        const Real substepSize = substepSizeOf(modelDefinition, insideGuard(communicationStepSize));
        Real time = insideGuard(currentCommunicationPoint);
        for (int substep = 0; substep < kSubstepCount && !terminationRequested; ++substep) {
            time += substepSize;
            instance.data.time = time;
            terminationRequested = modelDefinition.updateAtEvent(instance.data.realValues) ==
                                   UpdateOutcome::RequestTermination;
        }
        if (!terminationRequested) {
            completeStep(instance.data, insideGuard(currentCommunicationPoint),
                         insideGuard(communicationStepSize));
        }
    }
    if (terminationRequested) {
        refuse(instance, "%s: The model requested termination at t=%g.", kDoStep,
               instance.data.time);
        return fmi3Error;
    }
    return fmi3OK;
}

// An accepted step after its trace: the ten substeps, through the model's
// quiet loop where it has one, in the model's floating-point environment;
// then the results of a step that always reaches its end.
[[gnu::always_inline]] inline fmi3Status runStep(Fmi3Instance& instance,
                                                 fmi3Float64 currentCommunicationPoint,
                                                 fmi3Float64 communicationStepSize,
                                                 const StepResults& results) {
    const QuietSubsteps quietSubsteps = modelDefinition.quietSubsteps;
    if (quietSubsteps == nullptr) {
        if (runEverySubstep(instance, currentCommunicationPoint, communicationStepSize) != fmi3OK) {
            return fmi3Error;
        }
    } else {
        const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
        // The arguments pass into the guard, so that the substep size is
        // computed in the model's environment.
        const Real point = insideGuard(currentCommunicationPoint);
        const Real size = insideGuard(communicationStepSize);
        quietSubsteps(instance.data.realValues, instance.data.time, point,
                      substepSizeOf(modelDefinition, size), kNoEventTime);
        completeStep(instance.data, point, size);
    }
    *results.eventHandlingNeeded = fmi3False;
    *results.terminateSimulation = fmi3False;
    *results.earlyReturn = fmi3False;
    *results.lastSuccessfulTime = instance.data.time;
    return fmi3OK;
}

// A step with debug logging on. Out of line, so that a step with logging off
// keeps nothing alive across a logger call and saves no registers for one.
[[gnu::noinline]] fmi3Status runTracedStep(Fmi3Instance& instance,
                                           fmi3Float64 currentCommunicationPoint,
                                           fmi3Float64 communicationStepSize,
                                           fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                           const StepResults& results) {
    logCall(instance,
            "%s: currentCommunicationPoint = %g, communicationStepSize = %g, "
            "noSetFMUStatePriorToCurrentPoint = fmi3%s",
            kDoStep, currentCommunicationPoint, communicationStepSize,
            noSetFMUStatePriorToCurrentPoint ? "True" : "False");
    return runStep(instance, currentCommunicationPoint, communicationStepSize, results);
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3DoStep(fmi3Instance instance, fmi3Float64 currentCommunicationPoint,
                                fmi3Float64 communicationStepSize,
                                fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                fmi3Boolean* eventHandlingNeeded, fmi3Boolean* terminateSimulation,
                                fmi3Boolean* earlyReturn, fmi3Float64* lastSuccessfulTime) {
    Fmi3Instance* const own = acceptCall(instance, kDoStep, StepMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    const StepResults results{eventHandlingNeeded, terminateSimulation, earlyReturn,
                              lastSuccessfulTime};
    if (!hasEveryStepResult(results)) {
        checkStepResults(*own, results);
        return fmi3Error;
    }
    if (!isStepAccepted(currentCommunicationPoint, communicationStepSize)) {
        return refuseStep(*own, currentCommunicationPoint, communicationStepSize);
    }
    if (tracesCalls(*own)) {
        return runTracedStep(*own, currentCommunicationPoint, communicationStepSize,
                             noSetFMUStatePriorToCurrentPoint, results);
    }
    return runStep(*own, currentCommunicationPoint, communicationStepSize, results);
}

// No output derivatives (maxOutputDerivativeOrder="0"): nothing to do for no
// variables, a refusal for any.
SLAVE_API fmi3Status fmi3GetOutputDerivatives(fmi3Instance instance,
                                              const fmi3ValueReference /*valueReferences*/[],
                                              std::size_t nValueReferences,
                                              const fmi3Int32 /*orders*/[],
                                              fmi3Float64 /*values*/[], std::size_t /*nValues*/) {
    static constexpr fmi3String functionName = "fmi3GetOutputDerivatives";
    Fmi3Instance* const own = acceptCall(instance, functionName, StepMode | Terminated | Error);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: nValueReferences = %zu", functionName, nValueReferences);
    if (nValueReferences == 0) {
        return fmi3OK;
    }
    refuse(*own,
           "%s: This FMU computes no derivatives of its outputs "
           "(maxOutputDerivativeOrder=\"0\").",
           functionName);
    return fmi3Error;
}

}  // extern "C"
