#include "Slave.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"

extern "C" {
using GetVersion = const char* (*)();
using GetTypesPlatform = const char* (*)();
using InstantiateSlave = fmiComponent (*)(fmiString, fmiString, fmiString, fmiString, fmiReal,
                                          fmiBoolean, fmiBoolean, fmiCallbackFunctions, fmiBoolean);
using InitializeSlave = fmiStatus (*)(fmiComponent, fmiReal, fmiBoolean, fmiReal);
using TerminateSlave = fmiStatus (*)(fmiComponent);
using FreeSlaveInstance = void (*)(fmiComponent);
using SetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t, const fmiReal*);
using GetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t, fmiReal*);
using DoStep = fmiStatus (*)(fmiComponent, fmiReal, fmiReal, fmiBoolean);
}

struct Slave::Functions {
    GetVersion getVersion;
    GetTypesPlatform getTypesPlatform;
    InstantiateSlave instantiateSlave;
    InitializeSlave initializeSlave;
    TerminateSlave terminateSlave;
    FreeSlaveInstance freeSlaveInstance;
    SetReal setReal;
    GetReal getReal;
    DoStep doStep;
};

namespace {

// The logger has no argument through which to find its master; this master
// drives one slave at a time.
Slave* activeSlave = nullptr;

const char* statusName(fmiStatus status) {
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

extern "C" void logCallback(fmiComponent, fmiString instanceName, fmiStatus status,
                            fmiString category, fmiString message, ...) {
    std::string text;
    if (message != nullptr) {
        va_list arguments;
        va_start(arguments, message);
        va_list again;
        va_copy(again, arguments);
        const int length = std::vsnprintf(nullptr, 0, message, arguments);
        va_end(arguments);
        if (length > 0) {
            text.resize(static_cast<std::size_t>(length) + 1);
            std::vsnprintf(text.data(), text.size(), message, again);
            text.pop_back();
        }
        va_end(again);
    }
    // Nothing may unwind through the slave's own frames.
    try {
        if (activeSlave != nullptr) {
            activeSlave->receive(status, instanceName, category, text);
        }
    } catch (...) {
        std::fputs("fmirun: a slave's message was lost\n", stderr);
    }
}

// The blocks the slave holds. The master owns them: those of an instance
// that the slave left in an error state, and so can no longer free, are
// returned when the master is done with the slave.
std::set<void*>& liveBlocks() {
    static std::set<void*> blocks;
    return blocks;
}

extern "C" void* allocateMemory(std::size_t count, std::size_t size) {
    void* block = std::calloc(count, size);
    if (block != nullptr) {
        liveBlocks().insert(block);
    }
    return block;
}

extern "C" void freeMemory(void* block) {
    liveBlocks().erase(block);
    std::free(block);
}

std::string quoted(const char* text) {
    return text == nullptr ? "NULL" : "\"" + std::string(text) + "\"";
}

std::string list(const fmiValueReference* references, std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(references[i]);
    }
    return text + "}";
}

std::string list(const fmiReal* values, std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + formatReal(values[i]);
    }
    return text + "}";
}

const char* boolean(fmiBoolean value) {
    return value != fmiFalse ? "fmiTrue" : "fmiFalse";
}

// A looked-up address as a typed function pointer; copying the bytes avoids
// the object-to-function pointer cast.
template <typename Function>
Function resolve(void* library, const std::string& name, const std::string& libraryPath,
                 const std::string& identifier) {
    void* address = dlsym(library, name.c_str());
    if (address == nullptr) {
        throw Failure(kExitModel, libraryPath + " does not export " + name +
                                      ": the model description's modelIdentifier \"" + identifier +
                                      "\" is not the library's");
    }
    Function function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

}  // namespace

