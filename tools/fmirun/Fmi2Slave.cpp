#include "Fmi2Slave.h"

#include <type_traits>

#include "Console.h"
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
using SetTime2 = fmi2Status (*)(fmi2Component, fmi2Real);
using CompletedIntegratorStep2 = fmi2Status (*)(fmi2Component, fmi2Boolean, fmi2Boolean*,
                                                fmi2Boolean*);
}

namespace {

// fmi2EventInfo of the standard, field for field.
struct EventInfo2 {
    fmi2Boolean newDiscreteStatesNeeded = fmi2False;
    fmi2Boolean terminateSimulation = fmi2False;
    fmi2Boolean nominalsOfContinuousStatesChanged = fmi2False;
    fmi2Boolean valuesOfContinuousStatesChanged = fmi2False;
    fmi2Boolean nextEventTimeDefined = fmi2False;
    fmi2Real nextEventTime = 0.0;
};

}  // namespace

extern "C" {
using GetFmuState2 = fmi2Status (*)(fmi2Component, fmi2FMUstate*);
using SetFmuState2 = fmi2Status (*)(fmi2Component, fmi2FMUstate);
using FreeFmuState2 = fmi2Status (*)(fmi2Component, fmi2FMUstate*);
using SerializedSize2 = fmi2Status (*)(fmi2Component, fmi2FMUstate, std::size_t*);
using Serialize2 = fmi2Status (*)(fmi2Component, fmi2FMUstate, fmi2Byte[], std::size_t);
using Deserialize2 = fmi2Status (*)(fmi2Component, const fmi2Byte[], std::size_t, fmi2FMUstate*);
using NewDiscreteStates2 = fmi2Status (*)(fmi2Component, EventInfo2*);
}

// A call's status is checked in one comparison (VersionSlave.h).
static_assert(fmi2OK == 0 && fmi2Warning == 1 && fmi2Discard == 2);

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
    // Model Exchange only: null for a co-simulation slave.
    ComponentCall2 enterEventMode;
    NewDiscreteStates2 newDiscreteStates;
    ComponentCall2 enterContinuousTimeMode;
    CompletedIntegratorStep2 completedIntegratorStep;
    SetTime2 setTime;
};

const char* Fmi2Slave::statusName(fmi2Status status) {
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

namespace {

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
    if (environment != nullptr) {
        deliverMessage([&] {
            static_cast<Fmi2Slave*>(environment)->receive(status, instanceName, category, text);
        });
    }
}

}  // namespace

Fmi2Slave::Fmi2Slave(const std::string& libraryPath, const ModelDescription& model,
                     SlaveOptions options)
    : VersionSlave(libraryPath, model, options) {
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
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    });
    if (options.modelExchange) {
        const std::string lacks = "it offers no Model Exchange";
        Functions& f = *functions_;
        f.enterEventMode =
            resolve<ComponentCall2>(library_, "fmi2EnterEventMode", libraryPath, lacks);
        f.newDiscreteStates =
            resolve<NewDiscreteStates2>(library_, "fmi2NewDiscreteStates", libraryPath, lacks);
        f.enterContinuousTimeMode =
            resolve<ComponentCall2>(library_, "fmi2EnterContinuousTimeMode", libraryPath, lacks);
        f.completedIntegratorStep = resolve<CompletedIntegratorStep2>(
            library_, "fmi2CompletedIntegratorStep", libraryPath, lacks);
        f.setTime = resolve<SetTime2>(library_, "fmi2SetTime", libraryPath, lacks);
    }
    expectAnswer(inSlave(functions_->getVersion), "fmi2GetVersion", "2.0", "implements FMI version",
                 libraryPath, options_.logCalls);
    expectAnswer(inSlave(functions_->getTypesPlatform), "fmi2GetTypesPlatform", "default",
                 "has types platform", libraryPath, options_.logCalls);
}

Fmi2Slave::Fmi2Slave(const Fmi2Slave& loaded, AnotherInstance another)
    : VersionSlave(loaded, another), functions_(std::make_unique<Functions>(*loaded.functions_)) {}

Fmi2Slave::~Fmi2Slave() {
    // The blocks of every slave of the library, once the last of them goes.
    if (ownsLibrary()) {
        freeLiveBlocks();
    }
}

