#include "SlaveInstance.h"

bool refuseCallSequence(SlaveInstance& instance, fmiString functionName) {
    instance.slaveState = Error;
    logError(instance, "%s: Illegal call sequence.", functionName);
    return false;
}

bool checkNotNull(SlaveInstance& instance, fmiString functionName, fmiString argumentName,
                  const void* pointer) {
    if (pointer != nullptr) {
        return true;
    }
    instance.slaveState = Error;
    logError(instance, "%s: Invalid argument %s = NULL.", functionName, argumentName);
    return false;
}

bool checkValueReference(SlaveInstance& instance, fmiString functionName, fmiValueReference vr,
                         std::uint32_t count) {
    if (vr < count) {
        return true;
    }
    logError(instance, "%s: Illegal value reference %u.", functionName, vr);
    instance.slaveState = Error;
    return false;
}

// The models have no continuous states, so the array of their value
// references is empty. It lives in uninitialised data and nothing reads it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
extern "C" {
SLAVE_API fmiValueReference vrStates[0];
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
