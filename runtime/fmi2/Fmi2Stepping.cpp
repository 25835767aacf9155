// The communication step and the calls around it: cancelling, status queries
// and the input and output derivatives, all of co-simulation only. The slave never steps
// asynchronously: every step is complete when fmi2DoStep returns.
#include <limits>

#include "Fmi2Instance.h"
#include "MxcsrGuard.h"

namespace {

// No threshold: every substep of every step recomputes the outputs.
constexpr Real kNoEventTime = -std::numeric_limits<Real>::infinity();

// A step from a finite communication point by a finite, positive step size;
// the communication point need not be where the last step ended, as after a
// restored FMU state.
inline bool isStepAccepted(fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize) {
    return isPositiveFinite(communicationStepSize) && isFinite(currentCommunicationPoint);
}

[[gnu::noinline]] fmi2Status refuseStep(Fmi2Instance& instance, fmi2Real currentCommunicationPoint,
                                        fmi2Real communicationStepSize) {
    refuse(instance,
           "fmi2DoStep: A step needs a finite communication point and a finite, positive step "
           "size; got currentCommunicationPoint = %g, communicationStepSize = %g.",
           currentCommunicationPoint, communicationStepSize);
    return fmi2Error;
}

// The general loop, for a model whose update may ask for termination: the
// step ends at the substep that asks, and the master's logger hears of it
// in the master's own floating-point environment.
fmi2Status runEverySubstep(Fmi2Instance& instance, fmi2Real currentCommunicationPoint,
                           fmi2Real communicationStepSize) {
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
        refuse(instance, "fmi2DoStep: The model requested termination at t=%g.",
               instance.data.time);
        return fmi2Error;
    }
    return fmi2OK;
}

[[gnu::always_inline]] inline void runQuietSubsteps(Fmi2Instance& instance,
                                                    QuietSubsteps quietSubsteps,
                                                    fmi2Real currentCommunicationPoint,
                                                    fmi2Real communicationStepSize) {
    quietSubsteps(instance.data.realValues, instance.data.time, currentCommunicationPoint,
                  substepSizeOf(modelDefinition, communicationStepSize), kNoEventTime);
    completeStep(instance.data, currentCommunicationPoint, communicationStepSize);
}

// The quiet loop of a model that computes under flush-to-zero, inside the
// switch of the MXCSR. Inlined into the branch that has tested the bits, so
// that the guard's own tests of them fold away.
[[gnu::always_inline]] inline fmi2Status runQuietStepUnderFlushToZero(
    Fmi2Instance& instance, QuietSubsteps quietSubsteps, fmi2Real currentCommunicationPoint,
    fmi2Real communicationStepSize) {
    const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
    runQuietSubsteps(instance, quietSubsteps, insideGuard(currentCommunicationPoint),
                     insideGuard(communicationStepSize));
    return fmi2OK;
}

// An accepted step after its trace: the ten substeps, through the model's
// quiet loop where it has one, in the model's floating-point environment.
// Without flush-to-zero bits the MXCSR guard would neither read nor write
// the MXCSR, so that step runs without it: the bits are tested once, here,
// instead of in the guard's constructor and again in its destructor, and the
// caller's MXCSR is not kept in a register across the loop.
[[gnu::always_inline]] inline fmi2Status runStep(Fmi2Instance& instance,
                                                 fmi2Real currentCommunicationPoint,
                                                 fmi2Real communicationStepSize) {
    const QuietSubsteps quietSubsteps = modelDefinition.quietSubsteps;
    if (quietSubsteps == nullptr) {
        return runEverySubstep(instance, currentCommunicationPoint, communicationStepSize);
    }
    if (instance.data.flushToZeroBits != 0) {
        return runQuietStepUnderFlushToZero(instance, quietSubsteps, currentCommunicationPoint,
                                            communicationStepSize);
    }
    runQuietSubsteps(instance, quietSubsteps, currentCommunicationPoint, communicationStepSize);
    return fmi2OK;
}

// A step with debug logging on. Out of line, so that a step with logging off
// keeps nothing alive across a logger call and saves no registers for one.
[[gnu::noinline]] fmi2Status runTracedStep(Fmi2Instance& instance,
                                           fmi2Real currentCommunicationPoint,
                                           fmi2Real communicationStepSize,
                                           fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
    logCall(instance,
            "fmi2DoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
            "noSetFMUStatePriorToCurrentPoint = fmi2%s",
            currentCommunicationPoint, communicationStepSize,
            noSetFMUStatePriorToCurrentPoint != fmi2False ? "True" : "False");
    return runStep(instance, currentCommunicationPoint, communicationStepSize);
}

