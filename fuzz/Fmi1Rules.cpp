// The rules of the FMI 1.0 calls, call by call: what each call must return,
// log, free and leave in the instance's record, given what the master knows
// of the instance, and the logger's call back into an instance in the middle
// of a call.
#include "Fmi1Rules.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Callbacks.h"
#include "Checks.h"
#include "Expectation.h"
#include "RecordingAllocator.h"
#include "SlaveInstance.h"

namespace fmi1 {
namespace {

constexpr const char* kInstantiate = "fmiInstantiateSlave";

// The blocks of an instance, in the order instantiation requests them.
enum Block { kRecord, kReals, kIntegers, kBooleans, kStrings, kAuxFlags, kNameCopy, kBlockCount };

const char* operationName(Operation operation) {
    static const char* const names[] = {
        "fmiInstantiateSlave",
        "fmiInitializeSlave",
        "fmiSetDebugLogging",
        "fmiTerminateSlave",
        "fmiResetSlave",
        "fmiFreeSlaveInstance",
        "fmiSetReal",
        "fmiSetInteger",
        "fmiSetBoolean",
        "fmiSetString",
        "fmiGetReal",
        "fmiGetInteger",
        "fmiGetBoolean",
        "fmiGetString",
        "fmiDoStep",
        "fmiCancelStep",
        "fmiGetStatus",
        "fmiGetRealStatus",
        "fmiGetIntegerStatus",
        "fmiGetBooleanStatus",
        "fmiGetStringStatus",
        "fmiSetRealInputDerivatives",
        "fmiGetRealOutputDerivatives",
        "fmiGetVersion",
        "fmiGetTypesPlatform",
        "(logger call back armed)",
    };
    static_assert(std::size(names) == static_cast<std::size_t>(kFirstFmi2Operation));
    const auto index = static_cast<std::size_t>(operation);
    return index < std::size(names) ? names[index] : "?";
}

StatusSet statusesOf(Operation operation) {
    switch (operation) {
        case Operation::CancelStep:
        case Operation::GetStatus:
        case Operation::GetRealStatus:
        case Operation::GetIntegerStatus:
        case Operation::GetBooleanStatus:
        case Operation::GetStringStatus:
            return statusSet({fmiError});
        case Operation::SetRealInputDerivatives:
        case Operation::GetRealOutputDerivatives:
            return statusSet({fmiWarning, fmiError});
        default:
            return statusSet({fmiOK, fmiError});
    }
}

// One checked call on the library of a model.
class Call : public CheckedCall {
  public:
    Call(World& world, Operation operation, int model, int slot)
        : CheckedCall(world, {definitionOf(model).modelIdentifier, operationName(operation), slot},
                      statusesOf(operation), loadedModels[model].mxcsr),
          model_(model) {}

    const FmiFunctions& fmi() const {
        return loadedModels[model_].library.fmi();
    }

