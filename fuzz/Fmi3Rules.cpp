// The rules of the FMI 3.0 calls, call by call, as the 3.0 front-end states
// them. They follow 2.0's where the calls agree: a refused call puts the
// instance into Error before the logger hears of it, and Error is left by
// fmi3Reset, fmi3SetFMUState and fmi3FreeInstance. What differs: messages
// arrive formatted, with the master's environment and no instance name;
// memory comes from the C runtime; time is readable at the value reference
// after the model's reals; the functions of the interfaces and features
// this FMU lacks answer fmi3Error with the reason.
#include "Fmi3Rules.h"

#include <sanitizer/allocator_interface.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Checks.h"
#include "Expectation.h"
#include "Fmi3Functions.h"
#include "Fmi3Instance.h"
#include "RecordingLogger.h"
#include "RuntimeCalloc.h"

namespace fmi3 {
namespace {

constexpr int kVersion = 3;
constexpr const char* kInstantiate = "fmi3InstantiateCoSimulation";
constexpr const char* kErrorCategoryName = "logStatusError";
constexpr const char* kCallsCategoryName = "logCalls";
constexpr std::uint32_t kCallsBit = 2;
constexpr std::uint32_t kAllCategoryBits = 3;
constexpr std::uint32_t kFlushToZeroBits = 0x8040;

constexpr std::uint32_t kAnyState =
    Instantiated | InitializationMode | StepMode | Terminated | Error;
constexpr std::uint32_t kWritable = Instantiated | InitializationMode | StepMode;
constexpr std::uint32_t kReadable = InitializationMode | StepMode | Terminated | Error;

constexpr std::size_t roundedToReal(std::size_t bytes) {
    return (bytes + sizeof(double) - 1) / sizeof(double) * sizeof(double);
}
constexpr std::size_t kValuesOffset = roundedToReal(sizeof(Fmi3Instance));
constexpr std::size_t kFmuStateValuesOffset = roundedToReal(sizeof(SavedFmuState));

constexpr const char* kLibraryNames[kModelCount] = {"Halvorn (FMI 3.0)", "Pendrake (FMI 3.0)",
                                                    "Corvessa (FMI 3.0)", "Terminus (FMI 3.0)"};

// The message an FMU formats, formatted the same way by the master.
__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
    char buffer[kMessageCapacity];
    std::va_list arguments;
    va_start(arguments, format);
    if (std::vsnprintf(buffer, sizeof buffer, format, arguments) < 0) {
        buffer[0] = '\0';
    }
    va_end(arguments);
    return buffer;
}

// One checked call on the 3.0 library of a model, made in the environment
// the master chose; the C runtime's calloc counts afresh for it.
class Call : public CheckedCall {
  public:
    Call(World& world, const char* function, int model, int slot, StatusSet mayReturn)
        : CheckedCall(world, {kLibraryNames[model], function, slot}, mayReturn,
                      defaultMxcsr | world.callerEnvironment),
          model_(model) {
        if (factsOf(model).flushesToZero) {
            requireFlagsKept();
        }
        resetRuntimeCalloc();
    }

    const Fmi3Functions& fmi() const {
        clearFlags();
        return loadedModels[libraryOf(kVersion, model_)].fmi3;
    }
    void* symbol(const char* name) const {
        void* const found = loadedModels[libraryOf(kVersion, model_)].library.symbol(name);
        clearFlags();
        return found;
    }

    // The requests the call made of the C runtime, failed ones included.
    void checkCalloc(std::size_t expected) const {
        const std::size_t made = runtimeCallocRequests();
        resetRuntimeCalloc();
        require(made == expected, [&] {
            return std::to_string(made) + " requests of the C runtime's calloc instead of " +
                   std::to_string(expected);
        });
    }

  private:
    int model_;
};

constexpr StatusSet kOkOrError = statusSet({fmiOK, fmiError});

class ModelArithmetic {
  public:
    explicit ModelArithmetic(int model) : saved_(_mm_getcsr()) {
        if (factsOf(model).flushesToZero) {
            _mm_setcsr(saved_ | kFlushToZeroBits);
        }
    }
    ~ModelArithmetic() {
        _mm_setcsr(saved_);
    }
    ModelArithmetic(const ModelArithmetic&) = delete;
    ModelArithmetic& operator=(const ModelArithmetic&) = delete;

