// Identification, creation, debug logging, initialization, termination,
// reset and release of an instance of either interface.
#include <cstring>

#include "Fmi2Instance.h"
#include "InstanceLifecycle.h"

namespace {

constexpr fmi2String kInstantiate = "fmi2Instantiate";

// Every message of fmi2Instantiate goes out before an instance exists: with
// the master's environment and the caller's own instance name ("" for none).
template <typename... Arguments>
void refuseInstantiation(const fmi2CallbackFunctions& functions, fmi2String instanceName,
                         fmi2String format, Arguments... arguments) {
    functions.logger(functions.componentEnvironment, instanceName != nullptr ? instanceName : "",
                     fmi2Error, logCategory::kError.name, format, kInstantiate, arguments...);
}

// The arguments fmi2Instantiate refuses, checked in the order of its
// parameters; true when an instance may be made.
bool acceptInstantiation(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                         const fmi2CallbackFunctions& functions) {
    if (functions.allocateMemory == nullptr || functions.freeMemory == nullptr) {
        refuseInstantiation(functions, instanceName,
                            "%s: Missing callback function: allocateMemory and freeMemory are "
                            "required.");
        return false;
    }
    if (instanceName == nullptr || instanceName[0] == '\0') {
        refuseInstantiation(functions, instanceName, "%s: Missing instance name.");
        return false;
    }
    if (fmuType != fmi2CoSimulation && fmuType != fmi2ModelExchange) {
        refuseInstantiation(functions, instanceName,
                            "%s: fmuType %d is not supported: %s is a Model Exchange "
                            "(fmi2ModelExchange = 0) and co-simulation (fmi2CoSimulation = 1) FMU.",
                            static_cast<int>(fmuType), modelDefinition.modelIdentifier);
        return false;
    }
    if (fmuGUID == nullptr) {
        refuseInstantiation(functions, instanceName, "%s: Invalid argument %s = NULL.", "fmuGUID");
        return false;
    }
    if (std::strcmp(fmuGUID, modelDefinition.modelGuid) != 0) {
        refuseInstantiation(functions, instanceName, "%s: Wrong GUID %s. Expected %s.", fmuGUID,
                            modelDefinition.modelGuid);
        return false;
    }
    return true;
}

void writeFreshState(Fmi2Instance& instance) {
    enterState(instance, Instantiated);
    writeFreshData(instance.data);
}

}  // namespace

extern "C" {

SLAVE_API const char* fmi2GetTypesPlatform() {
    return "default";
}

SLAVE_API const char* fmi2GetVersion() {
    return "2.0";
}

SLAVE_API fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType,
                                        fmi2String fmuGUID, fmi2String fmuResourceLocation,
                                        const fmi2CallbackFunctions* functions,
                                        fmi2Boolean /*visible*/, fmi2Boolean loggingOn) {
    // Without a logger there is no one to tell why.
    if (functions == nullptr || functions->logger == nullptr) {
        return nullptr;
    }
    if (!acceptInstantiation(instanceName, fmuType, fmuGUID, *functions)) {
        return nullptr;
    }
    // One block: the record, the real values, the copy of the instance name.
    const std::size_t valuesOffset = roundedToReal(sizeof(Fmi2Instance));
    const std::size_t nameOffset = valuesOffset + sizeof(Real) * modelDefinition.realCount;
    const std::size_t nameSize = std::strlen(instanceName) + 1;
    auto* const block =
        static_cast<unsigned char*>(functions->allocateMemory(1, nameOffset + nameSize));
    if (block == nullptr) {
        refuseInstantiation(*functions, instanceName, "%s: Out of memory.");
        return nullptr;
    }
    auto* const instance = reinterpret_cast<Fmi2Instance*>(block);
    char* const name = reinterpret_cast<char*>(block + nameOffset);
    std::memcpy(name, instanceName, nameSize);
    instance->data.realValues = reinterpret_cast<Real*>(block + valuesOffset);
    instance->data.flushToZeroBits = floatingPointBitsOf(modelDefinition);
    instance->data.modelExchange = fmuType == fmi2ModelExchange;
    instance->debugLogging = loggingOn != fmi2False ? kAllCategories : 0U;
    instance->callbacks = *functions;
    instance->instanceName = name;
    instance->fmuStates = nullptr;
    writeFreshState(*instance);
    logCall(*instance, "%s: %s, GUID=%s, resource location %s", kInstantiate,
            interfaceNameOf(*instance), fmuGUID,
            fmuResourceLocation != nullptr ? fmuResourceLocation : "(none)");
    return instance;
}

