// The termination notice of fmiDoStep, through a model that requests it:
// logged whatever the logging flag, the step ends part way with fmiError,
// and the state stays Initialized until a reset clears the request. In 3.0
// the request is a refusal of the call that computes: the step, the end of
// initialization, or a Model Exchange read.
#include <functional>

#include "Fmi2SlaveTest.h"
#include "Fmi3SlaveTest.h"

namespace {

constexpr fmiValueReference kRequestTermination = 0;
constexpr fmiValueReference kEventCount = 1;
constexpr const char* kNotice = "fmiDoStep: model requested termination at t=%g";

}  // namespace

using TerminusModel = SlaveTest;

TEST_F(TerminusModel, TerminationEndsTheStepAtItsSubstep) {
    for (const fmiBoolean logging : {fmiFalse, fmiTrue}) {
        SCOPED_TRACE(logging ? "logging" : "quiet");
        const fmiComponent c = initialized();
        ASSERT_EQ(fmi().doStep(c, -1.25, 1.0, fmiTrue), fmiOK);
        // Substeps at -1.15 ... -0.25: only the last eight lie after -1.0.
        EXPECT_EQ(realValues(c)[kEventCount], 8.0);

        setReal(c, kRequestTermination, 1.0);
        ASSERT_EQ(fmi().setDebugLogging(c, logging), fmiOK);
        clearLogs();
        // From -1.5 in substeps of 0.1, the first event, and with it the
        // request, comes at the first substep whose time passes -1.0.
        EXPECT_EQ(fmi().doStep(c, -1.5, 1.0, fmiTrue), fmiError);
        const fmiReal h = 1.0 / 10.0;
        fmiReal t = -1.5;
        do {
            t += h;
        } while (!(t > -1.0));
        std::vector<ExpectedLog> expected;
        if (logging) {
            expected.push_back({c,
                                kName,
                                fmiOK,
                                "log",
                                "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize "
                                "= %g, newStep = fmi%s",
                                {arg(-1.5), arg(1.0), arg("True")}});
            expected.push_back(
                {c, kName, fmiOK, "log", "fmiDoStep: time event detected at %g", {arg(t)}});
        }
        expected.push_back({c, kName, fmiOK, "log", kNotice, {arg(t)}});
        EXPECT_TRUE(matchAll(expected, logs()));
        EXPECT_EQ(realValues(c)[kEventCount], 9.0);

        // Still Initialized: every later step runs one substep and ends again.
        ASSERT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiOK);
        clearLogs();
        EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiError);
        EXPECT_TRUE(matchAll({{c, kName, fmiOK, "log", kNotice, {arg(0.1)}}}, logs()));
        EXPECT_EQ(realValues(c)[kEventCount], 10.0);
        // A substep without an event still ends the step.
        clearLogs();
        EXPECT_EQ(fmi().doStep(c, -5.0, 1.0, fmiTrue), fmiError);
        EXPECT_TRUE(matchAll({{c, kName, fmiOK, "log", kNotice, {arg(-4.9)}}}, logs()));
        EXPECT_EQ(realValues(c)[kEventCount], 10.0);

        // A reset and a new initialization clear the request.
        ASSERT_EQ(fmi().resetSlave(c), fmiOK);
        setReal(c, kRequestTermination, 0.0);
        ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
        EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
        EXPECT_EQ(realValues(c)[kEventCount], 20.0);
        terminateAndFree(c);
    }
}

using TerminusFmi3 = Fmi3SlaveTest;