// A status the slave cannot give: fmi2Discard, and the instance stays as it
// is. The message goes out whatever debug logging says.
fmi2Status discardStatusQuery(Fmi2Instance& instance, fmi2String functionName, fmi2StatusKind s) {
    instance.callbacks.logger(instance.callbacks.componentEnvironment, instance.instanceName,
                              fmi2Discard, logCategory::kError.name,
                              "%s: Status kind %d cannot be answered here: the slave never "
                              "steps asynchronously and never ends a simulation itself.",
                              functionName, static_cast<int>(s));
    return fmi2Discard;
}

// The opening of the status queries: state, a value to write, the trace.
Fmi2Instance* acceptStatusQuery(fmi2Component c, fmi2String functionName, fmi2StatusKind s,
                                const void* value) {
    Fmi2Instance* const instance = acceptCoSimulationCall(c, functionName, kStepQueries);
    if (instance == nullptr || !checkNotNull(*instance, functionName, "value", value)) {
        return nullptr;
    }
    logCall(*instance, "%s: fmi2StatusKind = %d", functionName, static_cast<int>(s));
    return instance;
}

// The input and output derivatives: nothing to do for no variables, a
// refusal for any.
fmi2Status refuseDerivatives(fmi2Component c, fmi2String functionName, StateMask mask,
                             std::size_t nvr, fmi2String reason) {
    Fmi2Instance* const instance = acceptCoSimulationCall(c, functionName, mask);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: nvr = %u", functionName, static_cast<unsigned>(nvr));
    if (nvr == 0) {
        return fmi2OK;
    }
    refuse(*instance, "%s: %s", functionName, reason);
    return fmi2Error;
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                                fmi2Real communicationStepSize,
                                fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
    Fmi2Instance* const instance = acceptCoSimulationCall(c, "fmi2DoStep", StepComplete);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (!isStepAccepted(currentCommunicationPoint, communicationStepSize)) {
        return refuseStep(*instance, currentCommunicationPoint, communicationStepSize);
    }
    if (tracesCalls(*instance)) {
        return runTracedStep(*instance, currentCommunicationPoint, communicationStepSize,
                             noSetFMUStatePriorToCurrentPoint);
    }
    return runStep(*instance, currentCommunicationPoint, communicationStepSize);
}

// There is never a step in progress to cancel.
SLAVE_API fmi2Status fmi2CancelStep(fmi2Component c) {
    acceptCoSimulationCall(c, "fmi2CancelStep", 0);
    return fmi2Error;
}

SLAVE_API fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value) {
    static constexpr fmi2String functionName = "fmi2GetStatus";
    Fmi2Instance* const instance = acceptStatusQuery(c, functionName, s, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (s != fmi2DoStepStatus) {
        return discardStatusQuery(*instance, functionName, s);
    }
    // Every step completes within fmi2DoStep, and a failed one leaves Error.
    *value = fmi2OK;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
    static constexpr fmi2String functionName = "fmi2GetRealStatus";
    Fmi2Instance* const instance = acceptStatusQuery(c, functionName, s, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (s != fmi2LastSuccessfulTime) {
        return discardStatusQuery(*instance, functionName, s);
    }
    // The time the last step reached (the start time before any step).
    *value = instance->data.time;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind s,
                                          fmi2Integer* value) {
    static constexpr fmi2String functionName = "fmi2GetIntegerStatus";
    Fmi2Instance* const instance = acceptStatusQuery(c, functionName, s, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    return discardStatusQuery(*instance, functionName, s);
}

SLAVE_API fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s,
                                          fmi2Boolean* value) {
    static constexpr fmi2String functionName = "fmi2GetBooleanStatus";
    Fmi2Instance* const instance = acceptStatusQuery(c, functionName, s, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (s != fmi2Terminated) {
        return discardStatusQuery(*instance, functionName, s);
    }
    // A model that asks to end the simulation fails its step instead.
    *value = fmi2False;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind s,
                                         fmi2String* value) {
    static constexpr fmi2String functionName = "fmi2GetStringStatus";
    Fmi2Instance* const instance = acceptStatusQuery(c, functionName, s, value);
    if (instance == nullptr) {
        return fmi2Error;
    }
    return discardStatusQuery(*instance, functionName, s);
}

SLAVE_API fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference /*vr*/[],
                                                 std::size_t nvr, const fmi2Integer /*order*/[],
                                                 const fmi2Real /*value*/[]) {
    return refuseDerivatives(c, "fmi2SetRealInputDerivatives", kValuesWritable, nvr,
                             "This slave cannot interpolate inputs "
                             "(canInterpolateInputs=\"false\").");
}

SLAVE_API fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c,
                                                  const fmi2ValueReference /*vr*/[],
                                                  std::size_t nvr, const fmi2Integer /*order*/[],
                                                  fmi2Real /*value*/[]) {
    return refuseDerivatives(c, "fmi2GetRealOutputDerivatives", StepComplete | Terminated | Error,
                             nvr,
                             "This slave computes no derivatives of its outputs "
                             "(maxOutputDerivativeOrder=\"0\").");
}

}  // extern "C"
