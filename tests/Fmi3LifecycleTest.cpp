// FMI 3.0: every call in every state, the refusals of instantiation and of
// the interfaces the FMU does not have, messages the FMU formats itself, and
// debug logging by category.
#include <functional>
#include <limits>
#include <string>

#include "Fmi3SlaveTest.h"
#include "MachineStates.h"

namespace {

using F3 = const Fmi3Functions&;
using I3 = fmi3Instance;

constexpr const char* kNoEventMode = "This FMU has no event mode (hasEventMode=\"false\").";
constexpr StateMask kModelExchangeSimulating = EventMode | ContinuousTimeMode;
constexpr StateMask kSimulating = Stepping | kModelExchangeSimulating;
constexpr StateMask kLive = kLiveStates | kModelExchangeSimulating;
constexpr StateMask kReadable = kValuesReadable | kModelExchangeSimulating;
constexpr StateMask kWritable = kValuesWritable | kModelExchangeSimulating;
constexpr StateMask kVectorsReadable =
    InitializationMode | kModelExchangeSimulating | Terminated | Error;

enum class Interface { CoSimulation, ModelExchange };
constexpr MachineState kCoSimulationStates[] = {Instantiated, InitializationMode, Stepping,
                                                Terminated, Error};

// A call, the states it is allowed in, and, for an interface it is no call
// of, the reason every instance of that interface refuses it with in every
// state ("" for the message naming the interfaces).
struct Call {
    const char* name;
    StateMask allowedIn;
    std::function<fmi3Status(F3, I3)> invoke;
    const char* notForCoSimulation = nullptr;
    const char* notForModelExchange = nullptr;