  private:
    std::uint32_t saved_;
};

const char* stateName(std::uint32_t state) {
    switch (state) {
        case Instantiated:
            return "instantiated";
        case InitializationMode:
            return "initialization mode";
        case StepMode:
            return "step mode";
        case Terminated:
            return "terminated";
        case Error:
            return "error";
        default:
            return "unknown";
    }
}

std::uint32_t timeReference(int model) {
    return factsOf(model).realCount();
}

bool isParameterOrInput(int model, std::uint32_t vr) {
    return vr < factsOf(model).firstOutput;
}

// ------------------------------------------------------------ memory

std::size_t instanceBlockSize(const Instance& s) {
    return kValuesOffset + sizeof(double) * s.reals.size() + s.name.size() + 1;
}

std::size_t fmuStateBlockSize(const Instance& s) {
    return kFmuStateValuesOffset + sizeof(double) * s.reals.size();
}

// AddressSanitizer's books: a block the slave still holds, of its size.
void requireAllocated(const void* block, std::size_t size, const std::string& what) {
    require(
        __sanitizer_get_ownership(block) != 0 && __sanitizer_get_allocated_size(block) == size,
        [&] { return what + " is not an allocated block of " + std::to_string(size) + " bytes"; });
}

void requireFreed(const void* block, const char* what) {
    require(__sanitizer_get_ownership(block) == 0,
            [&] { return std::string(what) + " was not freed"; });
}

// ------------------------------------------------------------ the record

void checkFmuStates(const Instance& s, const Fmi3Instance& r, const std::string& who) {
    const SavedFmuState* saved = r.fmuStates;
    for (const KnownFmuState& known : s.fmuStates) {
        require(saved == known.handle,
                [&] { return who + ": the FMU states are not the ones the master holds"; });
        requireAllocated(saved, fmuStateBlockSize(s), who + ": an FMU state");
        const auto* block = reinterpret_cast<const unsigned char*>(saved);
        require(saved->machineState == known.state && bitsOf(saved->time) == bitsOf(known.time) &&
                    reinterpret_cast<const unsigned char*>(saved->realValues) ==
                        block + kFmuStateValuesOffset,
                [&] { return who + ": an FMU state's state or time differs"; });
        for (std::size_t i = 0; i < known.reals.size(); ++i) {
            require(bitsOf(saved->realValues[i]) == bitsOf(known.reals[i]), [&] {
                return who + ": an FMU state's real " + std::to_string(i) + " differs";
            });
        }
        saved = saved->next;
    }
    require(saved == nullptr, [&] { return who + ": the instance holds more FMU states"; });
}

void checkRecord(Instance& s) {
    const std::string who = std::string(kLibraryNames[s.model]) + " instance \"" + s.name + "\"";
    requireAllocated(s.c, instanceBlockSize(s), who);
    const auto& r = *static_cast<const Fmi3Instance*>(s.c);
    const ModelFacts& facts = factsOf(s.model);
    const auto* block = static_cast<const unsigned char*>(s.c);
    require(r.state == static_cast<std::uint32_t>(s.state), [&] {
        return who + ": state " + std::to_string(r.state) + " instead of " +
               std::to_string(s.state);
    });
    require(r.debugLogging == s.debugCategories,
            [&] { return who + ": debug logging " + std::to_string(r.debugLogging); });
    require(bitsOf(r.data.time) == bitsOf(s.currentTime), [&] { return who + ": time differs"; });
    require(r.data.flushToZeroBits == (facts.flushesToZero ? kFlushToZeroBits : 0U),
            [&] { return who + ": floating-point bits differ"; });
    require(r.settableReals == (ValueReferenceSet{1} << facts.firstOutput) - 1,
            [&] { return who + ": settable reals differ"; });
    require(r.instanceEnvironment == s.logComponent && r.logMessage == s.logMessage,
            [&] { return who + ": environment or logMessage changed"; });
    const std::size_t nameOffset = kValuesOffset + sizeof(double) * s.reals.size();
    require(reinterpret_cast<const unsigned char*>(r.data.realValues) == block + kValuesOffset &&
                reinterpret_cast<const unsigned char*>(r.instanceName) == block + nameOffset &&
                s.name == r.instanceName,
            [&] { return who + ": values or name moved"; });
    for (std::size_t i = 0; i < s.reals.size(); ++i) {
        require(bitsOf(r.data.realValues[i]) == bitsOf(s.reals[i]),
                [&] { return who + ": real " + std::to_string(i) + " differs"; });
    }
    checkFmuStates(s, r, who);
}

std::int32_t stateInRecord(const Instance& s) {
    return static_cast<std::int32_t>(static_cast<const Fmi3Instance*>(s.c)->state);
}

// ------------------------------------------------------------ the messages

ExpectedMessage message(const Instance& s, fmiStatus status, const char* category, std::string text,
                        std::int32_t state) {
    ExpectedMessage m;
    m.component = s.logComponent;
    m.nameIsNull = true;
    m.status = status;
    m.category = category;
    m.format = std::move(text);
    m.stateAtLog = state;
    return m;
}

void trace(Instance& s, Expectation& e, const std::string& text) {
    if ((s.debugCategories & kCallsBit) != 0 && s.logMessage != nullptr) {
        emit(s, e, message(s, fmiOK, kCallsCategoryName, text, s.state));
    }
}

void refuse(Instance& s, Expectation& e, const std::string& text) {
    s.state = Error;
    e.status = fmiError;
    if (s.logMessage != nullptr) {
        emit(s, e, message(s, fmiError, kErrorCategoryName, text, Error));
    }
}

void refuseNull(Instance& s, Expectation& e, const char* function, const char* argument) {
    refuse(s, e, formatted("%s: Invalid argument %s = NULL.", function, argument));
}

void refuseReference(Instance& s, Expectation& e, const char* function, std::uint32_t vr) {
    refuse(s, e, formatted("%s: Illegal value reference %u.", function, vr));
}

bool opens(Instance* s, const char* function, std::uint32_t mask, Expectation& e) {
    e.status = fmiError;
    if (s == nullptr) {
        return false;
    }
    if ((static_cast<std::uint32_t>(s->state) & mask) != 0) {
        e.status = fmiOK;
        return true;
    }
    refuse(*s, e,
           formatted("%s: Illegal call sequence: not allowed in state %s.", function,
                     stateName(static_cast<std::uint32_t>(s->state))));
    return false;
}

// ------------------------------------------------------------ the model

void writeFreshValues(Instance& s) {
    s.state = Instantiated;
    s.currentTime = 0.0;
    s.reals = factsOf(s.model).freshValues();
}

bool updateAsksToTerminate(Instance& s) {
    {
        const ModelArithmetic arithmetic(s.model);
        factsOf(s.model).equation(s.reals);
    }
    return static_cast<std::size_t>(s.model) == kModelCount - 1 && s.reals[0] != 0.0;
}

// fmi3SetFloat64 of one element: only parameters and inputs, never time.
bool setOne(Instance& s, Expectation& e, std::uint32_t vr, double value) {
    constexpr const char* function = "fmi3SetFloat64";
    if (!isParameterOrInput(s.model, vr)) {
        if (vr == timeReference(s.model)) {
            refuse(s, e,
                   formatted("%s: Variable %u is the independent variable time; it follows the "
                             "steps and cannot be set.",
                             function, vr));
        } else if (vr >= s.reals.size()) {
            refuseReference(s, e, function, vr);
        } else {
            refuse(s, e,
                   formatted("%s: Variable %u is an output; only parameters and inputs can be set.",
                             function, vr));
        }
        return false;
    }
    trace(s, e, formatted("fmi3SetFloat64: #r%u# = %.16g", vr, value));
    s.reals[vr] = value;
    return true;
}

// fmi3GetFloat64 of one element, time included; the value it must deliver.
bool getOne(Instance& s, Expectation& e, std::uint32_t vr, std::uint64_t& bits) {
    if (vr > timeReference(s.model)) {
        refuseReference(s, e, "fmi3GetFloat64", vr);
        return false;
    }
    const double value = vr < s.reals.size() ? s.reals[vr] : s.currentTime;
    bits = bitsOf(value);
    trace(s, e, formatted("fmi3GetFloat64: #r%u# = %.16g", vr, value));
    return true;
}

// The state of the count check that every value-access call makes first.
bool countsAgree(Instance& s, Expectation& e, const char* function, std::size_t nvr,
                 std::size_t nValues) {
    if (nValues == nvr) {
        return true;
    }
    refuse(s, e,
           formatted("%s: nValues = %zu, but the %zu value references name %zu scalar values.",
                     function, nValues, nvr, nvr));
    return false;
}

bool accessArraysGiven(Instance& s, Expectation& e, const char* function, std::size_t nvr,
                       const void* vr, const void* values) {
    if (nvr == 0) {
        return true;
    }
    if (vr == nullptr) {
        refuseNull(s, e, function, "valueReferences[]");
        return false;
    }
    if (values == nullptr) {
        refuseNull(s, e, function, "values[]");
        return false;
    }
    return true;
}

// ------------------------------------------------------------ the logger's call back

void expectCallBack(Instance& s, ReentryAction action, Expectation& nested) {
    const std::uint32_t vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            if (opens(&s, "fmi3SetDebugLogging", kAnyState, nested)) {
                const bool flag = s.reentryFlag != fmiFalse;
                trace(s, nested,
                      formatted("%s: loggingOn=%d, nCategories=%zu", "fmi3SetDebugLogging",
                                flag ? 1 : 0, std::size_t{0}));
                s.debugCategories = flag ? s.debugCategories | kAllCategoryBits
                                         : s.debugCategories & ~kAllCategoryBits;
            }
            break;
        case kReentrySetReal:
            if (opens(&s, "fmi3SetFloat64", kWritable, nested)) {
                trace(s, nested, "fmi3SetFloat64: nValueReferences = 1");
                setOne(s, nested, vr, s.reentryValue);
            }
            break;
        case kReentryGetReal:
            if (opens(&s, "fmi3GetFloat64", kReadable, nested)) {
                getOne(s, nested, vr, nestedExpected.valueBits);
            }
            break;
        default:
            break;
    }
}