  private:
    int model_;
};

// The record of an instance, read in place, against the master's records.
void checkInstanceRecord(Instance& s) {
    const auto& r = *static_cast<const SlaveInstance*>(s.c);
    const auto who = [&s] {
        return std::string(definitionOf(s.model).modelIdentifier) + " instance \"" + s.name + "\"";
    };
    require(r.slaveState == s.state, [&] {
        return std::string(who() + ": state " + std::to_string(r.slaveState) + " instead of " +
                           std::to_string(s.state));
    });
    require(!s.seenInError || r.slaveState == Error,
            [&] { return who() + ": left Error for state " + std::to_string(r.slaveState); });
    require(r.loggingFlag == s.logging,
            [&] { return std::string(who() + ": logging flag differs"); });
    require(r.realValues == s.blocks[kReals] && r.integerValues == s.blocks[kIntegers] &&
                static_cast<void*>(r.booleanValues) == s.blocks[kBooleans] &&
                static_cast<const void*>(r.stringValues) == s.blocks[kStrings] &&
                r.auxFlags == s.blocks[kAuxFlags] && r.instanceNameCopy == s.blocks[kNameCopy],
            [&] { return std::string(who() + ": the record no longer points at its blocks"); });
    require(std::strcmp(r.instanceNameCopy, s.name.c_str()) == 0,
            [&] { return std::string(who() + ": name copy changed"); });
    require(reinterpret_cast<std::uintptr_t>(r.guidRef) == s.guid,
            [&] { return std::string(who() + ": GUID pointer changed"); });
    require(r.callbacks.logger == s.callbacks.logger &&
                r.callbacks.allocateMemory == s.callbacks.allocateMemory &&
                r.callbacks.freeMemory == s.callbacks.freeMemory &&
                r.callbacks.stepFinished == s.callbacks.stepFinished,
            [&] { return std::string(who() + ": callbacks changed"); });
    require(bitsOf(r.currentTime) == bitsOf(s.currentTime),
            [&] { return std::string(who() + ": current time differs"); });
    const fmiEventInfo& events = r.eventRecord;
    const fmiBoolean armed = s.eventsArmed ? fmiTrue : fmiFalse;
    require(events.iterationConverged == armed && events.stateValueReferencesChanged == fmiFalse &&
                events.stateValuesChanged == fmiFalse && events.upcomingTimeEvent == armed &&
                bitsOf(events.nextEventTime) == bitsOf(s.eventsArmed ? -1.0 : 0.0) &&
                events.terminateSimulation == (s.terminate ? fmiTrue : fmiFalse),
            [&] { return std::string(who() + ": event record differs"); });
    const auto otherTypeDiffers = [&] { return who() + ": a variable of another type differs"; };
    for (std::size_t i = 0; i < s.integers.size(); ++i) {
        require(r.integerValues[i] == s.integers[i], otherTypeDiffers);
    }
    for (std::size_t i = 0; i < s.booleans.size(); ++i) {
        require(r.booleanValues[i] == s.booleans[i], otherTypeDiffers);
    }
    for (std::size_t i = 0; i < s.strings.size(); ++i) {
        require(r.stringValues[i] == s.strings[i], otherTypeDiffers);
    }
    for (std::size_t i = 0; i < s.reals.size(); ++i) {
        require(recordHolds(s, i, r.realValues[i]),
                [&] { return std::string(who() + ": real " + std::to_string(i) + " differs"); });
    }
}

void checkRecord(Instance& s) {
    checkInstanceRecord(s);
    s.seenInError = s.seenInError || s.state == Error;
}

ExpectedMessage errorMessage(const Instance& s, const char* format,
                             std::vector<ExpectedArgument> arguments, std::int32_t stateAtLog) {
    return {s.c, false, s.name, fmiError, "error", format, std::move(arguments), stateAtLog};
}

// A message that goes out with a null component and the instance's name.
ExpectedMessage refusalMessage(const Instance& s, const char* category, const char* format,
                               std::vector<ExpectedArgument> arguments) {
    return {nullptr, false, s.name, fmiError, category, format, std::move(arguments), 0};
}

void trace(Instance& s, Expectation& e, const char* format,
           std::vector<ExpectedArgument> arguments = {}) {
    if (s.logging != fmiFalse) {
        emit(s, e, {s.c, false, s.name, fmiOK, "log", format, std::move(arguments), s.state});
    }
}

// The opening of every call that takes a component: a null one is refused
// silently, a state outside the mask puts the instance into Error before it
// is logged. True when the call goes on to its own work.
bool opens(Instance* s, const char* function, StateMask mask, Expectation& e) {
    e.status = fmiError;
    if (s == nullptr) {
        return false;
    }
    if ((s->state & mask) != 0) {
        e.status = fmiOK;
        return true;
    }
    s->state = Error;
    emit(*s, e, errorMessage(*s, "%s: Illegal call sequence.", {textArgument(function)}, Error));
    return false;
}

void refuseNull(Instance& s, Expectation& e, const char* function, const char* argument) {
    s.state = Error;
    emit(s, e,
         errorMessage(s, "%s: Invalid argument %s = NULL.",
                      {textArgument(function), textArgument(argument)}, Error));
    e.status = fmiError;
}

// Logged while the instance still has its state of before; Error afterwards.
void refuseReference(Instance& s, Expectation& e, const char* function, fmiValueReference vr) {
    emit(s, e,
         errorMessage(s, "%s: Illegal value reference %u.",
                      {textArgument(function), unsignedArgument(vr)}, s.state));
    s.state = Error;
    e.status = fmiError;
}

// The call back from the logger, as the master expects it.
void expectCallBack(Instance& s, ReentryAction action, Expectation& nested) {
    const fmiValueReference vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            if (opens(&s, "fmiSetDebugLogging", kAnyLiveState, nested)) {
                trace(s, nested, "fmiSetDebugLogging: loggingOn=%d",
                      {integerArgument(static_cast<signed char>(s.reentryFlag))});
                s.logging = s.reentryFlag;
            }
            break;
        case kReentrySetReal:
            if (opens(&s, "fmiSetReal", kBeforeTermination, nested)) {
                trace(s, nested, "fmiSetReal: nvr = %d", {integerArgument(1)});
                if (vr >= s.reals.size()) {
                    refuseReference(s, nested, "fmiSetReal", vr);
                } else {
                    trace(s, nested, "fmiSetReal: #r%d# = %.16g",
                          {integerArgument(static_cast<int>(vr)), realArgument(s.reentryValue)});
                    s.reals[vr] = s.reentryValue;
                }
            }
            break;
        case kReentryGetReal:
            if (opens(&s, "fmiGetReal", kAnyLiveState, nested)) {
                if (vr >= s.reals.size()) {
                    refuseReference(s, nested, "fmiGetReal", vr);
                } else {
                    nestedExpected.valueBits = bitsOf(s.reals[vr]);
                    trace(s, nested, "fmiGetReal: #r%u# = %.16g",
                          {unsignedArgument(vr), realArgument(s.reals[vr])});
                }
            }
            break;
        default:
            break;
    }
}

void applyStartValues(Instance& s) {
    const ModelFacts& facts = factsOf(s.model);
    for (std::size_t i = 0; i < facts.startValues.size(); ++i) {
        if (facts.startValues[i]) {
            s.reals[i] = *facts.startValues[i];
        }
    }
}

// The event update of the instance's model, on the master's copy.
void updateAtEvent(Instance& s) {
    // A request to end the simulation stands until the instance is reset.
    if (computeEquation(s) == UpdateOutcome::RequestTermination) {
        s.terminate = true;
    }
}

// The integer, boolean and string variants, on the variables of that type
// the model declares: where it has none (every deliverable), the first
// element is refused, after the nvr trace of the Set functions. No element
// is traced.
template <typename Value, typename Function>
void callOtherTypeOf(World& world, Operation operation, int model, int slot, Instance* s,
                     std::size_t nvr, const fmiValueReference* vr, Value* value,
                     std::vector<Value> Instance::*stored, Function function) {
    const char* name = operationName(operation);
    const bool isSet = operation == Operation::SetInteger || operation == Operation::SetBoolean ||
                       operation == Operation::SetString;
    static const std::string setTraces[] = {"fmiSetInteger: nvr = %d", "fmiSetBoolean: nvr = %d",
                                            "fmiSetString: nvr = %d"};
    const char* nvrTrace =
        isSet ? setTraces[static_cast<int>(operation) - static_cast<int>(Operation::SetInteger)]
                    .c_str()
              : nullptr;
    // The variables of this type that the model declares, as the master holds them.
    const std::size_t count = s != nullptr ? ((*s).*stored).size() : 0;
    Call call(world, operation, model, slot);
    Expectation e;
    // What value[] must hold afterwards: a Set leaves it alone.
    std::vector<Value> expected;
    if (value != nullptr) {
        expected.assign(value, value + nvr);
    }
    if (opens(s, name, isSet ? kBeforeTermination : kAnyLiveState, e)) {
        if (nvr == 0) {
            if (isSet) {
                trace(*s, e, nvrTrace, {integerArgument(0)});
            }
        } else if (vr == nullptr) {
            refuseNull(*s, e, name, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, name, "value[]");
        } else {
            if (isSet) {
                trace(*s, e, nvrTrace, {integerArgument(static_cast<int>(nvr))});
            }
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= count) {
                    refuseReference(*s, e, name, vr[i]);
                    break;
                }
                if (isSet) {
                    ((*s).*stored)[vr[i]] = value[i];
                } else {
                    expected[i] = ((*s).*stored)[vr[i]];
                }
            }
        }
    }
    call.check(function(call.fmi(), componentOf(s), vr, nvr, value), e);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        require(std::memcmp(&value[i], &expected[i], sizeof expected[i]) == 0,
                [&] { return std::string(name) + ": value[" + std::to_string(i) + "] is wrong"; });
    }
}

