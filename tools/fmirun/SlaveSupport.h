// What the slave wrappers of every FMI version share: the library loaded in
// the slave's floating-point controls and its functions resolved, the memory
// the master lends, the slave's messages with the variables' names put in,
// and the texts of the calls that are printed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CoSimulationSlave.h"
#include "FloatingPoint.h"
#include "ModelDescription.h"

struct SlaveOptions {
    bool showAllMessages = false;  // debug logging on, every message shown
    bool logCalls = false;         // every FMI call printed with its arguments
    bool modelExchange = false;    // instantiated for Model Exchange (2.0 and 3.0)
};

// Loads the library by its absolute path, so that the loader never searches
// its own directories. Throws Failure (kExitModel) when it is missing or
// cannot be loaded.
void* loadLibrary(const std::string& libraryPath, FloatingPointControls& controls);
void unloadLibrary(void* library, FloatingPointControls& controls);

// Throws Failure (kExitModel) when the library is plainly of another FMI
// version than its model description: it exports another version's
// fmiGetVersion and not that of the description's.
void requireVersionOfDescription(void* library, const ModelDescription& model,
                                 const std::string& libraryPath);

// The address of `name`. Throws Failure (kExitModel) when the library lacks
// it, with `why` that means.
void* resolveAddress(void* library, const std::string& name, const std::string& libraryPath,
                     const std::string& why);

// A looked-up address as a typed function pointer; copying the bytes avoids
// the object-to-function pointer cast.
template <typename Function>
Function resolve(void* library, const std::string& name, const std::string& libraryPath,
                 const std::string& why) {
    void* const address = resolveAddress(library, name, libraryPath, why);
    Function function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

// The blocks a slave holds belong to the master: those of an instance that
// the slave left in an error state, and so can no longer free, are returned
// by freeLiveBlocks() when the master is done with every slave of the
// library. Slaves in several threads may ask and give back at once.
extern "C" void* allocateMemory(std::size_t count, std::size_t size);
extern "C" void freeMemory(void* block);
void freeLiveBlocks();

// Hands a logger callback's message on (`deliver`): nothing may unwind
// through the slave's own frames, so a message that cannot be is lost.
template <typename Deliver>
void deliverMessage(Deliver deliver) noexcept {
    try {
        deliver();
    } catch (...) {
        std::fputs("fmirun: a slave's message was lost\n", stderr);
    }
}

// The message of a logger callback, its arguments formatted.
std::string formatted(const char* message, std::va_list arguments);

// Checks that every variable of the description is one of the slave's and
// that it starts where the description says. Throws Failure (kExitModel)
// otherwise.
void checkStartValues(CoSimulationSlave& slave, const ModelDescription& model);

// A slave names a variable as #<type><value reference>#, and writes a lone
// "#" as "##"; the master puts in the names.
std::string withVariableNames(const std::string& text, const ModelDescription& model);

// A line of a slave's message: its source, status and category, and its
// text with the variables' names put in.
std::string messageLine(const std::string& source, const char* status, const char* category,
                        const char* text, const ModelDescription& model);

// Checks a text the library answers when asked, its version or its types
// platform (`call`, printed with the answer when calls are printed): throws
// Failure (kExitModel) saying the library `what` its answer, not `expected`.
void expectAnswer(const char* answer, const std::string& call, const char* expected,
                  const char* what, const std::string& libraryPath, bool logCalls);

std::string quoted(const char* text);
std::string list(const unsigned int* references, std::size_t count);
std::string list(const double* values, std::size_t count);

// The messages of a slave's calls: shown at once when all are asked for or
// their status is not OK, else kept until the call ends, and shown then only
// when it failed, since they explain the failure.
class SlaveMessages {
  public:
    explicit SlaveMessages(SlaveOptions options)
        : options_(options), settleFrom_(firstStatusToSettle(options.logCalls)) {}

    // Whether the call that just returned needs more than its status checked:
    // calls are printed, or messages wait.
    bool needAttention() const {
        return settleFrom_ == 0;
    }
    // The same with the status's own check in one comparison, for the calls
    // of a step: in every version 0 is OK, 1 a warning and above that a
    // failure.
    bool needsSettling(unsigned status) const {
        return status >= settleFrom_;
    }
    void receive(bool ok, const std::string& line);
    // Prints the call when calls are printed (`results` follows the status)
    // and, when it failed, shows its messages and throws Failure
    // (kExitSlaveFailed).
    void settle(bool failed, const char* status, const std::string& call,
                const std::string& results = {});
    // Shows the messages kept, for a failure that is not a call's status.
    void show();
    void clear();

  private:
    SlaveOptions options_;
    std::vector<std::string> messages_;
    static constexpr unsigned firstStatusToSettle(bool attention) {
        return attention ? 0 : 2;
    }

    // The lowest status that needs more than a check: every status while
    // calls are printed or messages wait, else the failures.
    unsigned settleFrom_;
};