void callBack(Instance& s, ReentryAction action) {
    const Fmi3Functions& f = loadedModels[s.library].fmi3;
    const fmi3ValueReference vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            nestedActual.status = static_cast<fmiStatus>(
                f.setDebugLogging(s.c, s.reentryFlag != fmiFalse, 0, nullptr));
            break;
        case kReentrySetReal: {
            const fmi3Float64 value = s.reentryValue;
            nestedActual.status = static_cast<fmiStatus>(f.setFloat64(s.c, &vr, 1, &value, 1));
            break;
        }
        case kReentryGetReal: {
            fmi3Float64 value = realFromBits(kUntouchedBits);
            nestedActual.status = static_cast<fmiStatus>(f.getFloat64(s.c, &vr, 1, &value, 1));
            nestedActual.valueBits = bitsOf(value);
            break;
        }
        default:
            break;
    }
}

constexpr InstanceRules kInstanceRules = {checkRecord, stateInRecord, expectCallBack, callBack};

// ------------------------------------------------------------ FMU states

KnownFmuState* ownFmuState(Instance& s, void* handle) {
    for (KnownFmuState& known : s.fmuStates) {
        if (known.handle == handle) {
            return &known;
        }
    }
    return nullptr;
}

KnownFmuState* acceptFmuState(Instance& s, Expectation& e, const char* function, void* handle) {
    if (handle == nullptr) {
        refuseNull(s, e, function, "FMUState");
        return nullptr;
    }
    KnownFmuState* const own = ownFmuState(s, handle);
    if (own == nullptr) {
        refuse(s, e,
               formatted("%s: FMUState %p is no FMU state of this instance, or it was freed.",
                         function, handle));
    }
    return own;
}

