#include "Inputs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <utility>

#include "Failure.h"
#include "Numbers.h"

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        result.push_back(trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos) {
            return result;
        }
        start = comma + 1;
    }
}

// Column names as spreadsheets write them may be quoted.
std::string unquoted(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

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

// A smooth roll of the body, one way and then the other: zero until `start`,
// one full sine period of `period` seconds, zero afterwards.
double roll(double time, double start, double period) {
    constexpr double kPi = 3.14159265358979323846;
    if (time <= start || time >= start + period) {
        return 0.0;
    }
    return std::sin(2.0 * kPi * (time - start) / period);
}

}  // namespace

InputTable::InputTable(std::vector<double> times, std::vector<std::vector<fmiReal>> rows)
    : times_(std::move(times)), rows_(std::move(rows)) {}

std::vector<fmiReal> InputTable::at(double time) const {
    const auto after = std::upper_bound(times_.begin(), times_.end(), time);
    if (after == times_.begin()) {
        return rows_.front();
    }
    const auto row = static_cast<std::size_t>(std::distance(times_.begin(), after)) - 1;
    if (after == times_.end() || times_[row] == time) {
        return rows_[row];
    }
    const double t0 = times_[row];
    const double fraction = (time - t0) / (times_[row + 1] - t0);
    std::vector<fmiReal> values(rows_[row].size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const fmiReal v0 = rows_[row][i];
        values[i] = v0 + (rows_[row + 1][i] - v0) * fraction;
    }
    return values;
}

Inputs readInputFile(const std::string& path, const ModelDescription& model) {
    const Location location(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        location.refuse(std::string("cannot read the input file: ") + std::strerror(errno));
    }
    Inputs inputs;
    inputs.origin = path;
    std::vector<double> times;
    std::vector<std::vector<fmiReal>> rows;
    std::size_t columns = 0;
    std::size_t lineNumber = 0;
    std::string line;
    bool headerSeen = false;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (trimmed(line).empty()) {
            continue;
        }
        const std::vector<std::string> cells = fields(line);
        if (!headerSeen) {
            headerSeen = true;
            columns = cells.size();
            if (!equalIgnoringCase(unquoted(cells[0]), "time")) {
                location.refuse(lineNumber, 1,
                                "the first column must be \"time\", not \"" + cells[0] + "\"");
            }
            std::set<std::string> seen;
            for (std::size_t c = 1; c < cells.size(); ++c) {
                const std::string name = unquoted(cells[c]);
                const Variable* variable = model.find(name);
                const std::string inputs_list =
                    ModelDescription::names(model.withCausality(Causality::Input));
                if (variable == nullptr) {
                    location.refuse(lineNumber, c + 1,
                                    "unknown variable \"" + name + "\"; the inputs of " +
                                        model.modelIdentifier + " are: " + inputs_list);
                }
                if (variable->causality != Causality::Input) {
                    location.refuse(
                        lineNumber, c + 1,
                        "\"" + name + "\" is " +
                            (variable->causality == Causality::Parameter
                                 ? "a parameter; set it with --start-value"
                                 : std::string("an ") + causalityName(variable->causality) +
                                       ", not an input") +
                            "; the inputs are: " + inputs_list);
                }
                if (!seen.insert(name).second) {
                    location.refuse(lineNumber, c + 1, "column \"" + name + "\" appears twice");
                }
                inputs.variables.push_back(variable);
            }
            continue;
        }
        if (cells.size() != columns) {
            location.refuse(lineNumber, std::min(cells.size(), columns) + 1,
                            std::to_string(cells.size()) + " fields, but the header has " +
                                std::to_string(columns) + " columns");
        }
        std::vector<fmiReal> row;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::optional<double> value = parseReal(cells[c]);
            if (!value) {
                location.refuse(lineNumber, c + 1,
                                cells[c].empty() ? std::string("empty field")
                                                 : "\"" + cells[c] + "\" is not a number");
            }
            if (c > 0) {
                row.push_back(*value);
                continue;
            }
            if (!std::isfinite(*value)) {
                location.refuse(lineNumber, 1, "time " + cells[c] + " is not a finite number");
            }
            if (!times.empty() && !(*value > times.back())) {
                location.refuse(lineNumber, 1,
                                "time " + formatReal(*value) + " does not increase (the row " +
                                    "before has " + formatReal(times.back()) + ")");
            }
            times.push_back(*value);
        }
        rows.push_back(std::move(row));
    }
    if (in.bad()) {
        location.refuse(std::string("cannot read the input file: ") + std::strerror(errno));
    }
    if (!headerSeen) {
        location.refuse("empty; expected a header \"time,<input>,...\" and rows of numbers");
    }
    if (times.empty()) {
        location.refuse("no rows of values after the header");
    }
    auto table = std::make_shared<InputTable>(std::move(times), std::move(rows));
    inputs.at = [table](double time) { return table->at(time); };
    return inputs;
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
        inputs.at = [](double time) {
            const double travel = 0.05 * roll(time, 0.5, 2.0);
            return std::vector<fmiReal>{travel, 0.0 - travel};
        };
    } else if (id == "Corvessa") {
        // Front and rear bars in the same manoeuvre; the rear axle follows
        // the front one a tenth of a second later and rolls less.
        inputs.origin = "roll manoeuvre";
        inputs.variables = {
            &requireInput(model, "bar1_displacement1"), &requireInput(model, "bar1_displacement2"),
            &requireInput(model, "bar2_displacement1"), &requireInput(model, "bar2_displacement2")};
        inputs.at = [](double time) {
            const double front = 0.05 * roll(time, 0.5, 2.0);
            const double rear = 0.04 * roll(time, 0.6, 2.0);
            return std::vector<fmiReal>{front, 0.0 - front, rear, 0.0 - rear};
        };
    } else if (id == "Pendrake") {
        // Down through the lower limit to -100 mm, up through the upper
        // limit to 150 mm, and back to rest.
        inputs.origin = "sweep through both limits";
        inputs.variables = {&requireInput(model, "displacement")};
        auto table = std::make_shared<InputTable>(
            std::vector<double>{0.0, 1.0, 3.0, 4.0},
            std::vector<std::vector<fmiReal>>{{0.0}, {-0.1}, {0.15}, {0.0}});
        inputs.at = [table](double time) { return table->at(time); };
    } else {
        throw Failure(kExitUsage, "there is no built-in scenario for model " + id +
                                      "; give the inputs with --input");
    }
    return inputs;
}
