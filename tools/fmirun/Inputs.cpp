#include "Inputs.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <utility>

#include "Csv.h"
#include "Failure.h"
#include "Numbers.h"

namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class Location {
  public:
    explicit Location(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void refuse(const std::string& message) const {
        throw Failure(kExitInputFile, path_ + ": " + message);
    }
    [[noreturn]] void refuse(std::size_t line, const std::string& message) const {
        throw Failure(kExitInputFile, path_ + ":" + std::to_string(line) + ": " + message);
    }
    [[noreturn]] void refuse(std::size_t line, std::size_t column,
                             const std::string& message) const {
        throw Failure(kExitInputFile, path_ + ":" + std::to_string(line) + ":" +
                                          std::to_string(column) + ": " + message);
    }

  private:
    std::string path_;
};

}  // namespace

InputTable::InputTable(std::vector<double> times, std::vector<std::vector<fmiReal>> rows)
    : times_(std::move(times)), columns_(rows.front().size()) {
    for (const std::vector<fmiReal>& row : rows) {
        values_.insert(values_.end(), row.begin(), row.end());
    }
}

std::size_t InputTable::searchRowBefore(double time) const {
    const auto after = std::upper_bound(times_.begin(), times_.end(), time);
    cursor_ = static_cast<std::size_t>(std::distance(times_.begin(), after)) - 1;
    return cursor_;
}

void InputTable::lookUp(double time, fmiReal* values) const {
    const fmiReal* held = nullptr;
    if (time < times_.front()) {
        held = values_.data();
    } else if (time >= times_.back()) {
        held = values_.data() + (times_.size() - 1) * columns_;
    } else {
        // Here times_.front() < time < times_.back(): a row before and after.
        const std::size_t row = rowBefore(time);
        const fmiReal* before = values_.data() + row * columns_;
        if (times_[row] == time) {
            held = before;
        } else {
            segment_ = {times_[row], times_[row + 1], times_[row + 1] - times_[row],
                        row * columns_};
            interpolate(time, values);
            return;
        }
    }
    for (std::size_t i = 0; i < columns_; ++i) {
        values[i] = held[i];
    }
}

namespace {

// A column's name and the unit in brackets after it, as tools write them
// ("displacement [m]"); the unit is empty when none is given.
std::pair<std::string, std::string> nameAndUnit(const std::string& field) {
    const std::size_t open = field.rfind('[');
    if (field.empty() || field.back() != ']' || open == std::string::npos || open == 0) {
        return {field, ""};
    }
    std::string name = field.substr(0, open);
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    std::string unit = field.substr(open + 1, field.size() - open - 2);
    const std::size_t first = unit.find_first_not_of(' ');
    const std::size_t last = unit.find_last_not_of(' ');
    unit = first == std::string::npos ? "" : unit.substr(first, last - first + 1);
    return {name, unit};
}

// The header's names, units taken off; a unit must be the one the model
// declares for the variable (any, where it declares none), and time's is s.
std::vector<std::string> columnNames(const CsvRecord& header, const Location& location,
                                     const ModelDescription& model, bool timeFirst) {
    std::vector<std::string> names;
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        const auto [name, unit] = nameAndUnit(header.fields[c]);
        if (!unit.empty()) {
            const Variable* variable = model.find(name);
            const std::string declared =
                timeFirst && c == 0 ? std::string("s")
                                    : (variable != nullptr ? variable->unit : std::string());
            if (!declared.empty() && unit != declared) {
                location.refuse(header.line, c + 1,
                                "\"" + name + "\" is in " + declared + ", not in " + unit);
            }
        }
        names.push_back(name);
    }
    return names;
}

