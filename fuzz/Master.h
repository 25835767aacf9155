// The master's records: the libraries it loaded, what it knows of every
// instance it created, and the state of the input being run that the rules,
// the checks and the logger share.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "Fmi2Functions.h"
#include "Fmi2Types.h"
#include "Fmi3Functions.h"
#include "FmiTypes.h"
#include "ModelFacts.h"
#include "SlaveLibrary.h"

// The master's arrays start out holding this; a slave that must not write an
// element leaves it there.
constexpr std::uint64_t kUntouchedBits = 0x7ff4dead0000beefULL;

// Where two NaNs meet in a product, which of them comes out depends on the
// order the compiler gave the operands. An output the model works out as NaN
// from two operands that are not finite may be any NaN: the master expects
// this pattern for it until a check of the record takes the slave's bits.
constexpr std::uint64_t kAnyNaNBits = 0x7ff8dead0000beefULL;

inline bool matchesBits(std::uint64_t actual, std::uint64_t expected) {
    return actual == expected || (expected == kAnyNaNBits && std::isnan(realFromBits(actual)));
}

struct Instance;
struct Expectation;

// An FMU state that the master knows an FMI 2.0 instance to hold, and what
// it holds.
struct KnownFmuState {
    void* handle = nullptr;
    std::uint32_t state = 0;
    fmiReal time = 0.0;
    std::vector<fmiReal> reals;
    // The outputs whose NaN may be any NaN, as the instance's own.
    std::uint64_t anyNaNOutputs = 0;
};

// What differs between the FMI versions for an instance the master holds:
// each version lays out its record and calls back into it its own way.
struct InstanceRules {
    // Reads the record in place against the master's records.
    void (*checkRecord)(Instance& s);
    // The state in the record, for the logger to note.
    std::int32_t (*stateInRecord)(const Instance& s);
    // The logger's call back into the instance in the middle of a call, as
    // the master expects it, and as the logger makes it.
    void (*expectCallBack)(Instance& s, ReentryAction action, Expectation& nested);
    void (*callBack)(Instance& s, ReentryAction action);
};

// What the master knows of one live instance: all that the slave must hold.
struct Instance {
    int model = 0;
    int library = 0;
    fmiComponent c = nullptr;
    const InstanceRules* rules = nullptr;
    // What the slave passes its logger first: the component itself in FMI
    // 1.0, the master's environment for the instance from 2.0 on.
    void* logComponent = nullptr;
    std::string name;
    std::uintptr_t guid = 0;
    fmiCallbackFunctions callbacks{};
    std::int32_t state = 0;
    // Seen in Error once: the record must say Error from then on.
    bool seenInError = false;
    fmiBoolean logging = fmiFalse;
    std::vector<fmiReal> reals;
    fmiReal currentTime = 0.0;
    bool eventsArmed = false;
    bool terminate = false;
    std::vector<fmiInteger> integers;
    std::vector<fmiBoolean> booleans;
    std::vector<fmiString> strings;
    // What instantiation obtained, in the order of its requests; all of it
    // stays the instance's until it is freed.
    std::vector<void*> blocks;
    // The call the logger makes back into the instance at the next message
    // with its component: `armed` is what the logger will do, `reentry` what
    // the master's expectation has yet to account for.
    ReentryAction armed = kReentryNone;
    ReentryAction reentry = kReentryNone;
    fmiBoolean reentryFlag = fmiFalse;
    fmiValueReference reentryReference = 0;
    fmiReal reentryValue = 0.0;
    // From FMI 2.0 on: the callbacks as given, the log categories with debug
    // logging on (one bit each, in the library's order) and the FMU states,
    // the newest first.
    fmi2CallbackFunctions callbacks2{};
    std::uint32_t debugCategories = 0;
    std::vector<KnownFmuState> fmuStates;
    // From FMI 3.0 on: the logMessage given, null for none.
    fmi3LogMessageCallback logMessage = nullptr;
    // From FMI 2.0 on: a Model Exchange instance, and whether its outputs
    // wait for the next read.
    bool modelExchange = false;
    bool outputsOutdated = false;
    // The outputs whose NaN may be any NaN, one bit each, until the next
    // check of the record.
    std::uint64_t anyNaNOutputs = 0;
};

