// What the tests know of each model, read from its definition: identifier,
// GUID, variables, start values, substep rule and its equations. What must
// not come from the definition, the force laws written again so that a
// wrong model file is caught, is in each model's own test file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FmiTypes.h"

struct ModelFacts {
    std::string identifier;
    std::string guid;
    std::vector<std::optional<fmiReal>> startValues;  // one per value reference
    bool multipliesSubstep;                           // h = step * 0.1 instead of step / 10
    // The outputs as the model computes them at a time event, in place on a
    // copy of all real values.
    std::function<void(std::vector<fmiReal>& r)> equation;
    // A model built only to exercise the runtime runs its own suite alone.
    bool onlyOwnSuites = false;
    // The outputs are the value references from here on; before them, the
    // parameters (with start values) and the inputs (without).
    fmiValueReference firstOutput = 0;
    // Computes under flush-to-zero and denormals-are-zero.
    bool flushesToZero = false;
    // The partial derivative of output `unknown` with respect to `known` in
    // the branch the equation takes at these values.
    std::function<fmiReal(const std::vector<fmiReal>& r, fmiValueReference unknown,
                          fmiValueReference known)>
        partial;

    std::uint32_t realCount() const {
        return static_cast<std::uint32_t>(startValues.size());
    }
    // The values of a fresh instance: start values, zero elsewhere.
    std::vector<fmiReal> freshValues() const;
    // The substep that fmiDoStep uses for a communication step.
    fmiReal substep(fmiReal stepSize) const;
};

const ModelFacts* findModelFacts(const std::string& identifier);
// Every model the program knows, in the build's order.
const std::vector<ModelFacts>& allModelFacts();
