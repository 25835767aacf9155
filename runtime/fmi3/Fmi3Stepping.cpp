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

// Each result tested and refused on its own: the four tests are then four
// branches that the accepted step falls through, where a combined test
// would compute a flag for each pointer first.
inline bool hasEveryStepResult(Fmi3Instance& instance, const StepResults& results) {
    return checkNotNull(instance, kDoStep, "eventHandlingNeeded", results.eventHandlingNeeded) &&
           checkNotNull(instance, kDoStep, "terminateSimulation", results.terminateSimulation) &&
           checkNotNull(instance, kDoStep, "earlyReturn", results.earlyReturn) &&
           checkNotNull(instance, kDoStep, "lastSuccessfulTime", results.lastSuccessfulTime);
}

// What every completed step reports besides its time: the FMU has no event
// mode, never ends a simulation itself and never returns early.
inline void writeNoEventResults(const StepResults& results) {
    *results.eventHandlingNeeded = fmi3False;
    *results.terminateSimulation = fmi3False;
    *results.earlyReturn = fmi3False;
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

// The quiet loop, which always reaches the end of the step. Every result is
// written before the loop, its time included, so that across the loop only
// the instance and the end of the step stay alive; the master reads none of
// them before the call returns.
[[gnu::always_inline]] inline void runQuietSubsteps(Fmi3Instance& instance,
                                                    QuietSubsteps quietSubsteps,
                                                    fmi3Float64 currentCommunicationPoint,
                                                    fmi3Float64 communicationStepSize,
                                                    const StepResults& results) {
    writeNoEventResults(results);
    *results.lastSuccessfulTime = endOfStep(currentCommunicationPoint, communicationStepSize);
    quietSubsteps(instance.data.realValues, instance.data.time, currentCommunicationPoint,
                  substepSizeOf(modelDefinition, communicationStepSize), kNoEventTime);
    completeStep(instance.data, currentCommunicationPoint, communicationStepSize);
}

// The quiet loop of a model that computes under flush-to-zero, inside the
// switch of the MXCSR. Inlined into the branch that has tested the bits, so
// that the guard's own tests of them fold away.
[[gnu::always_inline]] inline void runQuietStepUnderFlushToZero(
    Fmi3Instance& instance, QuietSubsteps quietSubsteps, fmi3Float64 currentCommunicationPoint,
    fmi3Float64 communicationStepSize, const StepResults& results) {
    const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
    // The arguments pass into the guard, so that the substep size and the
    // end of the step are computed in the model's environment.
    runQuietSubsteps(instance, quietSubsteps, insideGuard(currentCommunicationPoint),
                     insideGuard(communicationStepSize), results);
}

// An accepted step after its trace: the ten substeps, through the model's
// quiet loop where it has one, in the model's floating-point environment.
// Without flush-to-zero bits the MXCSR guard would neither read nor write
// the MXCSR, so that step runs without it: the bits are tested once, here,
// instead of in the guard's constructor and again in its destructor, and the
// caller's MXCSR is not kept across the loop.
[[gnu::always_inline]] inline fmi3Status runStep(Fmi3Instance& instance,
                                                 fmi3Float64 currentCommunicationPoint,
                                                 fmi3Float64 communicationStepSize,
                                                 const StepResults& results) {
    const QuietSubsteps quietSubsteps = modelDefinition.quietSubsteps;
    if (quietSubsteps == nullptr) {
        if (runEverySubstep(instance, currentCommunicationPoint, communicationStepSize) != fmi3OK) {
            return fmi3Error;
        }
        // Only a completed step reports its results.
        writeNoEventResults(results);
        *results.lastSuccessfulTime = instance.data.time;
        return fmi3OK;
    }
    if (instance.data.flushToZeroBits != 0) {
        runQuietStepUnderFlushToZero(instance, quietSubsteps, currentCommunicationPoint,
                                     communicationStepSize, results);
        return fmi3OK;
    }
    runQuietSubsteps(instance, quietSubsteps, currentCommunicationPoint, communicationStepSize,
                     results);
    return fmi3OK;
}

// A step with debug logging on. Out of line, so that a step with logging off
// keeps nothing alive across a logger call and saves no registers for one.
// The results come as four pointers, in registers, rather than as a record
// that the untraced step would have to build on the stack.
[[gnu::noinline]] fmi3Status runTracedStep(
    Fmi3Instance& instance, fmi3Float64 currentCommunicationPoint,
    fmi3Float64 communicationStepSize, fmi3Boolean noSetFMUStatePriorToCurrentPoint,
    fmi3Boolean* eventHandlingNeeded, fmi3Boolean* terminateSimulation, fmi3Boolean* earlyReturn,
    fmi3Float64* lastSuccessfulTime) {
    logCall(instance,
            "%s: currentCommunicationPoint = %g, communicationStepSize = %g, "
            "noSetFMUStatePriorToCurrentPoint = fmi3%s",
            kDoStep, currentCommunicationPoint, communicationStepSize,
            noSetFMUStatePriorToCurrentPoint ? "True" : "False");
    const StepResults results{eventHandlingNeeded, terminateSimulation, earlyReturn,
                              lastSuccessfulTime};
    return runStep(instance, currentCommunicationPoint, communicationStepSize, results);
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3DoStep(fmi3Instance instance, fmi3Float64 currentCommunicationPoint,
                                fmi3Float64 communicationStepSize,
                                fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                fmi3Boolean* eventHandlingNeeded, fmi3Boolean* terminateSimulation,
                                fmi3Boolean* earlyReturn, fmi3Float64* lastSuccessfulTime) {
    Fmi3Instance* const own = acceptCoSimulationCall(instance, kDoStep, StepMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    const StepResults results{eventHandlingNeeded, terminateSimulation, earlyReturn,
                              lastSuccessfulTime};
    if (!hasEveryStepResult(*own, results)) {
        return fmi3Error;
    }
    if (!isStepAccepted(currentCommunicationPoint, communicationStepSize)) {
        return refuseStep(*own, currentCommunicationPoint, communicationStepSize);
    }
    if (tracesCalls(*own)) {
        return runTracedStep(*own, currentCommunicationPoint, communicationStepSize,
                             noSetFMUStatePriorToCurrentPoint, eventHandlingNeeded,
                             terminateSimulation, earlyReturn, lastSuccessfulTime);
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
    Fmi3Instance* const own =
        acceptCoSimulationCall(instance, functionName, StepMode | Terminated | Error);
    if (own == nullptr) {
        return fmi3Error;
    }
    if (own->data.modelExchange) {
        refuseOtherInterface(*own, functionName, "co-simulation");
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

// No event mode (hasEventMode="false"), so step mode is never entered from
// it; a Model Exchange instance has no step mode at all.
SLAVE_API fmi3Status fmi3EnterStepMode(fmi3Instance instance) {
    static constexpr fmi3String functionName = "fmi3EnterStepMode";
    if (instance != nullptr && static_cast<Fmi3Instance*>(instance)->data.modelExchange) {
        refuseOtherInterface(*static_cast<Fmi3Instance*>(instance), functionName, "co-simulation");
        return fmi3Error;
    }
    return refuseInapplicable(instance, functionName,
                              "This FMU has no event mode (hasEventMode=\"false\").");
}

}  // extern "C"
