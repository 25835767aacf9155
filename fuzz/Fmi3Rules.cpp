// The rules of the FMI 3.0 calls, call by call, as the 3.0 front-end states
// them. They follow 2.0's where the calls agree: a refused call puts the
// instance into Error before the logger hears of it, and Error is left by
// fmi3Reset, fmi3SetFMUState and fmi3FreeInstance. What differs: messages
// arrive formatted, with the master's environment and no instance name;
// memory comes from the C runtime; time is readable at the value reference
// after the model's reals; the functions of the interfaces and features
// this FMU lacks answer fmi3Error with the reason. A Model Exchange instance
// runs through event and continuous-time mode, and its outputs are computed
// at the first read after a change; a call of the other interface is refused
// with a message naming it.
#include "Fmi3Rules.h"

#include <sanitizer/allocator_interface.h>

#include <algorithm>
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
#include "SharedRules.h"

namespace fmi3 {
namespace {

using namespace sharedRules;

constexpr int kVersion = 3;
constexpr const char* kErrorCategoryName = "logStatusError";
constexpr const char* kCallsCategoryName = "logCalls";
constexpr std::uint32_t kCallsBit = 2;
constexpr std::uint32_t kAllCategoryBits = 3;
constexpr const char* kCategoryNames[] = {kErrorCategoryName, kCallsCategoryName};

constexpr std::uint32_t kModelExchangeStates = EventMode | ContinuousTimeMode;
constexpr std::uint32_t kAnyState =
    Instantiated | InitializationMode | StepMode | kModelExchangeStates | Terminated | Error;
constexpr std::uint32_t kWritable =
    Instantiated | InitializationMode | StepMode | kModelExchangeStates;
constexpr std::uint32_t kReadable =
    InitializationMode | StepMode | kModelExchangeStates | Terminated | Error;
constexpr std::uint32_t kVectorsReadable =
    InitializationMode | kModelExchangeStates | Terminated | Error;
constexpr const char* kNoEventMode = "This FMU has no event mode (hasEventMode=\"false\").";

constexpr std::size_t kValuesOffset = roundedToReal(sizeof(Fmi3Instance));
constexpr std::size_t kFmuStateValuesOffset = roundedToReal(sizeof(SavedFmuState));

const char* libraryNameOf(int model) {
    return libraryName(kVersion, model);
}

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
        : CheckedCall(world, {libraryNameOf(model), function, slot}, mayReturn,
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

std::uint32_t timeReference(int model) {
    return factsOf(model).realCount();
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

// What fmi3SetFloat64 may write: the inputs alone in continuous-time mode.
ValueReferenceSet settableIn(const Instance& s) {
    const ModelFacts& facts = factsOf(s.model);
    ValueReferenceSet set = 0;
    for (std::uint32_t vr = 0; vr < facts.firstOutput; ++vr) {
        if (s.state != ContinuousTimeMode || !facts.startValues[vr].has_value()) {
            set |= ValueReferenceSet{1} << vr;
        }
    }
    return set;
}

void checkRecord(Instance& s) {
    const std::string who = std::string(libraryNameOf(s.model)) + " instance \"" + s.name + "\"";
    requireAllocated(s.c, instanceBlockSize(s), who);
    const auto& r = *static_cast<const Fmi3Instance*>(s.c);
    require(r.state == static_cast<std::uint32_t>(s.state) && r.debugLogging == s.debugCategories,
            [&] { return who + ": state or debug logging differs"; });
    require(bitsOf(r.data.time) == bitsOf(s.currentTime), [&] { return who + ": time differs"; });
    require(r.data.flushToZeroBits == (factsOf(s.model).flushesToZero ? kFlushToZeroBits : 0U),
            [&] { return who + ": floating-point bits differ"; });
    // In Error nothing is set, and the set stays as it was when the call
    // that failed began.
    require(s.state == Error || r.settableReals == settableIn(s),
            [&] { return who + ": settable reals differ"; });
    require(r.data.modelExchange == s.modelExchange && r.data.outputsOutdated == s.outputsOutdated,
            [&] { return who + ": interface or outdated outputs differ"; });
    require(r.instanceEnvironment == s.logComponent && r.logMessage == s.logMessage,
            [&] { return who + ": environment or logMessage changed"; });
    checkRecordValues(s, r, who, kValuesOffset);
    checkFmuStates(s, r.fmuStates, who, kFmuStateValuesOffset, [&](const SavedFmuState* saved) {
        requireAllocated(saved, fmuStateBlockSize(s), who + ": an FMU state");
    });
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

const char* nameOfState(std::uint32_t state) {
    switch (state) {
        case EventMode:
            return "event mode";
        case ContinuousTimeMode:
            return "continuous-time mode";
        default:
            return stateName(state, "step mode");
    }
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
                     nameOfState(static_cast<std::uint32_t>(s->state))));
    return false;
}

const char* interfaceOf(const Instance& s) {
    return s.modelExchange ? "Model Exchange" : "co-simulation";
}

void refuseInterface(Instance& s, Expectation& e, const char* function) {
    refuse(
        s, e,
        formatted("%s: This is a %s instance; %s is a function of %s only.", function,
                  interfaceOf(s), function, s.modelExchange ? "co-simulation" : "Model Exchange"));
}

// A call of one interface alone; `reason` is what an instance of the other
// says instead of naming the interfaces, if anything.
bool opensFor(Instance* s, bool modelExchange, const char* function, std::uint32_t mask,
              Expectation& e, const char* reason = nullptr) {
    if (s != nullptr && s->modelExchange != modelExchange) {
        if (reason != nullptr) {
            refuse(*s, e, formatted("%s: %s", function, reason));
        } else {
            refuseInterface(*s, e, function);
        }
        e.status = fmiError;
        return false;
    }
    return opens(s, function, mask, e);
}

// Model Exchange: the outputs computed at the first read after a change.
bool refreshes(Instance& s, Expectation& e, const char* function) {
    if (!s.outputsOutdated) {
        return true;
    }
    s.outputsOutdated = false;
    if (updateAsksToTerminate(s)) {
        refuse(s, e,
               formatted("%s: The model requested termination at t=%g.", function, s.currentTime));
        return false;
    }
    return true;
}

// ------------------------------------------------------------ the model

void writeFreshValues(Instance& s) {
    sharedRules::writeFreshValues(s, Instantiated);
    s.outputsOutdated = s.modelExchange;
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
    if (((settableIn(s) >> vr) & 1U) == 0) {
        refuse(s, e,
               formatted("%s: Variable %u is a tunable parameter; in continuous-time mode only "
                         "continuous inputs can be set.",
                         function, vr));
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
    bits = vr < s.reals.size() ? expectedBitsOf(s, vr) : bitsOf(value);
    const std::size_t before = e.messages.size();
    trace(s, e, formatted("fmi3GetFloat64: #r%u# = %.16g", vr, value));
    if (bits == kAnyNaNBits && e.messages.size() > before) {
        e.messages[before].signOfNaNOpen = true;
    }
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
                s.outputsOutdated = s.modelExchange;
            }
            break;
        case kReentryGetReal:
            if (opens(&s, "fmi3GetFloat64", kReadable, nested) &&
                refreshes(s, nested, "fmi3GetFloat64")) {
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

void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a,
                     bool modelExchange) {
    const char* const kInstantiate =
        modelExchange ? "fmi3InstantiateModelExchange" : "fmi3InstantiateCoSimulation";
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
    s.modelExchange = modelExchange;
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
    } else if (!modelExchange && (a.flags & kFmi3EventModeUsed) != 0) {
        refusal(
            "eventModeUsed = fmi3True is not supported: this FMU has no event mode "
            "(hasEventMode=\"false\").");
    } else if (!modelExchange && a.nRequired != 0) {
        refusal(
            "Intermediate variables were requested: this FMU provides no intermediate "
            "update (providesIntermediateUpdate=\"false\").");
    } else {
        callocRequests = 1;
        if (a.callocFails) {
            refusal("Out of memory.");
        } else {
            created = true;
            s.debugCategories =
                (a.loggingOn ? kAllCategoryBits : 0U) | (modelExchange ? kModelExchangeAccess : 0U);
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
    const char* const resourcePath = noLocation ? nullptr : "file:///nowhere/";
    const fmi3Instance c =
        modelExchange
            ? call.fmi().instantiateModelExchange(name.get(), token.get(), resourcePath,
                                                  (a.flags & kFmi3Visible) != 0, a.loggingOn,
                                                  environment, s.logMessage)
            : call.fmi().instantiateCoSimulation(
                  name.get(), token.get(), resourcePath, (a.flags & kFmi3Visible) != 0, a.loggingOn,
                  (a.flags & kFmi3EventModeUsed) != 0, (a.flags & kFmi3EarlyReturnAllowed) != 0,
                  required.get(), a.nRequired, environment, s.logMessage, nullptr);
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

void callInstantiateScheduledExecution(World& world, int model, int slot,
                                       const InstantiateArguments& a) {
    const char* const function = "fmi3InstantiateScheduledExecution";
    void* const environment = &environments[libraryOf(kVersion, model)][slot];
    const bool silent = (a.flags & kFmi3NoLogMessage) != 0;
    std::unique_ptr<char[]> name = masterName(world, a.nameKind, a.inputName);
    std::unique_ptr<char[]> token = masterGuid(a.tokenKind, model);
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (!silent) {
        Instance none;
        none.logComponent = environment;
        e.messages.push_back(message(none, fmiError, kErrorCategoryName,
                                     formatted("%s: %s has no scheduled execution interface.",
                                               function, factsOf(model).identifier.c_str()),
                                     0));
    }
    const fmi3LogMessageCallback logMessage = silent ? nullptr : recordingLogMessage;
    const Fmi3Functions& f = call.fmi();
    const fmi3Instance c =
        f.instantiateScheduledExecution(name.get(), token.get(), nullptr, false, a.loggingOn,
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
        const std::optional<std::uint32_t> chosen = chosenCategories(
            nCategories, categories, kCategoryNames, kAllCategoryBits,
            [&](const char* argument) { refuseNull(*s, e, function, argument); },
            [&](const char* category) {
                refuse(*s, e, formatted("%s: Unknown log category %s.", function, category));
            });
        if (chosen) {
            s->debugCategories =
                loggingOn ? s->debugCategories | *chosen : s->debugCategories & ~*chosen;
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
                if (s->modelExchange) {
                    if (refreshes(*s, e, function)) {
                        s->state = EventMode;
                    }
                } else if (updateAsksToTerminate(*s)) {
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
            if (opens(s, function, StepMode | kModelExchangeStates, e)) {
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
        // Noted even after a refused element: those before it were written.
        s->outputsOutdated = s->modelExchange;
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
        accessArraysGiven(*s, e, function, nvr, vr, values) && refreshes(*s, e, function)) {
        for (std::size_t i = 0; i < nvr && getOne(*s, e, vr[i], expected[i]); ++i) {
        }
    }
    call.check(call.fmi().getFloat64(componentOf(s), vr, nvr, values, nValues), e);
    requireValues(function, "values", values, expected);
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

constexpr const char* kNoStructuralParameters =
    "This FMU has no structural parameters and no configuration mode.";
constexpr const char* kNoClocks = "This FMU has no clocks.";

const InapplicableFunction kInapplicableFunctions[] = {
    {"fmi3EnterStepMode", kNoEventMode,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3EnterConfigurationMode", kNoStructuralParameters,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3GetShiftDecimal", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  fmi3Float64*)>(f)(c, nullptr, 0, nullptr);
     }},
    {"fmi3ActivateModelPartition", "This FMU has no scheduled execution interface.",
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, fmi3ValueReference, fmi3Float64)>(f)(c, 0, 0.0);
     }},
    {"fmi3EvaluateDiscreteStates",
     "This FMU has no clocks and does not evaluate discrete states "
     "(providesEvaluateDiscreteStates=\"false\").",
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3ExitConfigurationMode", kNoStructuralParameters,
     [](void* f, fmi3Instance c) { return as<fmi3Status (*)(fmi3Instance)>(f)(c); }},
    {"fmi3GetIntervalDecimal", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  fmi3Float64*, fmi3IntervalQualifier*)>(f)(c, nullptr, 0, nullptr,
                                                                            nullptr);
     }},
    {"fmi3GetIntervalFraction", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t, fmi3UInt64*,
                                  fmi3UInt64*, fmi3IntervalQualifier*)>(f)(c, nullptr, 0, nullptr,
                                                                           nullptr, nullptr);
     }},
    {"fmi3GetShiftFraction", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t, fmi3UInt64*,
                                  fmi3UInt64*)>(f)(c, nullptr, 0, nullptr, nullptr);
     }},
    {"fmi3SetIntervalDecimal", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const fmi3Float64*)>(f)(c, nullptr, 0, nullptr);
     }},
    {"fmi3SetIntervalFraction", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const fmi3UInt64*, const fmi3UInt64*)>(f)(c, nullptr, 0, nullptr,
                                                                            nullptr);
     }},
    {"fmi3SetShiftDecimal", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const fmi3Float64*)>(f)(c, nullptr, 0, nullptr);
     }},
    {"fmi3SetShiftFraction", kNoClocks,
     [](void* f, fmi3Instance c) {
         return as<fmi3Status (*)(fmi3Instance, const fmi3ValueReference*, std::size_t,
                                  const fmi3UInt64*, const fmi3UInt64*)>(f)(c, nullptr, 0, nullptr,
                                                                            nullptr);
     }},
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
    // Step mode is co-simulation's: a Model Exchange instance names the
    // interfaces instead.
    if (s != nullptr && s->modelExchange && std::strcmp(f.name, "fmi3EnterStepMode") == 0) {
        refuseInterface(*s, e, f.name);
    } else if (s != nullptr) {
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
            const KnownFmuState content = {handle, state, s->currentTime, s->reals,
                                           s->anyNaNOutputs};
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
            const std::uint32_t foreign = s->modelExchange ? StepMode : kModelExchangeStates;
            if ((own->state & foreign) != 0) {
                refuse(*s, e,
                       formatted("%s: The FMU state was taken in %s, which only a %s instance "
                                 "has; this is a %s instance.",
                                 function, nameOfState(own->state),
                                 s->modelExchange ? "co-simulation" : "Model Exchange",
                                 interfaceOf(*s)));
            } else {
                restoreFmuState(*s, *own);
                s->outputsOutdated = s->modelExchange;
            }
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
    const fmi3Status status =
        call.fmi().freeFMUState(componentOf(s), nullPointer ? nullptr : &passed);
    call.checkCalloc(0);
    // The master forgets the FMU state before the record is read against its books.
    if (freed) {
        requireFreed(handle, "a freed FMU state");
        forgetFmuState(world, *s, handle);
    }
    call.check(status, e);
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
    if (opensFor(s, false, function, StepMode, e)) {
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
            const bool terminates = stepAsksToTerminate(*s, communicationPoint, stepSize);
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

// ------------------------------------------------------------ serialization

namespace {

void refuseReading(Instance& s, Expectation& e, const fmuStateBytes::Reading& reading) {
    using fmuStateBytes::Problem;
    constexpr const char* function = "fmi3DeserializeFMUState";
    const ModelFacts& facts = factsOf(s.model);
    switch (reading.problem) {
        case Problem::None:
            return;
        case Problem::NotAnFmuState:
            refuse(s, e,
                   formatted("%s: The bytes are no serialized FMU state of this library (%s).",
                             function, fmuStateBytes::kName));
            return;
        case Problem::Damaged:
            refuse(s, e,
                   formatted("%s: The serialized FMU state is damaged: its checksum, length or "
                             "contents do not match.",
                             function));
            return;
        case Problem::OtherFormatVersion:
            refuse(s, e,
                   formatted("%s: The serialized FMU state is in format version %u; this library "
                             "reads version %u.",
                             function, reading.formatVersion, fmuStateBytes::kVersion));
            return;
        case Problem::OtherFmiVersion:
            refuse(s, e,
                   formatted("%s: The serialized FMU state is of FMI version %s, not 3.0.",
                             function, reading.found.c_str()));
            return;
        case Problem::OtherModel:
            refuse(s, e,
                   formatted("%s: The serialized FMU state is of model %s, not %s.", function,
                             reading.found.c_str(), facts.identifier.c_str()));
            return;
        case Problem::OtherGuid:
            refuse(s, e,
                   formatted("%s: The serialized FMU state is of GUID %s, not %s.", function,
                             reading.found.c_str(), facts.guid.c_str()));
            return;
    }
}

}  // namespace

void callSerializedSize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                        bool nullSize) {
    constexpr const char* function = "fmi3SerializedFMUStateSize";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    constexpr std::size_t kUntouchedSize = 0x5a5a5a5a;
    std::size_t size = kUntouchedSize;
    std::size_t expectedSize = kUntouchedSize;
    Expectation e;
    if (opens(s, function, kAnyState, e) && acceptFmuState(*s, e, function, handle) != nullptr) {
        if (nullSize) {
            refuseNull(*s, e, function, "size");
        } else {
            expectedSize = fmuStateBytes::serializedSize(identityOf(model));
            trace(*s, e, formatted("%s: FMUState %p, size %zu", function, handle, expectedSize));
        }
    }
    call.check(
        call.fmi().serializedFMUStateSize(componentOf(s), handle, nullSize ? nullptr : &size), e);
    call.checkCalloc(0);
    require(size == expectedSize, [&] {
        return std::string(function) + ": size " + std::to_string(size) + " instead of " +
               std::to_string(expectedSize);
    });
}

void callSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                   std::uint8_t sizeKind, bool nullBytes) {
    constexpr const char* function = "fmi3SerializeFMUState";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    const fmuStateBytes::Identity who = identityOf(model);
    const std::size_t needed = fmuStateBytes::serializedSize(who);
    const std::size_t sizes[] = {needed, 0, needed - 1, needed + 16};
    const std::size_t size = sizes[sizeKind % 4];
    // One byte more than passed, so that a write past the size shows.
    std::vector<fmi3Byte> bytes(size + 1, 0x5a);
    std::vector<fmi3Byte> expected = bytes;
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, formatted("%s: FMUState %p, size %zu", function, handle, size));
        const KnownFmuState* own = acceptFmuState(*s, e, function, handle);
        if (own == nullptr) {
            // Refused.
        } else if (nullBytes) {
            refuseNull(*s, e, function, "serializedState[]");
        } else if (size < needed) {
            refuse(*s, e,
                   formatted("%s: size %zu is less than the %zu bytes that "
                             "fmi3SerializedFMUStateSize gives.",
                             function, size, needed));
        } else {
            const std::vector<char> written = fmuStateBytes::serialized(who, contentOf(*own));
            std::copy(written.begin(), written.end(), expected.begin());
            world.serialized = written;
        }
    }
    call.check(call.fmi().serializeFMUState(componentOf(s), handle,
                                            nullBytes ? nullptr : bytes.data(), size),
               e);
    call.checkCalloc(0);
    require(bytes == expected, [] {
        return std::string("fmi3SerializeFMUState: the bytes are not the ones expected");
    });
}

void callDeserialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     const BytesToRead& bytes, bool nullPointer, bool callocFails) {
    constexpr const char* function = "fmi3DeserializeFMUState";
    Call call(world, function, model, slot, kOkOrError);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi3FMUState passed = handle;
    void* expectedHandle = handle;
    Expectation e;
    std::size_t requests = 0;
    KnownFmuState* written = nullptr;
    bool fresh = false;
    fmuStateBytes::Reading reading;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, formatted("%s: size %zu", function, bytes.bytes.size()));
        if (bytes.null) {
            refuseNull(*s, e, function, "serializedState[]");
        } else if (nullPointer) {
            refuseNull(*s, e, function, "FMUState");
        } else {
            bool target = false;
            if (handle != nullptr) {
                written = acceptFmuState(*s, e, function, handle);
                target = written != nullptr;
            } else {
                requests = 1;
                if (callocFails) {
                    refuse(*s, e, formatted("%s: Out of memory.", function));
                } else {
                    target = true;
                    fresh = true;
                }
            }
            if (target) {
                reading = fmuStateBytes::read(identityOf(model), kAnyState, bytes.bytes.data(),
                                              bytes.bytes.size());
                refuseReading(*s, e, reading);
            }
        }
    }
    // The bytes in a block of exactly their size, so that a read past them is
    // caught; never a null one for no bytes.
    const std::size_t size = bytes.bytes.size();
    std::unique_ptr<fmi3Byte[]> block(new fmi3Byte[size == 0 ? 1 : size]);
    std::copy(bytes.bytes.begin(), bytes.bytes.end(), block.get());
    if (callocFails) {
        failRuntimeCallocFrom(1);
    }
    const fmi3Status status = call.fmi().deserializeFMUState(
        componentOf(s), bytes.null ? nullptr : block.get(), size, nullPointer ? nullptr : &passed);
    call.checkCalloc(requests);
    const bool read =
        (fresh || written != nullptr) && reading.problem == fmuStateBytes::Problem::None;
    if (read) {
        const KnownFmuState content = {fresh ? passed : handle, reading.content.state,
                                       reading.content.time, reading.content.reals};
        if (fresh) {
            require(passed != nullptr,
                    [] { return std::string("fmi3DeserializeFMUState gave no FMU state"); });
            s->fmuStates.insert(s->fmuStates.begin(), content);
        } else {
            *written = content;
        }
        expectedHandle = content.handle;
    }
    call.check(status, e);
    require(passed == expectedHandle, [] {
        return std::string("fmi3DeserializeFMUState: the FMU state handed back is wrong");
    });
}

