// The fuzz target: turns its input into a sequence of FMI calls on several
// instances of every model, each model loaded as its own library the way a
// master loads it, and after every call checks all that a master can observe
// against what the slave must do:
// - the returned status, first against the set the function may return at
//   all, then against the one this call must return;
// - every logger call: component, instance name, status, category, format
//   and each typed argument, and the state the instance was in when it
//   logged;
// - every allocation request and every free, so that a block is freed only
//   by fmiFreeSlaveInstance (or by a failed instantiation), exactly once, and
//   in the fixed order;
// - the record of every live instance, read in place: state (Error stays
//   Error), flags, time, event record and every value bit for bit;
// - what the master's arrays hold afterwards, written or left alone;
// - the thread's floating-point control, which no call may change.
// The logger may be armed to call back into an instance at its next message,
// in the middle of a call, as a master's logger may. The test model that
// requests termination runs beside the deliverables; it also has one variable
// of each other type.
// At the end of an input every instance not in Error is terminated and freed,
// and exactly the blocks of the instances in Error must remain. AddressSanitizer
// catches any block touched after it was freed, including the instance name
// and GUID strings, which the master releases right after instantiation.
#include <xmmintrin.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "Callbacks.h"
#include "FmiTypes.h"
#include "ModelFacts.h"
#include "RecordingAllocator.h"
#include "RecordingLogger.h"
#include "SlaveInstance.h"
#include "SlaveLibraries.h"
#include "SlaveLibrary.h"

