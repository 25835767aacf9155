// The FMI versions that the benchmarks measure, each a type that knows where
// its library is, what its calls are named and how a master makes them. The
// benchmarks and the instruction counts are written once, for any version; a
// version is one more of these types and one more entry where the programs
// list them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "BenchSlave.h"
#include "Fmi2Functions.h"
#include "Fmi3Functions.h"

namespace bench {

// fmiComponent, fmi2Component and fmi3Instance alike.
using Component = void*;

// The status every accepted call returns: fmiOK, fmi2OK and fmi3OK alike.
constexpr int kStatusOk = 0;

struct Fmi1 {
    using Functions = FmiFunctions;
    // Names the version in benchmark names and on the command line.
    static constexpr const char* kTag = "fmi1";
    static constexpr const char* kDoStep = "fmiDoStep";
    static constexpr const char* kSetReal = "fmiSetReal";
    static constexpr const char* kGetReal = "fmiGetReal";
    // fmiInitializeSlave arms a time event at -1 s, and no model moves it: a
    // substep updates the outputs only when it ends after that.
    static constexpr fmiReal kEventTime = -1.0;

    static const Functions& load(const char* identifier);
    // The exported function that callgrind counts: 1.0 prefixes the model
    // identifier.
    static std::string exportedName(const char* identifier, const char* function) {
        return std::string(identifier) + "_" + function;
    }

    static Component instantiate(const Functions& fmi, const char* guid);
    static bool initialize(const Functions& fmi, Component c);
    static bool terminate(const Functions& fmi, Component c);
    static void freeInstance(const Functions& fmi, Component c);
    // The 1.0 libraries are co-simulation slaves only.
    static constexpr bool kHasModelExchange = false;

    // Every step, even a zero, negative or NaN one, returns fmiOK.
    static bool acceptsStep(fmiReal /*time*/, fmiReal /*stepSize*/) {
        return true;
    }
    static int doStep(const Functions& fmi, Component c, fmiReal time, fmiReal stepSize) {
        return fmi.doStep(c, time, stepSize, fmiTrue);
    }
    static int setReal(const Functions& fmi, Component c, const fmiValueReference* vr,
                       std::size_t nvr, const fmiReal* values) {
        return fmi.setReal(c, vr, nvr, values);
    }
    static int getReal(const Functions& fmi, Component c, const fmiValueReference* vr,
                       std::size_t nvr, fmiReal* values) {
        return fmi.getReal(c, vr, nvr, values);
    }

    // Makes every call that an instance accepts after fmiInstantiateSlave,
    // with logging off and on, through to fmiFreeSlaveInstance, and yields
    // what was wrong: an allocation or a free before fmiFreeSlaveInstance, or
    // a block that fmiFreeSlaveInstance did not give back. Empty when nothing
    // was.
    // `settable` lists the parameters and inputs.
    static std::string allocationsAfterInstantiation(
        const Functions& fmi, const char* guid, std::uint32_t realCount,
        const std::vector<fmiValueReference>& settable);
};

struct Fmi2 {
    using Functions = Fmi2Functions;
    static constexpr const char* kTag = "fmi2";
    static constexpr const char* kDoStep = "fmi2DoStep";
    static constexpr const char* kSetReal = "fmi2SetReal";
    static constexpr const char* kGetReal = "fmi2GetReal";
    // No threshold: every substep updates the outputs. The slave compares
    // with minus infinity, which only a NaN time would fail.
    static constexpr fmi2Real kEventTime = -std::numeric_limits<fmi2Real>::infinity();

    static const Functions& load(const char* identifier);
    // 2.0 exports its functions under their own names.
    static std::string exportedName(const char* /*identifier*/, const char* function) {
        return function;
    }

    static Component instantiate(const Functions& fmi, const char* guid);
    static bool initialize(const Functions& fmi, Component c);
    static bool terminate(const Functions& fmi, Component c);
    static void freeInstance(const Functions& fmi, Component c);
    // A Model Exchange instance, and its way through initialization and the
    // event iteration into continuous-time mode, where a master's solver
    // sets inputs and reads outputs.
    static constexpr bool kHasModelExchange = true;
    static Component instantiateModelExchange(const Functions& fmi, const char* guid);
    static bool enterContinuousTimeMode(const Functions& fmi, Component c);

