#include "Checks.h"

#include <xmmintrin.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Callbacks.h"
#include "RecordingLogger.h"

namespace {

// The last calls, for the report of a violated invariant.
constexpr std::size_t kHistoryLength = 16;
std::array<CallNote, kHistoryLength> history;
std::size_t callNumber = 0;

std::string describe(const LogRecord& r) {
    std::string text =
        "{component " + std::to_string(reinterpret_cast<std::uintptr_t>(r.component)) +
        ", instance " + (r.instanceNameIsNull ? "(null)" : '"' + r.instanceName + '"') +
        ", status " + std::to_string(r.status) + ", category \"" + r.category + "\", format \"" +
        r.format + "\", text \"" + r.text + "\"}";
    return text;
}

std::string describe(const ExpectedMessage& m) {
    return "{component " + std::to_string(reinterpret_cast<std::uintptr_t>(m.component)) +
           ", instance " + (m.nameIsNull ? "(null)" : '"' + m.name + '"') + ", status " +
           std::to_string(m.status) + ", category \"" + m.category + "\", format \"" + m.format +
           "\"}";
}

std::string withoutSignOfNaN(std::string text) {
    const std::size_t at = text.find("-nan");
    return at == std::string::npos ? text : text.erase(at, 1);
}

bool argumentMatches(const ExpectedArgument& expected, const LogArgument& actual) {
    switch (expected.kind) {
        case ExpectedArgument::Kind::Integer:
            return (actual.conversion == 'd' || actual.conversion == 'i') &&
                   actual.integer == expected.integer;
        case ExpectedArgument::Kind::Unsigned:
            return actual.conversion == 'u' && actual.unsignedInteger == expected.unsignedInteger;
        case ExpectedArgument::Kind::Real:
            return std::strchr("fFeEgGaA", actual.conversion) != nullptr &&
                   matchesBits(actual.realBits, expected.realBits);
        case ExpectedArgument::Kind::Text:
            return actual.conversion == 's' && !actual.isNullString && actual.text == expected.text;
        case ExpectedArgument::Kind::AnyText:
            return actual.conversion == 's' && !actual.isNullString;
        case ExpectedArgument::Kind::Pointer:
            return actual.conversion == 'p' && actual.pointer == expected.pointer;
    }
    return false;
}

void checkMessage(const ExpectedMessage& expected, const LogRecord& actual, std::int32_t state,
                  std::size_t index) {
    const auto mismatch = [&](const std::string& what) {
        violated("logger call " + std::to_string(index) + " " + describe(actual) + ": " + what +
                 "; expected " + describe(expected));
    };
    if (actual.component != expected.component) {
        mismatch("wrong component");
    }
    if (actual.instanceNameIsNull != expected.nameIsNull ||
        (!expected.nameIsNull && actual.instanceName != expected.name)) {
        mismatch("wrong instance name");
    }
    if (actual.status != expected.status) {
        mismatch("wrong status");
    }
    if (actual.categoryIsNull || actual.category != expected.category) {
        mismatch("wrong category");
    }
    if (actual.messageIsNull ||
        (actual.format != expected.format &&
         !(expected.signOfNaNOpen && withoutSignOfNaN(actual.format) == expected.format))) {
        mismatch("not the expected format");
    }
    if (!actual.formatProblem.empty()) {
        mismatch(actual.formatProblem);
    }
    if (actual.arguments.size() != expected.arguments.size()) {
        mismatch(std::to_string(actual.arguments.size()) + " arguments instead of " +
                 std::to_string(expected.arguments.size()));
    }
    for (std::size_t i = 0; i < expected.arguments.size(); ++i) {
        if (!argumentMatches(expected.arguments[i], actual.arguments[i])) {
            mismatch("argument " + std::to_string(i) + " (\"" + actual.arguments[i].directive +
                     "\") differs");
        }
    }
    if (expected.stateAtLog != 0 && state != expected.stateAtLog) {
        mismatch("the logger saw state " + std::to_string(state) + " instead of " +
                 std::to_string(expected.stateAtLog));
    }
}

void checkMessages(const Expectation& expected) {
    const std::vector<LogRecord> records = logRecorder().records();
    for (std::size_t i = 0; i < records.size() && i < expected.messages.size(); ++i) {
        checkMessage(expected.messages[i], records[i], statesAtLog[i], i);
    }
    if (records.size() != expected.messages.size()) {
        std::string what = std::to_string(records.size()) + " logger calls instead of " +
                           std::to_string(expected.messages.size()) + ":";
        for (const LogRecord& record : records) {
            what += "\n    " + describe(record);
        }
        violated(what);
    }
}

void checkNestedCall() {
    require(nestedActual.happened == nestedExpected.happened &&
                nestedActual.status == nestedExpected.status &&
                matchesBits(nestedActual.valueBits, nestedExpected.valueBits),
            [&] {
                return std::string("the call back from the logger ") +
                       (nestedExpected.happened ? "" : "was not due, but ") +
                       (nestedActual.happened ? "returned " + std::to_string(nestedActual.status)
                                              : "did not happen");
            });
}

}  // namespace

void resetCallHistory() {
    callNumber = 0;
}

void violated(const std::string& what) {
    std::fprintf(stderr, "\n*** invariant violated at call %zu of this input: %s\n", callNumber,
                 what.c_str());
    std::fprintf(stderr, "*** the calls up to it, latest last:\n");
    for (std::size_t i = kHistoryLength; i > 0; --i) {
        if (i > callNumber) {
            continue;
        }
        const CallNote& note = history[(callNumber + 1 - i) % kHistoryLength];
        std::fprintf(stderr, "***   %s: %s, slot %d\n", note.library, note.function, note.slot);
    }
    std::abort();
}