namespace {

constexpr const char* kInstantiate = "fmiInstantiateSlave";
constexpr std::size_t kTerminusModel = 3;
// The master's arrays start out holding this; a slave that must not write an
// element leaves it there.
constexpr std::uint64_t kUntouchedBits = 0x7ff4dead0000beefULL;

std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ------------------------------------------------------------------ the input

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const {
        return position_ >= size_;
    }
    std::uint8_t byte() {
        return position_ < size_ ? data_[position_++] : 0;
    }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return value;
    }
    std::uint64_t u64() {
        const std::uint64_t low = u32();
        return low | static_cast<std::uint64_t>(u32()) << 32;
    }
    double real() {
        std::size_t count = 0;
        const double* table = realTable(count);
        const std::uint8_t b = byte();
        return b < count ? table[b] : realFromBits(u64());
    }
    fmiValueReference valueReference() {
        const std::uint8_t b = byte();
        if (b < kSmallReferenceEnd) {
            return b % kSmallReferenceModulus;
        }
        if (b < kRawReference) {
            return kValueReferences[b - kSmallReferenceEnd];
        }
        return u32();
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// -------------------------------------------------- what the master expects

struct ExpectedArgument {
    enum class Kind { Integer, Unsigned, Real, Text, AnyText } kind = Kind::Integer;
    long long integer = 0;
    unsigned long long unsignedInteger = 0;
    std::uint64_t realBits = 0;
    std::string text;
};

ExpectedArgument integerArgument(long long value) {
    ExpectedArgument argument;
    argument.integer = value;
    return argument;
}

ExpectedArgument unsignedArgument(unsigned long long value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Unsigned;
    argument.unsignedInteger = value;
    return argument;
}

ExpectedArgument realArgument(double value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Real;
    argument.realBits = bitsOf(value);
    return argument;
}

ExpectedArgument textArgument(std::string value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Text;
    argument.text = std::move(value);
    return argument;
}

// The name a status query traces for a kind without a name is left open.
ExpectedArgument anyTextArgument() {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::AnyText;
    return argument;
}

struct ExpectedMessage {
    fmiComponent component = nullptr;
    bool nameIsNull = false;
    std::string name;
    fmiStatus status = fmiOK;
    const char* category = "";
    const char* format = "";
    std::vector<ExpectedArgument> arguments;
    // The instance's state when the logger hears of it; 0 for a message
    // with a null component.
    std::int32_t stateAtLog = 0;
};

struct Expectation {
    fmiStatus status = fmiOK;
    std::vector<ExpectedMessage> messages;
    std::vector<void*> frees;
};

// ------------------------------------------------------ the master's records

enum Block { kRecord, kReals, kIntegers, kBooleans, kStrings, kAuxFlags, kNameCopy, kBlockCount };

// What the master knows of one live instance: all that the slave must hold.
struct Instance {
    int model = 0;
    fmiComponent c = nullptr;
    std::string name;
    std::uintptr_t guid = 0;
    fmiCallbackFunctions callbacks{};
    std::int32_t state = Instantiated;
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
    std::array<void*, kBlockCount> blocks{};
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

LoadedModel loadedModels[kModelCount];
std::uint32_t defaultMxcsr = 0;

struct World {
    std::optional<Instance> slots[kModelCount][kSlotsPerModel];
    // Instances in Error moved out of their slots; they can never be freed.
    std::vector<Instance> inError;
    std::size_t calls = 0;
    unsigned generatedNames = 0;
};

// The slave's state at each logger call, recorded by the logger hook.
std::vector<std::int32_t> statesAtLog;

World* currentWorld = nullptr;
NestedCall nestedExpected;
NestedCall nestedActual;

unsigned long long totalCalls = 0;
unsigned long long totalInputs = 0;

// The last calls, for the report of a violated invariant.
struct CallNote {
    Operation operation = Operation::Count;
    int model = 0;
    int slot = 0;
};
constexpr std::size_t kHistoryLength = 16;
std::array<CallNote, kHistoryLength> history;

const char* operationName(Operation operation) {
    static const char* const names[] = {
        "fmiInstantiateSlave",
        "fmiInitializeSlave",
        "fmiSetDebugLogging",
        "fmiTerminateSlave",
        "fmiResetSlave",
        "fmiFreeSlaveInstance",
        "fmiSetReal",
        "fmiSetInteger",
        "fmiSetBoolean",
        "fmiSetString",
        "fmiGetReal",
        "fmiGetInteger",
        "fmiGetBoolean",
        "fmiGetString",
        "fmiDoStep",
        "fmiCancelStep",
        "fmiGetStatus",
        "fmiGetRealStatus",
        "fmiGetIntegerStatus",
        "fmiGetBooleanStatus",
        "fmiGetStringStatus",
        "fmiSetRealInputDerivatives",
        "fmiGetRealOutputDerivatives",
        "fmiGetVersion",
        "fmiGetTypesPlatform",
        "(logger call back armed)",
    };
    static_assert(std::size(names) == kOperationCount);
    const auto index = static_cast<std::size_t>(operation);
    return index < std::size(names) ? names[index] : "?";
}

std::size_t callNumber = 0;

[[noreturn]] void violated(const std::string& what) {
    std::fprintf(stderr, "\n*** invariant violated at call %zu of this input: %s\n", callNumber,
                 what.c_str());
    std::fprintf(stderr, "*** the calls up to it, latest last:\n");
    for (std::size_t i = kHistoryLength; i > 0; --i) {
        if (i > callNumber) {
            continue;
        }
        const CallNote& note = history[(callNumber + 1 - i) % kHistoryLength];
        std::fprintf(stderr, "***   %s_%s, slot %d\n", kModelIdentifiers[note.model],
                     operationName(note.operation), note.slot);
    }
    std::abort();
}

// The description is built only when the condition fails: most checks run
// after every call.
template <typename Describe>
void require(bool condition, Describe describe) {
    if (!condition) {
        violated(describe());
    }
}

std::string describe(const LogRecord& r) {
    std::string text =
        "{component " + std::to_string(reinterpret_cast<std::uintptr_t>(r.component)) +
        ", instance " + (r.instanceNameIsNull ? "(null)" : '"' + r.instanceName + '"') +
        ", status " + std::to_string(r.status) + ", category \"" + r.category + "\", format \"" +
        r.format + "\", text \"" + r.text + "\"}";
    return text;
}

std::string describe(const ExpectedMessage& m) {
    return "{component " + std::to_string(reinterpret_cast<std::uintptr_t>(m.component)) +
           ", instance " + (m.nameIsNull ? "(null)" : '"' + m.name + '"') + ", status " +
           std::to_string(m.status) + ", category \"" + m.category + "\", format \"" + m.format +
           "\"}";
}

bool argumentMatches(const ExpectedArgument& expected, const LogArgument& actual) {
    switch (expected.kind) {
        case ExpectedArgument::Kind::Integer:
            return (actual.conversion == 'd' || actual.conversion == 'i') &&
                   actual.integer == expected.integer;
        case ExpectedArgument::Kind::Unsigned:
            return actual.conversion == 'u' && actual.unsignedInteger == expected.unsignedInteger;
        case ExpectedArgument::Kind::Real:
            return std::strchr("fFeEgGaA", actual.conversion) != nullptr &&
                   actual.realBits == expected.realBits;
        case ExpectedArgument::Kind::Text:
            return actual.conversion == 's' && !actual.isNullString && actual.text == expected.text;
        case ExpectedArgument::Kind::AnyText:
            return actual.conversion == 's' && !actual.isNullString;
    }
    return false;
}

void checkMessage(const ExpectedMessage& expected, const LogRecord& actual, std::int32_t state,
                  std::size_t index) {
    const auto mismatch = [&](const std::string& what) {
        violated("logger call " + std::to_string(index) + " " + describe(actual) + ": " + what +
                 "; expected " + describe(expected));
    };
    if (actual.component != expected.component) {
        mismatch("wrong component");
    }
    if (actual.instanceNameIsNull != expected.nameIsNull ||
        (!expected.nameIsNull && actual.instanceName != expected.name)) {
        mismatch("wrong instance name");
    }
    if (actual.status != expected.status) {
        mismatch("wrong status");
    }
    if (actual.categoryIsNull || actual.category != expected.category) {
        mismatch("wrong category");
    }
    if (actual.messageIsNull || actual.format != expected.format) {
        mismatch("not the expected format");
    }
    if (!actual.formatProblem.empty()) {
        mismatch(actual.formatProblem);
    }
    if (actual.arguments.size() != expected.arguments.size()) {
        mismatch(std::to_string(actual.arguments.size()) + " arguments instead of " +
                 std::to_string(expected.arguments.size()));
    }
    for (std::size_t i = 0; i < expected.arguments.size(); ++i) {
        if (!argumentMatches(expected.arguments[i], actual.arguments[i])) {
            mismatch("argument " + std::to_string(i) + " (\"" + actual.arguments[i].directive +
                     "\") differs");
        }
    }
    if (expected.stateAtLog != 0 && state != expected.stateAtLog) {
        mismatch("the logger saw state " + std::to_string(state) + " instead of " +
                 std::to_string(expected.stateAtLog));
    }
}

bool mayReturn(Operation operation, fmiStatus status) {
    switch (operation) {
        case Operation::CancelStep:
        case Operation::GetStatus:
        case Operation::GetRealStatus:
        case Operation::GetIntegerStatus:
        case Operation::GetBooleanStatus:
        case Operation::GetStringStatus:
            return status == fmiError;
        case Operation::SetRealInputDerivatives:
        case Operation::GetRealOutputDerivatives:
            return status == fmiWarning || status == fmiError;
        default:
            return status == fmiOK || status == fmiError;
    }
}

// The record of an instance, read in place, against the master's records.
void checkInstance(const Instance& s) {
    const auto& r = *static_cast<const SlaveInstance*>(s.c);
    const auto who = [&s] {
        return std::string(kModelIdentifiers[s.model]) + " instance \"" + s.name + "\"";
    };
    require(r.slaveState == s.state, [&] {
        return std::string(who() + ": state " + std::to_string(r.slaveState) + " instead of " +
                           std::to_string(s.state));
    });
    require(!s.seenInError || r.slaveState == Error,
            [&] { return who() + ": left Error for state " + std::to_string(r.slaveState); });
    require(r.loggingFlag == s.logging,
            [&] { return std::string(who() + ": logging flag differs"); });
    require(r.realValues == s.blocks[kReals] && r.integerValues == s.blocks[kIntegers] &&
                static_cast<void*>(r.booleanValues) == s.blocks[kBooleans] &&
                static_cast<const void*>(r.stringValues) == s.blocks[kStrings] &&
                r.auxFlags == s.blocks[kAuxFlags] && r.instanceNameCopy == s.blocks[kNameCopy],
            [&] { return std::string(who() + ": the record no longer points at its blocks"); });
    require(std::strcmp(r.instanceNameCopy, s.name.c_str()) == 0,
            [&] { return std::string(who() + ": name copy changed"); });
    require(reinterpret_cast<std::uintptr_t>(r.guidRef) == s.guid,
            [&] { return std::string(who() + ": GUID pointer changed"); });
    require(r.callbacks.logger == s.callbacks.logger &&
                r.callbacks.allocateMemory == s.callbacks.allocateMemory &&
                r.callbacks.freeMemory == s.callbacks.freeMemory &&
                r.callbacks.stepFinished == s.callbacks.stepFinished,
            [&] { return std::string(who() + ": callbacks changed"); });
    require(bitsOf(r.currentTime) == bitsOf(s.currentTime),
            [&] { return std::string(who() + ": current time differs"); });
    const fmiEventInfo& events = r.eventRecord;
    const fmiBoolean armed = s.eventsArmed ? fmiTrue : fmiFalse;
    require(events.iterationConverged == armed && events.stateValueReferencesChanged == fmiFalse &&
                events.stateValuesChanged == fmiFalse && events.upcomingTimeEvent == armed &&
                bitsOf(events.nextEventTime) == bitsOf(s.eventsArmed ? -1.0 : 0.0) &&
                events.terminateSimulation == (s.terminate ? fmiTrue : fmiFalse),
            [&] { return std::string(who() + ": event record differs"); });
    for (std::size_t i = 0; i < s.integers.size(); ++i) {
        require(r.integerValues[i] == s.integers[i] && r.booleanValues[i] == s.booleans[i] &&
                    r.stringValues[i] == s.strings[i],
                [&] { return who() + ": a variable of another type differs"; });
    }
    for (std::size_t i = 0; i < s.reals.size(); ++i) {
        require(bitsOf(r.realValues[i]) == bitsOf(s.reals[i]),
                [&] { return std::string(who() + ": real " + std::to_string(i) + " differs"); });
    }
}

void checkAllInstances(World& world) {
    for (auto& model : world.slots) {
        for (auto& slot : model) {
            if (slot) {
                checkInstance(*slot);
                slot->seenInError = slot->seenInError || slot->state == Error;
            }
        }
    }
    for (Instance& s : world.inError) {
        checkInstance(s);
        s.seenInError = true;
    }
}

// ----------------------------------------------------------- one checked call

// Brackets one FMI call: clears the recorders before it, and afterwards checks
// the status, the messages, the allocator and every instance.
class Call {
  public:
    Call(World& world, Operation operation, int model, int slot) : world_(world), model_(model) {
        ++world.calls;
        ++totalCalls;
        callNumber = world.calls;
        history[callNumber % kHistoryLength] = {operation, model, slot};
        operation_ = operation;
        logRecorder().clear();
        statesAtLog.clear();
        nestedExpected = NestedCall{};
        nestedExpected.valueBits = kUntouchedBits;
        nestedActual = nestedExpected;
        requestsBefore_ = recordingAllocator().requestCount();
        freesBefore_ = recordingAllocator().frees().size();
        _mm_setcsr(loadedModels[model].mxcsr);
    }
    ~Call() {
        _mm_setcsr(defaultMxcsr);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    const FmiFunctions& fmi() const {
        return loadedModels[model_].library.fmi();
    }

    // For the calls that return a status.
    void check(fmiStatus actual, const Expectation& expected) const {
        require(mayReturn(operation_, actual), [&] {
            return std::string(std::string(operationName(operation_)) + " returned " +
                               std::to_string(actual) + ", which it may never return");
        });
        require(actual == expected.status, [&] {
            return std::string(std::string(operationName(operation_)) + " returned " +
                               std::to_string(actual) + " instead of " +
                               std::to_string(expected.status));
        });
        checkEffects(expected, false);
    }

    // For fmiFreeSlaveInstance, which returns nothing, and for instantiation,
    // the one call that may request memory.
    void checkEffects(const Expectation& expected, bool mayAllocate) const {
        // Only the sticky exception flags may change: no call touches the
        // floating-point control.
        constexpr std::uint32_t kExceptionFlags = 0x3F;
        const std::uint32_t mxcsr = _mm_getcsr();
        require((mxcsr & ~kExceptionFlags) == (loadedModels[model_].mxcsr & ~kExceptionFlags),
                [&] { return "MXCSR changed to " + std::to_string(mxcsr); });
        const std::vector<LogRecord> records = logRecorder().records();
        for (std::size_t i = 0; i < records.size() && i < expected.messages.size(); ++i) {
            checkMessage(expected.messages[i], records[i], statesAtLog[i], i);
        }
        if (records.size() != expected.messages.size()) {
            std::string what = std::to_string(records.size()) + " logger calls instead of " +
                               std::to_string(expected.messages.size()) + ":";
            for (const LogRecord& record : records) {
                what += "\n    " + describe(record);
            }
            violated(what);
        }
        RecordingAllocator& allocator = recordingAllocator();
        require(mayAllocate || allocator.requestCount() == requestsBefore_, [&] {
            return std::string(std::string(operationName(operation_)) + " requested memory");
        });
        const std::vector<void*> frees = allocator.frees();
        const std::vector<void*> made(frees.begin() + static_cast<std::ptrdiff_t>(freesBefore_),
                                      frees.end());
        require(made == expected.frees, [&] {
            return std::string(std::to_string(made.size()) + " blocks freed instead of the " +
                               std::to_string(expected.frees.size()) +
                               " expected, or not in order");
        });
        const std::vector<std::string> problems = allocator.problems();
        require(problems.empty(), [&] {
            return std::string(problems.empty() ? "" : "allocator: " + problems.front());
        });
        require(stepFinishedCalls() == 0, [&] { return std::string("stepFinished was called"); });
        require(nestedActual.happened == nestedExpected.happened &&
                    nestedActual.status == nestedExpected.status &&
                    nestedActual.valueBits == nestedExpected.valueBits,
                [&] {
                    return std::string("the call back from the logger ") +
                           (nestedExpected.happened ? "" : "was not due, but ") +
                           (nestedActual.happened
                                ? "returned " + std::to_string(nestedActual.status)
                                : "did not happen");
                });
        checkAllInstances(world_);
    }

  private:
    World& world_;
    int model_;
    Operation operation_ = Operation::Count;
    std::size_t requestsBefore_ = 0;
    std::size_t freesBefore_ = 0;
};

// -------------------------------------------------- the rules, call by call

ExpectedMessage errorMessage(const Instance& s, const char* format,
                             std::vector<ExpectedArgument> arguments, std::int32_t stateAtLog) {
    return {s.c, false, s.name, fmiError, "error", format, std::move(arguments), stateAtLog};
}

// A message that goes out with a null component and the instance's name.
ExpectedMessage refusalMessage(const Instance& s, const char* category, const char* format,
                               std::vector<ExpectedArgument> arguments) {
    return {nullptr, false, s.name, fmiError, category, format, std::move(arguments), 0};
}

void simulateReentry(Instance& s, Expectation& e);

// A message with the instance as its component: the logger may call back
// into the instance right there, before the slave goes on.
void emit(Instance& s, Expectation& e, ExpectedMessage message) {
    e.messages.push_back(std::move(message));
    if (s.reentry != kReentryNone) {
        simulateReentry(s, e);
    }
}

void trace(Instance& s, Expectation& e, const char* format,
           std::vector<ExpectedArgument> arguments = {}) {
    if (s.logging != fmiFalse) {
        emit(s, e, {s.c, false, s.name, fmiOK, "log", format, std::move(arguments), s.state});
    }
}

// The opening of every call that takes a component: a null one is refused
// silently, a state outside the mask puts the instance into Error before it
// is logged. True when the call goes on to its own work.
bool opens(Instance* s, const char* function, StateMask mask, Expectation& e) {
    e.status = fmiError;
    if (s == nullptr) {
        return false;
    }
    if ((s->state & mask) != 0) {
        e.status = fmiOK;
        return true;
    }
    s->state = Error;
    emit(*s, e, errorMessage(*s, "%s: Illegal call sequence.", {textArgument(function)}, Error));
    return false;
}

void refuseNull(Instance& s, Expectation& e, const char* function, const char* argument) {
    s.state = Error;
    emit(s, e,
         errorMessage(s, "%s: Invalid argument %s = NULL.",
                      {textArgument(function), textArgument(argument)}, Error));
    e.status = fmiError;
}

// Logged while the instance still has its state of before; Error afterwards.
void refuseReference(Instance& s, Expectation& e, const char* function, fmiValueReference vr) {
    emit(s, e,
         errorMessage(s, "%s: Illegal value reference %u.",
                      {textArgument(function), unsignedArgument(vr)}, s.state));
    s.state = Error;
    e.status = fmiError;
}

const ModelFacts& factsOf(int model) {
    return *loadedModels[model].facts;
}

// The call back from the logger, as the master expects it: a call like any
// other, made at that point of the outer call. The logger hook cannot note
// the state for the messages of the nested call, so they are not checked
// for it.
void simulateReentry(Instance& s, Expectation& e) {
    const ReentryAction action = s.reentry;
    s.reentry = kReentryNone;
    nestedExpected.happened = true;
    Expectation nested;
    const fmiValueReference vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            if (opens(&s, "fmiSetDebugLogging", kAnyLiveState, nested)) {
                trace(s, nested, "fmiSetDebugLogging: loggingOn=%d",
                      {integerArgument(static_cast<signed char>(s.reentryFlag))});
                s.logging = s.reentryFlag;
            }
            break;
        case kReentrySetReal:
            if (opens(&s, "fmiSetReal", kBeforeTermination, nested)) {
                trace(s, nested, "fmiSetReal: nvr = %d", {integerArgument(1)});
                if (vr >= s.reals.size()) {
                    refuseReference(s, nested, "fmiSetReal", vr);
                } else {
                    trace(s, nested, "fmiSetReal: #r%d# = %.16g",
                          {integerArgument(static_cast<int>(vr)), realArgument(s.reentryValue)});
                    s.reals[vr] = s.reentryValue;
                }
            }
            break;
        case kReentryGetReal:
            if (opens(&s, "fmiGetReal", kAnyLiveState, nested)) {
                if (vr >= s.reals.size()) {
                    refuseReference(s, nested, "fmiGetReal", vr);
                } else {
                    nestedExpected.valueBits = bitsOf(s.reals[vr]);
                    trace(s, nested, "fmiGetReal: #r%u# = %.16g",
                          {unsignedArgument(vr), realArgument(s.reals[vr])});
                }
            }
            break;
        default:
            break;
    }
    nestedExpected.status = nested.status;
    for (ExpectedMessage& message : nested.messages) {
        message.stateAtLog = 0;
        e.messages.push_back(std::move(message));
    }
}

// The logger's side: at the first message with an armed instance as its
// component, the call back into it.
Instance* findInstance(World& world, fmiComponent c) {
    for (auto& model : world.slots) {
        for (auto& slot : model) {
            if (slot && slot->c == c) {
                return &*slot;
            }
        }
    }
    for (Instance& s : world.inError) {
        if (s.c == c) {
            return &s;
        }
    }
    return nullptr;
}

void callBackFromLogger(const LogRecord& record) {
    statesAtLog.push_back(record.component != nullptr
                              ? static_cast<const SlaveInstance*>(record.component)->slaveState
                              : 0);
    if (record.component == nullptr || currentWorld == nullptr) {
        return;
    }
    Instance* s = findInstance(*currentWorld, record.component);
    if (s == nullptr || s->armed == kReentryNone) {
        return;
    }
    const ReentryAction action = s->armed;
    s->armed = kReentryNone;
    const FmiFunctions& f = loadedModels[s->model].library.fmi();
    const std::size_t before = logRecorder().size();
    nestedActual.happened = true;
    fmiValueReference vr = s->reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            nestedActual.status = f.setDebugLogging(s->c, s->reentryFlag);
            break;
        case kReentrySetReal: {
            const fmiReal value = s->reentryValue;
            nestedActual.status = f.setReal(s->c, &vr, 1, &value);
            break;
        }
        case kReentryGetReal: {
            fmiReal value = realFromBits(kUntouchedBits);
            nestedActual.status = f.getReal(s->c, &vr, 1, &value);
            nestedActual.valueBits = bitsOf(value);
            break;
        }
        default:
            break;
    }
    // The messages of the nested call did not pass through this hook.
    statesAtLog.insert(statesAtLog.end(), logRecorder().size() - before, 0);
}

fmiComponent componentOf(const Instance* s) {
    return s != nullptr ? s->c : nullptr;
}

void applyStartValues(Instance& s) {
    const ModelFacts& facts = factsOf(s.model);
    for (std::size_t i = 0; i < facts.startValues.size(); ++i) {
        if (facts.startValues[i]) {
            s.reals[i] = *facts.startValues[i];
        }
    }
}

// The event update of the instance's model, on the master's copy.
void updateAtEvent(Instance& s) {
    factsOf(s.model).equation(s.reals);
    // The test model also asks to end the simulation once its input is set.
    if (static_cast<std::size_t>(s.model) == kTerminusModel && s.reals[0] != 0.0) {
        s.terminate = true;
    }
}

void callInitialize(World& world, int model, int slot, Instance* s, fmiReal tStart,
                    fmiBoolean stopTimeDefined, fmiReal tStop) {
    Call call(world, Operation::Initialize, model, slot);
    Expectation e;
    if (opens(s, "fmiInitializeSlave", kInstantiatedOnly, e)) {
        trace(*s, e, "%s: toleranceControlled=%d relativeTolerance=%g",
              {textArgument("fmiInitializeSlave"), integerArgument(0), realArgument(0.0)});
        s->eventsArmed = true;
        s->terminate = false;
        s->state = Initialized;
    }
    call.check(call.fmi().initializeSlave(componentOf(s), tStart, stopTimeDefined, tStop), e);
}

void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmiBoolean loggingOn) {
    Call call(world, Operation::SetDebugLogging, model, slot);
    Expectation e;
    if (opens(s, "fmiSetDebugLogging", kAnyLiveState, e)) {
        trace(*s, e, "fmiSetDebugLogging: loggingOn=%d",
              {integerArgument(static_cast<signed char>(loggingOn))});
        s->logging = loggingOn;
    }
    call.check(call.fmi().setDebugLogging(componentOf(s), loggingOn), e);
}