SLAVE_API void fmi2FreeInstance(fmi2Component c) {
    Fmi2Instance* const instance = acceptCall(c, "fmi2FreeInstance", kLiveStates);
    if (instance == nullptr) {
        return;
    }
    logCall(*instance, "fmi2FreeInstance");
    freeFmuStates(*instance);
    instance->callbacks.freeMemory(instance);
}

SLAVE_API fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn,
                                         std::size_t nCategories, const fmi2String categories[]) {
    static constexpr fmi2String functionName = "fmi2SetDebugLogging";
    Fmi2Instance* const instance = acceptCall(c, functionName, kLiveStates);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: loggingOn=%d, nCategories=%u", functionName, loggingOn,
            static_cast<unsigned>(nCategories));
    std::uint32_t chosen = 0;
    if (!chooseLogCategories(*instance, functionName, nCategories, categories, chosen)) {
        return fmi2Error;
    }
    switchDebugLogging(instance->debugLogging, loggingOn != fmi2False, chosen);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined,
                                         fmi2Real tolerance, fmi2Real startTime,
                                         fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    static constexpr fmi2String functionName = "fmi2SetupExperiment";
    Fmi2Instance* const instance = acceptCall(c, functionName, Instantiated);
    if (instance == nullptr) {
        return fmi2Error;
    }
    // The substeps are fixed whatever the tolerance, and a step past the
    // stop time computes like any other: both are only traced.
    logCall(*instance,
            "%s: toleranceDefined=%d, tolerance=%g, startTime=%g, stopTimeDefined=%d, "
            "stopTime=%g",
            functionName, toleranceDefined, tolerance, startTime, stopTimeDefined, stopTime);
    if (!isFinite(startTime)) {
        refuse(*instance, "%s: The start time %g is not finite.", functionName, startTime);
        return fmi2Error;
    }
    instance->data.time = startTime;
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    Fmi2Instance* const instance = acceptCall(c, "fmi2EnterInitializationMode", Instantiated);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "fmi2EnterInitializationMode");
    enterState(*instance, InitializationMode);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    static constexpr fmi2String functionName = "fmi2ExitInitializationMode";
    Fmi2Instance* const instance = acceptCall(c, functionName, InitializationMode);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, functionName);
    // Model Exchange goes on in event mode, its outputs computed when read.
    if (instance->data.modelExchange) {
        enterState(*instance, EventMode);
        return fmi2OK;
    }
    // A master reads consistent forces at the start time.
    if (!updateOutputs(*instance, functionName)) {
        return fmi2Error;
    }
    enterState(*instance, StepComplete);
    return fmi2OK;
}

SLAVE_API fmi2Status fmi2Terminate(fmi2Component c) {
    Fmi2Instance* const instance = acceptCall(c, "fmi2Terminate", kRunning);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "fmi2Terminate");
    enterState(*instance, Terminated);
    return fmi2OK;
}

// Back to a fresh instance in every respect the model sees; debug logging
// and the FMU states taken so far stay as they are.
SLAVE_API fmi2Status fmi2Reset(fmi2Component c) {
    Fmi2Instance* const instance = acceptCall(c, "fmi2Reset", kLiveStates);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "fmi2Reset");
    writeFreshState(*instance);
    return fmi2OK;
}

}  // extern "C"
