#include "SlaveInstance.h"

void refuseCallSequence(SlaveInstance& instance, fmiString functionName) {
    instance.slaveState = Error;
    logError(instance, "%s: Illegal call sequence.", functionName);
}

void refuseNullArgument(SlaveInstance& instance, fmiString functionName, fmiString argumentName) {
    instance.slaveState = Error;
    logError(instance, "%s: Invalid argument %s = NULL.", functionName, argumentName);
}

void refuseValueReference(SlaveInstance& instance, fmiString functionName, fmiValueReference vr) {
    logError(instance, "%s: Illegal value reference %u.", functionName, vr);
    instance.slaveState = Error;
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
