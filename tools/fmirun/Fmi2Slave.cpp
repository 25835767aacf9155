#include "Fmi2Slave.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"

// The interface passes the 1.0 types; those of 2.0 are the same.
static_assert(std::is_same_v<fmiReal, fmi2Real>);
static_assert(std::is_same_v<fmiValueReference, fmi2ValueReference>);

extern "C" {
using GetVersion2 = const char* (*)();
using GetTypesPlatform2 = const char* (*)();
using Instantiate2 = fmi2Component (*)(fmi2String, fmi2Type, fmi2String, fmi2String,
                                       const fmi2CallbackFunctions*, fmi2Boolean, fmi2Boolean);
using SetDebugLogging2 = fmi2Status (*)(fmi2Component, fmi2Boolean, std::size_t,
                                        const fmi2String[]);
using SetupExperiment2 = fmi2Status (*)(fmi2Component, fmi2Boolean, fmi2Real, fmi2Real, fmi2Boolean,
                                        fmi2Real);
using ComponentCall2 = fmi2Status (*)(fmi2Component);
using FreeInstance2 = void (*)(fmi2Component);
using SetReal2 = fmi2Status (*)(fmi2Component, const fmi2ValueReference*, std::size_t,
                                const fmi2Real*);
using GetReal2 = fmi2Status (*)(fmi2Component, const fmi2ValueReference*, std::size_t, fmi2Real*);
using DoStep2 = fmi2Status (*)(fmi2Component, fmi2Real, fmi2Real, fmi2Boolean);
}

struct Fmi2Slave::Functions {
    GetVersion2 getVersion;
    GetTypesPlatform2 getTypesPlatform;
    Instantiate2 instantiate;
    SetDebugLogging2 setDebugLogging;
    SetupExperiment2 setupExperiment;
    ComponentCall2 enterInitializationMode;
    ComponentCall2 exitInitializationMode;
    ComponentCall2 terminate;
    FreeInstance2 freeInstance;
    SetReal2 setReal;
    GetReal2 getReal;
    DoStep2 doStep;
};

namespace {

const char* statusName(fmi2Status status) {
    switch (status) {
        case fmi2OK:
            return "fmi2OK";
        case fmi2Warning:
            return "fmi2Warning";
        case fmi2Discard:
            return "fmi2Discard";
        case fmi2Error:
            return "fmi2Error";
        case fmi2Fatal:
            return "fmi2Fatal";
        case fmi2Pending:
            return "fmi2Pending";
    }
    return "unknown status";
}

const char* boolean(fmi2Boolean value) {
    return value != fmi2False ? "fmi2True" : "fmi2False";
}

// The component environment is the wrapper that receives the messages.
extern "C" void logCallback2(fmi2ComponentEnvironment environment, fmi2String instanceName,
                             fmi2Status status, fmi2String category, fmi2String message, ...) {
    std::va_list arguments;
    va_start(arguments, message);
    const std::string text = formatted(message, arguments);
    va_end(arguments);
    // Nothing may unwind through the slave's own frames.
    try {
        if (environment != nullptr) {
            static_cast<Fmi2Slave*>(environment)->receive(status, instanceName, category, text);
        }
    } catch (...) {
        std::fputs("fmirun: a slave's message was lost\n", stderr);
    }
}

}  // namespace

Fmi2Slave::Fmi2Slave(const std::string& libraryPath, const ModelDescription& model,
                     SlaveOptions options)
    : model_(model),
      options_(options),
      // A slave starts from the master's controls and keeps what it sets.
      controls_(currentFloatingPointControls()),
      library_(loadLibrary(libraryPath, controls_)),
      messages_(options) {
    const std::string why = "it is not an FMI 2.0 library";
    functions_ = std::make_unique<Functions>(Functions{
        resolve<GetVersion2>(library_, "fmi2GetVersion", libraryPath, why),
        resolve<GetTypesPlatform2>(library_, "fmi2GetTypesPlatform", libraryPath, why),
        resolve<Instantiate2>(library_, "fmi2Instantiate", libraryPath, why),
        resolve<SetDebugLogging2>(library_, "fmi2SetDebugLogging", libraryPath, why),
        resolve<SetupExperiment2>(library_, "fmi2SetupExperiment", libraryPath, why),
        resolve<ComponentCall2>(library_, "fmi2EnterInitializationMode", libraryPath, why),
        resolve<ComponentCall2>(library_, "fmi2ExitInitializationMode", libraryPath, why),
        resolve<ComponentCall2>(library_, "fmi2Terminate", libraryPath, why),
        resolve<FreeInstance2>(library_, "fmi2FreeInstance", libraryPath, why),
        resolve<SetReal2>(library_, "fmi2SetReal", libraryPath, why),
        resolve<GetReal2>(library_, "fmi2GetReal", libraryPath, why),
        resolve<DoStep2>(library_, "fmi2DoStep", libraryPath, why),
    });
    const InSlaveControls inSlave(controls_);
    const char* version = functions_->getVersion();
    if (options_.logCalls) {
        console::line("fmi: fmi2GetVersion() -> " + quoted(version));
    }
    if (version == nullptr || std::strcmp(version, "2.0") != 0) {
        throw Failure(kExitModel,
                      libraryPath + " implements FMI version " + quoted(version) + ", not \"2.0\"");
    }
    const char* platform = functions_->getTypesPlatform();
    if (options_.logCalls) {
        console::line("fmi: fmi2GetTypesPlatform() -> " + quoted(platform));
    }
    if (platform == nullptr || std::strcmp(platform, "default") != 0) {
        throw Failure(kExitModel, libraryPath + " has types platform " + quoted(platform) +
                                      ", not \"default\"");
    }
}

