#include "Fmi3Slave.h"

#include <type_traits>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"

// The interface passes the 1.0 types; those of 3.0 are the same.
static_assert(std::is_same_v<fmiReal, fmi3Float64>);
static_assert(std::is_same_v<fmiValueReference, fmi3ValueReference>);

extern "C" {
using GetVersion3 = const char* (*)();
using InstantiateCoSimulation3 = fmi3Instance (*)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                                  fmi3Boolean, fmi3Boolean, fmi3Boolean,
                                                  const fmi3ValueReference[], std::size_t,
                                                  fmi3InstanceEnvironment, fmi3LogMessageCallback,
                                                  fmi3IntermediateUpdateCallback);
using SetDebugLogging3 = fmi3Status (*)(fmi3Instance, fmi3Boolean, std::size_t, const fmi3String[]);
using EnterInitializationMode3 = fmi3Status (*)(fmi3Instance, fmi3Boolean, fmi3Float64, fmi3Float64,
                                                fmi3Boolean, fmi3Float64);
using InstanceCall3 = fmi3Status (*)(fmi3Instance);
using FreeInstance3 = void (*)(fmi3Instance);
using SetFloat64 = fmi3Status (*)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  const fmi3Float64[], std::size_t);
using GetFloat64 = fmi3Status (*)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  fmi3Float64[], std::size_t);
using DoStep3 = fmi3Status (*)(fmi3Instance, fmi3Float64, fmi3Float64, fmi3Boolean, fmi3Boolean*,
                               fmi3Boolean*, fmi3Boolean*, fmi3Float64*);
using InstantiateModelExchange3 = fmi3Instance (*)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                                   fmi3Boolean, fmi3InstanceEnvironment,
                                                   fmi3LogMessageCallback);
using UpdateDiscreteStates3 = fmi3Status (*)(fmi3Instance, fmi3Boolean*, fmi3Boolean*, fmi3Boolean*,
                                             fmi3Boolean*, fmi3Boolean*, fmi3Float64*);
using SetTime3 = fmi3Status (*)(fmi3Instance, fmi3Float64);
using GetFmuState3 = fmi3Status (*)(fmi3Instance, fmi3FMUState*);
using SetFmuState3 = fmi3Status (*)(fmi3Instance, fmi3FMUState);
using FreeFmuState3 = fmi3Status (*)(fmi3Instance, fmi3FMUState*);
using SerializedSize3 = fmi3Status (*)(fmi3Instance, fmi3FMUState, std::size_t*);
using Serialize3 = fmi3Status (*)(fmi3Instance, fmi3FMUState, fmi3Byte[], std::size_t);
using Deserialize3 = fmi3Status (*)(fmi3Instance, const fmi3Byte[], std::size_t, fmi3FMUState*);
using CompletedIntegratorStep3 = fmi3Status (*)(fmi3Instance, fmi3Boolean, fmi3Boolean*,
                                                fmi3Boolean*);
}

// A call's status is checked in one comparison (VersionSlave.h).
static_assert(fmi3OK == 0 && fmi3Warning == 1 && fmi3Discard == 2);

struct Fmi3Slave::Functions {
    GetVersion3 getVersion;
    InstantiateCoSimulation3 instantiate;
    SetDebugLogging3 setDebugLogging;
    EnterInitializationMode3 enterInitializationMode;
    InstanceCall3 exitInitializationMode;
    InstanceCall3 terminate;
    FreeInstance3 freeInstance;
    SetFloat64 setFloat64;
    GetFloat64 getFloat64;
    DoStep3 doStep;
    // Model Exchange only: null for a co-simulation slave.
    InstantiateModelExchange3 instantiateModelExchange;
    InstanceCall3 enterEventMode;
    UpdateDiscreteStates3 updateDiscreteStates;
    InstanceCall3 enterContinuousTimeMode;
    CompletedIntegratorStep3 completedIntegratorStep;
    SetTime3 setTime;
};

