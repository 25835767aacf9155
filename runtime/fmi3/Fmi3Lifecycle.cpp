// Identification, instantiation, debug logging, initialization, termination,
// reset and release of a co-simulation or Model Exchange instance. The instance's memory is
// its own: one block from the C runtime at instantiation, freed with it.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "Fmi3Instance.h"
#include "Fmi3Message.h"
#include "InstanceLifecycle.h"

namespace {

constexpr fmi3String kInstantiateCoSimulation = "fmi3InstantiateCoSimulation";
constexpr fmi3String kInstantiateModelExchange = "fmi3InstantiateModelExchange";

// The messages of an instantiation go out before an instance exists, so they
// are formatted on the stack and sent with the master's environment.
SLAVE_MESSAGE_FORMAT(3, 4)
void refuseInstantiation(fmi3InstanceEnvironment instanceEnvironment,
                         fmi3LogMessageCallback logMessage, const char* format, ...) {
    if (logMessage == nullptr) {
        return;
    }
    char message[kMessageCapacity];
    std::va_list arguments;
    va_start(arguments, format);
    formatMessage(message, sizeof message, format, arguments);
    va_end(arguments);
    logMessage(instanceEnvironment, fmi3Error, logCategory::kError.name, message);
}

struct InstantiationRequest {
    fmi3String functionName;
    fmi3String instanceName;
    fmi3String instantiationToken;
    fmi3Boolean eventModeUsed;
    fmi3Boolean earlyReturnAllowed;
    std::size_t nRequiredIntermediateVariables;
    fmi3InstanceEnvironment instanceEnvironment;
    fmi3LogMessageCallback logMessage;
};

// The arguments an instantiation refuses, checked in the order of its
// parameters; true when an instance may be made. Model Exchange passes none
// of co-simulation's own arguments: they stay false and zero.
bool acceptInstantiation(const InstantiationRequest& request) {
    const auto refusal = [&request](const char* reason) {
        refuseInstantiation(request.instanceEnvironment, request.logMessage, "%s: %s",
                            request.functionName, reason);
    };
    if (request.instanceName == nullptr || request.instanceName[0] == '\0') {
        refusal("Missing instance name.");
        return false;
    }
    if (request.instantiationToken == nullptr) {
        refusal("Invalid argument instantiationToken = NULL.");
        return false;
    }
    if (std::strcmp(request.instantiationToken, modelDefinition.modelGuid) != 0) {
        refuseInstantiation(request.instanceEnvironment, request.logMessage,
                            "%s: Wrong instantiation token %s. Expected %s.", request.functionName,
                            request.instantiationToken, modelDefinition.modelGuid);
        return false;
    }
    if (request.eventModeUsed) {
        refusal(
            "eventModeUsed = fmi3True is not supported: this FMU has no event mode "
            "(hasEventMode=\"false\").");
        return false;
    }
    if (request.nRequiredIntermediateVariables != 0) {
        refusal(
            "Intermediate variables were requested: this FMU provides no intermediate "
            "update (providesIntermediateUpdate=\"false\").");
        return false;
    }
    return true;
}

void writeFreshState(Fmi3Instance& instance) {
    instance.state = Instantiated;
    settleSettableReals(instance);
    writeFreshData(instance.data);
}

// One block: the record, the real values, the copy of the instance name.
// Null when the C runtime has no memory for it.
Fmi3Instance* allocateInstance(fmi3String instanceName) {
    const std::size_t valuesOffset = roundedToReal(sizeof(Fmi3Instance));
    const std::size_t nameOffset = valuesOffset + sizeof(Real) * modelDefinition.realCount;
    const std::size_t nameSize = std::strlen(instanceName) + 1;
    auto* const block = static_cast<unsigned char*>(std::calloc(1, nameOffset + nameSize));
    if (block == nullptr) {
        return nullptr;
    }
    auto* const instance = reinterpret_cast<Fmi3Instance*>(block);
    char* const name = reinterpret_cast<char*>(block + nameOffset);
    std::memcpy(name, instanceName, nameSize);
    instance->data.realValues = reinterpret_cast<Real*>(block + valuesOffset);
    instance->instanceName = name;
    return instance;
}

// An instance of either interface, after its arguments were accepted; null
// after a refusal. The earlyReturnAllowed of co-simulation needs nothing: it
// only permits early returns, and a step never returns early.
Fmi3Instance* makeInstance(const InstantiationRequest& request, fmi3String resourcePath,
                           fmi3Boolean loggingOn, bool modelExchange) {
    if (!acceptInstantiation(request)) {
        return nullptr;
    }
    Fmi3Instance* const instance = allocateInstance(request.instanceName);
    if (instance == nullptr) {
        refuseInstantiation(request.instanceEnvironment, request.logMessage, "%s: Out of memory.",
                            request.functionName);
        return nullptr;
    }
    instance->data.flushToZeroBits = floatingPointBitsOf(modelDefinition);
    instance->data.modelExchange = modelExchange;
    instance->debugLogging =
        (loggingOn ? kAllCategories : 0U) | (modelExchange ? kModelExchangeAccess : 0U);
    instance->instanceEnvironment = request.instanceEnvironment;
    instance->logMessage = request.logMessage;
    instance->fmuStates = nullptr;
    writeFreshState(*instance);
    logCall(*instance, "%s: instanceName=%s, instantiationToken=%s, resourcePath=%s",
            request.functionName, request.instanceName, request.instantiationToken,
            resourcePath != nullptr ? resourcePath : "(none)");
    return instance;
}

}  // namespace

