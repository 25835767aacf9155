#include "Fmi2Instance.h"

#include "InstanceLifecycle.h"

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
        case EventMode:
            return "event mode";
        case ContinuousTimeMode:
            return "continuous-time mode";
        default:
            return "unknown";
    }
}

ValueReferenceSet settableRealsIn(MachineState state) {
    ValueReferenceSet set = parametersAndInputs(modelDefinition);
    if (state != ContinuousTimeMode) {
        return set;
    }
    for (ValueReference vr = 0; vr < modelDefinition.realCount; ++vr) {
        if (modelDefinition.realVariables[vr].causality == Causality::Parameter) {
            set &= ~(ValueReferenceSet{1} << vr);
        }
    }
    return set;
}

void refuseInterface(Fmi2Instance& instance, fmi2String functionName, fmi2String interfaceName) {
    refuse(instance, "%s: Illegal call: this is a %s function, and %s is a %s instance.",
           functionName, interfaceName, instance.instanceName, interfaceNameOf(instance));
}
