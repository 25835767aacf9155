// The slaves' step, value access and life cycle timed through the loaded host
// builds of every FMI version, next to the floor: the same step written
// inline. Logging is off throughout, and every timed loop checks afterwards
// that it neither allocated nor logged and that the slave computed what the
// floor computed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <string>
#include <vector>

#include "BenchSlave.h"
#include "Floor.h"
#include "FmiVersions.h"

namespace {

using bench::callbackCounts;
using bench::CallbackCounts;
using bench::Component;
using bench::InitializedSlave;
using bench::kStatusOk;
using bench::kStepSize;
using bench::Model;

// Fails the run when the calls since `before` allocated or logged: after
// instantiation, with logging off, a slave does neither.
void requireQuiet(benchmark::State& state, const CallbackCounts& before) {
    const CallbackCounts after = callbackCounts();
    if (after.allocations != before.allocations || after.frees != before.frees) {
        state.SkipWithError("allocated or freed memory after instantiation");
    } else if (after.logs != before.logs) {
        state.SkipWithError("called the logger with logging off");
    }
}

// The slave's values after one more step agree with the floor's.
template <typename Version>
void requireFloorResults(benchmark::State& state, const Model& model,
                         const typename Version::Functions& fmi, Component c,
                         const bench::FloorSlave& floor) {
    Version::doStep(fmi, c, 0.0, kStepSize);
    const std::vector<fmiReal> values = bench::allValues<Version>(fmi, c, model);
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        if (!bench::sameBits(values[vr], floor.r[vr])) {
            state.SkipWithError("the floor computed other values than the slave");
            return;
        }
    }
}

// The floor, checked against the 1.0 slave: its arithmetic is that of every
// version at the operating point.
void floorStep(benchmark::State& state, const Model& model) {
    using Version = bench::Fmi1;
    const auto& fmi = Version::load(model.identifier);
    InitializedSlave<Version> slave(fmi, model.guid);
    const Component c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    bench::FloorSlave floor = bench::floorHoldingValuesOf<Version>(fmi, c, model);

    fmiReal time = 0.0;
    for (auto _ : state) {
        bench::floorStep(floor, time, kStepSize);
        time += kStepSize;
    }
    requireFloorResults<Version>(state, model, fmi, c, floor);
}

// The floor inside the MXCSR switch of a model that computes under
// flush-to-zero: what the switch around the arithmetic costs by itself.
void floorStepUnderFlushToZero(benchmark::State& state, const Model& model) {
    using Version = bench::Fmi2;
    const auto& fmi = Version::load(model.identifier);
    InitializedSlave<Version> slave(fmi, model.guid);
    const Component c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    bench::FloorSlave floor = bench::floorHoldingValuesOf<Version>(fmi, c, model);

    // Read from the instance in the slave; from memory here too, so that the
    // compiler keeps the test of the bits.
    std::uint32_t mxcsrBits = bench::kFlushToZeroBits;
    benchmark::DoNotOptimize(mxcsrBits);
    fmiReal time = 0.0;
    for (auto _ : state) {
        bench::floorStepUnder(mxcsrBits, floor, time, kStepSize);
        time += kStepSize;
    }
    requireFloorResults<Version>(state, model, fmi, c, floor);
}

template <typename Version>
void doStep(benchmark::State& state, const Model& model) {
    const auto& fmi = Version::load(model.identifier);
    InitializedSlave<Version> slave(fmi, model.guid);
    const Component c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    const CallbackCounts before = callbackCounts();
    fmiReal time = 0.0;
    int statuses = kStatusOk;
    for (auto _ : state) {
        statuses |= Version::doStep(fmi, c, time, kStepSize);
        time += kStepSize;
    }
    requireQuiet(state, before);
    if (statuses != kStatusOk) {
        state.SkipWithError("the step did not return OK");
        return;
    }
    // What the floor computes from the operating point, once.
    bench::FloorSlave floor = bench::floorHoldingValuesOf<Version>(fmi, c, model);
    bench::floorStepAsSlave<Version>(floor, model.flushesToZero, 0.0, kStepSize);
    requireFloorResults<Version>(state, model, fmi, c, floor);
}

