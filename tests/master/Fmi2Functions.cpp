#include "Fmi2Functions.h"

#include <cstdarg>
#include <cstring>

#include "RecordingAllocator.h"
#include "RecordingLogger.h"

int fmi2Environment = 0;

namespace {

template <typename Function>
void resolve(const SlaveLibrary& library, Function& target, const char* name,
             std::string& missing) {
    void* const address = library.symbol(name);
    if (address == nullptr) {
        missing += (missing.empty() ? "" : ", ") + std::string(name);
        return;
    }
    static_assert(sizeof target == sizeof address, "function and data pointers differ in size");
    std::memcpy(&target, &address, sizeof target);
}

}  // namespace

bool resolveFmi2Functions(const SlaveLibrary& library, Fmi2Functions& f, std::string& error) {
    std::string missing;
    resolve(library, f.getTypesPlatform, "fmi2GetTypesPlatform", missing);
    resolve(library, f.getVersion, "fmi2GetVersion", missing);
    resolve(library, f.setDebugLogging, "fmi2SetDebugLogging", missing);
    resolve(library, f.instantiate, "fmi2Instantiate", missing);
    resolve(library, f.freeInstance, "fmi2FreeInstance", missing);
    resolve(library, f.setupExperiment, "fmi2SetupExperiment", missing);
    resolve(library, f.enterInitializationMode, "fmi2EnterInitializationMode", missing);
    resolve(library, f.exitInitializationMode, "fmi2ExitInitializationMode", missing);
    resolve(library, f.terminate, "fmi2Terminate", missing);
    resolve(library, f.reset, "fmi2Reset", missing);
    resolve(library, f.getReal, "fmi2GetReal", missing);
    resolve(library, f.getInteger, "fmi2GetInteger", missing);
    resolve(library, f.getBoolean, "fmi2GetBoolean", missing);
    resolve(library, f.getString, "fmi2GetString", missing);
    resolve(library, f.setReal, "fmi2SetReal", missing);
    resolve(library, f.setInteger, "fmi2SetInteger", missing);
    resolve(library, f.setBoolean, "fmi2SetBoolean", missing);
    resolve(library, f.setString, "fmi2SetString", missing);
    resolve(library, f.getFMUstate, "fmi2GetFMUstate", missing);
    resolve(library, f.setFMUstate, "fmi2SetFMUstate", missing);
    resolve(library, f.freeFMUstate, "fmi2FreeFMUstate", missing);
    resolve(library, f.serializedFMUstateSize, "fmi2SerializedFMUstateSize", missing);
    resolve(library, f.serializeFMUstate, "fmi2SerializeFMUstate", missing);
    resolve(library, f.deSerializeFMUstate, "fmi2DeSerializeFMUstate", missing);
    resolve(library, f.getDirectionalDerivative, "fmi2GetDirectionalDerivative", missing);
    resolve(library, f.setRealInputDerivatives, "fmi2SetRealInputDerivatives", missing);
    resolve(library, f.getRealOutputDerivatives, "fmi2GetRealOutputDerivatives", missing);
    resolve(library, f.doStep, "fmi2DoStep", missing);
    resolve(library, f.cancelStep, "fmi2CancelStep", missing);
    resolve(library, f.getStatus, "fmi2GetStatus", missing);
    resolve(library, f.getRealStatus, "fmi2GetRealStatus", missing);
    resolve(library, f.getIntegerStatus, "fmi2GetIntegerStatus", missing);
    resolve(library, f.getBooleanStatus, "fmi2GetBooleanStatus", missing);
    resolve(library, f.getStringStatus, "fmi2GetStringStatus", missing);
    resolve(library, f.enterEventMode, "fmi2EnterEventMode", missing);
    resolve(library, f.newDiscreteStates, "fmi2NewDiscreteStates", missing);
    resolve(library, f.enterContinuousTimeMode, "fmi2EnterContinuousTimeMode", missing);
    resolve(library, f.completedIntegratorStep, "fmi2CompletedIntegratorStep", missing);
    resolve(library, f.setTime, "fmi2SetTime", missing);
    resolve(library, f.setContinuousStates, "fmi2SetContinuousStates", missing);
    resolve(library, f.getDerivatives, "fmi2GetDerivatives", missing);
    resolve(library, f.getEventIndicators, "fmi2GetEventIndicators", missing);
    resolve(library, f.getContinuousStates, "fmi2GetContinuousStates", missing);
    resolve(library, f.getNominalsOfContinuousStates, "fmi2GetNominalsOfContinuousStates", missing);
    if (!missing.empty()) {
        error = "'" + library.path() + "' does not export " + missing;
        return false;
    }
    return true;
}

extern "C" void recordingLogger2(fmi2ComponentEnvironment componentEnvironment,
                                 fmi2String instanceName, fmi2Status status, fmi2String category,
                                 fmi2String message, ...) {
    va_list ap;
    va_start(ap, message);
    recordLogCall(componentEnvironment, instanceName, static_cast<fmiStatus>(status), category,
                  message, ap);
    va_end(ap);
}

fmi2CallbackFunctions recordingCallbacks2() {
    return {recordingLogger2, recordingAllocate, recordingFree, nullptr, &fmi2Environment};
}
