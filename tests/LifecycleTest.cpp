// Creating, initializing, resetting, terminating and freeing a slave: the
// refusals of fmiInstantiateSlave, the seven allocations and seven frees, and
// the traces of each call.
#include <cstring>

#include "SlaveInstance.h"
#include "SlaveTest.h"

namespace {

constexpr const char* kInstantiate = "fmiInstantiateSlave";

fmiCallbackFunctions withoutLogger() {
    fmiCallbackFunctions functions = recordingCallbacks();
    functions.logger = nullptr;
    return functions;
}

fmiCallbackFunctions withoutAllocate() {
    fmiCallbackFunctions functions = recordingCallbacks();
    functions.allocateMemory = nullptr;
    return functions;
}

fmiCallbackFunctions withoutFree() {
    fmiCallbackFunctions functions = recordingCallbacks();
    functions.freeMemory = nullptr;
    return functions;
}

std::string withOneByteChanged(std::string text, std::size_t index) {
    text[index] = text[index] == 'a' ? 'b' : 'a';
    return text;
}

std::string upperCased(std::string text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'f') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
    }
    return text;
}

}  // namespace

using Lifecycle = SlaveTest;

TEST_F(Lifecycle, VersionAndTypesPlatformAreConstants) {
    EXPECT_STREQ(fmi().getVersion(), "1.0");
    EXPECT_STREQ(fmi().getTypesPlatform(), "standard32");
    const fmiComponent c = initialized();
    terminateAndFree(c);
    EXPECT_STREQ(fmi().getVersion(), "1.0");
    EXPECT_STREQ(fmi().getTypesPlatform(), "standard32");
}

TEST_F(Lifecycle, InstantiationRefusalsAllocateNothingAndLogOnce) {
    const std::string guid = model().guid;
    const std::string noBraces = guid.substr(1, guid.size() - 2);
    struct Case {
        const char* what;
        fmiCallbackFunctions functions;
        const char* name;
        std::string guid;
        bool guidIsNull;
        std::vector<ExpectedLog> logs;
    };
    const auto refusal = [](const char* name, const char* format, std::vector<Expected> rest) {
        std::vector<Expected> arguments{arg(kInstantiate)};
        arguments.insert(arguments.end(), rest.begin(), rest.end());
        return std::vector<ExpectedLog>{{nullptr, name, fmiError, "error", format, arguments}};
    };
    const auto wrongGuid = [&](const std::string& given) {
        return refusal("slave", "%s: Wrong GUID %s. Expected %s.",
                       {arg(given.c_str()), arg(guid.c_str())});
    };
    const std::string upper = upperCased(guid);
    const std::string changedFirst = withOneByteChanged(guid, 1);
    const std::string changedLast = withOneByteChanged(guid, guid.size() - 2);
    const std::string longer = guid + " ";
    const std::string shorter = guid.substr(0, guid.size() - 1);
    std::vector<Case> cases = {
        {"null logger", withoutLogger(), "slave", guid, false, {}},
        {"null allocateMemory", withoutAllocate(), "slave", guid, false,
         refusal("slave", "%s: Missing callback function.", {})},
        {"null freeMemory", withoutFree(), "slave", guid, false,
         refusal("slave", "%s: Missing callback function.", {})},
        {"callbacks checked before the name", withoutAllocate(), nullptr, guid, false,
         refusal(nullptr, "%s: Missing callback function.", {})},
        {"null name", recordingCallbacks(), nullptr, guid, false,
         refusal(nullptr, "%s: Missing instance name.", {})},
        {"empty name", recordingCallbacks(), "", guid, false,
         refusal("", "%s: Missing instance name.", {})},
        {"GUID without braces", recordingCallbacks(), "slave", noBraces, false,
         wrongGuid(noBraces)},
        {"first digit differs", recordingCallbacks(), "slave", changedFirst, false,
         wrongGuid(changedFirst)},
        {"last digit differs", recordingCallbacks(), "slave", changedLast, false,
         wrongGuid(changedLast)},
        {"GUID longer", recordingCallbacks(), "slave", longer, false, wrongGuid(longer)},
        {"GUID shorter", recordingCallbacks(), "slave", shorter, false, wrongGuid(shorter)},
        {"empty GUID", recordingCallbacks(), "slave", "", false, wrongGuid("")},
        {"null GUID", recordingCallbacks(), "slave", "", true,
         refusal("slave", "%s: Invalid argument %s = NULL.", {arg("fmuGUID")})},
    };
    // A GUID of digits alone has no other case.
    if (upper != guid) {
        cases.push_back(
            {"upper-case GUID", recordingCallbacks(), "slave", upper, false, wrongGuid(upper)});
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        clearLogs();
        recordingAllocator().reset();
        const fmiComponent c = instantiateRaw(
            test.name, test.guidIsNull ? nullptr : test.guid.c_str(), test.functions, fmiTrue);
        EXPECT_EQ(c, nullptr);
        EXPECT_TRUE(recordingAllocator().requests().empty());
        EXPECT_TRUE(matchAll(test.logs, logs()));
    }
}

