// Where the inputs come from at each communication point: an input file, or
// the demonstration that the model's archive carries; and the start values of a parameter sweep's
// cases, a file read by the same rules.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Archive.h"
#include "ModelDescription.h"

// A table of input values over time, linearly interpolated in between its
// rows and held constant before the first and after the last. At a row's own
// time it gives that row's values exactly; of two rows of one time (a step
// change) the first holds up to it, the second from it on.
class InputTable {
  public:
    InputTable(std::vector<double> times, std::vector<std::vector<fmiReal>> rows);
    // Defined here so that a run's loop has the common case inlined: a time
    // strictly inside the segment where the last lookup ended.
    void at(double time, fmiReal* values) const {
        if (segment_.start < time && time < segment_.end) {
            interpolate(time, values);
            return;
        }
        lookUp(time, values);
    }

  private:
    // The two rows the last interpolation lay between: their times, the
    // difference of those, and where the first row's values begin. Until a
    // time falls between two rows, start == end and no time lies in it.
    struct Segment {
        double start = 0.0;
        double end = 0.0;
        double span = 0.0;
        std::size_t offset = 0;
    };
    // `values` is the caller's array, none of the table's: without its
    // writes possibly reaching the table, the loop needs no checks of that.
    void interpolate(double time, fmiReal* __restrict values) const {
        const std::size_t columns = columns_;
        const fmiReal* const before = values_.data() + segment_.offset;
        const fmiReal* const after = before + columns;
        const double fraction = (time - segment_.start) / segment_.span;
        for (std::size_t i = 0; i < columns; ++i) {
            values[i] = before[i] + (after[i] - before[i]) * fraction;
        }
    }
    void lookUp(double time, fmiReal* values) const;
    std::size_t rowBefore(double time) const {
        const std::size_t row = cursor_;
        if (times_[row] <= time && time < times_[row + 1]) {
            return row;
        }
        return searchRowBefore(time);
    }
    std::size_t searchRowBefore(double time) const;

    std::vector<double> times_;
    std::vector<fmiReal> values_;  // the rows one after another
    std::size_t columns_;
    mutable Segment segment_;
    // Where the last lookup ended: a run asks for times in order, so the row
    // is almost always this one or the next.
    mutable std::size_t cursor_ = 0;
};

// Where the values at a time come from: the table of an input file or of an
// archive's demonstration, shared by the copies of a sweep's threads until
// each takes one of its own. Called at every step, so it calls the table
// directly rather than through a type-erased wrapper.
class InputSource {
  public:
    InputSource() = default;
    explicit InputSource(std::shared_ptr<const InputTable> table) : table_(std::move(table)) {}

    // Only inputs that drive variables are asked for values, and those
    // always come with a table.
    void operator()(double time, fmiReal* values) const {
        table_->at(time, values);
    }

    // The same values from a table of its own: a table remembers where its
    // last lookup ended, so runs in several threads need one each.
    InputSource copy() const {
        return table_ != nullptr ? InputSource(std::make_shared<const InputTable>(*table_)) : *this;
    }

  private:
    std::shared_ptr<const InputTable> table_;
};

struct Inputs {
    std::vector<const Variable*> variables;
    // Writes the values of `variables`, in their order, at a time; called
    // with times that never decrease.
    InputSource at;
    std::string origin;  // for messages: the file, or the archive's demonstration
};

// Reads an input CSV file: a header "time,<input name>,..." and one row per
// time, times increasing, a time at most twice (a step change), every number
// finite; fields separated by commas, semicolons or tabs (Csv.h), a name
// perhaps followed by its unit in brackets. Every column after the first
// names an input of the model. Throws Failure (kExitInputFile) naming the
// file, line and column of the first problem.
Inputs readInputFile(const std::string& path, const ModelDescription& model);

// The same for text already read; `origin` names it in messages.
Inputs parseInputs(std::string_view text, const std::string& origin, const ModelDescription& model);

// The cases of a parameter sweep: a header naming parameters, or inputs that
// the run does not drive, and a row of their start values per case.
struct SweepTable {
    std::vector<const Variable*> variables;
    std::vector<std::vector<fmiReal>> cases;  // case n is cases[n - 1]
    std::vector<std::size_t> lines;           // the line of each case's row
    std::string origin;                       // for messages: the file
};

// Reads a sweep file, CSV by the input file's rules. Throws Failure
// (kExitInputFile) naming the file, line and column of the first problem: a
// column that is no parameter or input of the model, or an input that
// `driven` sets at every step, a name twice, a field that is no finite
// number, a row of another length, no rows.
SweepTable readSweepFile(const std::string& path, const ModelDescription& model,
                         const Inputs& driven);

// The same for text already read; `origin` names it in messages.
SweepTable parseSweep(std::string_view text, const std::string& origin,
                      const ModelDescription& model, const Inputs& driven);

// Where an archive keeps the inputs of its model's demonstration, and that
// demonstration's title (a line of text), in its documentation folder.
constexpr const char* kDemonstrationTable = "demonstration.csv";
constexpr const char* kDemonstrationTitle = "demonstration.txt";
// Far beyond any demonstration: a larger entry is damaged.
constexpr std::size_t kLargestDemonstration = std::size_t{64} << 20;

// The inputs of the demonstration that the archive carries, read by the
// input file's rules, with its title as their origin. Throws Failure
// (kExitUsage) when there is no archive (`archive` null: a library given
// with its description) or it carries none, saying to give --input;
// Failure (kExitInputFile) for a table that breaks the rules.
Inputs demonstrationInputs(const FmuArchive* archive, const std::string& slave,
                           const ModelDescription& model);