// The one call back into an instance that a logger call may make during a
// call: what it must do and what it did.
struct NestedCall {
    bool happened = false;
    fmiStatus status = fmiOK;
    std::uint64_t valueBits = 0;  // what a nested fmiGetReal delivered
};

struct LoadedModel {
    SlaveLibrary library;
    Fmi2Functions fmi2;
    Fmi3Functions fmi3;
    const ModelFacts* facts = nullptr;
    // The thread's MXCSR as a master would have it while the model runs:
    // the travel stop's own setup for it, the process default for the rest.
    std::uint32_t mxcsr = 0;
};

// Several instances of every library side by side; an empty slot stands for
// a null component.
using SlotTable = std::array<std::array<std::optional<Instance>, kSlotsPerModel>, kLibraryCount>;

struct World {
    SlotTable slots;
    // Instances in Error moved out of their slots; they can never be freed.
    std::vector<Instance> inError;
    std::size_t calls = 0;
    unsigned generatedNames = 0;
    // FMU states freed so far, which a master may still pass by mistake, and
    // the bytes a slave serialized last.
    std::vector<void*> freedFmuStates;
    std::vector<char> serialized;
    // The MXCSR bits the master adds to the default for its 2.0 calls.
    std::uint32_t callerEnvironment = 0;
};

// The environment the master hands each 2.0 or 3.0 instance it creates in a slot,
// which the slave passes its logger with every message.
inline char environments[kLibraryCount][kSlotsPerModel];

inline LoadedModel loadedModels[kLibraryCount];
inline std::uint32_t defaultMxcsr = 0;

// The input being run, for the logger, which learns of nothing else.
inline World* currentWorld = nullptr;
// The slave's state at each logger call, recorded by the logger hook.
inline std::vector<std::int32_t> statesAtLog;
inline NestedCall nestedExpected;
inline NestedCall nestedActual;

inline unsigned long long totalCalls = 0;
inline unsigned long long totalInputs = 0;

// "<identifier> (FMI <version>.0)", naming a library in the master's messages.
inline const char* libraryName(int fmiVersion, int model) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (int version = 1; version <= kFmiVersionCount; ++version) {
            for (int m = 0; m < kModelCount; ++m) {
                all.push_back(std::string(definitionOf(m).modelIdentifier) + " (FMI " +
                              std::to_string(version) + ".0)");
            }
        }
        return all;
    }();
    return names[static_cast<std::size_t>(libraryOf(fmiVersion, model))].c_str();
}

inline const ModelFacts& factsOf(int model) {
    return *loadedModels[model].facts;
}

// The model's update at a time event on the master's copy, noting the
// outputs that may be any NaN; yields what the update asks of the runtime.
inline UpdateOutcome computeEquation(Instance& s) {
    const ModelFacts& facts = factsOf(s.model);
    const UpdateOutcome outcome = definitionOf(s.model).updateAtEvent(s.reals.data());
    int nonFinite = 0;
    for (std::size_t vr = 0; vr < facts.firstOutput; ++vr) {
        nonFinite += std::isfinite(s.reals[vr]) ? 0 : 1;
    }
    s.anyNaNOutputs = 0;
    for (std::size_t vr = facts.firstOutput; vr < s.reals.size() && nonFinite >= 2; ++vr) {
        s.anyNaNOutputs |= std::isnan(s.reals[vr]) ? std::uint64_t{1} << vr : 0;
    }
    return outcome;
}

inline std::uint64_t expectedBitsOf(const std::vector<fmiReal>& reals, std::uint64_t anyNaN,
                                    std::size_t vr) {
    return ((anyNaN >> vr) & 1U) != 0 ? kAnyNaNBits : bitsOf(reals[vr]);
}

inline std::uint64_t expectedBitsOf(const Instance& s, std::size_t vr) {
    return expectedBitsOf(s.reals, s.anyNaNOutputs, vr);
}

// Whether a real the slave holds is the master's; takes the slave's NaN
// where any NaN will do.
inline bool holdsReal(std::vector<fmiReal>& reals, std::uint64_t& anyNaN, std::size_t vr,
                      double actual) {
    if (!matchesBits(bitsOf(actual), expectedBitsOf(reals, anyNaN, vr))) {
        return false;
    }
    reals[vr] = actual;
    anyNaN &= ~(std::uint64_t{1} << vr);
    return true;
}

inline bool recordHolds(Instance& s, std::size_t vr, double actual) {
    return holdsReal(s.reals, s.anyNaNOutputs, vr, actual);
}

