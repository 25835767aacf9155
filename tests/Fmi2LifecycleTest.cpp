// FMI 2.0: every call in every state of both interfaces, the calls of one
// interface on an instance of the other, refusals of fmi2Instantiate, the
// master's memory, and debug logging by category.
#include <cmath>
#include <functional>
#include <string>

#include "Fmi2SlaveTest.h"
#include "MachineStates.h"

namespace {

constexpr StateMask kStepQueries = Stepping | Terminated;
// The masks of the calls both interfaces have, over the states of both.
constexpr StateMask kRunning = EventMode | ContinuousTimeMode;
constexpr StateMask kAnyState = kLiveStates | kRunning;
constexpr StateMask kReadable = kValuesReadable | kRunning;
constexpr StateMask kWritable = kValuesWritable | kRunning;
constexpr StateMask kDiscreteWritable = kValuesWritable | EventMode;
constexpr StateMask kInitializedModelExchange = kReadable & ~Stepping;

using F2 = const Fmi2Functions&;
using C2 = fmi2Component;
using Call = StateCall<Fmi2Functions, fmi2Component, fmi2Status>;
// Each call with arguments that an allowed call accepts: no elements for the
// array calls, a known status kind with a place for its answer.
const std::vector<Call>& componentCalls() {
    using F = const Fmi2Functions&;
    using C = fmi2Component;
    static fmi2Status status;
    static fmi2Real real;
    static fmi2Integer integer;
    static fmi2Boolean boolean;
    static fmi2String text;
    static fmi2EventInfo eventInfo;
    static const std::vector<Call> calls = {
        {"fmi2SetDebugLogging", kAnyState,
         [](F f, C c) { return f.setDebugLogging(c, fmi2False, 0, nullptr); }},
        {"fmi2SetupExperiment", Instantiated,
         [](F f, C c) { return f.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0); }},
        {"fmi2EnterInitializationMode", Instantiated,
         [](F f, C c) { return f.enterInitializationMode(c); }},
        {"fmi2ExitInitializationMode", InitializationMode,
         [](F f, C c) { return f.exitInitializationMode(c); }},
        {"fmi2Terminate", Stepping | kRunning, [](F f, C c) { return f.terminate(c); }},
        {"fmi2Reset", kAnyState, [](F f, C c) { return f.reset(c); }},
        {"fmi2SetReal", kWritable, [](F f, C c) { return f.setReal(c, nullptr, 0, nullptr); }},
        {"fmi2SetInteger", kDiscreteWritable,
         [](F f, C c) { return f.setInteger(c, nullptr, 0, nullptr); }},
        {"fmi2SetBoolean", kDiscreteWritable,
         [](F f, C c) { return f.setBoolean(c, nullptr, 0, nullptr); }},
        {"fmi2SetString", kDiscreteWritable,
         [](F f, C c) { return f.setString(c, nullptr, 0, nullptr); }},
        {"fmi2GetReal", kReadable, [](F f, C c) { return f.getReal(c, nullptr, 0, nullptr); }},
        {"fmi2GetInteger", kReadable,
         [](F f, C c) { return f.getInteger(c, nullptr, 0, nullptr); }},
        {"fmi2GetBoolean", kReadable,
         [](F f, C c) { return f.getBoolean(c, nullptr, 0, nullptr); }},
        {"fmi2GetString", kReadable, [](F f, C c) { return f.getString(c, nullptr, 0, nullptr); }},
        {"fmi2GetDirectionalDerivative", kReadable,
         [](F f, C c) {
             return f.getDirectionalDerivative(c, nullptr, 0, nullptr, 0, nullptr, nullptr);
         }},
        {"fmi2SetRealInputDerivatives", kValuesWritable,
         [](F f, C c) { return f.setRealInputDerivatives(c, nullptr, 0, nullptr, nullptr); }},
        {"fmi2GetRealOutputDerivatives", Stepping | Terminated | Error,
         [](F f, C c) { return f.getRealOutputDerivatives(c, nullptr, 0, nullptr, nullptr); }},
        {"fmi2DoStep", Stepping, [](F f, C c) { return f.doStep(c, 0.0, 0.5, fmi2True); }},
        {"fmi2CancelStep", 0, [](F f, C c) { return f.cancelStep(c); }},
        {"fmi2GetStatus", kStepQueries,
         [](F f, C c) { return f.getStatus(c, fmi2DoStepStatus, &status); }},
        {"fmi2GetRealStatus", kStepQueries,
         [](F f, C c) { return f.getRealStatus(c, fmi2LastSuccessfulTime, &real); }},
        {"fmi2GetIntegerStatus", kStepQueries,
         [](F f, C c) { return f.getIntegerStatus(c, fmi2DoStepStatus, &integer); }},
        {"fmi2GetBooleanStatus", kStepQueries,
         [](F f, C c) { return f.getBooleanStatus(c, fmi2Terminated, &boolean); }},
        {"fmi2GetStringStatus", kStepQueries,
         [](F f, C c) { return f.getStringStatus(c, fmi2PendingStatus, &text); }},
        {"fmi2GetFMUstate", kAnyState,
         [](F f, C c) {
             fmi2FMUstate state = nullptr;
             const fmi2Status result = f.getFMUstate(c, &state);
             f.freeFMUstate(c, &state);
             return result;
         }},
        {"fmi2SetFMUstate", kAnyState,
         [](F f, C c) {
             fmi2FMUstate state = nullptr;
             f.getFMUstate(c, &state);
             const fmi2Status result = f.setFMUstate(c, state);
             f.freeFMUstate(c, &state);
             return result;
         }},
        {"fmi2SerializeFMUstate", kAnyState,
         [](F f, C c) {
             fmi2FMUstate state = nullptr;
             f.getFMUstate(c, &state);
             std::size_t size = 0;
             f.serializedFMUstateSize(c, state, &size);
             std::vector<fmi2Byte> bytes(size);
             const fmi2Status result = f.serializeFMUstate(c, state, bytes.data(), size);
             const fmi2Status read = f.deSerializeFMUstate(c, bytes.data(), size, &state);
             f.freeFMUstate(c, &state);
             return result == fmi2OK ? read : result;
         }},
        {"fmi2FreeFMUstate", kAnyState,
         [](F f, C c) {
             fmi2FMUstate state = nullptr;
             return f.freeFMUstate(c, &state);
         }},
        {"fmi2FreeInstance", kAnyState,
         [](F f, C c) {
             f.freeInstance(c);
             return fmi2OK;  // returns nothing; a refusal shows in the log
         }},
        {"fmi2EnterEventMode", kRunning, [](F f, C c) { return f.enterEventMode(c); }},
        {"fmi2NewDiscreteStates", EventMode,
         [](F f, C c) { return f.newDiscreteStates(c, &eventInfo); }},
        {"fmi2EnterContinuousTimeMode", EventMode,
         [](F f, C c) { return f.enterContinuousTimeMode(c); }},
        {"fmi2CompletedIntegratorStep", ContinuousTimeMode,
         [](F f, C c) { return f.completedIntegratorStep(c, fmi2True, &boolean, &boolean); }},
        {"fmi2SetTime", kRunning, [](F f, C c) { return f.setTime(c, 0.5); }},
        {"fmi2SetContinuousStates", ContinuousTimeMode,
         [](F f, C c) { return f.setContinuousStates(c, nullptr, 0); }},
        {"fmi2GetDerivatives", kInitializedModelExchange,
         [](F f, C c) { return f.getDerivatives(c, nullptr, 0); }},
        {"fmi2GetEventIndicators", kInitializedModelExchange,
         [](F f, C c) { return f.getEventIndicators(c, nullptr, 0); }},
        {"fmi2GetContinuousStates", kInitializedModelExchange,
         [](F f, C c) { return f.getContinuousStates(c, nullptr, 0); }},
        {"fmi2GetNominalsOfContinuousStates", kInitializedModelExchange | Instantiated,
         [](F f, C c) { return f.getNominalsOfContinuousStates(c, nullptr, 0); }},
    };
    return calls;
}

