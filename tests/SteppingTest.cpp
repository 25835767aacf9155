// The communication step: ten substeps of rounded additions, time events
// strictly after the armed time, the zero step, the traces; and the calls
// around it that always refuse: cancelling, status queries, derivatives.
#include <cmath>
#include <limits>

#include "SlaveTest.h"

namespace {

constexpr fmiReal kNaN = std::numeric_limits<fmiReal>::quiet_NaN();

// The substep times at which an event fires, computed as the slave must:
// ten successive rounded additions, each compared strictly with -1.0.
std::vector<fmiReal> expectedEventTimes(const ModelFacts& model, fmiReal start, fmiReal step) {
    std::vector<fmiReal> times;
    if (step == 0.0) {
        return times;
    }
    const fmiReal h = model.substep(step);
    fmiReal t = start;
    for (int i = 0; i < 10; ++i) {
        t += h;
        if (t > -1.0) {
            times.push_back(t);
        }
    }
    return times;
}

std::vector<fmiReal> eventTimesIn(const std::vector<LogRecord>& records) {
    std::vector<fmiReal> times;
    for (const auto& record : records) {
        if (record.format == "fmiDoStep: time event detected at %g") {
            times.push_back(record.arguments.at(0).real);
        }
    }
    return times;
}

}  // namespace

using Stepping = SlaveTest;

TEST_F(Stepping, TimeEventsFireStrictlyAfterTheArmedTime) {
    const bool multiplies = model().multipliesSubstep;
    struct Case {
        fmiReal start;
        fmiReal step;
        std::size_t events;
    };
    const std::vector<Case> cases = {
        {-1.5, 5.0, 9},  // the first substep lands exactly on -1.0
        {-7.0, 5.0, 0},
        {-6.0, 5.0, 0},  // the last substep lands exactly on -1.0
        {-2.0, 1.0, 1},  // ends at -0.9999999999999992
        {-2.6, 1.6, multiplies ? 1U : 0U},
        {0.0, -1.0, 10},  // time runs backwards, still above -1.0
        {0.0, -2.0, 4},
        {0.0, kNaN, 0},
        {kNaN, 1.0, 0},
        {0.0, 0.0, 0},
        {0.0, -0.0, 0},
        {10.0, 1.0, 10},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("from " + std::to_string(test.start) + " by " + std::to_string(test.step));
        const fmiComponent c = initialized(fmiTrue);
        clearLogs();
        ASSERT_EQ(fmi().doStep(c, test.start, test.step, fmiTrue), fmiOK);
        const std::vector<fmiReal> times = eventTimesIn(logs());
        EXPECT_EQ(times.size(), test.events);
        EXPECT_TRUE(sameBits(expectedEventTimes(model(), test.start, test.step), times));
        // The call trace comes first, then one trace per event.
        EXPECT_EQ(logs().size(), 1 + test.events);
        terminateAndFree(c);
    }
}

TEST_F(Stepping, TimeIsTheSumOfTenRoundedSubsteps) {
    const fmiComponent c = initialized(fmiTrue);
    struct Case {
        fmiReal step;
        fmiReal lastTime;
    };
    const std::vector<Case> cases = {
        {1.0, 0.9999999999999999},
        {0.1, model().multipliesSubstep ? 0.10000000000000003 : 0.09999999999999999},
    };
    for (const Case& test : cases) {
        clearLogs();
        ASSERT_EQ(fmi().doStep(c, 0.0, test.step, fmiTrue), fmiOK);
        const auto times = eventTimesIn(logs());
        ASSERT_EQ(times.size(), 10U);
        EXPECT_TRUE(sameBits(test.lastTime, times.back()));
    }
    // Every call starts from its own communication point, not from the
    // time the slave reached before.
    clearLogs();
    ASSERT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
    const auto first = eventTimesIn(logs());
    clearLogs();
    ASSERT_EQ(fmi().doStep(c, 0.0, 1.0, fmiFalse), fmiOK);
    EXPECT_TRUE(sameBits(first, eventTimesIn(logs())));
    terminateAndFree(c);
}

TEST_F(Stepping, CallTraceShowsItsArgumentsAndNewStep) {
    const fmiComponent c = initialized(fmiTrue);
    const char* format =
        "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize = %g, newStep = fmi%s";
    struct Case {
        fmiBoolean newStep;
        const char* shown;
    };
    for (const Case& test : {Case{fmiTrue, "True"}, Case{fmiFalse, "False"}, Case{2, "True"},
                             Case{static_cast<fmiBoolean>(-1), "True"}}) {
        clearLogs();
        ASSERT_EQ(fmi().doStep(c, 0.25, 0.0, test.newStep), fmiOK);
        EXPECT_TRUE(matchAll(
            {{c, kName, fmiOK, "log", format, {arg(0.25), arg(0.0), arg(test.shown)}}}, logs()));
    }
    terminateAndFree(c);
}

