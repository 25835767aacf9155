// What the benchmark programs share: each deliverable's host builds, loaded
// once through the test master's loader, and master callbacks that do nothing
// but count, so that the slave's own cost is what gets measured.
#pragma once

#include <cstdint>
#include <string>

#include "Fmi2Types.h"
#include "Fmi3Types.h"
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

// calloc and free behind counters, and a logger that only counts, in the
// form of each FMI version. A 3.0 slave takes its memory from the C runtime:
// it gets only the logger.
fmiCallbackFunctions countingCallbacks();
fmi2CallbackFunctions countingCallbacks2();
fmi3LogMessageCallback countingLogMessage3();

// The library of one model for one FMI version from this build tree, or from
// the build directory that the environment variable SLAVE_BENCH_LIBRARY_DIR
// names (to measure another build with the same benchmarks): <directory>/
// <identifier>.so for 1.0, <directory>/<versionDirectory>/<identifier>.so for
// a later version. Loaded on first use and kept until the process ends.
// Exits the process with a message when it cannot be loaded: no figure would
// mean anything without it.
const SlaveLibrary& loadedLibrary(const char* identifier, const char* versionDirectory);

// Ends the process with a message: what a benchmark program does when a
// library it needs is unusable.
[[noreturn]] void exitWithMessage(const std::string& message);

}  // namespace bench
