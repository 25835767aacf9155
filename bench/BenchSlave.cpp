#include "BenchSlave.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace bench {

namespace {

thread_local CallbackCounts counts;

extern "C" void* countingAllocate(std::size_t nobj, std::size_t size) {
    ++counts.allocations;
    return std::calloc(nobj, size);
}

extern "C" void countingFree(void* obj) {
    ++counts.frees;
    std::free(obj);
}

extern "C" void countingLogger(fmiComponent, fmiString, fmiStatus, fmiString, fmiString, ...) {
    ++counts.logs;
}

extern "C" void ignoredStepFinished(fmiComponent, fmiStatus) {}

}  // namespace

CallbackCounts callbackCounts() {
    return counts;
}

fmiCallbackFunctions countingCallbacks() {
    return fmiCallbackFunctions{countingLogger, countingAllocate, countingFree,
                                ignoredStepFinished};
}

const FmiFunctions& loadedSlave(const char* identifier) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<SlaveLibrary>> libraries;
    const std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<SlaveLibrary>& library = libraries[identifier];
    if (library == nullptr) {
        const char* directory = std::getenv("SLAVE_BENCH_LIBRARY_DIR");
        if (directory == nullptr || directory[0] == '\0') {
            directory = SLAVE_BENCH_LIBRARY_DIR;
        }
        const std::string path =
            std::string(directory) + "/" + identifier + SLAVE_BENCH_LIBRARY_SUFFIX;
        auto loaded = std::make_unique<SlaveLibrary>();
        std::string error;
        if (!loaded->load(path, error)) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), error.c_str());
            std::exit(EXIT_FAILURE);
        }
        library = std::move(loaded);
    }
    return library->fmi();
}

std::string allocationsAfterInstantiation(const FmiFunctions& fmi, const char* guid,
                                          std::uint32_t realCount) {
    const CallbackCounts before = callbackCounts();
    const fmiComponent c =
        fmi.instantiateSlave("bench", guid, "", "application/x-fmu-sharedlibrary", 0.0, fmiFalse,
                             fmiFalse, countingCallbacks(), fmiFalse);
    if (c == nullptr) {
        return "cannot create the slave";
    }
    const CallbackCounts instantiated = callbackCounts();
    std::vector<fmiValueReference> vr(realCount);
    for (std::uint32_t i = 0; i < realCount; ++i) {
        vr[i] = i;
    }
    std::vector<fmiReal> values(realCount);
    fmiStatus status = fmiOK;
    fmiReal realStatus = 0.0;
    for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
        fmi.setDebugLogging(c, loggingOn);
        fmi.initializeSlave(c, 0.0, fmiFalse, 1.0);
        fmi.getReal(c, vr.data(), vr.size(), values.data());
        fmi.setReal(c, vr.data(), vr.size(), values.data());
        fmi.setInteger(c, nullptr, 0, nullptr);
        fmi.getBoolean(c, nullptr, 0, nullptr);
        fmi.doStep(c, 0.0, 1.0e-3, fmiTrue);
        fmi.doStep(c, 1.0e-3, 0.0, fmiFalse);
        fmi.cancelStep(c);
        fmi.getStatus(c, fmiDoStepStatus, &status);
        fmi.getRealStatus(c, fmiLastSuccessfulTime, &realStatus);
        fmi.getRealOutputDerivatives(c, vr.data(), 0, nullptr, values.data());
        fmi.setRealInputDerivatives(c, vr.data(), 0, nullptr, values.data());
        fmi.resetSlave(c);
    }
    fmi.initializeSlave(c, 0.0, fmiFalse, 1.0);
    fmi.terminateSlave(c);
    fmi.getReal(c, vr.data(), vr.size(), values.data());
    const CallbackCounts beforeFree = callbackCounts();
    fmi.freeSlaveInstance(c);
    const CallbackCounts after = callbackCounts();

    const std::uint64_t obtained = instantiated.allocations - before.allocations;
    if (beforeFree.allocations != instantiated.allocations) {
        return "allocated after instantiation";
    }
    if (beforeFree.frees != instantiated.frees) {
        return "freed before fmiFreeSlaveInstance";
    }
    if (after.frees - beforeFree.frees != obtained) {
        return "fmiFreeSlaveInstance gave back " + std::to_string(after.frees - beforeFree.frees) +
               " of " + std::to_string(obtained) + " blocks";
    }
    return {};
}

InitializedSlave::InitializedSlave(const FmiFunctions& fmi, const char* guid) : fmi_(fmi) {
    fmiComponent c = fmi.instantiateSlave("bench", guid, "", "application/x-fmu-sharedlibrary", 0.0,
                                          fmiFalse, fmiFalse, countingCallbacks(), fmiFalse);
    if (c == nullptr) {
        return;
    }
    if (fmi.initializeSlave(c, 0.0, fmiFalse, 0.0) != fmiOK) {
        // An instance that is not Initialized cannot be terminated, and one in
        // Error cannot be freed: it is left to the end of the process.
        return;
    }
    component_ = c;
}

InitializedSlave::~InitializedSlave() {
    if (component_ != nullptr) {
        fmi_.terminateSlave(component_);
        fmi_.freeSlaveInstance(component_);
    }
}

}  // namespace bench
