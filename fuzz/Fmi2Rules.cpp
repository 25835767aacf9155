// The rules of the FMI 2.0 calls, call by call, as the 2.0 front-end states
// them: a call in a state it is not allowed in, a null array and a bad value
// reference put the instance into Error before the logger hears of it, and
// Error is a state like the others, which fmi2Reset, fmi2SetFMUstate and
// fmi2FreeInstance leave. Messages carry the master's environment and name
// their category; the calls are traced only while logCalls is on. The model
// computes in the floating-point environment it was validated in, and the
// caller's comes back unchanged. A Model Exchange instance has the modes of
// its own, refuses the calls of co-simulation as a co-simulation instance
// refuses its calls, and computes its outputs at the first read after a
// change.
#include "Fmi2Rules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Callbacks.h"
#include "Checks.h"
#include "Expectation.h"
#include "Fmi2Functions.h"
#include "Fmi2Instance.h"
#include "RecordingAllocator.h"
#include "SharedRules.h"

extern "C" void countStepFinished(fmi2ComponentEnvironment, fmi2Status) {
    recordingStepFinished(nullptr, fmiOK);
}

namespace fmi2 {
namespace {

using namespace sharedRules;

constexpr int kVersion = 2;
constexpr const char* kInstantiate = "fmi2Instantiate";
constexpr const char* kErrorCategoryName = "logStatusError";
constexpr const char* kCallsCategoryName = "logCalls";
// The log categories, one bit each in the library's order.
constexpr std::uint32_t kCallsBit = 2;
constexpr std::uint32_t kAllCategoryBits = 3;
constexpr const char* kCategoryNames[] = {kErrorCategoryName, kCallsCategoryName};

constexpr std::uint32_t kModes = EventMode | ContinuousTimeMode;
constexpr std::uint32_t kAnyState =
    Instantiated | InitializationMode | StepComplete | Terminated | Error | kModes;
constexpr std::uint32_t kWritable = Instantiated | InitializationMode | StepComplete | kModes;
constexpr std::uint32_t kReadable = kAnyState & ~Instantiated;
constexpr const char* kCoSimulationName = "co-simulation";
constexpr const char* kModelExchangeName = "Model Exchange";

// The one block of an instance: the record, the real values, the name.
constexpr std::size_t kValuesOffset = roundedToReal(sizeof(Fmi2Instance));
// The one block of an FMU state: its record, then the real values.
constexpr std::size_t kFmuStateValuesOffset = roundedToReal(sizeof(SavedFmuState));

const char* operationName(Operation operation) {
    static const char* const names[] = {
        "fmi2Instantiate",
        "fmi2FreeInstance",
        "fmi2SetDebugLogging",
        "fmi2SetupExperiment",
        "fmi2EnterInitializationMode",
        "fmi2ExitInitializationMode",
        "fmi2Terminate",
        "fmi2Reset",
        "fmi2SetReal",
        "fmi2SetInteger",
        "fmi2SetBoolean",
        "fmi2SetString",
        "fmi2GetReal",
        "fmi2GetInteger",
        "fmi2GetBoolean",
        "fmi2GetString",
        "fmi2GetFMUstate",
        "fmi2SetFMUstate",
        "fmi2FreeFMUstate",
        "fmi2SerializedFMUstateSize",
        "fmi2SerializeFMUstate",
        "fmi2DeSerializeFMUstate",
        "fmi2GetDirectionalDerivative",
        "fmi2SetRealInputDerivatives",
        "fmi2GetRealOutputDerivatives",
        "fmi2DoStep",
        "fmi2CancelStep",
        "fmi2GetStatus",
        "fmi2GetRealStatus",
        "fmi2GetIntegerStatus",
        "fmi2GetBooleanStatus",
        "fmi2GetStringStatus",
        "fmi2GetVersion",
        "fmi2GetTypesPlatform",
    };
    static_assert(std::size(names) == static_cast<std::size_t>(Operation::Fmi2GetTypesPlatform) -
                                          static_cast<std::size_t>(kFirstFmi2Operation) + 1);
    return names[static_cast<std::size_t>(operation) -
                 static_cast<std::size_t>(kFirstFmi2Operation)];
}

StatusSet statusesOf(Operation operation) {
    switch (operation) {
        case Operation::Fmi2CancelStep:
            return statusSet({fmiError});
        case Operation::Fmi2GetStatus:
        case Operation::Fmi2GetRealStatus:
        case Operation::Fmi2GetIntegerStatus:
        case Operation::Fmi2GetBooleanStatus:
        case Operation::Fmi2GetStringStatus:
            return statusSet({fmiOK, fmiDiscard, fmiError});
        default:
            return statusSet({fmiOK, fmiError});
    }
}

const char* libraryNameOf(int model) {
    return libraryName(kVersion, model);
}

// One checked call on the 2.0 library of a model, made in the environment
// the master chose.
class Call : public CheckedCall {
  public:
    Call(World& world, Operation operation, int model, int slot)
        : Call(world, operationName(operation), statusesOf(operation), model, slot) {}
    Call(World& world, const char* function, StatusSet statuses, int model, int slot)
        : CheckedCall(world, {libraryNameOf(model), function, slot}, statuses,
                      defaultMxcsr | world.callerEnvironment),
          model_(model) {
        if (factsOf(model).flushesToZero) {
            requireFlagsKept();
        }
    }

    // The library's functions, about to be called.
    const Fmi2Functions& fmi() const {
        clearFlags();
        return loadedModels[libraryOf(kVersion, model_)].fmi2;
    }

