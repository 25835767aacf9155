// The cost per step of fmirun's run loop against the bare FMI calls it makes
// (set the inputs, step, get the outputs), in one program and on one model's
// demonstration: the same time points, the same inputs, the same library.
//
//   fmirun_cost <model> time <steps> [file]
//       prints the fastest of several runs of each subject, in ns per step
//   fmirun_cost <model> bare|rows|summary <steps> [file]
//       runs one subject once, for callgrind to count: scripts/fmirun-cost.sh
//       counts the instructions inside countedBare or countedRun
//
// With "file" the inputs come from a table of two rows, as from an input
// file of that form (every input from 0 at the start to a value of its own
// at the end, interpolated at every step), rather than the scenario.
//
// bare: the three calls per step through the library's functions, inputs
// and time points computed beforehand. rows: fmirun's run(), the rows written
// to a temporary file. summary: run() writing no rows (--summary-only).
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FmiTypes.h"
#include "Inputs.h"
#include "ModelDescription.h"
#include "Run.h"
#include "Slave.h"
#include "TimeGrid.h"

namespace {

// The scenarios last 4 s; every subject runs them through at this many steps.
constexpr double kScenarioSeconds = 4.0;

struct BareFunctions {
    fmiComponent (*instantiate)(fmiString, fmiString, fmiString, fmiString, fmiReal, fmiBoolean,
                                fmiBoolean, fmiCallbackFunctions, fmiBoolean);
    fmiStatus (*initialize)(fmiComponent, fmiReal, fmiBoolean, fmiReal);
    fmiStatus (*setReal)(fmiComponent, const fmiValueReference*, std::size_t, const fmiReal*);
    fmiStatus (*doStep)(fmiComponent, fmiReal, fmiReal, fmiBoolean);
    fmiStatus (*getReal)(fmiComponent, const fmiValueReference*, std::size_t, fmiReal*);
    fmiStatus (*terminate)(fmiComponent);
    void (*freeInstance)(fmiComponent);
};

template <typename Function>
void resolve(void* library, const std::string& name, Function& function) {
    void* address = dlsym(library, name.c_str());
    if (address == nullptr) {
        std::fprintf(stderr, "no %s\n", name.c_str());
        std::exit(1);
    }
    std::memcpy(&function, &address, sizeof function);
}

extern "C" void quietLogger(fmiComponent, fmiString, fmiStatus, fmiString, fmiString, ...) {}

struct Setup {
    std::string identifier;
    std::string libraryPath;
    ModelDescription model;
    Inputs inputs;
    std::vector<fmiValueReference> inputReferences;
    std::vector<fmiValueReference> outputReferences;
};

// The inputs as an input file of two rows gives them: 0 at the start,
// 0.01 m more for each input at the end of the scenario.
Inputs twoRowInputs(const ModelDescription& model) {
    std::string header = "time";
    std::string first = "0";
    std::string last = "4";
    double value = 0.0;
    for (const Variable* input : model.withCausality(Causality::Input)) {
        value += 0.01;
        header += "," + input->name;
        first += ",0";
        last += "," + std::to_string(value);
    }
    return parseInputs(header + "\n" + first + "\n" + last + "\n", "inputs.csv", model);
}

Setup setUp(const std::string& identifier, bool fromFile) {
    const char* directory = std::getenv("SLAVE_BENCH_LIBRARY_DIR");
    const std::string build = directory != nullptr ? directory : FMIRUN_COST_BUILD_DIR;
    std::ifstream in(build + "/fmu/" + identifier + "/modelDescription.xml");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Setup setup{identifier,
                build + "/" + identifier + ".so",
                parseModelDescription(text, identifier),
                {},
                {},
                {}};
    // The scenario is the demonstration the model's archive carries.
    setup.inputs =
        fromFile ? twoRowInputs(setup.model)
                 : readInputFile(build + "/fmu/" + identifier + "/documentation/demonstration.csv",
                                 setup.model);
    for (const Variable* input : setup.inputs.variables) {
        setup.inputReferences.push_back(input->valueReference);
    }
    for (const Variable* output : setup.model.withCausality(Causality::Output)) {
        setup.outputReferences.push_back(output->valueReference);
    }
    return setup;
}

TimeGrid gridOf(std::size_t steps) {
    const std::string interval = std::to_string(kScenarioSeconds / static_cast<double>(steps));
    return TimeGrid({0.0, "0", "start"}, {kScenarioSeconds, "4", "stop"},
                    {std::stod(interval), interval, "interval"});
}

// The bare calls of a run, the only work in the loop.
extern "C" [[gnu::noipa]] void countedBare(const BareFunctions& fmi, fmiComponent c,
                                           const Setup& setup, const double* times,
                                           const double* inputs, double* outputs,
                                           std::size_t steps) {
    const std::size_t in = setup.inputReferences.size();
    const std::size_t out = setup.outputReferences.size();
    for (std::size_t k = 0; k < steps; ++k) {
        fmi.setReal(c, setup.inputReferences.data(), in, inputs + k * in);
        fmi.doStep(c, times[k], times[k + 1] - times[k], fmiTrue);
        fmi.getReal(c, setup.outputReferences.data(), out, outputs);
    }
}

extern "C" [[gnu::noipa]] void countedRun(Slave& slave, const Setup& setup, const TimeGrid& grid,
                                          CsvOutput* rows) {
    RunSettings settings;
    settings.recorded = setup.model.withCausality(Causality::Output);
    run(slave, setup.inputs, grid, settings, rows);
}

double bare(const Setup& setup, std::size_t steps) {
    void* library = dlopen(setup.libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        std::exit(1);
    }
    const std::string p = setup.identifier + "_";
    BareFunctions fmi{};
    resolve(library, p + "fmiInstantiateSlave", fmi.instantiate);
    resolve(library, p + "fmiInitializeSlave", fmi.initialize);
    resolve(library, p + "fmiSetReal", fmi.setReal);
    resolve(library, p + "fmiDoStep", fmi.doStep);
    resolve(library, p + "fmiGetReal", fmi.getReal);
    resolve(library, p + "fmiTerminateSlave", fmi.terminate);
    resolve(library, p + "fmiFreeSlaveInstance", fmi.freeInstance);

    const TimeGrid grid = gridOf(steps);
    std::vector<double> times(grid.steps() + 1);
    const std::size_t in = setup.inputReferences.size();
    std::vector<double> inputs(grid.steps() * in + 1);
    for (std::size_t k = 0; k <= grid.steps(); ++k) {
        times[k] = grid.at(k);
        if (k < grid.steps()) {
            setup.inputs.at(times[k], inputs.data() + k * in);
        }
    }
    std::vector<double> outputs(setup.outputReferences.size());
    const fmiCallbackFunctions callbacks{quietLogger, std::calloc, std::free, nullptr};
    const fmiComponent c = fmi.instantiate(setup.identifier.c_str(), setup.model.guid.c_str(), "",
                                           "", 0.0, fmiFalse, fmiFalse, callbacks, fmiFalse);
    fmi.initialize(c, 0.0, fmiTrue, kScenarioSeconds);
    const auto begin = std::chrono::steady_clock::now();
    countedBare(fmi, c, setup, times.data(), inputs.data(), outputs.data(), grid.steps());
    const auto end = std::chrono::steady_clock::now();
    fmi.terminate(c);
    fmi.freeInstance(c);
    dlclose(library);
    return std::chrono::duration<double, std::nano>(end - begin).count();
}

double viaFmirun(const Setup& setup, std::size_t steps, bool writeRows) {
    Slave slave(setup.libraryPath, setup.model, SlaveOptions{});
    slave.instantiate("file:///nowhere");
    const TimeGrid grid = gridOf(steps);
    slave.enterInitialization(grid.start(), grid.stop());
    std::FILE* file = std::tmpfile();
    CsvOutput rows(file, "a temporary file");
    const auto begin = std::chrono::steady_clock::now();
    countedRun(slave, setup, grid, writeRows ? &rows : nullptr);
    const auto end = std::chrono::steady_clock::now();
    std::fclose(file);
    return std::chrono::duration<double, std::nano>(end - begin).count();
}

int usage() {
    std::fprintf(stderr, "usage: fmirun_cost <model> time|bare|rows|summary <steps> [file]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "file")) {
        return usage();
    }
    const Setup setup = setUp(argv[1], argc == 5);
    const std::string subject = argv[2];
    const auto steps = static_cast<std::size_t>(std::stoul(argv[3]));
    if (subject == "bare") {
        bare(setup, steps);
    } else if (subject == "rows" || subject == "summary") {
        viaFmirun(setup, steps, subject == "rows");
    } else if (subject == "time") {
        // The fastest of several runs of each, interleaved, so that a busy
        // spell of the machine does not fall on one subject only.
        double fastest[3] = {1e300, 1e300, 1e300};
        for (int repetition = 0; repetition < 7; ++repetition) {
            fastest[0] = std::min(fastest[0], bare(setup, steps));
            fastest[1] = std::min(fastest[1], viaFmirun(setup, steps, true));
            fastest[2] = std::min(fastest[2], viaFmirun(setup, steps, false));
        }
        const double n = static_cast<double>(steps);
        std::printf("%s %.1f %.1f %.1f\n", argv[1], fastest[0] / n, fastest[1] / n, fastest[2] / n);
    } else {
        return usage();
    }
    return 0;
}
