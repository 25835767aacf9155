// FMI 3.0: every call in every state, the refusals of instantiation and of
// the interfaces the FMU does not have, messages the FMU formats itself, and
// debug logging by category.
#include <functional>
#include <string>

#include "Fmi3SlaveTest.h"
#include "MachineStates.h"

namespace {

using F3 = const Fmi3Functions&;
using I3 = fmi3Instance;
using Call = StateCall<Fmi3Functions, fmi3Instance, fmi3Status>;

// Each call with arguments that an allowed call accepts: no elements for the
// array calls, an output for the dependency queries.
const std::vector<Call>& instanceCalls() {
    static fmi3Boolean flag[4];
    static fmi3Float64 real;
    static std::size_t count;
    static const std::vector<Call> calls = {
        {"fmi3SetDebugLogging", kLiveStates,
         [](F3 f, I3 i) { return f.setDebugLogging(i, fmi3False, 0, nullptr); }},
        {"fmi3EnterInitializationMode", Instantiated,
         [](F3 f, I3 i) {
             return f.enterInitializationMode(i, fmi3False, 0.0, 0.0, fmi3False, 0.0);
         }},
        {"fmi3ExitInitializationMode", InitializationMode,
         [](F3 f, I3 i) { return f.exitInitializationMode(i); }},
        {"fmi3Terminate", Stepping, [](F3 f, I3 i) { return f.terminate(i); }},
        {"fmi3Reset", kLiveStates, [](F3 f, I3 i) { return f.reset(i); }},
        {"fmi3SetFloat64", kValuesWritable,
         [](F3 f, I3 i) { return f.setFloat64(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetFloat64", kValuesReadable,
         [](F3 f, I3 i) { return f.getFloat64(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetInt32", kValuesReadable,
         [](F3 f, I3 i) { return f.getInt32(i, nullptr, 0, nullptr, 0); }},
        {"fmi3SetBoolean", kValuesWritable,
         [](F3 f, I3 i) { return f.setBoolean(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetBinary", kValuesReadable,
         [](F3 f, I3 i) { return f.getBinary(i, nullptr, 0, nullptr, nullptr, 0); }},
        {"fmi3GetClock", kValuesReadable,
         [](F3 f, I3 i) { return f.getClock(i, nullptr, 0, nullptr); }},
        {"fmi3GetDirectionalDerivative", kValuesReadable,
         [](F3 f, I3 i) {
             return f.getDirectionalDerivative(i, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
         }},
        {"fmi3GetAdjointDerivative", kValuesReadable,
         [](F3 f, I3 i) {
             return f.getAdjointDerivative(i, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
         }},
        {"fmi3GetNumberOfVariableDependencies", kLiveStates,
         [](F3 f, I3 i) {
             return f.getNumberOfVariableDependencies(i, testContext().facts->firstOutput, &count);
         }},
        {"fmi3GetOutputDerivatives", Stepping | Terminated | Error,
         [](F3 f, I3 i) { return f.getOutputDerivatives(i, nullptr, 0, nullptr, nullptr, 0); }},
        {"fmi3DoStep", Stepping,
         [](F3 f, I3 i) {
             return f.doStep(i, 0.0, 0.5, fmi3True, &flag[0], &flag[1], &flag[2], &real);
         }},
        {"fmi3GetFMUState", kLiveStates,
         [](F3 f, I3 i) {
             fmi3FMUState state = nullptr;
             const fmi3Status result = f.getFMUState(i, &state);
             f.freeFMUState(i, &state);
             return result;
         }},
        {"fmi3FreeFMUState", kLiveStates,
         [](F3 f, I3 i) {
             fmi3FMUState state = nullptr;
             return f.freeFMUState(i, &state);
         }},
        {"fmi3FreeInstance", kLiveStates,
         [](F3 f, I3 i) {
             f.freeInstance(i);
             return fmi3OK;  // returns nothing; a refusal shows in the log
         }},
    };
    return calls;
}

// The functions of interfaces and features the FMU does not have: refused in
// every state, with the reason.
struct Inapplicable {
    const char* name;
    std::function<fmi3Status(F3, I3)> invoke;
    const char* reason;
};

const std::vector<Inapplicable>& inapplicableCalls() {
    static fmi3Boolean flag[5];
    static fmi3Float64 real;
    static std::size_t count;
    static const std::vector<Inapplicable> calls = {
        {"fmi3EnterEventMode", [](F3 f, I3 i) { return f.enterEventMode(i); },
         "This FMU has no event mode (hasEventMode=\"false\")."},
        {"fmi3EnterStepMode", [](F3 f, I3 i) { return f.enterStepMode(i); },
         "This FMU has no event mode (hasEventMode=\"false\")."},
        {"fmi3UpdateDiscreteStates",
         [](F3 f, I3 i) {
             return f.updateDiscreteStates(i, &flag[0], &flag[1], &flag[2], &flag[3], &flag[4],
                                           &real);
         },
         "This FMU has no event mode (hasEventMode=\"false\")."},
        {"fmi3EvaluateDiscreteStates", [](F3 f, I3 i) { return f.evaluateDiscreteStates(i); },
         "This FMU has no clocks and does not evaluate discrete states "
         "(providesEvaluateDiscreteStates=\"false\")."},
        {"fmi3EnterConfigurationMode", [](F3 f, I3 i) { return f.enterConfigurationMode(i); },
         "This FMU has no structural parameters and no configuration mode."},
        {"fmi3GetIntervalDecimal",
         [](F3 f, I3 i) { return f.getIntervalDecimal(i, nullptr, 0, nullptr, nullptr); },
         "This FMU has no clocks."},
        {"fmi3SetTime", [](F3 f, I3 i) { return f.setTime(i, 0.0); },
         "This FMU is a co-simulation FMU; it has no model exchange interface."},
        {"fmi3GetNumberOfContinuousStates",
         [](F3 f, I3 i) { return f.getNumberOfContinuousStates(i, &count); },
         "This FMU is a co-simulation FMU; it has no model exchange interface."},
        {"fmi3ActivateModelPartition",
         [](F3 f, I3 i) { return f.activateModelPartition(i, 0, 0.0); },
         "This FMU is a co-simulation FMU; it has no scheduled execution interface."},
    };
    return calls;
}

class Fmi3StateMachine : public Fmi3SlaveTest {
  protected:
    fmi3Instance inState(MachineState state) {
        const fmi3Instance instance = instantiate3();
        if (state == Error) {
            EXPECT_EQ(doStep(instance, 0.0, 1.0), fmi3Error);
            return instance;
        }
        if (state != Instantiated) {
            EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                      fmi3OK);
        }
        if (state == Stepping || state == Terminated) {
            EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
        }
        if (state == Terminated) {
            EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
        }
        return instance;
    }

    // A refused call leaves the instance in Error: it steps no more.
    void expectInError(fmi3Instance instance) {
        EXPECT_EQ(doStep(instance, 0.0, 1.0), fmi3Error);
    }
};

}  // namespace

TEST_F(Fmi3StateMachine, VersionIsThree) {
    EXPECT_STREQ(fmi3().getVersion(), "3.0");
}

TEST_F(Fmi3StateMachine, EveryCallInEveryState) {
    for (const MachineState state : kStates) {
        for (const Call& call : instanceCalls()) {
            SCOPED_TRACE(std::string(call.name) + " in state " + std::to_string(state));
            const fmi3Instance instance = inState(state);
            clearLogs();
            const fmi3Status status = call.invoke(fmi3(), instance);
            const bool returnsNothing = call.returnsNothing();
            if ((state & call.allowedIn) != 0) {
                EXPECT_EQ(status, fmi3OK);
                EXPECT_TRUE(logs().empty());
            } else {
                EXPECT_EQ(status, returnsNothing ? fmi3OK : fmi3Error);
                EXPECT_TRUE(refusedWith(std::string(call.name) +
                                        ": Illegal call sequence: not allowed in state " +
                                        machineStateName(state, "step mode") + "."));
                expectInError(instance);
            }
            if (!returnsNothing || (state & call.allowedIn) == 0) {
                fmi3().freeInstance(instance);
            }
        }
    }
}

TEST_F(Fmi3StateMachine, InapplicableFunctionsAreRefusedInEveryState) {
    for (const MachineState state : kStates) {
        for (const Inapplicable& call : inapplicableCalls()) {
            SCOPED_TRACE(std::string(call.name) + " in state " + std::to_string(state));
            const fmi3Instance instance = inState(state);
            clearLogs();
            EXPECT_EQ(call.invoke(fmi3(), instance), fmi3Error);
            EXPECT_TRUE(refusedWith(std::string(call.name) + ": " + call.reason));
            expectInError(instance);
            fmi3().freeInstance(instance);
        }
    }
}

TEST_F(Fmi3StateMachine, NullInstanceIsRefusedSilently) {
    for (const Call& call : instanceCalls()) {
        SCOPED_TRACE(call.name);
        const bool returnsNothing = call.returnsNothing();
        EXPECT_EQ(call.invoke(fmi3(), nullptr), returnsNothing ? fmi3OK : fmi3Error);
    }
    for (const Inapplicable& call : inapplicableCalls()) {
        EXPECT_EQ(call.invoke(fmi3(), nullptr), fmi3Error);
    }
    EXPECT_TRUE(logs().empty());
}

TEST_F(Fmi3StateMachine, ResetGivesAFreshInstanceFromAnyState) {
    for (const MachineState state : kStates) {
        const fmi3Instance instance = inState(state);
        EXPECT_EQ(fmi3().reset(instance), fmi3OK);
        EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                  fmi3OK);
        EXPECT_TRUE(sameBits(model().freshValues(), values3(instance)));
        fmi3().freeInstance(instance);
    }
}

TEST_F(Fmi3StateMachine, NullArraysWrongCountsAndUnknownValueReferencesAreRefused) {
    const fmi3ValueReference unknown = model().realCount() + 1;
    const fmi3ValueReference time = model().realCount();
    const fmi3ValueReference output = model().firstOutput;
    const fmi3Float64 value = 1.0;
    fmi3Float64 read[2] = {};
    fmi3Int32 readInteger = 0;
    const fmi3ValueReference two[] = {0, output};
    const std::string o = std::to_string(output);
    const std::string u = std::to_string(unknown);
    const std::string t = std::to_string(time);
    struct Case {
        std::function<fmi3Status(F3, I3)> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&](F3 f, I3 i) { return f.setFloat64(i, nullptr, 1, &value, 1); },
         "fmi3SetFloat64: Invalid argument valueReferences[] = NULL."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, &output, 1, nullptr, 1); },
         "fmi3GetFloat64: Invalid argument values[] = NULL."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, two, 2, read, 1); },
         "fmi3GetFloat64: nValues = 1, but the 2 value references name 2 scalar values."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, &unknown, 1, &value, 1); },
         "fmi3SetFloat64: Illegal value reference " + u + "."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, &unknown, 1, read, 1); },
         "fmi3GetFloat64: Illegal value reference " + u + "."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, &output, 1, &value, 1); },
         "fmi3SetFloat64: Variable " + o + " is an output; only parameters and inputs can be set."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, &time, 1, &value, 1); },
         "fmi3SetFloat64: Variable " + t +
             " is the independent variable time; it follows the steps and cannot be set."},
        {[&](F3 f, I3 i) { return f.getInt32(i, &output, 1, &readInteger, 1); },
         "fmi3GetInt32: Illegal value reference " + o + "."},
        {[&](F3 f, I3 i) { return f.getOutputDerivatives(i, &output, 1, nullptr, read, 1); },
         "fmi3GetOutputDerivatives: This FMU computes no derivatives of its outputs "
         "(maxOutputDerivativeOrder=\"0\")."},
        {[&](F3 f, I3 i) {
             fmi3Boolean flag = fmi3False;
             return f.doStep(i, 0.0, 0.1, fmi3True, &flag, &flag, &flag, nullptr);
         },
         "fmi3DoStep: Invalid argument lastSuccessfulTime = NULL."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(test.call(fmi3(), instance), fmi3Error);
        EXPECT_TRUE(refusedWith(test.message));
        expectInError(instance);
        fmi3().freeInstance(instance);
    }
}

