// The fuzz target: turns its input into a sequence of FMI calls on several
// instances of every model, each model loaded as its FMI 1.0, 2.0 and 3.0
// library the way a master loads them, and after every call checks all
// that a master can observe against what the slave must do:
// - the returned status, first against the set the function may return at
//   all, then against the one this call must return;
// - every logger call: component (or, from 2.0 on, the master's
//   environment), instance name, status, category, format and each typed
//   argument, and the state the instance was in when it logged;
// - every allocation request and every free, so that a block is freed only
//   by the call that frees it (or by a failed instantiation or reading of an
//   FMU state), exactly once, and in the fixed order; for 3.0, which takes
//   its memory from the C runtime, every request of its calloc and whether
//   each block the master knows of is still allocated;
// - the record of every live instance, read in place: state (in 1.0, Error
//   stays Error), flags, time, event record or FMU states, and every value
//   bit for bit, the forces against the models' equations;
// - what the master's arrays hold afterwards, written or left alone;
// - the thread's floating-point control, which no call may change, and for
//   a 2.0 library that computes in an environment of its own, the status
//   flags too.
// The logger may be armed to call back into an instance at its next message,
// in the middle of a call, as a master's logger may. Every model of the
// build's list runs, and beside them the test-only models (one requests
// termination and has variables of the other types); what the rules know of
// each comes from its definition in the fuzz target's model registry.
// At the end of an input every instance that can be is freed, and exactly the
// blocks of the 1.0 instances in Error must remain. AddressSanitizer catches
// any block touched after it was freed, including the instance name, GUID
// and callback structure, which the master releases right after
// instantiation.
//
// This file is the driver: it loads the libraries and runs each input. How
// an input encodes calls is in CallEncoding.h, Input.h and Decoding.h, the
// master's records in Master.h, what a call must do in Expectation.h and in
// the rules of each FMI version (Fmi1Rules.cpp and Fmi2Rules.cpp, each read
// from the input by its Fmi<n>Decoding.cpp), and the checks after every call
// in Checks.cpp.
#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "Callbacks.h"
#include "Checks.h"
#include "Decoding.h"
#include "Fmi1Rules.h"
#include "Fmi2Rules.h"
#include "Fmi3Rules.h"
#include "Input.h"
#include "Master.h"
#include "RecordingAllocator.h"
#include "RecordingLogger.h"
#include "RuntimeCalloc.h"
#include "SlaveLibraries.h"

namespace {

void releaseAtExit() {
    std::fprintf(stderr, "fuzz_slaves: %llu FMI calls checked in %llu inputs\n", totalCalls,
                 totalInputs);
}

[[noreturn]] void cannotLoad(const std::string& why) {
    std::fprintf(stderr, "fuzz_slaves: %s\n", why.c_str());
    std::exit(2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    defaultMxcsr = _mm_getcsr();
    static_assert(std::size(kSlaveLibraryPaths) == kLibraryCount);
    if (registeredModelCount() != static_cast<std::size_t>(kModelCount)) {
        cannotLoad("the model registry and the libraries differ in their count of models");
    }
    for (int library = 0; library < kLibraryCount; ++library) {
        LoadedModel& loaded = loadedModels[library];
        const std::string path = kSlaveLibraryPaths[library];
        std::string error;
        _mm_setcsr(defaultMxcsr);
        if (!loaded.library.load(path, error)) {
            cannotLoad(error);
        }
        // Whatever loading a 1.0 library did to this thread (the travel stop
        // sets flush-to-zero) is what that model's master runs with; the
        // others run with the process default. A 2.0 library leaves the
        // thread's floating-point environment alone.
        loaded.mxcsr = _mm_getcsr();
        const int fmiVersion = library / kModelCount + 1;
        if (fmiVersion > 1 && loaded.mxcsr != defaultMxcsr) {
            cannotLoad("loading " + path + " changed MXCSR");
        }
        if (fmiVersion == 2 && (loaded.library.fmiVersion() != 2 ||
                                !resolveFmi2Functions(loaded.library, loaded.fmi2, error))) {
            cannotLoad(path + " is no FMI 2.0 library: " + error);
        }
        // A 3.0 library takes its memory from the C runtime: its calloc is
        // rebound to one that counts and can refuse requests.
        if (fmiVersion == 3 && (loaded.library.fmiVersion() != 3 ||
                                !resolveFmi3Functions(loaded.library, loaded.fmi3, error) ||
                                !rebindRuntimeCalloc(loaded.library, error))) {
            cannotLoad(path + " is no FMI 3.0 library: " + error);
        }
        // The libraries and the registry come from the same list, in its order.
        const char* const identifier = definitionOf(library % kModelCount).modelIdentifier;
        if (loaded.library.identifier() != identifier) {
            cannotLoad(path + " is not the library of " + identifier);
        }
        loaded.facts = findModelFacts(identifier);
        if (loaded.facts == nullptr) {
            cannotLoad("no facts for " + path);
        }
    }
    _mm_setcsr(defaultMxcsr);
    logRecorder().setHook(hearLogger);
    std::atexit(releaseAtExit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ++totalInputs;
    RecordingAllocator& allocator = recordingAllocator();
    allocator.reset();
    logRecorder().clear();
    resetStepFinishedCalls();
    require(allocator.liveBlocks().empty(),
            [&] { return std::string("blocks left over from an earlier input"); });

    World world;
    currentWorld = &world;
    resetCallHistory();
    Input in(data, size);
    while (!in.empty() && world.calls < kMaxCallsPerInput) {
        const auto operation = static_cast<Operation>(in.byte() % kOperationCount);
        if (operation == Operation::ArmReentry) {
            readReentry(world, in);
        } else if (operation == Operation::CallerEnvironment) {
            world.callerEnvironment =
                kCallerEnvironments[in.byte() % std::size(kCallerEnvironments)];
        } else if (isFmi3(operation)) {
            fmi3::runCall(world, in, operation);
        } else if (isFmi2(operation)) {
            fmi2::runCall(world, in, operation);
        } else {
            fmi1::runCall(world, in, operation);
        }
    }
    for (int model = 0; model < kModelCount; ++model) {
        for (int slot = 0; slot < kSlotsPerModel; ++slot) {
            fmi1::retire(world, model, slot);
            fmi2::retire(world, model, slot);
            fmi3::retire(world, model, slot);
        }
    }

    // Only the instances left in Error still hold memory, every block they obtained.
    std::set<void*> expected;
    for (const Instance& s : world.inError) {
        expected.insert(s.blocks.begin(), s.blocks.end());
    }
    std::set<void*> live;
    for (const LiveBlock& block : allocator.liveBlocks()) {
        live.insert(block.pointer);
    }
    require(live == expected, [&] {
        return std::string(std::to_string(live.size()) + " blocks live instead of the " +
                           std::to_string(expected.size()) + " of the instances in Error");
    });
    // The master takes back what the slave can never free.
    for (void* block : live) {
        allocator.abandon(block);
    }
    allocator.releaseAbandoned();
    currentWorld = nullptr;
    const std::vector<std::string> problems = allocator.problems();
    require(problems.empty(),
            [&] { return std::string(problems.empty() ? "" : "allocator: " + problems.front()); });
    return 0;
}
