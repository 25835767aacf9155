#include "Slave.h"

#include <cstdarg>
#include <memory>

#include "Console.h"
#include "Numbers.h"

extern "C" {
using GetVersion = const char* (*)();
using GetTypesPlatform = const char* (*)();
using InstantiateSlave = fmiComponent (*)(fmiString, fmiString, fmiString, fmiString, fmiReal,
                                          fmiBoolean, fmiBoolean, fmiCallbackFunctions, fmiBoolean);
using InitializeSlave = fmiStatus (*)(fmiComponent, fmiReal, fmiBoolean, fmiReal);
using TerminateSlave = fmiStatus (*)(fmiComponent);
using FreeSlaveInstance = void (*)(fmiComponent);
}

// A call's status is checked in one comparison (VersionSlave.h).
static_assert(fmiOK == 0 && fmiWarning == 1 && fmiDiscard == 2);

struct Slave::Functions {
    GetVersion getVersion;
    GetTypesPlatform getTypesPlatform;
    InstantiateSlave instantiateSlave;
    InitializeSlave initializeSlave;
    TerminateSlave terminateSlave;
    FreeSlaveInstance freeSlaveInstance;
};

namespace {

// The logger has no argument through which to find its master; a thread of
// this master drives one slave at a time, the one it instantiated last.
thread_local Slave* activeSlave = nullptr;

}  // namespace

const char* Slave::statusName(fmiStatus status) {
    switch (status) {
        case fmiOK:
            return "fmiOK";
        case fmiWarning:
            return "fmiWarning";
        case fmiDiscard:
            return "fmiDiscard";
        case fmiError:
            return "fmiError";
        case fmiFatal:
            return "fmiFatal";
        case fmiPending:
            return "fmiPending";
    }
    return "unknown status";
}

namespace {

extern "C" void logCallback(fmiComponent, fmiString instanceName, fmiStatus status,
                            fmiString category, fmiString message, ...) {
    std::va_list arguments;
    va_start(arguments, message);
    const std::string text = formatted(message, arguments);
    va_end(arguments);
    if (activeSlave != nullptr) {
        deliverMessage([&] { activeSlave->receive(status, instanceName, category, text); });
    }
}

const char* boolean(fmiBoolean value) {
    return value != fmiFalse ? "fmiTrue" : "fmiFalse";
}

}  // namespace

Slave::Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options)
    : VersionSlave(libraryPath, model, options), prefix_(model.modelIdentifier + "_") {
    // Every name carries the identifier: a missing one means another model's.
    const std::string id = "the model description's modelIdentifier \"" + model.modelIdentifier +
                           "\" is not the library's";
    functions_ = std::make_unique<Functions>(Functions{
        resolve<GetVersion>(library_, prefix_ + "fmiGetVersion", libraryPath, id),
        resolve<GetTypesPlatform>(library_, prefix_ + "fmiGetTypesPlatform", libraryPath, id),
        resolve<InstantiateSlave>(library_, prefix_ + "fmiInstantiateSlave", libraryPath, id),
        resolve<InitializeSlave>(library_, prefix_ + "fmiInitializeSlave", libraryPath, id),
        resolve<TerminateSlave>(library_, prefix_ + "fmiTerminateSlave", libraryPath, id),
        resolve<FreeSlaveInstance>(library_, prefix_ + "fmiFreeSlaveInstance", libraryPath, id),
    });
    setReal_ = resolve<Fmi1SetReal>(library_, prefix_ + "fmiSetReal", libraryPath, id);
    getReal_ = resolve<Fmi1GetReal>(library_, prefix_ + "fmiGetReal", libraryPath, id);
    doStep_ = resolve<Fmi1DoStep>(library_, prefix_ + "fmiDoStep", libraryPath, id);
    expectAnswer(inSlave(functions_->getVersion), prefix_ + "fmiGetVersion", "1.0",
                 "implements FMI version", libraryPath, options_.logCalls);
    expectAnswer(inSlave(functions_->getTypesPlatform), prefix_ + "fmiGetTypesPlatform",
                 "standard32", "has types platform", libraryPath, options_.logCalls);
    fmi1_ = this;
}