void forgetFmuState(World& world, Instance& s, void* handle) {
    for (auto it = s.fmuStates.begin(); it != s.fmuStates.end(); ++it) {
        if (it->handle == handle) {
            s.fmuStates.erase(it);
            world.freedFmuStates.push_back(handle);
            return;
        }
    }
}

}  // namespace

fmuStateBytes::Identity identityOf(int model) {
    const ModelFacts& facts = factsOf(model);
    return {"3.0", facts.identifier, facts.guid, facts.realCount()};
}

// ------------------------------------------------------------ the calls

void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a) {
    retire(world, model, slot);
    const ModelFacts& facts = factsOf(model);
    const int library = libraryOf(kVersion, model);
    std::unique_ptr<char[]> name = masterName(world, a.nameKind, a.inputName);
    std::unique_ptr<char[]> token = masterGuid(a.tokenKind, model);
    void* const environment = &environments[library][slot];
    const bool silent = (a.flags & kFmi3NoLogMessage) != 0;
    const bool noLocation = (a.flags & kFmi3NoResourcePath) != 0;
    std::unique_ptr<fmi3ValueReference[]> required;
    if (!a.nullRequired) {
        required = masterArray<fmi3ValueReference>(a.nRequired == 0 ? 1 : a.nRequired, 0);
    }

    Call call(world, kInstantiate, model, slot, kOkOrError);
    Expectation e;
    const std::string nameText = name ? name.get() : "";
    Instance s;
    s.model = model;
    s.library = library;
    s.rules = &kInstanceRules;
    s.logComponent = environment;
    s.name = nameText;
    s.logMessage = silent ? nullptr : recordingLogMessage;
    const auto refusal = [&](const std::string& reason) {
        if (!silent) {
            e.messages.push_back(message(s, fmiError, kErrorCategoryName,
                                         formatted("%s: %s", kInstantiate, reason.c_str()), 0));
        }
    };
    std::size_t callocRequests = 0;
    bool created = false;
    if (nameText.empty()) {
        refusal("Missing instance name.");
    } else if (!token) {
        refusal("Invalid argument instantiationToken = NULL.");
    } else if (token.get() != facts.guid) {
        refusal(formatted("Wrong instantiation token %s. Expected %s.", token.get(),
                          facts.guid.c_str()));
    } else if ((a.flags & kFmi3EventModeUsed) != 0) {
        refusal(
            "eventModeUsed = fmi3True is not supported: this FMU has no event mode "
            "(hasEventMode=\"false\").");
    } else if ((a.flags & kFmi3EarlyReturnAllowed) != 0) {
        refusal(
            "earlyReturnAllowed = fmi3True is not supported: this FMU never returns early "
            "from fmi3DoStep (mightReturnEarlyFromDoStep=\"false\").");
    } else if (a.nRequired != 0) {
        refusal(
            "Intermediate variables were requested: this FMU provides no intermediate "
            "update (providesIntermediateUpdate=\"false\").");
    } else {
        callocRequests = 1;
        if (a.callocFails) {
            refusal("Out of memory.");
        } else {
            created = true;
            s.debugCategories = a.loggingOn ? kAllCategoryBits : 0U;
            writeFreshValues(s);
            if (a.loggingOn && !silent) {
                e.messages.push_back(
                    message(s, fmiOK, kCallsCategoryName,
                            formatted("%s: instanceName=%s, instantiationToken=%s, resourcePath=%s",
                                      kInstantiate, nameText.c_str(), facts.guid.c_str(),
                                      noLocation ? "(none)" : "file:///nowhere/"),
                            0));
            }
        }
    }
    if (a.callocFails) {
        failRuntimeCallocFrom(1);
    }
    const fmi3Instance c = call.fmi().instantiateCoSimulation(
        name.get(), token.get(), noLocation ? nullptr : "file:///nowhere/",
        (a.flags & kFmi3Visible) != 0, a.loggingOn, (a.flags & kFmi3EventModeUsed) != 0,
        (a.flags & kFmi3EarlyReturnAllowed) != 0, required.get(), a.nRequired, environment,
        s.logMessage, nullptr);
    name.reset();
    token.reset();
    call.checkCalloc(callocRequests);
    if (!created) {
        require(c == nullptr,
                [&] { return std::string("a refused instantiation returned an instance"); });
        call.checkEffects(e, false);
        return;
    }
    require(c != nullptr, [&] { return std::string("instantiation returned no instance"); });
    s.c = c;
    world.slots[library][slot] = s;
    call.checkEffects(e, false);
}