// ------------------------------------------------------------ derivatives and dependencies

namespace {

bool countMatches(Instance& s, Expectation& e, const char* function, const char* countName,
                  std::size_t count, const char* referencesName, std::size_t references) {
    if (count == references) {
        return true;
    }
    refuse(s, e,
           formatted("%s: %s = %zu, but the %zu %s name %zu scalar variables.", function, countName,
                     count, references, referencesName, references));
    return false;
}

bool arrayGiven(Instance& s, Expectation& e, const char* function, std::size_t count,
                const void* array, const char* name) {
    if (count == 0 || array != nullptr) {
        return true;
    }
    refuseNull(s, e, function, name);
    return false;
}

bool referencesFit(Instance& s, Expectation& e, const char* function, const fmi3ValueReference* vr,
                   std::size_t count, bool outputs) {
    for (std::size_t i = 0; i < count; ++i) {
        if (isOutput(s.model, vr[i]) != outputs || vr[i] >= s.reals.size()) {
            refuse(s, e,
                   formatted("%s: Value reference %u is no %s.", function, vr[i],
                             outputs ? "output" : "parameter or input"));
            return false;
        }
    }
    return true;
}

// Whether the call gets to compute: what both derivative functions check, in
// their order. The seed runs over the knowns for the directional derivative,
// over the unknowns for the adjoint one.
bool derivativeAccepted(Instance* s, Expectation& e, const char* function, bool adjoint,
                        const DerivativeArguments& a) {
    if (!opens(s, function, kReadable, e)) {
        return false;
    }
    trace(*s, e, formatted("%s: nUnknowns = %zu, nKnowns = %zu", function, a.nUnknowns, a.nKnowns));
    const std::size_t seeded = adjoint ? a.nUnknowns : a.nKnowns;
    const std::size_t resulting = adjoint ? a.nKnowns : a.nUnknowns;
    const char* const seededName = adjoint ? "unknowns" : "knowns";
    const char* const resultingName = adjoint ? "knowns" : "unknowns";
    if (!(countMatches(*s, e, function, "nSeed", a.nSeed, seededName, seeded) &&
          countMatches(*s, e, function, "nSensitivity", a.nSensitivity, resultingName, resulting) &&
          arrayGiven(*s, e, function, a.nUnknowns, a.unknowns, "unknowns[]") &&
          arrayGiven(*s, e, function, a.nKnowns, a.knowns, "knowns[]") &&
          arrayGiven(*s, e, function, a.nSeed, a.seed, "seed[]") &&
          arrayGiven(*s, e, function, a.nSensitivity, a.sensitivity, "sensitivity[]") &&
          referencesFit(*s, e, function, a.unknowns, a.nUnknowns, true) &&
          referencesFit(*s, e, function, a.knowns, a.nKnowns, false))) {
        return false;
    }
    if (factsOf(s->model).partial == nullptr) {
        refuse(*s, e,
               formatted("%s: Model %s states no partial derivatives.", function,
                         factsOf(s->model).identifier.c_str()));
        return false;
    }
    return true;
}

// The sensitivities exactly: each the products of the partials with their
// seeds, summed in order from the first product on.
std::vector<std::uint64_t> expectedSensitivities(const Instance& s, bool adjoint,
                                                 const DerivativeArguments& a) {
    const ModelFacts& facts = factsOf(s.model);
    const ModelArithmetic arithmetic(s.model);
    const std::size_t outer = adjoint ? a.nKnowns : a.nUnknowns;
    const std::size_t inner = adjoint ? a.nUnknowns : a.nKnowns;
    std::vector<std::uint64_t> bits;
    for (std::size_t o = 0; o < outer; ++o) {
        bits.push_back(bitsOf(summed(inner, [&](std::size_t i) {
            const std::uint32_t unknown = adjoint ? a.unknowns[i] : a.unknowns[o];
            const std::uint32_t known = adjoint ? a.knowns[o] : a.knowns[i];
            return facts.partial(s.reals, unknown, known) * a.seed[i];
        })));
    }
    return bits;
}

// The knowns each output's equation reads, one bit each, by value reference,
// as the model's table states them.
std::uint32_t knownsRead(int model, std::uint32_t output) {
    const ModelDefinition& definition = definitionOf(model);
    return output < definition.realCount ? definition.realVariables[output].dependsOn : 0U;
}

// Before initialization ends an output depends on every known it reads;
// afterwards on the inputs alone, since parameters change only when set.
std::vector<fmi3ValueReference> dependenciesOf(const Instance& s, std::uint32_t output) {
    const bool initial =
        (static_cast<std::uint32_t>(s.state) & (Instantiated | InitializationMode)) != 0;
    const ModelFacts& facts = factsOf(s.model);
    std::vector<fmi3ValueReference> dependencies;
    for (std::uint32_t vr = 0; vr < facts.firstOutput; ++vr) {
        const bool reads = (knownsRead(s.model, output) & (1U << vr)) != 0;
        const bool isInput = !facts.startValues[vr].has_value();
        if (reads && (initial || isInput)) {
            dependencies.push_back(vr);
        }
    }
    return dependencies;
}

bool dependentAccepted(Instance* s, Expectation& e, const char* function,
                       fmi3ValueReference dependent) {
    if (!opens(s, function, kAnyState, e)) {
        return false;
    }
    trace(*s, e, formatted("%s: dependent = %u", function, dependent));
    if (isOutput(s->model, dependent)) {
        return true;
    }
    if (dependent > timeReference(s->model)) {
        refuseReference(*s, e, function, dependent);
    } else {
        refuse(*s, e,
               formatted("%s: Variable %u is no output; only outputs have dependencies in the "
                         "model structure.",
                         function, dependent));
    }
    return false;
}

}  // namespace