TEST_F(Lifecycle, NullStepFinishedIsAccepted) {
    fmiCallbackFunctions functions = recordingCallbacks();
    functions.stepFinished = nullptr;
    const fmiComponent c = instantiateRaw(kName, model().guid.c_str(), functions, fmiFalse);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
    terminateAndFree(c);
}

TEST_F(Lifecycle, SevenAllocationsInOrderAndSevenFreesInOrder) {
    const char* name = "front_left";
    const fmiComponent c = instantiate(fmiFalse, name);
    const auto requests = recordingAllocator().requests();
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {
        {1, sizeof(SlaveInstance)}, {model().realCount(), sizeof(fmiReal)},
        {0, sizeof(fmiInteger)},    {0, sizeof(fmiBoolean)},
        {0, sizeof(fmiString)},     {0, 1},
        {std::strlen(name) + 1, 1},
    };
    ASSERT_EQ(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(requests[i].nobj, expected[i].first) << "request " << i + 1;
        EXPECT_EQ(requests[i].size, expected[i].second) << "request " << i + 1;
    }
    EXPECT_EQ(static_cast<void*>(c), requests[0].result);

    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(c);
    const std::vector<void*> expectedFrees = {
        requests[6].result, requests[1].result, requests[2].result, requests[3].result,
        requests[4].result, requests[5].result, requests[0].result};
    EXPECT_EQ(recordingAllocator().frees(), expectedFrees);
}

TEST_F(Lifecycle, FailedAllocationReturnsEveryObtainedBlock) {
    for (std::size_t k = 1; k <= 7; ++k) {
        SCOPED_TRACE("failing request " + std::to_string(k));
        clearLogs();
        recordingAllocator().reset();
        recordingAllocator().failRequest(k);
        EXPECT_EQ(instantiateRaw(kName, model().guid.c_str(), recordingCallbacks(), fmiTrue),
                  nullptr);
        // The record comes first and alone; the six blocks are all requested.
        EXPECT_EQ(recordingAllocator().requests().size(), k == 1 ? 1U : 7U);
        EXPECT_TRUE(recordingAllocator().liveBlocks().empty());
        EXPECT_TRUE(matchAll(
            {{nullptr, kName, fmiError, "error", "%s: Out of memory.", {arg(kInstantiate)}}},
            logs()));
    }
}

TEST_F(Lifecycle, AllocatorRefusingZeroBytesCannotInstantiate) {
    recordingAllocator().failZeroByteRequests(true);
    EXPECT_EQ(instantiateRaw(kName, model().guid.c_str(), recordingCallbacks(), fmiFalse), nullptr);
    EXPECT_EQ(recordingAllocator().requests().size(), 7U);
    EXPECT_TRUE(recordingAllocator().liveBlocks().empty());
    EXPECT_TRUE(matchAll(
        {{nullptr, kName, fmiError, "error", "%s: Out of memory.", {arg(kInstantiate)}}}, logs()));
}

TEST_F(Lifecycle, InstantiationTracesTheGuidOnlyWithLoggingOn) {
    const std::string guid = model().guid;
    const fmiComponent quiet = instantiate(fmiFalse);
    EXPECT_TRUE(logs().empty());
    const fmiComponent loud = instantiate(fmiTrue, "loud");
    EXPECT_TRUE(matchAll(
        {{nullptr, "loud", fmiOK, "log", "%s: GUID=%s", {arg(kInstantiate), arg(guid.c_str())}}},
        logs()));
    for (const fmiComponent c : {quiet, loud}) {
        ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
        terminateAndFree(c);
    }
}

