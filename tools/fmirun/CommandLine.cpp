#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Failure.h"
#include "Numbers.h"

namespace {

double number(const std::string& option, const std::string& text) {
    const std::optional<double> value = parseReal(text);
    if (!value) {
        throw Failure(kExitUsage, option + " needs a finite number, not \"" + text + "\"");
    }
    return *value;
}

constexpr const char* kHelpFooter = R"(
The slave is an FMI 1.0, 2.0 or 3.0 co-simulation FMU: fmirun reads the
fmiVersion of its model description and runs the library of that version
(binaries/linux64 for 1.0 and 2.0, binaries/x86_64-linux for 3.0). Slaves of
2.0 and 3.0 compute their outputs when initialization ends, so the first row
holds their forces at the start time; a 1.0 slave computes only inside a
step, and its first row holds zeros. With --interface-type me a 2.0 or 3.0
slave runs as Model Exchange instead: each row holds the outputs at the
row's own time and inputs, where a co-simulation row holds those of the
inputs at the step's start.

The input file (--input) is CSV as spreadsheet programs write it: a header
"time,<input>,<input>,..." naming inputs of the model, then one row per time,
times increasing, for example:

    time,displacement
    0,0
    1,-0.1

Fields may be quoted, a UTF-8 byte-order mark is skipped; semicolons or
tabs may separate them, a name may carry its unit in brackets ("time [s]"),
and a time given twice is a step change. Inputs are interpolated linearly
between rows and held outside them. Every number fmirun reads, here, on the
command line or in a model description, must be finite:
NaN and infinity are refused.

A sweep (--sweep) runs the slave once per row of a table of start values,
read by the same rules: a header naming parameters, or inputs that neither
the input file nor the archive's demonstration drives, then a row per case:

    rate
    10000
    20000

Each case starts from a fresh slave, with --start-value below its values,
and its rows equal those of a single run with the same start values. They
go to one file, each row led by the case number (the table's row, from 1),
or with --output-per-case to a file per case; --summary prints each case's.

For example, a stiffer bar, inputs from a file, every 1 ms, results in a
file and the peak forces at the end; then three rates, two at a time:

    fmirun model.fmu --start-value rate 20000 --input roll.csv \
        --interval 0.001 --output model.csv --summary
    printf 'rate\n10000\n15000\n20000\n' > rates.csv
    fmirun model.fmu --sweep rates.csv --jobs 2 --output rates-out.csv

Exit statuses:
  0  the run completed
  1  the slave returned an error, fatal or discard status (or, in 3.0, asked
     to terminate); the rows up to the failed step stay in the output, and
     in a sweep those of the cases before it
  2  a bad command line
  3  a bad input or sweep file (named with line and column)
  4  a bad model: archive, model description or library
  5  the output file cannot be written)";

// The number of single-character edits from one word to the other.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0U : 1U)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// What is left of the command line, in the order typed: the first unknown
// option named, with the nearest of the known ones.
void refuseExtras(const CLI::App& app) {
    const std::vector<std::string> extras = app.remaining();
    if (extras.empty()) {
        return;
    }
    const std::string& first = extras.front();
    const std::string word = first.substr(0, first.find('='));
    if (word.size() < 2 || word[0] != '-') {
        throw CLI::ExtrasError("unexpected argument \"" + first + "\"",
                               CLI::ExitCodes::ExtrasError);
    }
    std::string nearest;
    std::size_t distance = std::string::npos;
    for (const CLI::Option* option : app.get_options()) {
        std::vector<std::string> names;
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            names.push_back("-" + name);
        }
        for (const std::string& name : names) {
            const std::size_t d = editDistance(word, name);
            if (d < distance) {
                distance = d;
                nearest = name;
            }
        }
    }
    throw CLI::ExtrasError("unknown option " + word + "; did you mean " + nearest + "?",
                           CLI::ExitCodes::ExtrasError);
}

}  // namespace