Slave::Slave(const Slave& loaded, AnotherInstance another)
    : VersionSlave(loaded, another),
      functions_(std::make_unique<Functions>(*loaded.functions_)),
      setReal_(loaded.setReal_),
      getReal_(loaded.getReal_),
      doStep_(loaded.doStep_),
      prefix_(loaded.prefix_) {
    fmi1_ = this;
}

Slave::~Slave() {
    if (activeSlave == this) {
        activeSlave = nullptr;
    }
    // The blocks of every slave of the library, once the last of them goes.
    if (ownsLibrary()) {
        freeLiveBlocks();
    }
}

void Slave::receive(fmiStatus status, const char* instanceName, const char* category,
                    const std::string& text) {
    messages_.receive(status == fmiOK,
                      messageLine(instanceName == nullptr ? "(no instance name)" : instanceName,
                                  statusName(status), category, text.c_str(), model_));
}

void Slave::instantiate(const std::string& fmuLocation) {
    const fmiCallbackFunctions callbacks{logCallback, allocateMemory, freeMemory, nullptr};
    const char* mimeType = "application/x-fmu-sharedlibrary";
    const fmiBoolean loggingOn = options_.showAllMessages ? fmiTrue : fmiFalse;
    messages_.clear();
    activeSlave = this;
    component_ =
        inSlave(functions_->instantiateSlave, model_.modelIdentifier.c_str(), model_.guid.c_str(),
                fmuLocation.c_str(), mimeType, 0.0, fmiFalse, fmiFalse, callbacks, loggingOn);
    const std::string call =
        prefix_ + "fmiInstantiateSlave(instanceName=" + quoted(model_.modelIdentifier.c_str()) +
        ", fmuGUID=" + quoted(model_.guid.c_str()) +
        ", fmuLocation=" + quoted(fmuLocation.c_str()) + ", mimeType=" + quoted(mimeType) +
        ", timeout=0, visible=fmiFalse, interactive=fmiFalse, "
        "functions={logger, allocateMemory, freeMemory, stepFinished=NULL}, "
        "loggingOn=" +
        boolean(loggingOn) + ")";
    if (options_.logCalls) {
        console::fmiCall("fmi: " + call + " -> " + (component_ == nullptr ? "NULL" : "instance"));
    }
    requireInstance("GUID");
}

void Slave::settleSetReal(fmiStatus status, const fmiValueReference* references, std::size_t count,
                          const fmiReal* values) {
    settle(status, prefix_ + "fmiSetReal(c, vr=" + list(references, count) +
                       ", nvr=" + std::to_string(count) + ", value=" + list(values, count) + ")");
}

void Slave::settleGetReal(fmiStatus status, const fmiValueReference* references, std::size_t count,
                          const fmiReal* values) {
    settle(status,
           prefix_ + "fmiGetReal(c, vr=" + list(references, count) +
               ", nvr=" + std::to_string(count) + ", value)",
           answered(status) ? ", value=" + list(values, count) : std::string());
}

// 1.0 has no initialization mode: the slave takes the start values before
// its one call, which comes at the end.
void Slave::enterInitialization(fmiReal startTime, fmiReal stopTime) {
    startTime_ = startTime;
    stopTime_ = stopTime;
}

void Slave::exitInitialization() {
    const fmiStatus status =
        inSlave(functions_->initializeSlave, component_, startTime_, fmiTrue, stopTime_);
    if (needsSettling(status)) {
        settle(status, prefix_ + "fmiInitializeSlave(c, tStart=" + formatReal(startTime_) +
                           ", StopTimeDefined=fmiTrue, tStop=" + formatReal(stopTime_) + ")");
    }
}

void Slave::settleDoStep(fmiStatus status, fmiReal communicationPoint, fmiReal stepSize) {
    settle(status, prefix_ +
                       "fmiDoStep(c, currentCommunicationPoint=" + formatReal(communicationPoint) +
                       ", communicationStepSize=" + formatReal(stepSize) + ", newStep=fmiTrue)");
}

void Slave::terminate() {
    callInstance(functions_->terminateSlave, prefix_ + "fmiTerminateSlave(c)", true);
}

void Slave::freeInstance() {
    freeInstanceWith(functions_->freeSlaveInstance, prefix_ + "fmiFreeSlaveInstance(c)");
}
