// Every call in every state, a null component everywhere, the finality of
// Error, and what a logger that calls back into the instance observes.
#include <functional>

#include "SlaveInstance.h"
#include "SlaveTest.h"

namespace {

struct Call {
    const char* name;
    StateMask allowedIn;
    std::function<fmiStatus(const FmiFunctions&, fmiComponent)> invoke;
};

// Each call with arguments that an allowed call accepts without further
// refusal: nvr 0 for the array calls, a zero step, a known status kind.
const std::vector<Call>& componentCalls() {
    static const std::vector<Call> calls = {
        {"fmiSetDebugLogging", kAnyLiveState,
         [](const FmiFunctions& f, fmiComponent c) { return f.setDebugLogging(c, fmiFalse); }},
        {"fmiInitializeSlave", kInstantiatedOnly,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.initializeSlave(c, 0.0, fmiFalse, 0.0);
         }},
        {"fmiTerminateSlave", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) { return f.terminateSlave(c); }},
        {"fmiResetSlave", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) { return f.resetSlave(c); }},
        {"fmiFreeSlaveInstance", kTerminatedOnly,
         [](const FmiFunctions& f, fmiComponent c) {
             // Returns nothing; taken as fmiError so that every refusal reads alike.
             f.freeSlaveInstance(c);
             return fmiError;
         }},
        {"fmiSetReal", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) { return f.setReal(c, nullptr, 0, nullptr); }},
        {"fmiSetInteger", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.setInteger(c, nullptr, 0, nullptr);
         }},
        {"fmiSetBoolean", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.setBoolean(c, nullptr, 0, nullptr);
         }},
        {"fmiSetString", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) { return f.setString(c, nullptr, 0, nullptr); }},
        {"fmiGetReal", kAnyLiveState,
         [](const FmiFunctions& f, fmiComponent c) { return f.getReal(c, nullptr, 0, nullptr); }},
        {"fmiGetInteger", kAnyLiveState,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.getInteger(c, nullptr, 0, nullptr);
         }},
        {"fmiGetBoolean", kAnyLiveState,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.getBoolean(c, nullptr, 0, nullptr);
         }},
        {"fmiGetString", kAnyLiveState,
         [](const FmiFunctions& f, fmiComponent c) { return f.getString(c, nullptr, 0, nullptr); }},
        {"fmiDoStep", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) { return f.doStep(c, 0.0, 0.0, fmiTrue); }},
        {"fmiCancelStep", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) { return f.cancelStep(c); }},
        {"fmiGetStatus", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             fmiStatus value = fmiOK;
             return f.getStatus(c, fmiDoStepStatus, &value);
         }},
        {"fmiGetRealStatus", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             fmiReal value = 0.0;
             return f.getRealStatus(c, fmiDoStepStatus, &value);
         }},
        {"fmiGetIntegerStatus", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             fmiInteger value = 0;
             return f.getIntegerStatus(c, fmiDoStepStatus, &value);
         }},
        {"fmiGetBooleanStatus", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             fmiBoolean value = 0;
             return f.getBooleanStatus(c, fmiDoStepStatus, &value);
         }},
        {"fmiGetStringStatus", kBeforeTermination,
         [](const FmiFunctions& f, fmiComponent c) {
             fmiString value = nullptr;
             return f.getStringStatus(c, fmiDoStepStatus, &value);
         }},
        {"fmiSetRealInputDerivatives", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.setRealInputDerivatives(c, nullptr, 0, nullptr, nullptr);
         }},
        {"fmiGetRealOutputDerivatives", kInitializedOnly,
         [](const FmiFunctions& f, fmiComponent c) {
             return f.getRealOutputDerivatives(c, nullptr, 0, nullptr, nullptr);
         }},
    };
    return calls;
}

// The state that a successful call leaves behind; 0 when the instance is gone.
SlaveState stateAfter(const Call& call, SlaveState before) {
    const std::string name = call.name;
    if (name == "fmiInitializeSlave") {
        return Initialized;
    }
    if (name == "fmiTerminateSlave") {
        return Terminated;
    }
    if (name == "fmiResetSlave") {
        return Instantiated;
    }
    if (name == "fmiFreeSlaveInstance") {
        return SlaveState{};
    }
    return before;
}

class StateMachine : public SlaveTest {
  protected:
    fmiComponent inState(SlaveState state) {
        switch (state) {
            case Instantiated:
                return instantiate();
            case Initialized:
                return initialized();
            case Terminated: {
                const fmiComponent c = initialized();
                EXPECT_EQ(fmi().terminateSlave(c), fmiOK);
                return c;
            }
            case Error: {
                const fmiComponent c = instantiate();
                EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiError);
                return c;
            }
        }
        return nullptr;
    }

    void dispose(fmiComponent c, SlaveState state) {
        switch (state) {
            case Instantiated:
                EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
                terminateAndFree(c);
                break;
            case Initialized:
                terminateAndFree(c);
                break;
            case Terminated:
                fmi().freeSlaveInstance(c);
                break;
            case Error:
                leaveInError(c);
                break;
        }
    }

    ExpectedLog illegalCallSequence(fmiComponent c, const char* name) {
        return {c, kName, fmiError, "error", "%s: Illegal call sequence.", {arg(name)}};
    }
};

}  // namespace