// The interface a call belongs to alone, by the states it is allowed in:
// those of co-simulation's stepping or of Model Exchange's modes, not both;
// the calls that step in neither (cancelling) are co-simulation's.
const char* interfaceOnly(const Call& call) {
    const bool coSimulation = (call.allowedIn & Stepping) != 0 || call.allowedIn == 0;
    const bool modelExchange = (call.allowedIn & kRunning) != 0;
    if (coSimulation == modelExchange) {
        return nullptr;
    }
    return coSimulation ? "co-simulation" : "Model Exchange";
}

const char* interfaceName(fmi2Type type) {
    return type == fmi2ModelExchange ? "Model Exchange" : "co-simulation";
}

// The states each interface has, in the order its instance reaches them.
struct InterfaceStates {
    fmi2Type type;
    std::vector<MachineState> states;
};
const InterfaceStates kInterfaces[] = {
    {fmi2CoSimulation, {std::begin(kStates), std::end(kStates)}},
    {fmi2ModelExchange, {std::begin(kModelExchangeStates), std::end(kModelExchangeStates)}},
};

class Fmi2StateMachine : public Fmi2SlaveTest {};

}  // namespace

// A call of the other interface is refused before the state is looked at.
TEST_F(Fmi2StateMachine, EveryCallInEveryState) {
    for (const InterfaceStates& interface : kInterfaces) {
        for (const MachineState state : interface.states) {
            for (const Call& call : componentCalls()) {
                SCOPED_TRACE(std::string(call.name) + " in state " + std::to_string(state) +
                             " of " + interfaceName(interface.type));
                const fmi2Component c = inState2(state, interface.type);
                clearLogs();
                const fmi2Status status = call.invoke(fmi2(), c);
                const bool returnsNothing = call.returnsNothing();
                const char* const only = interfaceOnly(call);
                const bool otherInterface =
                    only != nullptr && std::string(only) != interfaceName(interface.type);
                if (otherInterface) {
                    EXPECT_EQ(status, fmi2Error);
                    EXPECT_TRUE(matchAll(
                        {{&fmi2Environment,
                          kName,
                          fmiError,
                          "logStatusError",
                          "%s: Illegal call: this is a %s function, and %s is a %s instance.",
                          {arg(call.name), arg(only), arg(kName),
                           arg(interfaceName(interface.type))}}},
                        logs()));
                } else if ((state & call.allowedIn) != 0 && !model().partial &&
                           std::string(call.name) == "fmi2GetDirectionalDerivative") {
                    // A model that states no partial derivatives refuses them.
                    EXPECT_EQ(status, fmi2Error);
                    EXPECT_TRUE(matchAll({{&fmi2Environment,
                                           kName,
                                           fmiError,
                                           "logStatusError",
                                           "%s: Model %s states no partial derivatives.",
                                           {arg(call.name), arg(model().identifier.c_str())}}},
                                         logs()));
                    fmi2().freeInstance(c);
                    continue;
                } else if ((state & call.allowedIn) != 0) {
                    // Accepted; a status query it cannot answer is discarded.
                    EXPECT_TRUE(status == fmi2OK || status == fmi2Discard);
                    for (const auto& record : logs()) {
                        EXPECT_EQ(record.status, status == fmi2OK ? fmiOK : fmiDiscard);
                    }
                } else {
                    EXPECT_EQ(status, returnsNothing ? fmi2OK : fmi2Error);
                    EXPECT_TRUE(matchAll(
                        {{&fmi2Environment,
                          kName,
                          fmiError,
                          "logStatusError",
                          "%s: Illegal call sequence: not allowed in state %s.",
                          {arg(call.name), arg(machineStateName(state, "step complete"))}}},
                        logs()));
                }
                const bool accepted = !otherInterface && (state & call.allowedIn) != 0;
                if (!accepted) {
                    // Refused calls leave the instance in Error.
                    EXPECT_EQ(fmi2().terminate(c), fmi2Error);
                }
                if (!returnsNothing || !accepted) {
                    fmi2().freeInstance(c);
                }
            }
        }
    }
}

