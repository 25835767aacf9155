// The termination notice of fmiDoStep, through a model that requests it:
// logged whatever the logging flag, the step ends part way with fmiError,
// and the state stays Initialized until a reset clears the request.
#include "SlaveTest.h"

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