extern "C" {

SLAVE_API const char* fmi3GetVersion() {
    return "3.0";
}

SLAVE_API fmi3Instance fmi3InstantiateCoSimulation(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath,
    fmi3Boolean /*visible*/, fmi3Boolean loggingOn, fmi3Boolean eventModeUsed,
    fmi3Boolean earlyReturnAllowed, const fmi3ValueReference /*requiredIntermediateVariables*/[],
    std::size_t nRequiredIntermediateVariables, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage, fmi3IntermediateUpdateCallback /*intermediateUpdate*/) {
    const InstantiationRequest request{kInstantiateCoSimulation, instanceName,
                                       instantiationToken,       eventModeUsed,
                                       earlyReturnAllowed,       nRequiredIntermediateVariables,
                                       instanceEnvironment,      logMessage};
    return makeInstance(request, resourcePath, loggingOn, false);
}

SLAVE_API fmi3Instance fmi3InstantiateModelExchange(fmi3String instanceName,
                                                    fmi3String instantiationToken,
                                                    fmi3String resourcePath,
                                                    fmi3Boolean /*visible*/, fmi3Boolean loggingOn,
                                                    fmi3InstanceEnvironment instanceEnvironment,
                                                    fmi3LogMessageCallback logMessage) {
    const InstantiationRequest request{
        kInstantiateModelExchange, instanceName, instantiationToken, fmi3False, fmi3False, 0,
        instanceEnvironment,       logMessage};
    return makeInstance(request, resourcePath, loggingOn, true);
}

// No clocks: no scheduled execution, and the reason for a master that gave a
// logger.
SLAVE_API fmi3Instance fmi3InstantiateScheduledExecution(
    fmi3String /*instanceName*/, fmi3String /*instantiationToken*/, fmi3String /*resourcePath*/,
    fmi3Boolean /*visible*/, fmi3Boolean /*loggingOn*/, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage, fmi3ClockUpdateCallback /*clockUpdate*/,
    fmi3LockPreemptionCallback /*lockPreemption*/,
    fmi3UnlockPreemptionCallback /*unlockPreemption*/) {
    refuseInstantiation(instanceEnvironment, logMessage,
                        "%s: %s has no scheduled execution interface.",
                        "fmi3InstantiateScheduledExecution", modelDefinition.modelIdentifier);
    return nullptr;
}

SLAVE_API void fmi3FreeInstance(fmi3Instance instance) {
    Fmi3Instance* const own = acceptCall(instance, "fmi3FreeInstance", kLiveStates);
    if (own == nullptr) {
        return;
    }
    logCall(*own, "fmi3FreeInstance");
    freeFmuStates(*own);
    std::free(own);
}

SLAVE_API fmi3Status fmi3SetDebugLogging(fmi3Instance instance, fmi3Boolean loggingOn,
                                         std::size_t nCategories, const fmi3String categories[]) {
    static constexpr fmi3String functionName = "fmi3SetDebugLogging";
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s: loggingOn=%d, nCategories=%zu", functionName, loggingOn ? 1 : 0,
            nCategories);
    std::uint32_t chosen = 0;
    if (!chooseLogCategories(*own, functionName, nCategories, categories, chosen)) {
        return fmi3Error;
    }
    switchDebugLogging(own->debugLogging, loggingOn, chosen);
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3EnterInitializationMode(fmi3Instance instance,
                                                 fmi3Boolean toleranceDefined,
                                                 fmi3Float64 tolerance, fmi3Float64 startTime,
                                                 fmi3Boolean stopTimeDefined,
                                                 fmi3Float64 stopTime) {
    static constexpr fmi3String functionName = "fmi3EnterInitializationMode";
    Fmi3Instance* const own = acceptCall(instance, functionName, Instantiated);
    if (own == nullptr) {
        return fmi3Error;
    }
    // The substeps are fixed whatever the tolerance, and a step past the
    // stop time computes like any other: both are only traced.
    logCall(*own,
            "%s: toleranceDefined=%d, tolerance=%g, startTime=%g, stopTimeDefined=%d, "
            "stopTime=%g",
            functionName, toleranceDefined ? 1 : 0, tolerance, startTime, stopTimeDefined ? 1 : 0,
            stopTime);
    if (!isFinite(startTime)) {
        refuse(*own, "%s: The start time %g is not finite.", functionName, startTime);
        return fmi3Error;
    }
    own->data.time = startTime;
    own->state = InitializationMode;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3ExitInitializationMode(fmi3Instance instance) {
    static constexpr fmi3String functionName = "fmi3ExitInitializationMode";
    Fmi3Instance* const own = acceptCall(instance, functionName, InitializationMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "%s", functionName);
    // A master reads consistent forces at the start time. Model Exchange
    // computes them unless a read since the last change already did, and
    // goes on into event mode, where the master's event iteration begins.
    if (own->data.modelExchange) {
        if (!refreshOutputs(*own, functionName)) {
            return fmi3Error;
        }
        own->state = EventMode;
        return fmi3OK;
    }
    if (!updateOutputs(*own, functionName)) {
        return fmi3Error;
    }
    own->state = StepMode;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3Terminate(fmi3Instance instance) {
    Fmi3Instance* const own = acceptCall(instance, "fmi3Terminate", kSimulating);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "fmi3Terminate");
    own->state = Terminated;
    settleSettableReals(*own);
    return fmi3OK;
}

// Back to a fresh instance in every respect the model sees; debug logging
// and the FMU states taken so far stay as they are.
SLAVE_API fmi3Status fmi3Reset(fmi3Instance instance) {
    Fmi3Instance* const own = acceptCall(instance, "fmi3Reset", kLiveStates);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "fmi3Reset");
    writeFreshState(*own);
    return fmi3OK;
}

}  // extern "C"