// The value of a status query is never written; each type has its own
// untouched pattern.
struct StatusValues {
    fmiStatus status = static_cast<fmiStatus>(0x5a5a5a5a);
    fmiReal real = realFromBits(kUntouchedBits);
    fmiInteger integer = 0x5a5a5a5a;
    fmiBoolean boolean = 0x5a;
    fmiString string = "untouched";
};

// The logger's side of a call back into the instance.
void callBack(Instance& s, ReentryAction action) {
    const FmiFunctions& f = loadedModels[s.model].library.fmi();
    fmiValueReference vr = s.reentryReference;
    switch (action) {
        case kReentrySetDebugLogging:
            nestedActual.status = f.setDebugLogging(s.c, s.reentryFlag);
            break;
        case kReentrySetReal: {
            const fmiReal value = s.reentryValue;
            nestedActual.status = f.setReal(s.c, &vr, 1, &value);
            break;
        }
        case kReentryGetReal: {
            fmiReal value = realFromBits(kUntouchedBits);
            nestedActual.status = f.getReal(s.c, &vr, 1, &value);
            nestedActual.valueBits = bitsOf(value);
            break;
        }
        default:
            break;
    }
}

std::int32_t stateInRecord(const Instance& s) {
    return static_cast<const SlaveInstance*>(s.c)->slaveState;
}

