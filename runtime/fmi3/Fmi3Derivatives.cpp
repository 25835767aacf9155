// Directional and adjoint derivatives of the outputs with respect to
// parameters and inputs, from the model's exact partial derivatives at the
// current values, and the dependencies of the outputs as the model
// description's ModelStructure states them.
#include "DirectionalDerivative.h"
#include "Fmi3Instance.h"
#include "MxcsrGuard.h"

namespace {

using Fits = bool (*)(const ModelDefinition&, ValueReference);

// Every value reference is checked before any result is written.
bool checkReferences(Fmi3Instance& instance, fmi3String functionName, const fmi3ValueReference* vr,
                     std::size_t count, Fits fits, fmi3String role) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!fits(modelDefinition, vr[i])) {
            refuse(instance, "%s: Value reference %u is no %s.", functionName, vr[i], role);
            return false;
        }
    }
    return true;
}

bool checkArray(Fmi3Instance& instance, fmi3String functionName, std::size_t count,
                const void* array, fmi3String arrayName) {
    return count == 0 || checkNotNull(instance, functionName, arrayName, array);
}

bool checkCount(Fmi3Instance& instance, fmi3String functionName, fmi3String countName,
                std::size_t count, fmi3String referencesName, std::size_t references) {
    if (count == references) {
        return true;
    }
    refuse(instance, "%s: %s = %zu, but the %zu %s name %zu scalar variables.", functionName,
           countName, count, references, referencesName, references);
    return false;
}

// The arguments both derivative functions take: unknowns and knowns, one
// seed value per seeded scalar and one sensitivity per resulting scalar.
struct DerivativeRequest {
    const fmi3ValueReference* unknowns;
    std::size_t nUnknowns;
    const fmi3ValueReference* knowns;
    std::size_t nKnowns;
    const fmi3Float64* seed;
    std::size_t nSeed;
    fmi3Float64* sensitivity;
    std::size_t nSensitivity;
};

// The opening both derivative functions share; `seededByKnowns` tells the
// directional derivative (seed over the knowns) from the adjoint one (seed
// over the unknowns). Null when the call must return fmi3Error.
Fmi3Instance* acceptDerivative(fmi3Instance instance, fmi3String functionName,
                               const DerivativeRequest& request, bool seededByKnowns) {
    Fmi3Instance* const own = acceptCall(instance, functionName, kValuesReadable);
    if (own == nullptr) {
        return nullptr;
    }
    logCall(*own, "%s: nUnknowns = %zu, nKnowns = %zu", functionName, request.nUnknowns,
            request.nKnowns);
    const std::size_t seeded = seededByKnowns ? request.nKnowns : request.nUnknowns;
    const std::size_t resulting = seededByKnowns ? request.nUnknowns : request.nKnowns;
    const char* const seededName = seededByKnowns ? "knowns" : "unknowns";
    const char* const resultingName = seededByKnowns ? "unknowns" : "knowns";
    const bool accepted =
        checkCount(*own, functionName, "nSeed", request.nSeed, seededName, seeded) &&
        checkCount(*own, functionName, "nSensitivity", request.nSensitivity, resultingName,
                   resulting) &&
        checkArray(*own, functionName, request.nUnknowns, request.unknowns, "unknowns[]") &&
        checkArray(*own, functionName, request.nKnowns, request.knowns, "knowns[]") &&
        checkArray(*own, functionName, request.nSeed, request.seed, "seed[]") &&
        checkArray(*own, functionName, request.nSensitivity, request.sensitivity,
                   "sensitivity[]") &&
        checkReferences(*own, functionName, request.unknowns, request.nUnknowns,
                        isDerivativeUnknown, "output") &&
        checkReferences(*own, functionName, request.knowns, request.nKnowns, isDerivativeKnown,
                        "parameter or input");
    if (!accepted) {
        return nullptr;
    }
    if (modelDefinition.partialDerivative == nullptr) {
        refuse(*own, "%s: Model %s states no partial derivatives.", functionName,
               modelDefinition.modelIdentifier);
        return nullptr;
    }
    return own;
}

// Writes the derivative along the seed over the unknowns with respect to
// `known`: the products of each partial derivative with its seed, summed in
// the order of the unknowns, starting from the first product (+0.0 for no
// unknowns), as the directional derivative sums over the knowns.
void adjointDerivative(const Real* realValues, const DerivativeRequest& request,
                       ValueReference known, Real* result) {
    Real sum = 0.0;
    for (std::size_t i = 0; i < request.nUnknowns; ++i) {
        Real partial = 0.0;
        modelDefinition.partialDerivative(realValues, request.unknowns[i], known, &partial);
        const Real term = product(partial, request.seed[i]);
        sum = i == 0 ? term : sum + term;
    }
    *result = sum;
}

// The knowns an output depends on in the current state: in Instantiated and
// Initialization Mode those of its InitialUnknown (the parameters and inputs
// its equation reads), afterwards those of its Output (the inputs alone: a
// parameter changes only when the master sets it, never within a step).
ValueReferenceSet dependenciesOf(const Fmi3Instance& instance, ValueReference output) {
    const ValueReferenceSet all = modelDefinition.realVariables[output].dependsOn;
    if ((instance.state & (Instantiated | InitializationMode)) != 0) {
        return all;
    }
    ValueReferenceSet inputs = 0;
    for (ValueReference vr = 0; vr < modelDefinition.realCount; ++vr) {
        if (contains(all, vr) && modelDefinition.realVariables[vr].causality == Causality::Input) {
            inputs |= ValueReferenceSet{1} << vr;
        }
    }
    return inputs;
}