TEST_F(StateMachine, EveryCallInEveryState) {
    for (const SlaveState state : {Instantiated, Initialized, Terminated, Error}) {
        for (const Call& call : componentCalls()) {
            SCOPED_TRACE(std::string(call.name) + " in state " + std::to_string(state));
            const fmiComponent c = inState(state);
            clearLogs();
            const fmiStatus status = call.invoke(fmi(), c);
            if ((state & call.allowedIn) != 0) {
                for (const auto& record : logs()) {
                    EXPECT_NE(record.format, "%s: Illegal call sequence.");
                }
                const SlaveState after = stateAfter(call, state);
                if (after != SlaveState{}) {
                    // Still alive and not in Error: logging can still be switched.
                    EXPECT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiOK);
                    dispose(c, after);
                }
            } else {
                EXPECT_EQ(status, fmiError);
                EXPECT_TRUE(matchAll({illegalCallSequence(c, call.name)}, logs()));
                EXPECT_EQ(fmi().setDebugLogging(c, fmiFalse), fmiError);
                dispose(c, Error);
            }
        }
    }
    EXPECT_TRUE(recordingAllocator().problems().empty());
}

TEST_F(StateMachine, NullComponentIsRefusedSilently) {
    for (const Call& call : componentCalls()) {
        SCOPED_TRACE(call.name);
        EXPECT_EQ(call.invoke(fmi(), nullptr), fmiError);
    }
    EXPECT_TRUE(logs().empty());
    EXPECT_TRUE(recordingAllocator().frees().empty());
}

TEST_F(StateMachine, ErrorIsFinalAndNeverFreed) {
    const fmiComponent c = inState(Error);
    clearLogs();
    std::vector<ExpectedLog> expected;
    for (int round = 0; round < 2; ++round) {
        for (const Call& call : componentCalls()) {
            EXPECT_EQ(call.invoke(fmi(), c), fmiError) << call.name;
            expected.push_back(illegalCallSequence(c, call.name));
        }
    }
    EXPECT_TRUE(matchAll(expected, logs()));
    EXPECT_TRUE(recordingAllocator().frees().empty());
    leaveInError(c);
}

TEST_F(StateMachine, FreeingALiveInstanceIsRefusedForGood) {
    for (const SlaveState state : {Instantiated, Initialized}) {
        const fmiComponent c = inState(state);
        clearLogs();
        fmi().freeSlaveInstance(c);
        EXPECT_TRUE(matchAll({illegalCallSequence(c, "fmiFreeSlaveInstance")}, logs()));
        EXPECT_TRUE(recordingAllocator().frees().empty());
        EXPECT_EQ(fmi().terminateSlave(c), fmiError);
        leaveInError(c);
    }
}

TEST_F(StateMachine, ReentrantLoggerSeesTheStateOfEachKindOfRefusal) {
    struct Case {
        const char* what;
        std::function<fmiStatus(const FmiFunctions&, fmiComponent)> refusedCall;
        // What a read of the instance from inside the logger returns.
        fmiStatus seenFromLogger;
    };
    const fmiReal value = 1.0;
    const fmiValueReference illegal = model().realCount();
    const std::vector<Case> cases = {
        {"call in the wrong state",
         [](const FmiFunctions& f, fmiComponent c) { return f.terminateSlave(c); }, fmiError},
        {"null vr[]",
         [&](const FmiFunctions& f, fmiComponent c) { return f.setReal(c, nullptr, 1, &value); },
         fmiError},
        {"null value[]",
         [&](const FmiFunctions& f, fmiComponent c) { return f.setReal(c, &illegal, 1, nullptr); },
         fmiError},
        // The value reference check reports first and enters Error afterwards.
        {"illegal value reference",
         [&](const FmiFunctions& f, fmiComponent c) { return f.setReal(c, &illegal, 1, &value); },
         fmiOK},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const fmiComponent c = instantiate();
        std::vector<fmiStatus> seen;
        logRecorder().setHook([&](const LogRecord& record) {
            if (record.status == fmiError && seen.empty()) {
                seen.push_back(fmi().getReal(c, nullptr, 0, nullptr));
            }
        });
        EXPECT_EQ(test.refusedCall(fmi(), c), fmiError);
        logRecorder().setHook(nullptr);
        EXPECT_EQ(seen, std::vector<fmiStatus>{test.seenFromLogger});
        EXPECT_EQ(fmi().getReal(c, nullptr, 0, nullptr), fmiError);
        leaveInError(c);
    }
}
