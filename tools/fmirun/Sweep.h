// A parameter sweep: each case of a table run as fmirun runs one slave, by a
// fresh slave of the library already loaded, with the case's start values on
// top of the common ones; its rows are those of that single run, bit for bit.
// Cases run in several threads at once; their rows and summaries come out in
// case order all the same.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "CoSimulationSlave.h"
#include "Inputs.h"
#include "ModelDescription.h"
#include "Run.h"
#include "TimeGrid.h"

struct SweepSettings {
    // The cases run: the table's rows firstCase to lastCase, counted from 1.
    std::size_t firstCase = 1;
    std::size_t lastCase = 1;
    unsigned jobs = 1;          // threads, each running one case at a time
    std::string slaveLocation;  // for instantiation, as its FMI version wants it
    bool writeRows = true;      // false: --summary-only
    // The rows of all cases in one file (standard output when `output` is
    // empty), each led by its case number, or each case in its own file.
    std::string output;
    bool filePerCase = false;
    bool summary = false;
    // Each case's summary as CSV rows (summaryCsvRows), the case and its
    // values leading, in case order; null for none.
    std::FILE* summaryFile = nullptr;
    bool showProgress = false;
};

// The file of a case: the output's name with "-<case>" before its extension,
// the number zero-padded to the digits of the table's `caseCount`, so that
// the files sort in case order ("result.csv", 7 of 120: "result-007.csv").
std::string caseFileName(const std::string& output, std::size_t caseNumber, std::size_t caseCount);

// Writes rows of the summary file; throws Failure (kExitOutputFile) when it
// cannot.
void writeSummaryRows(std::FILE* file, const std::string& rows);

// Runs the cases with slaves of `loaded`, which the sweep leaves as it is.
// A failed case stops the sweep: Failure with that case's status and its
// message, the case named, once the cases before it have been written, and
// its rows up to the failure, as a single run leaves them.
void runSweep(const CoSimulationSlave& loaded, const ModelDescription& model, const Inputs& inputs,
              const TimeGrid& grid, const RunSettings& common, const SweepTable& table,
              const SweepSettings& settings);