  private:
    int model_;
};

// ------------------------------------------------------------ the record

void checkRecord(Instance& s) {
    const auto& r = *static_cast<const Fmi2Instance*>(s.c);
    const std::string who = std::string(libraryNameOf(s.model)) + " instance \"" + s.name + "\"";
    // A parameter changes only at an event in Model Exchange.
    ValueReferenceSet settable = ~ValueReferenceSet{0};
    if (s.state == ContinuousTimeMode) {
        for (std::uint32_t vr = 0; vr < factsOf(s.model).firstOutput; ++vr) {
            if (factsOf(s.model).startValues[vr].has_value()) {
                settable &= ~(ValueReferenceSet{1} << vr);
            }
        }
    }
    checkRecordHead(s, r, who, settable);
    require(r.data.modelExchange == s.modelExchange && r.data.outputsOutdated == s.outputsOutdated,
            [&] { return who + ": interface or outdated outputs differ"; });
    const fmi2CallbackFunctions& given = s.callbacks2;
    require(r.callbacks.logger == given.logger &&
                r.callbacks.allocateMemory == given.allocateMemory &&
                r.callbacks.freeMemory == given.freeMemory &&
                r.callbacks.stepFinished == given.stepFinished &&
                r.callbacks.componentEnvironment == given.componentEnvironment,
            [&] { return who + ": callbacks changed"; });
    checkRecordValues(s, r, who, kValuesOffset);
    checkFmuStates(s, r.fmuStates, who, kFmuStateValuesOffset, [](const SavedFmuState*) {});
}

std::int32_t stateInRecord(const Instance& s) {
    return static_cast<std::int32_t>(static_cast<const Fmi2Instance*>(s.c)->state);
}

// ------------------------------------------------------------ the messages

void trace(Instance& s, Expectation& e, const char* format,
           std::vector<ExpectedArgument> arguments = {}) {
    if ((s.debugCategories & kCallsBit) != 0) {
        emit(s, e,
             {s.logComponent, false, s.name, fmiOK, kCallsCategoryName, format,
              std::move(arguments), s.state});
    }
}

// The instance is in Error before the logger hears of it.
void refuse(Instance& s, Expectation& e, const char* format,
            std::vector<ExpectedArgument> arguments) {
    s.state = Error;
    e.status = fmiError;
    emit(s, e,
         {s.logComponent, false, s.name, fmiError, kErrorCategoryName, format, std::move(arguments),
          Error});
}

void refuseNull(Instance& s, Expectation& e, const char* function, const char* argument) {
    refuse(s, e, "%s: Invalid argument %s = NULL.",
           {textArgument(function), textArgument(argument)});
}

void refuseReference(Instance& s, Expectation& e, const char* function, std::uint32_t vr) {
    refuse(s, e, "%s: Illegal value reference %u.", {textArgument(function), unsignedArgument(vr)});
}

// A null component is refused silently; a state outside the mask is refused
// with the state the call found.
bool opens(Instance* s, const char* function, std::uint32_t mask, Expectation& e) {
    e.status = fmiError;
    if (s == nullptr) {
        return false;
    }
    if ((static_cast<std::uint32_t>(s->state) & mask) != 0) {
        e.status = fmiOK;
        return true;
    }
    const char* const found = stateName(static_cast<std::uint32_t>(s->state), "step complete");
    refuse(*s, e, "%s: Illegal call sequence: not allowed in state %s.",
           {textArgument(function), textArgument(found)});
    return false;
}

const char* interfaceName(const Instance& s) {
    return s.modelExchange ? kModelExchangeName : kCoSimulationName;
}

// A call of one interface only: an instance of the other is refused first.
bool opensOf(Instance* s, const char* function, std::uint32_t mask, Expectation& e,
             bool modelExchange) {
    if (s != nullptr && s->modelExchange != modelExchange) {
        refuse(*s, e, "%s: Illegal call: this is a %s function, and %s is a %s instance.",
               {textArgument(function),
                textArgument(modelExchange ? kModelExchangeName : kCoSimulationName),
                textArgument(s->name), textArgument(interfaceName(*s))});
        return false;
    }
    return opens(s, function, mask, e);
}

// Both arrays of a call with elements, reference array first.
bool arraysGiven(Instance& s, Expectation& e, const char* function, std::size_t n,
                 const void* references, const char* referencesName, const void* values,
                 const char* valuesName) {
    if (n == 0) {
        return true;
    }
    if (references == nullptr) {
        refuseNull(s, e, function, referencesName);
        return false;
    }
    if (values == nullptr) {
        refuseNull(s, e, function, valuesName);
        return false;
    }
    return true;
}

// ------------------------------------------------------------ the model

void writeFreshValues(Instance& s) {
    sharedRules::writeFreshValues(s, Instantiated);
    s.outputsOutdated = s.modelExchange;
}

// Model Exchange: the outputs at the values as they stand, computed at a
// read after a change; false after the test model's refusal.
bool refreshOutputs(Instance& s, Expectation& e, const char* function) {
    if (!s.outputsOutdated) {
        return true;
    }
    s.outputsOutdated = false;
    if (updateAsksToTerminate(s)) {
        refuse(s, e, "%s: The model requested termination at t=%g.",
               {textArgument(function), realArgument(s.currentTime)});
        return false;
    }
    return true;
}

// fmi2SetReal of one element after its nvr trace: only parameters and inputs.
bool setOne(Instance& s, Expectation& e, std::uint32_t vr, double value) {
    constexpr const char* function = "fmi2SetReal";
    const bool parameter = vr < s.reals.size() && factsOf(s.model).startValues[vr].has_value() &&
                           isParameterOrInput(s.model, vr);
    if (!isParameterOrInput(s.model, vr) || (parameter && s.state == ContinuousTimeMode)) {
        if (vr >= s.reals.size()) {
            refuseReference(s, e, function, vr);
        } else if (!parameter) {
            refuse(s, e, "%s: Variable %u is an output; only parameters and inputs can be set.",
                   {textArgument(function), unsignedArgument(vr)});
        } else {
            refuse(s, e,
                   "%s: Variable %u is a parameter; in continuous-time mode only inputs can be "
                   "set, parameters in event mode.",
                   {textArgument(function), unsignedArgument(vr)});
        }
        return false;
    }
    trace(s, e, "fmi2SetReal: #r%u# = %.16g", {unsignedArgument(vr), realArgument(value)});
    s.reals[vr] = value;
    return true;
}

// fmi2GetReal of one element; the value it must deliver, if any.
bool getOne(Instance& s, Expectation& e, std::uint32_t vr, std::uint64_t& bits) {
    if (vr >= s.reals.size()) {
        refuseReference(s, e, "fmi2GetReal", vr);
        return false;
    }
    bits = expectedBitsOf(s, vr);
    trace(s, e, "fmi2GetReal: #r%u# = %.16g",
          {unsignedArgument(vr), realArgument(realFromBits(bits))});
    return true;
}

// ------------------------------------------------------------ the logger's call back

void expectCallBack(Instance& s, ReentryAction action, Expectation& nested) {
    const std::uint32_t vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            if (opens(&s, "fmi2SetDebugLogging", kAnyState, nested)) {
                const auto flag = static_cast<fmi2Boolean>(s.reentryFlag);
                trace(s, nested, "%s: loggingOn=%d, nCategories=%u",
                      {textArgument("fmi2SetDebugLogging"), integerArgument(flag),
                       unsignedArgument(0)});
                s.debugCategories = flag != fmi2False ? kAllCategoryBits : 0U;
            }
            break;
        case kReentrySetReal:
            if (opens(&s, "fmi2SetReal", kWritable, nested)) {
                trace(s, nested, "fmi2SetReal: nvr = %u", {unsignedArgument(1)});
                s.outputsOutdated = s.modelExchange;
                setOne(s, nested, vr, s.reentryValue);
            }
            break;
        case kReentryGetReal:
            if (opens(&s, "fmi2GetReal", kReadable, nested) &&
                refreshOutputs(s, nested, "fmi2GetReal")) {
                getOne(s, nested, vr, nestedExpected.valueBits);
            }
            break;
        default:
            break;
    }
}

void callBack(Instance& s, ReentryAction action) {
    const Fmi2Functions& f = loadedModels[s.library].fmi2;
    const fmi2ValueReference vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            nestedActual.status = static_cast<fmiStatus>(
                f.setDebugLogging(s.c, static_cast<fmi2Boolean>(s.reentryFlag), 0, nullptr));
            break;
        case kReentrySetReal: {
            const fmi2Real value = s.reentryValue;
            nestedActual.status = static_cast<fmiStatus>(f.setReal(s.c, &vr, 1, &value));
            break;
        }
        case kReentryGetReal: {
            fmi2Real value = realFromBits(kUntouchedBits);
            nestedActual.status = static_cast<fmiStatus>(f.getReal(s.c, &vr, 1, &value));
            nestedActual.valueBits = bitsOf(value);
            break;
        }
        default:
            break;
    }
}