    bool returnsNothing() const {
        return std::string(name) == "fmi3FreeInstance";
    }
    // The refusal in an instance of the other interface; empty when the
    // call is one of the interface's.
    std::string refusalIn(Interface interface) const {
        const bool modelExchange = interface == Interface::ModelExchange;
        const char* const reason = modelExchange ? notForModelExchange : notForCoSimulation;
        if (reason == nullptr) {
            return "";
        }
        if (reason[0] != '\0') {
            return std::string(name) + ": " + reason;
        }
        return std::string(name) + ": This is a " +
               (modelExchange ? "Model Exchange" : "co-simulation") + " instance; " + name +
               " is a function of " + (modelExchange ? "co-simulation" : "Model Exchange") +
               " only.";
    }
};

// Each call with arguments that an allowed call accepts: no elements for the
// array calls, an output for the dependency queries.
const std::vector<Call>& instanceCalls() {
    static fmi3Boolean flag[5];
    static fmi3Float64 real;
    static std::size_t count;
    static const std::vector<Call> calls = {
        {"fmi3SetDebugLogging", kLive,
         [](F3 f, I3 i) { return f.setDebugLogging(i, fmi3False, 0, nullptr); }},
        {"fmi3EnterInitializationMode", Instantiated,
         [](F3 f, I3 i) {
             return f.enterInitializationMode(i, fmi3False, 0.0, 0.0, fmi3False, 0.0);
         }},
        {"fmi3ExitInitializationMode", InitializationMode,
         [](F3 f, I3 i) { return f.exitInitializationMode(i); }},
        {"fmi3Terminate", kSimulating, [](F3 f, I3 i) { return f.terminate(i); }},
        {"fmi3Reset", kLive, [](F3 f, I3 i) { return f.reset(i); }},
        {"fmi3SetFloat64", kWritable,
         [](F3 f, I3 i) { return f.setFloat64(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetFloat64", kReadable,
         [](F3 f, I3 i) { return f.getFloat64(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetInt32", kReadable,
         [](F3 f, I3 i) { return f.getInt32(i, nullptr, 0, nullptr, 0); }},
        {"fmi3SetBoolean", kWritable,
         [](F3 f, I3 i) { return f.setBoolean(i, nullptr, 0, nullptr, 0); }},
        {"fmi3GetBinary", kReadable,
         [](F3 f, I3 i) { return f.getBinary(i, nullptr, 0, nullptr, nullptr, 0); }},
        {"fmi3GetClock", kReadable, [](F3 f, I3 i) { return f.getClock(i, nullptr, 0, nullptr); }},
        {"fmi3GetDirectionalDerivative", kReadable,
         [](F3 f, I3 i) {
             return f.getDirectionalDerivative(i, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
         }},
        {"fmi3GetAdjointDerivative", kReadable,
         [](F3 f, I3 i) {
             return f.getAdjointDerivative(i, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
         }},
        {"fmi3GetNumberOfVariableDependencies", kLive,
         [](F3 f, I3 i) {
             return f.getNumberOfVariableDependencies(i, testContext().facts->firstOutput, &count);
         }},
        {"fmi3GetOutputDerivatives", Stepping | Terminated | Error,
         [](F3 f, I3 i) { return f.getOutputDerivatives(i, nullptr, 0, nullptr, nullptr, 0); },
         nullptr, ""},
        {"fmi3DoStep", Stepping,
         [](F3 f, I3 i) {
             return f.doStep(i, 0.0, 0.5, fmi3True, &flag[0], &flag[1], &flag[2], &real);
         },
         nullptr, ""},
        {"fmi3EnterStepMode", 0, [](F3 f, I3 i) { return f.enterStepMode(i); }, kNoEventMode, ""},
        {"fmi3GetFMUState", kLive,
         [](F3 f, I3 i) {
             fmi3FMUState state = nullptr;
             const fmi3Status result = f.getFMUState(i, &state);
             f.freeFMUState(i, &state);
             return result;
         }},
        {"fmi3FreeFMUState", kLive,
         [](F3 f, I3 i) {
             fmi3FMUState state = nullptr;
             return f.freeFMUState(i, &state);
         }},
        {"fmi3EnterEventMode", ContinuousTimeMode, [](F3 f, I3 i) { return f.enterEventMode(i); },
         kNoEventMode},
        {"fmi3UpdateDiscreteStates", EventMode,
         [](F3 f, I3 i) {
             return f.updateDiscreteStates(i, &flag[0], &flag[1], &flag[2], &flag[3], &flag[4],
                                           &real);
         },
         kNoEventMode},
        {"fmi3EnterContinuousTimeMode", EventMode,
         [](F3 f, I3 i) { return f.enterContinuousTimeMode(i); }, ""},
        {"fmi3CompletedIntegratorStep", ContinuousTimeMode,
         [](F3 f, I3 i) { return f.completedIntegratorStep(i, fmi3True, &flag[0], &flag[1]); }, ""},
        {"fmi3SetTime", ContinuousTimeMode, [](F3 f, I3 i) { return f.setTime(i, 0.0); }, ""},
        {"fmi3SetContinuousStates", ContinuousTimeMode,
         [](F3 f, I3 i) { return f.setContinuousStates(i, nullptr, 0); }, ""},
        {"fmi3GetContinuousStateDerivatives", kVectorsReadable,
         [](F3 f, I3 i) { return f.getContinuousStateDerivatives(i, nullptr, 0); }, ""},
        {"fmi3GetEventIndicators", kVectorsReadable,
         [](F3 f, I3 i) { return f.getEventIndicators(i, nullptr, 0); }, ""},
        {"fmi3GetContinuousStates", kVectorsReadable,
         [](F3 f, I3 i) { return f.getContinuousStates(i, nullptr, 0); }, ""},
        {"fmi3GetNominalsOfContinuousStates", kVectorsReadable,
         [](F3 f, I3 i) { return f.getNominalsOfContinuousStates(i, nullptr, 0); }, ""},
        {"fmi3GetNumberOfEventIndicators", kLive,
         [](F3 f, I3 i) { return f.getNumberOfEventIndicators(i, &count); }, ""},
        {"fmi3GetNumberOfContinuousStates", kLive,
         [](F3 f, I3 i) { return f.getNumberOfContinuousStates(i, &count); }, ""},
        {"fmi3FreeInstance", kLive,
         [](F3 f, I3 i) {
             f.freeInstance(i);
             return fmi3OK;  // returns nothing; a refusal shows in the log
         }},
    };
    return calls;
}

// The functions of features the FMU does not have: refused in every state of
// either interface, with the reason.
struct Inapplicable {
    const char* name;
    std::function<fmi3Status(F3, I3)> invoke;
    const char* reason;
};

const std::vector<Inapplicable>& inapplicableCalls() {
    static fmi3Float64 real;
    static fmi3UInt64 counter;
    static fmi3IntervalQualifier qualifier;
    static const fmi3ValueReference vr = 0;
    constexpr const char* kNoClocks = "This FMU has no clocks.";
    constexpr const char* kNoConfiguration =
        "This FMU has no structural parameters and no configuration mode.";
    static const std::vector<Inapplicable> calls = {
        {"fmi3EvaluateDiscreteStates", [](F3 f, I3 i) { return f.evaluateDiscreteStates(i); },
         "This FMU has no clocks and does not evaluate discrete states "
         "(providesEvaluateDiscreteStates=\"false\")."},
        {"fmi3EnterConfigurationMode", [](F3 f, I3 i) { return f.enterConfigurationMode(i); },
         kNoConfiguration},
        {"fmi3ExitConfigurationMode", [](F3 f, I3 i) { return f.exitConfigurationMode(i); },
         kNoConfiguration},
        {"fmi3GetIntervalDecimal",
         [](F3 f, I3 i) { return f.getIntervalDecimal(i, &vr, 1, &real, &qualifier); }, kNoClocks},
        {"fmi3GetIntervalFraction",
         [](F3 f, I3 i) {
             return f.getIntervalFraction(i, &vr, 1, &counter, &counter, &qualifier);
         },
         kNoClocks},
        {"fmi3GetShiftDecimal", [](F3 f, I3 i) { return f.getShiftDecimal(i, &vr, 1, &real); },
         kNoClocks},
        {"fmi3GetShiftFraction",
         [](F3 f, I3 i) { return f.getShiftFraction(i, &vr, 1, &counter, &counter); }, kNoClocks},
        {"fmi3SetIntervalDecimal",
         [](F3 f, I3 i) { return f.setIntervalDecimal(i, &vr, 1, &real); }, kNoClocks},
        {"fmi3SetIntervalFraction",
         [](F3 f, I3 i) { return f.setIntervalFraction(i, &vr, 1, &counter, &counter); },
         kNoClocks},
        {"fmi3SetShiftDecimal", [](F3 f, I3 i) { return f.setShiftDecimal(i, &vr, 1, &real); },
         kNoClocks},
        {"fmi3SetShiftFraction",
         [](F3 f, I3 i) { return f.setShiftFraction(i, &vr, 1, &counter, &counter); }, kNoClocks},
        {"fmi3ActivateModelPartition",
         [](F3 f, I3 i) { return f.activateModelPartition(i, 0, 0.0); },
         "This FMU has no scheduled execution interface."},
    };
    return calls;
}

class Fmi3StateMachine : public Fmi3SlaveTest {
  protected:
    fmi3Instance inState(MachineState state, Interface interface = Interface::CoSimulation) {
        const fmi3Instance instance =
            interface == Interface::CoSimulation ? instantiate3() : instantiateModelExchange();
        if (state == Error) {
            // A step is refused in Instantiated, and by a Model Exchange instance.
            EXPECT_EQ(doStep(instance, 0.0, 1.0), fmi3Error);
            return instance;
        }
        if (state != Instantiated) {
            EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                      fmi3OK);
        }
        if ((state & (kSimulating | Terminated)) != 0) {
            EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
        }
        if (state == ContinuousTimeMode) {
            EXPECT_EQ(fmi3().enterContinuousTimeMode(instance), fmi3OK);
        }
        if (state == Terminated) {
            EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
        }
        return instance;
    }

    // The state an FMU state of the instance records, read from its bytes:
    // four bytes after the GUID.
    unsigned recordedState(fmi3Instance instance) {
        fmi3FMUState state = nullptr;
        std::size_t size = 0;
        EXPECT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
        EXPECT_EQ(fmi3().serializedFMUStateSize(instance, state, &size), fmi3OK);
        std::vector<fmi3Byte> bytes(size);
        EXPECT_EQ(fmi3().serializeFMUState(instance, state, bytes.data(), size), fmi3OK);
        EXPECT_EQ(fmi3().freeFMUState(instance, &state), fmi3OK);
        const std::size_t offset = sizeof "Chassis force slave FMU state" + 4 + sizeof "3.0" +
                                   model().identifier.size() + 1 + model().guid.size() + 1;
        unsigned recorded = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            recorded |= unsigned{static_cast<unsigned char>(bytes.at(offset + i))} << (8 * i);
        }
        return recorded;
    }

    // A refused call leaves the instance in Error.
    void expectInError(fmi3Instance instance) {
        EXPECT_EQ(recordedState(instance), unsigned{Error});
    }
};

}  // namespace

TEST_F(Fmi3StateMachine, VersionIsThree) {
    EXPECT_STREQ(fmi3().getVersion(), "3.0");
}

TEST_F(Fmi3StateMachine, EveryCallInEveryStateOfEitherInterface) {
    const auto check = [&](Interface interface, MachineState state, const Call& call) {
        const fmi3Instance instance = inState(state, interface);
        EXPECT_EQ(recordedState(instance), unsigned{state});
        clearLogs();
        const fmi3Status status = call.invoke(fmi3(), instance);
        const std::string refusal = call.refusalIn(interface);
        const bool allowed = refusal.empty() && (state & call.allowedIn) != 0;
        const std::string name = call.name;
        if (allowed && !model().partial &&
            (name == "fmi3GetDirectionalDerivative" || name == "fmi3GetAdjointDerivative")) {
            // A model that states no partial derivatives refuses them.
            EXPECT_EQ(status, fmi3Error);
            EXPECT_TRUE(refusedWith(name + ": Model " + model().identifier +
                                    " states no partial derivatives."));
        } else if (allowed) {
            EXPECT_EQ(status, fmi3OK);
            EXPECT_TRUE(logs().empty());
        } else {
            EXPECT_EQ(status, call.returnsNothing() ? fmi3OK : fmi3Error);
            EXPECT_TRUE(refusedWith(!refusal.empty()
                                        ? refusal
                                        : std::string(call.name) +
                                              ": Illegal call sequence: not allowed in state " +
                                              machineStateName(state, "step mode") + "."));
            expectInError(instance);
        }
        if (!allowed || !call.returnsNothing()) {
            fmi3().freeInstance(instance);
        }
    };
    for (const Call& call : instanceCalls()) {
        for (const MachineState state : kCoSimulationStates) {
            SCOPED_TRACE(std::string(call.name) + " in co-simulation state " +
                         std::to_string(state));
            check(Interface::CoSimulation, state, call);
        }
        for (const MachineState state : kModelExchangeStates) {
            SCOPED_TRACE(std::string(call.name) + " in Model Exchange state " +
                         std::to_string(state));
            check(Interface::ModelExchange, state, call);
        }
    }
}

TEST_F(Fmi3StateMachine, InapplicableFunctionsAreRefusedInEveryState) {
    const auto check = [&](Interface interface, MachineState state) {
        for (const Inapplicable& call : inapplicableCalls()) {
            SCOPED_TRACE(std::string(call.name) + " in state " + std::to_string(state));
            const fmi3Instance instance = inState(state, interface);
            clearLogs();
            EXPECT_EQ(call.invoke(fmi3(), instance), fmi3Error);
            EXPECT_TRUE(refusedWith(std::string(call.name) + ": " + call.reason));
            expectInError(instance);
            fmi3().freeInstance(instance);
        }
    };
    for (const MachineState state : kCoSimulationStates) {
        check(Interface::CoSimulation, state);
    }
    for (const MachineState state : kModelExchangeStates) {
        check(Interface::ModelExchange, state);
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
    fmi3Byte bytes[1] = {};
    fmi3FMUState state = nullptr;
    EXPECT_EQ(fmi3().setFMUState(nullptr, nullptr), fmi3Error);
    EXPECT_EQ(fmi3().serializeFMUState(nullptr, nullptr, bytes, 1), fmi3Error);
    EXPECT_EQ(fmi3().deserializeFMUState(nullptr, bytes, 1, &state), fmi3Error);
    EXPECT_EQ(fmi3().getVariableDependencies(nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0),
              fmi3Error);
    EXPECT_TRUE(logs().empty());
}

TEST_F(Fmi3StateMachine, ResetGivesAFreshInstanceFromAnyState) {
    const auto check = [&](MachineState state, Interface interface) {
        const fmi3Instance instance = inState(state, interface);
        EXPECT_EQ(fmi3().reset(instance), fmi3OK);
        EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                  fmi3OK);
        // Model Exchange reads the forces at the fresh values.
        const std::vector<fmi3Float64> fresh = model().freshValues();
        EXPECT_TRUE(sameBits(interface == Interface::CoSimulation ? fresh : withForces(fresh),
                             values3(instance)));
        // Read already: the end of initialization leaves them.
        EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
        fmi3().freeInstance(instance);
    };
    for (const MachineState state : kCoSimulationStates) {
        check(state, Interface::CoSimulation);
    }
    for (const MachineState state : kModelExchangeStates) {
        check(state, Interface::ModelExchange);
    }
}

TEST_F(Fmi3StateMachine, NullArraysWrongCountsAndUnknownValueReferencesAreRefused) {
    const fmi3ValueReference unknown = model().realCount() + 1;
    const fmi3ValueReference time = model().realCount();
    const fmi3ValueReference output = model().firstOutput;
    const fmi3Float64 value = 1.0;
    const fmi3Float64 twoValues[] = {1.0, 1.0};
    fmi3Float64 read[2] = {};
    fmi3Int32 readInteger = 0;
    const fmi3ValueReference two[] = {0, output};
    const std::string o = std::to_string(output);
    const std::string u = std::to_string(unknown);
    const std::string t = std::to_string(time);
    struct Case {
        std::function<fmi3Status(F3, I3)> call;
        std::string message;
        bool coSimulationOnly = false;
        bool modelExchangeOnly = false;
    };
    const auto withFmuState = [](F3 f, I3 i) {
        fmi3FMUState state = nullptr;
        EXPECT_EQ(f.getFMUState(i, &state), fmi3OK);
        return state;
    };
    // An FMU state of no instance, and the bytes an FMU state takes.
    // Its address as the platform's C runtime writes it, taken from a
    // refusal.
    static int notAnFmuState = 0;
    std::size_t size = 0;
    std::string notOwn;
    {
        const fmi3Instance instance = stepMode();
        EXPECT_EQ(fmi3().serializedFMUStateSize(instance, withFmuState(fmi3(), instance), &size),
                  fmi3OK);
        clearLogs();
        EXPECT_EQ(fmi3().setFMUState(instance, &notAnFmuState), fmi3Error);
        const std::string text = logs().at(0).text;
        const std::size_t from = text.find("FMUState ") + 9;
        notOwn = text.substr(from, text.find(' ', from) - from);
        fmi3().freeInstance(instance);
    }
    const std::string notOwnMessage = " is no FMU state of this instance, or it was freed.";
    const fmi3ValueReference far = 1000;
    std::vector<Case> cases = {
        {[&](F3 f, I3 i) {
             fmi3FMUState state = &notAnFmuState;
             return f.freeFMUState(i, &state);
         },
         "fmi3FreeFMUState: FMUState " + notOwn + notOwnMessage},
        {[&](F3 f, I3 i) { return f.serializedFMUStateSize(i, &notAnFmuState, &size); },
         "fmi3SerializedFMUStateSize: FMUState " + notOwn + notOwnMessage},
        {[&](F3 f, I3 i) {
             fmi3Byte bytes[1] = {};
             return f.serializeFMUState(i, &notAnFmuState, bytes, 1);
         },
         "fmi3SerializeFMUState: FMUState " + notOwn + notOwnMessage},
        {[&](F3 f, I3 i) {
             std::vector<fmi3Byte> bytes(size);
             return f.serializeFMUState(i, withFmuState(f, i), bytes.data(), size - 1);
         },
         "fmi3SerializeFMUState: size " + std::to_string(size - 1) + " is less than the " +
             std::to_string(size) + " bytes that fmi3SerializedFMUStateSize gives."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, &far, 1, &value, 1); },
         "fmi3SetFloat64: Illegal value reference 1000."},
        {[&](F3 f, I3 i) { return f.getFMUState(i, nullptr); },
         "fmi3GetFMUState: Invalid argument FMUState = NULL."},
        {[&](F3 f, I3 i) { return f.freeFMUState(i, nullptr); },
         "fmi3FreeFMUState: Invalid argument FMUState = NULL."},
        {[&](F3 f, I3 i) { return f.serializedFMUStateSize(i, withFmuState(f, i), nullptr); },
         "fmi3SerializedFMUStateSize: Invalid argument size = NULL."},
        {[&](F3 f, I3 i) { return f.serializeFMUState(i, withFmuState(f, i), nullptr, 9); },
         "fmi3SerializeFMUState: Invalid argument serializedState[] = NULL."},
        {[&](F3 f, I3 i) { return f.deserializeFMUState(i, nullptr, 9, nullptr); },
         "fmi3DeserializeFMUState: Invalid argument serializedState[] = NULL."},
        {[&](F3 f, I3 i) {
             const fmi3Byte bytes[9] = {};
             return f.deserializeFMUState(i, bytes, 9, nullptr);
         },
         "fmi3DeserializeFMUState: Invalid argument FMUState = NULL."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, nullptr, 1, &value, 1); },
         "fmi3SetFloat64: Invalid argument valueReferences[] = NULL."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, &output, 1, nullptr, 1); },
         "fmi3GetFloat64: Invalid argument values[] = NULL."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, two, 2, read, 1); },
         "fmi3GetFloat64: nValues = 1, but the 2 value references name 2 scalar values."},
        {[&](F3 f, I3 i) { return f.getFloat64(i, &output, 1, read, 2); },
         "fmi3GetFloat64: nValues = 2, but the 1 value references name 1 scalar values."},
        {[&](F3 f, I3 i) { return f.setFloat64(i, two, 1, twoValues, 2); },
         "fmi3SetFloat64: nValues = 2, but the 1 value references name 1 scalar values."},
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
         "(maxOutputDerivativeOrder=\"0\").",
         true},
        {[&](F3 f, I3 i) {
             fmi3Boolean flag = fmi3False;
             return f.doStep(i, 0.0, 0.1, fmi3True, &flag, &flag, &flag, nullptr);
         },
         "fmi3DoStep: Invalid argument lastSuccessfulTime = NULL.", true},
        {[&](F3 f, I3 i) { return f.setContinuousStates(i, twoValues, 1); },
         "fmi3SetContinuousStates: nContinuousStates = 1, but this FMU has no continuous "
         "states (0).",
         false, true},
        {[&](F3 f, I3 i) { return f.getContinuousStateDerivatives(i, read, 2); },
         "fmi3GetContinuousStateDerivatives: nContinuousStates = 2, but this FMU has no "
         "continuous states (0).",
         false, true},
        {[&](F3 f, I3 i) { return f.getContinuousStates(i, read, 1); },
         "fmi3GetContinuousStates: nContinuousStates = 1, but this FMU has no continuous "
         "states (0).",
         false, true},
        {[&](F3 f, I3 i) { return f.getNominalsOfContinuousStates(i, read, 1); },
         "fmi3GetNominalsOfContinuousStates: nContinuousStates = 1, but this FMU has no "
         "continuous states (0).",
         false, true},
        {[&](F3 f, I3 i) { return f.getEventIndicators(i, read, 1); },
         "fmi3GetEventIndicators: nEventIndicators = 1, but this FMU has no event indicators "
         "(0).",
         false, true},
        {[&](F3 f, I3 i) { return f.getNumberOfEventIndicators(i, nullptr); },
         "fmi3GetNumberOfEventIndicators: Invalid argument nEventIndicators = NULL.", false, true},
        {[&](F3 f, I3 i) { return f.completedIntegratorStep(i, fmi3True, nullptr, nullptr); },
         "fmi3CompletedIntegratorStep: Invalid argument enterEventMode = NULL.", false, true},
        {[&](F3 f, I3 i) {
             fmi3Boolean flag = fmi3False;
             return f.completedIntegratorStep(i, fmi3True, &flag, nullptr);
         },
         "fmi3CompletedIntegratorStep: Invalid argument terminateSimulation = NULL.", false, true},
        {[&](F3 f, I3 i) { return f.getNumberOfContinuousStates(i, nullptr); },
         "fmi3GetNumberOfContinuousStates: Invalid argument nContinuousStates = NULL.", false,
         true},
        {[&](F3 f, I3 i) { return f.setTime(i, std::numeric_limits<fmi3Float64>::infinity()); },
         "fmi3SetTime: The time inf is not finite.", false, true},
    };
    // Continuous-time mode lets only the continuous inputs change; parameters
    // come first and have start values.
    const fmi3ValueReference parameter = 0;
    if (model().startValues[parameter].has_value()) {
        cases.push_back({[&](F3 f, I3 i) { return f.setFloat64(i, &parameter, 1, &value, 1); },
                         "fmi3SetFloat64: Variable 0 is a tunable parameter; in continuous-time "
                         "mode only continuous inputs can be set.",
                         false, true});
    }
    const char* const stepResults[] = {"eventHandlingNeeded", "terminateSimulation", "earlyReturn"};
    for (int n = 0; n < 3; ++n) {
        cases.push_back(
            {[n](F3 f, I3 i) {
                 fmi3Boolean flags[3] = {};
                 fmi3Boolean* given[3] = {&flags[0], &flags[1], &flags[2]};
                 given[n] = nullptr;
                 fmi3Float64 reached = 0.0;
                 return f.doStep(i, 0.0, 0.1, fmi3True, given[0], given[1], given[2], &reached);
             },
             "fmi3DoStep: Invalid argument " + std::string(stepResults[n]) + " = NULL.", true});
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        std::vector<fmi3Instance> instances;
        if (!test.modelExchangeOnly) {
            instances.push_back(stepMode());
        }
        if (!test.coSimulationOnly) {
            instances.push_back(eventMode({}, true));
        }
        for (const fmi3Instance instance : instances) {
            clearLogs();
            EXPECT_EQ(test.call(fmi3(), instance), fmi3Error);
            EXPECT_TRUE(refusedWith(test.message));
            expectInError(instance);
            fmi3().freeInstance(instance);
        }
    }
}