const char* Fmi3Slave::statusName(fmi3Status status) {
    switch (status) {
        case fmi3OK:
            return "fmi3OK";
        case fmi3Warning:
            return "fmi3Warning";
        case fmi3Discard:
            return "fmi3Discard";
        case fmi3Error:
            return "fmi3Error";
        case fmi3Fatal:
            return "fmi3Fatal";
    }
    return "unknown status";
}

namespace {

const char* boolean(fmi3Boolean value) {
    return value ? "fmi3True" : "fmi3False";
}

// The instance environment is the wrapper that receives the messages.
extern "C" void logMessage3(fmi3InstanceEnvironment environment, fmi3Status status,
                            fmi3String category, fmi3String message) {
    if (environment != nullptr) {
        deliverMessage(
            [&] { static_cast<Fmi3Slave*>(environment)->receive(status, category, message); });
    }
}

}  // namespace

Fmi3Slave::Fmi3Slave(const std::string& libraryPath, const ModelDescription& model,
                     SlaveOptions options)
    : VersionSlave(libraryPath, model, options) {
    const std::string why = "it is not an FMI 3.0 library";
    functions_ = std::make_unique<Functions>(Functions{
        resolve<GetVersion3>(library_, "fmi3GetVersion", libraryPath, why),
        resolve<InstantiateCoSimulation3>(library_, "fmi3InstantiateCoSimulation", libraryPath,
                                          why),
        resolve<SetDebugLogging3>(library_, "fmi3SetDebugLogging", libraryPath, why),
        resolve<EnterInitializationMode3>(library_, "fmi3EnterInitializationMode", libraryPath,
                                          why),
        resolve<InstanceCall3>(library_, "fmi3ExitInitializationMode", libraryPath, why),
        resolve<InstanceCall3>(library_, "fmi3Terminate", libraryPath, why),
        resolve<FreeInstance3>(library_, "fmi3FreeInstance", libraryPath, why),
        resolve<SetFloat64>(library_, "fmi3SetFloat64", libraryPath, why),
        resolve<GetFloat64>(library_, "fmi3GetFloat64", libraryPath, why),
        resolve<DoStep3>(library_, "fmi3DoStep", libraryPath, why),
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    });
    if (options.modelExchange) {
        const std::string lacks = "it offers no Model Exchange";
        Functions& f = *functions_;
        f.instantiateModelExchange = resolve<InstantiateModelExchange3>(
            library_, "fmi3InstantiateModelExchange", libraryPath, lacks);
        f.enterEventMode =
            resolve<InstanceCall3>(library_, "fmi3EnterEventMode", libraryPath, lacks);
        f.updateDiscreteStates = resolve<UpdateDiscreteStates3>(
            library_, "fmi3UpdateDiscreteStates", libraryPath, lacks);
        f.enterContinuousTimeMode =
            resolve<InstanceCall3>(library_, "fmi3EnterContinuousTimeMode", libraryPath, lacks);
        f.completedIntegratorStep = resolve<CompletedIntegratorStep3>(
            library_, "fmi3CompletedIntegratorStep", libraryPath, lacks);
        f.setTime = resolve<SetTime3>(library_, "fmi3SetTime", libraryPath, lacks);
    }
    expectAnswer(inSlave(functions_->getVersion), "fmi3GetVersion", "3.0", "implements FMI version",
                 libraryPath, options_.logCalls);
}

Fmi3Slave::Fmi3Slave(const Fmi3Slave& loaded, AnotherInstance another)
    : VersionSlave(loaded, another), functions_(std::make_unique<Functions>(*loaded.functions_)) {}

// A 3.0 instance's memory is the FMU's own: a run that ends early, refused
// or failed, still hands the instance back before the library goes.
Fmi3Slave::~Fmi3Slave() {
    if (component_ != nullptr) {
        freeInstance();
    }
}

// 3.0 messages carry no instance name: they are this master's one instance,
// named by the model identifier.
void Fmi3Slave::receive(fmi3Status status, const char* category, const char* text) {
    messages_.receive(status == fmi3OK, messageLine(model_.modelIdentifier, statusName(status),
                                                    category, text, model_));
}

