// Identification, creation, initialization, reset, termination and release
// of a slave.
#include <cstring>

#include "ModelDefinition.h"
#include "SlaveInstance.h"

namespace {

constexpr fmiString kInstantiateSlave = "fmiInstantiateSlave";

// Every message of fmiInstantiateSlave goes out before an instance exists:
// with a null component and the caller's own instance name.
template <typename... Arguments>
void refuseInstantiation(const fmiCallbackFunctions& functions, fmiString instanceName,
                         fmiString format, Arguments... arguments) {
    functions.logger(nullptr, instanceName, fmiError, category::kError, format, kInstantiateSlave,
                     arguments...);
}

// Gives back, in the order fmiFreeSlaveInstance uses, every block of the
// record that was obtained, and last the record itself.
void releaseBlocks(SlaveInstance* record, fmiCallbackFreeMemory freeMemory) {
    void* const blocks[] = {record->instanceNameCopy, record->realValues,   record->integerValues,
                            record->booleanValues,    record->stringValues, record->auxFlags};
    for (void* const block : blocks) {
        if (block != nullptr) {
            freeMemory(block);
        }
    }
    freeMemory(record);
}

// Requests the six blocks in their fixed order, all of them before any answer
// is looked at, so a master sees the same sequence of requests whatever it
// answers. True when every block was obtained.
bool allocateBlocks(SlaveInstance* record, fmiCallbackAllocateMemory allocateMemory,
                    std::size_t instanceNameLength) {
    const ModelDefinition& model = modelDefinition;
    record->realValues = static_cast<fmiReal*>(allocateMemory(model.realCount, sizeof(fmiReal)));
    record->integerValues =
        static_cast<fmiInteger*>(allocateMemory(model.integerCount, sizeof(fmiInteger)));
    record->booleanValues =
        static_cast<fmiBoolean*>(allocateMemory(model.booleanCount, sizeof(fmiBoolean)));
    record->stringValues =
        static_cast<fmiString*>(allocateMemory(model.stringCount, sizeof(fmiString)));
    record->auxFlags = static_cast<std::uint8_t*>(allocateMemory(model.auxFlagCount, 1));
    record->instanceNameCopy = static_cast<char*>(allocateMemory(instanceNameLength + 1, 1));
    return record->realValues != nullptr && record->integerValues != nullptr &&
           record->booleanValues != nullptr && record->stringValues != nullptr &&
           record->auxFlags != nullptr && record->instanceNameCopy != nullptr;
}

}  // namespace

