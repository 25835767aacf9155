#include "PlotRun.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "Failure.h"
#include "Numbers.h"
#include "Plot.h"

namespace {

// The models describe no units, so values are grouped by what they are to
// the model: forces (outputs) share one axis, displacements (inputs) and
// rates (parameters) their own.
std::vector<plot::Panel> panelsOf(const std::vector<const Variable*>& recorded,
                                  RecordedSeries series) {
    std::vector<std::pair<Causality, plot::Panel>> panels;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        const Variable& variable = *recorded[i];
        auto panel = panels.begin();
        while (panel != panels.end() && panel->first != variable.causality) {
            ++panel;
        }
        if (panel == panels.end()) {
            plot::Panel added;
            added.xLabel = "time";
            added.yLabel = std::string(causalityName(variable.causality)) + "s";
            added.x = series.times;
            panel = panels.insert(panels.end(), {variable.causality, std::move(added)});
        }
        panel->second.curves.push_back({variable.name, std::move(series.values[i])});
    }
    std::vector<plot::Panel> ordered;
    for (auto& [causality, panel] : panels) {
        ordered.push_back(std::move(panel));
    }
    return ordered;
}

std::vector<std::string> titleOf(const ModelDescription& model, const RunCircumstances& run) {
    std::string startValues;
    for (const auto& [variable, value] : run.settings.startValues) {
        startValues +=
            (startValues.empty() ? "" : ", ") + variable->name + " = " + formatReal(value);
    }
    return {model.modelIdentifier + " (" + model.modelName + "), FMI " +
                std::to_string(model.fmiVersion) + ".0",
            "t = " + formatReal(run.grid.start()) + " to " + formatReal(run.grid.stop()) +
                " every " + run.interval + ", inputs: " + run.inputs.origin,
            "start values: " +
                (startValues.empty() ? std::string("the model description's") : startValues)};
}

}  // namespace

void checkPlotName(const std::string& path) {
    if (!plot::formatOf(path)) {
        throw Failure(kExitUsage, "--plot " + path + ": the name must end in .svg or .png");
    }
}

void checkPlotSize(const std::string& path, const TimeGrid& grid) {
    if (grid.steps() > kMostPlottedSteps) {
        throw Failure(kExitUsage, "--plot " + path + ": a picture takes at most " +
                                      std::to_string(kMostPlottedSteps) + " steps, this run has " +
                                      std::to_string(grid.steps()) +
                                      "; give a larger --interval, or draw the rows with a "
                                      "plotting program");
    }
}

void writePlot(std::FILE* file, const std::string& path, const ModelDescription& model,
               const RunCircumstances& run, RecordedSeries series) {
    const plot::Figure figure{titleOf(model, run),
                              panelsOf(run.settings.recorded, std::move(series))};
    std::string bytes;
    try {
        bytes = plot::render(figure, *plot::formatOf(path));
    } catch (const std::runtime_error& error) {
        throw Failure(kExitOutputFile, "cannot draw " + path + ": " + error.what());
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0) {
        throw Failure(kExitOutputFile, "cannot write " + path + ": " + errnoText());
    }
}