void Fmi3Slave::instantiate(const std::string& fmuLocation) {
    const fmi3Boolean loggingOn = options_.showAllMessages;
    const char* name = model_.modelIdentifier.c_str();
    messages_.clear();
    if (modelExchange_) {
        component_ = inSlave(functions_->instantiateModelExchange, name, model_.guid.c_str(),
                             fmuLocation.c_str(), fmi3False, loggingOn,
                             static_cast<fmi3InstanceEnvironment>(this), logMessage3);
    } else {
        component_ =
            inSlave(functions_->instantiate, name, model_.guid.c_str(), fmuLocation.c_str(),
                    fmi3False, loggingOn, fmi3False, fmi3False, nullptr, std::size_t{0},
                    static_cast<fmi3InstanceEnvironment>(this), logMessage3, nullptr);
    }
    if (options_.logCalls && modelExchange_) {
        console::fmiCall("fmi: fmi3InstantiateModelExchange(instanceName=" + quoted(name) +
                         ", instantiationToken=" + quoted(model_.guid.c_str()) +
                         ", resourcePath=" + quoted(fmuLocation.c_str()) +
                         ", visible=fmi3False, loggingOn=" + boolean(loggingOn) +
                         ", instanceEnvironment, logMessage) -> " +
                         (component_ == nullptr ? "NULL" : "instance"));
    } else if (options_.logCalls) {
        console::fmiCall("fmi: fmi3InstantiateCoSimulation(instanceName=" + quoted(name) +
                         ", instantiationToken=" + quoted(model_.guid.c_str()) +
                         ", resourcePath=" + quoted(fmuLocation.c_str()) +
                         ", visible=fmi3False, loggingOn=" + boolean(loggingOn) +
                         ", eventModeUsed=fmi3False, earlyReturnAllowed=fmi3False, "
                         "requiredIntermediateVariables=NULL, nRequiredIntermediateVariables=0, "
                         "instanceEnvironment, logMessage, intermediateUpdate=NULL) -> " +
                         (component_ == nullptr ? "NULL" : "instance"));
    }
    requireInstance("instantiation token");
    if (options_.showAllMessages) {
        // Every category: the slave's debug messages are what was asked for.
        const fmi3Status status =
            inSlave(functions_->setDebugLogging, component_, fmi3True, std::size_t{0}, nullptr);
        settle(status,
               "fmi3SetDebugLogging(instance, loggingOn=fmi3True, nCategories=0, "
               "categories=NULL)");
    }
}

void Fmi3Slave::setRealHere(const fmiValueReference* references, std::size_t count,
                            const fmiReal* values) {
    const fmi3Status status = functions_->setFloat64(component_, references, count, values, count);
    if (needsSettling(status)) {
        settleSetReal(status, references, count, values);
    }
}

void Fmi3Slave::settleSetReal(fmi3Status status, const fmiValueReference* references,
                              std::size_t count, const fmiReal* values) {
    const std::string n = std::to_string(count);
    settle(status, "fmi3SetFloat64(instance, valueReferences=" + list(references, count) +
                       ", nValueReferences=" + n + ", values=" + list(values, count) +
                       ", nValues=" + n + ")");
}

void Fmi3Slave::getRealHere(const fmiValueReference* references, std::size_t count,
                            fmiReal* values) {
    const fmi3Status status = functions_->getFloat64(component_, references, count, values, count);
    if (needsSettling(status)) {
        settleGetReal(status, references, count, values);
    }
}

void Fmi3Slave::settleGetReal(fmi3Status status, const fmiValueReference* references,
                              std::size_t count, const fmiReal* values) {
    const std::string n = std::to_string(count);
    settle(status,
           "fmi3GetFloat64(instance, valueReferences=" + list(references, count) +
               ", nValueReferences=" + n + ", values, nValues=" + n + ")",
           answered(status) ? ", values=" + list(values, count) : std::string());
}

void Fmi3Slave::enterInitialization(fmiReal startTime, fmiReal stopTime) {
    const fmi3Status status = inSlave(functions_->enterInitializationMode, component_, fmi3False,
                                      0.0, startTime, fmi3True, stopTime);
    if (needsSettling(status)) {
        settle(status,
               "fmi3EnterInitializationMode(instance, toleranceDefined=fmi3False, tolerance=0, "
               "startTime=" +
                   formatReal(startTime) +
                   ", stopTimeDefined=fmi3True, stopTime=" + formatReal(stopTime) + ")");
    }
}