extern "C" {

SLAVE_API const char* SLAVE_EXPORT_NAME(fmiGetVersion)() {
    return "1.0";
}

SLAVE_API const char* SLAVE_EXPORT_NAME(fmiGetTypesPlatform)() {
    return "standard32";
}

SLAVE_API fmiComponent SLAVE_EXPORT_NAME(fmiInstantiateSlave)(
    fmiString instanceName, fmiString fmuGUID, fmiString /*fmuLocation*/, fmiString /*mimeType*/,
    fmiReal /*timeout*/, fmiBoolean /*visible*/, fmiBoolean /*interactive*/,
    fmiCallbackFunctions functions, fmiBoolean loggingOn) {
    if (functions.logger == nullptr) {
        return nullptr;
    }
    if (functions.allocateMemory == nullptr || functions.freeMemory == nullptr) {
        refuseInstantiation(functions, instanceName, "%s: Missing callback function.");
        return nullptr;
    }
    if (instanceName == nullptr || instanceName[0] == '\0') {
        refuseInstantiation(functions, instanceName, "%s: Missing instance name.");
        return nullptr;
    }
    // A null GUID is named as the null argument it is; it must never reach the
    // "%s" of the wrong-GUID message.
    if (fmuGUID == nullptr) {
        refuseInstantiation(functions, instanceName, "%s: Invalid argument %s = NULL.", "fmuGUID");
        return nullptr;
    }
    if (std::strcmp(fmuGUID, modelDefinition.modelGuid) != 0) {
        refuseInstantiation(functions, instanceName, "%s: Wrong GUID %s. Expected %s.", fmuGUID,
                            modelDefinition.modelGuid);
        return nullptr;
    }

    auto* const record =
        static_cast<SlaveInstance*>(functions.allocateMemory(1, sizeof(SlaveInstance)));
    if (record == nullptr) {
        refuseInstantiation(functions, instanceName, "%s: Out of memory.");
        return nullptr;
    }
    const std::size_t instanceNameLength = std::strlen(instanceName);
    if (!allocateBlocks(record, functions.allocateMemory, instanceNameLength)) {
        // Nothing obtained so far is used again; hand it all back so a failed
        // instantiation leaks nothing.
        releaseBlocks(record, functions.freeMemory);
        refuseInstantiation(functions, instanceName, "%s: Out of memory.");
        return nullptr;
    }

    if (loggingOn != fmiFalse) {
        functions.logger(nullptr, instanceName, fmiOK, category::kLog, "%s: GUID=%s",
                         kInstantiateSlave, fmuGUID);
    }
    std::memcpy(record->instanceNameCopy, instanceName, instanceNameLength + 1);
    record->guidRef = fmuGUID;
    record->loggingFlag = loggingOn;
    record->slaveState = Instantiated;
    record->callbacks = functions;
    writeStartValues(record->realValues, modelDefinition);
    return record;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiInitializeSlave)(fmiComponent c, fmiReal /*tStart*/,
                                                          fmiBoolean /*StopTimeDefined*/,
                                                          fmiReal /*tStop*/) {
    SlaveInstance* const instance = acceptCall(c, "fmiInitializeSlave", kInstantiatedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    // No tolerance control: the loop has a fixed substep, whatever the master asks.
    logTrace(*instance, "%s: toleranceControlled=%d relativeTolerance=%g", "fmiInitializeSlave", 0,
             0.0);
    fmiEventInfo& events = instance->eventRecord;
    events.iterationConverged = fmiTrue;
    events.stateValueReferencesChanged = fmiFalse;
    events.stateValuesChanged = fmiFalse;
    events.terminateSimulation = fmiFalse;
    // An event armed in the past and never moved: every substep after time
    // -1.0 recomputes the outputs.
    events.upcomingTimeEvent = fmiTrue;
    events.nextEventTime = -1.0;
    instance->slaveState = Initialized;
    return fmiOK;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiSetDebugLogging)(fmiComponent c, fmiBoolean loggingOn) {
    SlaveInstance* const instance = acceptCall(c, "fmiSetDebugLogging", kAnyLiveState);
    if (instance == nullptr) {
        return fmiError;
    }
    // Traced under the old flag: switching off is the last trace, switching
    // on writes none.
    logTrace(*instance, "fmiSetDebugLogging: loggingOn=%d",
             static_cast<int>(static_cast<signed char>(loggingOn)));
    instance->loggingFlag = loggingOn;
    return fmiOK;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiTerminateSlave)(fmiComponent c) {
    SlaveInstance* const instance = acceptCall(c, "fmiTerminateSlave", kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "fmiTerminateSlave");
    instance->slaveState = Terminated;
    return fmiOK;
}

SLAVE_API fmiStatus SLAVE_EXPORT_NAME(fmiResetSlave)(fmiComponent c) {
    SlaveInstance* const instance = acceptCall(c, "fmiResetSlave", kInitializedOnly);
    if (instance == nullptr) {
        return fmiError;
    }
    logTrace(*instance, "fmiResetSlave");
    instance->slaveState = Instantiated;
    writeStartValues(instance->realValues, modelDefinition);
    return fmiOK;
}

SLAVE_API void SLAVE_EXPORT_NAME(fmiFreeSlaveInstance)(fmiComponent c) {
    // An instance in Error is refused here like everywhere and never freed.
    SlaveInstance* const instance = acceptCall(c, "fmiFreeSlaveInstance", kTerminatedOnly);
    if (instance == nullptr) {
        return;
    }
    logTrace(*instance, "fmiFreeSlaveInstance");
    releaseBlocks(instance, instance->callbacks.freeMemory);
}

}  // extern "C"
