#include "Run.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"
#include "Slave.h"

namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// Shows how far a run is on its progress line.
class Progress {
  public:
    Progress(bool enabled, double start, double stop)
        : line_(enabled), start_(start), stop_(stop) {}

    // Called at every step; looks at the clock only now and then, since
    // reading it costs more than a step of the master.
    void update(std::size_t step, double time) {
        if (!line_.enabled() || step % kStepsBetweenLooks != 0 || !line_.due()) {
            return;
        }
        const double percent = 100.0 * (time - start_) / (stop_ - start_);
        char text[128];
        std::snprintf(text, sizeof text, "fmirun: t = %g of %g (%.0f%%)", time, stop_, percent);
        console::progress(text);
    }

  private:
    static constexpr std::size_t kStepsBetweenLooks = 1024;
    console::ProgressLine line_;
    double start_;
    double stop_;
};

}  // namespace

File openOutputFile(const std::string& path, const char* mode) {
    File file(std::fopen(path.c_str(), mode));
    if (file == nullptr) {
        throw Failure(kExitOutputFile, "cannot write " + path + ": " + errnoText());
    }
    return file;
}

CsvOutput::CsvOutput(std::FILE* file, std::string name)
    : file_(file),
      name_(std::move(name)),
      buffer_(std::size_t{1} << 16),
      capacity_(buffer_.size()) {}

std::string csvHeader(const std::vector<const Variable*>& recorded) {
    std::string text = "time";
    for (const Variable* variable : recorded) {
        text += "," + csvField(variable->name);
    }
    return text + "\n";
}

void CsvOutput::header(const std::vector<const Variable*>& recorded) {
    const std::string text = csvHeader(recorded);
    flush();
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errnoText());
    }
}

void CsvOutput::flush() {
    if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
        used_ = 0;
        throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errnoText());
    }
    used_ = 0;
}

void CsvOutput::finish() {
    flush();
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
        throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errnoText());
    }
}

namespace {

// The extremes of every output, in arrays of their own so that the loop keeps
// them close; a NaN fails every comparison and so is left out by itself.
class Peaks {
  public:
    Peaks(std::size_t outputs, double start)
        : min_(outputs, std::numeric_limits<double>::infinity()),
          max_(outputs, -std::numeric_limits<double>::infinity()),
          minTime_(outputs, start),
          maxTime_(outputs, start) {}

    void track(double time, const fmiReal* values) {
        const std::size_t count = min_.size();
        double* const min = min_.data();
        double* const max = max_.data();
        for (std::size_t i = 0; i < count; ++i) {
            const double value = values[i];
            if (value < min[i]) {
                min[i] = value;
                minTime_[i] = time;
            }
            if (value > max[i]) {
                max[i] = value;
                maxTime_[i] = time;
            }
        }
    }

    void into(std::vector<OutputRange>& ranges) const {
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            OutputRange& range = ranges[i];
            range.seen = min_[i] <= max_[i];
            range.min = min_[i];
            range.max = max_[i];
            range.minTime = minTime_[i];
            range.maxTime = maxTime_[i];
        }
    }

  private:
    std::vector<double> min_;
    std::vector<double> max_;
    std::vector<double> minTime_;
    std::vector<double> maxTime_;
};

// Keeps every recorded value; only for a run whose picture is asked for.
void keep(RecordedSeries& series, double time, const fmiReal* values) {
    series.times.push_back(time);
    for (std::size_t i = 0; i < series.values.size(); ++i) {
        series.values[i].push_back(values[i]);
    }
}

// Room for every value of the run, and the values at the start.
void startSeries(RecordedSeries& series, const TimeGrid& grid, const fmiReal* values) {
    series.times.reserve(grid.steps() + 1);
    for (std::vector<double>& column : series.values) {
        column.reserve(grid.steps() + 1);
    }
    keep(series, grid.start(), values);
}

// The peaks, and every value kept besides, in the loop of a run whose picture
// is asked for; the loop of any other run tracks the peaks alone.
class PeaksAndSeries {
  public:
    PeaksAndSeries(Peaks& peaks, RecordedSeries& series) : peaks_(peaks), series_(series) {}

    void track(double time, const fmiReal* values) {
        peaks_.track(time, values);
        keep(series_, time, values);
    }

  private:
    Peaks& peaks_;
    RecordedSeries& series_;
};

// The loop of a run, compiled once with rows and once without, so that a
// run asked only for its summary carries nothing of the rows, once more for
// each slave class whose step it calls directly, and once more where the
// values are kept for a picture.
template <bool kWritesRows, bool kModelExchange, typename SlaveClass, typename Tracker>
std::size_t stepThrough(SlaveClass& slave, const Inputs& inputs, const TimeGrid& grid, bool driven,
                        fmiReal* inputValues, const fmiReal* outputs, std::size_t outputCount,
                        CsvOutput* rows, std::size_t rowEvery, Tracker& peaks, Progress& progress,
                        double& time) {
    const std::size_t steps = grid.steps();
    std::size_t untilRow = rowEvery;
    for (std::size_t k = 1; k <= steps; ++k) {
        const double next = grid.at(k);
        // Model Exchange evaluates the slave at each point from the inputs
        // there; co-simulation steps to it from the inputs at the step's
        // start.
        if constexpr (kModelExchange) {
            if (driven) {
                inputs.at(next, inputValues);
            }
            slave.evaluateAt(next);
        } else {
            if (driven) {
                inputs.at(time, inputValues);
            }
            slave.step(time, next - time);
        }
        time = next;
        peaks.track(time, outputs);
        if constexpr (kWritesRows) {
            if (--untilRow == 0 || k == steps) {
                rows->row(grid, k, outputs, outputCount);
                untilRow = rowEvery;
            }
        }
        progress.update(k, time);
    }
    return steps;
}

