#include "FmiVersions.h"

#include <map>
#include <mutex>
#include <vector>

#include "RuntimeCalloc.h"

namespace bench {

namespace {

constexpr const char* kInstanceName = "bench";

std::vector<std::uint32_t> allValueReferences(std::uint32_t realCount) {
    std::vector<std::uint32_t> vr(realCount);
    for (std::uint32_t i = 0; i < realCount; ++i) {
        vr[i] = i;
    }
    return vr;
}

// What the callbacks' counts say about the calls between instantiation
// (`instantiated`) and the free (`beforeFree` to `after`), given the counts
// before instantiation.
std::string allocationFindings(const CallbackCounts& before, const CallbackCounts& instantiated,
                               const CallbackCounts& beforeFree, const CallbackCounts& after) {
    const std::uint64_t obtained = instantiated.allocations - before.allocations;
    if (beforeFree.allocations != instantiated.allocations) {
        return "allocated after instantiation";
    }
    if (beforeFree.frees != instantiated.frees) {
        return "freed before the instance was freed";
    }
    if (after.frees - beforeFree.frees != obtained) {
        return "freeing the instance gave back " + std::to_string(after.frees - beforeFree.frees) +
               " of " + std::to_string(obtained) + " blocks";
    }
    return {};
}

}  // namespace

const FmiFunctions& Fmi1::load(const char* identifier) {
    const SlaveLibrary& library = loadedLibrary(identifier, "");
    if (library.fmiVersion() != 1) {
        exitWithMessage(library.path() + " is no FMI 1.0 library");
    }
    return library.fmi();
}

Component Fmi1::instantiate(const Functions& fmi, const char* guid) {
    return fmi.instantiateSlave(kInstanceName, guid, "", "application/x-fmu-sharedlibrary", 0.0,
                                fmiFalse, fmiFalse, countingCallbacks(), fmiFalse);
}

bool Fmi1::initialize(const Functions& fmi, Component c) {
    return fmi.initializeSlave(c, 0.0, fmiFalse, 0.0) == fmiOK;
}

bool Fmi1::terminate(const Functions& fmi, Component c) {
    return fmi.terminateSlave(c) == fmiOK;
}

void Fmi1::freeInstance(const Functions& fmi, Component c) {
    fmi.freeSlaveInstance(c);
}

std::string Fmi1::allocationsAfterInstantiation(
    const Functions& fmi, const char* guid, std::uint32_t realCount,
    const std::vector<fmiValueReference>& /*settable*/) {
    const CallbackCounts before = callbackCounts();
    const fmiComponent c = instantiate(fmi, guid);
    if (c == nullptr) {
        return "cannot create the slave";
    }
    const CallbackCounts instantiated = callbackCounts();
    const std::vector<fmiValueReference> vr = allValueReferences(realCount);
    std::vector<fmiReal> values(realCount);
    fmiStatus status = fmiOK;
    fmiReal realStatus = 0.0;
    // Every real value is written: this 1.0 slave lets a master set its
    // outputs too.
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
    return allocationFindings(before, instantiated, beforeFree, callbackCounts());
}

const Fmi2Functions& Fmi2::load(const char* identifier) {
    static std::mutex mutex;
    static std::map<const SlaveLibrary*, Fmi2Functions> resolved;
    const SlaveLibrary& library = loadedLibrary(identifier, "fmi2");
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = resolved.find(&library);
    if (found != resolved.end()) {
        return found->second;
    }
    Fmi2Functions functions;
    std::string error;
    if (library.fmiVersion() != 2 || !resolveFmi2Functions(library, functions, error)) {
        exitWithMessage(library.path() + " is no FMI 2.0 library " + error);
    }
    return resolved.emplace(&library, functions).first->second;
}

Component Fmi2::instantiate(const Functions& fmi, const char* guid) {
    const fmi2CallbackFunctions callbacks = countingCallbacks2();
    return fmi.instantiate(kInstanceName, fmi2CoSimulation, guid, "", &callbacks, fmi2False,
                           fmi2False);
}

bool Fmi2::initialize(const Functions& fmi, Component c) {
    return fmi.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0) == fmi2OK &&
           fmi.enterInitializationMode(c) == fmi2OK && fmi.exitInitializationMode(c) == fmi2OK;
}