TEST_F(Fmi3StateMachine, ModelExchangeHasNothingToIntegrateAndNoEvents) {
    const fmi3Instance instance = eventMode();
    std::size_t count = 1;
    EXPECT_EQ(fmi3().getNumberOfContinuousStates(instance, &count), fmi3OK);
    EXPECT_EQ(count, 0U);
    count = 1;
    EXPECT_EQ(fmi3().getNumberOfEventIndicators(instance, &count), fmi3OK);
    EXPECT_EQ(count, 0U);
    fmi3Boolean flags[5] = {fmi3True, fmi3True, fmi3True, fmi3True, fmi3True};
    fmi3Float64 nextEventTime = 0.0;
    EXPECT_EQ(fmi3().updateDiscreteStates(instance, &flags[0], &flags[1], &flags[2], &flags[3],
                                          &flags[4], &nextEventTime),
              fmi3OK);
    for (const fmi3Boolean flag : flags) {
        EXPECT_FALSE(flag);
    }
    ASSERT_EQ(fmi3().enterContinuousTimeMode(instance), fmi3OK);
    flags[0] = flags[1] = fmi3True;
    EXPECT_EQ(fmi3().completedIntegratorStep(instance, fmi3False, &flags[0], &flags[1]), fmi3OK);
    EXPECT_FALSE(flags[0]);
    EXPECT_FALSE(flags[1]);
    // Back through event mode, where a tunable parameter may change again.
    ASSERT_EQ(fmi3().enterEventMode(instance), fmi3OK);
    const fmi3ValueReference parameter = 0;
    const fmi3Float64 value = 1.0;
    EXPECT_EQ(fmi3().setFloat64(instance, &parameter, 1, &value, 1), fmi3OK);
    fmi3().freeInstance(instance);
    // Every result needs its place.
    const char* const results[] = {"discreteStatesNeedUpdate",
                                   "terminateSimulation",
                                   "nominalsOfContinuousStatesChanged",
                                   "valuesOfContinuousStatesChanged",
                                   "nextEventTimeDefined",
                                   "nextEventTime"};
    for (int n = 0; n < 6; ++n) {
        const fmi3Instance refusing = eventMode();
        fmi3Boolean* given[5] = {&flags[0], &flags[1], &flags[2], &flags[3], &flags[4]};
        if (n < 5) {
            given[n] = nullptr;
        }
        clearLogs();
        EXPECT_EQ(fmi3().updateDiscreteStates(refusing, given[0], given[1], given[2], given[3],
                                              given[4], n < 5 ? &nextEventTime : nullptr),
                  fmi3Error);
        EXPECT_TRUE(refusedWith("fmi3UpdateDiscreteStates: Invalid argument " +
                                std::string(results[n]) + " = NULL."));
        fmi3().freeInstance(refusing);
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
    // A start time that is no time.
    const fmi3Instance unstarted = instantiate3();
    clearLogs();
    EXPECT_EQ(fmi3().enterInitializationMode(unstarted, fmi3False, 0.0,
                                             std::numeric_limits<fmi3Float64>::infinity(),
                                             fmi3False, 0.0),
              fmi3Error);
    EXPECT_TRUE(refusedWith("fmi3EnterInitializationMode: The start time inf is not finite."));
    fmi3().freeInstance(unstarted);
    // Model Exchange: the time fmi3SetTime set, backwards too.
    const fmi3Instance exchange = eventMode({}, true);
    for (const fmi3Float64 set : {0.125, 1e9, -3.75}) {
        EXPECT_EQ(fmi3().setTime(exchange, set), fmi3OK);
        EXPECT_EQ(fmi3().getFloat64(exchange, &time, 1, &value, 1), fmi3OK);
        EXPECT_TRUE(sameBits(set, value));
    }
    fmi3().freeInstance(exchange);
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
        // Model Exchange checks its name and token alike.
        if (!test.eventModeUsed && test.nRequired == 0) {
            clearLogs();
            EXPECT_EQ(
                fmi3().instantiateModelExchange(test.name, test.token, nullptr, fmi3False, fmi3True,
                                                &fmi3Environment, recordingLogMessage),
                nullptr);
            EXPECT_TRUE(
                refusedWith("fmi3InstantiateModelExchange: " + test.message.substr(prefix.size())));
        }
    }
    // Allowing early return allows what never happens.
    const fmi3Instance early = instantiate(kName, token.c_str(), false, true, 0);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(fmi3().enterInitializationMode(early, fmi3False, 0.0, 0.0, fmi3False, 0.0), fmi3OK);
    EXPECT_EQ(fmi3().exitInitializationMode(early), fmi3OK);
    EXPECT_EQ(doStep(early, 0.0, 0.5), fmi3OK);
    fmi3().freeInstance(early);
}

