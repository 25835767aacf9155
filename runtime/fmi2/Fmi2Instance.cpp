#include "Fmi2Instance.h"

#include "MxcsrGuard.h"

const char* machineStateName(std::uint32_t state) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case StepComplete:
            return "step complete";
        case Terminated:
            return "terminated";
        case Error:
            return "error";
        case Fatal:
            return "fatal";
        default:
            return "unknown";
    }
}

void refuseCallSequence(Fmi2Instance& instance, fmi2String functionName) {
    const char* const stateName = machineStateName(instance.state);
    refuse(instance, "%s: Illegal call sequence: not allowed in state %s.", functionName,
           stateName);
}

void refuseNullArgument(Fmi2Instance& instance, fmi2String functionName, fmi2String argumentName) {
    refuse(instance, "%s: Invalid argument %s = NULL.", functionName, argumentName);
}

void refuseValueReference(Fmi2Instance& instance, fmi2String functionName, fmi2ValueReference vr) {
    refuse(instance, "%s: Illegal value reference %u.", functionName, vr);
}

bool updateOutputs(Fmi2Instance& instance, fmi2String functionName) {
    UpdateOutcome outcome = UpdateOutcome::Continue;
    {
        const MxcsrGuard floatingPoint(instance.data.flushToZeroBits);
        outcome = modelDefinition.updateAtEvent(instance.data.realValues);
    }
    if (outcome == UpdateOutcome::RequestTermination) {
        refuse(instance, "%s: The model requested termination at t=%g.", functionName,
               instance.data.time);
        return false;
    }
    return true;
}
