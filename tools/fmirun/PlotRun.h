// The picture of a run (--plot): the recorded values over time, variables of
// one causality sharing a panel, and the run's settings in the title.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "Inputs.h"
#include "ModelDescription.h"
#include "Run.h"
#include "TimeGrid.h"

// What the title says about a run besides the model.
struct RunCircumstances {
    const TimeGrid& grid;
    const std::string& interval;  // as given
    const Inputs& inputs;
    const RunSettings& settings;
};

// Throws Failure (kExitUsage) unless the name ends in .svg or .png.
void checkPlotName(const std::string& path);

// The values of a picture are kept in memory, and a curve of more points
// than that says nothing more on a page.
constexpr std::size_t kMostPlottedSteps = 1000000;

// Throws Failure (kExitUsage) when the run has more steps than a picture takes.
void checkPlotSize(const std::string& path, const TimeGrid& grid);

// Draws the series and writes the picture to `file`, named `path`, in the
// format its name gives. Throws Failure (kExitOutputFile) when it cannot
// be drawn or written.
void writePlot(std::FILE* file, const std::string& path, const ModelDescription& model,
               const RunCircumstances& run, RecordedSeries series);
