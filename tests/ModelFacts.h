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
    // The update may ask to end the simulation (the definition gives no
    // quiet loop); whether it does for these values, on a copy of them.
    bool mayRequestTermination = false;
    std::function<bool(std::vector<fmiReal> r)> requestsTermination;
    // The outputs are a function of the parameters and inputs alone, so one
    // update gives what any number of them gives; false where an output
    // carries its own earlier value on (a counter of updates).
    bool outputsFollowFromKnowns = true;
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