Component Fmi2::instantiateModelExchange(const Functions& fmi, const char* guid) {
    const fmi2CallbackFunctions callbacks = countingCallbacks2();
    return fmi.instantiate(kInstanceName, fmi2ModelExchange, guid, "", &callbacks, fmi2False,
                           fmi2False);
}

bool Fmi2::enterContinuousTimeMode(const Functions& fmi, Component c) {
    if (!initialize(fmi, c)) {
        return false;
    }
    fmi2EventInfo eventInfo{};
    eventInfo.newDiscreteStatesNeeded = fmi2True;
    while (eventInfo.newDiscreteStatesNeeded != fmi2False) {
        if (fmi.newDiscreteStates(c, &eventInfo) != fmi2OK) {
            return false;
        }
    }
    return fmi.enterContinuousTimeMode(c) == fmi2OK;
}

bool Fmi2::terminate(const Functions& fmi, Component c) {
    return fmi.terminate(c) == fmi2OK;
}

void Fmi2::freeInstance(const Functions& fmi, Component c) {
    fmi.freeInstance(c);
}

std::string Fmi2::allocationsAfterInstantiation(const Functions& fmi, const char* guid,
                                                std::uint32_t realCount,
                                                const std::vector<fmi2ValueReference>& settable) {
    const CallbackCounts before = callbackCounts();
    const fmi2Component c = instantiate(fmi, guid);
    if (c == nullptr) {
        return "cannot create the slave";
    }
    const CallbackCounts instantiated = callbackCounts();
    const std::vector<fmi2ValueReference> vr = allValueReferences(realCount);
    std::vector<fmi2Real> values(realCount);
    fmi2Status status = fmi2OK;
    fmi2Real realStatus = 0.0;
    fmi2Boolean booleanStatus = fmi2False;
    for (const fmi2Boolean loggingOn : {fmi2False, fmi2True}) {
        fmi.setDebugLogging(c, loggingOn, 0, nullptr);
        fmi.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2True, 1.0);
        fmi.enterInitializationMode(c);
        fmi.setReal(c, vr.data(), 0, values.data());
        fmi.exitInitializationMode(c);
        fmi.getReal(c, vr.data(), vr.size(), values.data());
        fmi.setReal(c, settable.data(), settable.size(), values.data());
        fmi.setInteger(c, nullptr, 0, nullptr);
        fmi.getBoolean(c, nullptr, 0, nullptr);
        fmi.doStep(c, 0.0, 1.0e-3, fmi2True);
        fmi.doStep(c, 1.0e-3, 1.0e-3, fmi2False);
        fmi.getStatus(c, fmi2DoStepStatus, &status);
        fmi.getRealStatus(c, fmi2LastSuccessfulTime, &realStatus);
        fmi.getBooleanStatus(c, fmi2Terminated, &booleanStatus);
        fmi.getDirectionalDerivative(c, vr.data(), 0, vr.data(), 0, values.data(), values.data());
        fmi.getRealOutputDerivatives(c, vr.data(), 0, nullptr, values.data());
        fmi.setRealInputDerivatives(c, vr.data(), 0, nullptr, values.data());
        fmi.reset(c);
    }
    initialize(fmi, c);
    fmi.terminate(c);
    fmi.getReal(c, vr.data(), vr.size(), values.data());
    const CallbackCounts beforeFree = callbackCounts();
    fmi.freeInstance(c);
    return allocationFindings(before, instantiated, beforeFree, callbackCounts());
}

const Fmi3Functions& Fmi3::load(const char* identifier) {
    static std::mutex mutex;
    static std::map<const SlaveLibrary*, Fmi3Functions> resolved;
    const SlaveLibrary& library = loadedLibrary(identifier, "fmi3");
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = resolved.find(&library);
    if (found != resolved.end()) {
        return found->second;
    }
    Fmi3Functions functions;
    std::string error;
    if (library.fmiVersion() != 3 || !resolveFmi3Functions(library, functions, error)) {
        exitWithMessage(library.path() + " is no FMI 3.0 library " + error);
    }
    if (!rebindRuntimeCalloc(library, error)) {
        exitWithMessage("cannot watch the calloc of " + library.path() + ": " + error);
    }
    return resolved.emplace(&library, functions).first->second;
}

