// fmirun's command line: the options as given, what they mean for a run of
// a model, and the help that explains them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ModelDescription.h"
#include "Sweep.h"
#include "TimeGrid.h"

struct Options {
    std::string slave;
    std::string modelDescription;
    std::string input;
    std::string output;
    std::string plot;
    std::vector<std::pair<std::string, std::string>> startValues;
    std::vector<std::string> outputVariables;
    std::string startTime;
    std::string stopTime;
    std::string interval;  // of the rows; of the steps too unless stepSize is given
    std::string stepSize;
    bool listVariables = false;
    bool log = false;
    bool logFmiCalls = false;
    std::string logFile;
    std::string fmiLogFile;
    bool earlyReturnAllowed = false;
    std::string interfaceType;  // "me", "cs", or empty: co-simulation where offered
    bool summary = false;
    bool summaryOnly = false;
    std::string summaryFile;
    std::string initialStateFile;
    std::string finalStateFile;
    std::string sweep;
    std::string cases;
    bool outputPerCase = false;
    unsigned jobs = 1;
};

// Reads the command line into `options`. Returns the exit status when the
// program ends here (--help, --version, or a command line it refuses, with
// its message printed), nothing when a run is to follow.
std::optional<int> readCommandLine(int argc, char** argv, Options& options);

// The cases of the sweep that --cases picks ("K" or "FROM-TO", TO cut to
// the table's last case), or all of them.
std::pair<std::size_t, std::size_t> caseRange(const Options& options, const SweepTable& table);

// The start values given, by variable, in the order given.
std::vector<std::pair<const Variable*, fmiReal>> startValues(const Options& options,
                                                             const ModelDescription& model);

// What the rows and the summary record: the outputs, or the variables named
// with --output-variables in their order, whatever their causality.
std::vector<const Variable*> recordedVariables(const Options& options,
                                               const ModelDescription& model);

// The time span and interval, from the command line or else the model
// description; `descriptionName` names the description in messages.
TimeGrid timeGrid(const Options& options, const ModelDescription& model,
                  const std::string& descriptionName);

// The step and the row spacing as given: --step-size, else --interval
// (--output-interval), else one hundredth of a second.
GivenTime givenStep(const Options& options);

// A row after every this many steps: --output-interval over --step-size,
// a whole number of them, so that every row lies on a communication point.
std::size_t rowsEvery(const Options& options);

// "-" is standard output, as for most command-line tools.
bool rowsToStandardOutput(const Options& options);