TEST_F(Fmi2StateMachine, NullComponentIsRefusedSilently) {
    for (const Call& call : componentCalls()) {
        SCOPED_TRACE(call.name);
        const bool returnsNothing = call.returnsNothing();
        EXPECT_EQ(call.invoke(fmi2(), nullptr), returnsNothing ? fmi2OK : fmi2Error);
    }
    EXPECT_TRUE(logs().empty());
}

TEST_F(Fmi2StateMachine, ResetGivesAFreshInstanceFromAnyState) {
    for (const InterfaceStates& interface : kInterfaces) {
        for (const MachineState state : interface.states) {
            const fmi2Component c = inState2(state, interface.type);
            const fmi2ValueReference first = 0;
            const fmi2Real changed = 1.5;
            fmi2().setReal(c, &first, 1, &changed);
            EXPECT_EQ(fmi2().reset(c), fmi2OK);
            EXPECT_EQ(fmi2().enterInitializationMode(c), fmi2OK);
            // Model Exchange computes the outputs when read; co-simulation
            // has not computed them yet.
            EXPECT_TRUE(sameBits(interface.type == fmi2ModelExchange
                                     ? withForces(model().freshValues())
                                     : model().freshValues(),
                                 values2(c)));
            fmi2().freeInstance(c);
        }
    }
}