constexpr InstanceRules kInstanceRules = {checkRecord, stateInRecord, expectCallBack, callBack};

}  // namespace

void callInitialize(World& world, int model, int slot, Instance* s, fmiReal tStart,
                    fmiBoolean stopTimeDefined, fmiReal tStop) {
    Call call(world, Operation::Initialize, model, slot);
    Expectation e;
    if (opens(s, "fmiInitializeSlave", kInstantiatedOnly, e)) {
        trace(*s, e, "%s: toleranceControlled=%d relativeTolerance=%g",
              {textArgument("fmiInitializeSlave"), integerArgument(0), realArgument(0.0)});
        s->eventsArmed = true;
        s->terminate = false;
        s->state = Initialized;
    }
    call.check(call.fmi().initializeSlave(componentOf(s), tStart, stopTimeDefined, tStop), e);
}

void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmiBoolean loggingOn) {
    Call call(world, Operation::SetDebugLogging, model, slot);
    Expectation e;
    if (opens(s, "fmiSetDebugLogging", kAnyLiveState, e)) {
        trace(*s, e, "fmiSetDebugLogging: loggingOn=%d",
              {integerArgument(static_cast<signed char>(loggingOn))});
        s->logging = loggingOn;
    }
    call.check(call.fmi().setDebugLogging(componentOf(s), loggingOn), e);
}

void callTerminate(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Terminate, model, slot);
    Expectation e;
    if (opens(s, "fmiTerminateSlave", kInitializedOnly, e)) {
        trace(*s, e, "fmiTerminateSlave");
        s->state = Terminated;
    }
    call.check(call.fmi().terminateSlave(componentOf(s)), e);
}

void callReset(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Reset, model, slot);
    Expectation e;
    if (opens(s, "fmiResetSlave", kInitializedOnly, e)) {
        trace(*s, e, "fmiResetSlave");
        s->state = Instantiated;
        applyStartValues(*s);
    }
    call.check(call.fmi().resetSlave(componentOf(s)), e);
}

// A freed instance leaves its slot, so that its record is no longer read.
void callFree(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::Free, model, slot);
    Expectation e;
    const bool frees = opens(s, "fmiFreeSlaveInstance", kTerminatedOnly, e);
    if (frees) {
        trace(*s, e, "fmiFreeSlaveInstance");
        e.frees = {s->blocks[kNameCopy], s->blocks[kReals],   s->blocks[kIntegers],
                   s->blocks[kBooleans], s->blocks[kStrings], s->blocks[kAuxFlags],
                   s->blocks[kRecord]};
    }
    call.fmi().freeSlaveInstance(componentOf(s));
    if (frees) {
        world.slots[model][slot].reset();
    }
    call.checkEffects(e, false);
}