Slave::Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options)
    : model_(model),
      options_(options),
      // A slave starts from the master's controls and keeps what it sets.
      controls_(currentFloatingPointControls()),
      prefix_(model.modelIdentifier + "_") {
    attention_ = options_.logCalls;
    std::error_code error;
    if (!std::filesystem::is_regular_file(libraryPath, error)) {
        throw Failure(kExitModel, "cannot open " + libraryPath + ": no such file");
    }
    // An absolute path, so that the loader never searches its own directories.
    const std::string path = std::filesystem::absolute(libraryPath, error).string();
    {
        const InSlaveControls inSlave(controls_);
        library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (library_ == nullptr) {
        throw Failure(kExitModel, "cannot load " + libraryPath + ": " + dlerror());
    }
    const std::string& id = model.modelIdentifier;
    functions_ = std::make_unique<Functions>(Functions{
        resolve<GetVersion>(library_, prefix_ + "fmiGetVersion", libraryPath, id),
        resolve<GetTypesPlatform>(library_, prefix_ + "fmiGetTypesPlatform", libraryPath, id),
        resolve<InstantiateSlave>(library_, prefix_ + "fmiInstantiateSlave", libraryPath, id),
        resolve<InitializeSlave>(library_, prefix_ + "fmiInitializeSlave", libraryPath, id),
        resolve<TerminateSlave>(library_, prefix_ + "fmiTerminateSlave", libraryPath, id),
        resolve<FreeSlaveInstance>(library_, prefix_ + "fmiFreeSlaveInstance", libraryPath, id),
        resolve<SetReal>(library_, prefix_ + "fmiSetReal", libraryPath, id),
        resolve<GetReal>(library_, prefix_ + "fmiGetReal", libraryPath, id),
        resolve<DoStep>(library_, prefix_ + "fmiDoStep", libraryPath, id),
    });
    const InSlaveControls inSlave(controls_);
    const char* version = functions_->getVersion();
    if (options_.logCalls) {
        console::line("fmi: " + prefix_ + "fmiGetVersion() -> " + quoted(version));
    }
    if (version == nullptr || std::strcmp(version, "1.0") != 0) {
        throw Failure(kExitModel,
                      libraryPath + " implements FMI version " + quoted(version) + ", not \"1.0\"");
    }
    const char* platform = functions_->getTypesPlatform();
    if (options_.logCalls) {
        console::line("fmi: " + prefix_ + "fmiGetTypesPlatform() -> " + quoted(platform));
    }
    if (platform == nullptr || std::strcmp(platform, "standard32") != 0) {
        throw Failure(kExitModel, libraryPath + " has types platform " + quoted(platform) +
                                      ", not \"standard32\"");
    }
    activeSlave = this;
}

Slave::~Slave() {
    activeSlave = nullptr;
    for (void* block : liveBlocks()) {
        std::free(block);
    }
    liveBlocks().clear();
    if (library_ != nullptr) {
        const InSlaveControls inSlave(controls_);
        dlclose(library_);
    }
}

std::string Slave::variableName(char type, fmiValueReference reference) const {
    if (type == 'r') {
        for (const Variable& variable : model_.variables) {
            if (variable.valueReference == reference) {
                return variable.name;
            }
        }
    }
    return {};
}

void Slave::receive(fmiStatus status, const char* instanceName, const char* category,
                    const std::string& text) {
    // A slave names a variable as #<type><value reference>#, and writes a
    // lone "#" as "##"; the master puts in the names.
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '#') {
            if (i + 1 < text.size() && text[i + 1] == '#') {
                shown += '#';
                ++i;
                continue;
            }
            const std::size_t close = text.find('#', i + 1);
            if (close != std::string::npos && close > i + 2 && close - i - 2 <= 9 &&
                text.find_first_not_of("0123456789", i + 2) == close) {
                const std::string name = variableName(
                    text[i + 1],
                    static_cast<fmiValueReference>(std::stoul(text.substr(i + 2, close - i - 2))));
                if (!name.empty()) {
                    shown += name;
                    i = close;
                    continue;
                }
            }
        }
        shown += text[i];
    }
    const std::string line =
        std::string(instanceName == nullptr ? "(no instance name)" : instanceName) + " [" +
        statusName(status) + ", " + (category == nullptr ? "no category" : category) + "] " + shown;
    if (options_.showAllMessages || status != fmiOK) {
        console::line(line);
    } else {
        messages_.push_back(line);
        attention_ = true;
    }
}

void Slave::settle(fmiStatus status, const std::string& call, const std::string& results) {
    if (options_.logCalls) {
        console::line("fmi: " + call + " -> " + statusName(status) + results);
    }
    if (status == fmiOK || status == fmiWarning) {
        messages_.clear();
        attention_ = options_.logCalls;
        return;
    }
    // The messages of a failed call explain it, whatever their own status.
    for (const std::string& message : messages_) {
        console::line(message);
    }
    messages_.clear();
    attention_ = options_.logCalls;
    throw Failure(kExitSlaveFailed, call + " returned " + statusName(status));
}

void Slave::instantiate(const std::string& fmuLocation) {
    const fmiCallbackFunctions callbacks{logCallback, allocateMemory, freeMemory, nullptr};
    const char* mimeType = "application/x-fmu-sharedlibrary";
    const fmiBoolean loggingOn = options_.showAllMessages ? fmiTrue : fmiFalse;
    messages_.clear();
    {
        const InSlaveControls inSlave(controls_);
        component_ = functions_->instantiateSlave(
            model_.modelIdentifier.c_str(), model_.guid.c_str(), fmuLocation.c_str(), mimeType, 0.0,
            fmiFalse, fmiFalse, callbacks, loggingOn);
    }
    const std::string call =
        prefix_ + "fmiInstantiateSlave(instanceName=" + quoted(model_.modelIdentifier.c_str()) +
        ", fmuGUID=" + quoted(model_.guid.c_str()) +
        ", fmuLocation=" + quoted(fmuLocation.c_str()) + ", mimeType=" + quoted(mimeType) +
        ", timeout=0, visible=fmiFalse, interactive=fmiFalse, "
        "functions={logger, allocateMemory, freeMemory, stepFinished=NULL}, "
        "loggingOn=" +
        boolean(loggingOn) + ")";
    if (options_.logCalls) {
        console::line("fmi: " + call + " -> " + (component_ == nullptr ? "NULL" : "instance"));
    }
    if (component_ == nullptr) {
        for (const std::string& message : messages_) {
            console::line(message);
        }
        messages_.clear();
        throw Failure(kExitModel,
                      "the library refused to instantiate the slave of the model "
                      "description (GUID " +
                          model_.guid + ")");
    }
    messages_.clear();
}

