// The storage of integer, boolean and string variables and of the auxiliary
// flags, which no deliverable has: the test model declares one of each, so
// that the runtime's code for them is not only ever refused. Values pass
// unchanged, references at or above the count are refused like real ones,
// and every array is allocated and freed with the instance.
#include "SlaveInstance.h"
#include "SlaveTest.h"

namespace {

constexpr const char* kGuid = "{00000000-0000-4000-8000-000000000000}";

}  // namespace

class TerminusVariablesTest : public SlaveTest {
  protected:
    void storesAndReadsBack(fmiBoolean logging) {
        const fmiComponent c = instantiate(logging);
        const fmiValueReference vr[] = {0, 0};
        // Zero-filled until set.
        fmiInteger integers[] = {7, 7};
        fmiBoolean booleans[] = {7, 7};
        fmiString strings[] = {"x", "x"};
        EXPECT_EQ(fmi().getInteger(c, vr, 1, integers), fmiOK);
        EXPECT_EQ(fmi().getBoolean(c, vr, 1, booleans), fmiOK);
        EXPECT_EQ(fmi().getString(c, vr, 1, strings), fmiOK);
        EXPECT_EQ(integers[0], 0);
        EXPECT_EQ(booleans[0], fmiFalse);
        EXPECT_EQ(strings[0], nullptr);

        // Twice the same reference: the later value remains.
        const fmiInteger setIntegers[] = {-5, 2147483647};
        const fmiBoolean setBooleans[] = {fmiTrue, static_cast<fmiBoolean>(-2)};
        static const char kText[] = "kept by pointer";
        const fmiString setStrings[] = {"first", kText};
        clearLogs();
        ASSERT_EQ(fmi().setInteger(c, vr, 2, setIntegers), fmiOK);
        ASSERT_EQ(fmi().setBoolean(c, vr, 2, setBooleans), fmiOK);
        ASSERT_EQ(fmi().setString(c, vr, 2, setStrings), fmiOK);
        // Only the nvr traces: the elements of these types are not traced.
        std::vector<ExpectedLog> traces;
        if (logging) {
            traces = {{c, kName, fmiOK, "log", "fmiSetInteger: nvr = %d", {arg(2)}},
                      {c, kName, fmiOK, "log", "fmiSetBoolean: nvr = %d", {arg(2)}},
                      {c, kName, fmiOK, "log", "fmiSetString: nvr = %d", {arg(2)}}};
        }
        EXPECT_TRUE(matchAll(traces, logs()));

        ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
        ASSERT_EQ(fmi().terminateSlave(c), fmiOK);
        clearLogs();
        // Readable after termination, and no element trace either.
        EXPECT_EQ(fmi().getInteger(c, vr, 2, integers), fmiOK);
        EXPECT_EQ(fmi().getBoolean(c, vr, 2, booleans), fmiOK);
        EXPECT_EQ(fmi().getString(c, vr, 2, strings), fmiOK);
        EXPECT_TRUE(logs().empty());
        EXPECT_EQ(integers[0], 2147483647);
        EXPECT_EQ(integers[1], 2147483647);
        EXPECT_EQ(booleans[0], static_cast<fmiBoolean>(-2));
        EXPECT_EQ(strings[0], kText);
        EXPECT_EQ(strings[1], kText);
        fmi().freeSlaveInstance(c);
    }
};

using TerminusVariables = TerminusVariablesTest;

TEST_F(TerminusVariables, EveryArrayHasItsDeclaredLength) {
    const char* name = "ledger";
    const fmiComponent c = instantiate(fmiFalse, name);
    const auto requests = recordingAllocator().requests();
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {
        {1, sizeof(SlaveInstance)}, {2, sizeof(fmiReal)},   {1, sizeof(fmiInteger)},
        {1, sizeof(fmiBoolean)},    {1, sizeof(fmiString)}, {1, 1},
        {std::strlen(name) + 1, 1},
    };
    ASSERT_EQ(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(requests[i].nobj, expected[i].first) << "request " << i + 1;
        EXPECT_EQ(requests[i].size, expected[i].second) << "request " << i + 1;
    }
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(c);
    EXPECT_EQ(recordingAllocator().frees().size(), 7U);
}

TEST_F(TerminusVariables, ValuesPassUnchanged) {
    for (const fmiBoolean logging : {fmiFalse, fmiTrue}) {
        SCOPED_TRACE(logging ? "logging" : "quiet");
        storesAndReadsBack(logging);
    }
}

// The first element passes and is stored or copied, the second is refused
// and ends the call, whatever the logging flag.
TEST_F(TerminusVariables, ReferenceAtTheCountIsRefused) {
    const fmiValueReference vr[] = {0, 1, 0};
    using Access = fmiStatus (*)(const FmiFunctions&, fmiComponent, const fmiValueReference*);
    struct Case {
        const char* function;
        Access access;
    };
    const Case cases[] = {
        {"fmiSetInteger",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             const fmiInteger values[] = {3, 4, 5};
             return f.setInteger(c, v, 3, values);
         }},
        {"fmiSetBoolean",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             const fmiBoolean values[] = {fmiTrue, fmiTrue, fmiTrue};
             return f.setBoolean(c, v, 3, values);
         }},
        {"fmiSetString",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             const fmiString values[] = {"a", "b", "c"};
             return f.setString(c, v, 3, values);
         }},
        {"fmiGetInteger",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             fmiInteger values[] = {9, 9, 9};
             const fmiStatus status = f.getInteger(c, v, 3, values);
             // The first element was copied, the rest untouched.
             EXPECT_EQ(values[0], 0);
             EXPECT_EQ(values[1], 9);
             EXPECT_EQ(values[2], 9);
             return status;
         }},
        {"fmiGetBoolean",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             fmiBoolean values[] = {9, 9, 9};
             const fmiStatus status = f.getBoolean(c, v, 3, values);
             EXPECT_EQ(values[0], fmiFalse);
             EXPECT_EQ(values[1], 9);
             EXPECT_EQ(values[2], 9);
             return status;
         }},
        {"fmiGetString",
         [](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v) {
             fmiString values[] = {"x", "x", "x"};
             const fmiStatus status = f.getString(c, v, 3, values);
             EXPECT_EQ(values[0], nullptr);
             EXPECT_STREQ(values[1], "x");
             EXPECT_STREQ(values[2], "x");
             return status;
         }},
    };
    for (const fmiBoolean logging : {fmiFalse, fmiTrue}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(test.function) + (logging ? ", logging" : ""));
            const fmiComponent c = instantiate(logging);
            clearLogs();
            EXPECT_EQ(test.access(fmi(), c, vr), fmiError);
            std::vector<ExpectedLog> expected;
            if (logging && test.function[3] == 'S') {
                expected.push_back(
                    {c, kName, fmiOK, "log", std::string(test.function) + ": nvr = %d", {arg(3)}});
            }
            expected.push_back({c,
                                kName,
                                fmiError,
                                "error",
                                "%s: Illegal value reference %u.",
                                {arg(test.function), arg(1U)}});
            EXPECT_TRUE(matchAll(expected, logs()));
            leaveInError(c);
        }
    }
    // The whole unsigned range is compared.
    clearLogs();
    const fmiComponent c = instantiateRaw(kName, kGuid, recordingCallbacks(), fmiFalse);
    ASSERT_NE(c, nullptr);
    const fmiValueReference beyond[] = {0xffffffffU};
    fmiString values[] = {"untouched"};
    EXPECT_EQ(fmi().getString(c, beyond, 1, values), fmiError);
    EXPECT_STREQ(values[0], "untouched");
    leaveInError(c);
}
