// The communication step and the calls around it: cancelling, status queries
// and the input and output derivatives, none of which this slave supports.
#include "ModelDefinition.h"
#include "SlaveInstance.h"

namespace {

// The general loop: every substep reads the event record, the logging flag
// and the termination request afresh, since a trace hands control to the
// master's logger and the model's update may change any of them.
fmiStatus runEverySubstep(SlaveInstance& instance, fmiReal currentCommunicationPoint,
                          fmiReal substepSize) {
    const fmiEventInfo& events = instance.eventRecord;
    // The time is the running sum of the substeps, each addition rounded on
    // its own; it always starts from the master's communication point.
    fmiReal time = currentCommunicationPoint;
    for (int substep = 0; substep < kSubstepCount; ++substep) {
        time += substepSize;
        instance.currentTime = time;
        // Strictly after the event time; a NaN time never fires.
        if (events.upcomingTimeEvent != fmiFalse && time > events.nextEventTime) {
            logTrace(instance, "fmiDoStep: time event detected at %g", time);
            if (modelDefinition.updateAtEvent(instance.realValues) ==
                UpdateOutcome::RequestTermination) {
                instance.eventRecord.terminateSimulation = fmiTrue;
            }
        }
        if (events.terminateSimulation != fmiFalse) {
            // Written whatever the logging flag says; the step ends here.
            instance.callbacks.logger(&instance, instance.instanceNameCopy, fmiOK, category::kLog,
                                      "fmiDoStep: model requested termination at t=%g",
                                      instance.currentTime);
            return fmiError;
        }
    }
    return fmiOK;
}

// An accepted step after its trace: a zero step ends at once, any other runs
// the ten substeps, through the model's quiet loop where it has one.
[[gnu::always_inline]] inline fmiStatus runStep(SlaveInstance& instance,
                                                fmiReal currentCommunicationPoint,
                                                fmiReal communicationStepSize) {
    if (communicationStepSize == 0.0) {
        return fmiOK;
    }
    const fmiReal substepSize = substepSizeOf(modelDefinition, communicationStepSize);
    // A step that begins with logging off, the time event armed and no
    // termination requested is quiet, for a model whose update touches
    // nothing but the real values: no trace hands control to the master and
    // the update cannot change the event record or the logging flag, so every
    // substep would read the same event time and flags, and they are read
    // once. Any other step takes the general loop.
    const fmiEventInfo& events = instance.eventRecord;
    if (modelDefinition.quietSubsteps != nullptr && instance.loggingFlag == fmiFalse &&
        events.upcomingTimeEvent != fmiFalse && events.terminateSimulation == fmiFalse) {
        modelDefinition.quietSubsteps(instance.realValues, instance.currentTime,
                                      currentCommunicationPoint, substepSize, events.nextEventTime);
        return fmiOK;
    }
    return runEverySubstep(instance, currentCommunicationPoint, substepSize);
}

// A step with logging on. Out of line, so that a step with logging off keeps
// nothing alive across a logger call and saves no registers for one.
[[gnu::noinline]] fmiStatus runTracedStep(SlaveInstance& instance,
                                          fmiReal currentCommunicationPoint,
                                          fmiReal communicationStepSize, fmiBoolean newStep) {
    logTrace(instance,
             "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
             "newStep = fmi%s",
             currentCommunicationPoint, communicationStepSize,
             newStep != fmiFalse ? "True" : "False");
    return runStep(instance, currentCommunicationPoint, communicationStepSize);
}

// Fixed refusals that need no instance state: the slave never steps
// asynchronously, so there is never a pending or discarded step to ask about.
template <typename... Arguments>
void logRefusal(const SlaveInstance& instance, fmiString categoryName, fmiString format,
                Arguments... arguments) {
    instance.callbacks.logger(nullptr, instance.instanceNameCopy, fmiError, categoryName, format,
                              arguments...);
}

fmiString statusKindName(fmiStatusKind s) {
    switch (s) {
        case fmiDoStepStatus:
            return "fmiDoStepStatus";
        case fmiPendingStatus:
            return "fmiPendingStatus";
        case fmiLastSuccessfulTime:
            return "fmiLastSuccessfulTime";
    }
    // Kinds outside the enumeration have no name; the trace still needs a
    // string for its "%s".
    return "unknown";
}

fmiString statusRefusalFormat(fmiStatusKind s) {
    switch (s) {
        case fmiDoStepStatus:
            return "%s: Can be called with fmiDoStepStatus when fmiDoStep returned fmiPending. "
                   "This is not the case.";
        case fmiPendingStatus:
            return "%s: Can be called with fmiPendingStatus when fmiDoStep returned fmiPending. "
                   "This is not the case.";
        case fmiLastSuccessfulTime:
            return "%s: Can be called with fmiLastSuccessfulTime when fmiDoStep returned "
                   "fmiDiscard. This is not the case.";
    }
    return nullptr;
}

// All five status queries: traced, refused for the three known kinds, and
// value is never written.
fmiStatus refuseStatusQuery(fmiComponent c, fmiString functionName, fmiStatusKind s) {
    SlaveInstance* const instance = acceptCall(c, functionName, kBeforeTermination);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "%s: fmiStatusKind = %s", functionName, statusKindName(s));
    const fmiString format = statusRefusalFormat(s);
    if (format != nullptr) {
        logRefusal(*instance, category::kError, format, functionName);
    }
    return fmiError;
}

}  // namespace