TEST_F(Stepping, ZeroStepComputesNothing) {
    const fmiComponent c = initialized();
    const fmiValueReference lastInput = model().firstOutput - 1;
    setReal(c, lastInput, 0.375);
    for (const fmiReal zero : {0.0, -0.0}) {
        const std::vector<fmiReal> before = realValues(c);
        ASSERT_EQ(fmi().doStep(c, 0.0, zero, fmiTrue), fmiOK);
        EXPECT_TRUE(sameBits(before, realValues(c)));
    }
    terminateAndFree(c);
}

TEST_F(Stepping, StepWithoutEventsKeepsTheOutputs) {
    const fmiComponent c = initialized();
    std::vector<fmiReal> values = model().freshValues();
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = 0.5 + static_cast<fmiReal>(i);
    }
    setReals(c, values);
    for (const auto& [start, step] : {std::pair{0.0, kNaN}, {kNaN, 1.0}, {-7.0, 5.0}}) {
        ASSERT_EQ(fmi().doStep(c, start, step, fmiTrue), fmiOK);
        EXPECT_TRUE(sameBits(values, realValues(c)));
    }
    ASSERT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
    model().equation(values);
    EXPECT_TRUE(sameBits(values, realValues(c)));
    terminateAndFree(c);
}

TEST_F(Stepping, QuietWhileLoggingIsOff) {
    const fmiComponent c = initialized();
    const std::size_t requests = recordingAllocator().requestCount();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(fmi().doStep(c, static_cast<fmiReal>(i), 1.0, fmiTrue), fmiOK);
    }
    EXPECT_TRUE(logs().empty());
    EXPECT_EQ(recordingAllocator().requestCount(), requests);
    terminateAndFree(c);
}

TEST_F(Stepping, CancelStepAlwaysRefusesAndKeepsTheState) {
    for (const fmiBoolean logging : {fmiTrue, fmiFalse}) {
        const fmiComponent c = initialized(logging);
        clearLogs();
        EXPECT_EQ(fmi().cancelStep(c), fmiError);
        std::vector<ExpectedLog> expected;
        if (logging) {
            expected.push_back({c, kName, fmiOK, "log", "fmiCancelStep", {}});
        }
        expected.push_back({nullptr,
                            kName,
                            fmiError,
                            "error",
                            "fmiCancelStep: Can be called when fmiDoStep returned fmiPending. "
                            "This is not the case.",
                            {}});
        EXPECT_TRUE(matchAll(expected, logs()));
        EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
        terminateAndFree(c);
    }
}

TEST_F(Stepping, StatusQueriesAnswerNoKindAndWriteNothing) {
    struct Query {
        const char* name;
        std::function<fmiStatus(const FmiFunctions&, fmiComponent, fmiStatusKind, bool&)> invoke;
    };
    // Each query gets a sentinel value and reports whether it was changed.
    const std::vector<Query> queries = {
        {"fmiGetStatus",
         [](const FmiFunctions& f, fmiComponent c, fmiStatusKind s, bool& untouched) {
             fmiStatus value = fmiPending;
             const fmiStatus status = f.getStatus(c, s, &value);
             untouched = value == fmiPending;
             return status;
         }},
        {"fmiGetRealStatus",
         [](const FmiFunctions& f, fmiComponent c, fmiStatusKind s, bool& untouched) {
             fmiReal value = -12.5;
             const fmiStatus status = f.getRealStatus(c, s, &value);
             untouched = bitsOf(value) == bitsOf(-12.5);
             return status;
         }},
        {"fmiGetIntegerStatus",
         [](const FmiFunctions& f, fmiComponent c, fmiStatusKind s, bool& untouched) {
             fmiInteger value = 4242;
             const fmiStatus status = f.getIntegerStatus(c, s, &value);
             untouched = value == 4242;
             return status;
         }},
        {"fmiGetBooleanStatus",
         [](const FmiFunctions& f, fmiComponent c, fmiStatusKind s, bool& untouched) {
             fmiBoolean value = 42;
             const fmiStatus status = f.getBooleanStatus(c, s, &value);
             untouched = value == 42;
             return status;
         }},
        {"fmiGetStringStatus",
         [](const FmiFunctions& f, fmiComponent c, fmiStatusKind s, bool& untouched) {
             const char sentinel[] = "unchanged";
             fmiString value = sentinel;
             const fmiStatus status = f.getStringStatus(c, s, &value);
             untouched = value == sentinel;
             return status;
         }},
    };
    struct Kind {
        int value;
        const char* name;
        const char* refusal;  // null: no message at all
    };
    const std::vector<Kind> kinds = {
        {0, "fmiDoStepStatus",
         "%s: Can be called with fmiDoStepStatus when fmiDoStep returned fmiPending. This is "
         "not the case."},
        {1, "fmiPendingStatus",
         "%s: Can be called with fmiPendingStatus when fmiDoStep returned fmiPending. This is "
         "not the case."},
        {2, "fmiLastSuccessfulTime",
         "%s: Can be called with fmiLastSuccessfulTime when fmiDoStep returned fmiDiscard. This "
         "is not the case."},
        {3, "unknown", nullptr},
        {-1, "unknown", nullptr},
        {1 << 30, "unknown", nullptr},
    };
    for (const Query& query : queries) {
        for (const Kind& kind : kinds) {
            for (const fmiBoolean logging : {fmiTrue, fmiFalse}) {
                SCOPED_TRACE(std::string(query.name) + " kind " + std::to_string(kind.value));
                // Allowed before initialization as well as after.
                const fmiComponent c = instantiate(logging);
                clearLogs();
                bool untouched = false;
                EXPECT_EQ(query.invoke(fmi(), c, static_cast<fmiStatusKind>(kind.value), untouched),
                          fmiError);
                EXPECT_TRUE(untouched);
                std::vector<ExpectedLog> expected;
                if (logging) {
                    expected.push_back({c,
                                        kName,
                                        fmiOK,
                                        "log",
                                        "%s: fmiStatusKind = %s",
                                        {arg(query.name), arg(kind.name)}});
                }
                if (kind.refusal != nullptr) {
                    expected.push_back(
                        {nullptr, kName, fmiError, "error", kind.refusal, {arg(query.name)}});
                }
                EXPECT_TRUE(matchAll(expected, logs()));
                EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
                terminateAndFree(c);
            }
        }
    }
}

