// How a fuzz input encodes a sequence of FMI calls. The fuzz target decodes
// it and the seed writer encodes with it, so both read the same bytes the same
// way. An input is a series of calls, each one operation byte followed by the
// bytes of its arguments; reading past the end yields zeros, so every input,
// however short or long, is a valid sequence.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "FuzzModelCount.h"
#include "ModelRegistry.h"

enum class Operation : std::uint8_t {
    Instantiate,
    Initialize,
    SetDebugLogging,
    Terminate,
    Reset,
    Free,
    SetReal,
    SetInteger,
    SetBoolean,
    SetString,
    GetReal,
    GetInteger,
    GetBoolean,
    GetString,
    DoStep,
    CancelStep,
    GetStatus,
    GetRealStatus,
    GetIntegerStatus,
    GetBooleanStatus,
    GetStringStatus,
    SetRealInputDerivatives,
    GetRealOutputDerivatives,
    GetVersion,
    GetTypesPlatform,
    // Not an FMI call: arms the logger to call back into an instance.
    ArmReentry,
    // The FMI 2.0 calls, on the 2.0 libraries of the same models. Appended,
    // so that the operation bytes below keep their meaning.
    Fmi2Instantiate,
    Fmi2FreeInstance,
    Fmi2SetDebugLogging,
    Fmi2SetupExperiment,
    Fmi2EnterInitializationMode,
    Fmi2ExitInitializationMode,
    Fmi2Terminate,
    Fmi2Reset,
    Fmi2SetReal,
    Fmi2SetInteger,
    Fmi2SetBoolean,
    Fmi2SetString,
    Fmi2GetReal,
    Fmi2GetInteger,
    Fmi2GetBoolean,
    Fmi2GetString,
    Fmi2GetFMUstate,
    Fmi2SetFMUstate,
    Fmi2FreeFMUstate,
    Fmi2SerializedFMUstateSize,
    Fmi2SerializeFMUstate,
    Fmi2DeSerializeFMUstate,
    Fmi2GetDirectionalDerivative,
    Fmi2SetRealInputDerivatives,
    Fmi2GetRealOutputDerivatives,
    Fmi2DoStep,
    Fmi2CancelStep,
    Fmi2GetStatus,
    Fmi2GetRealStatus,
    Fmi2GetIntegerStatus,
    Fmi2GetBooleanStatus,
    Fmi2GetStringStatus,
    Fmi2GetVersion,
    Fmi2GetTypesPlatform,
    // Not an FMI call: sets the floating-point environment the master makes
    // the 2.0 calls in, by a byte into kCallerEnvironments.
    CallerEnvironment,
    // The FMI 3.0 calls, on the 3.0 libraries of the same models; appended
    // as well. Two operations stand for a family each: Fmi3OtherType picks
    // one of the value-access functions of the types no model has, and
    // Fmi3Inapplicable one of the functions that do not apply to this
    // co-simulation FMU.
    Fmi3InstantiateCoSimulation,
    Fmi3InstantiateModelExchange,
    Fmi3InstantiateScheduledExecution,
    Fmi3FreeInstance,
    Fmi3SetDebugLogging,
    Fmi3EnterInitializationMode,
    Fmi3ExitInitializationMode,
    Fmi3Terminate,
    Fmi3Reset,
    Fmi3SetFloat64,
    Fmi3GetFloat64,
    Fmi3OtherType,
    Fmi3GetFMUState,
    Fmi3SetFMUState,
    Fmi3FreeFMUState,
    Fmi3SerializedFMUStateSize,
    Fmi3SerializeFMUState,
    Fmi3DeserializeFMUState,
    Fmi3GetDirectionalDerivative,
    Fmi3GetAdjointDerivative,
    Fmi3GetNumberOfVariableDependencies,
    Fmi3GetVariableDependencies,
    Fmi3GetOutputDerivatives,
    Fmi3DoStep,
    Fmi3Inapplicable,
    Fmi3GetVersion,
    // One of the Model Exchange functions of 3.0, by a byte into the
    // library's table; appended, so that earlier seeds keep their calls.
    Fmi3ModelExchange,
    // The ten calls of FMI 2.0 Model Exchange, one picked by a byte; appended
    // as well.
    Fmi2ModelExchange,
    Count,
};

constexpr int kOperationCount = static_cast<int>(Operation::Count);
constexpr Operation kFirstFmi2Operation = Operation::Fmi2Instantiate;

