// What the master needs from a model description of FMI 1.0, 2.0 or 3.0: the
// version, the identity of the model, its real variables and its default
// experiment.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FmiTypes.h"

enum class Causality { Parameter, Input, Output, Other };

struct Variable {
    std::string name;
    fmiValueReference valueReference = 0;
    Causality causality = Causality::Other;
    std::optional<fmiReal> start;
    std::string unit;  // empty when the description declares none
    std::string description;
};

struct ModelDescription {
    int fmiVersion = 1;  // 1, 2 or 3
    std::string modelIdentifier;
    std::string modelName;
    std::string guid;  // the instantiation token of 3.0
    std::string description;
    // The interfaces the description offers (1.0: co-simulation only), the
    // Model Exchange one's identifier, and what a Model Exchange master must
    // integrate and watch: its continuous states and event indicators.
    bool coSimulation = true;
    bool modelExchange = false;
    std::string modelExchangeIdentifier;
    std::size_t continuousStates = 0;
    std::size_t eventIndicators = 0;
    // The <DefaultExperiment>'s times as numbers and as written.
    std::optional<double> defaultStartTime;
    std::optional<double> defaultStopTime;
    std::string defaultStartTimeText;
    std::string defaultStopTimeText;
    std::vector<Variable> variables;  // in the order of the description

    const Variable* find(const std::string& name) const;
    std::vector<const Variable*> withCausality(Causality causality) const;
    // Lists names for messages: "a, b, c" (or "none").
    static std::string names(const std::vector<const Variable*>& variables);
};

// Reads a model description from text; `origin` names it in messages. Throws
// Failure (kExitModel) when the text is not a description that this master
// can run: not well-formed, not FMI 1.0, 2.0 or 3.0, not for co-simulation,
// variables of another type than real (Real, or Float64 in 3.0), duplicate
// names or value references, a number that is not finite, a default
// experiment whose stop is not after its start. The independent time
// variable of a 3.0 description is left out: the master passes time in the
// calls that step.
ModelDescription parseModelDescription(const std::string& text, const std::string& origin);

const char* causalityName(Causality causality);
