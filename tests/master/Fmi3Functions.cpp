#include "Fmi3Functions.h"

#include <cstring>

#include "RecordingLogger.h"

int fmi3Environment = 0;

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

const std::vector<std::string>& fmi3FunctionNames() {
    static const std::vector<std::string> names = {
        "fmi3GetVersion",
        "fmi3SetDebugLogging",
        "fmi3InstantiateModelExchange",
        "fmi3InstantiateCoSimulation",
        "fmi3InstantiateScheduledExecution",
        "fmi3FreeInstance",
        "fmi3EnterInitializationMode",
        "fmi3ExitInitializationMode",
        "fmi3EnterEventMode",
        "fmi3Terminate",
        "fmi3Reset",
        "fmi3GetFloat32",
        "fmi3GetFloat64",
        "fmi3GetInt8",
        "fmi3GetUInt8",
        "fmi3GetInt16",
        "fmi3GetUInt16",
        "fmi3GetInt32",
        "fmi3GetUInt32",
        "fmi3GetInt64",
        "fmi3GetUInt64",
        "fmi3GetBoolean",
        "fmi3GetString",
        "fmi3GetBinary",
        "fmi3GetClock",
        "fmi3SetFloat32",
        "fmi3SetFloat64",
        "fmi3SetInt8",
        "fmi3SetUInt8",
        "fmi3SetInt16",
        "fmi3SetUInt16",
        "fmi3SetInt32",
        "fmi3SetUInt32",
        "fmi3SetInt64",
        "fmi3SetUInt64",
        "fmi3SetBoolean",
        "fmi3SetString",
        "fmi3SetBinary",
        "fmi3SetClock",
        "fmi3GetNumberOfVariableDependencies",
        "fmi3GetVariableDependencies",
        "fmi3GetFMUState",
        "fmi3SetFMUState",
        "fmi3FreeFMUState",
        "fmi3SerializedFMUStateSize",
        "fmi3SerializeFMUState",
        "fmi3DeserializeFMUState",
        "fmi3GetDirectionalDerivative",
        "fmi3GetAdjointDerivative",
        "fmi3EnterConfigurationMode",
        "fmi3ExitConfigurationMode",
        "fmi3GetIntervalDecimal",
        "fmi3GetIntervalFraction",
        "fmi3GetShiftDecimal",
        "fmi3GetShiftFraction",
        "fmi3SetIntervalDecimal",
        "fmi3SetIntervalFraction",
        "fmi3SetShiftDecimal",
        "fmi3SetShiftFraction",
        "fmi3EvaluateDiscreteStates",
        "fmi3UpdateDiscreteStates",
        "fmi3EnterContinuousTimeMode",
        "fmi3CompletedIntegratorStep",
        "fmi3SetTime",
        "fmi3SetContinuousStates",
        "fmi3GetContinuousStateDerivatives",
        "fmi3GetEventIndicators",
        "fmi3GetContinuousStates",
        "fmi3GetNominalsOfContinuousStates",
        "fmi3GetNumberOfEventIndicators",
        "fmi3GetNumberOfContinuousStates",
        "fmi3EnterStepMode",
        "fmi3GetOutputDerivatives",
        "fmi3DoStep",
        "fmi3ActivateModelPartition",
    };
    return names;
}