Fmi2Slave::~Fmi2Slave() {
    freeLiveBlocks();
    unloadLibrary(library_, controls_);
}

void Fmi2Slave::receive(fmi2Status status, const char* instanceName, const char* category,
                        const std::string& text) {
    messages_.receive(status == fmi2OK,
                      std::string(instanceName == nullptr ? "(no instance name)" : instanceName) +
                          " [" + statusName(status) + ", " +
                          (category == nullptr ? "no category" : category) + "] " +
                          withVariableNames(text, model_));
}

void Fmi2Slave::settle(fmi2Status status, const std::string& call, const std::string& results) {
    messages_.settle(status != fmi2OK && status != fmi2Warning, statusName(status), call, results);
}

void Fmi2Slave::instantiate(const std::string& fmuLocation) {
    callbacks_ = fmi2CallbackFunctions{logCallback2, allocateMemory, freeMemory, nullptr, this};
    const fmi2Boolean loggingOn = options_.showAllMessages ? fmi2True : fmi2False;
    const char* name = model_.modelIdentifier.c_str();
    messages_.clear();
    {
        const InSlaveControls inSlave(controls_);
        component_ =
            functions_->instantiate(name, fmi2CoSimulation, model_.guid.c_str(),
                                    fmuLocation.c_str(), &callbacks_, fmi2False, loggingOn);
    }
    if (options_.logCalls) {
        console::line("fmi: fmi2Instantiate(instanceName=" + quoted(name) +
                      ", fmuType=fmi2CoSimulation, fmuGUID=" + quoted(model_.guid.c_str()) +
                      ", fmuResourceLocation=" + quoted(fmuLocation.c_str()) +
                      ", functions={logger, allocateMemory, freeMemory, stepFinished=NULL, "
                      "componentEnvironment}, visible=fmi2False, loggingOn=" +
                      boolean(loggingOn) + ") -> " + (component_ == nullptr ? "NULL" : "instance"));
    }
    if (component_ == nullptr) {
        messages_.show();
        throw Failure(kExitModel,
                      "the library refused to instantiate the slave of the model "
                      "description (GUID " +
                          model_.guid + ")");
    }
    messages_.clear();
    if (options_.showAllMessages) {
        // Every category: the slave's debug messages are what was asked for.
        fmi2Status status;
        {
            const InSlaveControls inSlave(controls_);
            status = functions_->setDebugLogging(component_, fmi2True, 0, nullptr);
        }
        settle(status,
               "fmi2SetDebugLogging(c, loggingOn=fmi2True, nCategories=0, categories=NULL)");
    }
}

void Fmi2Slave::checkAgainstDescription() {
    checkStartValues(*this, model_);
}

void Fmi2Slave::setReal(const fmiValueReference* references, std::size_t count,
                        const fmiReal* values) {
    const InSlaveControls inSlave(controls_);
    setRealHere(references, count, values);
}

void Fmi2Slave::getReal(const fmiValueReference* references, std::size_t count, fmiReal* values) {
    const InSlaveControls inSlave(controls_);
    getRealHere(references, count, values);
}

void Fmi2Slave::doStep(fmiReal communicationPoint, fmiReal stepSize) {
    const InSlaveControls inSlave(controls_);
    doStepHere(communicationPoint, stepSize);
}