    // A finite communication point and a finite, positive step size; any
    // other step is refused and leaves the instance in Error.
    static bool acceptsStep(fmi2Real time, fmi2Real stepSize) {
        return stepSize > 0.0 && stepSize - stepSize == 0.0 && time - time == 0.0;
    }
    static int doStep(const Functions& fmi, Component c, fmi2Real time, fmi2Real stepSize) {
        return fmi.doStep(c, time, stepSize, fmi2True);
    }
    static int setReal(const Functions& fmi, Component c, const fmi2ValueReference* vr,
                       std::size_t nvr, const fmi2Real* values) {
        return fmi.setReal(c, vr, nvr, values);
    }
    static int getReal(const Functions& fmi, Component c, const fmi2ValueReference* vr,
                       std::size_t nvr, fmi2Real* values) {
        return fmi.getReal(c, vr, nvr, values);
    }

    // As for 1.0, from fmi2Instantiate to fmi2FreeInstance, leaving out the
    // FMU-state calls: an FMU state is a block from the master's allocator by
    // design.
    static std::string allocationsAfterInstantiation(
        const Functions& fmi, const char* guid, std::uint32_t realCount,
        const std::vector<fmi2ValueReference>& settable);
};

struct Fmi3 {
    using Functions = Fmi3Functions;
    static constexpr const char* kTag = "fmi3";
    static constexpr const char* kDoStep = "fmi3DoStep";
    static constexpr const char* kSetReal = "fmi3SetFloat64";
    static constexpr const char* kGetReal = "fmi3GetFloat64";
    // No threshold, as in 2.0.
    static constexpr fmi3Float64 kEventTime = -std::numeric_limits<fmi3Float64>::infinity();

    // Also rebinds the library's calloc to a counter (tests/master/
    // RuntimeCalloc), which is how the program sees a 3.0 slave's memory.
    static const Functions& load(const char* identifier);
    static std::string exportedName(const char* /*identifier*/, const char* function) {
        return function;
    }

    static Component instantiate(const Functions& fmi, const char* guid);
    static bool initialize(const Functions& fmi, Component c);
    static bool terminate(const Functions& fmi, Component c);
    static void freeInstance(const Functions& fmi, Component c);
    static constexpr bool kHasModelExchange = true;
    static Component instantiateModelExchange(const Functions& fmi, const char* guid);
    static bool enterContinuousTimeMode(const Functions& fmi, Component c);

    static bool acceptsStep(fmi3Float64 time, fmi3Float64 stepSize) {
        return Fmi2::acceptsStep(time, stepSize);
    }
    // The step's four results go where a master keeps them, on its stack.
    static int doStep(const Functions& fmi, Component c, fmi3Float64 time, fmi3Float64 stepSize) {
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminateSimulation = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        fmi3Float64 lastSuccessfulTime = 0.0;
        return fmi.doStep(c, time, stepSize, fmi3True, &eventHandlingNeeded, &terminateSimulation,
                          &earlyReturn, &lastSuccessfulTime);
    }
    static int setReal(const Functions& fmi, Component c, const fmi3ValueReference* vr,
                       std::size_t nvr, const fmi3Float64* values) {
        return fmi.setFloat64(c, vr, nvr, values, nvr);
    }
    static int getReal(const Functions& fmi, Component c, const fmi3ValueReference* vr,
                       std::size_t nvr, fmi3Float64* values) {
        return fmi.getFloat64(c, vr, nvr, values, nvr);
    }

    // As for 2.0, from fmi3InstantiateCoSimulation to fmi3FreeInstance. What
    // is watched is the library's calloc, which must not be asked after
    // instantiation; its free is not watched.
    static std::string allocationsAfterInstantiation(
        const Functions& fmi, const char* guid, std::uint32_t realCount,
        const std::vector<fmi3ValueReference>& settable);
};

template <typename... Versions>
struct VersionList {};

// Every version that the benchmarks and the instruction counts measure,
// oldest first.
using MeasuredVersions = VersionList<Fmi1, Fmi2, Fmi3>;

// One instance, instantiated with the counting callbacks and logging off and
// then initialized; terminated and freed when it goes.
template <typename Version>
class InitializedSlave {
  public:
    InitializedSlave(const typename Version::Functions& fmi, const char* guid) : fmi_(fmi) {
        const Component c = Version::instantiate(fmi, guid);
        if (c == nullptr) {
            return;
        }
        if (!Version::initialize(fmi, c)) {
            // An instance that failed its initialization cannot be
            // terminated, and one in Error may not be freed: it is left to
            // the end of the process.
            return;
        }
        component_ = c;
    }
    ~InitializedSlave() {
        if (component_ != nullptr) {
            Version::terminate(fmi_, component_);
            Version::freeInstance(fmi_, component_);
        }
    }

    InitializedSlave(const InitializedSlave&) = delete;
    InitializedSlave& operator=(const InitializedSlave&) = delete;

    // Null when instantiation or initialization failed.
    Component component() const {
        return component_;
    }

  private:
    const typename Version::Functions& fmi_;
    Component component_ = nullptr;
};

}  // namespace bench