constexpr InstanceRules kInstanceRules = {checkRecord, stateInRecord, expectCallBack, callBack};

// ------------------------------------------------------------ FMU states

// The instance's own FMU state behind the handle, or null after a refusal.
KnownFmuState* acceptFmuState(Instance& s, Expectation& e, const char* function, void* handle) {
    if (handle == nullptr) {
        refuseNull(s, e, function, "FMUstate");
        return nullptr;
    }
    KnownFmuState* const own = ownFmuState(s, handle);
    if (own == nullptr) {
        refuse(s, e, "%s: FMUstate %p is no FMU state of this instance, or it was freed.",
               {textArgument(function), pointerArgument(handle)});
    }
    return own;
}

std::uint32_t statesOf(const Instance& s) {
    constexpr std::uint32_t shared = Instantiated | InitializationMode | Terminated | Error;
    return s.modelExchange ? shared | kModes : shared | StepComplete;
}

// The state serialized bytes were taken in when it is one that only the
// other interface has, 0 for any other bytes.
std::uint32_t otherInterfaceState(const Instance& s, int model, const std::vector<char>& bytes) {
    const fmuStateBytes::Reading any =
        fmuStateBytes::read(identityOf(model), kAnyState, bytes.data(), bytes.size());
    const std::uint32_t state = any.content.state;
    const bool other = any.problem == fmuStateBytes::Problem::None && (state & statesOf(s)) == 0;
    return other ? state : 0;
}

std::size_t fmuStateBlockSize(const Instance& s) {
    return kFmuStateValuesOffset + sizeof(double) * s.reals.size();
}

void refuseReading(Instance& s, Expectation& e, const fmuStateBytes::Reading& reading) {
    using fmuStateBytes::Problem;
    constexpr const char* function = "fmi2DeSerializeFMUstate";
    const ModelFacts& facts = factsOf(s.model);
    switch (reading.problem) {
        case Problem::None:
            return;
        case Problem::NotAnFmuState:
            refuse(s, e, "%s: The bytes are no serialized FMU state of this library (%s).",
                   {textArgument(function), textArgument(fmuStateBytes::kName)});
            return;
        case Problem::Damaged:
            refuse(s, e,
                   "%s: The serialized FMU state is damaged: its checksum, length or contents "
                   "do not match.",
                   {textArgument(function)});
            return;
        case Problem::OtherFormatVersion:
            refuse(s, e,
                   "%s: The serialized FMU state is in format version %u; this library reads "
                   "version %u.",
                   {textArgument(function), unsignedArgument(reading.formatVersion),
                    unsignedArgument(fmuStateBytes::kVersion)});
            return;
        case Problem::OtherFmiVersion:
            refuse(s, e, "%s: The serialized FMU state is of FMI version %s, not %s.",
                   {textArgument(function), textArgument(reading.found), textArgument("2.0")});
            return;
        case Problem::OtherModel:
            refuse(s, e, "%s: The serialized FMU state is of model %s, not %s.",
                   {textArgument(function), textArgument(reading.found),
                    textArgument(facts.identifier)});
            return;
        case Problem::OtherGuid:
            refuse(s, e, "%s: The serialized FMU state is of GUID %s, not %s.",
                   {textArgument(function), textArgument(reading.found), textArgument(facts.guid)});
            return;
    }
}

// What a status query must answer, and whether it can.
void expectStatus(Instance& s, Expectation& e, Operation operation, int kind) {
    const bool answers =
        (operation == Operation::Fmi2GetStatus && kind == fmi2DoStepStatus) ||
        (operation == Operation::Fmi2GetRealStatus && kind == fmi2LastSuccessfulTime) ||
        (operation == Operation::Fmi2GetBooleanStatus && kind == fmi2Terminated);
    if (answers) {
        return;
    }
    e.status = fmiDiscard;
    emit(s, e,
         {s.logComponent,
          false,
          s.name,
          fmiDiscard,
          kErrorCategoryName,
          "%s: Status kind %d cannot be answered here: the slave never steps asynchronously and "
          "never ends a simulation itself.",
          {textArgument(operationName(operation)), integerArgument(kind)},
          s.state});
}

}  // namespace

fmuStateBytes::Identity identityOf(int model) {
    const ModelFacts& facts = factsOf(model);
    return {"2.0", facts.identifier, facts.guid, facts.realCount()};
}

// ------------------------------------------------------------ the calls

