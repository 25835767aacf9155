#include "ModelFacts.h"

#include <cstring>

#include "ModelRegistry.h"

namespace {

ModelFacts factsFrom(const ModelDefinition& model) {
    ModelFacts facts;
    facts.identifier = model.modelIdentifier;
    facts.guid = model.modelGuid;
    facts.firstOutput = model.realCount;
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        const RealVariable& variable = model.realVariables[vr];
        facts.startValues.push_back(
            variable.hasStartValue ? std::optional<fmiReal>(variable.startValue) : std::nullopt);
        if (variable.causality == Causality::Output && facts.firstOutput == model.realCount) {
            facts.firstOutput = vr;
        }
    }
    facts.multipliesSubstep = model.substepRule == SubstepRule::MultiplyByOneTenth;
    facts.flushesToZero = model.floatingPoint == FloatingPointMode::FlushToZero;
    facts.mayRequestTermination = model.quietSubsteps == nullptr;
    facts.requestsTermination = [&model](std::vector<fmiReal> r) {
        return model.updateAtEvent(r.data()) == UpdateOutcome::RequestTermination;
    };
    facts.equation = [&model](std::vector<fmiReal>& r) { model.updateAtEvent(r.data()); };
    std::vector<fmiReal> once = facts.freshValues();
    facts.equation(once);
    std::vector<fmiReal> twice = once;
    facts.equation(twice);
    facts.outputsFollowFromKnowns =
        std::memcmp(once.data(), twice.data(), once.size() * sizeof(fmiReal)) == 0;
    if (model.partialDerivative != nullptr) {
        facts.partial = [&model](const std::vector<fmiReal>& r, fmiValueReference unknown,
                                 fmiValueReference known) {
            fmiReal derivative = 0.0;
            model.partialDerivative(r.data(), unknown, known, &derivative);
            return derivative;
        };
    }
    return facts;
}

}  // namespace

const std::vector<ModelFacts>& allModelFacts() {
    static const std::vector<ModelFacts> facts = [] {
        std::vector<ModelFacts> all;
        for (std::size_t i = 0; i < registeredModelCount(); ++i) {
            all.push_back(factsFrom(registeredModel(i)));
        }
        return all;
    }();
    return facts;
}

std::vector<fmiReal> ModelFacts::freshValues() const {
    std::vector<fmiReal> values;
    for (const auto& start : startValues) {
        values.push_back(start.value_or(0.0));
    }
    return values;
}

fmiReal ModelFacts::substep(fmiReal stepSize) const {
    return multipliesSubstep ? stepSize * 0.1 : stepSize / 10.0;
}

const ModelFacts* findModelFacts(const std::string& identifier) {
    for (const auto& facts : allModelFacts()) {
        if (facts.identifier == identifier) {
            return &facts;
        }
    }
    return nullptr;
}
