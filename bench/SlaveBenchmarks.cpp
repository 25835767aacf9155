// The slaves' step, value access and life cycle timed through the loaded host
// builds, next to the floor: the same step written inline. Logging is off
// throughout, and every timed loop checks afterwards that it neither
// allocated nor logged and that the slave computed what the floor computed.
#include <benchmark/benchmark.h>

#include <algorithm>
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

namespace {

using bench::callbackCounts;
using bench::CallbackCounts;
using bench::InitializedSlave;
using bench::kStepSize;
using bench::loadedSlave;

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
template <typename Model>
void requireFloorResults(benchmark::State& state, const FmiFunctions& fmi, fmiComponent c,
                         const bench::FloorSlave<Model>& floor) {
    fmi.doStep(c, 0.0, kStepSize, fmiTrue);
    const std::vector<fmiReal> values = bench::allValues<Model>(fmi, c);
    for (std::uint32_t vr = 0; vr < Model::kRealCount; ++vr) {
        if (!bench::sameBits(values[vr], floor.r[vr])) {
            state.SkipWithError("the floor computed other values than the slave");
            return;
        }
    }
}

template <typename Model>
void floorStep(benchmark::State& state) {
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    InitializedSlave slave(fmi, Model::kGuid);
    const fmiComponent c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Model>(fmi, c);
    bench::FloorSlave<Model> floor = bench::floorHoldingValuesOf<Model>(fmi, c);

    fmiReal time = 0.0;
    for (auto _ : state) {
        bench::floorStep(floor, time, kStepSize);
        time += kStepSize;
    }
    requireFloorResults(state, fmi, c, floor);
}

template <typename Model>
void doStep(benchmark::State& state) {
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    InitializedSlave slave(fmi, Model::kGuid);
    const fmiComponent c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Model>(fmi, c);
    const CallbackCounts before = callbackCounts();
    fmiReal time = 0.0;
    int statuses = fmiOK;
    for (auto _ : state) {
        statuses |= fmi.doStep(c, time, kStepSize, fmiTrue);
        time += kStepSize;
    }
    requireQuiet(state, before);
    if (statuses != fmiOK) {
        state.SkipWithError("fmiDoStep did not return fmiOK");
        return;
    }
    // What the floor computes from the operating point, once.
    bench::FloorSlave<Model> floor = bench::floorHoldingValuesOf<Model>(fmi, c);
    bench::floorStep(floor, 0.0, kStepSize);
    requireFloorResults(state, fmi, c, floor);
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
template <typename Model>
void pairedSteps(benchmark::State& state) {
    constexpr int kBlock = 200;
    using Clock = std::chrono::steady_clock;
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    InitializedSlave slave(fmi, Model::kGuid);
    const fmiComponent c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Model>(fmi, c);
    bench::FloorSlave<Model> floor = bench::floorHoldingValuesOf<Model>(fmi, c);

    std::vector<fmiReal> floorTimes;
    std::vector<fmiReal> stepTimes;
    std::vector<fmiReal> ratios;
    fmiReal time = 0.0;
    int statuses = fmiOK;
    for (auto _ : state) {
        const Clock::time_point floorStart = Clock::now();
        fmiReal floorTime = time;
        for (int i = 0; i < kBlock; ++i) {
            bench::floorStep(floor, floorTime, kStepSize);
            floorTime += kStepSize;
        }
        const Clock::time_point stepStart = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            statuses |= fmi.doStep(c, time, kStepSize, fmiTrue);
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
    if (statuses != fmiOK) {
        state.SkipWithError("fmiDoStep did not return fmiOK");
        return;
    }
    if (!ratios.empty()) {
        state.counters["floor_ns"] = median(floorTimes);
        state.counters["fmiDoStep_ns"] = median(stepTimes);
        state.counters["ratio"] = median(ratios);
    }
    requireFloorResults(state, fmi, c, floor);
}

// Time per element, next to the time per call.
void reportPerElement(benchmark::State& state, std::size_t elements) {
    state.counters["per_element"] = benchmark::Counter(
        static_cast<double>(elements),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// fmiSetReal or fmiGetReal of the first operand (Set) or the first output
// (Get) when `all` is false, of every real value when it is true.
template <typename Model, bool kSet, bool kAll>
void accessReals(benchmark::State& state) {
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    InitializedSlave slave(fmi, Model::kGuid);
    const fmiComponent c = slave.component();
    if (c == nullptr) {
        state.SkipWithError("cannot create the slave");
        return;
    }
    bench::setOperatingPoint<Model>(fmi, c);
    fmi.doStep(c, 0.0, kStepSize, fmiTrue);
    std::vector<fmiValueReference> vr;
    if (kAll) {
        for (std::uint32_t i = 0; i < Model::kRealCount; ++i) {
            vr.push_back(i);
        }
    } else {
        vr.push_back(kSet ? Model::kOperands[0] : Model::kFirstOutput);
    }
    std::vector<fmiReal> values(vr.size());
    fmi.getReal(c, vr.data(), vr.size(), values.data());

    const CallbackCounts before = callbackCounts();
    int statuses = fmiOK;
    for (auto _ : state) {
        if (kSet) {
            statuses |= fmi.setReal(c, vr.data(), vr.size(), values.data());
        } else {
            statuses |= fmi.getReal(c, vr.data(), vr.size(), values.data());
            benchmark::DoNotOptimize(values.data());
        }
    }
    reportPerElement(state, vr.size());
    requireQuiet(state, before);
    if (statuses != fmiOK) {
        state.SkipWithError("the call did not return fmiOK");
    }
}

// A whole life without a step: fmiInstantiateSlave, fmiInitializeSlave,
// fmiTerminateSlave and fmiFreeSlaveInstance. The master's calloc and free
// are part of the cycle.
template <typename Model>
void lifeCycle(benchmark::State& state) {
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    const fmiCallbackFunctions callbacks = bench::countingCallbacks();
    const CallbackCounts before = callbackCounts();
    bool failed = false;
    for (auto _ : state) {
        const fmiComponent c =
            fmi.instantiateSlave("bench", Model::kGuid, "", "application/x-fmu-sharedlibrary", 0.0,
                                 fmiFalse, fmiFalse, callbacks, fmiFalse);
        failed |= c == nullptr || fmi.initializeSlave(c, 0.0, fmiFalse, 0.0) != fmiOK ||
                  fmi.terminateSlave(c) != fmiOK;
        fmi.freeSlaveInstance(c);
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
template <typename Model>
void doStepOnThreads(benchmark::State& state) {
    doStep<Model>(state);
}

template <typename Model>
void floorOnThreads(benchmark::State& state) {
    floorStep<Model>(state);
}

double fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

benchmark::internal::Benchmark* add(const std::string& name, void (*function)(benchmark::State&)) {
    benchmark::internal::Benchmark* const registered =
        benchmark::RegisterBenchmark(name.c_str(), function);
    registered->ComputeStatistics("min", fastest);
    return registered;
}

// Checks the floor and the allocations of the model, then registers its
// benchmarks on one thread.
template <typename Model>
void registerModel() {
    const FmiFunctions& fmi = loadedSlave(Model::kIdentifier);
    {
        InitializedSlave slave(fmi, Model::kGuid);
        const std::string difference =
            slave.component() == nullptr
                ? std::string(Model::kIdentifier) + ": cannot create the slave"
                : bench::differencesFromFloor<Model>(fmi, slave.component());
        if (!difference.empty()) {
            std::fprintf(stderr, "the floor is not the slave's arithmetic: %s\n",
                         difference.c_str());
            std::exit(EXIT_FAILURE);
        }
    }
    const std::string allocation =
        bench::allocationsAfterInstantiation(fmi, Model::kGuid, Model::kRealCount);
    if (!allocation.empty()) {
        std::fprintf(stderr, "%s: %s\n", Model::kIdentifier, allocation.c_str());
        std::exit(EXIT_FAILURE);
    }
    const std::string model = std::string(Model::kIdentifier) + "/";
    add(model + "floor", floorStep<Model>);
    add(model + "fmiDoStep", doStep<Model>);
    add(model + "paired", pairedSteps<Model>);
    add(model + "fmiSetReal/one", accessReals<Model, true, false>);
    add(model + "fmiGetReal/one", accessReals<Model, false, false>);
    add(model + "fmiSetReal/all", accessReals<Model, true, true>);
    add(model + "fmiGetReal/all", accessReals<Model, false, true>);
    add(model + "lifecycle", lifeCycle<Model>);
}

// Registered after every single-thread benchmark: once a process has started
// a thread, glibc's malloc takes locks, which makes the life cycles measured
// after it slower than those measured before. (Shuffled repetitions mix the
// two again.)
template <typename Model>
void registerScaling() {
    const std::string model = std::string(Model::kIdentifier) + "/";
    add(model + "scaling/floor", floorOnThreads<Model>)->Threads(1)->Threads(2)->UseRealTime();
    add(model + "scaling/fmiDoStep", doStepOnThreads<Model>)->Threads(1)->Threads(2)->UseRealTime();
}

// The console table, then what the figures mean: each step as a multiple of
// its floor, the access calls per element, and what a second thread adds.
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
            figures.pairedStep = counter("fmiDoStep_ns");
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
        out << "\nfmiDoStep per call as a multiple of the floor's (CPU time"
            << (figures_.empty() || figures_.begin()->second.rank < kMinimum ? "" : ", fastest run")
            << "):\n";
        for (const char* model : {"Halvorn", "Pendrake", "Corvessa"}) {
            const Figures* step = find(std::string(model) + "/fmiDoStep", 1);
            const Figures* floor = find(std::string(model) + "/floor", 1);
            if (step != nullptr && floor != nullptr && floor->nanoseconds > 0.0) {
                out << "  " << std::left << std::setw(10) << model << std::fixed
                    << std::setprecision(2) << step->nanoseconds / floor->nanoseconds << "x  ("
                    << std::setprecision(1) << step->nanoseconds << " ns against "
                    << floor->nanoseconds << " ns)\n";
            }
        }
        out << "\nThe same from alternating blocks of 200 steps (wall time, median of the block "
               "pairs):\n";
        for (const char* model : {"Halvorn", "Pendrake", "Corvessa"}) {
            const Figures* paired = find(std::string(model) + "/paired", 1);
            if (paired != nullptr && paired->pairedRatio > 0.0) {
                out << "  " << std::left << std::setw(10) << model << std::fixed
                    << std::setprecision(2) << paired->pairedRatio << "x  (" << std::setprecision(1)
                    << paired->pairedStep << " ns against " << paired->pairedFloor << " ns)\n";
            }
        }
        out << "\nValue access (CPU time, ns): per call of one value, and per element of a call "
               "of all values:\n";
        for (const char* model : {"Halvorn", "Pendrake", "Corvessa"}) {
            for (const char* call : {"fmiSetReal", "fmiGetReal"}) {
                const std::string name = std::string(model) + "/" + call;
                const Figures* one = find(name + "/one", 1);
                const Figures* all = find(name + "/all", 1);
                if (one != nullptr && all != nullptr) {
                    out << "  " << std::left << std::setw(10) << model << std::setw(12) << call
                        << std::fixed << std::setprecision(2) << one->nanoseconds << "  "
                        << all->perElement << "\n";
                }
            }
        }
        out << "\nInstantiate, initialize, terminate and free (CPU time per cycle, with the "
               "master's calloc and free):\n";
        for (const char* model : {"Halvorn", "Pendrake", "Corvessa"}) {
            const Figures* cycle = find(std::string(model) + "/lifecycle", 1);
            if (cycle != nullptr) {
                out << "  " << std::left << std::setw(10) << model << std::fixed
                    << std::setprecision(0) << cycle->nanoseconds << " ns, " << cycle->allocations
                    << " allocations, " << cycle->frees << " frees\n";
            }
        }
        // With several threads the real time per call is the wall time over
        // the calls of all threads together, so its inverse is the throughput.
        // The processor time per call says whether the threads slow each
        // other down, whether or not the machine has a core free for each.
        out << "\nOn two threads as a multiple of one thread: throughput, and processor time "
               "per call:\n";
        for (const char* model : {"Halvorn", "Pendrake", "Corvessa"}) {
            for (const char* what : {"fmiDoStep", "floor"}) {
                const std::string name = std::string(model) + "/scaling/" + what;
                const Figures* one = find(name, 1);
                const Figures* two = find(name, 2);
                if (one != nullptr && two != nullptr && two->nanoseconds > 0.0) {
                    out << "  " << std::left << std::setw(10) << model << std::setw(10) << what
                        << std::fixed << std::setprecision(2) << one->nanoseconds / two->nanoseconds
                        << "  " << two->cpuNanoseconds / one->cpuNanoseconds << "\n";
                }
            }
        }
    }

  private:
    // Which run of a family the summary takes: the fastest of several
    // repetitions, since on a busy machine other work only ever adds time;
    // else their median; else the one run.
    static constexpr int kNone = 0;
    static constexpr int kSingle = 1;
    static constexpr int kMedian = 2;
    static constexpr int kMinimum = 3;

    static int rankOf(const Run& run) {
        if (run.run_type != Run::RT_Aggregate) {
            return run.repetitions > 1 ? kNone : kSingle;
        }
        // The paired figures are medians already; their fastest run says
        // nothing more.
        const bool paired = run.run_name.function_name.size() >= 7 &&
                            run.run_name.function_name.compare(
                                run.run_name.function_name.size() - 7, 7, "/paired") == 0;
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

    std::map<std::string, Figures> figures_;
    std::vector<std::string> failures_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Loading the travel stop sets flush-to-zero in this thread, for good; the
    // operands of the timed loops are far from subnormal, so no figure depends
    // on it, and the floor runs under the same setting as the slave.
    registerModel<bench::Halvorn>();
    registerModel<bench::Pendrake>();
    registerModel<bench::Corvessa>();
    registerScaling<bench::Halvorn>();
    registerScaling<bench::Pendrake>();
    registerScaling<bench::Corvessa>();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}