// The cases of the sweep that --cases picks ("K" or "FROM-TO", TO cut to
// the table's last case), or all of them.
std::pair<std::size_t, std::size_t> caseRange(const Options& options, const SweepTable& table) {
    const std::size_t count = table.cases.size();
    if (options.cases.empty()) {
        return {1, count};
    }
    // Part K of N: the table cut into N parts as equal as whole cases allow,
    // so that a job array needs no count of the table's cases. A part may
    // be empty (N above the count): it runs no case.
    const std::size_t slash = options.cases.find('/');
    if (slash != std::string::npos) {
        const auto whole = [&](const std::string& text) -> std::size_t {
            if (text.empty() || text.size() > 9 ||
                text.find_first_not_of("0123456789") != std::string::npos ||
                std::stoull(text) == 0) {
                throw Failure(kExitUsage,
                              "--cases K/N needs part K of N parts, 1 <= K <= N, "
                              "such as 3/20, not \"" +
                                  options.cases + "\"");
            }
            return static_cast<std::size_t>(std::stoull(text));
        };
        const std::size_t part = whole(options.cases.substr(0, slash));
        const std::size_t parts = whole(options.cases.substr(slash + 1));
        if (part > parts) {
            throw Failure(kExitUsage, "--cases " + options.cases + ": there is no part " +
                                          std::to_string(part) + " of " + std::to_string(parts));
        }
        return {(part - 1) * count / parts + 1, part * count / parts};
    }
    const auto number = [&](const std::string& text) -> std::size_t {
        if (text.empty() || text.size() > 15 ||
            text.find_first_not_of("0123456789") != std::string::npos || std::stoull(text) == 0) {
            throw Failure(kExitUsage,
                          "--cases needs a case number or a range FROM-TO of them, from 1, "
                          "such as 101-200, not \"" +
                              options.cases + "\"");
        }
        return static_cast<std::size_t>(std::stoull(text));
    };
    const std::size_t dash = options.cases.find('-');
    const std::size_t from = number(options.cases.substr(0, dash));
    const std::size_t to =
        dash == std::string::npos ? from : number(options.cases.substr(dash + 1));
    if (to < from) {
        throw Failure(kExitUsage, "--cases " + options.cases + ": the range ends before it begins");
    }
    if (from > count) {
        throw Failure(kExitUsage, "--cases " + options.cases + ": " + table.origin + " has " +
                                      std::to_string(count) + " cases");
    }
    return {from, std::min(to, count)};
}

std::vector<std::pair<const Variable*, fmiReal>> startValues(const Options& options,
                                                             const ModelDescription& model) {
    std::vector<std::pair<const Variable*, fmiReal>> values;
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
                          "--start-value " + name + ": \"" + text + "\" is not a finite number");
        }
        values.emplace_back(variable, *value);
    }
    return values;
}

// What the rows and the summary record: the outputs, or the variables named
// with --output-variables in their order, whatever their causality.
std::vector<const Variable*> recordedVariables(const Options& options,
                                               const ModelDescription& model) {
    if (options.outputVariables.empty()) {
        return model.withCausality(Causality::Output);
    }
    std::vector<const Variable*> recorded;
    for (const std::string& name : options.outputVariables) {
        const Variable* variable = model.find(name);
        if (variable == nullptr) {
            std::vector<const Variable*> all;
            for (const Variable& each : model.variables) {
                all.push_back(&each);
            }
            throw Failure(kExitUsage, "--output-variables: " + model.modelIdentifier +
                                          " has no variable \"" + name +
                                          "\"; its variables are: " + ModelDescription::names(all));
        }
        for (const Variable* before : recorded) {
            if (before == variable) {
                throw Failure(kExitUsage, "--output-variables: " + name + " is named twice");
            }
        }
        recorded.push_back(variable);
    }
    return recorded;
}

// The time span and interval, from the command line or else the model
// description. A stop not after the start is the description's fault when
// both came from it, the command line's otherwise.
TimeGrid timeGrid(const Options& options, const ModelDescription& model,
                  const std::string& descriptionName) {
    const std::string fromDescription = descriptionName + "'s DefaultExperiment";
    GivenTime start{0.0, "0", "the default"};
    if (!options.startTime.empty()) {
        start = {number("--start-time", options.startTime), options.startTime, "--start-time"};
    } else if (model.defaultStartTime) {
        start = {*model.defaultStartTime, model.defaultStartTimeText, fromDescription};
    }
    GivenTime stop;
    if (!options.stopTime.empty()) {
        stop = {number("--stop-time", options.stopTime), options.stopTime, "--stop-time"};
    } else if (model.defaultStopTime) {
        stop = {*model.defaultStopTime, model.defaultStopTimeText, fromDescription};
    } else {
        throw Failure(kExitUsage, "the model description gives no stop time: give --stop-time");
    }
    return TimeGrid(start, stop, givenStep(options));
}

GivenTime givenStep(const Options& options) {
    if (!options.stepSize.empty()) {
        return {number("--step-size", options.stepSize), options.stepSize, "--step-size"};
    }
    const std::string text = options.interval.empty() ? "0.01" : options.interval;
    return {number("--interval", text), text, "--interval"};
}

// A row after every this many steps: --output-interval over --step-size,
// a whole number of them, so that every row lies on a communication point.
std::size_t rowsEvery(const Options& options) {
    if (options.stepSize.empty() || options.interval.empty()) {
        return 1;
    }
    const double step = number("--step-size", options.stepSize);
    const double interval = number("--output-interval", options.interval);
    if (!(interval > 0.0)) {
        throw Failure(kExitUsage, "--output-interval must be positive, not " + options.interval);
    }
    const double ratio = interval / step;
    const double whole = std::round(ratio);
    if (!(whole >= 1.0) || std::fabs(ratio - whole) > 1e-9 * ratio) {
        throw Failure(kExitUsage, "--output-interval " + options.interval +
                                      " is not a whole multiple of --step-size " +
                                      options.stepSize +
                                      ": the rows are written at communication points only");
    }
    return static_cast<std::size_t>(whole);
}