void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a) {
    retire(world, model, slot);
    const ModelFacts& facts = factsOf(model);
    const int library = libraryOf(kVersion, model);
    const AllocationPlan plan(a.allocation);
    std::unique_ptr<char[]> name = masterName(world, a.nameKind, a.inputName);
    std::unique_ptr<char[]> guid = masterGuid(a.guidKind, model);
    // The callbacks in a block of their own, released right after the call:
    // the slave must keep a copy.
    std::unique_ptr<fmi2CallbackFunctions> functions(
        new fmi2CallbackFunctions(recordingCallbacks2()));
    functions->componentEnvironment = &environments[library][slot];
    leaveOutCallbacks(*functions, a.callbacks);
    if ((a.callbacks & kNoStepFinished) != 0) {
        // A master may hand one; the slave never steps asynchronously.
        functions->stepFinished = countStepFinished;
    }
    const bool nullCallbacks = a.callbacks >= kCallbacksTampered && (a.callbacks & kNullCallbacks);
    const fmi2CallbackFunctions given = *functions;
    void* const environment = given.componentEnvironment;

    Call call(world, Operation::Fmi2Instantiate, model, slot);
    Expectation e;
    const std::string nameText = name ? name.get() : "";
    const auto refuseInstantiation = [&](const char* format,
                                         std::vector<ExpectedArgument> arguments) {
        arguments.insert(arguments.begin(), textArgument(kInstantiate));
        e.messages.push_back({environment, false, nameText, fmiError, kErrorCategoryName, format,
                              std::move(arguments), 0});
    };
    const bool noLocation = (a.extras & 1) != 0;
    PlannedRequests requests;
    bool created = false;
    if (nullCallbacks || given.logger == nullptr) {
        // No one to tell.
    } else if (given.allocateMemory == nullptr || given.freeMemory == nullptr) {
        refuseInstantiation(
            "%s: Missing callback function: allocateMemory and freeMemory are required.", {});
    } else if (nameText.empty()) {
        refuseInstantiation("%s: Missing instance name.", {});
    } else if (a.fmuType != fmi2CoSimulation && a.fmuType != fmi2ModelExchange) {
        refuseInstantiation(
            "%s: fmuType %d is not supported: %s is a Model Exchange "
            "(fmi2ModelExchange = 0) and co-simulation (fmi2CoSimulation = 1) FMU.",
            {integerArgument(a.fmuType), textArgument(facts.identifier)});
    } else if (!guid) {
        refuseInstantiation("%s: Invalid argument %s = NULL.", {textArgument("fmuGUID")});
    } else if (guid.get() != facts.guid) {
        refuseInstantiation("%s: Wrong GUID %s. Expected %s.",
                            {textArgument(guid.get()), textArgument(facts.guid)});
    } else {
        const std::size_t size =
            kValuesOffset + sizeof(double) * facts.realCount() + nameText.size() + 1;
        requests.emplace_back(1, size);
        if (plan.fails(1, size)) {
            refuseInstantiation("%s: Out of memory.", {});
        } else {
            created = true;
            if (a.loggingOn != fmi2False) {
                e.messages.push_back(
                    {environment,
                     false,
                     nameText,
                     fmiOK,
                     kCallsCategoryName,
                     "%s: GUID=%s, resource location %s, %s instance",
                     {textArgument(kInstantiate), textArgument(facts.guid),
                      textArgument(noLocation ? "(none)" : "file:///nowhere"),
                      textArgument(a.fmuType == fmi2ModelExchange ? kModelExchangeName
                                                                  : kCoSimulationName)},
                     0});
            }
        }
    }
    const fmi2Component c = call.fmi().instantiate(
        name.get(), a.fmuType, guid.get(), noLocation ? nullptr : "file:///nowhere",
        nullCallbacks ? nullptr : functions.get(), (a.extras & 2) != 0, a.loggingOn);
    name.reset();
    guid.reset();
    functions.reset();

    const std::vector<AllocationRequest> made = recordingAllocator().requests();
    plan.checkRequests(made, requests);
    if (!created) {
        require(c == nullptr,
                [&] { return std::string("a refused instantiation returned an instance"); });
        call.checkEffects(e, true);
        return;
    }
    require(c != nullptr && c == made[0].result,
            [&] { return std::string("instantiation did not return the block it obtained"); });
    Instance s;
    s.model = model;
    s.library = library;
    s.c = c;
    s.rules = &kInstanceRules;
    s.logComponent = environment;
    s.name = nameText;
    s.callbacks2 = given;
    s.debugCategories = a.loggingOn != fmi2False ? kAllCategoryBits : 0U;
    s.modelExchange = a.fmuType == fmi2ModelExchange;
    writeFreshValues(s);
    s.blocks = {c};
    world.slots[library][slot] = s;
    call.checkEffects(e, true);
}

void callFreeInstance(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Fmi2FreeInstance, model, slot);
    Expectation e;
    const bool frees = opens(s, "fmi2FreeInstance", kAnyState, e);
    if (frees) {
        trace(*s, e, "fmi2FreeInstance");
        for (const KnownFmuState& known : s->fmuStates) {
            e.frees.push_back(known.handle);
        }
        e.frees.push_back(s->c);
    }
    call.fmi().freeInstance(componentOf(s));
    if (frees) {
        for (const KnownFmuState& known : s->fmuStates) {
            world.freedFmuStates.push_back(known.handle);
        }
        world.slots[libraryOf(kVersion, model)][slot].reset();
    }
    call.checkEffects(e, false);
}

void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmi2Boolean loggingOn,
                         std::size_t nCategories, const fmi2String* categories) {
    constexpr const char* function = "fmi2SetDebugLogging";
    Call call(world, Operation::Fmi2SetDebugLogging, model, slot);
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, "%s: loggingOn=%d, nCategories=%u",
              {textArgument(function), integerArgument(loggingOn),
               unsignedArgument(static_cast<unsigned>(nCategories))});
        const std::optional<std::uint32_t> chosen = chosenCategories(
            nCategories, categories, kCategoryNames, kAllCategoryBits,
            [&](const char* argument) { refuseNull(*s, e, function, argument); },
            [&](const char* category) {
                refuse(*s, e, "%s: Unknown log category %s.",
                       {textArgument(function), textArgument(category)});
            });
        if (chosen) {
            s->debugCategories = loggingOn != fmi2False ? s->debugCategories | *chosen
                                                        : s->debugCategories & ~*chosen;
        }
    }
    call.check(call.fmi().setDebugLogging(componentOf(s), loggingOn, nCategories, categories), e);
}

void callSetupExperiment(World& world, int model, int slot, Instance* s,
                         fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime,
                         fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
    constexpr const char* function = "fmi2SetupExperiment";
    Call call(world, Operation::Fmi2SetupExperiment, model, slot);
    Expectation e;
    if (opens(s, function, Instantiated, e)) {
        trace(*s, e,
              "%s: toleranceDefined=%d, tolerance=%g, startTime=%g, stopTimeDefined=%d, "
              "stopTime=%g",
              {textArgument(function), integerArgument(toleranceDefined), realArgument(tolerance),
               realArgument(startTime), integerArgument(stopTimeDefined), realArgument(stopTime)});
        if (!std::isfinite(startTime)) {
            refuse(*s, e, "%s: The start time %g is not finite.",
                   {textArgument(function), realArgument(startTime)});
        } else {
            s->currentTime = startTime;
        }
    }
    call.check(call.fmi().setupExperiment(componentOf(s), toleranceDefined, tolerance, startTime,
                                          stopTimeDefined, stopTime),
               e);
}

void callPlain(World& world, Operation operation, int model, int slot, Instance* s) {
    const char* const function = operationName(operation);
    Call call(world, operation, model, slot);
    const fmi2Component c = componentOf(s);
    Expectation e;
    fmi2Status status = fmi2OK;
    switch (operation) {
        case Operation::Fmi2EnterInitializationMode:
            if (opens(s, function, Instantiated, e)) {
                trace(*s, e, function);
                s->state = InitializationMode;
            }
            status = call.fmi().enterInitializationMode(c);
            break;
        case Operation::Fmi2ExitInitializationMode:
            if (opens(s, function, InitializationMode, e)) {
                trace(*s, e, function);
                if (s->modelExchange) {
                    s->state = EventMode;
                } else if (updateAsksToTerminate(*s)) {
                    refuse(*s, e, "%s: The model requested termination at t=%g.",
                           {textArgument(function), realArgument(s->currentTime)});
                } else {
                    s->state = StepComplete;
                }
            }
            status = call.fmi().exitInitializationMode(c);
            break;
        case Operation::Fmi2Terminate:
            if (opens(s, function, StepComplete | kModes, e)) {
                trace(*s, e, function);
                s->state = Terminated;
            }
            status = call.fmi().terminate(c);
            break;
        case Operation::Fmi2Reset:
            // Debug logging and the FMU states stay as they are.
            if (opens(s, function, kAnyState, e)) {
                trace(*s, e, function);
                writeFreshValues(*s);
            }
            status = call.fmi().reset(c);
            break;
        default:
            // There is never a step in progress to cancel.
            opensOf(s, function, 0, e, false);
            status = call.fmi().cancelStep(c);
            break;
    }
    call.check(status, e);
}

void callSetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmi2ValueReference* vr, const fmi2Real* value) {
    constexpr const char* function = "fmi2SetReal";
    Call call(world, Operation::Fmi2SetReal, model, slot);
    Expectation e;
    if (opens(s, function, kWritable, e) &&
        arraysGiven(*s, e, function, nvr, vr, "vr[]", value, "value[]")) {
        trace(*s, e, "fmi2SetReal: nvr = %u", {unsignedArgument(static_cast<unsigned>(nvr))});
        s->outputsOutdated = s->modelExchange;
        for (std::size_t i = 0; i < nvr && setOne(*s, e, vr[i], value[i]); ++i) {
        }
    }
    call.check(call.fmi().setReal(componentOf(s), vr, nvr, value), e);
}

void callGetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmi2ValueReference* vr, fmi2Real* value) {
    constexpr const char* function = "fmi2GetReal";
    Call call(world, Operation::Fmi2GetReal, model, slot);
    Expectation e;
    std::vector<std::uint64_t> expectedBits = bitsBefore(value, nvr);
    if (opens(s, function, kReadable, e) &&
        arraysGiven(*s, e, function, nvr, vr, "vr[]", value, "value[]") &&
        refreshOutputs(*s, e, function)) {
        for (std::size_t i = 0; i < nvr && getOne(*s, e, vr[i], expectedBits[i]); ++i) {
        }
    }
    call.check(call.fmi().getReal(componentOf(s), vr, nvr, value), e);
    requireValues(function, "value", value, expectedBits);
}

void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmi2ValueReference* vr, void* value) {
    const char* const function = operationName(operation);
    const bool isSet = operation <= Operation::Fmi2SetString;
    Call call(world, operation, model, slot);
    Expectation e;
    if (opens(s, function, isSet ? kWritable & ~ContinuousTimeMode : kReadable, e) &&
        arraysGiven(*s, e, function, nvr, vr, "vr[]", value, "value[]")) {
        trace(*s, e, "%s: nvr = %u",
              {textArgument(function), unsignedArgument(static_cast<unsigned>(nvr))});
        // No model has variables of these types.
        if (nvr > 0) {
            refuseReference(*s, e, function, vr[0]);
        }
    }
    const fmi2Component c = componentOf(s);
    const Fmi2Functions& f = call.fmi();
    fmi2Status status = fmi2OK;
    switch (operation) {
        case Operation::Fmi2SetInteger:
            status = f.setInteger(c, vr, nvr, static_cast<const fmi2Integer*>(value));
            break;
        case Operation::Fmi2SetBoolean:
            status = f.setBoolean(c, vr, nvr, static_cast<const fmi2Boolean*>(value));
            break;
        case Operation::Fmi2SetString:
            status = f.setString(c, vr, nvr, static_cast<const fmi2String*>(value));
            break;
        case Operation::Fmi2GetInteger:
            status = f.getInteger(c, vr, nvr, static_cast<fmi2Integer*>(value));
            break;
        case Operation::Fmi2GetBoolean:
            status = f.getBoolean(c, vr, nvr, static_cast<fmi2Boolean*>(value));
            break;
        default:
            status = f.getString(c, vr, nvr, static_cast<fmi2String*>(value));
            break;
    }
    call.check(status, e);
}

void callGetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     bool nullPointer, std::uint8_t allocation) {
    constexpr const char* function = "fmi2GetFMUstate";
    const AllocationPlan plan(allocation);
    Call call(world, Operation::Fmi2GetFMUstate, model, slot);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi2FMUstate passed = handle;
    Expectation e;
    PlannedRequests requests;
    KnownFmuState* written = nullptr;
    bool fresh = false;
    KnownFmuState taken;
    if (opens(s, function, kAnyState, e)) {
        if (nullPointer) {
            refuseNull(*s, e, function, "FMUstate");
        } else {
            trace(*s, e, "%s: FMUstate %p", {textArgument(function), pointerArgument(handle)});
            const auto state = static_cast<std::uint32_t>(s->state);
            // The outputs it holds are those a read would give.
            const bool refreshed = state == Instantiated || refreshOutputs(*s, e, function);
            taken = {handle, state, s->currentTime, s->reals, s->anyNaNOutputs};
            if (!refreshed) {
                // Refused.
            } else if (handle != nullptr) {
                written = acceptFmuState(*s, e, function, handle);
            } else {
                requests.emplace_back(1, fmuStateBlockSize(*s));
                if (plan.fails(1, fmuStateBlockSize(*s))) {
                    refuse(*s, e, "%s: Out of memory.", {textArgument(function)});
                } else {
                    fresh = true;
                }
            }
        }
    }
    const fmi2Status status =
        call.fmi().getFMUstate(componentOf(s), nullPointer ? nullptr : &passed);
    const std::vector<AllocationRequest> made = recordingAllocator().requests();
    plan.checkRequests(made, requests);
    void* expectedHandle = handle;
    if (fresh) {
        taken.handle = made[0].result;
        s->fmuStates.insert(s->fmuStates.begin(), taken);
        expectedHandle = taken.handle;
    } else if (written != nullptr) {
        *written = taken;
    }
    call.check(status, e, true);
    require(passed == expectedHandle,
            [&] { return std::string("fmi2GetFMUstate: the FMU state handed back is wrong"); });
}

void callSetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice) {
    constexpr const char* function = "fmi2SetFMUstate";
    Call call(world, Operation::Fmi2SetFMUstate, model, slot);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, "%s: FMUstate %p", {textArgument(function), pointerArgument(handle)});
        if (const KnownFmuState* own = acceptFmuState(*s, e, function, handle)) {
            restoreFmuState(*s, *own);
            s->outputsOutdated = s->modelExchange;
        }
    }
    call.check(call.fmi().setFMUstate(componentOf(s), handle), e);
}

void callFreeFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                      bool nullPointer) {
    constexpr const char* function = "fmi2FreeFMUstate";
    Call call(world, Operation::Fmi2FreeFMUstate, model, slot);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi2FMUstate passed = handle;
    void* expectedHandle = handle;
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        if (nullPointer) {
            refuseNull(*s, e, function, "FMUstate");
        } else {
            trace(*s, e, "%s: FMUstate %p", {textArgument(function), pointerArgument(handle)});
            // Freeing no FMU state is nothing to do.
            if (handle != nullptr && acceptFmuState(*s, e, function, handle) != nullptr) {
                e.frees = {handle};
                expectedHandle = nullptr;
            }
        }
    }
    const fmi2Status status =
        call.fmi().freeFMUstate(componentOf(s), nullPointer ? nullptr : &passed);
    if (!e.frees.empty()) {
        s->fmuStates.erase(s->fmuStates.begin() + (ownFmuState(*s, handle) - s->fmuStates.data()));
        world.freedFmuStates.push_back(handle);
    }
    call.check(status, e);
    require(passed == expectedHandle,
            [&] { return std::string("fmi2FreeFMUstate: the handle left behind is wrong"); });
}

