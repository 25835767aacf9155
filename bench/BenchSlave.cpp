#include "BenchSlave.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

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

extern "C" void countingLogger2(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String,
                                fmi2String, ...) {
    ++counts.logs;
}

extern "C" void countingLogMessage(fmi3InstanceEnvironment, fmi3Status, fmi3String, fmi3String) {
    ++counts.logs;
}

extern "C" void ignoredStepFinished(fmiComponent, fmiStatus) {}

std::string libraryPath(const char* identifier, const char* versionDirectory) {
    const char* directory = std::getenv("SLAVE_BENCH_LIBRARY_DIR");
    if (directory == nullptr || directory[0] == '\0') {
        directory = SLAVE_BENCH_LIBRARY_DIR;
    }
    std::string path = std::string(directory) + "/";
    if (versionDirectory[0] != '\0') {
        path += std::string(versionDirectory) + "/";
    }
    return path + identifier + SLAVE_BENCH_LIBRARY_SUFFIX;
}

}  // namespace

CallbackCounts callbackCounts() {
    return counts;
}

fmiCallbackFunctions countingCallbacks() {
    return fmiCallbackFunctions{countingLogger, countingAllocate, countingFree,
                                ignoredStepFinished};
}

fmi2CallbackFunctions countingCallbacks2() {
    return fmi2CallbackFunctions{countingLogger2, countingAllocate, countingFree, nullptr, nullptr};
}

fmi3LogMessageCallback countingLogMessage3() {
    return countingLogMessage;
}

const SlaveLibrary& loadedLibrary(const char* identifier, const char* versionDirectory) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<SlaveLibrary>> libraries;
    const std::lock_guard<std::mutex> lock(mutex);
    const std::string path = libraryPath(identifier, versionDirectory);
    std::unique_ptr<SlaveLibrary>& library = libraries[path];
    if (library == nullptr) {
        auto loaded = std::make_unique<SlaveLibrary>();
        std::string error;
        if (!loaded->load(path, error)) {
            exitWithMessage("cannot load " + path + ": " + error);
        }
        library = std::move(loaded);
    }
    return *library;
}

void exitWithMessage(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(EXIT_FAILURE);
}

}  // namespace bench