fmiReal median(std::vector<fmiReal>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The floor and fmiDoStep in alternating blocks of steps, each block timed on
// its own: both see the same machine within microseconds of each other, so a
// busy or throttled machine changes both alike, and the median of the ratios
// of the block pairs ignores the blocks that another process interrupted.
template <typename Version>
void pairedSteps(benchmark::State& state, const Model& model) {
    constexpr int kBlock = 200;
    using Clock = std::chrono::steady_clock;
    const auto& fmi = Version::load(model.identifier);
    InitializedSlave<Version> slave(fmi, model.guid);
    const Component c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    bench::FloorSlave floor = bench::floorHoldingValuesOf<Version>(fmi, c, model);

    std::vector<fmiReal> floorTimes;
    std::vector<fmiReal> stepTimes;
    std::vector<fmiReal> ratios;
    fmiReal time = 0.0;
    int statuses = kStatusOk;
    for (auto _ : state) {
        const Clock::time_point floorStart = Clock::now();
        fmiReal floorTime = time;
        for (int i = 0; i < kBlock; ++i) {
            bench::floorStep(floor, floorTime, kStepSize);
            floorTime += kStepSize;
        }
        const Clock::time_point stepStart = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            statuses |= Version::doStep(fmi, c, time, kStepSize);
            time += kStepSize;
        }
        const Clock::time_point end = Clock::now();
        const fmiReal floorNanoseconds =
            std::chrono::duration<fmiReal, std::nano>(stepStart - floorStart).count();
        const fmiReal stepNanoseconds =
            std::chrono::duration<fmiReal, std::nano>(end - stepStart).count();
        floorTimes.push_back(floorNanoseconds / kBlock);
        stepTimes.push_back(stepNanoseconds / kBlock);
        ratios.push_back(stepNanoseconds / floorNanoseconds);
    }
    if (statuses != kStatusOk) {
        state.SkipWithError("the step did not return OK");
        return;
    }
    if (!ratios.empty()) {
        state.counters["floor_ns"] = median(floorTimes);
        state.counters["step_ns"] = median(stepTimes);
        state.counters["ratio"] = median(ratios);
    }
    requireFloorResults<Version>(state, model, fmi, c, floor);
}

