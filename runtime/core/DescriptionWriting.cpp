#include "DescriptionWriting.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>

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
            << "</td><td>" << escaped(variable.description) << "</td></tr>\n";
    }
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
        << "<th>Description</th></tr>\n";
    writeVariableRows(out, model);
    out << "</table>\n<p>No variable has a unit: the equations hold in any consistent units "
        << "(a rate is force per displacement).</p>\n</body>\n</html>\n";
}

}  // namespace description
