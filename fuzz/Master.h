// The master's records: the libraries it loaded, what it knows of every
// instance it created, and the state of the input being run that the rules,
// the checks and the logger share.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "FmiTypes.h"
#include "Input.h"
#include "ModelFacts.h"
#include "SlaveLibrary.h"

// The master's arrays start out holding this; a slave that must not write an
// element leaves it there.
constexpr std::uint64_t kUntouchedBits = 0x7ff4dead0000beefULL;

struct Instance;

// What differs between the FMI versions for an instance the master holds:
// each version lays out its record and calls back into it its own way.
struct InstanceRules {
    // Reads the record in place against the master's records.
    void (*checkRecord)(Instance& s);
    // The state in the record, for the logger to note.
    std::int32_t (*stateInRecord)(const Instance& s);
    // The logger's call back into the instance in the middle of a call.
    void (*callBack)(Instance& s, ReentryAction action);
};

// What the master knows of one live instance: all that the slave must hold.
struct Instance {
    int model = 0;
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
    const ModelFacts* facts = nullptr;
    // The thread's MXCSR as a master would have it while the model runs:
    // the travel stop's own setup for it, the process default for the rest.
    std::uint32_t mxcsr = 0;
};

// Several instances of every model side by side; an empty slot stands for a
// null component.
using SlotTable = std::array<std::array<std::optional<Instance>, kSlotsPerModel>, kModelCount>;

struct World {
    SlotTable slots;
    // Instances in Error moved out of their slots; they can never be freed.
    std::vector<Instance> inError;
    std::size_t calls = 0;
    unsigned generatedNames = 0;
};

inline LoadedModel loadedModels[kModelCount];
inline std::uint32_t defaultMxcsr = 0;

// The input being run, for the logger, which learns of nothing else.
inline World* currentWorld = nullptr;
// The slave's state at each logger call, recorded by the logger hook.
inline std::vector<std::int32_t> statesAtLog;
inline NestedCall nestedExpected;
inline NestedCall nestedActual;

inline unsigned long long totalCalls = 0;
inline unsigned long long totalInputs = 0;

inline const ModelFacts& factsOf(int model) {
    return *loadedModels[model].facts;
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

// The model and slot a call is made on, and the instance there: null for an
// empty slot and for the slot that stands for a null component.
struct Target {
    int model;
    int slot;
    Instance* instance;
};

inline Target readTarget(SlotTable& slots, Input& in) {
    const std::uint8_t b = in.byte();
    const int model = modelOfTarget(b);
    const int slot = slotOfTarget(b);
    Instance* instance = nullptr;
    if (slot != kNullSlot && slots[model][slot]) {
        instance = &*slots[model][slot];
    }
    return {model, slot, instance};
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