void callInstantiateOther(World& world, Operation operation, int model, int slot,
                          const InstantiateArguments& a) {
    const bool modelExchange = operation == Operation::Fmi3InstantiateModelExchange;
    const char* const function =
        modelExchange ? "fmi3InstantiateModelExchange" : "fmi3InstantiateScheduledExecution";
    void* const environment = &environments[libraryOf(kVersion, model)][slot];
    const bool silent = (a.flags & kFmi3NoLogMessage) != 0;
    std::unique_ptr<char[]> name = masterName(world, a.nameKind, a.inputName);
    std::unique_ptr<char[]> token = masterGuid(a.tokenKind, model);
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (!silent) {
        Instance none;
        none.logComponent = environment;
        e.messages.push_back(
            message(none, fmiError, kErrorCategoryName,
                    formatted("%s: %s is a co-simulation FMU; it has no %s interface.", function,
                              factsOf(model).identifier.c_str(),
                              modelExchange ? "model exchange" : "scheduled execution"),
                    0));
    }
    const fmi3LogMessageCallback logMessage = silent ? nullptr : recordingLogMessage;
    const Fmi3Functions& f = call.fmi();
    const fmi3Instance c =
        modelExchange
            ? f.instantiateModelExchange(name.get(), token.get(), nullptr, false, a.loggingOn,
                                         environment, logMessage)
            : f.instantiateScheduledExecution(name.get(), token.get(), nullptr, false, a.loggingOn,
                                              environment, logMessage, nullptr, nullptr, nullptr);
    call.checkCalloc(0);
    require(c == nullptr, [&] { return std::string(function) + " returned an instance"; });
    call.checkEffects(e, false);
}

void callFreeInstance(World& world, int model, int slot, Instance* s) {
    Call call(world, "fmi3FreeInstance", model, slot, kOkOrError);
    Expectation e;
    const bool frees = opens(s, "fmi3FreeInstance", kAnyState, e);
    std::vector<void*> blocks;
    if (frees) {
        trace(*s, e, "fmi3FreeInstance");
        for (const KnownFmuState& known : s->fmuStates) {
            blocks.push_back(known.handle);
        }
        blocks.push_back(s->c);
    }
    call.fmi().freeInstance(componentOf(s));
    call.checkCalloc(0);
    if (frees) {
        for (void* block : blocks) {
            requireFreed(block, "a block of a freed 3.0 instance");
        }
        for (const KnownFmuState& known : s->fmuStates) {
            world.freedFmuStates.push_back(known.handle);
        }
        world.slots[libraryOf(kVersion, model)][slot].reset();
    }
    call.checkEffects(e, false);
}

void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmi3Boolean loggingOn,
                         std::size_t nCategories, const fmi3String* categories) {
    constexpr const char* function = "fmi3SetDebugLogging";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e,
              formatted("%s: loggingOn=%d, nCategories=%zu", function, loggingOn ? 1 : 0,
                        nCategories));
        std::uint32_t chosen = nCategories == 0 ? kAllCategoryBits : 0U;
        bool accepted = true;
        if (nCategories > 0 && categories == nullptr) {
            refuseNull(*s, e, function, "categories[]");
            accepted = false;
        }
        for (std::size_t i = 0; accepted && i < nCategories; ++i) {
            if (categories[i] == nullptr) {
                refuseNull(*s, e, function, "categories[i]");
                accepted = false;
            } else if (std::strcmp(categories[i], kErrorCategoryName) == 0) {
                chosen |= 1U;
            } else if (std::strcmp(categories[i], kCallsCategoryName) == 0) {
                chosen |= kCallsBit;
            } else {
                refuse(*s, e, formatted("%s: Unknown log category %s.", function, categories[i]));
                accepted = false;
            }
        }
        if (accepted) {
            s->debugCategories =
                loggingOn ? s->debugCategories | chosen : s->debugCategories & ~chosen;
        }
    }
    call.check(call.fmi().setDebugLogging(componentOf(s), loggingOn, nCategories, categories), e);
}

void callEnterInitializationMode(World& world, int model, int slot, Instance* s,
                                 fmi3Boolean toleranceDefined, fmi3Float64 tolerance,
                                 fmi3Float64 startTime, fmi3Boolean stopTimeDefined,
                                 fmi3Float64 stopTime) {
    constexpr const char* function = "fmi3EnterInitializationMode";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (opens(s, function, Instantiated, e)) {
        trace(*s, e,
              formatted("%s: toleranceDefined=%d, tolerance=%g, startTime=%g, "
                        "stopTimeDefined=%d, stopTime=%g",
                        function, toleranceDefined ? 1 : 0, tolerance, startTime,
                        stopTimeDefined ? 1 : 0, stopTime));
        if (!std::isfinite(startTime)) {
            refuse(*s, e, formatted("%s: The start time %g is not finite.", function, startTime));
        } else {
            s->currentTime = startTime;
            s->state = InitializationMode;
        }
    }
    call.check(call.fmi().enterInitializationMode(componentOf(s), toleranceDefined, tolerance,
                                                  startTime, stopTimeDefined, stopTime),
               e);
}

void callPlain(World& world, Operation operation, int model, int slot, Instance* s) {
    const char* const function = operation == Operation::Fmi3ExitInitializationMode
                                     ? "fmi3ExitInitializationMode"
                                 : operation == Operation::Fmi3Terminate ? "fmi3Terminate"
                                                                         : "fmi3Reset";
    Call call(world, function, model, slot, kOkOrError);
    const fmi3Instance c = componentOf(s);
    Expectation e;
    fmi3Status status = fmi3OK;
    switch (operation) {
        case Operation::Fmi3ExitInitializationMode:
            if (opens(s, function, InitializationMode, e)) {
                trace(*s, e, function);
                if (updateAsksToTerminate(*s)) {
                    refuse(*s, e,
                           formatted("%s: The model requested termination at t=%g.", function,
                                     s->currentTime));
                } else {
                    s->state = StepMode;
                }
            }
            status = call.fmi().exitInitializationMode(c);
            break;
        case Operation::Fmi3Terminate:
            if (opens(s, function, StepMode, e)) {
                trace(*s, e, function);
                s->state = Terminated;
            }
            status = call.fmi().terminate(c);
            break;
        default:
            if (opens(s, function, kAnyState, e)) {
                trace(*s, e, function);
                writeFreshValues(*s);
            }
            status = call.fmi().reset(c);
            break;
    }
    call.check(status, e);
}