void callDerivative(World& world, bool adjoint, int model, int slot, Instance* s,
                    const DerivativeArguments& a) {
    const char* const function =
        adjoint ? "fmi3GetAdjointDerivative" : "fmi3GetDirectionalDerivative";
    Call call(world, function, model, slot, kOkOrError);
    std::vector<std::uint64_t> expected;
    const std::size_t resulting = adjoint ? a.nKnowns : a.nUnknowns;
    for (std::size_t i = 0; a.sensitivity != nullptr && i < resulting && resulting <= kMaxNvr;
         ++i) {
        expected.push_back(bitsOf(a.sensitivity[i]));
    }
    Expectation e;
    const bool computed = derivativeAccepted(s, e, function, adjoint, a);
    if (computed) {
        expected = expectedSensitivities(*s, adjoint, a);
    }
    const Fmi3Functions& f = call.fmi();
    const fmi3Status status = (adjoint ? f.getAdjointDerivative : f.getDirectionalDerivative)(
        componentOf(s), a.unknowns, a.nUnknowns, a.knowns, a.nKnowns, a.seed, a.nSeed,
        a.sensitivity, a.nSensitivity);
    call.check(status, e);
    call.checkCalloc(0);
    requireDerivatives(function, "sensitivity", a.sensitivity, expected, computed);
}

