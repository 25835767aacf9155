// Setting and getting values by value reference: the shared sequence of
// checks, the nvr-is-0 path, the element traces, the partial effect of a
// failing element, and the integer, boolean and string calls that refuse
// every reference.
#include <functional>
#include <limits>

#include "SlaveTest.h"

namespace {

// One of the eight calls with vr and value given by the test; the value
// arrays are large enough for any nvr the tests use.
struct AccessCall {
    const char* name;
    bool isSet;
    std::function<fmiStatus(const FmiFunctions&, fmiComponent, const fmiValueReference*,
                            std::size_t, bool valueIsNull)>
        invoke;
};

const std::vector<AccessCall>& accessCalls() {
    static fmiReal reals[4];
    static fmiInteger integers[4];
    static fmiBoolean booleans[4];
    static fmiString strings[4];
    static const std::vector<AccessCall> calls = {
        {"fmiSetReal", true,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.setReal(c, vr, n, null ? nullptr : reals); }},
        {"fmiSetInteger", true,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.setInteger(c, vr, n, null ? nullptr : integers); }},
        {"fmiSetBoolean", true,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.setBoolean(c, vr, n, null ? nullptr : booleans); }},
        {"fmiSetString", true,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.setString(c, vr, n, null ? nullptr : strings); }},
        {"fmiGetReal", false,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.getReal(c, vr, n, null ? nullptr : reals); }},
        {"fmiGetInteger", false,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.getInteger(c, vr, n, null ? nullptr : integers); }},
        {"fmiGetBoolean", false,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.getBoolean(c, vr, n, null ? nullptr : booleans); }},
        {"fmiGetString", false,
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* vr, std::size_t n,
            bool null) { return f.getString(c, vr, n, null ? nullptr : strings); }},
    };
    return calls;
}

std::string nvrTraceOf(const AccessCall& call) {
    return std::string(call.name) + ": nvr = %d";
}

}  // namespace

using VariableAccess = SlaveTest;

TEST_F(VariableAccess, NoElementsNeedNoArrays) {
    for (const AccessCall& call : accessCalls()) {
        SCOPED_TRACE(call.name);
        const fmiComponent c = instantiate(fmiTrue);
        clearLogs();
        EXPECT_EQ(call.invoke(fmi(), c, nullptr, 0, true), fmiOK);
        std::vector<ExpectedLog> expected;
        if (call.isSet) {
            expected.push_back({c, kName, fmiOK, "log", nvrTraceOf(call), {arg(0)}});
        }
        EXPECT_TRUE(matchAll(expected, logs()));
        EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
        terminateAndFree(c);
    }
}

TEST_F(VariableAccess, StateIsCheckedBeforeTheElementCount) {
    for (const AccessCall& call : accessCalls()) {
        SCOPED_TRACE(call.name);
        const fmiComponent c = initialized();
        ASSERT_EQ(fmi().terminateSlave(c), fmiOK);
        clearLogs();
        const fmiStatus status = call.invoke(fmi(), c, nullptr, 0, true);
        if (call.isSet) {
            EXPECT_EQ(status, fmiError);
            EXPECT_TRUE(matchAll(
                {{c, kName, fmiError, "error", "%s: Illegal call sequence.", {arg(call.name)}}},
                logs()));
            leaveInError(c);
        } else {
            EXPECT_EQ(status, fmiOK);
            EXPECT_TRUE(logs().empty());
            fmi().freeSlaveInstance(c);
        }
    }
}