// The header: "time", then names of inputs of the model, each once.
std::vector<const Variable*> inputColumns(const CsvRecord& given, const Location& location,
                                          const ModelDescription& model) {
    CsvRecord header = given;
    header.fields = columnNames(given, location, model, true);
    if (!equalIgnoringCase(header.fields[0], "time")) {
        location.refuse(header.line, 1,
                        "the first column must be \"time\", not \"" + header.fields[0] + "\"");
    }
    const std::string inputNames = ModelDescription::names(model.withCausality(Causality::Input));
    std::vector<const Variable*> variables;
    std::set<std::string> seen;
    for (std::size_t c = 1; c < header.fields.size(); ++c) {
        const std::string& name = header.fields[c];
        const Variable* variable = model.find(name);
        if (variable == nullptr) {
            location.refuse(header.line, c + 1,
                            "unknown variable \"" + name + "\"; the inputs of " +
                                model.modelIdentifier + " are: " + inputNames);
        }
        if (variable->causality != Causality::Input) {
            location.refuse(header.line, c + 1,
                            "\"" + name + "\" is " +
                                (variable->causality == Causality::Parameter
                                     ? "a parameter; set it with --start-value"
                                     : std::string("an ") + causalityName(variable->causality) +
                                           ", not an input") +
                                "; the inputs are: " + inputNames);
        }
        if (!seen.insert(name).second) {
            location.refuse(header.line, c + 1, "column \"" + name + "\" appears twice");
        }
        variables.push_back(variable);
    }
    return variables;
}

double numberIn(const CsvRecord& record, std::size_t column, const Location& location) {
    const std::string& field = record.fields[column];
    const std::optional<double> value = parseReal(field);
    if (!value) {
        std::string pointed = field;
        std::replace(pointed.begin(), pointed.end(), ',', '.');
        if (pointed != field && parseReal(pointed)) {
            location.refuse(record.line, column + 1,
                            "\"" + field + "\" has a decimal comma; write numbers with a decimal " +
                                "point (" + pointed + ")");
        }
        location.refuse(record.line, column + 1,
                        field.empty() ? std::string("empty field")
                                      : "\"" + field + "\" is not a finite number");
    }
    return *value;
}

std::string columns(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " column" : " columns");
}

// Every row as wide as the header.
// A comma-separated row with more fields than the header may well hold
// numbers with a decimal comma: the message says so.
void refuseOtherWidth(const CsvRecord& record, std::size_t width, char separator,
                      const Location& location) {
    const std::size_t count = record.fields.size();
    if (count != width) {
        const bool decimalComma = separator == ',' && count > width;
        location.refuse(record.line, std::min(count, width) + 1,
                        std::to_string(count) + (count == 1 ? " field" : " fields") +
                            ", but the header has " + columns(width) +
                            (decimalComma ? " (numbers with a decimal comma? write them with a "
                                            "decimal point)"
                                          : ""));
    }
}

}  // namespace

Inputs parseInputs(std::string_view text, const std::string& origin,
                   const ModelDescription& model) {
    const Location location(origin);
    Inputs inputs;
    inputs.origin = origin;
    std::vector<double> times;
    std::vector<std::vector<fmiReal>> rows;
    CsvReader reader(text);
    CsvRecord record;
    try {
        if (!reader.next(record)) {
            location.refuse("empty; expected a header \"time,<input>,...\" and rows of numbers");
        }
        inputs.variables = inputColumns(record, location, model);
        const std::size_t columns = record.fields.size();
        while (reader.next(record)) {
            refuseOtherWidth(record, columns, reader.separator(), location);
            const double time = numberIn(record, 0, location);
            // A time given twice is a step change: the row before holds up
            // to it, the row after from it on.
            const std::size_t rowCount = times.size();
            if (rowCount > 0 && time < times.back()) {
                location.refuse(record.line, 1,
                                "time " + formatReal(time) + " does not increase (the row " +
                                    "before has " + formatReal(times.back()) + ")");
            }
            if (rowCount > 1 && time == times[rowCount - 1] && time == times[rowCount - 2]) {
                location.refuse(record.line, 1,
                                "time " + formatReal(time) +
                                    " a third time; a step change takes two rows of one time");
            }
            std::vector<fmiReal> row;
            for (std::size_t c = 1; c < columns; ++c) {
                row.push_back(numberIn(record, c, location));
            }
            times.push_back(time);
            rows.push_back(std::move(row));
        }
    } catch (const CsvError& error) {
        location.refuse(error.line, error.field, error.message);
    }
    if (times.empty()) {
        location.refuse("no rows of values after the header");
    }
    inputs.at = InputSource(std::make_shared<const InputTable>(std::move(times), std::move(rows)));
    return inputs;
}