template <bool kKeepsSeries>
void runSteps(CoSimulationSlave& slave, const Inputs& inputs, const TimeGrid& grid,
              const RunSettings& settings, const std::vector<fmiValueReference>& outputReferences,
              CsvOutput* rows, RecordedSeries* series, RunResult& result) {
    std::vector<fmiValueReference> inputReferences;
    for (const Variable* input : inputs.variables) {
        inputReferences.push_back(input->valueReference);
    }
    std::vector<fmiReal> inputValues(inputReferences.size());
    std::vector<fmiReal> outputValues(outputReferences.size());
    const std::size_t outputCount = outputValues.size();
    fmiReal* const outputs = outputValues.data();
    const bool driven = !inputReferences.empty();
    slave.prepareSteps(inputReferences.data(), inputValues.data(), inputReferences.size(),
                       outputReferences.data(), outputs, outputCount);

    for (const auto& [variable, value] : settings.startValues) {
        slave.setReal(&variable->valueReference, 1, &value);
    }
    // A slave that computes its outputs when initialization ends computes
    // them from the inputs at the start, as the first step will.
    if (driven) {
        inputs.at(grid.start(), inputValues.data());
        slave.setReal(inputReferences.data(), inputReferences.size(), inputValues.data());
    }
    slave.exitInitialization();
    if (settings.initialState != nullptr) {
        slave.restoreState(*settings.initialState);
    }
    if (outputCount > 0) {
        slave.getReal(outputReferences.data(), outputCount, outputs);
    }
    Peaks peaks(outputCount, grid.start());
    peaks.track(grid.start(), outputs);
    if (rows != nullptr) {
        rows->row(grid, 0, outputs, outputCount);
    }
    if constexpr (kKeepsSeries) {
        startSeries(*series, grid, outputs);
    }

    Progress progress(settings.showProgress, grid.start(), grid.stop());
    double time = grid.start();
    const auto through = [&](auto& slaveOfItsClass, auto& tracker, auto modelExchange) {
        constexpr bool kModelExchange = decltype(modelExchange)::value;
        return rows != nullptr
                   ? stepThrough<true, kModelExchange>(
                         slaveOfItsClass, inputs, grid, driven, inputValues.data(), outputs,
                         outputCount, rows, settings.rowEvery, tracker, progress, time)
                   : stepThrough<false, kModelExchange>(
                         slaveOfItsClass, inputs, grid, driven, inputValues.data(), outputs,
                         outputCount, rows, settings.rowEvery, tracker, progress, time);
    };
    const auto stepAll = [&](auto& tracker) {
        // An FMI 1.0 slave's step is inlined into the loop: no call through
        // the interface, its functions called straight from the loop. It has
        // no Model Exchange; the loops of the others are compiled for each
        // interface, so that neither tests the interface at every step.
        if (Slave* const fmi1 = slave.fmi1Slave()) {
            return through(*fmi1, tracker, std::false_type{});
        }
        if (slave.isModelExchange()) {
            return through(slave, tracker, std::true_type{});
        }
        return through(slave, tracker, std::false_type{});
    };
    try {
        if constexpr (kKeepsSeries) {
            PeaksAndSeries kept(peaks, *series);
            result.steps = stepAll(kept);
        } else {
            result.steps = stepAll(peaks);
        }
    } catch (const Failure& failure) {
        peaks.into(result.ranges);
        if (failure.status() != kExitSlaveFailed) {
            throw;
        }
        throw Failure(kExitSlaveFailed, std::string(failure.what()) + " in the step from t = " +
                                            formatReal(time) + "; the run stops there");
    }
    peaks.into(result.ranges);
    if (settings.finalState != nullptr) {
        *settings.finalState = slave.saveState();
    }
    slave.terminate();
    slave.freeInstance();
}

}  // namespace

RunResult run(CoSimulationSlave& slave, const Inputs& inputs, const TimeGrid& grid,
              const RunSettings& settings, CsvOutput* rows, RecordedSeries* series) {
    // Parameters and inputs are read as outputs are, by value reference, in
    // every FMI version; the step reads them all in one call. The recorded
    // variables are the columns of the rows and of the series.
    std::vector<fmiValueReference> outputReferences;
    RunResult result;
    for (const Variable* variable : settings.recorded) {
        outputReferences.push_back(variable->valueReference);
        result.ranges.push_back(OutputRange{variable});
    }
    if (rows != nullptr) {
        rows->header(settings.recorded);
    }
    if (series != nullptr) {
        series->values.assign(settings.recorded.size(), {});
    }
    try {
        if (series != nullptr) {
            runSteps<true>(slave, inputs, grid, settings, outputReferences, rows, series, result);
        } else {
            runSteps<false>(slave, inputs, grid, settings, outputReferences, rows, series, result);
        }
    } catch (const Failure& failure) {
        // The rows up to a failed step stay, for finding out what went wrong.
        if (rows != nullptr && failure.status() == kExitSlaveFailed) {
            rows->finish();
        }
        throw;
    }
    if (rows != nullptr) {
        rows->finish();
    }
    return result;
}
