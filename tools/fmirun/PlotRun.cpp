#include "PlotRun.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Failure.h"
#include "Numbers.h"
#include "Plot.h"

namespace {

// Values of one unit share a panel, whatever their causality (a travel
// stop's limits and displacement are all in m); values without a unit are
// grouped by what they are to the model, forces (outputs) apart from
// displacements (inputs) and rates (parameters). The label names the
// causalities on the panel and the unit.
struct PanelKey {
    std::string unit;
    Causality causality;  // for values without a unit only
    bool operator==(const PanelKey& other) const {
        return unit == other.unit && (!unit.empty() || causality == other.causality);
    }
};

struct KeyedPanel {
    PanelKey key;
    std::vector<Causality> causalities;
    plot::Panel panel;
};

std::string labelOf(const KeyedPanel& keyed) {
    std::string label;
    for (const Causality causality : keyed.causalities) {
        label += (label.empty() ? "" : ", ") + std::string(causalityName(causality)) + "s";
    }
    return keyed.key.unit.empty() ? label : label + " [" + keyed.key.unit + "]";
}

std::vector<plot::Panel> panelsOf(const std::vector<const Variable*>& recorded,
                                  RecordedSeries series) {
    std::vector<KeyedPanel> panels;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        const Variable& variable = *recorded[i];
        const PanelKey key{variable.unit, variable.causality};
        auto keyed = std::find_if(panels.begin(), panels.end(),
                                  [&key](const KeyedPanel& panel) { return panel.key == key; });
        if (keyed == panels.end()) {
            plot::Panel added;
            added.xLabel = "time [s]";
            added.x = series.times;
            keyed = panels.insert(panels.end(), {key, {}, std::move(added)});
        }
        if (std::find(keyed->causalities.begin(), keyed->causalities.end(), variable.causality) ==
            keyed->causalities.end()) {
            keyed->causalities.push_back(variable.causality);
        }
        keyed->panel.curves.push_back({variable.name, std::move(series.values[i])});
    }
    std::vector<plot::Panel> ordered;
    for (KeyedPanel& keyed : panels) {
        keyed.panel.yLabel = labelOf(keyed);
        ordered.push_back(std::move(keyed.panel));
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