void Fmi2Slave::receive(fmi2Status status, const char* instanceName, const char* category,
                        const std::string& text) {
    messages_.receive(status == fmi2OK,
                      messageLine(instanceName == nullptr ? "(no instance name)" : instanceName,
                                  statusName(status), category, text.c_str(), model_));
}

void Fmi2Slave::instantiate(const std::string& fmuLocation) {
    callbacks_ = fmi2CallbackFunctions{logCallback2, allocateMemory, freeMemory, nullptr, this};
    const fmi2Boolean loggingOn = options_.showAllMessages ? fmi2True : fmi2False;
    const char* name = model_.modelIdentifier.c_str();
    messages_.clear();
    const fmi2Type type = modelExchange_ ? fmi2ModelExchange : fmi2CoSimulation;
    component_ = inSlave(functions_->instantiate, name, type, model_.guid.c_str(),
                         fmuLocation.c_str(), &callbacks_, fmi2False, loggingOn);
    if (options_.logCalls) {
        console::fmiCall(
            "fmi: fmi2Instantiate(instanceName=" + quoted(name) +
            ", fmuType=" + (modelExchange_ ? "fmi2ModelExchange" : "fmi2CoSimulation") +
            ", fmuGUID=" + quoted(model_.guid.c_str()) +
            ", fmuResourceLocation=" + quoted(fmuLocation.c_str()) +
            ", functions={logger, allocateMemory, freeMemory, stepFinished=NULL, "
            "componentEnvironment}, visible=fmi2False, loggingOn=" +
            boolean(loggingOn) + ") -> " + (component_ == nullptr ? "NULL" : "instance"));
    }
    requireInstance("GUID");
    if (options_.showAllMessages) {
        // Every category: the slave's debug messages are what was asked for.
        const fmi2Status status =
            inSlave(functions_->setDebugLogging, component_, fmi2True, std::size_t{0}, nullptr);
        settle(status,
               "fmi2SetDebugLogging(c, loggingOn=fmi2True, nCategories=0, categories=NULL)");
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
    settle(status,
           "fmi2GetReal(c, vr=" + list(references, count) + ", nvr=" + std::to_string(count) +
               ", value)",
           answered(status) ? ", value=" + list(values, count) : std::string());
}

void Fmi2Slave::enterInitialization(fmiReal startTime, fmiReal stopTime) {
    const fmi2Status status = inSlave(functions_->setupExperiment, component_, fmi2False, 0.0,
                                      startTime, fmi2True, stopTime);
    if (needsSettling(status)) {
        settle(status,
               "fmi2SetupExperiment(c, toleranceDefined=fmi2False, tolerance=0, startTime=" +
                   formatReal(startTime) +
                   ", stopTimeDefined=fmi2True, stopTime=" + formatReal(stopTime) + ")");
    }
    callInstance(functions_->enterInitializationMode, "fmi2EnterInitializationMode(c)");
}

void Fmi2Slave::exitInitialization() {
    callInstance(functions_->exitInitializationMode, "fmi2ExitInitializationMode(c)");
    if (modelExchange_) {
        // Model Exchange leaves initialization in event mode.
        iterateEvents();
    }
}

void Fmi2Slave::iterateEvents() {
    EventInfo2 info;
    int iterations = 0;
    do {
        info = EventInfo2{};
        const fmi2Status status = inSlave(functions_->newDiscreteStates, component_, &info);
        if (needsSettling(status) || info.terminateSimulation != fmi2False) {
            const std::string call = "fmi2NewDiscreteStates(c, eventInfo)";
            settle(status, call,
                   std::string(", newDiscreteStatesNeeded=") +
                       boolean(info.newDiscreteStatesNeeded) +
                       ", terminateSimulation=" + boolean(info.terminateSimulation) +
                       ", nextEventTimeDefined=" + boolean(info.nextEventTimeDefined) +
                       ", nextEventTime=" + formatReal(info.nextEventTime));
            if (info.terminateSimulation != fmi2False) {
                messages_.show();
                throw Failure(kExitSlaveFailed, call + " asked to terminate the simulation");
            }
        }
        if (++iterations > kMostEventIterations) {
            throw Failure(kExitSlaveFailed,
                          "fmi2NewDiscreteStates still needs another iteration after " +
                              std::to_string(kMostEventIterations));
        }
    } while (info.newDiscreteStatesNeeded != fmi2False);
    nextEventTimeDefined_ = info.nextEventTimeDefined != fmi2False;
    nextEventTime_ = info.nextEventTime;
    callInstance(functions_->enterContinuousTimeMode, "fmi2EnterContinuousTimeMode(c)");
}

std::string Fmi2Slave::saveStateHere() {
    const std::string why = "it cannot save its FMU state";
    const auto get = resolve<GetFmuState2>(library_, "fmi2GetFMUstate", "the library", why);
    const auto size =
        resolve<SerializedSize2>(library_, "fmi2SerializedFMUstateSize", "the library", why);
    const auto serialize =
        resolve<Serialize2>(library_, "fmi2SerializeFMUstate", "the library", why);
    const auto release = resolve<FreeFmuState2>(library_, "fmi2FreeFMUstate", "the library", why);
    fmi2FMUstate state = nullptr;
    settle(inSlave(get, component_, &state), "fmi2GetFMUstate(c, FMUstate)");
    std::size_t bytes = 0;
    settle(inSlave(size, component_, state, &bytes),
           "fmi2SerializedFMUstateSize(c, FMUstate, size)");
    std::string serialized(bytes, '\0');
    settle(
        inSlave(serialize, component_, state, serialized.data(), bytes),
        "fmi2SerializeFMUstate(c, FMUstate, serializedState, size=" + std::to_string(bytes) + ")");
    settle(inSlave(release, component_, &state), "fmi2FreeFMUstate(c, FMUstate)");
    return serialized;
}

void Fmi2Slave::restoreStateHere(const std::string& bytes) {
    const std::string why = "it cannot restore an FMU state";
    const auto deserialize =
        resolve<Deserialize2>(library_, "fmi2DeSerializeFMUstate", "the library", why);
    const auto set = resolve<SetFmuState2>(library_, "fmi2SetFMUstate", "the library", why);
    const auto release = resolve<FreeFmuState2>(library_, "fmi2FreeFMUstate", "the library", why);
    fmi2FMUstate state = nullptr;
    settle(inSlave(deserialize, component_, bytes.data(), bytes.size(), &state),
           "fmi2DeSerializeFMUstate(c, serializedState, size=" + std::to_string(bytes.size()) +
               ", FMUstate)");
    const fmi2Status status = inSlave(set, component_, state);
    inSlave(release, component_, &state);
    settle(status, "fmi2SetFMUstate(c, FMUstate)");
}

void Fmi2Slave::setTimeHere(fmiReal time) {
    const fmi2Status status = functions_->setTime(component_, time);
    if (needsSettling(status)) {
        settle(status, "fmi2SetTime(c, time=" + formatReal(time) + ")");
    }
}

bool Fmi2Slave::completeIntegratorStepHere(fmiReal time) {
    fmi2Boolean enterEventMode = fmi2False;
    fmi2Boolean terminateSimulation = fmi2False;
    const fmi2Status status = functions_->completedIntegratorStep(
        component_, fmi2True, &enterEventMode, &terminateSimulation);
    const bool timeEvent = nextEventTimeDefined_ && time >= nextEventTime_;
    if (needsSettling(status) || terminateSimulation != fmi2False) {
        const std::string call =
            "fmi2CompletedIntegratorStep(c, noSetFMUStatePriorToCurrentPoint=fmi2True, "
            "enterEventMode, terminateSimulation)";
        settle(status, call,
               std::string(", enterEventMode=") + boolean(enterEventMode) +
                   ", terminateSimulation=" + boolean(terminateSimulation));
        if (terminateSimulation != fmi2False) {
            messages_.show();
            throw Failure(kExitSlaveFailed,
                          call + " asked to terminate the simulation at t = " + formatReal(time));
        }
    }
    if (enterEventMode == fmi2False && !timeEvent) {
        return false;
    }
    callInstance(functions_->enterEventMode, "fmi2EnterEventMode(c)");
    iterateEvents();
    return true;
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
    callInstance(functions_->terminate, "fmi2Terminate(c)", true);
}

void Fmi2Slave::freeInstance() {
    freeInstanceWith(functions_->freeInstance, "fmi2FreeInstance(c)");
}