// fmiSetReal and fmiGetReal: the elements in order, each reference checked
// just before it is used, nothing rolled back.
void callSetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, const fmiReal* value) {
    constexpr const char* function = "fmiSetReal";
    Call call(world, Operation::SetReal, model, slot);
    Expectation e;
    if (opens(s, function, kBeforeTermination, e)) {
        if (nvr == 0) {
            trace(*s, e, "fmiSetReal: nvr = %d", {integerArgument(0)});
        } else if (vr == nullptr) {
            refuseNull(*s, e, function, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, function, "value[]");
        } else {
            trace(*s, e, "fmiSetReal: nvr = %d", {integerArgument(static_cast<int>(nvr))});
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= s->reals.size()) {
                    refuseReference(*s, e, function, vr[i]);
                    break;
                }
                trace(*s, e, "fmiSetReal: #r%d# = %.16g",
                      {integerArgument(static_cast<int>(vr[i])), realArgument(value[i])});
                s->reals[vr[i]] = value[i];
            }
        }
    }
    call.check(call.fmi().setReal(componentOf(s), vr, nvr, value), e);
}

void callGetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, fmiReal* value) {
    constexpr const char* function = "fmiGetReal";
    Call call(world, Operation::GetReal, model, slot);
    Expectation e;
    std::vector<std::uint64_t> expectedBits;
    if (value != nullptr) {
        for (std::size_t i = 0; i < nvr; ++i) {
            expectedBits.push_back(bitsOf(value[i]));
        }
    }
    if (opens(s, function, kAnyLiveState, e) && nvr != 0) {
        if (vr == nullptr) {
            refuseNull(*s, e, function, "vr[]");
        } else if (value == nullptr) {
            refuseNull(*s, e, function, "value[]");
        } else {
            for (std::size_t i = 0; i < nvr; ++i) {
                if (vr[i] >= s->reals.size()) {
                    refuseReference(*s, e, function, vr[i]);
                    break;
                }
                expectedBits[i] = bitsOf(s->reals[vr[i]]);
                trace(*s, e, "fmiGetReal: #r%u# = %.16g",
                      {unsignedArgument(vr[i]), realArgument(s->reals[vr[i]])});
            }
        }
    }
    call.check(call.fmi().getReal(componentOf(s), vr, nvr, value), e);
    for (std::size_t i = 0; i < expectedBits.size(); ++i) {
        require(bitsOf(value[i]) == expectedBits[i], [&] {
            return std::string("fmiGetReal: value[" + std::to_string(i) +
                               "] is not what it must hold");
        });
    }
}

void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiInteger* value) {
    const bool isSet = operation == Operation::SetInteger;
    callOtherTypeOf(world, operation, model, slot, s, nvr, vr, value, &Instance::integers,
                    [isSet](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v,
                            std::size_t n, fmiInteger* x) {
                        return isSet ? f.setInteger(c, v, n, x) : f.getInteger(c, v, n, x);
                    });
}

void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiBoolean* value) {
    const bool isSet = operation == Operation::SetBoolean;
    callOtherTypeOf(world, operation, model, slot, s, nvr, vr, value, &Instance::booleans,
                    [isSet](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v,
                            std::size_t n, fmiBoolean* x) {
                        return isSet ? f.setBoolean(c, v, n, x) : f.getBoolean(c, v, n, x);
                    });
}

void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiString* value) {
    const bool isSet = operation == Operation::SetString;
    callOtherTypeOf(world, operation, model, slot, s, nvr, vr, value, &Instance::strings,
                    [isSet](const FmiFunctions& f, fmiComponent c, const fmiValueReference* v,
                            std::size_t n, fmiString* x) {
                        return isSet ? f.setString(c, v, n, x) : f.getString(c, v, n, x);
                    });
}

