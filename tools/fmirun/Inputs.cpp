#include "Inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
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

const Variable& requireInput(const ModelDescription& model, const std::string& name) {
    const Variable* variable = model.find(name);
    if (variable == nullptr || variable->causality != Causality::Input) {
        throw Failure(kExitModel, "the default scenario of " + model.modelIdentifier +
                                      " drives an input \"" + name +
                                      "\" that its model description lacks");
    }
    return *variable;
}

// The coefficients of sin x = x - x^3/3! + x^5/5! - ... + x^21/21! after
// the first, from the highest: (-1)^k / (2k+1)! for k = 10 down to 1. Every
// factorial up to 21! is exact in a double, so each is correctly rounded.
constexpr std::array<double, 10> sineSeries() {
    std::array<double, 10> coefficients{};
    double factorial = 1.0;
    double sign = 1.0;
    for (std::size_t k = 1; k <= coefficients.size(); ++k) {
        factorial *= static_cast<double>(2 * k) * static_cast<double>(2 * k + 1);
        sign = -sign;
        coefficients[coefficients.size() - k] = sign / factorial;
    }
    return coefficients;
}

// sin(2 pi turns) for 0 <= turns < 1, from the sine's Taylor series on a
// quarter wave (its remainder there is below 1.3e-18), within about two
// units in the last place of the exact sine. The scenarios use it rather
// than std::sin, whose last bits differ between C libraries and their
// versions: a built-in scenario drives a slave with the same bits wherever
// fmirun was built. It also costs under a third of the library's sine.
double sineOfTurns(double turns) {
    // Into the first quarter wave by symmetry; both subtractions are exact.
    const bool secondHalf = turns >= 0.5;
    if (secondHalf) {
        turns -= 0.5;
    }
    if (turns > 0.25) {
        turns = 0.5 - turns;
    }
    constexpr double kTwoPi = 6.283185307179586476925;
    constexpr std::array<double, 10> kSeries = sineSeries();
    const double x = kTwoPi * turns;
    const double x2 = x * x;
    double series = 0.0;
    for (const double coefficient : kSeries) {
        series = coefficient + x2 * series;
    }
    const double sine = x + x * x2 * series;
    // 0.0 - sine rather than -sine: at half a period, zero and not -0.
    return secondHalf ? 0.0 - sine : sine;
}

// A smooth roll of the body, one way and then the other: zero until `start`,
// one full sine period of `period` seconds, zero afterwards.
double roll(double time, double start, double period) {
    if (time <= start || time >= start + period) {
        return 0.0;
    }
    return sineOfTurns((time - start) / period);
}

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
                            name + ": the " + driven.origin + " sets this input at every step");
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

Inputs defaultScenario(const ModelDescription& model) {
    const std::string& id = model.modelIdentifier;
    Inputs inputs;
    if (id == "Halvorn") {
        // The body rolls one way and back the other: the bar's ends move in
        // opposite directions by up to 50 mm.
        inputs.origin = "roll manoeuvre";
        inputs.variables = {&requireInput(model, "displacement1"),
                            &requireInput(model, "displacement2")};
        inputs.at = InputSource([](double time, fmiReal* values) {
            const double travel = 0.05 * roll(time, 0.5, 2.0);
            values[0] = travel;
            values[1] = 0.0 - travel;
        });
    } else if (id == "Corvessa") {
        // Front and rear bars in the same manoeuvre; the rear axle follows
        // the front one a tenth of a second later and rolls less.
        inputs.origin = "roll manoeuvre";
        inputs.variables = {
            &requireInput(model, "bar1_displacement1"), &requireInput(model, "bar1_displacement2"),
            &requireInput(model, "bar2_displacement1"), &requireInput(model, "bar2_displacement2")};
        inputs.at = InputSource([](double time, fmiReal* values) {
            const double front = 0.05 * roll(time, 0.5, 2.0);
            const double rear = 0.04 * roll(time, 0.6, 2.0);
            values[0] = front;
            values[1] = 0.0 - front;
            values[2] = rear;
            values[3] = 0.0 - rear;
        });
    } else if (id == "Pendrake") {
        // Down through the lower limit to -100 mm, up through the upper
        // limit to 150 mm, and back to rest.
        inputs.origin = "sweep through both limits";
        inputs.variables = {&requireInput(model, "displacement")};
        inputs.at = InputSource(std::make_shared<const InputTable>(
            std::vector<double>{0.0, 1.0, 3.0, 4.0},
            std::vector<std::vector<fmiReal>>{{0.0}, {-0.1}, {0.15}, {0.0}}));
    } else {
        throw Failure(kExitUsage, "there is no built-in scenario for model " + id +
                                      "; give the inputs with --input");
    }
    return inputs;
}
