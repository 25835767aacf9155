#include "DescriptionWriting.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "LogCategories.h"

namespace description {

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string decimal(Real value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string generationDateAndTime() {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr) {
        now = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    }
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

Real inputStartValue(const RealVariable& variable) {
    return variable.hasStartValue ? variable.startValue : 0.0;
}

std::vector<ValueReference> referencesOf(const ModelDefinition& model, ValueReferenceSet set,
                                         std::initializer_list<Causality> causalities) {
    std::vector<ValueReference> references;
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        const Causality causality = model.realVariables[vr].causality;
        if (contains(set, vr) &&
            std::find(causalities.begin(), causalities.end(), causality) != causalities.end()) {
            references.push_back(vr);
        }
    }
    return references;
}

const char* roleAttributes(Causality causality) {
    switch (causality) {
        case Causality::Parameter:
            return "causality=\"parameter\" variability=\"tunable\" initial=\"exact\"";
        case Causality::Input:
            return "causality=\"input\" variability=\"continuous\"";
        case Causality::Output:
            return "causality=\"output\" variability=\"continuous\" initial=\"calculated\"";
    }
    return "";
}

void writeLogCategories(std::ostream& out) {
    out << "  <LogCategories>\n";
    for (const LogCategory& category : kLogCategories) {
        out << "    <Category name=\"" << escaped(category.name) << "\" description=\""
            << escaped(category.description) << "\"/>\n";
    }
    out << "  </LogCategories>\n";
}

std::string spaceSeparated(const std::vector<ValueReference>& numbers) {
    std::string out;
    for (const ValueReference number : numbers) {
        out += (out.empty() ? "" : " ") + std::to_string(number);
    }
    return out;
}

std::string repeated(std::string_view word, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += (i == 0 ? "" : " ");
        out += word;
    }
    return out;
}

namespace {

// Every unit a model may use; a new one is added here with its exponents.
constexpr BaseUnits kKnownUnits[] = {
    {"m", 0, 1, 0},       // displacement
    {"s", 0, 0, 1},       // time
    {"m/s", 0, 1, -1},    // velocity
    {"N", 1, 1, -2},      // force: kg m / s^2
    {"N/m", 1, 0, -2},    // rate of a spring or bar
    {"N.s/m", 1, 0, -1},  // damping coefficient
};

}  // namespace

const BaseUnits& baseUnitsOf(const char* symbol) {
    for (const BaseUnits& unit : kKnownUnits) {
        if (std::string_view(unit.symbol) == symbol) {
            return unit;
        }
    }
    std::string known;
    for (const BaseUnits& unit : kKnownUnits) {
        known += (known.empty() ? "" : ", ") + std::string(unit.symbol);
    }
    throw std::runtime_error(std::string("unknown unit \"") + symbol +
                             "\": its SI base units are not known (known units: " + known +
                             "); add it to the table in runtime/core/DescriptionWriting.cpp");
}

std::vector<const BaseUnits*> unitsOf(const ModelDefinition& model) {
    std::vector<const BaseUnits*> units;
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        if (*variable.unit == '\0') {
            continue;
        }
        const BaseUnits* unit = &baseUnitsOf(variable.unit);
        if (std::find(units.begin(), units.end(), unit) == units.end()) {
            units.push_back(unit);
        }
    }
    return units;
}

std::string unitAttribute(const RealVariable& variable) {
    return *variable.unit == '\0' ? std::string() : " unit=\"" + escaped(variable.unit) + "\"";
}

