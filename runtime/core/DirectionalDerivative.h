// Directional derivatives of a model's outputs, from the partial derivatives
// that the model states, whatever FMI version asks for them.
#pragma once

#include <cstddef>

#include "ModelDefinition.h"

// An unknown is an output; a known is a parameter or an input.
inline bool isDerivativeUnknown(const ModelDefinition& model, ValueReference vr) {
    return vr < model.realCount && model.realVariables[vr].causality == Causality::Output;
}

inline bool isDerivativeKnown(const ModelDefinition& model, ValueReference vr) {
    return vr < model.realCount && model.realVariables[vr].causality != Causality::Output;
}

// Writes the derivative of output `unknown` along the seed over the knowns:
// the products of each partial derivative with its seed, summed in the order
// of the knowns, starting from the first product (+0.0 for no knowns). The
// value references must have been checked with the two tests above.
inline void directionalDerivative(const ModelDefinition& model, const Real* realValues,
                                  ValueReference unknown, const ValueReference* knowns,
                                  std::size_t knownCount, const Real* seed, Real* result) {
    Real sum = 0.0;
    for (std::size_t j = 0; j < knownCount; ++j) {
        Real partial = 0.0;
        model.partialDerivative(realValues, unknown, knowns[j], &partial);
        const Real term = product(partial, seed[j]);
        sum = j == 0 ? term : sum + term;
    }
    *result = sum;
}