void callSetFloat64(World& world, int model, int slot, Instance* s, std::size_t nvr,
                    const fmi3ValueReference* vr, const fmi3Float64* values, std::size_t nValues) {
    constexpr const char* function = "fmi3SetFloat64";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (opens(s, function, kWritable, e) && countsAgree(*s, e, function, nvr, nValues) &&
        accessArraysGiven(*s, e, function, nvr, vr, values)) {
        trace(*s, e, formatted("fmi3SetFloat64: nValueReferences = %zu", nvr));
        for (std::size_t i = 0; i < nvr && setOne(*s, e, vr[i], values[i]); ++i) {
        }
    }
    call.check(call.fmi().setFloat64(componentOf(s), vr, nvr, values, nValues), e);
}

void callGetFloat64(World& world, int model, int slot, Instance* s, std::size_t nvr,
                    const fmi3ValueReference* vr, fmi3Float64* values, std::size_t nValues) {
    constexpr const char* function = "fmi3GetFloat64";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    std::vector<std::uint64_t> expected;
    for (std::size_t i = 0; values != nullptr && i < nvr && !(nvr > kMaxNvr); ++i) {
        expected.push_back(kUntouchedBits);
    }
    if (opens(s, function, kReadable, e) && countsAgree(*s, e, function, nvr, nValues) &&
        accessArraysGiven(*s, e, function, nvr, vr, values)) {
        for (std::size_t i = 0; i < nvr && getOne(*s, e, vr[i], expected[i]); ++i) {
        }
    }
    call.check(call.fmi().getFloat64(componentOf(s), vr, nvr, values, nValues), e);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        require(bitsOf(values[i]) == expected[i],
                [&] { return "fmi3GetFloat64: values[" + std::to_string(i) + "] differs"; });
    }
}

// ------------------------------------------------------------ the other types

namespace {

template <typename F>
F as(void* symbol) {
    return reinterpret_cast<F>(symbol);
}

using AccessInvoker = fmi3Status (*)(void* function, fmi3Instance c, const fmi3ValueReference* vr,
                                     std::size_t nvr, void* values, std::size_t nValues);

struct OtherTypeFunction {
    const char* name;
    bool isSet;
    AccessInvoker invoke;
    // Clocks pass no count of values: one per reference.
    bool countsByReferences;
};

#define FUZZ_FMI3_ACCESS(TypeName, ValueType)                                                   \
    {"fmi3Get" #TypeName, false,                                                                \
     [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,          \
        std::size_t nv) {                                                                       \
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,         \
                                  ValueType*, std::size_t)>(f)(c, vr, n,                        \
                                                               static_cast<ValueType*>(v), nv); \
     },                                                                                         \
     false},                                                                                    \
    {                                                                                           \
        "fmi3Set" #TypeName, true,                                                              \
            [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,   \
               std::size_t nv) {                                                                \
                return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,  \
                                         const ValueType*, std::size_t)>(f)(                    \
                    c, vr, n, static_cast<const ValueType*>(v), nv);                            \
            },                                                                                  \
            false                                                                               \
    }

const OtherTypeFunction kOtherTypeFunctions[] = {
    FUZZ_FMI3_ACCESS(Float32, fmi3Float32),
    FUZZ_FMI3_ACCESS(Int8, fmi3Int8),
    FUZZ_FMI3_ACCESS(UInt8, fmi3UInt8),
    FUZZ_FMI3_ACCESS(Int16, fmi3Int16),
    FUZZ_FMI3_ACCESS(UInt16, fmi3UInt16),
    FUZZ_FMI3_ACCESS(Int32, fmi3Int32),
    FUZZ_FMI3_ACCESS(UInt32, fmi3UInt32),
    FUZZ_FMI3_ACCESS(Int64, fmi3Int64),
    FUZZ_FMI3_ACCESS(UInt64, fmi3UInt64),
    FUZZ_FMI3_ACCESS(Boolean, fmi3Boolean),
    FUZZ_FMI3_ACCESS(String, fmi3String),
    {"fmi3GetBinary", false,
     [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,
        std::size_t nv) {
         std::size_t sizes[kMaxNvr + 1] = {};
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  std::size_t*, fmi3Binary*, std::size_t)>(f)(
             c, vr, n, sizes, static_cast<fmi3Binary*>(v), nv);
     },
     false},
    {"fmi3SetBinary", true,
     [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,
        std::size_t nv) {
         const std::size_t sizes[kMaxNvr + 1] = {};
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const std::size_t*, const fmi3Binary*, std::size_t)>(f)(
             c, vr, n, sizes, static_cast<const fmi3Binary*>(v), nv);
     },
     false},
    {"fmi3GetClock", false,
     [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,
        std::size_t) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  fmi3Clock*)>(f)(c, vr, n, static_cast<fmi3Clock*>(v));
     },
     true},
    {"fmi3SetClock", true,
     [](void* f, fmi3Instance c, const fmi3ValueReference* vr, std::size_t n, void* v,
        std::size_t) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const fmi3Clock*)>(f)(c, vr, n, static_cast<const fmi3Clock*>(v));
     },
     true},
};

