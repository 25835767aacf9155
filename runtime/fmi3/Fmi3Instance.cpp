#include "Fmi3Instance.h"

#include <cstdarg>

#include "Fmi3Message.h"

namespace {

void sendMessage(Fmi3Instance& instance, fmi3Status status, const LogCategory& category,
                 const char* format, std::va_list arguments) {
    if (instance.logMessage == nullptr) {
        return;
    }
    formatMessage(instance.message, sizeof instance.message, format, arguments);
    instance.logMessage(instance.instanceEnvironment, status, category.name, instance.message);
}

}  // namespace

void logCall(Fmi3Instance& instance, const char* format, ...) {
    if (!tracesCalls(instance)) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    sendMessage(instance, fmi3OK, logCategory::kCalls, format, arguments);
    va_end(arguments);
}

void refuse(Fmi3Instance& instance, const char* format, ...) {
    instance.state = Error;
    std::va_list arguments;
    va_start(arguments, format);
    sendMessage(instance, fmi3Error, logCategory::kError, format, arguments);
    va_end(arguments);
}

const char* machineStateName(std::uint32_t state) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case StepMode:
            return "step mode";
        case Terminated:
            return "terminated";
        case Error:
            return "error";
        case Fatal:
            return "fatal";
        default:
            return "unknown";
    }
}

fmi3Status refuseInapplicable(fmi3Instance instance, fmi3String functionName, fmi3String reason) {
    if (instance != nullptr) {
        refuse(*static_cast<Fmi3Instance*>(instance), "%s: %s", functionName, reason);
    }
    return fmi3Error;
}