TEST_F(Fmi2StateMachine, NullArraysAndUnknownValueReferencesAreRefused) {
    const fmi2ValueReference unknown = model().realCount();
    const fmi2ValueReference output = model().firstOutput;
    const fmi2Real value = 1.0;
    fmi2Real read = 0.0;
    fmi2Integer readInteger = 0;
    fmi2Boolean flag = fmi2False;
    struct Case {
        std::function<fmi2Status(const Fmi2Functions&, fmi2Component)> call;
        std::string format;
        // On an instance in continuous-time mode rather than step complete.
        bool modelExchange = false;
    };
    const std::string noneOf = "%s: %s = %u, but %s has no %s (%s = 0).";
    std::vector<Case> cases = {
        {[&](F2 f, C2 c) { return f.setReal(c, nullptr, 1, &value); },
         "%s: Invalid argument %s = NULL."},
        {[&](F2 f, C2 c) { return f.getReal(c, &output, 1, nullptr); },
         "%s: Invalid argument %s = NULL."},
        {[&](F2 f, C2 c) { return f.setReal(c, &unknown, 1, &value); },
         "%s: Illegal value reference %u."},
        {[&](F2 f, C2 c) {
             const fmi2ValueReference beyondEveryModel = 0xffffffffU;
             return f.setReal(c, &beyondEveryModel, 1, &value);
         },
         "%s: Illegal value reference %u."},
        {[&](F2 f, C2 c) { return f.getReal(c, &unknown, 1, &read); },
         "%s: Illegal value reference %u."},
        {[&](F2 f, C2 c) { return f.setReal(c, &output, 1, &value); },
         "%s: Variable %u is an output; only parameters and inputs can be set."},
        {[&](F2 f, C2 c) {
             const fmi2ValueReference inputThenOutput[] = {output - 1, output};
             const fmi2Real values[] = {value, value};
             return f.setReal(c, inputThenOutput, 2, values);
         },
         "%s: Variable %u is an output; only parameters and inputs can be set."},
        {[&](F2 f, C2 c) { return f.getInteger(c, &output, 1, &readInteger); },
         "%s: Illegal value reference %u."},
        {[&](F2 f, C2 c) { return f.setRealInputDerivatives(c, &output, 1, nullptr, &value); },
         "%s: %s"},
        {[&](F2 f, C2 c) { return f.getRealOutputDerivatives(c, &output, 1, nullptr, &read); },
         "%s: %s"},
        {[&](F2 f, C2 c) { return f.setContinuousStates(c, &value, 1); }, noneOf, true},
        {[&](F2 f, C2 c) { return f.getDerivatives(c, &read, 1); }, noneOf, true},
        {[&](F2 f, C2 c) { return f.getEventIndicators(c, nullptr, 2); }, noneOf, true},
        {[&](F2 f, C2 c) { return f.getContinuousStates(c, &read, 1); }, noneOf, true},
        {[&](F2 f, C2 c) { return f.getNominalsOfContinuousStates(c, &read, 3); }, noneOf, true},
        {[&](F2 f, C2 c) { return f.completedIntegratorStep(c, fmi2False, nullptr, &flag); },
         "%s: Invalid argument %s = NULL.", true},
        {[&](F2 f, C2 c) { return f.completedIntegratorStep(c, fmi2False, &flag, nullptr); },
         "%s: Invalid argument %s = NULL.", true},
        {[&](F2 f, C2 c) {
             EXPECT_EQ(f.enterEventMode(c), fmi2OK);
             return f.newDiscreteStates(c, nullptr);
         },
         "%s: Invalid argument %s = NULL.", true},
        {[&](F2 f, C2 c) { return f.setTime(c, std::nan("")); }, "%s: The time %g is not finite.",
         true},
        {[&](F2 f, C2 c) { return f.setReal(c, &output, 1, &value); },
         "%s: Variable %u is an output; only parameters and inputs can be set.", true},
    };
    // Parameters come first and have start values.
    const fmi2ValueReference parameter = 0;
    if (model().startValues[parameter].has_value()) {
        cases.push_back({[&](F2 f, C2 c) { return f.setReal(c, &parameter, 1, &value); },
                         "%s: Variable %u is a parameter; in continuous-time mode only inputs "
                         "can be set, parameters in event mode.",
                         true});
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.format);
        const fmi2Component c =
            test.modelExchange ? inState2(ContinuousTimeMode, fmi2ModelExchange) : stepComplete();
        clearLogs();
        EXPECT_EQ(test.call(fmi2(), c), fmi2Error);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].format, test.format);
        EXPECT_EQ(logs()[0].status, fmiError);
        EXPECT_EQ(logs()[0].category, "logStatusError");
        EXPECT_EQ(fmi2().terminate(c), fmi2Error);
        fmi2().freeInstance(c);
    }
}