Component Fmi3::instantiate(const Functions& fmi, const char* guid) {
    return fmi.instantiateCoSimulation(kInstanceName, guid, nullptr, fmi3False, fmi3False,
                                       fmi3False, fmi3False, nullptr, 0, nullptr,
                                       countingLogMessage3(), nullptr);
}

bool Fmi3::initialize(const Functions& fmi, Component c) {
    return fmi.enterInitializationMode(c, fmi3False, 0.0, 0.0, fmi3False, 0.0) == fmi3OK &&
           fmi.exitInitializationMode(c) == fmi3OK;
}

Component Fmi3::instantiateModelExchange(const Functions& fmi, const char* guid) {
    return fmi.instantiateModelExchange(kInstanceName, guid, nullptr, fmi3False, fmi3False, nullptr,
                                        countingLogMessage3());
}

bool Fmi3::enterContinuousTimeMode(const Functions& fmi, Component c) {
    if (!initialize(fmi, c)) {
        return false;
    }
    fmi3Boolean more = fmi3True;
    fmi3Boolean terminate = fmi3False;
    fmi3Boolean nominalsChanged = fmi3False;
    fmi3Boolean valuesChanged = fmi3False;
    fmi3Boolean nextEventTimeDefined = fmi3False;
    fmi3Float64 nextEventTime = 0.0;
    while (more) {
        if (fmi.updateDiscreteStates(c, &more, &terminate, &nominalsChanged, &valuesChanged,
                                     &nextEventTimeDefined, &nextEventTime) != fmi3OK) {
            return false;
        }
    }
    return fmi.enterContinuousTimeMode(c) == fmi3OK;
}

bool Fmi3::terminate(const Functions& fmi, Component c) {
    return fmi.terminate(c) == fmi3OK;
}

void Fmi3::freeInstance(const Functions& fmi, Component c) {
    fmi.freeInstance(c);
}

std::string Fmi3::allocationsAfterInstantiation(const Functions& fmi, const char* guid,
                                                std::uint32_t realCount,
                                                const std::vector<fmi3ValueReference>& settable) {
    const fmi3Instance c = instantiate(fmi, guid);
    if (c == nullptr) {
        return "cannot create the slave";
    }
    const std::size_t instantiated = runtimeCallocRequests();
    const std::vector<fmi3ValueReference> vr = allValueReferences(realCount);
    std::vector<fmi3Float64> values(realCount);
    std::vector<fmi3Float64> derivatives(realCount);
    std::size_t dependencies = 0;
    for (const fmi3Boolean loggingOn : {fmi3False, fmi3True}) {
        fmi.setDebugLogging(c, loggingOn, 0, nullptr);
        fmi.enterInitializationMode(c, fmi3False, 0.0, 0.0, fmi3True, 1.0);
        fmi.setFloat64(c, settable.data(), 0, values.data(), 0);
        fmi.exitInitializationMode(c);
        fmi.getFloat64(c, vr.data(), vr.size(), values.data(), values.size());
        fmi.setFloat64(c, settable.data(), settable.size(), values.data(), settable.size());
        fmi.getInt32(c, nullptr, 0, nullptr, 0);
        fmi.setBoolean(c, nullptr, 0, nullptr, 0);
        doStep(fmi, c, 0.0, 1.0e-3);
        doStep(fmi, c, 1.0e-3, 1.0e-3);
        fmi.getNumberOfVariableDependencies(c, vr.back(), &dependencies);
        fmi.getDirectionalDerivative(c, vr.data(), 0, settable.data(), 0, values.data(), 0,
                                     derivatives.data(), 0);
        fmi.getOutputDerivatives(c, vr.data(), 0, nullptr, values.data(), 0);
        fmi.reset(c);
    }
    initialize(fmi, c);
    fmi.terminate(c);
    fmi.getFloat64(c, vr.data(), vr.size(), values.data(), values.size());
    const std::size_t beforeFree = runtimeCallocRequests();
    fmi.freeInstance(c);
    if (beforeFree != instantiated) {
        return "asked the C runtime for memory after instantiation";
    }
    return {};
}

}  // namespace bench