extern "C" {

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiDoStep)(fmiComponent c, fmiReal currentCommunicationPoint,
                                                 fmiReal communicationStepSize,
                                                 fmiBoolean newStep) {
    SlaveInstance* const instance = acceptCall(c, "fmiDoStep", kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    if (instance->loggingFlag != fmiFalse) {
        return runTracedStep(*instance, currentCommunicationPoint, communicationStepSize, newStep);
    }
    return runStep(*instance, currentCommunicationPoint, communicationStepSize);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiCancelStep)(fmiComponent c) {
    SlaveInstance* const instance = acceptCall(c, "fmiCancelStep", kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "fmiCancelStep");
    logRefusal(*instance, category::kError,
               "fmiCancelStep: Can be called when fmiDoStep returned fmiPending. This is not the "
               "case.");
    return fmiError;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetStatus)(fmiComponent c, const fmiStatusKind s,
                                                    fmiStatus* /*value*/) {
    return refuseStatusQuery(c, "fmiGetStatus", s);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetRealStatus)(fmiComponent c, const fmiStatusKind s,
                                                        fmiReal* /*value*/) {
    return refuseStatusQuery(c, "fmiGetRealStatus", s);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetIntegerStatus)(fmiComponent c, const fmiStatusKind s,
                                                           fmiInteger* /*value*/) {
    return refuseStatusQuery(c, "fmiGetIntegerStatus", s);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetBooleanStatus)(fmiComponent c, const fmiStatusKind s,
                                                           fmiBoolean* /*value*/) {
    return refuseStatusQuery(c, "fmiGetBooleanStatus", s);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetStringStatus)(fmiComponent c, const fmiStatusKind s,
                                                          fmiString* /*value*/) {
    return refuseStatusQuery(c, "fmiGetStringStatus", s);
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetRealInputDerivatives)(fmiComponent c,
                                                                  const fmiValueReference /*vr*/[],
                                                                  std::size_t nvr,
                                                                  const fmiInteger /*order*/[],
                                                                  const fmiReal /*value*/[]) {
    SlaveInstance* const instance = acceptCall(c, "fmiSetRealInputDerivatives", kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "fmiSetRealInputDerivatives: nvr= %d", static_cast<int>(nvr));
    logRefusal(*instance, category::kWarning,
               "fmiSetRealInputDerivatives: ignoring function call. This model cannot "
               "interpolate inputs: canInterpolateInputs=\"fmiFalse\"");
    return fmiWarning;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiGetRealOutputDerivatives)(fmiComponent c,
                                                                   const fmiValueReference /*vr*/[],
                                                                   std::size_t nvr,
                                                                   const fmiInteger /*order*/[],
                                                                   fmiReal value[]) {
    static constexpr fmiString functionName = "fmiGetRealOutputDerivatives";
    SlaveInstance* const instance = acceptCall(c, functionName, kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "fmiGetRealOutputDerivatives: nvr= %d", static_cast<int>(nvr));
    // The zeros below go into value[]; a null array is refused like a null
    // array of the value-access calls rather than written through.
    if (nvr > 0 && !checkNotNull(*instance, functionName, "value[]", value)) {
        return fmiError;
    }
    logRefusal(*instance, category::kWarning,
               "fmiGetRealOutputDerivatives: ignoring function call. This model cannot compute "
               "derivatives of outputs: MaxOutputDerivativeOrder=\"0\"");
    for (std::size_t i = 0; i < nvr; ++i) {
        value[i] = 0.0;
    }
    return fmiWarning;
}

}  // extern "C"