void writeUnitDefinitions(std::ostream& out, const ModelDefinition& model, const char* alsoUsed) {
    std::vector<const BaseUnits*> units = unitsOf(model);
    if (alsoUsed != nullptr &&
        std::find(units.begin(), units.end(), &baseUnitsOf(alsoUsed)) == units.end()) {
        units.push_back(&baseUnitsOf(alsoUsed));
    }
    if (units.empty()) {
        return;
    }
    out << "  <UnitDefinitions>\n";
    for (const BaseUnits* unit : units) {
        out << "    <Unit name=\"" << escaped(unit->symbol) << "\">\n      <BaseUnit";
        const std::pair<const char*, int> exponents[] = {
            {"kg", unit->kg}, {"m", unit->m}, {"s", unit->s}};
        for (const auto& [name, exponent] : exponents) {
            if (exponent != 0) {
                out << " " << name << "=\"" << exponent << "\"";
            }
        }
        out << "/>\n    </Unit>\n";
    }
    out << "  </UnitDefinitions>\n";
}

namespace {

const char* roleName(Causality causality) {
    switch (causality) {
        case Causality::Parameter:
            return "parameter";
        case Causality::Input:
            return "input";
        case Causality::Output:
            return "output";
    }
    return "parameter";
}

std::string startValueText(const RealVariable& variable) {
    switch (variable.causality) {
        case Causality::Parameter:
            return decimal(variable.startValue);
        case Causality::Input:
            return decimal(inputStartValue(variable));
        case Causality::Output:
            break;
    }
    return "none";
}

void writeVariableRows(std::ostream& out, const ModelDefinition& model) {
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        out << "<tr><td>" << vr << "</td><td><code>" << escaped(variable.name) << "</code></td><td>"
            << roleName(variable.causality) << "</td><td>" << startValueText(variable)
            << "</td><td>" << escaped(variable.unit) << "</td><td>" << escaped(variable.description)
            << "</td></tr>\n";
    }
}

// The demonstration's inputs are in the archive's documentation folder,
// beside this page, for any master that reads inputs from a CSV file.
void writeDemonstration(std::ostream& out, const ModelDefinition& model) {
    if (model.demonstration == nullptr) {
        return;
    }
    out << "<h2>Demonstration</h2>\n<p>A " << escaped(model.demonstration->title)
        << ": the inputs over the default experiment are in <a href=\"" << kDemonstrationFile
        << "\"><code>documentation/" << kDemonstrationFile
        << "</code></a> (a header <code>time,&lt;input&gt;,...</code>, times in s, inputs in their "
           "units above), to be interpolated linearly between its rows; hand it to a master's "
           "input-file option. The command-line master <code>fmirun</code> runs it when given "
           "no inputs.</p>\n";
}

}  // namespace

void writeDocumentation(std::ostream& out, const ModelDefinition& model,
                        const DocumentationVersion& version) {
    const std::string identifier = escaped(model.modelIdentifier);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>" << identifier << ": " << escaped(model.modelName) << "</title>\n"
        << "<style>body{font-family:sans-serif;max-width:60em;margin:2em auto}"
        << "table{border-collapse:collapse}td,th{border:1px solid #999;padding:.2em .6em;"
        << "text-align:left}code{font-size:95%}</style>\n</head>\n<body>\n"
        << "<h1>" << identifier << " (" << escaped(model.modelName) << ")</h1>\n"
        << "<p>" << escaped(model.description) << ".</p>\n"
        << "<p>" << version.kind << ", " << version.tokenName << " <code>"
        << escaped(model.modelGuid) << "</code>. Binaries:";
    const char* separator = " ";
    for (const char* platform : version.platforms) {
        if (platform != nullptr) {
            out << separator << "<code>" << platform << "</code>";
            separator = ", ";
        }
    }
    out << ". It has no continuous states; its outputs are " << version.outputsComputed
        << ".</p>\n";
    if (version.otherPlatforms != nullptr) {
        out << "<p>" << version.otherPlatforms << "</p>\n";
    }
    out << "<h2>Variables</h2>\n<table>\n"
        << "<tr><th>Value reference</th><th>Name</th><th>Role</th><th>Start value</th>"
        << "<th>Unit</th><th>Description</th></tr>\n";
    writeVariableRows(out, model);
    out << "</table>\n";
    writeDemonstration(out, model);
    out << "</body>\n</html>\n";
}

}  // namespace description
