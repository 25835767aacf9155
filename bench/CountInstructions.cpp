// The program that scripts/count-instructions.sh runs under callgrind: it
// makes a given number of calls of one subject, so that the instructions
// counted inside the subject's function divided by the calls give the
// instructions per call, whatever the machine and its load.
//
//   slave_count <model> check
//   slave_count <model> <subject> <calls>
//
// Subjects: floor, fmiDoStep, fmiSetReal, fmiGetReal (one value per call),
// fmiSetRealAll, fmiGetRealAll (every real value per call). Prints the
// function whose instructions to count and the elements per call.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSlave.h"
#include "Floor.h"

// The floor of each model in a function of its own, which callgrind can count
// on its own. noipa keeps the compiler from specializing it for the constant
// step size of the loop below, which the slave's exported function cannot be.
extern "C" [[gnu::noipa]] void floorStepHalvorn(bench::FloorSlave<bench::Halvorn>& floor,
                                                fmiReal time, fmiReal stepSize) {
    bench::floorStep(floor, time, stepSize);
}

extern "C" [[gnu::noipa]] void floorStepPendrake(bench::FloorSlave<bench::Pendrake>& floor,
                                                 fmiReal time, fmiReal stepSize) {
    bench::floorStep(floor, time, stepSize);
}

extern "C" [[gnu::noipa]] void floorStepCorvessa(bench::FloorSlave<bench::Corvessa>& floor,
                                                 fmiReal time, fmiReal stepSize) {
    bench::floorStep(floor, time, stepSize);
}

namespace {

template <typename Model>
struct FloorFunction;
template <>
struct FloorFunction<bench::Halvorn> {
    static constexpr auto kFunction = floorStepHalvorn;
    static constexpr const char* kName = "floorStepHalvorn";
};
template <>
struct FloorFunction<bench::Pendrake> {
    static constexpr auto kFunction = floorStepPendrake;
    static constexpr const char* kName = "floorStepPendrake";
};
template <>
struct FloorFunction<bench::Corvessa> {
    static constexpr auto kFunction = floorStepCorvessa;
    static constexpr const char* kName = "floorStepCorvessa";
};

int usage() {
    std::fprintf(stderr,
                 "usage: slave_count <model> check\n"
                 "       slave_count <model> floor|fmiDoStep|fmiSetReal|fmiGetReal|"
                 "fmiSetRealAll|fmiGetRealAll <calls>\n");
    return 2;
}

template <typename Model>
int run(const std::string& subject, long calls) {
    const FmiFunctions& fmi = bench::loadedSlave(Model::kIdentifier);
    bench::InitializedSlave slave(fmi, Model::kGuid);
    const fmiComponent c = slave.component();
    if (c == nullptr) {
        std::fprintf(stderr, "%s: cannot create the slave\n", Model::kIdentifier);
        return 1;
    }
    if (subject == "check") {
        const std::string difference = bench::differencesFromFloor<Model>(fmi, c);
        if (!difference.empty()) {
            std::fprintf(stderr, "the floor is not the slave's arithmetic: %s\n",
                         difference.c_str());
            return 1;
        }
        return 0;
    }
    bench::setOperatingPoint<Model>(fmi, c);
    fmi.doStep(c, 0.0, bench::kStepSize, fmiTrue);

    const std::string prefix = std::string(Model::kIdentifier) + "_";
    fmiReal time = 0.0;
    if (subject == "floor") {
        bench::FloorSlave<Model> floor = bench::floorHoldingValuesOf<Model>(fmi, c);
        for (long i = 0; i < calls; ++i) {
            FloorFunction<Model>::kFunction(floor, time, bench::kStepSize);
            time += bench::kStepSize;
        }
        std::printf("%s 1\n", FloorFunction<Model>::kName);
        return 0;
    }
    if (subject == "fmiDoStep") {
        int statuses = fmiOK;
        for (long i = 0; i < calls; ++i) {
            statuses |= fmi.doStep(c, time, bench::kStepSize, fmiTrue);
            time += bench::kStepSize;
        }
        std::printf("%sfmiDoStep 1\n", prefix.c_str());
        return statuses == fmiOK ? 0 : 1;
    }
    const bool set = subject == "fmiSetReal" || subject == "fmiSetRealAll";
    const bool all = subject == "fmiSetRealAll" || subject == "fmiGetRealAll";
    if (!set && !all && subject != "fmiGetReal") {
        return usage();
    }
    std::vector<fmiValueReference> vr;
    if (all) {
        for (std::uint32_t i = 0; i < Model::kRealCount; ++i) {
            vr.push_back(i);
        }
    } else {
        vr.push_back(set ? Model::kOperands[0] : Model::kFirstOutput);
    }
    std::vector<fmiReal> values(vr.size());
    fmi.getReal(c, vr.data(), vr.size(), values.data());
    int statuses = fmiOK;
    for (long i = 0; i < calls; ++i) {
        statuses |= set ? fmi.setReal(c, vr.data(), vr.size(), values.data())
                        : fmi.getReal(c, vr.data(), vr.size(), values.data());
    }
    std::printf("%s%s %zu\n", prefix.c_str(), set ? "fmiSetReal" : "fmiGetReal", vr.size());
    return statuses == fmiOK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string model = argv[1];
    const std::string subject = argv[2];
    long calls = 0;
    if (subject != "check") {
        if (argc != 4 || (calls = std::strtol(argv[3], nullptr, 10)) <= 0) {
            return usage();
        }
    }
    if (model == bench::Halvorn::kIdentifier) {
        return run<bench::Halvorn>(subject, calls);
    }
    if (model == bench::Pendrake::kIdentifier) {
        return run<bench::Pendrake>(subject, calls);
    }
    if (model == bench::Corvessa::kIdentifier) {
        return run<bench::Corvessa>(subject, calls);
    }
    return usage();
}