void Fmi3Slave::exitInitialization() {
    callInstance(functions_->exitInitializationMode, "fmi3ExitInitializationMode(instance)");
    if (modelExchange_) {
        // Model Exchange leaves initialization in event mode.
        iterateEvents();
    }
}

void Fmi3Slave::iterateEvents() {
    fmi3Boolean needed = fmi3False;
    fmi3Boolean terminateSimulation = fmi3False;
    fmi3Boolean nominalsChanged = fmi3False;
    fmi3Boolean valuesChanged = fmi3False;
    fmi3Boolean nextEventTimeDefined = fmi3False;
    fmi3Float64 nextEventTime = 0.0;
    int iterations = 0;
    do {
        const fmi3Status status =
            inSlave(functions_->updateDiscreteStates, component_, &needed, &terminateSimulation,
                    &nominalsChanged, &valuesChanged, &nextEventTimeDefined, &nextEventTime);
        if (needsSettling(status) || terminateSimulation) {
            const std::string call = "fmi3UpdateDiscreteStates(instance, ...)";
            settle(status, call,
                   std::string(", discreteStatesNeedUpdate=") + boolean(needed) +
                       ", terminateSimulation=" + boolean(terminateSimulation) +
                       ", nextEventTimeDefined=" + boolean(nextEventTimeDefined) +
                       ", nextEventTime=" + formatReal(nextEventTime));
            if (terminateSimulation) {
                messages_.show();
                throw Failure(kExitSlaveFailed, call + " asked to terminate the simulation");
            }
        }
        if (++iterations > kMostEventIterations) {
            throw Failure(kExitSlaveFailed,
                          "fmi3UpdateDiscreteStates still needs another iteration after " +
                              std::to_string(kMostEventIterations));
        }
    } while (needed);
    nextEventTimeDefined_ = nextEventTimeDefined;
    nextEventTime_ = nextEventTime;
    callInstance(functions_->enterContinuousTimeMode, "fmi3EnterContinuousTimeMode(instance)");
}

std::string Fmi3Slave::saveStateHere() {
    const std::string why = "it cannot save its FMU state";
    const auto get = resolve<GetFmuState3>(library_, "fmi3GetFMUState", "the library", why);
    const auto size =
        resolve<SerializedSize3>(library_, "fmi3SerializedFMUStateSize", "the library", why);
    const auto serialize =
        resolve<Serialize3>(library_, "fmi3SerializeFMUState", "the library", why);
    const auto release = resolve<FreeFmuState3>(library_, "fmi3FreeFMUState", "the library", why);
    fmi3FMUState state = nullptr;
    settle(inSlave(get, component_, &state), "fmi3GetFMUState(instance, FMUState)");
    std::size_t bytes = 0;
    settle(inSlave(size, component_, state, &bytes),
           "fmi3SerializedFMUStateSize(instance, FMUState, size)");
    std::string serialized(bytes, '\0');
    settle(inSlave(serialize, component_, state, reinterpret_cast<fmi3Byte*>(serialized.data()),
                   bytes),
           "fmi3SerializeFMUState(instance, FMUState, serializedState, size=" +
               std::to_string(bytes) + ")");
    settle(inSlave(release, component_, &state), "fmi3FreeFMUState(instance, FMUState)");
    return serialized;
}

void Fmi3Slave::restoreStateHere(const std::string& bytes) {
    const std::string why = "it cannot restore an FMU state";
    const auto deserialize =
        resolve<Deserialize3>(library_, "fmi3DeserializeFMUState", "the library", why);
    const auto set = resolve<SetFmuState3>(library_, "fmi3SetFMUState", "the library", why);
    const auto release = resolve<FreeFmuState3>(library_, "fmi3FreeFMUState", "the library", why);
    fmi3FMUState state = nullptr;
    settle(inSlave(deserialize, component_, reinterpret_cast<const fmi3Byte*>(bytes.data()),
                   bytes.size(), &state),
           "fmi3DeserializeFMUState(instance, serializedState, size=" +
               std::to_string(bytes.size()) + ", FMUState)");
    const fmi3Status status = inSlave(set, component_, state);
    inSlave(release, component_, &state);
    settle(status, "fmi3SetFMUState(instance, FMUState)");
}