TEST_F(VariableAccess, NullArraysAreRefusedBeforeAnyTrace) {
    const fmiValueReference vr[] = {0};
    struct Case {
        bool vrIsNull;
        bool valueIsNull;
        const char* named;
    };
    const Case cases[] = {{true, false, "vr[]"}, {false, true, "value[]"}, {true, true, "vr[]"}};
    for (const AccessCall& call : accessCalls()) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(call.name) + " " + test.named);
            const fmiComponent c = instantiate(fmiTrue);
            clearLogs();
            EXPECT_EQ(call.invoke(fmi(), c, test.vrIsNull ? nullptr : vr, 1, test.valueIsNull),
                      fmiError);
            EXPECT_TRUE(matchAll({{c,
                                   kName,
                                   fmiError,
                                   "error",
                                   "%s: Invalid argument %s = NULL.",
                                   {arg(call.name), arg(test.named)}}},
                                 logs()));
            EXPECT_EQ(fmi().getReal(c, nullptr, 0, nullptr), fmiError);
            leaveInError(c);
        }
    }
}

TEST_F(VariableAccess, IntegerBooleanAndStringRefuseTheFirstReference) {
    const fmiValueReference vr[] = {0, 1};
    for (const AccessCall& call : accessCalls()) {
        if (std::string(call.name).find("Real") != std::string::npos) {
            continue;
        }
        for (const fmiBoolean logging : {fmiTrue, fmiFalse}) {
            SCOPED_TRACE(std::string(call.name) + (logging ? " logging" : " quiet"));
            const fmiComponent c = instantiate(logging);
            clearLogs();
            EXPECT_EQ(call.invoke(fmi(), c, vr, 2, false), fmiError);
            std::vector<ExpectedLog> expected;
            if (call.isSet && logging) {
                expected.push_back({c, kName, fmiOK, "log", nvrTraceOf(call), {arg(2)}});
            }
            expected.push_back({c,
                                kName,
                                fmiError,
                                "error",
                                "%s: Illegal value reference %u.",
                                {arg(call.name), arg(0U)}});
            EXPECT_TRUE(matchAll(expected, logs()));
            leaveInError(c);
        }
    }
}

