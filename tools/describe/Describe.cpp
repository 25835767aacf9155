// describe: writes the co-simulation model description of one model for one
// FMI version, and the page documenting its variables, from the model's own
// definition. It is compiled together with one model's sources and the
// description writers of every version, so the variable table that gives
// the libraries their start values is the one that the descriptions show.
//
//   describe --fmi-version 1|2|3 --xml <modelDescription.xml>
//            [--html <page> [--svg <picture>]] [--demonstration <table>]
//
// With --svg it also draws the model's characteristic from its equations, and
// the page shows that picture under its table of variables; the picture
// lies in the page's folder.
//
// With --demonstration it writes the model's demonstration: the table of its
// inputs (Demonstration.h) and, beside it, its title in a line of text
// (demonstration.txt). A model without one fails.
//
// The generation time is SOURCE_DATE_EPOCH when that is set, for
// reproducible archives, and the current time otherwise.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "Characteristic.h"
#include "Demonstration.h"
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

bool writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    out.close();
    if (!out) {
        std::cerr << "describe: cannot write " << path << "\n";
        return false;
    }
    return true;
}

// The table at `path` and the title beside it.
bool writeDemonstration(const std::string& path) {
    if (modelDefinition.demonstration == nullptr) {
        std::cerr << "describe: " << modelDefinition.modelIdentifier
                  << " declares no demonstration to write to " << path << "\n";
        return false;
    }
    std::ostringstream table;
    demonstration::writeTable(table, modelDefinition);
    const std::filesystem::path title =
        std::filesystem::path(path).parent_path() / description::kDemonstrationTitleFile;
    return writeFile(path, table.str()) &&
           writeFile(title.string(), std::string(modelDefinition.demonstration->title) + "\n");
}

std::string written(Writer write) {
    std::ostringstream out;
    write(out, modelDefinition);
    return out.str();
}

// The page with the picture, named relative to it, right under the table of
// variables. The page writers know nothing of pictures, which only this
// build-machine tool can draw; the table is the first on every version's page.
std::string withPicture(std::string page, const std::string& picture) {
    const std::string tableEnd = "</table>\n";
    const std::size_t at = page.find(tableEnd);
    if (at == std::string::npos) {
        throw std::runtime_error("the page has no table of variables to put the picture under");
    }
    const std::string figure =
        "<figure style=\"margin:1em 0\"><img src=\"" + description::escaped(picture) +
        "\" alt=\"The outputs of " + description::escaped(modelDefinition.modelIdentifier) +
        " over the inputs\" style=\"width:100%\">\n<figcaption>" +
        description::escaped(characteristic::caption(modelDefinition)) + "</figcaption></figure>\n";
    return page.insert(at + tableEnd.size(), figure);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Writes the model description and documentation page of " +
                 std::string(modelDefinition.modelIdentifier)};
    int fmiVersion = 1;
    std::string xml;
    std::string html;
    std::string svg;
    std::string demonstrationTable;
    app.add_option("--fmi-version", fmiVersion, "FMI version of the description (default: 1)")
        ->check(CLI::IsMember({1, 2, 3}));
    app.add_option("--xml", xml, "Model description to write")->required();
    app.add_option("--html", html, "Documentation page to write");
    app.add_option("--svg", svg,
                   "Picture of the model's characteristic to write, in the page's folder")
        ->needs("--html");
    app.add_option("--demonstration", demonstrationTable,
                   "Table of the inputs of the model's demonstration to write (CSV), with its "
                   "title beside it in " +
                       std::string(description::kDemonstrationTitleFile));
    CLI11_PARSE(app, argc, argv);

    const VersionWriters writers = writersOf(fmiVersion);
    try {
        if (!writeFile(xml, written(writers.modelDescription))) {
            return 1;
        }
        if (!demonstrationTable.empty() && !writeDemonstration(demonstrationTable)) {
            return 1;
        }
        if (html.empty()) {
            return 0;
        }
        std::string page = written(writers.documentation);
        if (!svg.empty()) {
            const std::string picture =
                plot::render(characteristic::of(modelDefinition), plot::Format::Svg);
            if (!writeFile(svg, picture)) {
                return 1;
            }
            page = withPicture(page, std::filesystem::path(svg).filename().string());
        }
        return writeFile(html, page) ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "describe: " << error.what() << "\n";
        return 1;
    }
}
