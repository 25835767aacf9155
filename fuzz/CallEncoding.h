// How a fuzz input encodes a sequence of FMI calls. The fuzz target decodes
// it and the seed writer encodes with it, so both read the same bytes the same
// way. An input is a series of calls, each one operation byte followed by the
// bytes of its arguments; reading past the end yields zeros, so every input,
// however short or long, is a valid sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

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
    Count,
};

constexpr int kOperationCount = static_cast<int>(Operation::Count);

// The three deliverables and the test model that requests termination, each
// loaded as its own library.
constexpr int kModelCount = 4;
constexpr const char* kModelIdentifiers[kModelCount] = {"Halvorn", "Pendrake", "Corvessa",
                                                        "Terminus"};

// The integer, boolean and string variables and the auxiliary flags that each
// model declares: none in the deliverables, one of each in the test model.
constexpr std::uint32_t kOtherTypeCounts[kModelCount] = {0, 0, 0, 1};

// Several instances of each model live side by side.
constexpr int kSlotsPerModel = 3;

// A target byte names the model (b % 4) and the slot ((b / 4) % 4); the
// fourth slot, like an empty one, stands for a null component.
constexpr int kNullSlot = kSlotsPerModel;
inline std::uint8_t targetByte(int model, int slot) {
    return static_cast<std::uint8_t>(model + kModelCount * slot);
}
inline int modelOfTarget(std::uint8_t b) {
    return b % kModelCount;
}
inline int slotOfTarget(std::uint8_t b) {
    return (b / kModelCount) % (kSlotsPerModel + 1);
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

// A value reference byte: below 0xE0 it is b % 12, around every model's
// range; from there an entry of kValueReferences, past its end four raw bytes.
constexpr std::uint8_t kSmallReferenceEnd = 0xE0;
constexpr std::uint32_t kSmallReferenceModulus = 12;
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
