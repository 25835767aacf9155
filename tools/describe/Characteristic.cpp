#include "Characteristic.h"

#include <optional>
#include <utility>
#include <vector>

#include "DescriptionWriting.h"

namespace characteristic {

namespace {

// Points from -kReach to kReach, 1/2000 apart; each the quotient of two
// integers, rounded once, so that round limits such as -0.055 are hit
// exactly and a band's ends show as written.
constexpr double kPointsPerUnit = 2000.0;
constexpr int kHalfPoints = static_cast<int>(kReach * kPointsPerUnit + 0.5);

double abscissa(int i) {
    return (i - kHalfPoints) / kPointsPerUnit;
}

// The outputs over one input or over the difference of two: the first input
// takes the abscissa, the second stays 0, every other variable its start.
struct Group {
    std::vector<ValueReference> inputs;
    std::vector<ValueReference> outputs;
};

std::vector<Group> groupsOf(const ModelDefinition& model) {
    std::vector<Group> groups;
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        if (variable.causality != Causality::Output) {
            continue;
        }
        const std::vector<ValueReference> inputs =
            description::referencesOf(model, variable.dependsOn, {Causality::Input});
        if (inputs.empty() || inputs.size() > 2) {
            continue;  // nothing to draw it over, or no one line to draw it along
        }
        auto group = groups.begin();
        while (group != groups.end() && group->inputs != inputs) {
            ++group;
        }
        if (group == groups.end()) {
            group = groups.insert(groups.end(), Group{inputs, {}});
        }
        group->outputs.push_back(vr);
    }
    return groups;
}

std::string nameOf(const ModelDefinition& model, ValueReference vr) {
    return model.realVariables[vr].name;
}

// Where every output is exactly zero around the origin, if that is more
// than the origin itself.
std::optional<plot::Band> freeBand(const plot::Panel& panel) {
    const auto zeroAt = [&panel](int i) {
        for (const plot::Curve& curve : panel.curves) {
            if (curve.y[static_cast<std::size_t>(i)] != 0.0) {
                return false;
            }
        }
        return true;
    };
    int from = kHalfPoints;
    int to = kHalfPoints;
    if (!zeroAt(kHalfPoints)) {
        return std::nullopt;
    }
    while (from > 0 && zeroAt(from - 1)) {
        --from;
    }
    while (to < 2 * kHalfPoints && zeroAt(to + 1)) {
        ++to;
    }
    if (from == to) {
        return std::nullopt;
    }
    return plot::Band{abscissa(from), abscissa(to),
                      "free band, " + description::decimal(abscissa(from)) + " to " +
                          description::decimal(abscissa(to))};
}

// " [unit]" after an axis label, for a variable with a unit.
std::string unitSuffix(const ModelDefinition& model, ValueReference vr) {
    const char* unit = model.realVariables[vr].unit;
    return *unit == '\0' ? std::string() : std::string(" [") + unit + "]";
}

plot::Panel panelOf(const ModelDefinition& model, const Group& group) {
    plot::Panel panel;
    panel.xLabel = nameOf(model, group.inputs[0]);
    if (group.inputs.size() == 2) {
        panel.xLabel += " \u2212 " + nameOf(model, group.inputs[1]);
    }
    panel.xLabel += unitSuffix(model, group.inputs[0]);
    panel.yLabel = "outputs" + unitSuffix(model, group.outputs[0]);
    for (const ValueReference output : group.outputs) {
        panel.curves.push_back({nameOf(model, output), {}});
    }
    std::vector<Real> values(model.realCount, 0.0);
    for (int i = 0; i <= 2 * kHalfPoints; ++i) {
        values.assign(model.realCount, 0.0);
        writeStartValues(values.data(), model);
        values[group.inputs[0]] = abscissa(i);
        if (group.inputs.size() == 2) {
            values[group.inputs[1]] = 0.0;
        }
        model.updateAtEvent(values.data());
        panel.x.push_back(abscissa(i));
        for (std::size_t k = 0; k < group.outputs.size(); ++k) {
            panel.curves[k].y.push_back(values[group.outputs[k]]);
        }
    }
    panel.band = freeBand(panel);
    return panel;
}

std::string parameterValues(const ModelDefinition& model) {
    std::string text;
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        if (variable.causality == Causality::Parameter) {
            text += (text.empty() ? "" : ", ") + std::string(variable.name) + " = " +
                    description::decimal(variable.startValue);
        }
    }
    return text.empty() ? "no parameters" : text;
}

}  // namespace

plot::Figure of(const ModelDefinition& model) {
    plot::Figure figure;
    figure.title = {std::string(model.modelIdentifier) + " (" + model.modelName +
                        "): the outputs over the inputs",
                    "at the start values: " + parameterValues(model)};
    for (const Group& group : groupsOf(model)) {
        figure.panels.push_back(panelOf(model, group));
    }
    return figure;
}

std::string caption(const ModelDefinition& model) {
    return "The outputs of " + std::string(model.modelIdentifier) +
           " computed by its own equations at the start values, over a displacement from " +
           description::decimal(-kReach) + " to " + description::decimal(kReach) +
           ": an output that depends on two inputs over their difference (the first input "
           "moved, the second at 0), one that depends on one input over that input. A shaded "
           "band, where there is one, is where every output of its panel is exactly zero.";
}

}  // namespace characteristic