void callDoStep(World& world, int model, int slot, Instance* s, fmiReal communicationPoint,
                fmiReal stepSize, fmiBoolean newStep) {
    Call call(world, Operation::DoStep, model, slot);
    Expectation e;
    if (opens(s, "fmiDoStep", kInitializedOnly, e)) {
        trace(*s, e,
              "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
              "newStep = fmi%s",
              {realArgument(communicationPoint), realArgument(stepSize),
               textArgument(newStep != fmiFalse ? "True" : "False")});
        if (stepSize != 0.0) {
            // Computed here under the MXCSR the slave runs with.
            const fmiReal h = factsOf(model).substep(stepSize);
            fmiReal t = communicationPoint;
            for (int substep = 0; substep < 10; ++substep) {
                t += h;
                s->currentTime = t;
                if (t > -1.0) {
                    trace(*s, e, "fmiDoStep: time event detected at %g", {realArgument(t)});
                    updateAtEvent(*s);
                }
                if (s->terminate) {
                    emit(*s, e,
                         {s->c,
                          false,
                          s->name,
                          fmiOK,
                          "log",
                          "fmiDoStep: model requested termination at t=%g",
                          {realArgument(s->currentTime)},
                          s->state});
                    e.status = fmiError;
                    break;
                }
            }
        }
    }
    call.check(call.fmi().doStep(componentOf(s), communicationPoint, stepSize, newStep), e);
}

void callCancelStep(World& world, int model, int slot, Instance* s) {
    Call call(world, Operation::CancelStep, model, slot);
    Expectation e;
    if (opens(s, "fmiCancelStep", kInitializedOnly, e)) {
        trace(*s, e, "fmiCancelStep");
        e.messages.push_back(refusalMessage(
            *s, "error",
            "fmiCancelStep: Can be called when fmiDoStep returned fmiPending. This is not the "
            "case.",
            {}));
        e.status = fmiError;
    }
    call.check(call.fmi().cancelStep(componentOf(s)), e);
}

void callStatus(World& world, Operation operation, int model, int slot, Instance* s,
                fmiStatusKind kind, bool nullValue) {
    const char* name = operationName(operation);
    Call call(world, operation, model, slot);
    Expectation e;
    if (opens(s, name, kBeforeTermination, e)) {
        static const char* const kindNames[] = {"fmiDoStepStatus", "fmiPendingStatus",
                                                "fmiLastSuccessfulTime"};
        static const char* const formats[] = {
            "%s: Can be called with fmiDoStepStatus when fmiDoStep returned fmiPending. This is "
            "not the case.",
            "%s: Can be called with fmiPendingStatus when fmiDoStep returned fmiPending. This "
            "is not the case.",
            "%s: Can be called with fmiLastSuccessfulTime when fmiDoStep returned fmiDiscard. "
            "This is not the case."};
        const bool known = kind >= 0 && kind <= 2;
        trace(*s, e, "%s: fmiStatusKind = %s",
              {textArgument(name), known ? textArgument(kindNames[kind]) : anyTextArgument()});
        if (known) {
            e.messages.push_back(refusalMessage(*s, "error", formats[kind], {textArgument(name)}));
        }
        e.status = fmiError;
    }
    const std::unique_ptr<StatusValues> values(new StatusValues);
    const fmiComponent c = componentOf(s);
    const FmiFunctions& f = call.fmi();
    fmiStatus status = fmiOK;
    switch (operation) {
        case Operation::GetStatus:
            status = f.getStatus(c, kind, nullValue ? nullptr : &values->status);
            break;
        case Operation::GetRealStatus:
            status = f.getRealStatus(c, kind, nullValue ? nullptr : &values->real);
            break;
        case Operation::GetIntegerStatus:
            status = f.getIntegerStatus(c, kind, nullValue ? nullptr : &values->integer);
            break;
        case Operation::GetBooleanStatus:
            status = f.getBooleanStatus(c, kind, nullValue ? nullptr : &values->boolean);
            break;
        default:
            status = f.getStringStatus(c, kind, nullValue ? nullptr : &values->string);
            break;
    }
    call.check(status, e);
    const StatusValues untouched;
    require(values->status == untouched.status && bitsOf(values->real) == bitsOf(untouched.real) &&
                values->integer == untouched.integer && values->boolean == untouched.boolean &&
                values->string == untouched.string,
            [&] { return std::string(std::string(name) + " wrote its value"); });
}

void callSetRealInputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                 const fmiValueReference* vr, const fmiInteger* order,
                                 const fmiReal* value) {
    Call call(world, Operation::SetRealInputDerivatives, model, slot);
    Expectation e;
    if (opens(s, "fmiSetRealInputDerivatives", kInitializedOnly, e)) {
        trace(*s, e, "fmiSetRealInputDerivatives: nvr= %d",
              {integerArgument(static_cast<int>(nvr))});
        e.messages.push_back(refusalMessage(
            *s, "warning",
            "fmiSetRealInputDerivatives: ignoring function call. This model cannot interpolate "
            "inputs: canInterpolateInputs=\"fmiFalse\"",
            {}));
        e.status = fmiWarning;
    }
    call.check(call.fmi().setRealInputDerivatives(componentOf(s), vr, nvr, order, value), e);
}

void callGetRealOutputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                  const fmiValueReference* vr, const fmiInteger* order,
                                  fmiReal* value) {
    constexpr const char* function = "fmiGetRealOutputDerivatives";
    Call call(world, Operation::GetRealOutputDerivatives, model, slot);
    Expectation e;
    bool zeroed = false;
    if (opens(s, function, kInitializedOnly, e)) {
        trace(*s, e, "fmiGetRealOutputDerivatives: nvr= %d",
              {integerArgument(static_cast<int>(nvr))});
        if (nvr > 0 && value == nullptr) {
            // Left open by the FMI rules; refused like a null array of the
            // value-access calls rather than written through.
            refuseNull(*s, e, function, "value[]");
        } else {
            e.messages.push_back(refusalMessage(
                *s, "warning",
                "fmiGetRealOutputDerivatives: ignoring function call. This model cannot compute "
                "derivatives of outputs: MaxOutputDerivativeOrder=\"0\"",
                {}));
            e.status = fmiWarning;
            zeroed = true;
        }
    }
    call.check(call.fmi().getRealOutputDerivatives(componentOf(s), vr, nvr, order, value), e);
    if (value != nullptr) {
        for (std::size_t i = 0; i < nvr; ++i) {
            require(bitsOf(value[i]) == (zeroed ? 0 : kUntouchedBits), [&] {
                return std::string("fmiGetRealOutputDerivatives: value[" + std::to_string(i) +
                                   "] is wrong");
            });
        }
    }
}

void callVersion(World& world, Operation operation, int model) {
    Call call(world, operation, model, kNullSlot);
    const char* text = operation == Operation::GetVersion ? call.fmi().getVersion()
                                                          : call.fmi().getTypesPlatform();
    const char* expected = operation == Operation::GetVersion ? "1.0" : "standard32";
    require(text != nullptr && std::strcmp(text, expected) == 0, [&] {
        return std::string(std::string(operationName(operation)) + " answered something else");
    });
    call.checkEffects(Expectation{}, false);
}

// Brings an instance that is not in Error through terminate to free; one in
// Error stays with the others in Error for good.
void retire(World& world, int model, int slot) {
    std::optional<Instance>& occupant = world.slots[model][slot];
    if (!occupant) {
        return;
    }
    if (occupant->state == Error) {
        world.inError.push_back(*occupant);
        occupant.reset();
        return;
    }
    if (occupant->state == Instantiated) {
        callInitialize(world, model, slot, &*occupant, 0.0, fmiFalse, 0.0);
    }
    if (occupant->state == Initialized) {
        callTerminate(world, model, slot, &*occupant);
    }
    callFree(world, model, slot, &*occupant);
    if (occupant) {
        violated("a Terminated instance was not freed");
    }
}