void Fmi2Slave::prepareSteps(const fmiValueReference* inputReferences, const fmiReal* inputs,
                             std::size_t inputCount, const fmiValueReference* outputReferences,
                             fmiReal* outputs, std::size_t outputCount) {
    stepArrays_ = {inputReferences, inputs, inputCount, outputReferences, outputs, outputCount};
}

void Fmi2Slave::step(fmiReal communicationPoint, fmiReal stepSize) {
    const InSlaveControls inSlave(controls_);
    const StepArrays& arrays = stepArrays_;
    if (arrays.inputCount > 0) {
        setRealHere(arrays.inputReferences, arrays.inputCount, arrays.inputs);
    }
    doStepHere(communicationPoint, stepSize);
    if (arrays.outputCount > 0) {
        getRealHere(arrays.outputReferences, arrays.outputCount, arrays.outputs);
    }
}

void Fmi2Slave::setRealHere(const fmiValueReference* references, std::size_t count,
                            const fmiReal* values) {
    const fmi2Status status = functions_->setReal(component_, references, count, values);
    if (needsSettling(status)) {
        settleSetReal(status, references, count, values);
    }
}

void Fmi2Slave::settleSetReal(fmi2Status status, const fmiValueReference* references,
                              std::size_t count, const fmiReal* values) {
    settle(status, "fmi2SetReal(c, vr=" + list(references, count) +
                       ", nvr=" + std::to_string(count) + ", value=" + list(values, count) + ")");
}

void Fmi2Slave::getRealHere(const fmiValueReference* references, std::size_t count,
                            fmiReal* values) {
    const fmi2Status status = functions_->getReal(component_, references, count, values);
    if (needsSettling(status)) {
        settleGetReal(status, references, count, values);
    }
}

void Fmi2Slave::settleGetReal(fmi2Status status, const fmiValueReference* references,
                              std::size_t count, const fmiReal* values) {
    const bool answered = status == fmi2OK || status == fmi2Warning;
    settle(status,
           "fmi2GetReal(c, vr=" + list(references, count) + ", nvr=" + std::to_string(count) +
               ", value)",
           answered ? ", value=" + list(values, count) : std::string());
}

void Fmi2Slave::callPlain(fmi2Status (*function)(fmi2Component), const char* name) {
    fmi2Status status;
    {
        const InSlaveControls inSlave(controls_);
        status = function(component_);
    }
    if (needsSettling(status)) {
        settle(status, std::string(name) + "(c)");
    }
}

void Fmi2Slave::enterInitialization(fmiReal startTime, fmiReal stopTime) {
    fmi2Status status;
    {
        const InSlaveControls inSlave(controls_);
        status =
            functions_->setupExperiment(component_, fmi2False, 0.0, startTime, fmi2True, stopTime);
    }
    if (needsSettling(status)) {
        settle(status,
               "fmi2SetupExperiment(c, toleranceDefined=fmi2False, tolerance=0, startTime=" +
                   formatReal(startTime) +
                   ", stopTimeDefined=fmi2True, stopTime=" + formatReal(stopTime) + ")");
    }
    callPlain(functions_->enterInitializationMode, "fmi2EnterInitializationMode");
}

void Fmi2Slave::exitInitialization() {
    callPlain(functions_->exitInitializationMode, "fmi2ExitInitializationMode");
}

void Fmi2Slave::doStepHere(fmiReal communicationPoint, fmiReal stepSize) {
    const fmi2Status status =
        functions_->doStep(component_, communicationPoint, stepSize, fmi2True);
    if (needsSettling(status)) {
        settleDoStep(status, communicationPoint, stepSize);
    }
}

void Fmi2Slave::settleDoStep(fmi2Status status, fmiReal communicationPoint, fmiReal stepSize) {
    settle(status, "fmi2DoStep(c, currentCommunicationPoint=" + formatReal(communicationPoint) +
                       ", communicationStepSize=" + formatReal(stepSize) +
                       ", noSetFMUStatePriorToCurrentPoint=fmi2True)");
}

void Fmi2Slave::terminate() {
    fmi2Status status;
    {
        const InSlaveControls inSlave(controls_);
        status = functions_->terminate(component_);
    }
    settle(status, "fmi2Terminate(c)");
}

void Fmi2Slave::freeInstance() {
    {
        const InSlaveControls inSlave(controls_);
        functions_->freeInstance(component_);
    }
    component_ = nullptr;
    if (options_.logCalls) {
        console::line("fmi: fmi2FreeInstance(c)");
    }
    messages_.clear();
}