TEST_F(Lifecycle, InstanceKeepsItsOwnCopyOfTheName) {
    char name[] = "rear_axle";
    const fmiComponent c = instantiate(fmiTrue, name);
    std::memset(name, 'x', sizeof name - 1);
    clearLogs();
    EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    ASSERT_EQ(logs().size(), 1U);
    EXPECT_EQ(logs()[0].instanceName, "rear_axle");
    terminateAndFree(c);
}

TEST_F(Lifecycle, FreshInstanceHoldsTheStartValues) {
    const fmiComponent c = instantiate();
    EXPECT_TRUE(sameBits(model().freshValues(), realValues(c)));
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    // Initialization computes nothing.
    EXPECT_TRUE(sameBits(model().freshValues(), realValues(c)));
    terminateAndFree(c);
}

TEST_F(Lifecycle, TracesOfAWholeLife) {
    const fmiComponent c = instantiate(fmiTrue);
    clearLogs();
    // The tolerance values are constants, whatever the master passes.
    ASSERT_EQ(fmi().initializeSlave(c, 3.5, fmiTrue, 9.0), fmiOK);
    ASSERT_EQ(fmi().resetSlave(c), fmiOK);
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    ASSERT_EQ(fmi().terminateSlave(c), fmiOK);
    fmi().freeSlaveInstance(c);
    const std::vector<ExpectedLog> expected = {
        {c,
         kName,
         fmiOK,
         "log",
         "%s: toleranceControlled=%d relativeTolerance=%g",
         {arg("fmiInitializeSlave"), arg(0), arg(0.0)}},
        {c, kName, fmiOK, "log", "fmiResetSlave", {}},
        {c,
         kName,
         fmiOK,
         "log",
         "%s: toleranceControlled=%d relativeTolerance=%g",
         {arg("fmiInitializeSlave"), arg(0), arg(0.0)}},
        {c, kName, fmiOK, "log", "fmiTerminateSlave", {}},
        {c, kName, fmiOK, "log", "fmiFreeSlaveInstance", {}},
    };
    EXPECT_TRUE(matchAll(expected, logs()));
}

TEST_F(Lifecycle, SetDebugLoggingTracesUnderTheOldFlag) {
    const fmiComponent c = instantiate(fmiFalse);
    ASSERT_EQ(fmi().setDebugLogging(c, fmiTrue), fmiOK);  // on: no trace
    ASSERT_EQ(fmi().setDebugLogging(c, static_cast<fmiBoolean>(-1)), fmiOK);
    ASSERT_EQ(fmi().setDebugLogging(c, 7), fmiOK);
    ASSERT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiOK);  // off: the last trace
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    ASSERT_EQ(fmi().terminateSlave(c), fmiOK);
    // Allowed in Terminated too.
    ASSERT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiOK);
    fmi().freeSlaveInstance(c);
    const char* format = "fmiSetDebugLogging: loggingOn=%d";
    EXPECT_TRUE(matchAll({{c, kName, fmiOK, "log", format, {arg(-1)}},
                          {c, kName, fmiOK, "log", format, {arg(7)}},
                          {c, kName, fmiOK, "log", format, {arg(0)}}},
                         logs()));
}

TEST_F(Lifecycle, ResetRestoresOnlyTheStartValues) {
    const fmiComponent c = initialized();
    std::vector<fmiReal> changed(model().realCount());
    for (std::size_t i = 0; i < changed.size(); ++i) {
        changed[i] = 0.125 * static_cast<double>(i + 1);
    }
    setReals(c, changed);
    ASSERT_EQ(fmi().doStep(c, 0.0, 0.5, fmiTrue), fmiOK);
    std::vector<fmiReal> expected = realValues(c);
    ASSERT_EQ(fmi().resetSlave(c), fmiOK);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (model().startValues[i]) {
            expected[i] = *model().startValues[i];
        }
    }
    EXPECT_TRUE(sameBits(expected, realValues(c)));
    // Instantiated again: initialization is allowed once more.
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(c);
}