TEST_F(Stepping, DerivativeCallsAreIgnoredWithAWarning) {
    const fmiComponent c = initialized(fmiTrue);
    const std::vector<fmiReal> before = realValues(c);
    const fmiValueReference vr[] = {0, 1, 2};
    const fmiInteger order[] = {1, 1, 1};
    const fmiReal inputs[] = {5.0, 6.0, 7.0};
    clearLogs();
    EXPECT_EQ(fmi().setRealInputDerivatives(c, vr, 3, order, inputs), fmiWarning);
    fmiReal outputs[] = {5.0, 6.0, 7.0, 8.0};
    EXPECT_EQ(fmi().getRealOutputDerivatives(c, vr, 3, order, outputs), fmiWarning);
    EXPECT_TRUE(sameBits({0.0, 0.0, 0.0, 8.0}, {outputs[0], outputs[1], outputs[2], outputs[3]}));
    EXPECT_EQ(fmi().getRealOutputDerivatives(c, nullptr, 0, nullptr, nullptr), fmiWarning);
    const char* setWarning =
        "fmiSetRealInputDerivatives: ignoring function call. This model cannot interpolate "
        "inputs: canInterpolateInputs=\"fmiFalse\"";
    const char* getWarning =
        "fmiGetRealOutputDerivatives: ignoring function call. This model cannot compute "
        "derivatives of outputs: MaxOutputDerivativeOrder=\"0\"";
    EXPECT_TRUE(
        matchAll({{c, kName, fmiOK, "log", "fmiSetRealInputDerivatives: nvr= %d", {arg(3)}},
                  {nullptr, kName, fmiError, "warning", setWarning, {}},
                  {c, kName, fmiOK, "log", "fmiGetRealOutputDerivatives: nvr= %d", {arg(3)}},
                  {nullptr, kName, fmiError, "warning", getWarning, {}},
                  {c, kName, fmiOK, "log", "fmiGetRealOutputDerivatives: nvr= %d", {arg(0)}},
                  {nullptr, kName, fmiError, "warning", getWarning, {}}},
                 logs()));
    EXPECT_TRUE(sameBits(before, realValues(c)));
    terminateAndFree(c);
}

TEST_F(Stepping, OutputDerivativesIntoANullArrayAreRefused) {
    const fmiComponent c = initialized(fmiTrue);
    clearLogs();
    EXPECT_EQ(fmi().getRealOutputDerivatives(c, nullptr, 2, nullptr, nullptr), fmiError);
    EXPECT_TRUE(
        matchAll({{c, kName, fmiOK, "log", "fmiGetRealOutputDerivatives: nvr= %d", {arg(2)}},
                  {c,
                   kName,
                   fmiError,
                   "error",
                   "%s: Invalid argument %s = NULL.",
                   {arg("fmiGetRealOutputDerivatives"), arg("value[]")}}},
                 logs()));
    EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiError);
    leaveInError(c);
}