TEST_F(Fmi3StateMachine, TimeIsReadAsTheIndependentVariable) {
    const fmi3Instance instance = stepMode({}, 2.5);
    const fmi3ValueReference time = model().realCount();
    fmi3Float64 value = 0.0;
    EXPECT_EQ(fmi3().getFloat64(instance, &time, 1, &value, 1), fmi3OK);
    EXPECT_TRUE(sameBits(2.5, value));
    fmi3Float64 reached = 0.0;
    ASSERT_EQ(doStep(instance, 2.5, 0.5, &reached), fmi3OK);
    EXPECT_EQ(fmi3().getFloat64(instance, &time, 1, &value, 1), fmi3OK);
    EXPECT_TRUE(sameBits(reached, value));
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3StateMachine, InstantiationRefusals) {
    const std::string token = model().guid;
    const auto instantiate = [&](fmi3String name, fmi3String instantiationToken,
                                 fmi3Boolean eventModeUsed, fmi3Boolean earlyReturnAllowed,
                                 std::size_t nRequired) {
        const fmi3ValueReference required[] = {0};
        return fmi3().instantiateCoSimulation(name, instantiationToken, nullptr, fmi3False,
                                              fmi3True, eventModeUsed, earlyReturnAllowed,
                                              nRequired > 0 ? required : nullptr, nRequired,
                                              &fmi3Environment, recordingLogMessage, nullptr);
    };
    struct Case {
        fmi3String name;
        fmi3String token;
        fmi3Boolean eventModeUsed;
        fmi3Boolean earlyReturnAllowed;
        std::size_t nRequired;
        std::string message;
    };
    const std::string prefix = "fmi3InstantiateCoSimulation: ";
    const std::vector<Case> cases = {
        {nullptr, token.c_str(), false, false, 0, prefix + "Missing instance name."},
        {"", token.c_str(), false, false, 0, prefix + "Missing instance name."},
        {kName, nullptr, false, false, 0, prefix + "Invalid argument instantiationToken = NULL."},
        {kName, "{00000000-0000-0000-0000-000000000000}", false, false, 0,
         prefix + "Wrong instantiation token {00000000-0000-0000-0000-000000000000}. Expected " +
             token + "."},
        {kName, token.c_str(), true, false, 0,
         prefix + "eventModeUsed = fmi3True is not supported: this FMU has no event mode "
                  "(hasEventMode=\"false\")."},
        {kName, token.c_str(), false, true, 0,
         prefix + "earlyReturnAllowed = fmi3True is not supported: this FMU never returns early "
                  "from fmi3DoStep (mightReturnEarlyFromDoStep=\"false\")."},
        {kName, token.c_str(), false, false, 1,
         prefix + "Intermediate variables were requested: this FMU provides no intermediate "
                  "update (providesIntermediateUpdate=\"false\")."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        clearLogs();
        EXPECT_EQ(instantiate(test.name, test.token, test.eventModeUsed, test.earlyReturnAllowed,
                              test.nRequired),
                  nullptr);
        EXPECT_TRUE(refusedWith(test.message));
    }
}

TEST_F(Fmi3StateMachine, NoModelExchangeOrScheduledExecutionInstance) {
    const std::string token = model().guid;
    EXPECT_EQ(fmi3().instantiateModelExchange(kName, token.c_str(), nullptr, fmi3False, fmi3False,
                                              &fmi3Environment, recordingLogMessage),
              nullptr);
    EXPECT_TRUE(refusedWith("fmi3InstantiateModelExchange: " + model().identifier +
                            " is a co-simulation FMU; it has no model exchange interface."));
    clearLogs();
    EXPECT_EQ(fmi3().instantiateScheduledExecution(kName, token.c_str(), nullptr, fmi3False,
                                                   fmi3False, &fmi3Environment, recordingLogMessage,
                                                   nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(refusedWith("fmi3InstantiateScheduledExecution: " + model().identifier +
                            " is a co-simulation FMU; it has no scheduled execution interface."));
    clearLogs();
    // Without a logger nobody hears why, and nothing breaks.
    EXPECT_EQ(fmi3().instantiateModelExchange(kName, token.c_str(), nullptr, fmi3False, fmi3False,
                                              nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(logs().empty());
}

// A master may give no logMessage: the instance runs and stays silent, even
// when it refuses a call.
TEST_F(Fmi3StateMachine, AnInstanceWithoutLoggerRunsSilently) {
    const fmi3Instance instance =
        fmi3().instantiateCoSimulation(kName, model().guid.c_str(), nullptr, fmi3False, fmi3True,
                                       fmi3False, fmi3False, nullptr, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
              fmi3OK);
    EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
    EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3OK);
    EXPECT_EQ(doStep(instance, 0.0, -0.1), fmi3Error);
    fmi3().freeInstance(instance);
    EXPECT_TRUE(logs().empty());
}

TEST_F(Fmi3StateMachine, DebugLoggingByCategory) {
    const fmi3Instance instance = stepMode();
    const auto traced = [&]() {
        clearLogs();
        EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3OK);
        return !logs().empty();
    };
    EXPECT_FALSE(traced());
    const fmi3String calls[] = {"logCalls"};
    const fmi3String errors[] = {"logStatusError"};
    const fmi3String unknown[] = {"logCalls", "logEverything"};
    EXPECT_EQ(fmi3().setDebugLogging(instance, fmi3True, 1, errors), fmi3OK);
    EXPECT_FALSE(traced());
    EXPECT_EQ(fmi3().setDebugLogging(instance, fmi3True, 1, calls), fmi3OK);
    EXPECT_TRUE(traced());
    EXPECT_EQ(logs()[0].category, "logCalls");
    EXPECT_EQ(logs()[0].component, &fmi3Environment);
    EXPECT_EQ(logs()[0].status, fmiOK);
    EXPECT_EQ(logs()[0].text,
              "fmi3DoStep: currentCommunicationPoint = 0, communicationStepSize = 0.1, "
              "noSetFMUStatePriorToCurrentPoint = fmi3True");
    EXPECT_EQ(fmi3().setDebugLogging(instance, fmi3False, 0, nullptr), fmi3OK);
    EXPECT_FALSE(traced());
    EXPECT_EQ(fmi3().setDebugLogging(instance, fmi3True, 0, nullptr), fmi3OK);
    EXPECT_TRUE(traced());
    clearLogs();
    EXPECT_EQ(fmi3().setDebugLogging(instance, fmi3False, 2, unknown), fmi3Error);
    ASSERT_FALSE(logs().empty());
    EXPECT_EQ(logs().back().text, "fmi3SetDebugLogging: Unknown log category logEverything.");
    fmi3().freeInstance(instance);
}

// Every traced call of a whole run formats its message in the FMU, with
// every value in it, however long the instance name.
TEST_F(Fmi3StateMachine, TracedRunSendsFinishedMessages) {
    const std::string longName(2000, 'n');
    const fmi3Instance instance = instantiate3(fmi3True, longName.c_str());
    ASSERT_EQ(fmi3().enterInitializationMode(instance, fmi3True, 1e-6, 0.0, fmi3True, 1.0), fmi3OK);
    const std::vector<fmi3Float64> knowns = randomKnowns(5);
    setKnowns(instance, knowns);
    ASSERT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
    ASSERT_EQ(doStep(instance, 0.0, 0.25), fmi3OK);
    values3(instance);
    ASSERT_EQ(fmi3().terminate(instance), fmi3OK);
    fmi3().freeInstance(instance);
    ASSERT_GT(logs().size(), 5U);
    for (const LogRecord& record : logs()) {
        EXPECT_EQ(record.component, &fmi3Environment);
        EXPECT_EQ(record.category, "logCalls");
        EXPECT_LT(record.text.size(), 512U);
    }
    EXPECT_EQ(logs().back().text, "fmi3FreeInstance");
}