TEST_F(TerminusFmi3, TheRequestRefusesTheCallThatComputes) {
    const fmi3ValueReference request = kRequestTermination;
    const fmi3Float64 on = 1.0;
    const std::vector<fmi3Float64> requesting = {1.0, 0.0};
    // Co-simulation: steps run every substep, traced or not, until the request.
    for (const fmi3Boolean logging : {fmi3False, fmi3True}) {
        const fmi3Instance instance = stepMode();
        ASSERT_EQ(fmi3().setDebugLogging(instance, logging, 0, nullptr), fmi3OK);
        fmi3Float64 reached = 0.0;
        ASSERT_EQ(doStep(instance, 0.0, 1.0, &reached), fmi3OK);
        EXPECT_TRUE(sameBits(stepEnd(0.0, 1.0), reached));
        EXPECT_EQ(values3(instance)[kEventCount], 11.0);
        ASSERT_EQ(fmi3().setFloat64(instance, &request, 1, &on, 1), fmi3OK);
        clearLogs();
        EXPECT_EQ(doStep(instance, 1.0, 1.0), fmi3Error);
        ASSERT_FALSE(logs().empty());
        EXPECT_EQ(logs().back().text, "fmi3DoStep: The model requested termination at t=1.1.");
        fmi3().freeInstance(instance);
    }
    // The end of initialization, in either interface, and a Model Exchange read.
    for (const bool modelExchange : {false, true}) {
        const fmi3Instance instance = modelExchange ? instantiateModelExchange() : instantiate3();
        ASSERT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.5, fmi3False, 0.0),
                  fmi3OK);
        setKnowns(instance, requesting);
        clearLogs();
        EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3Error);
        EXPECT_TRUE(
            refusedWith("fmi3ExitInitializationMode: The model requested termination at t=0.5."));
        fmi3().freeInstance(instance);
    }
    const fmi3Instance instance = eventMode();
    setKnowns(instance, requesting);
    clearLogs();
    fmi3Float64 value = 0.0;
    EXPECT_EQ(fmi3().getFloat64(instance, &request, 1, &value, 1), fmi3Error);
    EXPECT_TRUE(refusedWith("fmi3GetFloat64: The model requested termination at t=0."));
    fmi3().freeInstance(instance);
}

using TerminusFmi2 = Fmi2SlaveTest;

// In 2.0 every call that updates refuses once the request is set (the model
// states no derivatives either), in either interface.
TEST_F(TerminusFmi2, TheRequestIsRefusedWhereverItUpdates) {
    const fmi2ValueReference request = kRequestTermination;
    const fmi2ValueReference output = kEventCount;
    const fmi2Real one = 1.0;
    fmi2Real read = 0.0;
    fmi2FMUstate state = nullptr;
    const std::function<fmi2Status(fmi2Component)> updates[] = {
        [&](fmi2Component c) { return fmi2().doStep(c, 0.0, 0.1, fmi2True); },
        [&](fmi2Component c) { return fmi2().getReal(c, &output, 1, &read); },
        [&](fmi2Component c) { return fmi2().getFMUstate(c, &state); },
        [&](fmi2Component c) {
            return fmi2().getDirectionalDerivative(c, &output, 1, &request, 1, &one, &read);
        },
    };
    for (const auto& update : updates) {
        for (const fmi2Type type : {fmi2CoSimulation, fmi2ModelExchange}) {
            const fmi2Component c =
                inState2(type == fmi2ModelExchange ? EventMode : Stepping, type);
            ASSERT_EQ(fmi2().setReal(c, &request, 1, &one), fmi2OK);
            clearLogs();
            if (update(c) != fmi2Error) {
                EXPECT_EQ(type, fmi2CoSimulation);  // reads and FMU states compute in ME only
                fmi2().freeInstance(c);
                continue;
            }
            ASSERT_EQ(logs().size(), 1U);
            EXPECT_EQ(logs()[0].category, "logStatusError");
            fmi2().freeInstance(c);
        }
    }
    const fmi2Component c = inState2(InitializationMode);
    ASSERT_EQ(fmi2().setReal(c, &request, 1, &one), fmi2OK);
    EXPECT_EQ(fmi2().exitInitializationMode(c), fmi2Error);
    fmi2().freeInstance(c);
}