namespace {

// `what` names the file in the message when it cannot be read.
std::string readWhole(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Location(path).refuse(std::string("cannot read the ") + what + ": " + errnoText());
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        Location(path).refuse(std::string("cannot read the ") + what + ": " + errnoText());
    }
    return text;
}

// The header of a sweep: parameters and inputs the run leaves alone, each once.
std::vector<const Variable*> sweepColumns(const CsvRecord& header, const Location& location,
                                          const ModelDescription& model, const Inputs& driven) {
    std::vector<const Variable*> variables;
    const std::vector<std::string> names = columnNames(header, location, model, false);
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        const std::string& name = names[c];
        const Variable* variable = model.find(name);
        if (variable == nullptr) {
            location.refuse(
                header.line, c + 1,
                "unknown variable \"" + name + "\"; the parameters of " + model.modelIdentifier +
                    " are: " + ModelDescription::names(model.withCausality(Causality::Parameter)) +
                    "; its inputs: " +
                    ModelDescription::names(model.withCausality(Causality::Input)));
        }
        if (variable->causality != Causality::Parameter &&
            variable->causality != Causality::Input) {
            location.refuse(header.line, c + 1,
                            "\"" + name + "\" is an " + causalityName(variable->causality) +
                                "; only parameters and inputs can be set");
        }
        if (std::find(driven.variables.begin(), driven.variables.end(), variable) !=
            driven.variables.end()) {
            location.refuse(header.line, c + 1,
                            name + ": " + driven.origin + " sets this input at every step");
        }
        if (std::find(variables.begin(), variables.end(), variable) != variables.end()) {
            location.refuse(header.line, c + 1, "column \"" + name + "\" appears twice");
        }
        variables.push_back(variable);
    }
    return variables;
}

}  // namespace

Inputs readInputFile(const std::string& path, const ModelDescription& model) {
    return parseInputs(readWhole(path, "input file"), path, model);
}

SweepTable parseSweep(std::string_view text, const std::string& origin,
                      const ModelDescription& model, const Inputs& driven) {
    const Location location(origin);
    SweepTable table;
    table.origin = origin;
    CsvReader reader(text);
    CsvRecord record;
    try {
        if (!reader.next(record)) {
            location.refuse(
                "empty; expected a header naming parameters, then a row of values per case");
        }
        table.variables = sweepColumns(record, location, model, driven);
        const std::size_t columns = record.fields.size();
        while (reader.next(record)) {
            refuseOtherWidth(record, columns, reader.separator(), location);
            std::vector<fmiReal> values;
            for (std::size_t c = 0; c < columns; ++c) {
                values.push_back(numberIn(record, c, location));
            }
            table.cases.push_back(std::move(values));
            table.lines.push_back(record.line);
        }
    } catch (const CsvError& error) {
        location.refuse(error.line, error.field, error.message);
    }
    if (table.cases.empty()) {
        location.refuse("no cases after the header");
    }
    return table;
}

SweepTable readSweepFile(const std::string& path, const ModelDescription& model,
                         const Inputs& driven) {
    return parseSweep(readWhole(path, "sweep file"), path, model, driven);
}

Inputs demonstrationInputs(const FmuArchive* archive, const std::string& slave,
                           const ModelDescription& model) {
    const std::string table = std::string("documentation/") + kDemonstrationTable;
    const std::string title = std::string("documentation/") + kDemonstrationTitle;
    if (archive == nullptr || !archive->contains(table)) {
        throw Failure(kExitUsage,
                      "no inputs: " + slave +
                          (archive == nullptr ? " is a library, which carries no demonstration"
                                              : " carries no demonstration (" + table + ")") +
                          "; give the inputs with --input FILE");
    }
    const auto whole = [&archive](const std::string& entry) {
        std::string text;
        archive->unpack(entry, kLargestDemonstration,
                        [&text](const char* bytes, std::size_t size) { text.append(bytes, size); });
        return text;
    };
    Inputs inputs = parseInputs(whole(table), slave + ":" + table, model);
    std::string name = archive->contains(title) ? whole(title) : std::string();
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())) != 0) {
        name.pop_back();
    }
    inputs.origin =
        "the archive's demonstration" + (name.empty() ? std::string() : " \"" + name + "\"");
    return inputs;
}
