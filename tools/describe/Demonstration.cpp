#include "Demonstration.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "DescriptionWriting.h"
#include "Numbers.h"
#include "TimeGrid.h"

namespace demonstration {

namespace {

std::vector<const RealVariable*> inputsOf(const ModelDefinition& model) {
    std::vector<const RealVariable*> inputs;
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        if (model.realVariables[vr].causality == Causality::Input) {
            inputs.push_back(&model.realVariables[vr]);
        }
    }
    return inputs;
}

GivenTime given(const char* text, const char* what) {
    return {std::strtod(text, nullptr), text, what};
}

void writeRow(std::ostream& out, const char* time, const Real* values, std::size_t count) {
    out << time;
    for (std::size_t i = 0; i < count; ++i) {
        out << ',' << formatReal(values[i]);
    }
    out << '\n';
}

}  // namespace

void writeTable(std::ostream& out, const ModelDefinition& model) {
    const Demonstration& demonstration = *model.demonstration;
    const std::vector<const RealVariable*> inputs = inputsOf(model);
    out << "time";
    for (const RealVariable* input : inputs) {
        out << ',' << input->name;
    }
    out << '\n';
    std::vector<Real> values(inputs.size());
    char time[kRealTextSize + 1];
    if (demonstration.inputsAt == nullptr) {
        const std::size_t width = inputs.size() + 1;
        for (std::uint32_t row = 0; row < demonstration.breakpointCount; ++row) {
            const Real* breakpoint = demonstration.breakpoints + row * width;
            *formatReal(breakpoint[0], time) = '\0';
            writeRow(out, time, breakpoint + 1, inputs.size());
        }
        return;
    }
    // fmirun's grid of the default experiment, the same code and so the same bits.
    const TimeGrid grid(given(description::kDefaultStartTime, "the default start time"),
                        given(description::kDefaultStopTime, "the default stop time"),
                        given(description::kDefaultStepSize, "the default step size"));
    for (std::size_t k = 0; k <= grid.steps(); ++k) {
        demonstration.inputsAt(grid.at(k), values.data());
        *grid.format(k, time) = '\0';
        writeRow(out, time, values.data(), values.size());
    }
}

}  // namespace demonstration