// Time per element, next to the time per call.
void reportPerElement(benchmark::State& state, std::size_t elements) {
    state.counters["per_element"] = benchmark::Counter(
        static_cast<double>(elements),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Setting or getting reals (bench::accessedReals): one value per call when
// `all` is false, all values that the call takes in every version when it is
// true.
template <typename Version, bool kSet, bool kAll>
void accessReals(benchmark::State& state, const Model& model) {
    const auto& fmi = Version::load(model.identifier);
    InitializedSlave<Version> slave(fmi, model.guid);
    const Component c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Version>(fmi, c, model);
    Version::doStep(fmi, c, 0.0, kStepSize);
    const std::vector<fmiValueReference> vr = bench::accessedReals(model, kSet, kAll);
    std::vector<fmiReal> values(vr.size());
    Version::getReal(fmi, c, vr.data(), vr.size(), values.data());

    const CallbackCounts before = callbackCounts();
    int statuses = kStatusOk;
    for (auto _ : state) {
        if (kSet) {
            statuses |= Version::setReal(fmi, c, vr.data(), vr.size(), values.data());
        } else {
            statuses |= Version::getReal(fmi, c, vr.data(), vr.size(), values.data());
            benchmark::DoNotOptimize(values.data());
        }
    }
    reportPerElement(state, vr.size());
    requireQuiet(state, before);
    if (statuses != kStatusOk) {
        state.SkipWithError("the call did not return OK");
    }
}

// A whole life without a step: instantiation, initialization, termination
// and the free (fmiInstantiateSlave, fmiInitializeSlave, fmiTerminateSlave
// and fmiFreeSlaveInstance in 1.0; fmi2Instantiate, fmi2SetupExperiment,
// fmi2EnterInitializationMode, fmi2ExitInitializationMode, fmi2Terminate and
// fmi2FreeInstance in 2.0; fmi3InstantiateCoSimulation,
// fmi3EnterInitializationMode, fmi3ExitInitializationMode, fmi3Terminate and
// fmi3FreeInstance in 3.0). The memory comes from the master's calloc and
// free up to 2.0, from the C runtime's in 3.0; either is part of the cycle.
template <typename Version>
void lifeCycle(benchmark::State& state, const Model& model) {
    const auto& fmi = Version::load(model.identifier);
    const CallbackCounts before = callbackCounts();
    bool failed = false;
    for (auto _ : state) {
        const Component c = Version::instantiate(fmi, model.guid);
        failed |= c == nullptr || !Version::initialize(fmi, c) || !Version::terminate(fmi, c);
        Version::freeInstance(fmi, c);
    }
    const CallbackCounts after = callbackCounts();
    state.counters["allocations"] =
        benchmark::Counter(static_cast<double>(after.allocations - before.allocations),
                           benchmark::Counter::kAvgIterations);
    state.counters["frees"] = benchmark::Counter(static_cast<double>(after.frees - before.frees),
                                                 benchmark::Counter::kAvgIterations);
    if (failed) {
        state.SkipWithError("a call of the cycle failed");
    } else if (after.allocations - before.allocations != after.frees - before.frees) {
        state.SkipWithError("a cycle did not give back every block it obtained");
    } else if (after.logs != before.logs) {
        state.SkipWithError("called the logger with logging off");
    }
}

// Independent instances, one per thread, each stepped by its own thread.
template <typename Version>
void doStepOnThreads(benchmark::State& state, const Model& model) {
    doStep<Version>(state, model);
}

void floorOnThreads(benchmark::State& state, const Model& model) {
    floorStep(state, model);
}

double fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

// Registers `function` on `model` under the name.
benchmark::internal::Benchmark* add(const std::string& name,
                                    void (*function)(benchmark::State&, const Model&),
                                    const Model& model) {
    benchmark::internal::Benchmark* const registered = benchmark::RegisterBenchmark(
        name.c_str(), [function, &model](benchmark::State& state) { function(state, model); });
    registered->ComputeStatistics("min", fastest);
    return registered;
}

// The names a version's benchmarks go by, for the summary.
struct VersionNames {
    const char* tag;
    const char* doStep;
    const char* setReal;
    const char* getReal;
};

template <typename... Versions>
constexpr std::array<VersionNames, sizeof...(Versions)> namesOf(bench::VersionList<Versions...>) {
    return {
        VersionNames{Versions::kTag, Versions::kDoStep, Versions::kSetReal, Versions::kGetReal}...};
}

// Every version measured, in the order of the summary.
constexpr auto kVersions = namesOf(bench::MeasuredVersions{});

// Stops the program unless the model's library of the version computes what
// the floor computes and allocates nothing after instantiation.
template <typename Version>
void checkSlave(const Model& model) {
    const auto& fmi = Version::load(model.identifier);
    {
        InitializedSlave<Version> slave(fmi, model.guid);
        const std::string difference =
            slave.component() == nullptr
                ? std::string(model.identifier) + ": cannot create the slave"
                : bench::differencesFromFloor<Version>(fmi, slave.component(), model);
        if (!difference.empty()) {
            bench::exitWithMessage("the floor is not the slave's arithmetic: " + difference);
        }
    }
    const std::string allocation =
        Version::allocationsAfterInstantiation(fmi, model.guid, model.realCount, model.operands);
    if (!allocation.empty()) {
        bench::exitWithMessage(std::string(model.identifier) + " (" + Version::kTag +
                               "): " + allocation);
    }
}

// Checks the model's library of the version, then registers its benchmarks
// on one thread.
template <typename Version>
void registerVersion(const Model& model) {
    checkSlave<Version>(model);
    const std::string name = std::string(model.identifier) + "/";
    add(name + Version::kDoStep, doStep<Version>, model);
    add(name + Version::kDoStep + "/paired", pairedSteps<Version>, model);
    add(name + Version::kSetReal + "/one", accessReals<Version, true, false>, model);
    add(name + Version::kGetReal + "/one", accessReals<Version, false, false>, model);
    add(name + Version::kSetReal + "/all", accessReals<Version, true, true>, model);
    add(name + Version::kGetReal + "/all", accessReals<Version, false, true>, model);
    add(name + "lifecycle/" + Version::kTag, lifeCycle<Version>, model);
}

template <typename... Versions>
void registerModel(const Model& model, bench::VersionList<Versions...>) {
    const std::string name = std::string(model.identifier) + "/";
    add(name + "floor", floorStep, model);
    if (model.flushesToZero) {
        add(name + "floor/mxcsr", floorStepUnderFlushToZero, model);
    }
    (registerVersion<Versions>(model), ...);
}

// Registered after every single-thread benchmark: once a process has started
// a thread, glibc's malloc takes locks, which makes the life cycles measured
// after it slower than those measured before. (Shuffled repetitions mix the
// two again.)
template <typename... Versions>
void registerScaling(const Model& model, bench::VersionList<Versions...>) {
    const std::string name = std::string(model.identifier) + "/scaling/";
    add(name + "floor", floorOnThreads, model)->Threads(1)->Threads(2)->UseRealTime();
    (add(name + Versions::kDoStep, doStepOnThreads<Versions>, model)
         ->Threads(1)
         ->Threads(2)
         ->UseRealTime(),
     ...);
}

// The console table, then what the figures mean: each step as a multiple of
// its floor, the access calls per element, and what a second thread adds,
// for every version.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    bool failed() const {
        return !failures_.empty();
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                failures_.push_back(run.benchmark_name() + ": " + run.error_message);
                continue;
            }
            const int rank = rankOf(run);
            const std::string key = run.run_name.function_name + "@" + std::to_string(run.threads);
            Figures& figures = figures_[key];
            if (rank <= figures.rank) {
                continue;
            }
            figures.rank = rank;
            // The thread's own processor time, which time spent waiting for a
            // core does not inflate; wall time where throughput is the point.
            const bool wallTime = !run.run_name.time_type.empty();
            const double toNanoseconds = benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                         benchmark::GetTimeUnitMultiplier(run.time_unit);
            figures.nanoseconds =
                (wallTime ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime()) * toNanoseconds;
            figures.cpuNanoseconds = run.GetAdjustedCPUTime() * toNanoseconds;
            const auto counter = [&run](const char* name) {
                const auto found = run.counters.find(name);
                return found == run.counters.end() ? 0.0 : found->second.value;
            };
            figures.perElement = counter("per_element") * 1.0e9;
            figures.allocations = counter("allocations");
            figures.frees = counter("frees");
            figures.pairedFloor = counter("floor_ns");
            figures.pairedStep = counter("step_ns");
            figures.pairedRatio = counter("ratio");
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        // Every timed loop of a created slave checks its callbacks' counts and
        // the floor's results; a failed check ends its run with an error.
        if (failures_.empty()) {
            out << "\nChecks passed: no allocation, free or logger call after instantiation, "
                   "and the floor's values equal the slave's.\n";
        } else {
            out << "\nChecks FAILED:\n";
            for (const std::string& failure : failures_) {
                out << "  " << failure << "\n";
            }
        }
        reportSteps(out);
        reportPairedSteps(out);
        reportFlushToZeroSwitch(out);
        reportValueAccess(out);
        reportLifeCycles(out);
        reportThreads(out);
    }

  private:
    // Which run of a family the summary takes: the fastest of several
    // repetitions, since on a busy machine other work only ever adds time;
    // else their median; else the one run.
    static constexpr int kNone = 0;
    static constexpr int kSingle = 1;
    static constexpr int kMedian = 2;
    static constexpr int kMinimum = 3;

    static bool endsWith(const std::string& text, const std::string& ending) {
        return text.size() >= ending.size() &&
               text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
    }

    static int rankOf(const Run& run) {
        if (run.run_type != Run::RT_Aggregate) {
            return run.repetitions > 1 ? kNone : kSingle;
        }
        // The paired figures are medians already; their fastest run says
        // nothing more.
        const bool paired = endsWith(run.run_name.function_name, "/paired");
        if (run.aggregate_name == "min") {
            return paired ? kSingle : kMinimum;
        }
        return run.aggregate_name == "median" ? kMedian : kNone;
    }

    struct Figures {
        int rank = kNone;
        double nanoseconds = 0.0;
        double cpuNanoseconds = 0.0;
        double perElement = 0.0;
        double allocations = 0.0;
        double frees = 0.0;
        double pairedFloor = 0.0;
        double pairedStep = 0.0;
        double pairedRatio = 0.0;
    };

    const Figures* find(const std::string& name, int threads) const {
        const auto found = figures_.find(name + "@" + std::to_string(threads));
        return found == figures_.end() ? nullptr : &found->second;
    }

    static std::ostream& row(std::ostream& out, const char* model, const char* what) {
        return out << "  " << std::left << std::setw(10) << model << std::setw(16) << what
                   << std::fixed;
    }

    void reportSteps(std::ostream& out) const {
        out << "\nThe step per call as a multiple of the floor's (CPU time"
            << (figures_.empty() || figures_.begin()->second.rank < kMinimum ? "" : ", fastest run")
            << "):\n";
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            const Figures* floor = find(std::string(model) + "/floor", 1);
            for (const VersionNames& version : kVersions) {
                const Figures* step = find(std::string(model) + "/" + version.doStep, 1);
                if (step != nullptr && floor != nullptr && floor->nanoseconds > 0.0) {
                    row(out, model, version.doStep)
                        << std::setprecision(2) << step->nanoseconds / floor->nanoseconds << "x  ("
                        << std::setprecision(1) << step->nanoseconds << " ns against "
                        << floor->nanoseconds << " ns)\n";
                }
            }
        }
    }

    void reportPairedSteps(std::ostream& out) const {
        out << "\nThe same from alternating blocks of 200 steps (wall time, median of the block "
               "pairs):\n";
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            for (const VersionNames& version : kVersions) {
                const Figures* paired =
                    find(std::string(model) + "/" + version.doStep + "/paired", 1);
                if (paired != nullptr && paired->pairedRatio > 0.0) {
                    row(out, model, version.doStep)
                        << std::setprecision(2) << paired->pairedRatio << "x  ("
                        << std::setprecision(1) << paired->pairedStep << " ns against "
                        << paired->pairedFloor << " ns)\n";
                }
            }
        }
    }

    void reportFlushToZeroSwitch(std::ostream& out) const {
        bool any = false;
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            const Figures* floor = find(std::string(model) + "/floor", 1);
            const Figures* switched = find(std::string(model) + "/floor/mxcsr", 1);
            if (floor == nullptr || switched == nullptr) {
                continue;
            }
            if (!any) {
                out << "\nThe floor inside the switch to flush-to-zero and back (CPU time):\n";
                any = true;
            }
            row(out, model, "floor/mxcsr") << std::setprecision(1) << switched->nanoseconds
                                           << " ns against " << floor->nanoseconds << " ns\n";
        }
    }

    void reportValueAccess(std::ostream& out) const {
        out << "\nValue access (CPU time, ns): per call of one value, and per element of a call "
               "of all values:\n";
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            for (const VersionNames& version : kVersions) {
                for (const char* call : {version.setReal, version.getReal}) {
                    const std::string name = std::string(model) + "/" + call;
                    const Figures* one = find(name + "/one", 1);
                    const Figures* all = find(name + "/all", 1);
                    if (one != nullptr && all != nullptr) {
                        row(out, model, call) << std::setprecision(2) << one->nanoseconds << "  "
                                              << all->perElement << "\n";
                    }
                }
            }
        }
    }

    void reportLifeCycles(std::ostream& out) const {
        out << "\nInstantiate, initialize, terminate and free (CPU time per cycle, with the "
               "memory's calloc and free; the blocks counted are those through the master's "
               "callbacks, which 3.0 has not):\n";
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            for (const VersionNames& version : kVersions) {
                const Figures* cycle = find(std::string(model) + "/lifecycle/" + version.tag, 1);
                if (cycle != nullptr) {
                    row(out, model, version.tag)
                        << std::setprecision(0) << cycle->nanoseconds << " ns, "
                        << cycle->allocations << " allocations, " << cycle->frees << " frees\n";
                }
            }
        }
    }

    // With several threads the real time per call is the wall time over the
    // calls of all threads together, so its inverse is the throughput. The
    // processor time per call says whether the threads slow each other down,
    // whether or not the machine has a core free for each.
    void reportThreads(std::ostream& out) const {
        out << "\nOn two threads as a multiple of one thread: throughput, and processor time "
               "per call:\n";
        for (const Model& each : bench::models()) {
            const char* const model = each.identifier;
            std::vector<const char*> subjects;
            for (const VersionNames& version : kVersions) {
                subjects.push_back(version.doStep);
            }
            subjects.push_back("floor");
            for (const char* what : subjects) {
                const std::string name = std::string(model) + "/scaling/" + what;
                const Figures* one = find(name, 1);
                const Figures* two = find(name, 2);
                if (one != nullptr && two != nullptr && two->nanoseconds > 0.0) {
                    row(out, model, what)
                        << std::setprecision(2) << one->nanoseconds / two->nanoseconds << "  "
                        << two->cpuNanoseconds / one->cpuNanoseconds << "\n";
                }
            }
        }
    }

    std::map<std::string, Figures> figures_;
    std::vector<std::string> failures_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Loading the 1.0 library of a model validated under flush-to-zero sets
    // flush-to-zero in this thread, for good; the operands of the timed loops are far from
    // subnormal, so no figure depends on it, and the floor runs under the same setting as the
    // slave. Its 2.0 and 3.0 libraries switch within each call and back.
    constexpr bench::MeasuredVersions versions;
    for (const Model& model : bench::models()) {
        registerModel(model, versions);
    }
    for (const Model& model : bench::models()) {
        registerScaling(model, versions);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}
