// The checks after every call, the same for every FMI version: the status,
// every logger call, every allocation and free, the call back from the
// logger, the thread's floating-point control and the record of every live
// instance. A violated invariant aborts with the calls that led to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Expectation.h"
#include "Master.h"
#include "RecordingAllocator.h"
#include "RecordingLogger.h"

// A call as the report of a violated invariant names it.
struct CallNote {
    const char* library = "";
    const char* function = "";
    int slot = 0;
};

// Starts the numbering and the history of calls afresh for a new input.
void resetCallHistory();

[[noreturn]] void violated(const std::string& what);

// The description is built only when the condition fails: most checks run
// after every call.
template <typename Describe>
void require(bool condition, Describe describe) {
    if (!condition) {
        violated(describe());
    }
}

// The statuses a function may return at all, one bit each.
using StatusSet = std::uint32_t;

constexpr StatusSet statusSet(std::initializer_list<fmiStatus> statuses) {
    StatusSet set = 0;
    for (const fmiStatus status : statuses) {
        set |= StatusSet{1} << status;
    }
    return set;
}

// The master's logger after it recorded a message: notes the state the
// instance was in and, when the instance is armed, calls back into it.
void hearLogger(const LogRecord& record);

void checkAllInstances(World& world);

// Brackets one call: clears the recorders and sets the MXCSR the library runs
// under before it; afterwards checks the status, the messages, the allocator
// and every instance, and restores the process default.
class CheckedCall {
  public:
    CheckedCall(World& world, const CallNote& note, StatusSet mayReturn, std::uint32_t mxcsr);
    ~CheckedCall();
    CheckedCall(const CheckedCall&) = delete;
    CheckedCall& operator=(const CheckedCall&) = delete;

    // For the calls that return a status; a status of any version.
    void check(int actual, const Expectation& expected, bool mayAllocate = false) const;
    // For a call that returns nothing, and for instantiation, the one call
    // that may request memory.
    void checkEffects(const Expectation& expected, bool mayAllocate) const;

    // For a library that computes in an environment of its own: a call must
    // then leave the status flags alone too. Only a call that logged nothing
    // tells, since the master's logger computes in the caller's environment.
    void requireFlagsKept() {
        flagsKept_ = true;
    }
    // Sets the thread's MXCSR afresh right before the call, so that any flag
    // set afterwards was set by the call.
    void clearFlags() const;

  private:
    World& world_;
    CallNote note_;
    StatusSet mayReturn_;
    std::uint32_t mxcsr_;
    bool flagsKept_ = false;
    std::size_t requestsBefore_ = 0;
    std::size_t freesBefore_ = 0;
};

// The requests an instantiation makes, numbered from 1, as (count, size).
using PlannedRequests = std::vector<std::pair<std::size_t, std::size_t>>;

// The faults the allocation byte of an instantiation plans for the master's
// allocator (CallEncoding.h says how).
class AllocationPlan {
  public:
    // Clears the allocator's books and arms it with the planned faults.
    explicit AllocationPlan(std::uint8_t allocation);

    bool fails(std::size_t request, std::size_t bytes) const;
    // The requests the allocator received against the planned ones, and
    // whether each was answered as planned.
    void checkRequests(const std::vector<AllocationRequest>& made,
                       const PlannedRequests& planned) const;

  private:
    std::set<std::size_t> failing_;
    std::size_t failingFrom_ = 0;
    bool failZeroBytes_ = false;
};