void Slave::setReal(const fmiValueReference* references, std::size_t count, const fmiReal* values) {
    const InSlaveControls inSlave(controls_);
    setRealHere(references, count, values);
}

void Slave::getReal(const fmiValueReference* references, std::size_t count, fmiReal* values) {
    const InSlaveControls inSlave(controls_);
    getRealHere(references, count, values);
}

void Slave::doStep(fmiReal communicationPoint, fmiReal stepSize) {
    const InSlaveControls inSlave(controls_);
    doStepHere(communicationPoint, stepSize);
}

void Slave::prepareSteps(const fmiValueReference* inputReferences, const fmiReal* inputs,
                         std::size_t inputCount, const fmiValueReference* outputReferences,
                         fmiReal* outputs, std::size_t outputCount) {
    stepArrays_ = {inputReferences, inputs, inputCount, outputReferences, outputs, outputCount};
}

void Slave::step(fmiReal communicationPoint, fmiReal stepSize) {
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

void Slave::setRealHere(const fmiValueReference* references, std::size_t count,
                        const fmiReal* values) {
    const fmiStatus status = functions_->setReal(component_, references, count, values);
    if (needsSettling(status)) {
        settleSetReal(status, references, count, values);
    }
}

void Slave::settleSetReal(fmiStatus status, const fmiValueReference* references, std::size_t count,
                          const fmiReal* values) {
    settle(status, prefix_ + "fmiSetReal(c, vr=" + list(references, count) +
                       ", nvr=" + std::to_string(count) + ", value=" + list(values, count) + ")");
}

void Slave::getRealHere(const fmiValueReference* references, std::size_t count, fmiReal* values) {
    const fmiStatus status = functions_->getReal(component_, references, count, values);
    if (needsSettling(status)) {
        settleGetReal(status, references, count, values);
    }
}

void Slave::settleGetReal(fmiStatus status, const fmiValueReference* references, std::size_t count,
                          const fmiReal* values) {
    const bool answered = status == fmiOK || status == fmiWarning;
    settle(status,
           prefix_ + "fmiGetReal(c, vr=" + list(references, count) +
               ", nvr=" + std::to_string(count) + ", value)",
           answered ? ", value=" + list(values, count) : std::string());
}

void Slave::initialize(fmiReal startTime, fmiReal stopTime) {
    fmiStatus status;
    {
        const InSlaveControls inSlave(controls_);
        status = functions_->initializeSlave(component_, startTime, fmiTrue, stopTime);
    }
    if (needsSettling(status)) {
        settle(status, prefix_ + "fmiInitializeSlave(c, tStart=" + formatReal(startTime) +
                           ", StopTimeDefined=fmiTrue, tStop=" + formatReal(stopTime) + ")");
    }
}

void Slave::doStepHere(fmiReal communicationPoint, fmiReal stepSize) {
    const fmiStatus status = functions_->doStep(component_, communicationPoint, stepSize, fmiTrue);
    if (needsSettling(status)) {
        settleDoStep(status, communicationPoint, stepSize);
    }
}

void Slave::settleDoStep(fmiStatus status, fmiReal communicationPoint, fmiReal stepSize) {
    settle(status, prefix_ +
                       "fmiDoStep(c, currentCommunicationPoint=" + formatReal(communicationPoint) +
                       ", communicationStepSize=" + formatReal(stepSize) + ", newStep=fmiTrue)");
}

void Slave::terminate() {
    fmiStatus status;
    {
        const InSlaveControls inSlave(controls_);
        status = functions_->terminateSlave(component_);
    }
    settle(status, prefix_ + "fmiTerminateSlave(c)");
}

void Slave::freeInstance() {
    {
        const InSlaveControls inSlave(controls_);
        functions_->freeSlaveInstance(component_);
    }
    component_ = nullptr;
    if (options_.logCalls) {
        console::line("fmi: " + prefix_ + "fmiFreeSlaveInstance(c)");
    }
    messages_.clear();
}

void Slave::checkAgainstDescription() {
    std::vector<fmiValueReference> references;
    for (const Variable& variable : model_.variables) {
        references.push_back(variable.valueReference);
    }
    std::vector<fmiReal> values(references.size(), 0.0);
    try {
        getReal(references.data(), references.size(), values.data());
    } catch (const Failure&) {
        throw Failure(kExitModel,
                      "the library refuses value references that the model "
                      "description declares: they do not belong together");
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Variable& variable = model_.variables[i];
        if (!variable.start || variable.causality == Causality::Output) {
            continue;
        }
        std::uint64_t expected = 0;
        std::uint64_t actual = 0;
        std::memcpy(&expected, &*variable.start, sizeof expected);
        std::memcpy(&actual, &values[i], sizeof actual);
        if (expected != actual) {
            throw Failure(kExitModel, "the start value of " + variable.name + " is " +
                                          formatReal(*variable.start) +
                                          " in the model description but " + formatReal(values[i]) +
                                          " in the library: they do not belong together");
        }
    }
}