TEST_F(VariableAccess, ReferencesEndBelowTheRealCount) {
    const fmiValueReference count = model().realCount();
    const fmiValueReference highest = count - 1;
    fmiReal value = 2.5;
    const fmiComponent legal = instantiate();
    EXPECT_EQ(fmi().setReal(legal, &highest, 1, &value), fmiOK);
    value = 0.0;
    EXPECT_EQ(fmi().getReal(legal, &highest, 1, &value), fmiOK);
    EXPECT_EQ(value, 2.5);
    ASSERT_EQ(fmi().initializeSlave(legal, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(legal);

    for (const fmiValueReference illegal : {count, count + 1, 4294967295U}) {
        for (const bool isSet : {true, false}) {
            SCOPED_TRACE(std::to_string(illegal) + (isSet ? " set" : " get"));
            const fmiComponent c = instantiate();
            clearLogs();
            const fmiStatus status = isSet ? fmi().setReal(c, &illegal, 1, &value)
                                           : fmi().getReal(c, &illegal, 1, &value);
            EXPECT_EQ(status, fmiError);
            EXPECT_TRUE(matchAll({{c,
                                   kName,
                                   fmiError,
                                   "error",
                                   "%s: Illegal value reference %u.",
                                   {arg(isSet ? "fmiSetReal" : "fmiGetReal"), arg(illegal)}}},
                                 logs()));
            EXPECT_EQ(logs()[0].text, std::string(isSet ? "fmiSetReal" : "fmiGetReal") +
                                          ": Illegal value reference " + std::to_string(illegal) +
                                          ".");
            leaveInError(c);
        }
    }
}

TEST_F(VariableAccess, ElementTracesAndRepeatedReferences) {
    const fmiComponent c = instantiate(fmiTrue);
    const fmiValueReference last = model().realCount() - 1;
    const fmiValueReference vr[] = {0, last, 0};
    const fmiReal values[] = {1.25, -0.1, 3.0e300};
    clearLogs();
    ASSERT_EQ(fmi().setReal(c, vr, 3, values), fmiOK);
    fmiReal read[3] = {};
    ASSERT_EQ(fmi().getReal(c, vr, 3, read), fmiOK);
    EXPECT_TRUE(sameBits({3.0e300, -0.1, 3.0e300}, {read[0], read[1], read[2]}));
    const char* set = "fmiSetReal: #r%d# = %.16g";
    const char* get = "fmiGetReal: #r%u# = %.16g";
    EXPECT_TRUE(matchAll({{c, kName, fmiOK, "log", "fmiSetReal: nvr = %d", {arg(3)}},
                          {c, kName, fmiOK, "log", set, {arg(0), arg(1.25)}},
                          {c, kName, fmiOK, "log", set, {arg(static_cast<int>(last)), arg(-0.1)}},
                          {c, kName, fmiOK, "log", set, {arg(0), arg(3.0e300)}},
                          {c, kName, fmiOK, "log", get, {arg(0U), arg(3.0e300)}},
                          {c, kName, fmiOK, "log", get, {arg(last), arg(-0.1)}},
                          {c, kName, fmiOK, "log", get, {arg(0U), arg(3.0e300)}}},
                         logs()));
    ASSERT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiOK);
    clearLogs();
    ASSERT_EQ(fmi().setReal(c, vr, 3, values), fmiOK);
    ASSERT_EQ(fmi().getReal(c, vr, 3, read), fmiOK);
    EXPECT_TRUE(logs().empty());
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(c);
}

TEST_F(VariableAccess, FailingElementKeepsTheEarlierOnes) {
    const fmiValueReference illegal = model().realCount();
    const fmiValueReference vr[] = {1, illegal, 0};
    const fmiReal values[] = {-7.5, 8.0, 9.0};
    const fmiComponent setter = instantiate(fmiTrue);
    clearLogs();
    EXPECT_EQ(fmi().setReal(setter, vr, 3, values), fmiError);
    EXPECT_TRUE(
        matchAll({{setter, kName, fmiOK, "log", "fmiSetReal: nvr = %d", {arg(3)}},
                  {setter, kName, fmiOK, "log", "fmiSetReal: #r%d# = %.16g", {arg(1), arg(-7.5)}},
                  {setter,
                   kName,
                   fmiError,
                   "error",
                   "%s: Illegal value reference %u.",
                   {arg("fmiSetReal"), arg(illegal)}}},
                 logs()));
    leaveInError(setter);

    const fmiComponent getter = instantiate();
    setReal(getter, 1, -7.5);
    fmiReal read[] = {11.0, 12.0, 13.0};
    EXPECT_EQ(fmi().getReal(getter, vr, 3, read), fmiError);
    EXPECT_TRUE(sameBits({-7.5, 12.0, 13.0}, {read[0], read[1], read[2]}));
    leaveInError(getter);
}

TEST_F(VariableAccess, ValuesPassBitForBit) {
    const std::vector<fmiReal> special = {
        -0.0,
        std::numeric_limits<fmiReal>::denorm_min(),
        -std::numeric_limits<fmiReal>::infinity(),
        fromBits(0x7FF8000000000123),  // quiet NaN with a payload
        fromBits(0xFFF0000000000001),  // signalling NaN, sign set
        std::numeric_limits<fmiReal>::max(),
    };
    const fmiComponent c = instantiate();
    for (const fmiReal value : special) {
        for (fmiValueReference vr = 0; vr < model().realCount(); ++vr) {
            ASSERT_EQ(fmi().setReal(c, &vr, 1, &value), fmiOK);
            fmiReal read = 1.0;
            ASSERT_EQ(fmi().getReal(c, &vr, 1, &read), fmiOK);
            EXPECT_TRUE(sameBits(value, read)) << "vr " << vr;
        }
    }
    // Values set before initialization are still there afterwards.
    const std::vector<fmiReal> before = realValues(c);
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    EXPECT_TRUE(sameBits(before, realValues(c)));
    terminateAndFree(c);
}