void callTerminate(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Terminate, model, slot);
    Expectation e;
    if (opens(s, "fmiTerminateSlave", kInitializedOnly, e)) {
        trace(*s, e, "fmiTerminateSlave");
        s->state = Terminated;
    }
    call.check(call.fmi().terminateSlave(componentOf(s)), e);
}

void callReset(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Reset, model, slot);
    Expectation e;
    if (opens(s, "fmiResetSlave", kInitializedOnly, e)) {
        trace(*s, e, "fmiResetSlave");
        s->state = Instantiated;
        applyStartValues(*s);
    }
    call.check(call.fmi().resetSlave(componentOf(s)), e);
}

// A freed instance leaves its slot, so that its record is no longer read.
void callFree(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Free, model, slot);
    Expectation e;
    const bool frees = opens(s, "fmiFreeSlaveInstance", kTerminatedOnly, e);
    if (frees) {
        trace(*s, e, "fmiFreeSlaveInstance");
        e.frees = {s->blocks[kNameCopy], s->blocks[kReals],   s->blocks[kIntegers],
                   s->blocks[kBooleans], s->blocks[kStrings], s->blocks[kAuxFlags],
                   s->blocks[kRecord]};
    }
    call.fmi().freeSlaveInstance(componentOf(s));
    if (frees) {
        world.slots[model][slot].reset();
    }
    call.checkEffects(e, false);
}

