// The FMI 1.0 co-simulation platform types ("standard32"), as a master and a
// slave must both see them. Shared by the runtime and by our test master.
#pragma once

#include <cstddef>

extern "C" {

using fmiComponent = void*;
using fmiValueReference = unsigned int;
using fmiReal = double;
using fmiInteger = int;
using fmiBoolean = char;
using fmiString = const char*;

constexpr fmiBoolean fmiTrue = 1;
constexpr fmiBoolean fmiFalse = 0;

// A fixed underlying type, so that any integer a C master passes in is a
// valid value of the enumeration and range tests on it stay meaningful.
enum fmiStatus : int {
    fmiOK = 0,
    fmiWarning = 1,
    fmiDiscard = 2,
    fmiError = 3,
    fmiFatal = 4,
    fmiPending = 5
};

enum fmiStatusKind : int { fmiDoStepStatus = 0, fmiPendingStatus = 1, fmiLastSuccessfulTime = 2 };

using fmiCallbackLogger = void (*)(fmiComponent c, fmiString instanceName, fmiStatus status,
                                   fmiString category, fmiString message, ...);
using fmiCallbackAllocateMemory = void* (*)(std::size_t nobj, std::size_t size);
using fmiCallbackFreeMemory = void (*)(void* obj);
using fmiStepFinished = void (*)(fmiComponent c, fmiStatus status);

struct fmiCallbackFunctions {
    fmiCallbackLogger logger;
    fmiCallbackAllocateMemory allocateMemory;
    fmiCallbackFreeMemory freeMemory;
    fmiStepFinished stepFinished;
};

struct fmiEventInfo {
    fmiBoolean iterationConverged;
    fmiBoolean stateValueReferencesChanged;
    fmiBoolean stateValuesChanged;
    fmiBoolean terminateSimulation;
    fmiBoolean upcomingTimeEvent;
    fmiReal nextEventTime;
};

}  // extern "C"