void hearLogger(const LogRecord& record) {
    Instance* s = record.component != nullptr && currentWorld != nullptr
                      ? findLoggingInstance(*currentWorld, record.component)
                      : nullptr;
    statesAtLog.push_back(s != nullptr ? s->rules->stateInRecord(*s) : 0);
    if (s == nullptr || s->armed == kReentryNone) {
        return;
    }
    const ReentryAction action = s->armed;
    s->armed = kReentryNone;
    const std::size_t before = logRecorder().size();
    nestedActual.happened = true;
    s->rules->callBack(*s, action);
    // The messages of the nested call did not pass through this hook.
    statesAtLog.insert(statesAtLog.end(), logRecorder().size() - before, 0);
}

void checkAllInstances(World& world) {
    for (auto& model : world.slots) {
        for (auto& slot : model) {
            if (slot) {
                slot->rules->checkRecord(*slot);
            }
        }
    }
    for (Instance& s : world.inError) {
        s.rules->checkRecord(s);
    }
}

CheckedCall::CheckedCall(World& world, const CallNote& note, StatusSet mayReturn,
                         std::uint32_t mxcsr)
    : world_(world), note_(note), mayReturn_(mayReturn), mxcsr_(mxcsr) {
    ++world.calls;
    ++totalCalls;
    callNumber = world.calls;
    history[callNumber % kHistoryLength] = note;
    logRecorder().clear();
    statesAtLog.clear();
    nestedExpected = NestedCall{};
    nestedExpected.valueBits = kUntouchedBits;
    nestedActual = nestedExpected;
    requestsBefore_ = recordingAllocator().requestCount();
    freesBefore_ = recordingAllocator().frees().size();
    _mm_setcsr(mxcsr_);
}

void CheckedCall::clearFlags() const {
    _mm_setcsr(mxcsr_);
}

CheckedCall::~CheckedCall() {
    _mm_setcsr(defaultMxcsr);
}

void CheckedCall::check(int actual, const Expectation& expected, bool mayAllocate) const {
    const bool known = actual >= 0 && actual < 32;
    require(known && (mayReturn_ >> actual & 1U) != 0, [&] {
        return std::string(std::string(note_.function) + " returned " + std::to_string(actual) +
                           ", which it may never return");
    });
    require(actual == expected.status, [&] {
        return std::string(std::string(note_.function) + " returned " + std::to_string(actual) +
                           " instead of " + std::to_string(expected.status));
    });
    checkEffects(expected, mayAllocate);
}

void CheckedCall::checkEffects(const Expectation& expected, bool mayAllocate) const {
    // Only the sticky exception flags may change: no call touches the
    // floating-point control.
    constexpr std::uint32_t kExceptionFlags = 0x3F;
    const std::uint32_t mxcsr = _mm_getcsr();
    require((mxcsr & ~kExceptionFlags) == (mxcsr_ & ~kExceptionFlags),
            [&] { return "MXCSR changed to " + std::to_string(mxcsr); });
    require(!flagsKept_ || mxcsr == mxcsr_ || logRecorder().size() != 0, [&] {
        return "MXCSR status flags " + std::to_string(mxcsr & kExceptionFlags) +
               " set in the caller's environment";
    });
    checkMessages(expected);
    RecordingAllocator& allocator = recordingAllocator();
    require(mayAllocate || allocator.requestCount() == requestsBefore_,
            [&] { return std::string(std::string(note_.function) + " requested memory"); });
    const std::vector<void*> frees = allocator.frees();
    const std::vector<void*> made(frees.begin() + static_cast<std::ptrdiff_t>(freesBefore_),
                                  frees.end());
    require(made == expected.frees, [&] {
        return std::string(std::to_string(made.size()) + " blocks freed instead of the " +
                           std::to_string(expected.frees.size()) + " expected, or not in order");
    });
    const std::vector<std::string> problems = allocator.problems();
    require(problems.empty(),
            [&] { return std::string(problems.empty() ? "" : "allocator: " + problems.front()); });
    require(stepFinishedCalls() == 0, [&] { return std::string("stepFinished was called"); });
    checkNestedCall();
    checkAllInstances(world_);
}

AllocationPlan::AllocationPlan(std::uint8_t allocation) {
    RecordingAllocator& allocator = recordingAllocator();
    allocator.reset();
    if (allocation < kAllocationFaults) {
        return;
    }
    const unsigned k = allocation & 0x0F;
    if (k >= 1 && k <= 7) {
        failing_.insert(k);
        allocator.failRequest(k);
    } else if (k == kFailZeroBytes) {
        failZeroBytes_ = true;
        allocator.failZeroByteRequests(true);
    } else if (k > kFailZeroBytes) {
        failingFrom_ = k - kFailZeroBytes;
        allocator.failRequestsFrom(failingFrom_);
    }
}

bool AllocationPlan::fails(std::size_t request, std::size_t bytes) const {
    return failing_.count(request) != 0 || (failingFrom_ != 0 && request >= failingFrom_) ||
           (failZeroBytes_ && bytes == 0);
}

void AllocationPlan::checkRequests(const std::vector<AllocationRequest>& made,
                                   const PlannedRequests& planned) const {
    require(made.size() == planned.size(), [&] {
        return std::string(std::to_string(made.size()) + " allocation requests instead of " +
                           std::to_string(planned.size()));
    });
    for (std::size_t k = 0; k < made.size(); ++k) {
        require(made[k].nobj == planned[k].first && made[k].size == planned[k].second, [&] {
            return std::string("allocation request " + std::to_string(k + 1) +
                               " asks for the wrong size");
        });
        require((made[k].result == nullptr) == fails(k + 1, planned[k].first * planned[k].second),
                [&] {
                    return std::string("allocation request " + std::to_string(k + 1) +
                                       " was not answered as planned");
                });
    }
}