constexpr bool isFmi2(Operation operation) {
    return (operation >= kFirstFmi2Operation && operation <= Operation::Fmi2GetTypesPlatform) ||
           operation == Operation::Fmi2ModelExchange;
}

constexpr Operation kFirstFmi3Operation = Operation::Fmi3InstantiateCoSimulation;
constexpr bool isFmi3(Operation operation) {
    return (operation >= kFirstFmi3Operation && operation <= Operation::Fmi3GetVersion) ||
           operation == Operation::Fmi3ModelExchange;
}

// The MXCSR bits a master's thread may run with besides the default: a 2.0
// library must compute in it (the travel stop adding flush-to-zero) and hand
// it back unchanged. Flush-to-zero comes with denormals-are-zero, as the
// travel stop's own setup has it; alone, either breaks identities such as
// -0.0 + x == x that compilers rely on, and so do the other rounding modes.
constexpr std::uint32_t kCallerEnvironments[] = {0, 0x8040};

// Every model of the fuzz target's registry, each loaded as its own library
// in the registry's order: the test-only models first, then the build's.
// Its definition tells the identifier, the real counts and the variables of
// the other types.
inline const ModelDefinition& definitionOf(int model) {
    return registeredModel(static_cast<std::size_t>(model));
}

// Every model is loaded three times, as its FMI 1.0, 2.0 and 3.0 library,
// the libraries of each version together in that order.
constexpr int kFmiVersionCount = 3;
constexpr int kLibraryCount = kModelCount * kFmiVersionCount;
constexpr int libraryOf(int fmiVersion, int model) {
    return (fmiVersion - 1) * kModelCount + model;
}

// Several instances of each model live side by side.
constexpr int kSlotsPerModel = 3;

// A target byte names the slot in bits 0 and 1 (the fourth slot, like an
// empty one, stands for a null component) and the model in bits 2 to 4,
// modulo the count of models; a model keeps its byte when a model is added
// after it.
constexpr int kNullSlot = kSlotsPerModel;
constexpr int kMaxModelCount = 8;
static_assert(kModelCount <= kMaxModelCount, "the target byte holds at most eight models");
inline std::uint8_t targetByte(int model, int slot) {
    return static_cast<std::uint8_t>(slot | model << 2);
}
inline int modelOfTarget(std::uint8_t b) {
    return ((b >> 2) & (kMaxModelCount - 1)) % kModelCount;
}
inline int slotOfTarget(std::uint8_t b) {
    return b & 3;
}
// The calls of each version address the instances of their own libraries;
// only the arming of the logger, which is no call, takes the version from
// its target byte: bit 6 for 3.0, else bit 5 for 2.0.
constexpr std::uint8_t kFmi2TargetBit = 0x20;
constexpr std::uint8_t kFmi3TargetBit = 0x40;
inline int fmiVersionOfTarget(std::uint8_t b) {
    if ((b & kFmi3TargetBit) != 0) {
        return 3;
    }
    return (b & kFmi2TargetBit) != 0 ? 2 : 1;
}

// Instantiation: the kind of name, of GUID, the callbacks, the failing
// allocation requests.
enum NameKind : std::uint8_t { kNameGenerated = 0, kNameFromInput = 5, kNameEmpty = 6, kNameNull };
inline NameKind nameKindOf(std::uint8_t b) {
    const int kind = b % 8;
    return kind < kNameFromInput ? kNameGenerated : static_cast<NameKind>(kind);
}
constexpr std::size_t kMaxInputNameLength = 47;

enum GuidKind : std::uint8_t { kGuidOwn = 0, kGuidUpperCase = 5, kGuidNull = 6, kGuidOtherModel };
inline GuidKind guidKindOf(std::uint8_t b) {
    const int kind = b % 8;
    return kind < kGuidUpperCase ? kGuidOwn : static_cast<GuidKind>(kind);
}

// Callbacks byte: from 0xE0 on, bits 0 to 2 leave out the logger, allocateMemory
// and freeMemory; bit 4 leaves out stepFinished at any value.
constexpr std::uint8_t kCallbacksTampered = 0xE0;
constexpr std::uint8_t kNoLogger = 1;
constexpr std::uint8_t kNoAllocate = 2;
constexpr std::uint8_t kNoFree = 4;
constexpr std::uint8_t kNoStepFinished = 0x10;