template <typename Value>
std::unique_ptr<Value[]> masterArray(std::size_t n, Value fill) {
    std::unique_ptr<Value[]> array(new Value[n]);
    std::fill(array.get(), array.get() + n, fill);
    return array;
}

// fmiSetReal and fmiGetReal: the elements in order, each reference checked
// just before it is used, nothing rolled back.
void callSetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, const fmiReal* value) {
    constexpr const char* function = "fmiSetReal";
    Call call(world, Operation::SetReal, model, slot);
    Expectation e;
    if (opens(s, function, kBeforeTermination, e)) {
        if (nvr == 0) {
            trace(*s, e, "fmiSetReal: nvr = %d", {integerArgument(0)});
        } else if (vr == nullptr) {
            refuseNull(*s, e, function, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, function, "value[]");
        } else {
            trace(*s, e, "fmiSetReal: nvr = %d", {integerArgument(static_cast<int>(nvr))});
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= s->reals.size()) {
                    refuseReference(*s, e, function, vr[i]);
                    break;
                }
                trace(*s, e, "fmiSetReal: #r%d# = %.16g",
                      {integerArgument(static_cast<int>(vr[i])), realArgument(value[i])});
                s->reals[vr[i]] = value[i];
            }
        }
    }
    call.check(call.fmi().setReal(componentOf(s), vr, nvr, value), e);
}

void callGetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, fmiReal* value) {
    constexpr const char* function = "fmiGetReal";
    Call call(world, Operation::GetReal, model, slot);
    Expectation e;
    std::vector<std::uint64_t> expectedBits;
    if (value != nullptr) {
        for (std::size_t i = 0; i < nvr; ++i) {
            expectedBits.push_back(bitsOf(value[i]));
        }
    }
    if (opens(s, function, kAnyLiveState, e) && nvr != 0) {
        if (vr == nullptr) {
            refuseNull(*s, e, function, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, function, "value[]");
        } else {
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= s->reals.size()) {
                    refuseReference(*s, e, function, vr[i]);
                    break;
                }
                expectedBits[i] = bitsOf(s->reals[vr[i]]);
                trace(*s, e, "fmiGetReal: #r%u# = %.16g",
                      {unsignedArgument(vr[i]), realArgument(s->reals[vr[i]])});
            }
        }
    }
    call.check(call.fmi().getReal(componentOf(s), vr, nvr, value), e);
    for (std::size_t i = 0; i < expectedBits.size(); ++i) {
        require(bitsOf(value[i]) == expectedBits[i], [&] {
            return std::string("fmiGetReal: value[" + std::to_string(i) +
                               "] is not what it must hold");
        });
    }
}

