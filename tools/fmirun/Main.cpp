// fmirun: runs one FMI 1.0, 2.0 or 3.0 co-simulation slave from the command
// line.
//
//   fmirun Model.fmu [options]
//   fmirun Model.so --model-description modelDescription.xml [options]
//
// It sets parameters by name, drives the inputs from a CSV file (or the
// demonstration the archive carries), steps from a start to a stop time and
// writes the outputs as CSV; or it runs a parameter sweep, a case per row of
// a table of start values. The command line is read and explained in
// CommandLine.cpp; the exit statuses are those of Failure.h.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Archive.h"
#include "CoSimulationSlave.h"
#include "CommandLine.h"
#include "Console.h"
#include "Failure.h"
#include "Fmi2Slave.h"
#include "Fmi3Slave.h"
#include "Inputs.h"
#include "ModelDescription.h"
#include "Numbers.h"
#include "PlotRun.h"
#include "Run.h"
#include "ScratchFolder.h"
#include "Slave.h"
#include "Summary.h"
#include "Sweep.h"
#include "TimeGrid.h"

namespace {

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Failure(kExitModel, "cannot read " + path + ": " + errnoText());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file URL of an absolute path, with every byte that a URL may not carry
// as it is percent-encoded.
std::string fileUrl(const std::filesystem::path& directory) {
    std::error_code error;
    const std::string path =
        std::filesystem::absolute(directory, error).lexically_normal().string();
    std::string url = "file://";
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || std::strchr("/-._~", c) != nullptr) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        }
    }
    return url;
}

// Where the slave finds its files, as its version wants it: 1.0 the URL of
// the unpacked archive, 2.0 the URL of its resources folder, 3.0 the path of
// that folder with a trailing separator.
std::string slaveLocation(int fmiVersion, const std::filesystem::path& folder) {
    if (fmiVersion == 1) {
        return fileUrl(folder);
    }
    if (fmiVersion == 2) {
        return fileUrl(folder / "resources");
    }
    std::error_code error;
    return (std::filesystem::absolute(folder, error) / "resources").lexically_normal().string() +
           "/";
}

std::unique_ptr<CoSimulationSlave> loadSlave(const std::string& library,
                                             const ModelDescription& model, SlaveOptions options) {
    switch (model.fmiVersion) {
        case 2:
            return std::make_unique<Fmi2Slave>(library, model, options);
        case 3:
            return std::make_unique<Fmi3Slave>(library, model, options);
        default:
            return std::make_unique<Slave>(library, model, options);
    }
}

// People try the README's library example without its description; the
// archive reader would only say that a library is no zip file.
void refuseLibraryWithoutDescription(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    const bool elf = in.gcount() == 4 && std::memcmp(magic,
                                                     "\x7f"
                                                     "ELF",
                                                     4) == 0;
    const bool windows = in.gcount() >= 2 && std::memcmp(magic, "MZ", 2) == 0;
    if (elf || windows) {
        throw Failure(kExitUsage, path +
                                      " is a slave library, not an .fmu archive: give its model "
                                      "description too, with --model-description "
                                      "modelDescription.xml");
    }
}

// An archive where a library is expected would otherwise be refused by the
// loader as a file of no known format.
void refuseArchiveAsLibrary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    if (in.gcount() == 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0) {
        throw Failure(kExitUsage, path +
                                      " is an .fmu archive, not a slave library: run it without "
                                      "--model-description, which only a library needs");
    }
}

void listVariables(const ModelDescription& model) {
    std::printf("%s (%s): %s\n", model.modelIdentifier.c_str(), model.modelName.c_str(),
                model.description.c_str());
    for (const Variable& variable : model.variables) {
        std::printf("  %-22s %-9s %-12s %-6s %s\n", variable.name.c_str(),
                    causalityName(variable.causality),
                    variable.start ? ("start " + formatReal(*variable.start)).c_str() : "",
                    variable.unit.empty() ? "" : ("[" + variable.unit + "]").c_str(),
                    variable.description.c_str());
    }
}

