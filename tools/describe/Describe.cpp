// describe: writes the co-simulation model description of one model for one
// FMI version, and the page documenting its variables, from the model's own
// definition. It is compiled together with one model's sources and the
// description writers of every version, so the variable table that gives
// the libraries their start values is the one that the descriptions show.
//
//   describe --fmi-version 1|2|3 --xml <modelDescription.xml> [--html <page>]
//
// The generation time is SOURCE_DATE_EPOCH when that is set, for
// reproducible archives, and the current time otherwise.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <string>

#include "DescriptionWriting.h"

namespace {

using Writer = void (*)(std::ostream&, const ModelDefinition&);

struct VersionWriters {
    Writer modelDescription;
    Writer documentation;
};

VersionWriters writersOf(int fmiVersion) {
    switch (fmiVersion) {
        case 2:
            return {fmi2::writeModelDescription, fmi2::writeDocumentation};
        case 3:
            return {fmi3::writeModelDescription, fmi3::writeDocumentation};
        default:
            return {fmi1::writeModelDescription, fmi1::writeDocumentation};
    }
}

bool writeFile(const std::string& path, Writer write) {
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
    CLI::App app{"Writes the model description and documentation page of " +
                 std::string(modelDefinition.modelIdentifier)};
    int fmiVersion = 1;
    std::string xml;
    std::string html;
    app.add_option("--fmi-version", fmiVersion, "FMI version of the description (default: 1)")
        ->check(CLI::IsMember({1, 2, 3}));
    app.add_option("--xml", xml, "Model description to write")->required();
    app.add_option("--html", html, "Documentation page to write");
    CLI11_PARSE(app, argc, argv);

    const VersionWriters writers = writersOf(fmiVersion);
    if (!writeFile(xml, writers.modelDescription)) {
        return 1;
    }
    if (!html.empty() && !writeFile(html, writers.documentation)) {
        return 1;
    }
    return 0;
}
