#include "SlaveSupport.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"

void* loadLibrary(const std::string& libraryPath, FloatingPointControls& controls) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(libraryPath, error)) {
        throw Failure(kExitModel, "cannot open " + libraryPath + ": no such file");
    }
    const std::string path = std::filesystem::absolute(libraryPath, error).string();
    void* library = nullptr;
    {
        const InSlaveControls inSlave(controls);
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (library == nullptr) {
        throw Failure(kExitModel, "cannot load " + libraryPath + ": " + dlerror());
    }
    return library;
}

void unloadLibrary(void* library, FloatingPointControls& controls) {
    if (library != nullptr) {
        const InSlaveControls inSlave(controls);
        dlclose(library);
    }
}

void requireVersionOfDescription(void* library, const ModelDescription& model,
                                 const std::string& libraryPath) {
    const std::string getVersion[] = {model.modelIdentifier + "_fmiGetVersion", "fmi2GetVersion",
                                      "fmi3GetVersion"};
    if (dlsym(library, getVersion[model.fmiVersion - 1].c_str()) != nullptr) {
        return;
    }
    for (int version = 1; version <= 3; ++version) {
        if (dlsym(library, getVersion[version - 1].c_str()) != nullptr) {
            throw Failure(kExitModel, libraryPath + " is an FMI " + std::to_string(version) +
                                          ".0 library, but its model description is of FMI " +
                                          std::to_string(model.fmiVersion) +
                                          ".0: give the description of the library's version");
        }
    }
}

void* resolveAddress(void* library, const std::string& name, const std::string& libraryPath,
                     const std::string& why) {
    void* const address = dlsym(library, name.c_str());
    if (address == nullptr) {
        throw Failure(kExitModel, libraryPath + " does not export " + name + ": " + why);
    }
    return address;
}

namespace {

std::mutex liveBlocksInUse;

std::set<void*>& liveBlocks() {
    static std::set<void*> blocks;
    return blocks;
}

std::string variableName(const ModelDescription& model, char type, unsigned int reference) {
    if (type == 'r') {
        for (const Variable& variable : model.variables) {
            if (variable.valueReference == reference) {
                return variable.name;
            }
        }
    }
    return {};
}

}  // namespace

extern "C" void* allocateMemory(std::size_t count, std::size_t size) {
    void* block = std::calloc(count, size);
    if (block != nullptr) {
        const std::lock_guard<std::mutex> lock(liveBlocksInUse);
        liveBlocks().insert(block);
    }
    return block;
}

extern "C" void freeMemory(void* block) {
    {
        const std::lock_guard<std::mutex> lock(liveBlocksInUse);
        liveBlocks().erase(block);
    }
    std::free(block);
}

void freeLiveBlocks() {
    const std::lock_guard<std::mutex> lock(liveBlocksInUse);
    for (void* block : liveBlocks()) {
        std::free(block);
    }
    liveBlocks().clear();
}

std::string formatted(const char* message, std::va_list arguments) {
    std::string text;
    if (message == nullptr) {
        return text;
    }
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, message, arguments);
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), message, again);
        text.pop_back();
    }
    va_end(again);
    return text;
}

void checkStartValues(CoSimulationSlave& slave, const ModelDescription& model) {
    std::vector<fmiValueReference> references;
    for (const Variable& variable : model.variables) {
        references.push_back(variable.valueReference);
    }
    std::vector<fmiReal> values(references.size(), 0.0);
    try {
        slave.getReal(references.data(), references.size(), values.data());
    } catch (const Failure&) {
        throw Failure(kExitModel,
                      "the library refuses value references that the model "
                      "description declares: they do not belong together");
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Variable& variable = model.variables[i];
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

std::string withVariableNames(const std::string& text, const ModelDescription& model) {
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
                    model, text[i + 1],
                    static_cast<unsigned int>(std::stoul(text.substr(i + 2, close - i - 2))));
                if (!name.empty()) {
                    shown += name;
                    i = close;
                    continue;
                }
            }
        }
        shown += text[i];
    }
    return shown;
}

std::string messageLine(const std::string& source, const char* status, const char* category,
                        const char* text, const ModelDescription& model) {
    return source + " [" + status + ", " + (category == nullptr ? "no category" : category) + "] " +
           withVariableNames(text == nullptr ? "" : text, model);
}

void expectAnswer(const char* answer, const std::string& call, const char* expected,
                  const char* what, const std::string& libraryPath, bool logCalls) {
    if (logCalls) {
        console::fmiCall("fmi: " + call + "() -> " + quoted(answer));
    }
    if (answer == nullptr || std::strcmp(answer, expected) != 0) {
        throw Failure(kExitModel, libraryPath + " " + what + " " + quoted(answer) + ", not " +
                                      quoted(expected));
    }
}

std::string quoted(const char* text) {
    return text == nullptr ? "NULL" : "\"" + std::string(text) + "\"";
}

std::string list(const unsigned int* references, std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(references[i]);
    }
    return text + "}";
}

std::string list(const double* values, std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + formatReal(values[i]);
    }
    return text + "}";
}

void SlaveMessages::receive(bool ok, const std::string& line) {
    if (options_.showAllMessages || !ok) {
        console::slaveMessage(line);
    } else {
        messages_.push_back(line);
        settleFrom_ = firstStatusToSettle(true);
    }
}

void SlaveMessages::settle(bool failed, const char* status, const std::string& call,
                           const std::string& results) {
    if (options_.logCalls) {
        console::fmiCall("fmi: " + call + " -> " + status + results);
    }
    if (!failed) {
        clear();
        return;
    }
    // The messages of a failed call explain it, whatever their own status.
    show();
    throw Failure(kExitSlaveFailed, call + " returned " + status);
}

void SlaveMessages::show() {
    for (const std::string& message : messages_) {
        console::slaveMessage(message);
    }
    clear();
}

void SlaveMessages::clear() {
    messages_.clear();
    settleFrom_ = firstStatusToSettle(options_.logCalls);
}
