// The program that scripts/count-instructions.sh runs under callgrind: it
// makes a given number of calls of one subject, so that the instructions
// counted inside the subject's function divided by the calls give the
// instructions per call, whatever the machine and its load.
//
//   slave_count <model> <version> check
//   slave_count <model> <version> <subject> <calls>
//
// Versions: fmi1, fmi2, fmi3. Subjects: floor, floorMxcsr (the floor inside the
// switch to flush-to-zero and back, for a model validated under
// flush-to-zero), doStep, setReal, getReal (one value per call), setRealAll,
// getRealAll (every value per call that bench::accessedReals names), exchange
// (a Model Exchange instance's one input set and one output read, 2.0 and 3.0). Prints
// the function whose instructions to count and the elements per call. The
// floors are the same for every version; their checks load the version's
// slave.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSlave.h"
#include "Floor.h"
#include "FmiVersions.h"

// The floor in a function of its own, which callgrind can count on its own.
// noipa keeps the compiler from specializing it for the constant step size of
// the loop below, which the slave's exported function cannot be.
extern "C" [[gnu::noipa]] void floorStepOfModel(bench::FloorSlave& floor, fmiReal time,
                                                fmiReal stepSize) {
    bench::floorStep(floor, time, stepSize);
}

// The floor inside the MXCSR switch, the bits passed in as a slave reads them
// from its instance.
extern "C" [[gnu::noipa]] void floorStepOfModelUnder(std::uint32_t mxcsrBits,
                                                     bench::FloorSlave& floor, fmiReal time,
                                                     fmiReal stepSize) {
    bench::floorStepUnder(mxcsrBits, floor, time, stepSize);
}

// What a Model Exchange master's solver does at a stage: set one input and
// read one output, which the slave computes at that read. One function per
// version, which callgrind can count on its own.
template <typename Version>
[[gnu::always_inline]] inline int exchangeOnce(const typename Version::Functions& fmi,
                                               bench::Component c, const fmiValueReference* input,
                                               const fmiReal* value,
                                               const fmiValueReference* output, fmiReal* result) {
    return Version::setReal(fmi, c, input, 1, value) | Version::getReal(fmi, c, output, 1, result);
}

extern "C" [[gnu::noipa]] int exchangeFmi2(const bench::Fmi2::Functions& fmi, bench::Component c,
                                           const fmiValueReference* input, const fmiReal* value,
                                           const fmiValueReference* output, fmiReal* result) {
    return exchangeOnce<bench::Fmi2>(fmi, c, input, value, output, result);
}

extern "C" [[gnu::noipa]] int exchangeFmi3(const bench::Fmi3::Functions& fmi, bench::Component c,
                                           const fmiValueReference* input, const fmiReal* value,
                                           const fmiValueReference* output, fmiReal* result) {
    return exchangeOnce<bench::Fmi3>(fmi, c, input, value, output, result);
}