std::size_t countOf(ValueReferenceSet set) {
    std::size_t count = 0;
    for (; set != 0; set &= set - 1) {
        ++count;
    }
    return count;
}

// Only outputs have dependencies in the model structure.
Fmi3Instance* acceptDependent(fmi3Instance instance, fmi3String functionName,
                              fmi3ValueReference dependent) {
    Fmi3Instance* const own = acceptCall(instance, functionName, kLiveStates);
    if (own == nullptr) {
        return nullptr;
    }
    logCall(*own, "%s: dependent = %u", functionName, dependent);
    if (!isDerivativeUnknown(modelDefinition, dependent)) {
        if (dependent > modelDefinition.realCount) {
            refuseValueReference(*own, functionName, dependent);
        } else {
            refuse(*own,
                   "%s: Variable %u is no output; only outputs have dependencies in the model "
                   "structure.",
                   functionName, dependent);
        }
        return nullptr;
    }
    return own;
}

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3GetDirectionalDerivative(
    fmi3Instance instance, const fmi3ValueReference unknowns[], std::size_t nUnknowns,
    const fmi3ValueReference knowns[], std::size_t nKnowns, const fmi3Float64 seed[],
    std::size_t nSeed, fmi3Float64 sensitivity[], std::size_t nSensitivity) {
    const DerivativeRequest request{unknowns, nUnknowns, knowns,      nKnowns,
                                    seed,     nSeed,     sensitivity, nSensitivity};
    Fmi3Instance* const own =
        acceptDerivative(instance, "fmi3GetDirectionalDerivative", request, true);
    if (own == nullptr) {
        return fmi3Error;
    }
    const MxcsrGuard floatingPoint(own->data.flushToZeroBits);
    for (std::size_t i = 0; i < nUnknowns; ++i) {
        directionalDerivative(modelDefinition, own->data.realValues, unknowns[i], knowns, nKnowns,
                              seed, &sensitivity[i]);
    }
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3GetAdjointDerivative(
    fmi3Instance instance, const fmi3ValueReference unknowns[], std::size_t nUnknowns,
    const fmi3ValueReference knowns[], std::size_t nKnowns, const fmi3Float64 seed[],
    std::size_t nSeed, fmi3Float64 sensitivity[], std::size_t nSensitivity) {
    const DerivativeRequest request{unknowns, nUnknowns, knowns,      nKnowns,
                                    seed,     nSeed,     sensitivity, nSensitivity};
    Fmi3Instance* const own =
        acceptDerivative(instance, "fmi3GetAdjointDerivative", request, false);
    if (own == nullptr) {
        return fmi3Error;
    }
    const MxcsrGuard floatingPoint(own->data.flushToZeroBits);
    for (std::size_t j = 0; j < nKnowns; ++j) {
        adjointDerivative(own->data.realValues, request, knowns[j], &sensitivity[j]);
    }
    return fmi3OK;
}

SLAVE_API fmi3Status fmi3GetNumberOfVariableDependencies(fmi3Instance instance,
                                                         fmi3ValueReference valueReference,
                                                         std::size_t* nDependencies) {
    static constexpr fmi3String functionName = "fmi3GetNumberOfVariableDependencies";
    Fmi3Instance* const own = acceptDependent(instance, functionName, valueReference);
    if (own == nullptr || !checkNotNull(*own, functionName, "nDependencies", nDependencies)) {
        return fmi3Error;
    }
    *nDependencies = countOf(dependenciesOf(*own, valueReference));
    return fmi3OK;
}

// Every variable is a scalar: every element index is 0. The model states
// which knowns an output reads, not how, so every dependency is of the
// general kind, as in the model description.
SLAVE_API fmi3Status fmi3GetVariableDependencies(
    fmi3Instance instance, fmi3ValueReference dependent, std::size_t elementIndicesOfDependent[],
    fmi3ValueReference independents[], std::size_t elementIndicesOfIndependents[],
    fmi3DependencyKind dependencyKinds[], std::size_t nDependencies) {
    static constexpr fmi3String functionName = "fmi3GetVariableDependencies";
    Fmi3Instance* const own = acceptDependent(instance, functionName, dependent);
    if (own == nullptr) {
        return fmi3Error;
    }
    const ValueReferenceSet dependencies = dependenciesOf(*own, dependent);
    const std::size_t count = countOf(dependencies);
    if (nDependencies != count) {
        refuse(*own, "%s: nDependencies = %zu, but variable %u has %zu dependencies here.",
               functionName, nDependencies, dependent, count);
        return fmi3Error;
    }
    if (!checkArray(*own, functionName, count, elementIndicesOfDependent,
                    "elementIndicesOfDependent[]") ||
        !checkArray(*own, functionName, count, independents, "independents[]") ||
        !checkArray(*own, functionName, count, elementIndicesOfIndependents,
                    "elementIndicesOfIndependents[]") ||
        !checkArray(*own, functionName, count, dependencyKinds, "dependencyKinds[]")) {
        return fmi3Error;
    }
    std::size_t i = 0;
    for (ValueReference vr = 0; vr < modelDefinition.realCount; ++vr) {
        if (contains(dependencies, vr)) {
            elementIndicesOfDependent[i] = 0;
            independents[i] = vr;
            elementIndicesOfIndependents[i] = 0;
            dependencyKinds[i] = fmi3Dependent;
            ++i;
        }
    }
    return fmi3OK;
}

}  // extern "C"
