// fmirun: runs one FMI 1.0 co-simulation slave from the command line.
//
//   fmirun Model.fmu [options]
//   fmirun Model.so --model-description modelDescription.xml [options]
//
// It sets parameters by name, drives the inputs from a CSV file (or the
// model's built-in scenario), steps from a start to a stop time and writes
// the outputs as CSV. Run it with --help for the options; the exit statuses
// are those of Failure.h.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Archive.h"
#include "Console.h"
#include "Failure.h"
#include "Inputs.h"
#include "ModelDescription.h"
#include "Numbers.h"
#include "Run.h"
#include "Slave.h"

namespace {

// More rows than anyone means to write: a mistyped interval, most likely.
constexpr double kMaxSteps = 1e8;

struct Options {
    std::string slave;
    std::string modelDescription;
    std::string input;
    std::string output;
    std::vector<std::pair<std::string, std::string>> startValues;
    std::string startTime;
    std::string stopTime;
    std::string interval = "0.01";
    bool listVariables = false;
    bool log = false;
    bool logFmiCalls = false;
    bool summary = false;
};

double number(const std::string& option, const std::string& text) {
    const std::optional<double> value = parseReal(text);
    if (!value || !std::isfinite(*value)) {
        throw Failure(kExitUsage, option + " needs a finite number, not \"" + text + "\"");
    }
    return *value;
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Failure(kExitModel, "cannot read " + path + ": " + std::strerror(errno));
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fileUrl(const std::filesystem::path& directory) {
    std::error_code error;
    return "file://" + std::filesystem::absolute(directory, error).lexically_normal().string();
}

void listVariables(const ModelDescription& model) {
    std::printf("%s (%s): %s\n", model.modelIdentifier.c_str(), model.modelName.c_str(),
                model.description.c_str());
    for (const Variable& variable : model.variables) {
        std::printf("  %-22s %-9s %-12s %s\n", variable.name.c_str(),
                    causalityName(variable.causality),
                    variable.start ? ("start " + formatReal(*variable.start)).c_str() : "",
                    variable.description.c_str());
    }
}

void printSummary(const ModelDescription& model, const Inputs& inputs, const RunSettings& settings,
                  const RunResult& result, const std::string& outputName) {
    char heading[256];
    std::snprintf(heading, sizeof heading, "%s (%s): %zu steps from t = %g to %g, outputs in %s",
                  model.modelIdentifier.c_str(), inputs.origin.c_str(), result.steps,
                  settings.startTime, settings.stopTime, outputName.c_str());
    console::line(heading);
    for (const OutputRange& range : result.ranges) {
        char text[256];
        if (!range.seen) {
            std::snprintf(text, sizeof text, "  %-14s no numbers", range.variable->name.c_str());
        } else {
            const bool minIsPeak = std::fabs(range.min) > std::fabs(range.max);
            std::snprintf(text, sizeof text, "  %-14s peak %10g at t = %-7g (from %g to %g)",
                          range.variable->name.c_str(), minIsPeak ? range.min : range.max,
                          minIsPeak ? range.minTime : range.maxTime, range.min, range.max);
        }
        console::line(text);
    }
}

int runMaster(const Options& options) {
    const double interval = number("--interval", options.interval);
    if (!(interval > 0.0)) {
        throw Failure(kExitUsage, "--interval must be positive, not " + options.interval);
    }

    // The model: from an archive, or a library with its description.
    std::optional<TemporaryDirectory> unpacked;
    std::string descriptionText;
    std::string descriptionName;
    std::filesystem::path location;
    if (options.modelDescription.empty()) {
        unpacked.emplace();
        descriptionText = unpackArchive(options.slave, unpacked->path());
        descriptionName = options.slave + ":modelDescription.xml";
        location = unpacked->path();
    } else {
        descriptionText = readTextFile(options.modelDescription);
        descriptionName = options.modelDescription;
        location = std::filesystem::path(options.modelDescription).parent_path();
    }
    const ModelDescription model = parseModelDescription(descriptionText, descriptionName);
    if (options.listVariables) {
        listVariables(model);
        return kExitSuccess;
    }
    std::string library = options.slave;
    if (unpacked) {
        const std::string entry = std::string("binaries/") + platformName() + "/" +
                                  model.modelIdentifier + librarySuffix();
        library = unpacked->path() + "/" + entry;
        std::error_code error;
        if (!std::filesystem::is_regular_file(library, error)) {
            throw Failure(kExitModel, options.slave + " has no library for " + platformName() +
                                          " (" + entry + ")");
        }
    }

    // Everything the user named must exist before anything runs.
    RunSettings settings;
    for (const auto& [name, text] : options.startValues) {
        const Variable* variable = model.find(name);
        if (variable == nullptr) {
            throw Failure(kExitUsage,
                          "--start-value: " + model.modelIdentifier + " has no variable \"" + name +
                              "\"; its parameters are: " +
                              ModelDescription::names(model.withCausality(Causality::Parameter)) +
                              "; its inputs: " +
                              ModelDescription::names(model.withCausality(Causality::Input)));
        }
        if (variable->causality != Causality::Parameter &&
            variable->causality != Causality::Input) {
            throw Failure(kExitUsage, "--start-value: " + name + " is an " +
                                          causalityName(variable->causality) +
                                          "; only parameters and inputs can be set");
        }
        const std::optional<double> value = parseReal(text);
        if (!value) {
            throw Failure(kExitUsage,
                          "--start-value " + name + ": \"" + text + "\" is not a number");
        }
        settings.startValues.emplace_back(variable, *value);
    }
    const Inputs inputs =
        options.input.empty() ? defaultScenario(model) : readInputFile(options.input, model);
    for (const auto& [variable, value] : settings.startValues) {
        for (const Variable* driven : inputs.variables) {
            if (driven == variable) {
                throw Failure(kExitUsage, "--start-value " + variable->name + ": the " +
                                              inputs.origin + " sets this input at every step");
            }
        }
    }

    settings.startTime = options.startTime.empty() ? model.defaultStartTime.value_or(0.0)
                                                   : number("--start-time", options.startTime);
    if (!options.stopTime.empty()) {
        settings.stopTime = number("--stop-time", options.stopTime);
    } else if (model.defaultStopTime) {
        settings.stopTime = *model.defaultStopTime;
    } else {
        throw Failure(kExitUsage, "the model description gives no stop time: give --stop-time");
    }
    if (!(settings.stopTime > settings.startTime)) {
        throw Failure(kExitUsage, "the stop time " + formatReal(settings.stopTime) +
                                      " is not after the start time " +
                                      formatReal(settings.startTime));
    }
    if ((settings.stopTime - settings.startTime) / interval > kMaxSteps) {
        throw Failure(kExitUsage, "--interval " + options.interval + " makes more than " +
                                      formatReal(kMaxSteps) + " steps; choose a larger one");
    }
    settings.interval = interval;
    settings.showProgress = console::isTerminal() && !options.log && !options.logFmiCalls;

    Slave slave(library, model, SlaveOptions{options.log, options.logFmiCalls});

    std::FILE* csv = stdout;
    std::string csvName = "standard output";
    if (!options.output.empty()) {
        csv = std::fopen(options.output.c_str(), "w");
        csvName = options.output;
        if (csv == nullptr) {
            throw Failure(kExitOutputFile,
                          "cannot write " + options.output + ": " + std::strerror(errno));
        }
    }
    // Closed on every path, so that the rows written before a failure stay.
    struct Closer {
        std::FILE* file;
        ~Closer() {
            if (file != stdout) {
                std::fclose(file);
            }
        }
    } closer{csv};

    slave.instantiate(fileUrl(location));
    slave.checkAgainstDescription();
    const RunResult result = run(slave, model, inputs, settings, csv, csvName);
    if (std::fflush(csv) != 0 || std::ferror(csv) != 0) {
        throw Failure(kExitOutputFile, "cannot write " + csvName + ": " + std::strerror(errno));
    }
    if (options.summary) {
        printSummary(model, inputs, settings, result, csvName);
    }
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "Runs an FMI 1.0 co-simulation slave: sets its parameters, drives its inputs "
        "from a CSV file or its built-in scenario, steps it from a start to a stop "
        "time and writes its outputs as CSV.",
        "fmirun"};
    app.add_option("slave", options.slave,
                   "An .fmu archive, or a slave library when --model-description is given")
        ->required();
    app.add_option("-d,--model-description", options.modelDescription,
                   "The modelDescription.xml of the library given as SLAVE");
    app.add_option("-i,--input", options.input,
                   "CSV file of inputs: a header \"time,<input>,...\", then rows with "
                   "increasing times; values are interpolated linearly in between (default: "
                   "the model's built-in scenario)");
    app.add_option("-o,--output", options.output,
                   "CSV file for the results: time and every output (default: standard output)");
    app.add_option("-s,--start-value", options.startValues,
                   "Sets a parameter (or an undriven input) before initialization; repeatable")
        ->type_name("NAME VALUE");
    app.add_option("--start-time", options.startTime,
                   "Start time (default: the model description's, else 0)");
    app.add_option("--stop-time", options.stopTime, "Stop time (default: the model description's)");
    app.add_option("--interval", options.interval,
                   "Communication and output interval, positive (default: 0.01)");
    app.add_flag("--summary", options.summary,
                 "Prints the peak and range of every output at the end, on standard error");
    app.add_flag("--log", options.log,
                 "Turns on the slave's debug logging and shows every message it sends, with "
                 "its status and category");
    app.add_flag("--log-fmi-calls", options.logFmiCalls,
                 "Prints every FMI call with its arguments and status");
    app.add_flag("--list-variables", options.listVariables,
                 "Lists the model's variables and exits");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "fmirun: %s\nRun fmirun --help for the options.\n", error.what());
        return kExitUsage;
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
