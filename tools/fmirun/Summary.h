// What --summary prints of a run: a heading that names the model, where the
// inputs came from, the steps and where the rows went, then the peak and
// range of every recorded variable.
#pragma once

#include <string>
#include <vector>

#include "ModelDescription.h"
#include "Run.h"
#include "TimeGrid.h"

// The lines, each without its newline. `origin` says where the inputs came
// from, `which` follows it to tell a sweep's cases apart (empty for a single
// run); `rows` are where the rows went, null when none were written.
std::vector<std::string> summaryLines(const ModelDescription& model, const std::string& origin,
                                      const std::string& which, const TimeGrid& grid,
                                      const RunResult& result, const CsvOutput* rows);

// The summary as a table (--summary-file): a row per recorded variable with
// its peak (the value farthest from zero), its minimum and maximum, each with
// its time; empty fields for a variable that gave no numbers. `leading`
// names the columns before these (a sweep's case and its values), `lead`
// holds their fields, each followed by a comma.
std::string summaryCsvHeader(const std::vector<std::string>& leading);
std::string summaryCsvRows(const RunResult& result, const std::string& lead);
