#include "Floor.h"

#include "ModelRegistry.h"

namespace bench {

namespace {

// The values the timed loops give the inputs, in turn: far from subnormal,
// and beyond the limits of a travel stop's usual free band, so that a model
// with branches takes one that computes.
constexpr fmiReal kInputValues[] = {0.1, 0.03, -0.02, 0.015};

// The parameters at their start values, the inputs at kInputValues.
Model modelFrom(const ModelDefinition& definition) {
    Model model;
    model.definition = &definition;
    model.identifier = definition.modelIdentifier;
    model.guid = definition.modelGuid;
    model.realCount = definition.realCount;
    model.flushesToZero = definition.floatingPoint == FloatingPointMode::FlushToZero;
    model.firstOutput = definition.realCount;
    std::size_t inputs = 0;
    for (std::uint32_t vr = 0; vr < definition.realCount; ++vr) {
        const RealVariable& variable = definition.realVariables[vr];
        if (variable.causality == Causality::Output) {
            model.firstOutput = std::min(model.firstOutput, vr);
            continue;
        }
        model.operands.push_back(vr);
        if (variable.causality == Causality::Parameter) {
            model.operatingPoint.push_back(variable.startValue);
        } else {
            model.operatingPoint.push_back(kInputValues[inputs++ % std::size(kInputValues)]);
            model.hasInput = true;
            model.lastInput = vr;
        }
    }
    return model;
}

}  // namespace

const std::vector<Model>& models() {
    static const std::vector<Model> all = [] {
        std::vector<Model> list;
        for (std::size_t i = 0; i < registeredModelCount(); ++i) {
            list.push_back(modelFrom(registeredModel(i)));
        }
        return list;
    }();
    return all;
}

const Model* findModel(const std::string& identifier) {
    for (const Model& model : models()) {
        if (identifier == model.identifier) {
            return &model;
        }
    }
    return nullptr;
}

}  // namespace bench
