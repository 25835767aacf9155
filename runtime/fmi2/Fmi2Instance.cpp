#include "Fmi2Instance.h"

const char* machineStateName(std::uint32_t state) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case StepComplete:
            return "step complete";
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