// FMI 2.0 instantiation: a tampered callbacks byte with bit 3 passes no
// callback structure at all, and kNoStepFinished hands a stepFinished, which
// the slave must never call. The fmuType byte asks for co-simulation below
// kRawFmuType, from there for one of kFmuTypes.
constexpr std::uint8_t kNullCallbacks = 8;
constexpr std::uint8_t kRawFmuType = 0xF0;
constexpr int kFmuTypes[] = {0, 2, -1, 0x7fffffff};

// fmi2SetDebugLogging: the count byte gives b % 4 categories, from
// kArraysTampered on with a null array; a byte per category picks from the
// category table.
inline const char* const* categoryTable(std::size_t& count) {
    static const char* const table[] = {"logStatusError", "logCalls", "",
                                        "logAll",         "LOGCALLS", nullptr};
    count = std::size(table);
    return table;
}

// An FMU state argument is a choice byte: b % 8 is 0 for none, 1 to 4 for
// the instance's own FMU states from the newest, 5 for one of another
// instance, 6 for one already freed, 7 for an address that never was one.
// A flags byte follows where a pointer argument may be null (bit 0) and, for
// fmi2DeSerializeFMUstate, the bytes too (bit 1).
constexpr std::uint8_t kNullPointer = 1;
constexpr std::uint8_t kNullBytes = 2;

// The bytes fmi2DeSerializeFMUstate reads, by a source byte b % 4: written by
// the master for a content it chooses (a machine-state byte, b % 5 picking
// one state below kRawMachineState and four raw bytes from there, then a
// real for the time); the bytes a slave serialized last; raw bytes (a length
// byte, then the bytes); or written and then damaged as a damage byte says,
// at the position a further byte gives as a fraction of the length.
enum BytesSource : std::uint8_t { kBytesWritten, kBytesSerialized, kBytesRaw, kBytesDamaged };
constexpr std::uint8_t kRawMachineState = 0xF0;
enum Damage : std::uint8_t {
    kFlipByte,
    kTruncate,
    kAppendByte,
    kOtherFormatVersion,
    kOtherFmiVersion,
    kOtherModel,
    kOtherGuid,
    kOtherRealCount,
    kDamageCount,
};

// A Model Exchange call: a byte picks the function (b % 10, in the order
// below), and its arguments follow: for fmi2NewDiscreteStates a byte whose
// bit 0 leaves out eventInfo; for fmi2CompletedIntegratorStep the flag byte,
// then a byte whose bits 0 and 1 leave out enterEventMode and
// terminateSimulation; for fmi2SetTime a real; for the state and event
// indicator arrays an nvr byte, the array of that length, none for a huge one.
enum ModelExchangeFunction : std::uint8_t {
    kEnterEventMode,
    kNewDiscreteStates,
    kEnterContinuousTimeMode,
    kCompletedIntegratorStep,
    kSetTime,
    kSetContinuousStates,
    kGetDerivatives,
    kGetEventIndicators,
    kGetContinuousStates,
    kGetNominalsOfContinuousStates,
    kModelExchangeFunctionCount,
};

// FMI 3.0 instantiation: a flags byte whose bits ask for what this FMU
// refuses or lacks: no logMessage (bit 0), eventModeUsed (bit 1),
// earlyReturnAllowed (bit 2), required intermediate variables (bit 3, a
// count byte follows, from kHugeNvr on with a null array), no resource path
// (bit 4), an intermediateUpdate callback (bit 5), visible (bit 6). The
// token kind is a GuidKind; the C runtime's calloc fails as a byte says:
// 0 none, otherwise from the request (b % 4) on.
constexpr std::uint8_t kFmi3NoLogMessage = 1;
constexpr std::uint8_t kFmi3EventModeUsed = 2;
constexpr std::uint8_t kFmi3EarlyReturnAllowed = 4;
constexpr std::uint8_t kFmi3IntermediateVariables = 8;
constexpr std::uint8_t kFmi3NoResourcePath = 0x10;
constexpr std::uint8_t kFmi3IntermediateUpdate = 0x20;
constexpr std::uint8_t kFmi3Visible = 0x40;

// fmi3DoStep: a null-results byte whose low four bits from kArraysTampered on
// leave out eventHandlingNeeded, terminateSimulation, earlyReturn and
// lastSuccessfulTime.
constexpr std::uint8_t kNullStepResults = 0x0F;

// The count of values a 3.0 value-access or derivative call passes beside
// its count of references: a count byte below kWrongCount keeps it equal,
// from there it is the low bits' offset from it.
constexpr std::uint8_t kWrongCount = 0xF8;