TEST_F(Fmi2StateMachine, StatusQueries) {
    const fmi2Component c = stepComplete();
    ASSERT_EQ(fmi2().doStep(c, 0.0, 0.5, fmi2False), fmi2OK);
    fmi2Status status = fmi2Fatal;
    fmi2Real time = 0.0;
    fmi2Boolean terminated = fmi2True;
    fmi2String text = nullptr;
    EXPECT_EQ(fmi2().getStatus(c, fmi2DoStepStatus, &status), fmi2OK);
    EXPECT_EQ(status, fmi2OK);
    EXPECT_EQ(fmi2().getRealStatus(c, fmi2LastSuccessfulTime, &time), fmi2OK);
    // The full step, where ten substeps of 0.05 sum to 0.49999999999999994.
    EXPECT_TRUE(sameBits(0.5, time));
    EXPECT_EQ(fmi2().getBooleanStatus(c, fmi2Terminated, &terminated), fmi2OK);
    EXPECT_EQ(terminated, fmi2False);
    clearLogs();
    EXPECT_EQ(fmi2().getStringStatus(c, fmi2PendingStatus, &text), fmi2Discard);
    EXPECT_EQ(fmi2().getRealStatus(c, fmi2DoStepStatus, &time), fmi2Discard);
    EXPECT_EQ(fmi2().getStatus(c, fmi2PendingStatus, &status), fmi2Discard);
    EXPECT_EQ(fmi2().getBooleanStatus(c, fmi2DoStepStatus, &terminated), fmi2Discard);
    ASSERT_EQ(logs().size(), 4U);
    EXPECT_EQ(logs()[0].status, fmiDiscard);
    // A discarded query leaves the instance as it was.
    EXPECT_EQ(fmi2().doStep(c, 0.5, 0.5, fmi2False), fmi2OK);
    fmi2().freeInstance(c);
}

TEST_F(Fmi2StateMachine, InstantiationRefusals) {
    const std::string guid = model().guid;
    const fmi2CallbackFunctions good = recordingCallbacks2();
    fmi2CallbackFunctions noLogger = good;
    noLogger.logger = nullptr;
    fmi2CallbackFunctions noFree = good;
    noFree.freeMemory = nullptr;
    fmi2CallbackFunctions noAllocate = good;
    noAllocate.allocateMemory = nullptr;
    EXPECT_EQ(fmi2().instantiate(kName, fmi2CoSimulation, guid.c_str(), nullptr, nullptr, fmi2False,
                                 fmi2False),
              nullptr);
    EXPECT_EQ(fmi2().instantiate(kName, fmi2CoSimulation, guid.c_str(), nullptr, &noLogger,
                                 fmi2False, fmi2False),
              nullptr);
    EXPECT_TRUE(logs().empty());
    struct Case {
        const char* name;
        fmi2Type type;
        const char* guid;
        const fmi2CallbackFunctions* functions;
        std::string format;
    };
    const std::vector<Case> cases = {
        {kName, fmi2CoSimulation, guid.c_str(), &noFree,
         "%s: Missing callback function: allocateMemory and freeMemory are required."},
        {kName, fmi2CoSimulation, guid.c_str(), &noAllocate,
         "%s: Missing callback function: allocateMemory and freeMemory are required."},
        {nullptr, fmi2CoSimulation, guid.c_str(), &good, "%s: Missing instance name."},
        {"", fmi2CoSimulation, guid.c_str(), &good, "%s: Missing instance name."},
        {kName, static_cast<fmi2Type>(2), guid.c_str(), &good,
         "%s: fmuType %d is not supported: %s is a Model Exchange (fmi2ModelExchange = 0) and "
         "co-simulation (fmi2CoSimulation = 1) FMU."},
        {kName, fmi2CoSimulation, nullptr, &good, "%s: Invalid argument %s = NULL."},
        {kName, fmi2CoSimulation, "{00000000-0000-0000-0000-000000000000}", &good,
         "%s: Wrong GUID %s. Expected %s."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.format);
        clearLogs();
        EXPECT_EQ(fmi2().instantiate(test.name, test.type, test.guid, nullptr, test.functions,
                                     fmi2False, fmi2True),
                  nullptr);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].format, test.format);
        EXPECT_EQ(logs()[0].component, &fmi2Environment);
        EXPECT_EQ(logs()[0].status, fmiError);
    }
    EXPECT_EQ(recordingAllocator().requestCount(), 0U);
    EXPECT_STREQ(fmi2().getVersion(), "2.0");
    EXPECT_STREQ(fmi2().getTypesPlatform(), "default");
    const fmi2Component c = fmi2().instantiate(kName, fmi2ModelExchange, guid.c_str(), "file:///",
                                               &good, fmi2False, fmi2True);
    EXPECT_EQ(fmi2().setupExperiment(c, fmi2False, 0.0, INFINITY, fmi2False, 0.0), fmi2Error);
    fmi2().freeInstance(c);
}

