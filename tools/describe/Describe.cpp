// describe: writes the FMI 1.0 co-simulation model description of one model,
// and a page documenting its variables, from the model's own definition. It
// is compiled together with one model's sources, so the variable table that
// gives the library its start values is the one that the description shows.
//
//   describe --xml <modelDescription.xml> [--html <documentation page>]
//
// The generation time is SOURCE_DATE_EPOCH when that is set, for
// reproducible archives, and the current time otherwise.
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "ModelDefinition.h"

namespace {

constexpr const char* kGenerationTool = "describe (chassis force slaves)";

// The run that the command-line master makes when asked for none in
// particular: its default scenarios last this long.
constexpr const char* kDefaultStartTime = "0";
constexpr const char* kDefaultStopTime = "4";

// The platforms that every archive carries a binary for.
constexpr const char* kPlatforms[] = {"linux32", "linux64", "win64"};

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

// The shortest decimal that reads back as the same double, so that a master
// parsing the description gets the library's start values bit for bit.
std::string decimal(Real value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// An xs:dateTime in UTC.
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

const char* causalityName(Causality causality) {
    switch (causality) {
        case Causality::Parameter:
            return "internal";
        case Causality::Input:
            return "input";
        case Causality::Output:
            return "output";
    }
    return "internal";
}

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

void writeVariable(std::ostream& out, ValueReference vr, const RealVariable& variable) {
    const bool parameter = variable.causality == Causality::Parameter;
    out << "    <ScalarVariable name=\"" << escaped(variable.name) << "\" valueReference=\"" << vr
        << "\" description=\"" << escaped(variable.description) << "\" variability=\""
        << (parameter ? "parameter" : "continuous") << "\" causality=\""
        << causalityName(variable.causality) << "\">\n";
    switch (variable.causality) {
        case Causality::Parameter:
            out << "      <Real start=\"" << decimal(variable.startValue)
                << "\" fixed=\"true\"/>\n";
            break;
        case Causality::Input:
            // A fresh instance holds zero in every variable without a start
            // value; importers want to know what an unconnected input holds.
            out << "      <Real start=\""
                << decimal(variable.hasStartValue ? variable.startValue : 0.0) << "\"/>\n";
            break;
        case Causality::Output:
            out << "      <Real/>\n";
            break;
    }
    out << "    </ScalarVariable>\n";
}

void writeModelDescription(std::ostream& out, const ModelDefinition& model) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<fmiModelDescription\n"
        << "  fmiVersion=\"1.0\"\n"
        << "  modelName=\"" << escaped(model.modelName) << "\"\n"
        << "  modelIdentifier=\"" << escaped(model.modelIdentifier) << "\"\n"
        << "  guid=\"" << escaped(model.modelGuid) << "\"\n"
        << "  description=\"" << escaped(model.description) << "\"\n"
        << "  generationTool=\"" << escaped(kGenerationTool) << "\"\n"
        << "  generationDateAndTime=\"" << generationDateAndTime() << "\"\n"
        << "  variableNamingConvention=\"flat\"\n"
        << "  numberOfContinuousStates=\"0\"\n"
        << "  numberOfEventIndicators=\"0\">\n";
    out << "  <DefaultExperiment startTime=\"" << kDefaultStartTime << "\" stopTime=\""
        << kDefaultStopTime << "\"/>\n";
    out << "  <ModelVariables>\n";
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        writeVariable(out, vr, model.realVariables[vr]);
    }
    out << "  </ModelVariables>\n";
    // What the slave does: any communication step size, no input
    // interpolation and no output derivatives (the derivative calls refuse),
    // never asynchronous, never a rejected step, any number of instances, and
    // all memory from the master's callbacks. It computes its outputs from
    // the inputs of each step alone, so an input that jumps is no problem.
    out << "  <Implementation>\n"
        << "    <CoSimulation_StandAlone>\n"
        << "      <Capabilities\n"
        << "        canHandleVariableCommunicationStepSize=\"true\"\n"
        << "        canHandleEvents=\"true\"\n"
        << "        canRejectSteps=\"false\"\n"
        << "        canInterpolateInputs=\"false\"\n"
        << "        maxOutputDerivativeOrder=\"0\"\n"
        << "        canRunAsynchronuously=\"false\"\n"
        << "        canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
        << "        canNotUseMemoryManagementFunctions=\"false\"/>\n"
        << "    </CoSimulation_StandAlone>\n"
        << "  </Implementation>\n"
        << "</fmiModelDescription>\n";
}

void writeDocumentation(std::ostream& out, const ModelDefinition& model) {
    const std::string identifier = escaped(model.modelIdentifier);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>" << identifier << ": " << escaped(model.modelName) << "</title>\n"
        << "<style>body{font-family:sans-serif;max-width:60em;margin:2em auto}"
        << "table{border-collapse:collapse}td,th{border:1px solid #999;padding:.2em .6em;"
        << "text-align:left}code{font-size:95%}</style>\n</head>\n<body>\n"
        << "<h1>" << identifier << " (" << escaped(model.modelName) << ")</h1>\n"
        << "<p>" << escaped(model.description) << ".</p>\n"
        << "<p>An FMI 1.0 co-simulation slave (stand-alone), types platform "
        << "<code>standard32</code>, GUID <code>" << escaped(model.modelGuid) << "</code>. "
        << "Binaries:";
    const char* separator = " ";
    for (const char* platform : kPlatforms) {
        out << separator << "<code>" << platform << "</code>";
        separator = ", ";
    }
    out << ". It has no continuous states; its outputs are recomputed only inside "
        << "<code>fmiDoStep</code>, from the parameters and inputs as they stand when the "
        << "step begins, and hold zero until the first step.</p>\n"
        << "<h2>Variables</h2>\n<table>\n"
        << "<tr><th>Value reference</th><th>Name</th><th>Role</th><th>Start value</th>"
        << "<th>Description</th></tr>\n";
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        std::string start = "none";
        if (variable.causality == Causality::Parameter) {
            start = decimal(variable.startValue);
        } else if (variable.causality == Causality::Input) {
            start = decimal(variable.hasStartValue ? variable.startValue : 0.0);
        }
        out << "<tr><td>" << vr << "</td><td><code>" << escaped(variable.name) << "</code></td><td>"
            << roleName(variable.causality) << "</td><td>" << start << "</td><td>"
            << escaped(variable.description) << "</td></tr>\n";
    }
    out << "</table>\n<p>No variable has a unit: the equations hold in any consistent units "
        << "(a rate is force per displacement).</p>\n</body>\n</html>\n";
}

bool writeFile(const std::string& path, void (*write)(std::ostream&, const ModelDefinition&)) {
    std::ofstream out(path, std::ios::binary);
    write(out, modelDefinition);
    out.close();
    if (!out) {
        std::cerr << "describe: cannot write " << path << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string xml;
    std::string html;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if ((option == "--xml" || option == "--html") && i + 1 < argc) {
            (option == "--xml" ? xml : html) = argv[++i];
        } else {
            xml.clear();
            break;
        }
    }
    if (xml.empty()) {
        std::cerr << "usage: " << argv[0] << " --xml <modelDescription.xml> [--html <page>]\n";
        return 2;
    }
    if (!writeFile(xml, writeModelDescription)) {
        return 1;
    }
    if (!html.empty() && !writeFile(html, writeDocumentation)) {
        return 1;
    }
    return 0;
}