// The integer, boolean and string variants. The deliverables have no such
// variables, so the first element is refused, after the nvr trace of the Set
// functions; the test model has one of each. No element is traced.
template <typename Value, typename Function>
void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, Value* value,
                   std::vector<Value> Instance::*stored, Function function) {
    const char* name = operationName(operation);
    const bool isSet = operation == Operation::SetInteger || operation == Operation::SetBoolean ||
                       operation == Operation::SetString;
    static const std::string setTraces[] = {"fmiSetInteger: nvr = %d", "fmiSetBoolean: nvr = %d",
                                            "fmiSetString: nvr = %d"};
    const char* nvrTrace =
        isSet ? setTraces[static_cast<int>(operation) - static_cast<int>(Operation::SetInteger)]
                    .c_str()
              : nullptr;
    const std::uint32_t count = kOtherTypeCounts[model];
    Call call(world, operation, model, slot);
    Expectation e;
    // What value[] must hold afterwards: a Set leaves it alone.
    std::vector<Value> expected;
    if (value != nullptr) {
        expected.assign(value, value + nvr);
    }
    if (opens(s, name, isSet ? kBeforeTermination : kAnyLiveState, e)) {
        if (nvr == 0) {
            if (isSet) {
                trace(*s, e, nvrTrace, {integerArgument(0)});
            }
        } else if (vr == nullptr) {
            refuseNull(*s, e, name, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, name, "value[]");
        } else {
            if (isSet) {
                trace(*s, e, nvrTrace, {integerArgument(static_cast<int>(nvr))});
            }
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= count) {
                    refuseReference(*s, e, name, vr[i]);
                    break;
                }
                if (isSet) {
                    ((*s).*stored)[vr[i]] = value[i];
                } else {
                    expected[i] = ((*s).*stored)[vr[i]];
                }
            }
        }
    }
    call.check(function(call.fmi(), componentOf(s), vr, nvr, value), e);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        require(std::memcmp(&value[i], &expected[i], sizeof expected[i]) == 0,
                [&] { return std::string(name) + ": value[" + std::to_string(i) + "] is wrong"; });
    }
}

void callDoStep(World& world, int model, int slot, Instance* s, fmiReal communicationPoint,
                fmiReal stepSize, fmiBoolean newStep) {
    Call call(world, Operation::DoStep, model, slot);
    Expectation e;
    if (opens(s, "fmiDoStep", kInitializedOnly, e)) {
        trace(*s, e,
              "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
              "newStep = fmi%s",
              {realArgument(communicationPoint), realArgument(stepSize),
               textArgument(newStep != fmiFalse ? "True" : "False")});
        if (stepSize != 0.0) {
            // Computed here under the MXCSR the slave runs with.
            const fmiReal h = factsOf(model).substep(stepSize);
            fmiReal t = communicationPoint;
            for (int substep = 0; substep < 10; ++substep) {
                t += h;
                s->currentTime = t;
                if (t > -1.0) {
                    trace(*s, e, "fmiDoStep: time event detected at %g", {realArgument(t)});
                    updateAtEvent(*s);
                }
                if (s->terminate) {
                    emit(*s, e,
                         {s->c,
                          false,
                          s->name,
                          fmiOK,
                          "log",
                          "fmiDoStep: model requested termination at t=%g",
                          {realArgument(s->currentTime)},
                          s->state});
                    e.status = fmiError;
                    break;
                }
            }
        }
    }
    call.check(call.fmi().doStep(componentOf(s), communicationPoint, stepSize, newStep), e);
}

void callCancelStep(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::CancelStep, model, slot);
    Expectation e;
    if (opens(s, "fmiCancelStep", kInitializedOnly, e)) {
        trace(*s, e, "fmiCancelStep");
        e.messages.push_back(refusalMessage(
            *s, "error",
            "fmiCancelStep: Can be called when fmiDoStep returned fmiPending. This is not the "
            "case.",
            {}));
        e.status = fmiError;
    }
    call.check(call.fmi().cancelStep(componentOf(s)), e);
}

// The value of a status query is never written; each type has its own
// untouched pattern.
struct StatusValues {
    fmiStatus status = static_cast<fmiStatus>(0x5a5a5a5a);
    fmiReal real = realFromBits(kUntouchedBits);
    fmiInteger integer = 0x5a5a5a5a;
    fmiBoolean boolean = 0x5a;
    fmiString string = "untouched";
};

void callStatus(World& world, Operation operation, int model, int slot, Instance* s,
                fmiStatusKind kind, bool nullValue) {
    const char* name = operationName(operation);
    Call call(world, operation, model, slot);
    Expectation e;
    if (opens(s, name, kBeforeTermination, e)) {
        static const char* const kindNames[] = {"fmiDoStepStatus", "fmiPendingStatus",
                                                "fmiLastSuccessfulTime"};
        static const char* const formats[] = {
            "%s: Can be called with fmiDoStepStatus when fmiDoStep returned fmiPending. This is "
            "not the case.",
            "%s: Can be called with fmiPendingStatus when fmiDoStep returned fmiPending. This "
            "is not the case.",
            "%s: Can be called with fmiLastSuccessfulTime when fmiDoStep returned fmiDiscard. "
            "This is not the case."};
        const bool known = kind >= 0 && kind <= 2;
        trace(*s, e, "%s: fmiStatusKind = %s",
              {textArgument(name), known ? textArgument(kindNames[kind]) : anyTextArgument()});
        if (known) {
            e.messages.push_back(refusalMessage(*s, "error", formats[kind], {textArgument(name)}));
        }
        e.status = fmiError;
    }
    const std::unique_ptr<StatusValues> values(new StatusValues);
    const fmiComponent c = componentOf(s);
    const FmiFunctions& f = call.fmi();
    fmiStatus status = fmiOK;
    switch (operation) {
        case Operation::GetStatus:
            status = f.getStatus(c, kind, nullValue ? nullptr : &values->status);
            break;
        case Operation::GetRealStatus:
            status = f.getRealStatus(c, kind, nullValue ? nullptr : &values->real);
            break;
        case Operation::GetIntegerStatus:
            status = f.getIntegerStatus(c, kind, nullValue ? nullptr : &values->integer);
            break;
        case Operation::GetBooleanStatus:
            status = f.getBooleanStatus(c, kind, nullValue ? nullptr : &values->boolean);
            break;
        default:
            status = f.getStringStatus(c, kind, nullValue ? nullptr : &values->string);
            break;
    }
    call.check(status, e);
    const StatusValues untouched;
    require(values->status == untouched.status && bitsOf(values->real) == bitsOf(untouched.real) &&
                values->integer == untouched.integer && values->boolean == untouched.boolean &&
                values->string == untouched.string,
            [&] { return std::string(std::string(name) + " wrote its value"); });
}

void callSetRealInputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                 const fmiValueReference* vr, const fmiInteger* order,
                                 const fmiReal* value) {
    Call call(world, Operation::SetRealInputDerivatives, model, slot);
    Expectation e;
    if (opens(s, "fmiSetRealInputDerivatives", kInitializedOnly, e)) {
        trace(*s, e, "fmiSetRealInputDerivatives: nvr= %d",
              {integerArgument(static_cast<int>(nvr))});
        e.messages.push_back(refusalMessage(
            *s, "warning",
            "fmiSetRealInputDerivatives: ignoring function call. This model cannot interpolate "
            "inputs: canInterpolateInputs=\"fmiFalse\"",
            {}));
        e.status = fmiWarning;
    }
    call.check(call.fmi().setRealInputDerivatives(componentOf(s), vr, nvr, order, value), e);
}

void callGetRealOutputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                  const fmiValueReference* vr, const fmiInteger* order,
                                  fmiReal* value) {
    constexpr const char* function = "fmiGetRealOutputDerivatives";
    Call call(world, Operation::GetRealOutputDerivatives, model, slot);
    Expectation e;
    bool zeroed = false;
    if (opens(s, function, kInitializedOnly, e)) {
        trace(*s, e, "fmiGetRealOutputDerivatives: nvr= %d",
              {integerArgument(static_cast<int>(nvr))});
        if (nvr > 0 && value == nullptr) {
            // Left open by the FMI rules; refused like a null array of the
            // value-access calls rather than written through.
            refuseNull(*s, e, function, "value[]");
        } else {
            e.messages.push_back(refusalMessage(
                *s, "warning",
                "fmiGetRealOutputDerivatives: ignoring function call. This model cannot compute "
                "derivatives of outputs: MaxOutputDerivativeOrder=\"0\"",
                {}));
            e.status = fmiWarning;
            zeroed = true;
        }
    }
    call.check(call.fmi().getRealOutputDerivatives(componentOf(s), vr, nvr, order, value), e);
    if (value != nullptr) {
        for (std::size_t i = 0; i < nvr; ++i) {
            require(bitsOf(value[i]) == (zeroed ? 0 : kUntouchedBits), [&] {
                return std::string("fmiGetRealOutputDerivatives: value[" + std::to_string(i) +
                                   "] is wrong");
            });
        }
    }
}

void callVersion(World& world, Operation operation, int model) {
    Call call(world, operation, model, kNullSlot);
    const char* text = operation == Operation::GetVersion ? call.fmi().getVersion()
                                                          : call.fmi().getTypesPlatform();
    const char* expected = operation == Operation::GetVersion ? "1.0" : "standard32";
    require(text != nullptr && std::strcmp(text, expected) == 0, [&] {
        return std::string(std::string(operationName(operation)) + " answered something else");
    });
    call.checkEffects(Expectation{}, false);
}

// Brings an instance that is not in Error through terminate to free; one in
// Error stays with the others in Error for good.
void retire(World& world, int model, int slot) {
    std::optional<Instance>& occupant = world.slots[model][slot];
    if (!occupant) {
        return;
    }
    if (occupant->state == Error) {
        world.inError.push_back(*occupant);
        occupant.reset();
        return;
    }
    if (occupant->state == Instantiated) {
        callInitialize(world, model, slot, &*occupant, 0.0, fmiFalse, 0.0);
    }
    if (occupant->state == Initialized) {
        callTerminate(world, model, slot, &*occupant);
    }
    callFree(world, model, slot, &*occupant);
    if (occupant) {
        violated("a Terminated instance was not freed");
    }
}

struct InstantiateArguments {
    NameKind nameKind = kNameGenerated;
    std::string inputName;
    GuidKind guidKind = kGuidOwn;
    std::uint8_t callbacks = 0;
    fmiBoolean loggingOn = fmiFalse;
    std::uint8_t allocation = 0;
    std::uint8_t extras = 0;
    fmiReal timeout = 0.0;
};

