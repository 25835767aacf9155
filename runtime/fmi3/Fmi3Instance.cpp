#include "Fmi3Instance.h"

#include <cstdarg>

#include "Fmi3Message.h"
#include "InstanceLifecycle.h"

namespace {

// Each message is formatted on the stack of the call that sends it: a logger
// that calls back into the instance, and makes it log again, formats the
// inner message elsewhere and leaves the text it is being handed intact.
void sendMessage(Fmi3Instance& instance, fmi3Status status, const LogCategory& category,
                 const char* format, std::va_list arguments) {
    if (instance.logMessage == nullptr) {
        return;
    }
    char message[kMessageCapacity];
    formatMessage(message, sizeof message, format, arguments);
    instance.logMessage(instance.instanceEnvironment, status, category.name, message);
}

// The inputs alone: what continuous-time mode lets a master change.
ValueReferenceSet inputsOf(const ModelDefinition& model) {
    ValueReferenceSet set = 0;
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        if (model.realVariables[vr].causality == Causality::Input) {
            set |= ValueReferenceSet{1} << vr;
        }
    }
    return set;
}

}  // namespace

void logCall(Fmi3Instance& instance, const char* format, ...) {
    if (!tracesCalls(instance)) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    sendMessage(instance, fmi3OK, logCategory::kCalls, format, arguments);
    va_end(arguments);
}

void refuse(Fmi3Instance& instance, const char* format, ...) {
    instance.state = Error;
    std::va_list arguments;
    va_start(arguments, format);
    sendMessage(instance, fmi3Error, logCategory::kError, format, arguments);
    va_end(arguments);
}

const char* machineStateName(std::uint32_t state) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case StepMode:
            return "step mode";
        case Terminated:
            return "terminated";
        case EventMode:
            return "event mode";
        case ContinuousTimeMode:
            return "continuous-time mode";
        default:
            // Error, the one state left that an instance can be in: no
            // instance is ever in Fatal.
            return "error";
    }
}

fmi3Status refuseInapplicable(fmi3Instance instance, fmi3String functionName, fmi3String reason) {
    if (instance != nullptr) {
        refuse(*static_cast<Fmi3Instance*>(instance), "%s: %s", functionName, reason);
    }
    return fmi3Error;
}

void refuseOtherInterface(Fmi3Instance& instance, fmi3String functionName,
                          fmi3String callInterface) {
    refuse(instance, "%s: This is a %s instance; %s is a function of %s only.", functionName,
           interfaceName(instance), functionName, callInterface);
}

void refuseCoSimulationCall(Fmi3Instance& instance, fmi3String functionName) {
    if (instance.data.modelExchange) {
        refuseOtherInterface(instance, functionName, "co-simulation");
        return;
    }
    refuseCallSequence(instance, functionName);
}

Fmi3Instance* acceptModelExchangeCall(fmi3Instance instance, fmi3String functionName,
                                      StateMask mask) {
    if (instance != nullptr && !static_cast<Fmi3Instance*>(instance)->data.modelExchange) {
        refuseOtherInterface(*static_cast<Fmi3Instance*>(instance), functionName, "Model Exchange");
        return nullptr;
    }
    return acceptCall(instance, functionName, mask);
}

void settleSettableReals(Fmi3Instance& instance) {
    instance.settableReals = instance.state == ContinuousTimeMode
                                 ? inputsOf(modelDefinition)
                                 : parametersAndInputs(modelDefinition);
}