void callSerializedSize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                        bool nullSize) {
    constexpr const char* function = "fmi2SerializedFMUstateSize";
    Call call(world, Operation::Fmi2SerializedFMUstateSize, model, slot);
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
            trace(*s, e, "%s: FMUstate %p, size %u",
                  {textArgument(function), pointerArgument(handle),
                   unsignedArgument(static_cast<unsigned>(expectedSize))});
        }
    }
    call.check(
        call.fmi().serializedFMUstateSize(componentOf(s), handle, nullSize ? nullptr : &size), e);
    require(size == expectedSize, [&] {
        return std::string("fmi2SerializedFMUstateSize: size ") + std::to_string(size) +
               " instead of " + std::to_string(expectedSize);
    });
}

void callSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                   std::uint8_t sizeKind, bool nullBytes) {
    constexpr const char* function = "fmi2SerializeFMUstate";
    Call call(world, Operation::Fmi2SerializeFMUstate, model, slot);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    const fmuStateBytes::Identity who = identityOf(model);
    const std::size_t needed = fmuStateBytes::serializedSize(who);
    const std::size_t sizes[] = {needed, 0, needed - 1, needed + 16};
    const std::size_t size = sizes[sizeKind % 4];
    std::vector<char> bytes(size + 1, 0x5a);
    std::vector<char> expected = bytes;
    Expectation e;
    if (opens(s, function, kAnyState, e)) {
        trace(*s, e, "%s: FMUstate %p, size %u",
              {textArgument(function), pointerArgument(handle),
               unsignedArgument(static_cast<unsigned>(size))});
        const KnownFmuState* own = acceptFmuState(*s, e, function, handle);
        if (own == nullptr) {
            // Refused.
        } else if (nullBytes) {
            refuseNull(*s, e, function, "serializedState[]");
        } else if (size < needed) {
            refuse(*s, e,
                   "%s: size %u is less than the %u bytes that fmi2SerializedFMUstateSize gives.",
                   {textArgument(function), unsignedArgument(static_cast<unsigned>(size)),
                    unsignedArgument(static_cast<unsigned>(needed))});
        } else {
            const std::vector<char> written = fmuStateBytes::serialized(who, contentOf(*own));
            std::copy(written.begin(), written.end(), expected.begin());
            world.serialized = written;
        }
    }
    call.check(call.fmi().serializeFMUstate(componentOf(s), handle,
                                            nullBytes ? nullptr : bytes.data(), size),
               e);
    require(bytes == expected, [&] {
        return std::string("fmi2SerializeFMUstate: the bytes are not the ones expected");
    });
}

void callDeSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     const BytesToRead& bytes, bool nullPointer, std::uint8_t allocation) {
    constexpr const char* function = "fmi2DeSerializeFMUstate";
    const AllocationPlan plan(allocation);
    Call call(world, Operation::Fmi2DeSerializeFMUstate, model, slot);
    void* const handle = chosenFmuState(world, s, choice, kVersion);
    fmi2FMUstate passed = handle;
    void* expectedHandle = handle;
    Expectation e;
    PlannedRequests requests;
    KnownFmuState* written = nullptr;
    bool fresh = false;
    bool freshGoesBack = false;
    fmuStateBytes::Reading reading;
    if (opens(s, function, kAnyState, e)) {
        trace(
            *s, e, "%s: size %u",
            {textArgument(function), unsignedArgument(static_cast<unsigned>(bytes.bytes.size()))});
        if (bytes.null) {
            refuseNull(*s, e, function, "serializedState[]");
        } else if (nullPointer) {
            refuseNull(*s, e, function, "FMUstate");
        } else if (const std::uint32_t other = otherInterfaceState(*s, model, bytes.bytes)) {
            refuse(*s, e,
                   "%s: The serialized FMU state was taken in %s, a state of %s instances only; "
                   "%s is a %s instance.",
                   {textArgument(function), textArgument(stateName(other, "step complete")),
                    textArgument(s->modelExchange ? kCoSimulationName : kModelExchangeName),
                    textArgument(s->name), textArgument(interfaceName(*s))});
        } else {
            bool target = false;
            if (handle != nullptr) {
                written = acceptFmuState(*s, e, function, handle);
                target = written != nullptr;
            } else {
                requests.emplace_back(1, fmuStateBlockSize(*s));
                if (plan.fails(1, fmuStateBlockSize(*s))) {
                    refuse(*s, e, "%s: Out of memory.", {textArgument(function)});
                } else {
                    target = true;
                    fresh = true;
                }
            }
            if (target) {
                reading = fmuStateBytes::read(identityOf(model), statesOf(*s), bytes.bytes.data(),
                                              bytes.bytes.size());
                freshGoesBack = fresh && reading.problem != fmuStateBytes::Problem::None;
                refuseReading(*s, e, reading);
            }
        }
    }
    // The bytes in a block of exactly their size, so that a read past them is
    // caught; never a null one for no bytes.
    const std::size_t size = bytes.bytes.size();
    std::unique_ptr<char[]> block(new char[size == 0 ? 1 : size]);
    std::copy(bytes.bytes.begin(), bytes.bytes.end(), block.get());
    const fmi2Status status = call.fmi().deSerializeFMUstate(
        componentOf(s), bytes.null ? nullptr : block.get(), size, nullPointer ? nullptr : &passed);
    const std::vector<AllocationRequest> made = recordingAllocator().requests();
    plan.checkRequests(made, requests);
    const bool read =
        (fresh || written != nullptr) && reading.problem == fmuStateBytes::Problem::None;
    if (freshGoesBack) {
        e.frees = {made[0].result};
    } else if (read) {
        const KnownFmuState content = {fresh ? made[0].result : handle, reading.content.state,
                                       reading.content.time, reading.content.reals};
        if (fresh) {
            s->fmuStates.insert(s->fmuStates.begin(), content);
        } else {
            *written = content;
        }
        expectedHandle = content.handle;
    }
    call.check(status, e, true);
    require(passed == expectedHandle, [&] {
        return std::string("fmi2DeSerializeFMUstate: the FMU state handed back is wrong");
    });
}

