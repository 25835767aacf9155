// Identification, instantiation, debug logging, initialization, termination,
// reset and release of a co-simulation instance. The instance's memory is
// its own: one block from the C runtime at instantiation, freed with it.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "Fmi3Instance.h"
#include "Fmi3Message.h"
#include "InstanceLifecycle.h"

namespace {

constexpr fmi3String kInstantiate = "fmi3InstantiateCoSimulation";

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
    fmi3String instanceName;
    fmi3String instantiationToken;
    fmi3Boolean eventModeUsed;
    fmi3Boolean earlyReturnAllowed;
    std::size_t nRequiredIntermediateVariables;
    fmi3InstanceEnvironment instanceEnvironment;
    fmi3LogMessageCallback logMessage;
};

// The arguments fmi3InstantiateCoSimulation refuses, checked in the order of
// its parameters; true when an instance may be made.
bool acceptInstantiation(const InstantiationRequest& request) {
    const auto refusal = [&request](const char* reason) {
        refuseInstantiation(request.instanceEnvironment, request.logMessage, "%s: %s", kInstantiate,
                            reason);
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
                            "%s: Wrong instantiation token %s. Expected %s.", kInstantiate,
                            request.instantiationToken, modelDefinition.modelGuid);
        return false;
    }
    if (request.eventModeUsed) {
        refusal(
            "eventModeUsed = fmi3True is not supported: this FMU has no event mode "
            "(hasEventMode=\"false\").");
        return false;
    }
    if (request.earlyReturnAllowed) {
        refusal(
            "earlyReturnAllowed = fmi3True is not supported: this FMU never returns early "
            "from fmi3DoStep (mightReturnEarlyFromDoStep=\"false\").");
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

// The instantiation functions of the interfaces this FMU does not have: no
// instance, and the reason for a master that gave a logger.
fmi3Instance refuseInterface(fmi3String functionName, fmi3InstanceEnvironment instanceEnvironment,
                             fmi3LogMessageCallback logMessage, fmi3String interfaceName) {
    refuseInstantiation(instanceEnvironment, logMessage,
                        "%s: %s is a co-simulation FMU; it has no %s interface.", functionName,
                        modelDefinition.modelIdentifier, interfaceName);
    return nullptr;
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
    const InstantiationRequest request{instanceName,
                                       instantiationToken,
                                       eventModeUsed,
                                       earlyReturnAllowed,
                                       nRequiredIntermediateVariables,
                                       instanceEnvironment,
                                       logMessage};
    if (!acceptInstantiation(request)) {
        return nullptr;
    }
    Fmi3Instance* const instance = allocateInstance(instanceName);
    if (instance == nullptr) {
        refuseInstantiation(instanceEnvironment, logMessage, "%s: Out of memory.", kInstantiate);
        return nullptr;
    }
    instance->data.flushToZeroBits = floatingPointBitsOf(modelDefinition);
    instance->data.modelExchange = false;
    instance->debugLogging = loggingOn ? kAllCategories : 0U;
    instance->settableReals = parametersAndInputs(modelDefinition);
    instance->instanceEnvironment = instanceEnvironment;
    instance->logMessage = logMessage;
    instance->fmuStates = nullptr;
    writeFreshState(*instance);
    logCall(*instance, "%s: instanceName=%s, instantiationToken=%s, resourcePath=%s", kInstantiate,
            instanceName, instantiationToken, resourcePath != nullptr ? resourcePath : "(none)");
    return instance;
}

SLAVE_API fmi3Instance fmi3InstantiateModelExchange(
    fmi3String /*instanceName*/, fmi3String /*instantiationToken*/, fmi3String /*resourcePath*/,
    fmi3Boolean /*visible*/, fmi3Boolean /*loggingOn*/, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage) {
    return refuseInterface("fmi3InstantiateModelExchange", instanceEnvironment, logMessage,
                           "model exchange");
}

SLAVE_API fmi3Instance fmi3InstantiateScheduledExecution(
    fmi3String /*instanceName*/, fmi3String /*instantiationToken*/, fmi3String /*resourcePath*/,
    fmi3Boolean /*visible*/, fmi3Boolean /*loggingOn*/, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage, fmi3ClockUpdateCallback /*clockUpdate*/,
    fmi3LockPreemptionCallback /*lockPreemption*/,
    fmi3UnlockPreemptionCallback /*unlockPreemption*/) {
    return refuseInterface("fmi3InstantiateScheduledExecution", instanceEnvironment, logMessage,
                           "scheduled execution");
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
    // A master reads consistent forces at the start time.
    if (!updateOutputs(*own, functionName)) {
        return fmi3Error;
    }
    own->state = StepMode;
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3Terminate(fmi3Instance instance) {
    Fmi3Instance* const own = acceptCall(instance, "fmi3Terminate", StepMode);
    if (own == nullptr) {
        return fmi3Error;
    }
    logCall(*own, "fmi3Terminate");
    own->state = Terminated;
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
