// The FMI 2.0 platform types ("default"), the callback types and the
// event information of Model Exchange, as a master and a slave must both see them. Shared by the
// runtime and by our test master.
#pragma once

#include <cstddef>

extern "C" {

using fmi2Component = void*;
using fmi2ComponentEnvironment = void*;
using fmi2FMUstate = void*;
using fmi2ValueReference = unsigned int;
using fmi2Real = double;
using fmi2Integer = int;
using fmi2Boolean = int;
using fmi2Char = char;
using fmi2String = const fmi2Char*;
using fmi2Byte = char;

constexpr fmi2Boolean fmi2True = 1;
constexpr fmi2Boolean fmi2False = 0;

// Fixed underlying types, so that any integer a C master passes in is a
// valid value of the enumeration and range tests on it stay meaningful.
enum fmi2Status : int {
    fmi2OK = 0,
    fmi2Warning = 1,
    fmi2Discard = 2,
    fmi2Error = 3,
    fmi2Fatal = 4,
    fmi2Pending = 5
};

enum fmi2Type : int { fmi2ModelExchange = 0, fmi2CoSimulation = 1 };

enum fmi2StatusKind : int {
    fmi2DoStepStatus = 0,
    fmi2PendingStatus = 1,
    fmi2LastSuccessfulTime = 2,
    fmi2Terminated = 3
};

using fmi2CallbackLogger = void (*)(fmi2ComponentEnvironment componentEnvironment,
                                    fmi2String instanceName, fmi2Status status, fmi2String category,
                                    fmi2String message, ...);
using fmi2CallbackAllocateMemory = void* (*)(std::size_t nobj, std::size_t size);
using fmi2CallbackFreeMemory = void (*)(void* obj);
using fmi2StepFinished = void (*)(fmi2ComponentEnvironment componentEnvironment, fmi2Status status);

struct fmi2EventInfo {
    fmi2Boolean newDiscreteStatesNeeded;
    fmi2Boolean terminateSimulation;
    fmi2Boolean nominalsOfContinuousStatesChanged;
    fmi2Boolean valuesOfContinuousStatesChanged;
    fmi2Boolean nextEventTimeDefined;
    fmi2Real nextEventTime;
};

struct fmi2CallbackFunctions {
    fmi2CallbackLogger logger;
    fmi2CallbackAllocateMemory allocateMemory;
    fmi2CallbackFreeMemory freeMemory;
    fmi2StepFinished stepFinished;
    fmi2ComponentEnvironment componentEnvironment;
};

}  // extern "C"