bool resolveFmi3Functions(const SlaveLibrary& library, Fmi3Functions& f, std::string& error) {
    std::string missing;
    for (const std::string& name : fmi3FunctionNames()) {
        if (library.symbol(name.c_str()) == nullptr) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
    }
    resolve(library, f.getVersion, "fmi3GetVersion", missing);
    resolve(library, f.setDebugLogging, "fmi3SetDebugLogging", missing);
    resolve(library, f.instantiateModelExchange, "fmi3InstantiateModelExchange", missing);
    resolve(library, f.instantiateCoSimulation, "fmi3InstantiateCoSimulation", missing);
    resolve(library, f.instantiateScheduledExecution, "fmi3InstantiateScheduledExecution", missing);
    resolve(library, f.freeInstance, "fmi3FreeInstance", missing);
    resolve(library, f.enterInitializationMode, "fmi3EnterInitializationMode", missing);
    resolve(library, f.exitInitializationMode, "fmi3ExitInitializationMode", missing);
    resolve(library, f.enterEventMode, "fmi3EnterEventMode", missing);
    resolve(library, f.terminate, "fmi3Terminate", missing);
    resolve(library, f.reset, "fmi3Reset", missing);
    resolve(library, f.getFloat64, "fmi3GetFloat64", missing);
    resolve(library, f.setFloat64, "fmi3SetFloat64", missing);
    resolve(library, f.getInt32, "fmi3GetInt32", missing);
    resolve(library, f.setBoolean, "fmi3SetBoolean", missing);
    resolve(library, f.getBinary, "fmi3GetBinary", missing);
    resolve(library, f.getClock, "fmi3GetClock", missing);
    resolve(library, f.getNumberOfVariableDependencies, "fmi3GetNumberOfVariableDependencies",
            missing);
    resolve(library, f.getVariableDependencies, "fmi3GetVariableDependencies", missing);
    resolve(library, f.getFMUState, "fmi3GetFMUState", missing);
    resolve(library, f.setFMUState, "fmi3SetFMUState", missing);
    resolve(library, f.freeFMUState, "fmi3FreeFMUState", missing);
    resolve(library, f.serializedFMUStateSize, "fmi3SerializedFMUStateSize", missing);
    resolve(library, f.serializeFMUState, "fmi3SerializeFMUState", missing);
    resolve(library, f.deserializeFMUState, "fmi3DeserializeFMUState", missing);
    resolve(library, f.getDirectionalDerivative, "fmi3GetDirectionalDerivative", missing);
    resolve(library, f.getAdjointDerivative, "fmi3GetAdjointDerivative", missing);
    resolve(library, f.enterConfigurationMode, "fmi3EnterConfigurationMode", missing);
    resolve(library, f.enterStepMode, "fmi3EnterStepMode", missing);
    resolve(library, f.getOutputDerivatives, "fmi3GetOutputDerivatives", missing);
    resolve(library, f.doStep, "fmi3DoStep", missing);
    resolve(library, f.setTime, "fmi3SetTime", missing);
    resolve(library, f.getNumberOfContinuousStates, "fmi3GetNumberOfContinuousStates", missing);
    resolve(library, f.activateModelPartition, "fmi3ActivateModelPartition", missing);
    resolve(library, f.getIntervalDecimal, "fmi3GetIntervalDecimal", missing);
    resolve(library, f.updateDiscreteStates, "fmi3UpdateDiscreteStates", missing);
    resolve(library, f.evaluateDiscreteStates, "fmi3EvaluateDiscreteStates", missing);
    resolve(library, f.exitConfigurationMode, "fmi3ExitConfigurationMode", missing);
    resolve(library, f.getIntervalFraction, "fmi3GetIntervalFraction", missing);
    resolve(library, f.getShiftDecimal, "fmi3GetShiftDecimal", missing);
    resolve(library, f.getShiftFraction, "fmi3GetShiftFraction", missing);
    resolve(library, f.setIntervalDecimal, "fmi3SetIntervalDecimal", missing);
    resolve(library, f.setIntervalFraction, "fmi3SetIntervalFraction", missing);
    resolve(library, f.setShiftDecimal, "fmi3SetShiftDecimal", missing);
    resolve(library, f.setShiftFraction, "fmi3SetShiftFraction", missing);
    resolve(library, f.enterContinuousTimeMode, "fmi3EnterContinuousTimeMode", missing);
    resolve(library, f.completedIntegratorStep, "fmi3CompletedIntegratorStep", missing);
    resolve(library, f.setContinuousStates, "fmi3SetContinuousStates", missing);
    resolve(library, f.getContinuousStateDerivatives, "fmi3GetContinuousStateDerivatives", missing);
    resolve(library, f.getEventIndicators, "fmi3GetEventIndicators", missing);
    resolve(library, f.getContinuousStates, "fmi3GetContinuousStates", missing);
    resolve(library, f.getNominalsOfContinuousStates, "fmi3GetNominalsOfContinuousStates", missing);
    resolve(library, f.getNumberOfEventIndicators, "fmi3GetNumberOfEventIndicators", missing);
    if (!missing.empty()) {
        error = "'" + library.path() + "' does not export " + missing;
        return false;
    }
    return true;
}

extern "C" void recordingLogMessage(fmi3InstanceEnvironment instanceEnvironment, fmi3Status status,
                                    fmi3String category, fmi3String message) {
    LogRecord record;
    record.component = instanceEnvironment;
    record.instanceNameIsNull = true;
    record.status = static_cast<fmiStatus>(status);
    record.categoryIsNull = category == nullptr;
    record.category = category != nullptr ? category : "";
    record.messageIsNull = message == nullptr;
    record.format = message != nullptr ? message : "";
    record.text = record.format;
    logRecorder().append(std::move(record));
}