// "-" is standard output, as for most command-line tools.
bool rowsToStandardOutput(const Options& options) {
    return options.output.empty() || options.output == "-";
}

std::optional<int> readCommandLine(int argc, char** argv, Options& options) {
    CLI::App app{
        "Runs an FMI 1.0, 2.0 or 3.0 co-simulation slave (the version its model description "
        "gives): sets its parameters, drives its inputs "
        "from a CSV file or the demonstration its archive carries, steps it from a start to a stop "
        "time and writes its outputs as CSV.",
        "fmirun"};
    // Each option under the heading of what it is about; the names other
    // command-line masters use are further names of the same options.
    const std::string model = "Model";
    const std::string inputs = "Inputs and start values";
    const std::string time = "Time";
    const std::string results = "Results";
    const std::string sweeps = "Parameter sweeps";
    const std::string diagnostics = "Diagnostics";
    app.add_option("slave", options.slave,
                   "An .fmu archive, or a slave library when --model-description is given")
        ->required()
        ->group(model);
    app.add_option("-d,--model-description", options.modelDescription,
                   "The modelDescription.xml of the library given as SLAVE")
        ->group(model);
    app.add_option("--interface-type", options.interfaceType,
                   "The FMI interface: cs (co-simulation) or me (Model Exchange, FMI 2.0 and 3.0, "
                   "evaluated at each communication point from the inputs there) (default: cs "
                   "where the model offers it)")
        ->check(CLI::IsMember({"cs", "me"}))
        ->group(model);
    app.add_flag("--list-variables", options.listVariables, "Lists the model's variables and exits")
        ->group(model);
    app.add_option("-i,--input,--input-file", options.input,
                   "CSV file of inputs: a header \"time,<input>,...\", then rows with "
                   "increasing times; values are interpolated linearly in between (default: "
                   "the archive's demonstration, documentation/demonstration.csv)")
        ->group(inputs);
    // Both kinds of start value in the order given, so that the last value
    // given for a name holds.
    app.add_option_function<std::pair<std::string, std::string>>(
           "-s,--start-value",
           [&options](const std::pair<std::string, std::string>& value) {
               options.startValues.push_back(value);
           },
           "Sets a parameter (or an undriven input) before initialization; repeatable")
        ->type_name("NAME VALUE")
        ->trigger_on_parse()
        ->group(inputs);
    app.add_option_function<std::vector<std::string>>(
           "--start-values",
           [&options](const std::vector<std::string>& words) {
               if (words.size() % 2 != 0) {
                   throw CLI::ValidationError(
                       "--start-values",
                       "needs NAME VALUE pairs; \"" + words.back() + "\" has no value");
               }
               for (std::size_t i = 0; i < words.size(); i += 2) {
                   options.startValues.emplace_back(words[i], words[i + 1]);
               }
           },
           "Sets several at once, up to the next option: NAME VALUE NAME VALUE ...")
        ->type_name("NAME VALUE")
        ->trigger_on_parse()
        ->group(inputs);
    app.add_option("--start-time", options.startTime,
                   "Start time (default: the model description's, else 0)")
        ->group(time);
    app.add_option("--stop-time", options.stopTime, "Stop time (default: the model description's)")
        ->group(time);
    app.add_option("--interval,--output-interval", options.interval,
                   "Interval of the rows, positive; also that of the steps unless --step-size is "
                   "given (default: 0.01)")
        ->group(time);
    app.add_option("--step-size", options.stepSize,
                   "Communication step size, positive; --output-interval must then be a whole "
                   "multiple of it (default: a row per step)")
        ->group(time);
    CLI::Option* output =
        app.add_option("-o,--output,--output-file", options.output,
                       "CSV file for the results: time and every output, or the --output-variables "
                       "(default: standard output)")
            ->group(results);
    // Names separated by commas (spaces around them dropped) or given as
    // words of their own up to the next option, as other masters take them.
    const auto addRecorded = [&options](const std::vector<std::string>& words) {
        for (const std::string& word : words) {
            std::size_t start = 0;
            while (start <= word.size()) {
                const std::size_t comma = std::min(word.find(',', start), word.size());
                const std::size_t first = word.find_first_not_of(" \t", start);
                const std::size_t last = word.find_last_not_of(" \t", comma - 1);
                if (first < comma && last != std::string::npos && last >= first) {
                    options.outputVariables.push_back(word.substr(first, last - first + 1));
                }
                start = comma + 1;
            }
        }
    };
    app.add_option_function<std::vector<std::string>>(
           "--output-variables", addRecorded,
           "The variables the rows and the summary record, in this order: outputs, "
           "parameters or inputs, separated by commas or spaces; repeatable (default: every "
           "output)")
        ->type_name("NAME,...")
        ->expected(1, CLI::detail::expected_max_vector_size)
        ->trigger_on_parse()
        ->group(results);
    app.add_option_function<std::string>(
           "--output-variable", [addRecorded](const std::string& name) { addRecorded({name}); },
           "One variable to record, after those named before; repeatable")
        ->type_name("NAME")
        ->trigger_on_parse()
        ->group(results);
    app.add_option("--plot", options.plot,
                   "Draws the recorded values (the rows' columns, rows written or not) over time "
                   "into FILE: SVG when its name ends in .svg, PNG in .png")
        ->type_name("FILE")
        ->group(results);
    app.add_flag("--summary", options.summary,
                 "Prints the peak and range of every recorded variable at the end, on standard "
                 "error")
        ->group(results);
    app.add_option("--summary-file", options.summaryFile,
                   "Writes the summary as CSV into FILE: a row per recorded variable (in a "
                   "sweep, per case and variable, after the case's number and values) with its "
                   "peak, minimum and maximum and their times")
        ->type_name("FILE")
        ->group(results);
    app.add_option("--initial-fmu-state-file", options.initialStateFile,
                   "Starts from the serialized FMU state in FILE (FMI 2.0 and 3.0), set when "
                   "initialization ends")
        ->type_name("FILE")
        ->group(results);
    app.add_option("--final-fmu-state-file", options.finalStateFile,
                   "Writes the serialized FMU state at the stop time into FILE (FMI 2.0 and 3.0)")
        ->type_name("FILE")
        ->group(results);
    app.add_flag("--summary-only", options.summaryOnly, "Writes no rows, only the --summary")
        ->excludes("--output")
        ->group(results);
    CLI::Option* sweep =
        app.add_option("--sweep", options.sweep,
                       "CSV file of cases: a header naming parameters (or undriven inputs), "
                       "then a row of their start values per case; each case is a run of its "
                       "own, its rows in the output led by a column \"case\", the row's number")
            ->type_name("FILE.csv")
            ->excludes("--plot")
            ->excludes("--initial-fmu-state-file")
            ->excludes("--final-fmu-state-file")
            ->group(sweeps);
    app.add_option("--cases", options.cases,
                   "Runs only these cases of the --sweep, numbered as in the whole table: K, "
                   "FROM-TO (TO beyond the last case means up to it), or K/N, the K-th of N "
                   "parts of the table as equal as whole cases allow")
        ->type_name("FROM-TO")
        ->needs(sweep)
        ->group(sweeps);
    app.add_flag("--output-per-case", options.outputPerCase,
                 "Writes each case to a file of its own, named after --output with the case "
                 "number: result.csv gives result-1.csv, ... (zero-padded to the last case's "
                 "digits), each as a single run writes it")
        ->needs(sweep)
        ->needs(output)
        ->group(sweeps);
    app.add_option("--jobs", options.jobs,
                   "Runs this many cases at once, each in a thread with a slave of its own; "
                   "the results come out in case order all the same (default: 1)")
        ->check(CLI::Range(1U, 1024U))
        ->needs(sweep)
        ->group(sweeps);
    app.add_flag("--log,--logging-on", options.log,
                 "Turns on the slave's debug logging and shows every message it sends, with "
                 "its status and category")
        ->group(diagnostics);
    app.add_flag("--log-fmi-calls", options.logFmiCalls,
                 "Prints every FMI call with its arguments and status")
        ->group(diagnostics);
    app.add_option("--log-file", options.logFile,
                   "Writes the slave's messages into FILE instead of standard error")
        ->type_name("FILE")
        ->group(diagnostics);
    app.add_option("--fmi-log-file", options.fmiLogFile,
                   "Prints every FMI call as --log-fmi-calls does, into FILE")
        ->type_name("FILE")
        ->group(diagnostics);
    app.add_flag("--early-return-allowed", options.earlyReturnAllowed,
                 "Accepted for other masters' command lines; these slaves never return early")
        ->group(diagnostics);
    app.set_version_flag(
        "--version",
        "fmirun " FMIRUN_VERSION
        " (runs FMI 1.0, 2.0 and 3.0 co-simulation slaves, and 2.0 and 3.0 Model Exchange ones)");
    app.footer(kHelpFooter);
    app.allow_extras();
    try {
        app.parse(argc, argv);
        refuseExtras(app);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "fmirun: %s\nRun fmirun --help for the options.\n", error.what());
        return kExitUsage;
    }
    options.logFmiCalls = options.logFmiCalls || !options.fmiLogFile.empty();
    return std::nullopt;
}
