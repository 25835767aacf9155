// A run of one slave over a time grid: inputs set at each communication
// point, one step to the next point, the recorded variables read, their peaks
// kept and, unless only a summary is asked for, written as a CSV row.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CoSimulationSlave.h"
#include "Inputs.h"
#include "ModelDescription.h"
#include "TimeGrid.h"

struct RunSettings {
    std::vector<std::pair<const Variable*, fmiReal>> startValues;
    // What each row holds after the time, in this order, and what the peaks
    // are kept of: the outputs, unless others are asked for.
    std::vector<const Variable*> recorded;
    // A row after every this many steps (the output interval over the step
    // size), and one at the stop time; the peaks are kept at every step.
    std::size_t rowEvery = 1;
    // Bytes of a serialized FMU state to start from, set once
    // initialization ends (null: none); and where to put the state at the
    // stop time (null: nowhere).
    const std::string* initialState = nullptr;
    std::string* finalState = nullptr;
    bool showProgress = false;
};

// A file of its own, closed when it goes.
struct FileCloser {
    void operator()(std::FILE* file) const {
        std::fclose(file);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The rows' header line: "time" and the recorded variables' names, quoted
// where CSV needs it, and a newline.
std::string csvHeader(const std::vector<const Variable*>& recorded);

// Opens a file that a run writes (its rows, its picture) with std::fopen's
// `mode`; throws Failure (kExitOutputFile) naming it when that fails. Safe
// in any thread.
File openOutputFile(const std::string& path, const char* mode);

// The rows of a run as CSV: time and the recorded variables, each number the shortest text
// that reads back as the same double. Rows are gathered in a buffer of its
// own and written in large pieces. Throws Failure (kExitOutputFile) when
// the file cannot be written.
class CsvOutput {
  public:
    CsvOutput(std::FILE* file, std::string name);
    const std::string& name() const {
        return name_;
    }
    void header(const std::vector<const Variable*>& recorded);
    // The row of the grid's k-th point.
    void row(const TimeGrid& grid, std::size_t k, const fmiReal* values, std::size_t count) {
        if (capacity_ - used_ < (count + 1) * kRowBytesPerValue) {
            flush();
        }
        writeRow(grid, k, values, count);
    }
    // Everything written so far to the file, and the file flushed.
    void finish();

  private:
    static constexpr std::size_t kRowBytesPerValue = 33;  // a number and its separator

    void writeRow(const TimeGrid& grid, std::size_t k, const fmiReal* values, std::size_t count);
    void flush();

    std::FILE* file_;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

// The extremes of one recorded variable over a run, NaNs left out.
struct OutputRange {
    const Variable* variable = nullptr;
    double min = 0.0;
    double minTime = 0.0;
    double max = 0.0;
    double maxTime = 0.0;
    bool seen = false;
};

// The recorded values of a run at every communication point, kept in memory
// for a picture of the run.
struct RecordedSeries {
    std::vector<double> times;
    std::vector<std::vector<double>> values;  // a column per recorded variable, in their order
};

struct RunResult {
    std::size_t steps = 0;
    std::vector<OutputRange> ranges;
};

// Runs the slave, already instantiated and in initialization mode
// (CoSimulationSlave::enterInitialization), writing rows to `rows` and
// keeping the same values in `series` unless either is null. Throws Failure
// when the slave fails (kExitSlaveFailed; the rows up to the failed step are
// written and kept) or the rows cannot be written (kExitOutputFile).
RunResult run(CoSimulationSlave& slave, const Inputs& inputs, const TimeGrid& grid,
              const RunSettings& settings, CsvOutput* rows, RecordedSeries* series = nullptr);
