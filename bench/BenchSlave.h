// What the benchmark programs share: each deliverable's host build, loaded
// once through the test master's loader, and master callbacks that do nothing
// but count, so that the slave's own cost is what gets measured.
#pragma once

#include <cstdint>
#include <string>

#include "FmiTypes.h"
#include "SlaveLibrary.h"

namespace bench {

// The callbacks' counts for the calling thread. Per thread, so that a
// benchmark thread sees only its own instances' requests while other threads
// create and free theirs.
struct CallbackCounts {
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
    std::uint64_t logs = 0;
};

CallbackCounts callbackCounts();

// calloc and free behind counters, and a logger that only counts.
fmiCallbackFunctions countingCallbacks();

// The library of one model from this build tree, or from the directory that
// the environment variable SLAVE_BENCH_LIBRARY_DIR names (to measure another
// build with the same benchmarks), loaded on first use and kept until the
// process ends. Exits the process with a message when it cannot be
// loaded: no figure would mean anything without it.
const FmiFunctions& loadedSlave(const char* identifier);

// Makes every call that an instance accepts after fmiInstantiateSlave, with
// logging off and on, through to fmiFreeSlaveInstance, and yields what was
// wrong: an allocation or a free before fmiFreeSlaveInstance, or a block that
// fmiFreeSlaveInstance did not give back. Empty when nothing was.
std::string allocationsAfterInstantiation(const FmiFunctions& fmi, const char* guid,
                                          std::uint32_t realCount);

// One instance, instantiated with the counting callbacks and logging off and
// then initialized; terminated and freed when it goes.
class InitializedSlave {
  public:
    InitializedSlave(const FmiFunctions& fmi, const char* guid);
    ~InitializedSlave();

    InitializedSlave(const InitializedSlave&) = delete;
    InitializedSlave& operator=(const InitializedSlave&) = delete;

    // Null when instantiation or initialization failed.
    fmiComponent component() const {
        return component_;
    }

  private:
    const FmiFunctions& fmi_;
    fmiComponent component_ = nullptr;
};

}  // namespace bench
