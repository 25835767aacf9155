// What the master expects of one call, built by the rules before the call is
// made: the status, every logger call with its typed arguments, and the
// blocks the call must free, in order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CallEncoding.h"
#include "FmiTypes.h"
#include "Master.h"

struct ExpectedArgument {
    enum class Kind { Integer, Unsigned, Real, Text, AnyText, Pointer } kind = Kind::Integer;
    long long integer = 0;
    unsigned long long unsignedInteger = 0;
    std::uint64_t realBits = 0;
    std::string text;
    const void* pointer = nullptr;
};

inline ExpectedArgument integerArgument(long long value) {
    ExpectedArgument argument;
    argument.integer = value;
    return argument;
}

inline ExpectedArgument unsignedArgument(unsigned long long value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Unsigned;
    argument.unsignedInteger = value;
    return argument;
}

inline ExpectedArgument realArgument(double value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Real;
    argument.realBits = bitsOf(value);
    return argument;
}

inline ExpectedArgument textArgument(std::string value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Text;
    argument.text = std::move(value);
    return argument;
}

// The name a status query traces for a kind without a name is left open.
inline ExpectedArgument anyTextArgument() {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::AnyText;
    return argument;
}

inline ExpectedArgument pointerArgument(const void* value) {
    ExpectedArgument argument;
    argument.kind = ExpectedArgument::Kind::Pointer;
    argument.pointer = value;
    return argument;
}

struct ExpectedMessage {
    fmiComponent component = nullptr;
    bool nameIsNull = false;
    std::string name;
    fmiStatus status = fmiOK;
    const char* category = "";
    // A 3.0 message arrives formatted: its finished text stands here.
    std::string format;
    std::vector<ExpectedArgument> arguments;
    // The instance's state when the logger hears of it; 0 for a message
    // with a null component.
    std::int32_t stateAtLog = 0;
    // A 3.0 text that shows a NaN that may be any NaN, "nan" or "-nan".
    bool signOfNaNOpen = false;
};

struct Expectation {
    fmiStatus status = fmiOK;
    std::vector<ExpectedMessage> messages;
    std::vector<void*> frees;
};

// A message with an instance as the logger's first argument: the logger may
// call back into the instance right there, before the slave goes on, and the
// call back is a call like any other, made at that point of the outer call.
// The logger hook cannot note the state for the messages of the nested call,
// so they are not checked for it.
inline void emit(Instance& s, Expectation& e, ExpectedMessage message) {
    e.messages.push_back(std::move(message));
    if (s.reentry == kReentryNone) {
        return;
    }
    const ReentryAction action = s.reentry;
    s.reentry = kReentryNone;
    nestedExpected.happened = true;
    Expectation nested;
    s.rules->expectCallBack(s, action, nested);
    nestedExpected.status = nested.status;
    for (ExpectedMessage& nestedMessage : nested.messages) {
        nestedMessage.stateAtLog = 0;
        e.messages.push_back(std::move(nestedMessage));
    }
}