void callDirectionalDerivative(World& world, int model, int slot, Instance* s, std::size_t nUnknown,
                               const fmi2ValueReference* unknowns, std::size_t nKnown,
                               const fmi2ValueReference* knowns, const fmi2Real* seed,
                               fmi2Real* result) {
    constexpr const char* function = "fmi2GetDirectionalDerivative";
    Call call(world, Operation::Fmi2GetDirectionalDerivative, model, slot);
    std::vector<std::uint64_t> expectedBits = bitsBefore(result, nUnknown);
    Expectation e;
    const ModelFacts& facts = factsOf(model);
    bool computed = false;
    if (opens(s, function, kReadable, e)) {
        trace(*s, e, "%s: nUnknown = %u, nKnown = %u",
              {textArgument(function), unsignedArgument(static_cast<unsigned>(nUnknown)),
               unsignedArgument(static_cast<unsigned>(nKnown))});
        bool accepted =
            arraysGiven(*s, e, function, nUnknown, unknowns, "vUnknown_ref[]", result,
                        "dvUnknown[]") &&
            arraysGiven(*s, e, function, nKnown, knowns, "vKnown_ref[]", seed, "dvKnown[]");
        for (std::size_t i = 0; accepted && i < nUnknown; ++i) {
            if (!isOutput(model, unknowns[i])) {
                refuse(*s, e, "%s: Value reference %u is no %s.",
                       {textArgument(function), unsignedArgument(unknowns[i]),
                        textArgument("output")});
                accepted = false;
            }
        }
        for (std::size_t j = 0; accepted && j < nKnown; ++j) {
            if (!isParameterOrInput(model, knowns[j])) {
                refuse(*s, e, "%s: Value reference %u is no %s.",
                       {textArgument(function), unsignedArgument(knowns[j]),
                        textArgument("parameter or input")});
                accepted = false;
            }
        }
        if (accepted && facts.partial == nullptr) {
            refuse(*s, e, "%s: Model %s states no partial derivatives.",
                   {textArgument(function), textArgument(facts.identifier)});
            accepted = false;
        }
        // Summed in the order of the knowns from the first product on.
        const ModelArithmetic arithmetic(model);
        computed = accepted;
        for (std::size_t i = 0; accepted && i < nUnknown; ++i) {
            expectedBits[i] = bitsOf(summed(nKnown, [&](std::size_t j) {
                return facts.partial(s->reals, unknowns[i], knowns[j]) * seed[j];
            }));
        }
    }
    call.check(call.fmi().getDirectionalDerivative(componentOf(s), unknowns, nUnknown, knowns,
                                                   nKnown, seed, result),
               e);
    requireDerivatives(function, "dvUnknown", result, expectedBits, computed);
}

void callDerivatives(World& world, Operation operation, int model, int slot, Instance* s,
                     std::size_t nvr, const fmi2ValueReference* vr, const fmi2Integer* order,
                     fmi2Real* value) {
    const bool isSet = operation == Operation::Fmi2SetRealInputDerivatives;
    const char* const function = operationName(operation);
    Call call(world, operation, model, slot);
    Expectation e;
    if (opensOf(s, function, isSet ? kWritable & ~kModes : StepComplete | Terminated | Error, e,
                false)) {
        trace(*s, e, "%s: nvr = %u",
              {textArgument(function), unsignedArgument(static_cast<unsigned>(nvr))});
        if (nvr > 0) {
            refuse(*s, e, "%s: %s",
                   {textArgument(function),
                    textArgument(isSet ? "This slave cannot interpolate inputs "
                                         "(canInterpolateInputs=\"false\")."
                                       : "This slave computes no derivatives of its outputs "
                                         "(maxOutputDerivativeOrder=\"0\").")});
        }
    }
    const fmi2Component c = componentOf(s);
    call.check(isSet ? call.fmi().setRealInputDerivatives(c, vr, nvr, order, value)
                     : call.fmi().getRealOutputDerivatives(c, vr, nvr, order, value),
               e);
    if (value != nullptr) {
        requireValues(function, "value", value, std::vector<std::uint64_t>(nvr, kUntouchedBits));
    }
}

void callDoStep(World& world, int model, int slot, Instance* s, fmi2Real communicationPoint,
                fmi2Real stepSize, fmi2Boolean noSetPrior) {
    Call call(world, Operation::Fmi2DoStep, model, slot);
    Expectation e;
    if (opensOf(s, "fmi2DoStep", StepComplete, e, false)) {
        if (!isAcceptedStep(communicationPoint, stepSize)) {
            refuse(*s, e,
                   "fmi2DoStep: A step needs a finite communication point and a finite, positive "
                   "step size; got currentCommunicationPoint = %g, communicationStepSize = %g.",
                   {realArgument(communicationPoint), realArgument(stepSize)});
        } else {
            trace(*s, e,
                  "fmi2DoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
                  "noSetFMUStatePriorToCurrentPoint = fmi2%s",
                  {realArgument(communicationPoint), realArgument(stepSize),
                   textArgument(noSetPrior != fmi2False ? "True" : "False")});
            // Every substep recomputes the outputs; the test model's may ask
            // to end the simulation there.
            const bool terminates = stepAsksToTerminate(*s, communicationPoint, stepSize);
            if (terminates) {
                refuse(*s, e, "fmi2DoStep: The model requested termination at t=%g.",
                       {realArgument(s->currentTime)});
            }
        }
    }
    call.check(call.fmi().doStep(componentOf(s), communicationPoint, stepSize, noSetPrior), e);
}

void callStatus(World& world, Operation operation, int model, int slot, Instance* s, int kind,
                bool nullValue) {
    const char* const function = operationName(operation);
    Call call(world, operation, model, slot);
    Expectation e;
    bool answers = false;
    if (opensOf(s, function, StepComplete | Terminated, e, false)) {
        if (nullValue) {
            refuseNull(*s, e, function, "value");
        } else {
            trace(*s, e, "%s: fmi2StatusKind = %d",
                  {textArgument(function), integerArgument(kind)});
            expectStatus(*s, e, operation, kind);
            answers = e.status == fmiOK;
        }
    }
    const fmi2Component c = componentOf(s);
    const Fmi2Functions& f = call.fmi();
    const auto k = static_cast<fmi2StatusKind>(kind);
    constexpr int kUntouched = 0x5a5a5a5a;
    fmi2Status status = fmi2OK;
    fmi2Status statusValue = static_cast<fmi2Status>(kUntouched);
    fmi2Real real = realFromBits(kUntouchedBits);
    fmi2Integer integer = kUntouched;
    fmi2Boolean boolean = kUntouched;
    fmi2String text = "untouched";
    const fmi2String untouchedText = text;
    bool written = false;
    switch (operation) {
        case Operation::Fmi2GetStatus:
            status = f.getStatus(c, k, nullValue ? nullptr : &statusValue);
            written = statusValue != static_cast<fmi2Status>(kUntouched);
            require(!answers || statusValue == fmi2OK,
                    [] { return std::string("fmi2GetStatus: not fmi2OK"); });
            break;
        case Operation::Fmi2GetRealStatus:
            status = f.getRealStatus(c, k, nullValue ? nullptr : &real);
            written = bitsOf(real) != kUntouchedBits;
            require(!answers || bitsOf(real) == bitsOf(s->currentTime),
                    [] { return std::string("fmi2GetRealStatus: not the last time"); });
            break;
        case Operation::Fmi2GetIntegerStatus:
            status = f.getIntegerStatus(c, k, nullValue ? nullptr : &integer);
            written = integer != kUntouched;
            break;
        case Operation::Fmi2GetBooleanStatus:
            status = f.getBooleanStatus(c, k, nullValue ? nullptr : &boolean);
            written = boolean != kUntouched;
            require(!answers || boolean == fmi2False,
                    [] { return std::string("fmi2GetBooleanStatus: not fmi2False"); });
            break;
        default:
            status = f.getStringStatus(c, k, nullValue ? nullptr : &text);
            written = text != untouchedText;
            break;
    }
    call.check(status, e);
    require(written == answers, [&] {
        return std::string(function) + (answers ? " did not write" : " wrote") + " its value";
    });
}