void callNumberOfDependencies(World& world, int model, int slot, Instance* s,
                              fmi3ValueReference dependent, bool nullCount) {
    constexpr const char* function = "fmi3GetNumberOfVariableDependencies";
    Call call(world, function, model, slot, kOkOrError);
    constexpr std::size_t kUntouchedCount = 0x5a5a5a5a;
    std::size_t count = kUntouchedCount;
    std::size_t expectedCount = kUntouchedCount;
    Expectation e;
    if (dependentAccepted(s, e, function, dependent)) {
        if (nullCount) {
            refuseNull(*s, e, function, "nDependencies");
        } else {
            expectedCount = dependenciesOf(*s, dependent).size();
        }
    }
    call.check(call.fmi().getNumberOfVariableDependencies(componentOf(s), dependent,
                                                          nullCount ? nullptr : &count),
               e);
    call.checkCalloc(0);
    require(count == expectedCount, [&] {
        return std::string(function) + ": " + std::to_string(count) + " instead of " +
               std::to_string(expectedCount);
    });
}

void callVariableDependencies(World& world, int model, int slot, Instance* s,
                              fmi3ValueReference dependent, std::uint8_t countByte,
                              std::uint8_t nulls) {
    constexpr const char* function = "fmi3GetVariableDependencies";
    Call call(world, function, model, slot, kOkOrError);
    std::vector<fmi3ValueReference> dependencies;
    if (s != nullptr && isOutput(model, dependent)) {
        dependencies = dependenciesOf(*s, dependent);
    }
    const std::size_t count = dependencies.size();
    const std::size_t nDependencies = countByte < kWrongCount ? count : count + (countByte & 7) - 4;
    const std::uint8_t leftOut = nulls >= kArraysTampered ? nulls & 0x0F : 0;
    // The master's arrays, as long as the dependencies there are; untouched
    // unless the call succeeds.
    constexpr std::size_t kUntouchedIndex = 0x5a5a5a5a;
    constexpr fmi3ValueReference kUntouchedReference = 0x5a5a5a5aU;
    std::vector<std::size_t> dependentElements(count + 1, kUntouchedIndex);
    std::vector<fmi3ValueReference> independents(count + 1, kUntouchedReference);
    std::vector<std::size_t> independentElements(count + 1, kUntouchedIndex);
    std::vector<fmi3DependencyKind> kinds(count + 1, fmi3Constant);
    const auto given = [leftOut](int bit, auto* array) {
        return (leftOut & (1U << bit)) != 0 ? nullptr : array;
    };
    std::size_t* const dependentElementsGiven = given(0, dependentElements.data());
    fmi3ValueReference* const independentsGiven = given(1, independents.data());
    std::size_t* const independentElementsGiven = given(2, independentElements.data());
    fmi3DependencyKind* const kindsGiven = given(3, kinds.data());
    Expectation e;
    bool written = false;
    if (dependentAccepted(s, e, function, dependent)) {
        if (nDependencies != count) {
            refuse(*s, e,
                   formatted("%s: nDependencies = %zu, but variable %u has %zu dependencies here.",
                             function, nDependencies, dependent, count));
        } else {
            written = arrayGiven(*s, e, function, count, dependentElementsGiven,
                                 "elementIndicesOfDependent[]") &&
                      arrayGiven(*s, e, function, count, independentsGiven, "independents[]") &&
                      arrayGiven(*s, e, function, count, independentElementsGiven,
                                 "elementIndicesOfIndependents[]") &&
                      arrayGiven(*s, e, function, count, kindsGiven, "dependencyKinds[]");
        }
    }
    call.check(call.fmi().getVariableDependencies(componentOf(s), dependent, dependentElementsGiven,
                                                  independentsGiven, independentElementsGiven,
                                                  kindsGiven, nDependencies),
               e);
    call.checkCalloc(0);
    for (std::size_t i = 0; i <= count; ++i) {
        const bool holds = written && i < count;
        require(dependentElements[i] == (holds ? 0 : kUntouchedIndex) &&
                    independents[i] == (holds ? dependencies[i] : kUntouchedReference) &&
                    independentElements[i] == (holds ? 0 : kUntouchedIndex) &&
                    kinds[i] == (holds ? fmi3Dependent : fmi3Constant),
                [&] {
                    return std::string(function) + ": dependency " + std::to_string(i) +
                           " is wrong";
                });
    }
}

void callOutputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                           const fmi3ValueReference* vr, const fmi3Int32* orders,
                           fmi3Float64* values, std::size_t nValues) {
    constexpr const char* function = "fmi3GetOutputDerivatives";
    Call call(world, function, model, slot, kOkOrError);
    Expectation e;
    if (opensFor(s, false, function, StepMode | Terminated | Error, e)) {
        trace(*s, e, formatted("%s: nValueReferences = %zu", function, nvr));
        if (nvr != 0) {
            refuse(*s, e,
                   formatted("%s: This FMU computes no derivatives of its outputs "
                             "(maxOutputDerivativeOrder=\"0\").",
                             function));
        }
    }
    call.check(call.fmi().getOutputDerivatives(componentOf(s), vr, nvr, orders, values, nValues),
               e);
    call.checkCalloc(0);
    if (values != nullptr && nvr <= kMaxNvr) {
        requireValues(function, "values", values, std::vector<std::uint64_t>(nvr, kUntouchedBits));
    }
}

void callVersion(World& world, int model) {
    Call call(world, "fmi3GetVersion", model, kNullSlot, kOkOrError);
    const char* text = call.fmi().getVersion();
    require(text != nullptr && std::strcmp(text, "3.0") == 0,
            [] { return std::string("fmi3GetVersion answered something else"); });
    call.checkEffects(Expectation{}, false);
}