// Allocation byte: below 0xC0 nothing fails; otherwise its low four bits k:
// 1 to 7 fail request k, 8 fails every zero-byte request, 9 to 15 fail every
// request from k - 8 on.
constexpr std::uint8_t kAllocationFaults = 0xC0;
constexpr std::uint8_t kFailZeroBytes = 8;

// nvr byte: below 0xF0 it is b % (kMaxNvr + 1) with arrays of that length;
// from 0xF0 on a huge count with the arrays it would reach left null.
constexpr std::size_t kMaxNvr = 16;
constexpr std::uint8_t kHugeNvr = 0xF0;
constexpr std::size_t kHugeNvrs[] = {std::numeric_limits<std::size_t>::max(), std::size_t{1} << 31,
                                     std::size_t{1} << 32, std::size_t{0x7fffffff}};

// Null-arrays byte: from 0xC0 on its low bits leave out vr[] (1), value[] (2)
// and, for the derivative calls, order[] (4).
constexpr std::uint8_t kArraysTampered = 0xC0;
constexpr std::uint8_t kNullVr = 1;
constexpr std::uint8_t kNullValue = 2;
constexpr std::uint8_t kNullOrder = 4;

// fmi2GetDirectionalDerivative: an nvr byte for the unknowns, one for the
// knowns, then a null-arrays byte whose low bits from kArraysTampered on
// leave out these arrays; a huge count leaves out both arrays of its side.
constexpr std::uint8_t kNullUnknowns = 1;
constexpr std::uint8_t kNullResults = 2;
constexpr std::uint8_t kNullKnowns = 4;
constexpr std::uint8_t kNullSeeds = 8;

// A value reference byte: below 0xE0 it is b % smallReferenceModulus(),
// around every model's range (two past the most reals of any model); from
// there an entry of kValueReferences, past its end four raw bytes.
constexpr std::uint8_t kSmallReferenceEnd = 0xE0;
inline std::uint32_t smallReferenceModulus() {
    static const std::uint32_t modulus = [] {
        std::uint32_t most = 0;
        for (int model = 0; model < kModelCount; ++model) {
            most = std::max(most, definitionOf(model).realCount);
        }
        return most + 2;
    }();
    return modulus;
}
constexpr std::uint32_t kValueReferences[] = {0xffffffffU, 0x80000000U, 0x7fffffffU, 0xfffffffeU,
                                              0x100U,      0x10000U,    0xfffffff6U};
constexpr std::uint8_t kRawReference = kSmallReferenceEnd + std::size(kValueReferences);

// The strings a master passes to fmiSetString, by a byte modulo their count.
inline const char* const* stringTable(std::size_t& count) {
    static const char* const table[] = {"", "a", "%s%n%d", nullptr};
    count = std::size(table);
    return table;
}

// What the logger does at the next message logged with an instance as its
// component: by the action byte modulo 4 nothing, or one call back into that
// instance: fmiSetDebugLogging (a flag byte follows), fmiSetReal of one
// element (a reference and a real follow) or fmiGetReal of one element (a
// reference follows).
enum ReentryAction : std::uint8_t {
    kReentryNone,
    kReentrySetDebugLogging,
    kReentrySetReal,
    kReentryGetReal,
};

// A status kind byte: below 0xF0 b % 4 (three known kinds and one unknown);
// from there four raw bytes.
constexpr std::uint8_t kRawStatusKind = 0xF0;

inline double realFromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A real byte picks from this table; past its end, eight raw bytes follow.
// Zeros of both signs, the values at which stepping and the models change
// their behaviour, subnormals, the extremes, infinities and NaNs.
inline const double* realTable(std::size_t& count) {
    static const double table[] = {
        0.0,
        -0.0,
        1.0,
        -1.0,
        0.5,
        0.1,
        1.6,
        -2.6,
        -1.5,
        5.0,
        -7.0,
        -6.0,
        -2.0,
        0.001,
        0.25,
        0.03,
        0.01,
        15000.0,
        20000.0,
        50000.0,
        -0.055,
        0.09,
        0.09000000000000001,
        1.0e-10,
        -1.0e-300,
        1.0e-300,
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        realFromBits(0x000fffffffffffffULL),  // the largest subnormal
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN(),
        realFromBits(0x7ff4000000000001ULL),  // a signalling NaN
        3.0,
        -0.125,
        0.2,
        -1.0000000000000002,
        -0.9999999999999999,
        1.0e308,
        -1.0e308,
    };
    count = std::size(table);
    return table;
}

// How many calls one input may make at most: long inputs stay fast.
constexpr std::size_t kMaxCallsPerInput = 2048;