void Fmi3Slave::setTimeHere(fmiReal time) {
    const fmi3Status status = functions_->setTime(component_, time);
    if (needsSettling(status)) {
        settle(status, "fmi3SetTime(instance, time=" + formatReal(time) + ")");
    }
}

bool Fmi3Slave::completeIntegratorStepHere(fmiReal time) {
    fmi3Boolean enterEventMode = fmi3False;
    fmi3Boolean terminateSimulation = fmi3False;
    const fmi3Status status = functions_->completedIntegratorStep(
        component_, fmi3True, &enterEventMode, &terminateSimulation);
    const bool timeEvent = nextEventTimeDefined_ && time >= nextEventTime_;
    if (needsSettling(status) || terminateSimulation) {
        const std::string call =
            "fmi3CompletedIntegratorStep(instance, noSetFMUStatePriorToCurrentPoint=fmi3True, "
            "enterEventMode, terminateSimulation)";
        settle(status, call,
               std::string(", enterEventMode=") + boolean(enterEventMode) +
                   ", terminateSimulation=" + boolean(terminateSimulation));
        if (terminateSimulation) {
            messages_.show();
            throw Failure(kExitSlaveFailed,
                          call + " asked to terminate the simulation at t = " + formatReal(time));
        }
    }
    if (!enterEventMode && !timeEvent) {
        return false;
    }
    callInstance(functions_->enterEventMode, "fmi3EnterEventMode(instance)");
    iterateEvents();
    return true;
}

void Fmi3Slave::doStepHere(fmiReal communicationPoint, fmiReal stepSize) {
    StepResults& results = stepResults_;
    const fmi3Status status = functions_->doStep(
        component_, communicationPoint, stepSize, fmi3True, &results.eventHandlingNeeded,
        &results.terminateSimulation, &results.earlyReturn, &results.lastSuccessfulTime);
    if (stepNeedsSettling(status)) {
        settleDoStep(status, communicationPoint, stepSize);
    }
}

void Fmi3Slave::settleDoStep(fmi3Status status, fmiReal communicationPoint, fmiReal stepSize) {
    const StepResults& results = stepResults_;
    const bool answered = VersionSlave::answered(status);
    const std::string call =
        "fmi3DoStep(instance, currentCommunicationPoint=" + formatReal(communicationPoint) +
        ", communicationStepSize=" + formatReal(stepSize) +
        ", noSetFMUStatePriorToCurrentPoint=fmi3True, ...)";
    const std::string resultsText =
        answered ? std::string(", eventHandlingNeeded=") + boolean(results.eventHandlingNeeded) +
                       ", terminateSimulation=" + boolean(results.terminateSimulation) +
                       ", earlyReturn=" + boolean(results.earlyReturn) +
                       ", lastSuccessfulTime=" + formatReal(results.lastSuccessfulTime)
                 : std::string();
    const bool endsTheRun = answered && (results.terminateSimulation || results.earlyReturn);
    if (!endsTheRun) {
        settle(status, call, resultsText);
        return;
    }
    if (options_.logCalls) {
        console::fmiCall("fmi: " + call + " -> " + statusName(status) + resultsText);
    }
    messages_.show();
    throw Failure(kExitSlaveFailed,
                  call +
                      (results.terminateSimulation ? " asked to terminate the simulation"
                                                   : " returned early") +
                      " at t = " + formatReal(results.lastSuccessfulTime));
}

void Fmi3Slave::terminate() {
    callInstance(functions_->terminate, "fmi3Terminate(instance)", true);
}

void Fmi3Slave::freeInstance() {
    freeInstanceWith(functions_->freeInstance, "fmi3FreeInstance(instance)");
}