// A C string in a block of its own that the master releases right after the
// call, so that a slave reading it later is caught.
std::unique_ptr<char[]> masterString(const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a) {
    retire(world, model, slot);
    const ModelFacts& facts = factsOf(model);
    RecordingAllocator& allocator = recordingAllocator();
    allocator.reset();

    std::set<std::size_t> failing;
    std::size_t failingFrom = 0;
    bool failZeroBytes = false;
    if (a.allocation >= kAllocationFaults) {
        const unsigned k = a.allocation & 0x0F;
        if (k >= 1 && k <= 7) {
            failing.insert(k);
            allocator.failRequest(k);
        } else if (k == kFailZeroBytes) {
            failZeroBytes = true;
            allocator.failZeroByteRequests(true);
        } else if (k > kFailZeroBytes) {
            failingFrom = k - kFailZeroBytes;
            allocator.failRequestsFrom(failingFrom);
        }
    }
    const auto fails = [&](std::size_t request, std::size_t bytes) {
        return failing.count(request) != 0 || (failingFrom != 0 && request >= failingFrom) ||
               (failZeroBytes && bytes == 0);
    };

    std::unique_ptr<char[]> name;
    switch (a.nameKind) {
        case kNameGenerated:
            name = masterString("instance" + std::to_string(++world.generatedNames));
            break;
        case kNameFromInput:
            name = masterString(a.inputName);
            break;
        case kNameEmpty:
            name = masterString("");
            break;
        default:
            break;
    }
    std::unique_ptr<char[]> guid;
    switch (a.guidKind) {
        case kGuidOwn:
            guid = masterString(facts.guid);
            break;
        case kGuidUpperCase: {
            std::string upper = facts.guid;
            for (char& ch : upper) {
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            guid = masterString(upper);
            break;
        }
        case kGuidOtherModel:
            guid = masterString(factsOf((model + 1) % kModelCount).guid);
            break;
        default:
            break;
    }
    fmiCallbackFunctions functions = recordingCallbacks();
    if (a.callbacks >= kCallbacksTampered) {
        if ((a.callbacks & kNoLogger) != 0) {
            functions.logger = nullptr;
        }
        if ((a.callbacks & kNoAllocate) != 0) {
            functions.allocateMemory = nullptr;
        }
        if ((a.callbacks & kNoFree) != 0) {
            functions.freeMemory = nullptr;
        }
    }
    if ((a.callbacks & kNoStepFinished) != 0) {
        functions.stepFinished = nullptr;
    }

    Call call(world, Operation::Instantiate, model, slot);
    Expectation e;
    const std::string nameText = name ? name.get() : "";
    const auto refuse = [&](const char* format, std::vector<ExpectedArgument> arguments) {
        arguments.insert(arguments.begin(), textArgument(kInstantiate));
        e.messages.push_back({nullptr, name == nullptr, nameText, fmiError, "error", format,
                              std::move(arguments), 0});
    };
    std::vector<std::pair<std::size_t, std::size_t>> requests;
    bool created = false;
    bool blocksFailed = false;
    if (functions.logger == nullptr) {
        // Nothing at all: no message can be written.
    } else if (functions.allocateMemory == nullptr || functions.freeMemory == nullptr) {
        refuse("%s: Missing callback function.", {});
    } else if (nameText.empty()) {
        refuse("%s: Missing instance name.", {});
    } else if (!guid) {
        refuse("%s: Invalid argument %s = NULL.", {textArgument("fmuGUID")});
    } else if (guid.get() != facts.guid) {
        refuse("%s: Wrong GUID %s. Expected %s.",
               {textArgument(guid.get()), textArgument(facts.guid)});
    } else {
        requests.emplace_back(1, sizeof(SlaveInstance));
        if (fails(1, sizeof(SlaveInstance))) {
            refuse("%s: Out of memory.", {});
        } else {
            const std::size_t others = kOtherTypeCounts[model];
            requests.insert(requests.end(), {{facts.realCount(), sizeof(fmiReal)},
                                             {others, sizeof(fmiInteger)},
                                             {others, sizeof(fmiBoolean)},
                                             {others, sizeof(fmiString)},
                                             {others, 1},
                                             {nameText.size() + 1, 1}});
            for (std::size_t k = 2; k <= requests.size(); ++k) {
                blocksFailed =
                    blocksFailed || fails(k, requests[k - 1].first * requests[k - 1].second);
            }
            if (blocksFailed) {
                refuse("%s: Out of memory.", {});
            } else {
                created = true;
                if (a.loggingOn != fmiFalse) {
                    e.messages.push_back({nullptr,
                                          false,
                                          nameText,
                                          fmiOK,
                                          "log",
                                          "%s: GUID=%s",
                                          {textArgument(kInstantiate), textArgument(facts.guid)},
                                          0});
                }
            }
        }
    }

    const bool noLocation = (a.extras & 1) != 0;
    const fmiComponent c = call.fmi().instantiateSlave(
        name.get(), guid.get(), noLocation ? nullptr : "file:///nowhere",
        (a.extras & 2) != 0 ? nullptr : "application/x-fmu-sharedlibrary", a.timeout,
        static_cast<fmiBoolean>(a.extras >> 2 & 1), static_cast<fmiBoolean>(a.extras >> 3 & 1),
        functions, a.loggingOn);
    const std::uintptr_t guidAddress = reinterpret_cast<std::uintptr_t>(guid.get());
    // The master's strings go at once: the slave must hold its own name copy
    // and never read the GUID again.
    name.reset();
    guid.reset();

    const std::vector<AllocationRequest> made = allocator.requests();
    require(made.size() == requests.size(), [&] {
        return std::string(std::to_string(made.size()) + " allocation requests instead of " +
                           std::to_string(requests.size()));
    });
    for (std::size_t k = 0; k < made.size(); ++k) {
        require(made[k].nobj == requests[k].first && made[k].size == requests[k].second, [&] {
            return std::string("allocation request " + std::to_string(k + 1) +
                               " asks for the wrong size");
        });
        require((made[k].result == nullptr) == fails(k + 1, requests[k].first * requests[k].second),
                [&] {
                    return std::string("allocation request " + std::to_string(k + 1) +
                                       " was not answered as planned");
                });
    }
    if (blocksFailed) {
        // Everything obtained goes back, in the order fmiFreeSlaveInstance
        // uses, and the record last.
        for (const std::size_t k : {kNameCopy, kReals, kIntegers, kBooleans, kStrings, kAuxFlags}) {
            if (made[k].result != nullptr) {
                e.frees.push_back(made[k].result);
            }
        }
        e.frees.push_back(made[kRecord].result);
    }
    if (!created) {
        require(c == nullptr,
                [&] { return std::string("a refused instantiation returned an instance"); });
        call.checkEffects(e, true);
        return;
    }
    require(c != nullptr && c == made[kRecord].result,
            [&] { return std::string("instantiation did not return the record it obtained"); });
    Instance s;
    s.model = model;
    s.c = c;
    s.name = nameText;
    s.guid = guidAddress;
    s.callbacks = functions;
    s.state = Instantiated;
    s.logging = a.loggingOn;
    s.reals = facts.freshValues();
    s.integers.assign(kOtherTypeCounts[model], 0);
    s.booleans.assign(kOtherTypeCounts[model], fmiFalse);
    s.strings.assign(kOtherTypeCounts[model], nullptr);
    for (std::size_t k = 0; k < kBlockCount; ++k) {
        s.blocks[k] = made[k].result;
    }
    world.slots[model][slot] = s;
    call.checkEffects(e, true);
}

// ------------------------------------------------------ decoding the input

std::size_t readNvr(Input& in, bool& huge) {
    const std::uint8_t b = in.byte();
    huge = b >= kHugeNvr;
    return huge ? kHugeNvrs[b & 3] : b % (kMaxNvr + 1);
}

std::uint8_t readNullArrays(Input& in) {
    const std::uint8_t b = in.byte();
    return b >= kArraysTampered ? b & 7 : 0;
}

struct Target {
    int model;
    int slot;
    Instance* instance;
};

Target readTarget(World& world, Input& in) {
    const std::uint8_t b = in.byte();
    const int model = modelOfTarget(b);
    const int slot = slotOfTarget(b);
    Instance* instance = nullptr;
    if (slot != kNullSlot && world.slots[model][slot]) {
        instance = &*world.slots[model][slot];
    }
    return {model, slot, instance};
}

void runOne(World& world, Input& in) {
    const auto operation = static_cast<Operation>(in.byte() % kOperationCount);
    switch (operation) {
        case Operation::Instantiate: {
            const std::uint8_t b = in.byte();
            const int model = modelOfTarget(b);
            const int slot = slotOfTarget(b) % kSlotsPerModel;
            InstantiateArguments a;
            a.nameKind = nameKindOf(in.byte());
            if (a.nameKind == kNameFromInput) {
                const std::size_t length = in.byte() % (kMaxInputNameLength + 1);
                for (std::size_t i = 0; i < length; ++i) {
                    a.inputName.push_back(static_cast<char>(in.byte()));
                }
                // What the slave sees is the C string up to the first NUL.
                a.inputName = a.inputName.c_str();
            }
            a.guidKind = guidKindOf(in.byte());
            a.callbacks = in.byte();
            a.loggingOn = static_cast<fmiBoolean>(in.byte());
            a.allocation = in.byte();
            a.extras = in.byte();
            a.timeout = in.real();
            callInstantiate(world, model, slot, a);
            break;
        }
        case Operation::Initialize: {
            const Target t = readTarget(world, in);
            const fmiReal tStart = in.real();
            const auto stopTimeDefined = static_cast<fmiBoolean>(in.byte());
            const fmiReal tStop = in.real();
            callInitialize(world, t.model, t.slot, t.instance, tStart, stopTimeDefined, tStop);
            break;
        }
        case Operation::SetDebugLogging: {
            const Target t = readTarget(world, in);
            callSetDebugLogging(world, t.model, t.slot, t.instance,
                                static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::Terminate: {
            const Target t = readTarget(world, in);
            callTerminate(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Reset: {
            const Target t = readTarget(world, in);
            callReset(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Free: {
            const Target t = readTarget(world, in);
            callFree(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::SetReal:
        case Operation::GetReal:
        case Operation::SetInteger:
        case Operation::SetBoolean:
        case Operation::SetString:
        case Operation::GetInteger:
        case Operation::GetBoolean:
        case Operation::GetString: {
            const Target t = readTarget(world, in);
            bool huge = false;
            const std::size_t nvr = readNvr(in, huge);
            std::uint8_t nulls = readNullArrays(in);
            if (huge) {
                // No array can hold that many elements; a null vr[] is
                // refused before either array is looked at.
                nulls |= kNullVr | kNullValue;
            }
            std::unique_ptr<fmiValueReference[]> vr;
            if ((nulls & kNullVr) == 0) {
                vr = masterArray<fmiValueReference>(nvr, 0);
                for (std::size_t i = 0; i < nvr; ++i) {
                    vr[i] = in.valueReference();
                }
            }
            const bool nullValue = (nulls & kNullValue) != 0;
            switch (operation) {
                case Operation::SetReal: {
                    std::unique_ptr<fmiReal[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiReal>(nvr, 0.0);
                        for (std::size_t i = 0; i < nvr; ++i) {
                            value[i] = in.real();
                        }
                    }
                    callSetReal(world, t.model, t.slot, t.instance, nvr, vr.get(), value.get());
                    break;
                }
                case Operation::GetReal: {
                    std::unique_ptr<fmiReal[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiReal>(nvr, realFromBits(kUntouchedBits));
                    }
                    callGetReal(world, t.model, t.slot, t.instance, nvr, vr.get(), value.get());
                    break;
                }
                case Operation::SetInteger:
                case Operation::GetInteger: {
                    const bool isSet = operation == Operation::SetInteger;
                    std::unique_ptr<fmiInteger[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiInteger>(nvr, 0x5a5a5a5a);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = static_cast<fmiInteger>(in.u32());
                        }
                    }
                    callOtherType(
                        world, operation, t.model, t.slot, t.instance, nvr, vr.get(), value.get(),
                        &Instance::integers,
                        [isSet](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v,
                                std::size_t n, fmiInteger* x) {
                            return isSet ? f.setInteger(c, v, n, x) : f.getInteger(c, v, n, x);
                        });
                    break;
                }
                case Operation::SetBoolean:
                case Operation::GetBoolean: {
                    const bool isSet = operation == Operation::SetBoolean;
                    std::unique_ptr<fmiBoolean[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiBoolean>(nvr, 0x5a);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = static_cast<fmiBoolean>(in.byte());
                        }
                    }
                    callOtherType(
                        world, operation, t.model, t.slot, t.instance, nvr, vr.get(), value.get(),
                        &Instance::booleans,
                        [isSet](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v,
                                std::size_t n, fmiBoolean* x) {
                            return isSet ? f.setBoolean(c, v, n, x) : f.getBoolean(c, v, n, x);
                        });
                    break;
                }
                default: {
                    const bool isSet = operation == Operation::SetString;
                    static const char untouchedText[] = "untouched";
                    std::unique_ptr<fmiString[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiString>(nvr, untouchedText);
                        std::size_t count = 0;
                        const char* const* strings = stringTable(count);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = strings[in.byte() % count];
                        }
                    }
                    callOtherType(world, operation, t.model, t.slot, t.instance, nvr, vr.get(),
                                  value.get(), &Instance::strings,
                                  [isSet](const FmiFunctions& f, fmiComponent c,
                                          const fmiValueReference* v, std::size_t n, fmiString* x) {
                                      return isSet ? f.setString(c, v, n, x)
                                                   : f.getString(c, v, n, x);
                                  });
                    break;
                }
            }
            break;
        }
        case Operation::DoStep: {
            const Target t = readTarget(world, in);
            const fmiReal communicationPoint = in.real();
            const fmiReal stepSize = in.real();
            callDoStep(world, t.model, t.slot, t.instance, communicationPoint, stepSize,
                       static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::CancelStep: {
            const Target t = readTarget(world, in);
            callCancelStep(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::GetStatus:
        case Operation::GetRealStatus:
        case Operation::GetIntegerStatus:
        case Operation::GetBooleanStatus:
        case Operation::GetStringStatus: {
            const Target t = readTarget(world, in);
            const std::uint8_t b = in.byte();
            const auto kind =
                static_cast<fmiStatusKind>(b < kRawStatusKind ? b % 4 : static_cast<int>(in.u32()));
            const bool nullValue = (in.byte() & 1) != 0;
            callStatus(world, operation, t.model, t.slot, t.instance, kind, nullValue);
            break;
        }
        case Operation::SetRealInputDerivatives:
        case Operation::GetRealOutputDerivatives: {
            const Target t = readTarget(world, in);
            bool huge = false;
            const std::size_t nvr = readNvr(in, huge);
            std::uint8_t nulls = readNullArrays(in);
            if (huge) {
                nulls |= kNullVr | kNullValue | kNullOrder;
            }
            // Neither call may read vr[] or order[]; their contents do not matter.
            std::unique_ptr<fmiValueReference[]> vr;
            if ((nulls & kNullVr) == 0) {
                vr = masterArray<fmiValueReference>(nvr, 0xffffffffU);
            }
            std::unique_ptr<fmiInteger[]> order;
            if ((nulls & kNullOrder) == 0) {
                order = masterArray<fmiInteger>(nvr, 1);
            }
            std::unique_ptr<fmiReal[]> value;
            if ((nulls & kNullValue) == 0) {
                value = masterArray<fmiReal>(nvr, realFromBits(kUntouchedBits));
            }
            if (operation == Operation::SetRealInputDerivatives) {
                callSetRealInputDerivatives(world, t.model, t.slot, t.instance, nvr, vr.get(),
                                            order.get(), value.get());
            } else {
                callGetRealOutputDerivatives(world, t.model, t.slot, t.instance, nvr, vr.get(),
                                             order.get(), value.get());
            }
            break;
        }
        case Operation::GetVersion:
        case Operation::GetTypesPlatform:
            callVersion(world, operation, modelOfTarget(in.byte()));
            break;
        case Operation::ArmReentry: {
            const Target t = readTarget(world, in);
            const auto action = static_cast<ReentryAction>(in.byte() % 4);
            fmiBoolean flag = fmiFalse;
            fmiValueReference vr = 0;
            fmiReal value = 0.0;
            if (action == kReentrySetDebugLogging) {
                flag = static_cast<fmiBoolean>(in.byte());
            } else if (action != kReentryNone) {
                vr = in.valueReference();
                if (action == kReentrySetReal) {
                    value = in.real();
                }
            }
            if (t.instance != nullptr) {
                t.instance->armed = action;
                t.instance->reentry = action;
                t.instance->reentryFlag = flag;
                t.instance->reentryReference = vr;
                t.instance->reentryValue = value;
            }
            break;
        }
        case Operation::Count:
            break;
    }
}

void releaseAtExit() {
    std::fprintf(stderr, "fuzz_slaves: %llu FMI calls checked in %llu inputs\n", totalCalls,
                 totalInputs);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    defaultMxcsr = _mm_getcsr();
    for (int model = 0; model < kModelCount; ++model) {
        LoadedModel& loaded = loadedModels[model];
        std::string error;
        _mm_setcsr(defaultMxcsr);
        if (!loaded.library.load(kSlaveLibraryPaths[model], error)) {
            std::fprintf(stderr, "fuzz_slaves: %s\n", error.c_str());
            std::exit(2);
        }
        // Whatever loading did to this thread (the travel stop sets
        // flush-to-zero) is what that model's master runs with; the others
        // run with the process default.
        loaded.mxcsr = _mm_getcsr();
        loaded.facts = findModelFacts(loaded.library.identifier());
        if (loaded.facts == nullptr) {
            std::fprintf(stderr, "fuzz_slaves: no facts for %s\n", kSlaveLibraryPaths[model]);
            std::exit(2);
        }
    }
    _mm_setcsr(defaultMxcsr);
    logRecorder().setHook(callBackFromLogger);
    std::atexit(releaseAtExit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ++totalInputs;
    RecordingAllocator& allocator = recordingAllocator();
    allocator.reset();
    logRecorder().clear();
    resetStepFinishedCalls();
    require(allocator.liveBlocks().empty(),
            [&] { return std::string("blocks left over from an earlier input"); });

    World world;
    currentWorld = &world;
    callNumber = 0;
    Input in(data, size);
    while (!in.empty() && world.calls < kMaxCallsPerInput) {
        runOne(world, in);
    }
    for (int model = 0; model < kModelCount; ++model) {
        for (int slot = 0; slot < kSlotsPerModel; ++slot) {
            retire(world, model, slot);
        }
    }

    // Only the instances left in Error still hold memory, all seven blocks each.
    std::set<void*> expected;
    for (const Instance& s : world.inError) {
        expected.insert(s.blocks.begin(), s.blocks.end());
    }
    std::set<void*> live;
    for (const LiveBlock& block : allocator.liveBlocks()) {
        live.insert(block.pointer);
    }
    require(live == expected, [&] {
        return std::string(std::to_string(live.size()) + " blocks live instead of the " +
                           std::to_string(expected.size()) + " of the instances in Error");
    });
    // The master takes back what the slave can never free.
    for (void* block : live) {
        allocator.abandon(block);
    }
    allocator.releaseAbandoned();
    currentWorld = nullptr;
    const std::vector<std::string> problems = allocator.problems();
    require(problems.empty(),
            [&] { return std::string(problems.empty() ? "" : "allocator: " + problems.front()); });
    return 0;
}