TEST_F(Fmi3StateMachine, NoScheduledExecutionInstance) {
    const std::string token = model().guid;
    EXPECT_EQ(fmi3().instantiateScheduledExecution(kName, token.c_str(), nullptr, fmi3False,
                                                   fmi3False, &fmi3Environment, recordingLogMessage,
                                                   nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(refusedWith("fmi3InstantiateScheduledExecution: " + model().identifier +
                            " has no scheduled execution interface."));
    clearLogs();
    // Without a logger nobody hears why, and nothing breaks.
    EXPECT_EQ(
        fmi3().instantiateScheduledExecution(kName, token.c_str(), nullptr, fmi3False, fmi3False,
                                             nullptr, nullptr, nullptr, nullptr, nullptr),
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

namespace {

// A logger that, before it keeps a message, calls back into the instance
// that sent it and makes it log again.
struct ReenteringLogger {
    const Fmi3Functions* functions = nullptr;
    fmi3Instance instance = nullptr;
    std::vector<std::string> kept;
};

void reenteringLogMessage(fmi3InstanceEnvironment environment, fmi3Status /*status*/,
                          fmi3String /*category*/, fmi3String message) {
    auto& logger = *static_cast<ReenteringLogger*>(environment);
    const fmi3Instance instance = logger.instance;
    logger.instance = nullptr;  // once
    if (instance != nullptr) {
        EXPECT_EQ(logger.functions->setDebugLogging(instance, fmi3True, 0, nullptr), fmi3OK);
    }
    logger.kept.emplace_back(message);
}

}  // namespace

// Each message keeps its text while the logger makes the same instance send
// another, in either interface.
TEST_F(Fmi3StateMachine, AMessageSurvivesALoggerThatReentersTheInstance) {
    for (const bool modelExchange : {false, true}) {
        ReenteringLogger logger;
        logger.functions = &fmi3();
        const fmi3Instance instance =
            modelExchange
                ? fmi3().instantiateModelExchange(kName, model().guid.c_str(), nullptr, fmi3False,
                                                  fmi3True, &logger, reenteringLogMessage)
                : fmi3().instantiateCoSimulation(kName, model().guid.c_str(), nullptr, fmi3False,
                                                 fmi3True, fmi3False, fmi3False, nullptr, 0,
                                                 &logger, reenteringLogMessage, nullptr);
        ASSERT_NE(instance, nullptr);
        logger.kept.clear();
        logger.instance = instance;
        ASSERT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                  fmi3OK);
        const std::vector<std::string> expected = {
            "fmi3SetDebugLogging: loggingOn=1, nCategories=0",
            "fmi3EnterInitializationMode: toleranceDefined=0, tolerance=0, startTime=0, "
            "stopTimeDefined=0, stopTime=0"};
        EXPECT_EQ(logger.kept, expected);
        fmi3().freeInstance(instance);
    }
}