// Opens the files the diagnostics go to, when asked; they stay open until
// the program ends.
void openLogFiles(const Options& options) {
    if (!options.logFile.empty()) {
        console::setSlaveLog(openOutputFile(options.logFile, "w").release());
    }
    if (!options.fmiLogFile.empty()) {
        console::setCallLog(openOutputFile(options.fmiLogFile, "w").release());
    }
}

std::string counted(std::size_t count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// A serialized FMU state as a file holds it; the slave checks the bytes
// when it deserializes them.
std::string readStateFile(const std::string& path) {
    constexpr std::uintmax_t kLargestState = std::uintmax_t{64} << 20;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kLargestState) {
        throw Failure(kExitInputFile,
                      path + ": an FMU state file of more than 64 MiB is no state of these slaves");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Failure(kExitInputFile, path + ": cannot read the FMU state file: " + errnoText());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A part of a sweep with no cases still leaves its file, the header alone,
// so that a merge tells it from a part that never ran.
void writeEmptyPart(const Options& options, const RunSettings& settings) {
    if (options.summaryOnly || options.outputPerCase) {
        return;
    }
    File file;
    std::FILE* out = stdout;
    if (!rowsToStandardOutput(options)) {
        file = openOutputFile(options.output, "w");
        out = file.get();
    }
    const std::string header = "case," + csvHeader(settings.recorded);
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size() ||
        std::fflush(out) != 0) {
        throw Failure(kExitOutputFile, "cannot write " + options.output + ": " + errnoText());
    }
}

// Whether the run is Model Exchange: asked for with --interface-type me, or
// the one interface the model offers. fmirun integrates nothing and locates
// no state events, so a Model Exchange model with continuous states or
// event indicators is refused.
bool choosesModelExchange(const Options& options, const ModelDescription& model,
                          const std::string& descriptionName) {
    const bool asked =
        options.interfaceType == "me" || (options.interfaceType.empty() && !model.coSimulation);
    if (!asked) {
        if (!model.coSimulation) {
            throw Failure(kExitUsage, "--interface-type cs: " + model.modelIdentifier +
                                          " offers Model Exchange only; run it with "
                                          "--interface-type me");
        }
        return false;
    }
    if (model.fmiVersion == 1) {
        throw Failure(kExitUsage,
                      "--interface-type me: " + model.modelIdentifier +
                          " is an FMI 1.0 co-simulation slave; fmirun runs Model Exchange for FMI "
                          "2.0 and 3.0 only");
    }
    if (!model.modelExchange) {
        throw Failure(kExitUsage, "--interface-type me: " + model.modelIdentifier +
                                      " offers co-simulation only (" + descriptionName +
                                      " has no <ModelExchange>)");
    }
    if (model.continuousStates > 0 || model.eventIndicators > 0) {
        throw Failure(kExitModel,
                      descriptionName + " declares " +
                          counted(model.continuousStates, "continuous state") + " and " +
                          counted(model.eventIndicators, "event indicator") +
                          ": fmirun runs Model Exchange only for models with "
                          "none, since it integrates no states and locates no state events; run "
                          "it as co-simulation (--interface-type cs)");
    }
    return true;
}

int runMaster(const Options& options) {
    if (options.outputPerCase && rowsToStandardOutput(options)) {
        throw Failure(kExitUsage, "--output-per-case needs a file name in --output, not -");
    }
    // The model: from an archive, or a library with its description.
    std::optional<FmuArchive> archive;
    std::string descriptionText;
    std::string descriptionName;
    std::filesystem::path location;
    if (options.modelDescription.empty()) {
        refuseLibraryWithoutDescription(options.slave);
        archive.emplace(options.slave);
        descriptionText = archive->modelDescription();
        descriptionName = options.slave + ":modelDescription.xml";
    } else {
        refuseArchiveAsLibrary(options.slave);
        descriptionText = readTextFile(options.modelDescription);
        descriptionName = options.modelDescription;
        std::error_code error;
        location = std::filesystem::absolute(options.modelDescription, error).parent_path();
    }
    if (!options.plot.empty()) {
        checkPlotName(options.plot);
    }
    ModelDescription model = parseModelDescription(descriptionText, descriptionName);
    if (options.listVariables) {
        listVariables(model);
        return kExitSuccess;
    }
    const bool modelExchange = choosesModelExchange(options, model, descriptionName);
    if (modelExchange) {
        model.modelIdentifier = model.modelExchangeIdentifier;
    }
    const std::string platform = platformName(model.fmiVersion);
    const std::string libraryEntry =
        "binaries/" + platform + "/" + model.modelIdentifier + librarySuffix();
    if (archive && !archive->contains(libraryEntry)) {
        throw Failure(kExitModel, options.slave + " has no library for " + platform + " (" +
                                      libraryEntry + ")");
    }

    // Everything the user named must exist before anything runs.
    RunSettings settings;
    settings.rowEvery = rowsEvery(options);
    if (model.fmiVersion == 1 &&
        !(options.initialStateFile.empty() && options.finalStateFile.empty())) {
        throw Failure(kExitUsage,
                      std::string(options.initialStateFile.empty() ? "--final-fmu-state-file"
                                                                   : "--initial-fmu-state-file") +
                          ": " + model.modelIdentifier +
                          " is an FMI 1.0 slave, which has no FMU state; FMU state "
                          "files are for FMI 2.0 and 3.0");
    }
    std::string initialState;
    if (!options.initialStateFile.empty()) {
        initialState = readStateFile(options.initialStateFile);
        settings.initialState = &initialState;
    }
    settings.startValues = startValues(options, model);
    settings.recorded = recordedVariables(options, model);
    // A library carries no demonstration, so its inputs must be given; that
    // is said once the library has passed its own checks, which matter more.
    const bool libraryWithoutInputs = options.input.empty() && !archive;
    const Inputs inputs = !options.input.empty() ? readInputFile(options.input, model)
                          : libraryWithoutInputs
                              ? Inputs{}
                              : demonstrationInputs(&*archive, options.slave, model);
    for (const auto& [variable, value] : settings.startValues) {
        for (const Variable* driven : inputs.variables) {
            if (driven == variable) {
                throw Failure(kExitUsage, "--start-value " + variable->name + ": " + inputs.origin +
                                              " sets this input at every step");
            }
        }
    }
    const TimeGrid grid = timeGrid(options, model, descriptionName);
    if (!options.plot.empty()) {
        checkPlotSize(options.plot, grid);
    }
    std::optional<SweepTable> sweep;
    std::pair<std::size_t, std::size_t> cases;
    if (!options.sweep.empty()) {
        sweep = readSweepFile(options.sweep, model, inputs);
        cases = caseRange(options, *sweep);
    }
    const bool rowsToTerminal = !options.summaryOnly && rowsToStandardOutput(options) &&
                                !options.outputPerCase && isatty(STDOUT_FILENO) != 0;
    settings.showProgress =
        console::isTerminal() && !rowsToTerminal && !options.log && !options.logFmiCalls;

    openLogFiles(options);

    // Only the model description and the one library are unpacked, and only
    // for as long as the slave needs them to start.
    std::optional<ScratchFolder> scratch;
    std::string library = options.slave;
    if (archive) {
        scratch.emplace();
        ScratchFolder::File description = scratch->create("modelDescription.xml");
        description.append(descriptionText.data(), descriptionText.size());
        description.close();
        ScratchFolder::File binary = scratch->create(libraryEntry);
        archive->unpack(
            libraryEntry, kLargestLibrary,
            [&binary](const char* bytes, std::size_t size) { binary.append(bytes, size); });
        binary.close();
        library = scratch->path() + "/" + libraryEntry;
        location = scratch->path();
    }
    const std::unique_ptr<CoSimulationSlave> loaded =
        loadSlave(library, model, SlaveOptions{options.log, options.logFmiCalls, modelExchange});
    if (libraryWithoutInputs) {
        demonstrationInputs(nullptr, options.slave, model);  // refuses
    }
    if (sweep) {
        // Each case has a slave of its own, of this library, made when it
        // starts: the files are needed no longer.
        if (scratch) {
            scratch->remove();
        }
        SweepSettings sweepSettings;
        sweepSettings.firstCase = cases.first;
        sweepSettings.lastCase = cases.second;
        sweepSettings.jobs = options.jobs;
        sweepSettings.slaveLocation = slaveLocation(model.fmiVersion, location);
        sweepSettings.writeRows = !options.summaryOnly;
        sweepSettings.output = rowsToStandardOutput(options) ? std::string() : options.output;
        sweepSettings.filePerCase = options.outputPerCase;
        sweepSettings.summary = options.summary || options.summaryOnly;
        sweepSettings.showProgress = settings.showProgress;
        File summaryFile;
        if (!options.summaryFile.empty()) {
            summaryFile = openOutputFile(options.summaryFile, "w");
            std::vector<std::string> leading = {"case"};
            for (const Variable* variable : sweep->variables) {
                leading.push_back(variable->name);
            }
            writeSummaryRows(summaryFile.get(), summaryCsvHeader(leading));
            sweepSettings.summaryFile = summaryFile.get();
        }
        if (cases.second < cases.first) {
            writeEmptyPart(options, settings);
        } else {
            runSweep(*loaded, model, inputs, grid, settings, *sweep, sweepSettings);
        }
        if (summaryFile != nullptr && std::fflush(summaryFile.get()) != 0) {
            throw Failure(kExitOutputFile,
                          "cannot write " + options.summaryFile + ": " + errnoText());
        }
        return kExitSuccess;
    }
    CoSimulationSlave& slave = *loaded;
    slave.instantiate(slaveLocation(model.fmiVersion, location));
    slave.enterInitialization(grid.start(), grid.stop());
    slave.checkAgainstDescription();
    if (scratch) {
        scratch->remove();
    }

    // Opened only now, so that a refused run leaves an existing file as it was.
    std::optional<CsvOutput> rows;
    File file;
    File plotFile;
    if (!options.summaryOnly) {
        if (rowsToStandardOutput(options)) {
            rows.emplace(stdout, "standard output");
        } else {
            file = openOutputFile(options.output, "w");
            rows.emplace(file.get(), options.output);
        }
    }
    std::optional<RecordedSeries> series;
    if (!options.plot.empty()) {
        plotFile = openOutputFile(options.plot, "wb");
        series.emplace();
    }
    File summaryFile;
    if (!options.summaryFile.empty()) {
        summaryFile = openOutputFile(options.summaryFile, "w");
    }
    File finalStateFile;
    std::string finalState;
    if (!options.finalStateFile.empty()) {
        finalStateFile = openOutputFile(options.finalStateFile, "wb");
        settings.finalState = &finalState;
    }
    const RunCircumstances circumstances{grid, givenStep(options).text, inputs, settings};
    RunResult result;
    try {
        result = run(slave, inputs, grid, settings, rows ? &*rows : nullptr,
                     series ? &*series : nullptr);
    } catch (const Failure& failure) {
        // Like the rows, the picture shows the run up to a failed step.
        if (series && failure.status() == kExitSlaveFailed) {
            writePlot(plotFile.get(), options.plot, model, circumstances, std::move(*series));
        }
        throw;
    }
    if (series) {
        writePlot(plotFile.get(), options.plot, model, circumstances, std::move(*series));
    }
    if (finalStateFile != nullptr && (std::fwrite(finalState.data(), 1, finalState.size(),
                                                  finalStateFile.get()) != finalState.size() ||
                                      std::fflush(finalStateFile.get()) != 0)) {
        throw Failure(kExitOutputFile,
                      "cannot write " + options.finalStateFile + ": " + errnoText());
    }
    if (!options.summaryFile.empty()) {
        writeSummaryRows(summaryFile.get(), summaryCsvHeader({}) + summaryCsvRows(result, ""));
        if (std::fflush(summaryFile.get()) != 0) {
            throw Failure(kExitOutputFile,
                          "cannot write " + options.summaryFile + ": " + errnoText());
        }
    }
    if (options.summary || options.summaryOnly) {
        for (const std::string& line :
             summaryLines(model, inputs.origin, "", grid, result, rows ? &*rows : nullptr)) {
            console::line(line);
        }
    }
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> ended = readCommandLine(argc, argv, options)) {
        return *ended;
    }
    try {
        return runMaster(options);
    } catch (const Failure& failure) {
        console::line(std::string("fmirun: ") + failure.what());
        return failure.status();
    } catch (const std::exception& error) {
        console::line(std::string("fmirun: ") + error.what());
        return kExitSlaveFailed;
    }
}