void retire(World& world, int model, int slot) {
    sharedRules::retire(world, libraryOf(kVersion, model), slot,
                        [&](Instance* s) { callFreeInstance(world, model, slot, s); });
}

}  // namespace fmi3

// ------------------------------------------------------------ Model Exchange

namespace fmi3 {

namespace {

enum ModelExchangeFunction : std::uint8_t {
    kEnterEventMode,
    kUpdateDiscreteStates,
    kEnterContinuousTimeMode,
    kCompletedIntegratorStep,
    kSetTime,
    kSetContinuousStates,
    kGetContinuousStateDerivatives,
    kGetEventIndicators,
    kGetContinuousStates,
    kGetNominalsOfContinuousStates,
    kGetNumberOfEventIndicators,
    kGetNumberOfContinuousStates,
    kModelExchangeFunctionCount,
};

constexpr const char* kModelExchangeNames[] = {"fmi3EnterEventMode",
                                               "fmi3UpdateDiscreteStates",
                                               "fmi3EnterContinuousTimeMode",
                                               "fmi3CompletedIntegratorStep",
                                               "fmi3SetTime",
                                               "fmi3SetContinuousStates",
                                               "fmi3GetContinuousStateDerivatives",
                                               "fmi3GetEventIndicators",
                                               "fmi3GetContinuousStates",
                                               "fmi3GetNominalsOfContinuousStates",
                                               "fmi3GetNumberOfEventIndicators",
                                               "fmi3GetNumberOfContinuousStates"};

// What the slave must do for the call, on the master's books; false for no
// results to expect.
bool expectModelExchange(Instance* s, Expectation& e, ModelExchangeFunction function,
                         std::size_t count, bool nullResult, double time) {
    const char* const name = kModelExchangeNames[function];
    const auto emptyVector = [&](const char* countName, const char* what) {
        trace(*s, e, formatted("%s: %s = %zu", name, countName, count));
        if (count != 0) {
            refuse(*s, e,
                   formatted("%s: %s = %zu, but this FMU has no %s (0).", name, countName, count,
                             what));
        }
        return false;
    };
    switch (function) {
        case kEnterEventMode:
        case kEnterContinuousTimeMode: {
            const bool toEvents = function == kEnterEventMode;
            if (opensFor(s, true, name, toEvents ? ContinuousTimeMode : EventMode, e,
                         toEvents ? kNoEventMode : nullptr)) {
                trace(*s, e, name);
                s->state = toEvents ? EventMode : ContinuousTimeMode;
            }
            return false;
        }
        case kUpdateDiscreteStates:
            if (!opensFor(s, true, name, EventMode, e, kNoEventMode)) {
                return false;
            }
            trace(*s, e, name);
            if (nullResult) {
                refuseNull(*s, e, name, "discreteStatesNeedUpdate");
                return false;
            }
            return true;
        case kCompletedIntegratorStep:
            if (!opensFor(s, true, name, ContinuousTimeMode, e)) {
                return false;
            }
            if (nullResult) {
                refuseNull(*s, e, name, "enterEventMode");
                return false;
            }
            trace(*s, e, formatted("%s: noSetFMUStatePriorToCurrentPoint = fmi3True", name));
            return true;
        case kSetTime:
            if (opensFor(s, true, name, ContinuousTimeMode, e)) {
                trace(*s, e, formatted("%s: time = %.16g", name, time));
                if (!std::isfinite(time)) {
                    refuse(*s, e, formatted("%s: The time %g is not finite.", name, time));
                } else {
                    s->currentTime = time;
                }
            }
            return false;
        case kSetContinuousStates:
            return opensFor(s, true, name, ContinuousTimeMode, e) &&
                   emptyVector("nContinuousStates", "continuous states");
        case kGetEventIndicators:
            return opensFor(s, true, name, kVectorsReadable, e) &&
                   emptyVector("nEventIndicators", "event indicators");
        case kGetContinuousStateDerivatives:
        case kGetContinuousStates:
        case kGetNominalsOfContinuousStates:
            return opensFor(s, true, name, kVectorsReadable, e) &&
                   emptyVector("nContinuousStates", "continuous states");
        default:
            if (!opensFor(s, true, name, kAnyState, e)) {
                return false;
            }
            if (nullResult) {
                refuseNull(*s, e, name,
                           function == kGetNumberOfEventIndicators ? "nEventIndicators"
                                                                   : "nContinuousStates");
                return false;
            }
            trace(*s, e, name);
            return true;
    }
}

}  // namespace

std::size_t modelExchangeCount() {
    return kModelExchangeFunctionCount;
}

void callModelExchange(World& world, std::size_t which, int model, int slot, Instance* s,
                       std::size_t count, bool nullResult, double time) {
    const auto function = static_cast<ModelExchangeFunction>(which);
    Call call(world, kModelExchangeNames[function], model, slot, kOkOrError);
    Expectation e;
    const bool results = expectModelExchange(s, e, function, count, nullResult, time);
    const Fmi3Functions& f = call.fmi();
    const fmi3Instance c = componentOf(s);
    // Flags the slave must clear, a count it must zero; vectors it must not
    // touch, as long as any count passed.
    fmi3Boolean flags[5] = {true, true, true, true, true};
    fmi3Float64 nextEventTime = 7.0;
    std::size_t number = 7;
    std::vector<fmi3Float64> vector(count + 1, 7.0);
    fmi3Status status = fmi3Error;
    switch (function) {
        case kEnterEventMode:
            status = f.enterEventMode(c);
            break;
        case kUpdateDiscreteStates:
            status = f.updateDiscreteStates(c, nullResult ? nullptr : &flags[0], &flags[1],
                                            &flags[2], &flags[3], &flags[4], &nextEventTime);
            break;
        case kEnterContinuousTimeMode:
            status = f.enterContinuousTimeMode(c);
            break;
        case kCompletedIntegratorStep:
            status =
                f.completedIntegratorStep(c, true, nullResult ? nullptr : &flags[0], &flags[1]);
            break;
        case kSetTime:
            status = f.setTime(c, time);
            break;
        case kSetContinuousStates:
            status = f.setContinuousStates(c, vector.data(), count);
            break;
        case kGetContinuousStateDerivatives:
            status = f.getContinuousStateDerivatives(c, vector.data(), count);
            break;
        case kGetEventIndicators:
            status = f.getEventIndicators(c, vector.data(), count);
            break;
        case kGetContinuousStates:
            status = f.getContinuousStates(c, vector.data(), count);
            break;
        case kGetNominalsOfContinuousStates:
            status = f.getNominalsOfContinuousStates(c, vector.data(), count);
            break;
        case kGetNumberOfEventIndicators:
            status = f.getNumberOfEventIndicators(c, nullResult ? nullptr : &number);
            break;
        default:
            status = f.getNumberOfContinuousStates(c, nullResult ? nullptr : &number);
            break;
    }
    call.check(status, e);
    call.checkCalloc(0);
    const bool flagsCleared = function == kUpdateDiscreteStates
                                  ? !flags[0] && !flags[1] && !flags[2] && !flags[3] && !flags[4]
                                  : !flags[0] && !flags[1];
    const bool countZeroed = number == 0;
    const bool resultsRight =
        !results ? flags[1] && number == 7
        : function == kUpdateDiscreteStates || function == kCompletedIntegratorStep ? flagsCleared
                                                                                    : countZeroed;
    require(resultsRight && nextEventTime == 7.0 &&
                std::all_of(vector.begin(), vector.end(), [](double v) { return v == 7.0; }),
            [&] { return std::string(kModelExchangeNames[function]) + ": the results are wrong"; });
}

}  // namespace fmi3
