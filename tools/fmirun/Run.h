// A run of one slave from a start to a stop time: inputs set at each
// communication point, one step to the next point, the outputs read and
// written as a CSV row.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Inputs.h"
#include "ModelDescription.h"
#include "Slave.h"

struct RunSettings {
    double startTime = 0.0;
    double stopTime = 0.0;
    double interval = 0.0;
    std::vector<std::pair<const Variable*, fmiReal>> startValues;
    bool showProgress = false;
};

// The communication points: start + k * interval while that lies before the
// stop time, then the stop time itself (so the last step may be shorter).
class CommunicationPoints {
  public:
    CommunicationPoints(double start, double stop, double interval);
    std::size_t steps() const {
        return steps_;
    }
    double at(std::size_t k) const;

  private:
    double start_;
    double stop_;
    double interval_;
    std::size_t steps_;
};

// The extremes of one output over a run, NaNs left out.
struct OutputRange {
    const Variable* variable = nullptr;
    double min = 0.0;
    double minTime = 0.0;
    double max = 0.0;
    double maxTime = 0.0;
    bool seen = false;
};

struct RunResult {
    std::size_t steps = 0;
    std::vector<OutputRange> ranges;
};

// Runs the slave, already instantiated, writing the CSV to `csv`. Throws
// Failure when the slave fails (kExitSlaveFailed) or the CSV cannot be
// written (kExitOutputFile).
RunResult run(Slave& slave, const ModelDescription& model, const Inputs& inputs,
              const RunSettings& settings, std::FILE* csv, const std::string& csvName);