namespace {

template <typename Version>
struct ExchangeFunction;
template <>
struct ExchangeFunction<bench::Fmi2> {
    static constexpr auto kFunction = exchangeFmi2;
    static constexpr const char* kName = "exchangeFmi2";
};
template <>
struct ExchangeFunction<bench::Fmi3> {
    static constexpr auto kFunction = exchangeFmi3;
    static constexpr const char* kName = "exchangeFmi3";
};

// The exit status for a subject that does not apply to the model.
constexpr int kNotApplicable = 3;

int usage() {
    std::fprintf(
        stderr,
        "usage: slave_count <model> fmi1|fmi2|fmi3 check\n"
        "       slave_count <model> fmi1|fmi2|fmi3 floor|floorMxcsr|doStep|setReal|getReal|"
        "setRealAll|getRealAll|exchange <calls>\n");
    return 2;
}

int countFloor(bench::FloorSlave& floor, long calls) {
    fmiReal time = 0.0;
    for (long i = 0; i < calls; ++i) {
        floorStepOfModel(floor, time, bench::kStepSize);
        time += bench::kStepSize;
    }
    std::printf("floorStepOfModel 1\n");
    return 0;
}

int countFloorUnderMxcsr(const bench::Model& model, bench::FloorSlave& floor, long calls) {
    if (!model.flushesToZero) {
        return kNotApplicable;
    }
    fmiReal time = 0.0;
    for (long i = 0; i < calls; ++i) {
        floorStepOfModelUnder(bench::kFlushToZeroBits, floor, time, bench::kStepSize);
        time += bench::kStepSize;
    }
    std::printf("floorStepOfModelUnder 1\n");
    return 0;
}

template <typename Version>
int countDoStep(const bench::Model& model, const typename Version::Functions& fmi,
                bench::Component c, long calls) {
    int statuses = bench::kStatusOk;
    fmiReal time = 0.0;
    for (long i = 0; i < calls; ++i) {
        statuses |= Version::doStep(fmi, c, time, bench::kStepSize);
        time += bench::kStepSize;
    }
    std::printf("%s 1\n", Version::exportedName(model.identifier, Version::kDoStep).c_str());
    return statuses == bench::kStatusOk ? 0 : 1;
}

template <typename Version>
int countAccess(const bench::Model& model, const typename Version::Functions& fmi,
                bench::Component c, bool set, bool all, long calls) {
    const std::vector<fmiValueReference> vr = bench::accessedReals(model, set, all);
    std::vector<fmiReal> values(vr.size());
    Version::getReal(fmi, c, vr.data(), vr.size(), values.data());
    int statuses = bench::kStatusOk;
    for (long i = 0; i < calls; ++i) {
        statuses |= set ? Version::setReal(fmi, c, vr.data(), vr.size(), values.data())
                        : Version::getReal(fmi, c, vr.data(), vr.size(), values.data());
    }
    const char* const function = set ? Version::kSetReal : Version::kGetReal;
    std::printf("%s %zu\n", Version::exportedName(model.identifier, function).c_str(), vr.size());
    return statuses == bench::kStatusOk ? 0 : 1;
}

// A Model Exchange instance in continuous-time mode at the operating point,
// its last input set to the operating point's value and to its negation by
// turns, so that every read follows a change and computes.
template <typename Version>
int countExchange(const bench::Model& model, long calls) {
    if constexpr (!Version::kHasModelExchange) {
        static_cast<void>(model);
        static_cast<void>(calls);
        return kNotApplicable;
    } else {
        if (!model.hasInput) {
            return kNotApplicable;
        }
        const auto& fmi = Version::load(model.identifier);
        const bench::Component c = Version::instantiateModelExchange(fmi, model.guid);
        // Parameters are set before continuous-time mode, which takes inputs only.
        if (c == nullptr || bench::setOperatingPoint<Version>(fmi, c, model) != bench::kStatusOk ||
            !Version::enterContinuousTimeMode(fmi, c)) {
            std::fprintf(stderr, "%s: cannot create the Model Exchange instance\n",
                         model.identifier);
            return 1;
        }
        const fmiValueReference input = model.lastInput;
        const fmiValueReference output = model.firstOutput;
        const fmiReal value = model.operatingPoint[static_cast<std::size_t>(
            std::find(model.operands.begin(), model.operands.end(), input) -
            model.operands.begin())];
        const fmiReal values[] = {value, -value};
        fmiReal result = 0.0;
        int statuses = bench::kStatusOk;
        for (long i = 0; i < calls; ++i) {
            statuses |= ExchangeFunction<Version>::kFunction(fmi, c, &input, &values[i & 1],
                                                             &output, &result);
        }
        Version::terminate(fmi, c);
        Version::freeInstance(fmi, c);
        std::printf("%s 1\n", ExchangeFunction<Version>::kName);
        return statuses == bench::kStatusOk ? 0 : 1;
    }
}

template <typename Version>
int run(const bench::Model& model, const std::string& subject, long calls) {
    if (subject == "exchange") {
        return countExchange<Version>(model, calls);
    }
    const auto& fmi = Version::load(model.identifier);
    bench::InitializedSlave<Version> slave(fmi, model.guid);
    const bench::Component c = slave.component();
    if (c == nullptr) {
        std::fprintf(stderr, "%s: cannot create the slave\n", model.identifier);
        return 1;
    }
    if (subject == "check") {
        const std::string difference = bench::differencesFromFloor<Version>(fmi, c, model);
        if (!difference.empty()) {
            std::fprintf(stderr, "the floor is not the slave's arithmetic: %s\n",
                         difference.c_str());
            return 1;
        }
        return 0;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    Version::doStep(fmi, c, 0.0, bench::kStepSize);

    if (subject == "floor" || subject == "floorMxcsr") {
        bench::FloorSlave floor = bench::floorHoldingValuesOf<Version>(fmi, c, model);
        return subject == "floor" ? countFloor(floor, calls)
                                  : countFloorUnderMxcsr(model, floor, calls);
    }
    if (subject == "doStep") {
        return countDoStep<Version>(model, fmi, c, calls);
    }
    const bool set = subject == "setReal" || subject == "setRealAll";
    const bool all = subject == "setRealAll" || subject == "getRealAll";
    if (!set && !all && subject != "getReal") {
        return usage();
    }
    return countAccess<Version>(model, fmi, c, set, all, calls);
}

// Runs the subject on the version that the tag names.
template <typename... Versions>
int runVersion(const bench::Model& model, const std::string& tag, const std::string& subject,
               long calls, bench::VersionList<Versions...>) {
    int status = 0;
    const auto runIfNamed = [&](auto version) {
        using Version = decltype(version);
        if (tag != Version::kTag) {
            return false;
        }
        status = run<Version>(model, subject, calls);
        return true;
    };
    const bool known = (runIfNamed(Versions{}) || ...);
    return known ? status : usage();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return usage();
    }
    const std::string model = argv[1];
    const std::string version = argv[2];
    const std::string subject = argv[3];
    long calls = 0;
    if (subject != "check") {
        if (argc != 5 || (calls = std::strtol(argv[4], nullptr, 10)) <= 0) {
            return usage();
        }
    }
    const bench::Model* const found = bench::findModel(model);
    if (found == nullptr) {
        std::fprintf(stderr, "slave_count: no model %s in this build\n", model.c_str());
        return usage();
    }
    return runVersion(*found, version, subject, calls, bench::MeasuredVersions{});
}