void callModelExchange(World& world, int model, int slot, Instance* s,
                       const ModelExchangeArguments& a) {
    struct Rule {
        const char* function;
        std::uint32_t mask;
        const char* countName;  // of the calls with an array, or null
        const char* what;
    };
    constexpr std::uint32_t kInitialized = kReadable & ~StepComplete;
    static const Rule rules[kModelExchangeFunctionCount] = {
        {"fmi2EnterEventMode", kModes, nullptr, nullptr},
        {"fmi2NewDiscreteStates", EventMode, nullptr, nullptr},
        {"fmi2EnterContinuousTimeMode", EventMode, nullptr, nullptr},
        {"fmi2CompletedIntegratorStep", ContinuousTimeMode, nullptr, nullptr},
        {"fmi2SetTime", kModes, nullptr, nullptr},
        {"fmi2SetContinuousStates", ContinuousTimeMode, "nx", "continuous states"},
        {"fmi2GetDerivatives", kInitialized, "nx", "continuous states"},
        {"fmi2GetEventIndicators", kInitialized, "ni", "event indicators"},
        {"fmi2GetContinuousStates", kInitialized, "nx", "continuous states"},
        {"fmi2GetNominalsOfContinuousStates", kInitialized | Instantiated, "nx",
         "continuous states"},
    };
    const Rule& rule = rules[a.function];
    Call call(world, rule.function, statusSet({fmiOK, fmiError}), model, slot);
    Expectation e;
    fmi2EventInfo info{3, 3, 3, 3, 3, -1.0};
    fmi2Boolean flags[2] = {3, 3};
    const bool answers = opensOf(s, rule.function, rule.mask, e, true);
    if (answers && rule.countName != nullptr) {
        const auto count = static_cast<unsigned>(a.count);
        trace(*s, e, "%s: %s = %u",
              {textArgument(rule.function), textArgument(rule.countName), unsignedArgument(count)});
        if (a.count != 0) {
            refuse(*s, e, "%s: %s = %u, but %s has no %s (%s = 0).",
                   {textArgument(rule.function), textArgument(rule.countName),
                    unsignedArgument(count), textArgument(factsOf(model).identifier),
                    textArgument(rule.what), textArgument(rule.countName)});
        }
    } else if (answers && a.function == kNewDiscreteStates && (a.nulls & 1) != 0) {
        refuseNull(*s, e, rule.function, "eventInfo");
    } else if (answers && a.function == kCompletedIntegratorStep && (a.nulls & 3) != 0) {
        refuseNull(*s, e, rule.function,
                   (a.nulls & 1) != 0 ? "enterEventMode" : "terminateSimulation");
    } else if (answers && a.function == kCompletedIntegratorStep) {
        trace(*s, e, "%s: noSetFMUStatePriorToCurrentPoint = fmi2%s",
              {textArgument(rule.function), textArgument(a.flag != fmi2False ? "True" : "False")});
    } else if (answers && a.function == kSetTime) {
        trace(*s, e, "%s: time = %.16g", {textArgument(rule.function), realArgument(a.time)});
        if (!std::isfinite(a.time)) {
            refuse(*s, e, "%s: The time %g is not finite.",
                   {textArgument(rule.function), realArgument(a.time)});
        } else {
            s->currentTime = a.time;
        }
    } else if (answers) {
        trace(*s, e, rule.function);
        if (a.function != kNewDiscreteStates) {
            s->state = a.function == kEnterEventMode ? EventMode : ContinuousTimeMode;
        }
    }
    const fmi2Component c = componentOf(s);
    const Fmi2Functions& f = call.fmi();
    fmi2Status status = fmi2OK;
    switch (a.function) {
        case kEnterEventMode:
            status = f.enterEventMode(c);
            break;
        case kNewDiscreteStates:
            status = f.newDiscreteStates(c, (a.nulls & 1) != 0 ? nullptr : &info);
            break;
        case kEnterContinuousTimeMode:
            status = f.enterContinuousTimeMode(c);
            break;
        case kCompletedIntegratorStep:
            status = f.completedIntegratorStep(c, a.flag, (a.nulls & 1) != 0 ? nullptr : &flags[0],
                                               (a.nulls & 2) != 0 ? nullptr : &flags[1]);
            break;
        case kSetTime:
            status = f.setTime(c, a.time);
            break;
        case kSetContinuousStates:
            status = f.setContinuousStates(c, a.states, a.count);
            break;
        case kGetDerivatives:
            status = f.getDerivatives(c, a.states, a.count);
            break;
        case kGetEventIndicators:
            status = f.getEventIndicators(c, a.states, a.count);
            break;
        case kGetContinuousStates:
            status = f.getContinuousStates(c, a.states, a.count);
            break;
        default:
            status = f.getNominalsOfContinuousStates(c, a.states, a.count);
            break;
    }
    call.check(status, e);
    // Nothing happens: no iteration, event, termination or time event.
    const bool informs = e.status == fmiOK && rule.countName == nullptr;
    require(!informs || a.function != kNewDiscreteStates ||
                (info.newDiscreteStatesNeeded | info.terminateSimulation |
                 info.nominalsOfContinuousStatesChanged | info.valuesOfContinuousStatesChanged |
                 info.nextEventTimeDefined) == fmi2False,
            [] { return std::string("fmi2NewDiscreteStates: asks for more"); });
    require(!informs || a.function != kCompletedIntegratorStep || (flags[0] | flags[1]) == 0,
            [] { return std::string("fmi2CompletedIntegratorStep: asks for an event"); });
    if (a.states != nullptr) {
        requireValues(rule.function, "the array", a.states,
                      std::vector<std::uint64_t>(a.count, kUntouchedBits));
    }
}

void callVersion(World& world, Operation operation, int model) {
    Call call(world, operation, model, kNullSlot);
    const bool isVersion = operation == Operation::Fmi2GetVersion;
    const char* text = isVersion ? call.fmi().getVersion() : call.fmi().getTypesPlatform();
    const char* expected = isVersion ? "2.0" : "default";
    require(text != nullptr && std::strcmp(text, expected) == 0,
            [&] { return std::string(operationName(operation)) + " answered something else"; });
    call.checkEffects(Expectation{}, false);
}

void retire(World& world, int model, int slot) {
    sharedRules::retire(world, libraryOf(kVersion, model), slot,
                        [&](Instance* s) { callFreeInstance(world, model, slot, s); });
}

}  // namespace fmi2