TEST_F(Fmi2StateMachine, OneBlockPerInstanceAndNothingMoreUntilFMUstates) {
    recordingAllocator().failRequest(1);
    const fmi2CallbackFunctions callbacks = recordingCallbacks2();
    EXPECT_EQ(fmi2().instantiate(kName, fmi2CoSimulation, model().guid.c_str(), nullptr, &callbacks,
                                 fmi2False, fmi2False),
              nullptr);
    ASSERT_EQ(logs().size(), 1U);
    EXPECT_EQ(logs()[0].format, "%s: Out of memory.");

    const fmi2Component c = stepComplete(randomKnowns(1));
    const std::size_t requests = recordingAllocator().requestCount();
    EXPECT_EQ(requests, 2U);
    for (int step = 0; step < 5; ++step) {
        EXPECT_EQ(fmi2().doStep(c, 0.1 * step, 0.1, fmi2True), fmi2OK);
        values2(c);
    }
    EXPECT_EQ(fmi2().terminate(c), fmi2OK);
    EXPECT_EQ(recordingAllocator().requestCount(), requests);

    // An FMU state the master cannot give memory for is refused.
    recordingAllocator().failRequest(requests + 1);
    fmi2FMUstate state = nullptr;
    clearLogs();
    EXPECT_EQ(fmi2().getFMUstate(c, &state), fmi2Error);
    EXPECT_EQ(state, nullptr);
    ASSERT_EQ(logs().size(), 1U);
    EXPECT_EQ(logs()[0].format, "%s: Out of memory.");
    fmi2().freeInstance(c);
}

TEST_F(Fmi2StateMachine, DebugLoggingByCategory) {
    const fmi2Component c = stepComplete();
    const auto traced = [&]() {
        clearLogs();
        EXPECT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2True), fmi2OK);
        const fmi2ValueReference first = 0;
        const fmi2Real value = model().freshValues()[first];
        EXPECT_EQ(fmi2().setReal(c, &first, 1, &value), fmi2OK);
        values2(c);
        return !logs().empty();
    };
    EXPECT_FALSE(traced());
    const fmi2String calls[] = {"logCalls"};
    const fmi2String errors[] = {"logStatusError"};
    const fmi2String unknown[] = {"logCalls", "logEverything"};
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2True, 1, errors), fmi2OK);
    EXPECT_FALSE(traced());
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2True, 1, calls), fmi2OK);
    EXPECT_TRUE(traced());
    EXPECT_EQ(logs()[0].category, "logCalls");
    EXPECT_EQ(logs()[0].component, &fmi2Environment);
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
    EXPECT_FALSE(traced());
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2True, 0, nullptr), fmi2OK);
    EXPECT_TRUE(traced());
    // Traced element by element, up to the one refused.
    const fmi2ValueReference mixed[] = {0, model().firstOutput, model().realCount()};
    const fmi2Real values[] = {1.0, 2.0};
    fmi2Real read[3];
    EXPECT_EQ(fmi2().setReal(c, mixed, 2, values), fmi2Error);
    EXPECT_EQ(fmi2().getReal(c, mixed, 3, read), fmi2Error);
    clearLogs();
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2False, 2, unknown), fmi2Error);
    ASSERT_FALSE(logs().empty());
    EXPECT_TRUE(matches({&fmi2Environment,
                         kName,
                         fmiError,
                         "logStatusError",
                         "%s: Unknown log category %s.",
                         {arg("fmi2SetDebugLogging"), arg("logEverything")}},
                        logs().back()));
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2False, 1, nullptr), fmi2Error);
    const fmi2String none[] = {nullptr};
    EXPECT_EQ(fmi2().setDebugLogging(c, fmi2True, 1, none), fmi2Error);
    fmi2().freeInstance(c);
}