inline fmiComponent componentOf(const Instance* s) {
    return s != nullptr ? s->c : nullptr;
}

// The instance whose messages carry this first argument of the logger.
inline Instance* findLoggingInstance(World& world, void* logComponent) {
    for (auto& model : world.slots) {
        for (auto& slot : model) {
            if (slot && slot->logComponent == logComponent) {
                return &*slot;
            }
        }
    }
    for (Instance& s : world.inError) {
        if (s.logComponent == logComponent) {
            return &s;
        }
    }
    return nullptr;
}

template <typename Value>
std::unique_ptr<Value[]> masterArray(std::size_t n, Value fill) {
    std::unique_ptr<Value[]> array(new Value[n]);
    std::fill(array.get(), array.get() + n, fill);
    return array;
}

// A C string in a block of its own that the master releases right after the
// call, so that a slave reading it later is caught.
inline std::unique_ptr<char[]> masterString(const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// The instance name a master passes: generated, from the input or empty, in
// a block of its own; null for none.
inline std::unique_ptr<char[]> masterName(World& world, NameKind kind,
                                          const std::string& inputName) {
    switch (kind) {
        case kNameGenerated:
            return masterString("instance" + std::to_string(++world.generatedNames));
        case kNameFromInput:
            return masterString(inputName);
        case kNameEmpty:
            return masterString("");
        default:
            return nullptr;
    }
}

// The GUID a master passes for a model: its own, its own in upper case,
// another model's, or none.
inline std::unique_ptr<char[]> masterGuid(GuidKind kind, int model) {
    switch (kind) {
        case kGuidOwn:
            return masterString(factsOf(model).guid);
        case kGuidUpperCase: {
            std::string upper = factsOf(model).guid;
            for (char& ch : upper) {
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            return masterString(upper);
        }
        case kGuidOtherModel:
            return masterString(factsOf((model + 1) % kModelCount).guid);
        default:
            return nullptr;
    }
}

// Leaves out the callbacks that a tampered callbacks byte says.
template <typename Callbacks>
void leaveOutCallbacks(Callbacks& functions, std::uint8_t callbacks) {
    if (callbacks < kCallbacksTampered) {
        return;
    }
    if ((callbacks & kNoLogger) != 0) {
        functions.logger = nullptr;
    }
    if ((callbacks & kNoAllocate) != 0) {
        functions.allocateMemory = nullptr;
    }
    if ((callbacks & kNoFree) != 0) {
        functions.freeMemory = nullptr;
    }
}

// The FMU state a master passes by the choice byte: none, one of the
// instance's own by age, one of another instance of the same version, one freed
// before, or an address that never was one. The slave only compares them.
inline void* chosenFmuState(World& world, const Instance* s, std::uint8_t choice, int fmiVersion) {
    const int kind = choice % 8;
    if (kind == 0 || s == nullptr) {
        return nullptr;
    }
    if (kind <= 4) {
        const auto index = static_cast<std::size_t>(kind - 1);
        return index < s->fmuStates.size() ? s->fmuStates[index].handle : nullptr;
    }
    if (kind == 5) {
        for (int model = 0; model < kModelCount; ++model) {
            for (auto& other : world.slots[libraryOf(fmiVersion, model)]) {
                if (other && &*other != s && !other->fmuStates.empty()) {
                    return other->fmuStates.front().handle;
                }
            }
        }
    }
    if (kind == 6 && !world.freedFmuStates.empty()) {
        return world.freedFmuStates.back();
    }
    return reinterpret_cast<void*>(std::uintptr_t{0x1000} + choice);
}

// A step the slaves accept, judged on the bits as the slaves judge it: a
// subnormal step size is positive even where the caller's environment
// treats denormals as zero.
inline bool isAcceptedStep(double communicationPoint, double stepSize) {
    constexpr std::uint64_t kExponentBits = 0x7ff0000000000000ULL;
    std::uint64_t size = 0;
    std::uint64_t point = 0;
    std::memcpy(&size, &stepSize, sizeof size);
    std::memcpy(&point, &communicationPoint, sizeof point);
    const bool positiveFiniteSize =
        size != 0 && (size >> 63) == 0 && (size & kExponentBits) != kExponentBits;
    return positiveFiniteSize && (point & kExponentBits) != kExponentBits;
}
