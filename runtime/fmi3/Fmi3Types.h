// The FMI 3.0 platform and function types, as a master and an FMU must both
// see them. Shared by the FMI 3.0 front-end and by our masters.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using fmi3Instance = void*;
using fmi3InstanceEnvironment = void*;
using fmi3FMUState = void*;
using fmi3ValueReference = std::uint32_t;

using fmi3Float32 = float;
using fmi3Float64 = double;
using fmi3Int8 = std::int8_t;
using fmi3UInt8 = std::uint8_t;
using fmi3Int16 = std::int16_t;
using fmi3UInt16 = std::uint16_t;
using fmi3Int32 = std::int32_t;
using fmi3UInt32 = std::uint32_t;
using fmi3Int64 = std::int64_t;
using fmi3UInt64 = std::uint64_t;
// C99's bool, which C++'s bool matches on every platform we build for.
using fmi3Boolean = bool;
using fmi3Char = char;
using fmi3String = const fmi3Char*;
using fmi3Byte = std::uint8_t;
using fmi3Binary = const fmi3Byte*;
using fmi3Clock = bool;

constexpr fmi3Boolean fmi3True = true;
constexpr fmi3Boolean fmi3False = false;

// Fixed underlying types, so that any integer a C master passes in is a
// valid value of the enumeration and range tests on it stay meaningful.
enum fmi3Status : int {
    fmi3OK = 0,
    fmi3Warning = 1,
    fmi3Discard = 2,
    fmi3Error = 3,
    fmi3Fatal = 4
};

enum fmi3Type : int { fmi3ModelExchange = 0, fmi3CoSimulation = 1, fmi3ScheduledExecution = 2 };

enum fmi3DependencyKind : int {
    fmi3Independent = 0,
    fmi3Constant = 1,
    fmi3Fixed = 2,
    fmi3Tunable = 3,
    fmi3Discrete = 4,
    fmi3Dependent = 5
};

enum fmi3IntervalQualifier : int {
    fmi3IntervalNotYetKnown = 0,
    fmi3IntervalUnchanged = 1,
    fmi3IntervalChanged = 2
};

using fmi3LogMessageCallback = void (*)(fmi3InstanceEnvironment instanceEnvironment,
                                        fmi3Status status, fmi3String category, fmi3String message);
using fmi3ClockUpdateCallback = void (*)(fmi3InstanceEnvironment instanceEnvironment);
using fmi3IntermediateUpdateCallback = void (*)(
    fmi3InstanceEnvironment instanceEnvironment, fmi3Float64 intermediateUpdateTime,
    fmi3Boolean intermediateVariableSetRequested, fmi3Boolean intermediateVariableGetAllowed,
    fmi3Boolean intermediateStepFinished, fmi3Boolean canReturnEarly,
    fmi3Boolean* earlyReturnRequested, fmi3Float64* earlyReturnTime);
using fmi3LockPreemptionCallback = void (*)();
using fmi3UnlockPreemptionCallback = void (*)();

}  // extern "C"
