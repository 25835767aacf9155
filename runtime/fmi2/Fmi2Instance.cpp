#include "Fmi2Instance.h"

#include "InstanceLifecycle.h"

// By the bit of the state, in the order of MachineState; a value without
// any of its bits is no state at all.
const char* machineStateName(std::uint32_t state) {
    static const char* const names[] = {
        "instantiated", "initialization mode", "step complete",        "terminated", "error",
        "fatal",        "event mode",          "continuous-time mode", "unknown"};
    return names[__builtin_ctz(state | 0x100U)];
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
