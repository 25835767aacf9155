#include "Run.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Console.h"
#include "Failure.h"
#include "Numbers.h"

namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

class CsvWriter {
  public:
    CsvWriter(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}

    void row(const std::string& text) {
        if (std::fputs(text.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF) {
            throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + std::strerror(errno));
        }
    }

  private:
    std::FILE* file_;
    std::string name_;
};

// Shows how far a run is, at most ten times a second and only once it has
// taken half a second, so short runs stay quiet.
class Progress {
  public:
    Progress(bool enabled, double start, double stop)
        : enabled_(enabled), start_(start), stop_(stop), begin_(Clock::now()), next_(begin_) {}
    ~Progress() {
        console::clearProgress();
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(double time) {
        if (!enabled_) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (now < next_ || now - begin_ < std::chrono::milliseconds(500)) {
            return;
        }
        next_ = now + std::chrono::milliseconds(100);
        const double percent = 100.0 * (time - start_) / (stop_ - start_);
        char text[128];
        std::snprintf(text, sizeof text, "fmirun: t = %g of %g (%.0f%%)", time, stop_, percent);
        console::progress(text);
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    double start_;
    double stop_;
    Clock::time_point begin_;
    Clock::time_point next_;
};

}  // namespace

CommunicationPoints::CommunicationPoints(double start, double stop, double interval)
    : start_(start), stop_(stop), interval_(interval) {
    const double ratio = (stop - start) / interval;
    const double nearest = std::round(ratio);
    // A stop time that is a whole number of intervals away, up to rounding,
    // is reached with steps of equal length.
    if (nearest >= 1.0 && std::fabs(ratio - nearest) <= 1e-9 * nearest) {
        steps_ = static_cast<std::size_t>(nearest);
    } else {
        steps_ = static_cast<std::size_t>(std::floor(ratio)) + 1;
    }
}

double CommunicationPoints::at(std::size_t k) const {
    if (k >= steps_) {
        return stop_;
    }
    const double exact = start_ + static_cast<double>(k) * interval_;
    // 94 * 0.01 is 0.9400000000000001: the point is taken as the double of
    // its shortest decimal of 15 digits ("0.94"), which people read and plot
    // more easily, unless that moves it noticeably.
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", exact);
    const double decimal = std::strtod(text, nullptr);
    return std::fabs(decimal - exact) <= 1e-6 * interval_ ? decimal : exact;
}

RunResult run(Slave& slave, const ModelDescription& model, const Inputs& inputs,
              const RunSettings& settings, std::FILE* csv, const std::string& csvName) {
    const std::vector<const Variable*> outputs = model.withCausality(Causality::Output);
    std::vector<fmiValueReference> outputReferences;
    std::string header = "time";
    RunResult result;
    for (const Variable* output : outputs) {
        outputReferences.push_back(output->valueReference);
        header += "," + csvField(output->name);
        result.ranges.push_back(OutputRange{output});
    }
    std::vector<fmiValueReference> inputReferences;
    for (const Variable* input : inputs.variables) {
        inputReferences.push_back(input->valueReference);
    }

    CsvWriter writer(csv, csvName);
    writer.row(header);
    auto record = [&](double time) {
        const std::vector<fmiReal> values =
            outputReferences.empty() ? std::vector<fmiReal>() : slave.getReal(outputReferences);
        std::string row = formatReal(time);
        for (std::size_t i = 0; i < values.size(); ++i) {
            row += "," + formatReal(values[i]);
            OutputRange& range = result.ranges[i];
            if (std::isnan(values[i])) {
                continue;
            }
            if (!range.seen || values[i] < range.min) {
                range.min = values[i];
                range.minTime = time;
            }
            if (!range.seen || values[i] > range.max) {
                range.max = values[i];
                range.maxTime = time;
            }
            range.seen = true;
        }
        writer.row(row);
    };

    for (const auto& [variable, value] : settings.startValues) {
        slave.setReal({variable->valueReference}, {value});
    }
    slave.initialize(settings.startTime, settings.stopTime);
    record(settings.startTime);

    const CommunicationPoints points(settings.startTime, settings.stopTime, settings.interval);
    Progress progress(settings.showProgress, settings.startTime, settings.stopTime);
    double time = settings.startTime;
    for (std::size_t k = 0; k < points.steps(); ++k) {
        const double next = points.at(k + 1);
        if (!(next > time)) {
            continue;  // a point that rounding put on or before its predecessor
        }
        try {
            if (!inputReferences.empty()) {
                slave.setReal(inputReferences, inputs.at(time));
            }
            slave.doStep(time, next - time);
        } catch (const Failure& failure) {
            if (failure.status() != kExitSlaveFailed) {
                throw;
            }
            throw Failure(kExitSlaveFailed, std::string(failure.what()) + " in the step from t = " +
                                                formatReal(time) + "; the run stops there");
        }
        time = next;
        record(time);
        ++result.steps;
        progress.update(time);
    }
    slave.terminate();
    slave.freeInstance();
    return result;
}