void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a) {
    retire(world, model, slot);
    const ModelFacts& facts = factsOf(model);
    const AllocationPlan plan(a.allocation);

    std::unique_ptr<char[]> name = masterName(world, a.nameKind, a.inputName);
    std::unique_ptr<char[]> guid = masterGuid(a.guidKind, model);
    fmiCallbackFunctions functions = recordingCallbacks();
    leaveOutCallbacks(functions, a.callbacks);
    if ((a.callbacks & kNoStepFinished) != 0) {
        functions.stepFinished = nullptr;
    }

    Call call(world, Operation::Instantiate, model, slot);
    Expectation e;
    const std::string nameText = name ? name.get() : "";
    const auto refuse = [&](const char* format, std::vector<ExpectedArgument> arguments) {
        arguments.insert(arguments.begin(), textArgument(kInstantiate));
        e.messages.push_back({nullptr, name == nullptr, nameText, fmiError, "error", format,
                              std::move(arguments), 0});
    };
    PlannedRequests requests;
    bool created = false;
    bool blocksFailed = false;
    if (functions.logger == nullptr) {
        // Nothing at all: no message can be written.
    } else if (functions.allocateMemory == nullptr || functions.freeMemory == nullptr) {
        refuse("%s: Missing callback function.", {});
    } else if (nameText.empty()) {
        refuse("%s: Missing instance name.", {});
    } else if (!guid) {
        refuse("%s: Invalid argument %s = NULL.", {textArgument("fmuGUID")});
    } else if (guid.get() != facts.guid) {
        refuse("%s: Wrong GUID %s. Expected %s.",
               {textArgument(guid.get()), textArgument(facts.guid)});
    } else {
        requests.emplace_back(1, sizeof(SlaveInstance));
        if (plan.fails(1, sizeof(SlaveInstance))) {
            refuse("%s: Out of memory.", {});
        } else {
            const ModelDefinition& definition = definitionOf(model);
            requests.insert(requests.end(), {{facts.realCount(), sizeof(fmiReal)},
                                             {definition.integerCount, sizeof(fmiInteger)},
                                             {definition.booleanCount, sizeof(fmiBoolean)},
                                             {definition.stringCount, sizeof(fmiString)},
                                             {definition.auxFlagCount, 1},
                                             {nameText.size() + 1, 1}});
            for (std::size_t k = 2; k <= requests.size(); ++k) {
                blocksFailed =
                    blocksFailed || plan.fails(k, requests[k - 1].first * requests[k - 1].second);
            }
            if (blocksFailed) {
                refuse("%s: Out of memory.", {});
            } else {
                created = true;
                if (a.loggingOn != fmiFalse) {
                    e.messages.push_back({nullptr,
                                          false,
                                          nameText,
                                          fmiOK,
                                          "log",
                                          "%s: GUID=%s",
                                          {textArgument(kInstantiate), textArgument(facts.guid)},
                                          0});
                }
            }
        }
    }

    const bool noLocation = (a.extras & 1) != 0;
    const fmiComponent c = call.fmi().instantiateSlave(
        name.get(), guid.get(), noLocation ? nullptr : "file:///nowhere",
        (a.extras & 2) != 0 ? nullptr : "application/x-fmu-sharedlibrary", a.timeout,
        static_cast<fmiBoolean>(a.extras >> 2 & 1), static_cast<fmiBoolean>(a.extras >> 3 & 1),
        functions, a.loggingOn);
    const std::uintptr_t guidAddress = reinterpret_cast<std::uintptr_t>(guid.get());
    // The master's strings go at once: the slave must hold its own name copy
    // and never read the GUID again.
    name.reset();
    guid.reset();

    const std::vector<AllocationRequest> made = recordingAllocator().requests();
    plan.checkRequests(made, requests);
    if (blocksFailed) {
        // Everything obtained goes back, in the order fmiFreeSlaveInstance
        // uses, and the record last.
        for (const std::size_t k : {kNameCopy, kReals, kIntegers, kBooleans, kStrings, kAuxFlags}) {
            if (made[k].result != nullptr) {
                e.frees.push_back(made[k].result);
            }
        }
        e.frees.push_back(made[kRecord].result);
    }
    if (!created) {
        require(c == nullptr,
                [&] { return std::string("a refused instantiation returned an instance"); });
        call.checkEffects(e, true);
        return;
    }
    require(c != nullptr && c == made[kRecord].result,
            [&] { return std::string("instantiation did not return the record it obtained"); });
    Instance s;
    s.model = model;
    s.c = c;
    s.name = nameText;
    s.guid = guidAddress;
    s.callbacks = functions;
    s.rules = &kInstanceRules;
    s.logComponent = c;
    s.state = Instantiated;
    s.logging = a.loggingOn;
    s.reals = facts.freshValues();
    s.integers.assign(definitionOf(model).integerCount, 0);
    s.booleans.assign(definitionOf(model).booleanCount, fmiFalse);
    s.strings.assign(definitionOf(model).stringCount, nullptr);
    for (std::size_t k = 0; k < kBlockCount; ++k) {
        s.blocks.push_back(made[k].result);
    }
    world.slots[model][slot] = s;
    call.checkEffects(e, true);
}

}  // namespace fmi1