#undef FUZZ_FMI3_ACCESS

}  // namespace

std::size_t otherTypeCount() {
    return std::size(kOtherTypeFunctions);
}

void callOtherType(World& world, std::size_t function, int model, int slot, Instance* s,
                   std::size_t nvr, const fmi3ValueReference* vr, void* values,
                   std::size_t nValues) {
    const OtherTypeFunction& f = kOtherTypeFunctions[function];
    if (f.countsByReferences) {
        nValues = nvr;
    }
    Call call(world, f.name, model, slot, kOkOrError);
    Expectation e;
    if (opens(s, f.name, f.isSet ? kWritable : kReadable, e) &&
        countsAgree(*s, e, f.name, nvr, nValues) &&
        accessArraysGiven(*s, e, f.name, nvr, vr, values)) {
        trace(*s, e, formatted("%s: nValueReferences = %zu", f.name, nvr));
        if (nvr > 0) {
            refuseReference(*s, e, f.name, vr[0]);
        }
    }
    void* const symbol = call.symbol(f.name);
    call.check(f.invoke(symbol, componentOf(s), vr, nvr, values, nValues), e);
}

namespace {

struct InapplicableFunction {
    const char* name;
    const char* reason;
    fmi3Status (*invoke)(void* function, fmi3Instance c);
};

constexpr const char* kNoEventMode = "This FMU has no event mode (hasEventMode=\"false\").";
constexpr const char* kNoModelExchange =
    "This FMU is a co-simulation FMU; it has no model exchange interface.";

const InapplicableFunction kInapplicableFunctions[] = {
    {"fmi3EnterEventMode", kNoEventMode,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3EnterStepMode", kNoEventMode,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3EnterContinuousTimeMode", kNoModelExchange,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3SetTime", kNoModelExchange,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, fmi3Float64)>(f)(c, 1.0);
     }},
    {"fmi3GetNumberOfContinuousStates", kNoModelExchange,
     [](void* f, fmi3Instance c) {
         std::size_t n = 0;
         return as<fmi3Status (*)(fmi3Instance, std::size_t*)>(f)(c, &n);
     }},
    {"fmi3EnterConfigurationMode",
     "This FMU has no structural parameters and no configuration mode.",
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3GetShiftDecimal", "This FMU has no clocks.",
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  fmi3Float64*)>(f)(c, nullptr, 0, nullptr);
     }},
    {"fmi3ActivateModelPartition",
     "This FMU is a co-simulation FMU; it has no scheduled execution interface.",
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, fmi3ValueReference, fmi3Float64)>(f)(c, 0, 0.0);
     }},
    {"fmi3EvaluateDiscreteStates",
     "This FMU has no clocks and does not evaluate discrete states "
     "(providesEvaluateDiscreteStates=\"false\").",
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
};

}  // namespace

std::size_t inapplicableCount() {
    return std::size(kInapplicableFunctions);
}

void callInapplicable(World& world, std::size_t function, int model, int slot, Instance* s) {
    const InapplicableFunction& f = kInapplicableFunctions[function];
    Call call(world, f.name, model, slot, statusSet({fmiError}));
    Expectation e;
    e.status = fmiError;
    if (s != nullptr) {
        refuse(*s, e, formatted("%s: %s", f.name, f.reason));
    }
    void* const symbol = call.symbol(f.name);
    call.check(f.invoke(symbol, componentOf(s)), e);
}

void callGetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     bool nullPointer, bool callocFails) {
    constexpr const char* function = "fmi3GetFMUState";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi3FMUState passed = handle;
    void* expectedHandle = handle;
    Expectation e;
    std::size_t requests = 0;
    bool fresh = false;
    if (opens(s, function, kAnyState, e)) {
        if (nullPointer) {
            refuseNull(*s, e, function, "FMUState");
        } else {
            trace(*s, e, formatted("%s: FMUState %p", function, handle));
            const std::uint32_t state = static_cast<std::uint32_t>(s->state);
            const KnownFmuState content = {handle, state, s->currentTime, s->reals};
            if (handle != nullptr) {
                if (KnownFmuState* own = acceptFmuState(*s, e, function, handle)) {
                    *own = content;
                }
            } else {
                requests = 1;
                if (callocFails) {
                    refuse(*s, e, formatted("%s: Out of memory.", function));
                } else {
                    fresh = true;
                    s->fmuStates.insert(s->fmuStates.begin(), content);
                }
            }
        }
    }
    if (callocFails) {
        failRuntimeCallocFrom(1);
    }
    const fmi3Status status =
        call.fmi().getFMUState(componentOf(s), nullPointer ? nullptr : &passed);
    call.checkCalloc(requests);
    if (fresh) {
        require(passed != nullptr, [] { return std::string("fmi3GetFMUState gave no FMU state"); });
        s->fmuStates.front().handle = passed;
        expectedHandle = passed;
    }
    call.check(status, e);
    require(passed == expectedHandle,
            [] { return std::string("fmi3GetFMUState: the FMU state handed back is wrong"); });
}

void callSetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice) {
    constexpr const char* function = "fmi3SetFMUState";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, formatted("%s: FMUState %p", function, handle));
        if (const KnownFmuState* own = acceptFmuState(*s, e, function, handle)) {
            s->state = static_cast<std::int32_t>(own->state);
            s->currentTime = own->time;
            s->reals = own->reals;
        }
    }
    call.check(call.fmi().setFMUState(componentOf(s), handle), e);
    call.checkCalloc(0);
}

void callFreeFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                      bool nullPointer) {
    constexpr const char* function = "fmi3FreeFMUState";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi3FMUState passed = handle;
    void* expectedHandle = handle;
    Expectation e;
    bool freed = false;
    if (opens(s, function, kAnyState, e)) {
        if (nullPointer) {
            refuseNull(*s, e, function, "FMUState");
        } else {
            trace(*s, e, formatted("%s: FMUState %p", function, handle));
            if (handle != nullptr && acceptFmuState(*s, e, function, handle) != nullptr) {
                freed = true;
                expectedHandle = nullptr;
            }
        }
    }
    call.check(call.fmi().freeFMUState(componentOf(s), nullPointer ? nullptr : &passed), e);
    call.checkCalloc(0);
    if (freed) {
        requireFreed(handle, "a freed FMU state");
        forgetFmuState(world, *s, handle);
    }
    require(passed == expectedHandle,
            [] { return std::string("fmi3FreeFMUState: the FMU state handed back is wrong"); });
}

void callDoStep(World& world, int model, int slot, Instance* s, fmi3Float64 communicationPoint,
                fmi3Float64 stepSize, fmi3Boolean noSetPrior, std::uint8_t nullResults) {
    constexpr const char* function = "fmi3DoStep";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    static const char* const resultNames[] = {"eventHandlingNeeded", "terminateSimulation",
                                              "earlyReturn", "lastSuccessfulTime"};
    bool stepped = false;
    if (opens(s, function, StepMode, e)) {
        if ((nullResults & kNullStepResults) != 0) {
            for (int i = 0; i < 4; ++i) {
                if ((nullResults & (1U << i)) != 0) {
                    refuseNull(*s, e, function, resultNames[i]);
                    break;
                }
            }
        } else if (!isAcceptedStep(communicationPoint, stepSize)) {
            refuse(*s, e,
                   formatted("fmi3DoStep: A step needs a finite communication point and a finite, "
                             "positive step size; got currentCommunicationPoint = %g, "
                             "communicationStepSize = %g.",
                             communicationPoint, stepSize));
        } else {
            trace(*s, e,
                  formatted("fmi3DoStep: currentCommunicationPoint = %g, communicationStepSize = "
                            "%g, noSetFMUStatePriorToCurrentPoint = fmi3%s",
                            communicationPoint, stepSize, noSetPrior ? "True" : "False"));
            bool terminates = false;
            {
                const ModelArithmetic arithmetic(model);
                const double h = factsOf(model).substep(stepSize);
                double t = communicationPoint;
                for (int substep = 0; substep < 10 && !terminates; ++substep) {
                    t += h;
                    s->currentTime = t;
                    terminates = updateAsksToTerminate(*s);
                }
                // A completed step ends at the full step.
                if (!terminates) {
                    s->currentTime = communicationPoint + stepSize;
                }
            }
            if (terminates) {
                refuse(*s, e,
                       formatted("fmi3DoStep: The model requested termination at t=%g.",
                                 s->currentTime));
            } else {
                stepped = true;
            }
        }
    }
    constexpr fmi3Boolean kUntouchedFlag = true;
    fmi3Boolean eventHandlingNeeded = kUntouchedFlag;
    fmi3Boolean terminateSimulation = kUntouchedFlag;
    fmi3Boolean earlyReturn = kUntouchedFlag;
    fmi3Float64 lastSuccessfulTime = realFromBits(kUntouchedBits);
    const auto given = [nullResults](int i, auto* place) {
        return (nullResults & kNullStepResults & (1U << i)) != 0 ? nullptr : place;
    };
    const fmi3Status status = call.fmi().doStep(
        componentOf(s), communicationPoint, stepSize, noSetPrior, given(0, &eventHandlingNeeded),
        given(1, &terminateSimulation), given(2, &earlyReturn), given(3, &lastSuccessfulTime));
    call.check(status, e);
    call.checkCalloc(0);
    const bool resultsRight = stepped
                                  ? !eventHandlingNeeded && !terminateSimulation && !earlyReturn &&
                                        bitsOf(lastSuccessfulTime) == bitsOf(s->currentTime)
                                  : eventHandlingNeeded && terminateSimulation && earlyReturn &&
                                        bitsOf(lastSuccessfulTime) == kUntouchedBits;
    require(resultsRight, [] { return std::string("fmi3DoStep: the step results are wrong"); });
}

void callVersion(World& world, int model) {
    Call call(world, "fmi3GetVersion", model, kNullSlot, kOkOrError);
    const char* text = call.fmi().getVersion();
    require(text != nullptr && std::strcmp(text, "3.0") == 0,
            [] { return std::string("fmi3GetVersion answered something else"); });
    call.checkEffects(Expectation{}, false);
}

void retire(World& world, int model, int slot) {
    std::optional<Instance>& occupant = world.slots[libraryOf(kVersion, model)][slot];
    if (occupant) {
        callFreeInstance(world, model, slot, &*occupant);
    }
    if (occupant) {
        violated("an instance was not freed");
    }
}

}  // namespace fmi3
