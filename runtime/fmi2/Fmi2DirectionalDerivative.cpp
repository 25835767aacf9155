// Directional derivatives of the outputs with respect to parameters and
// inputs, from the model's exact partial derivatives at the current values.
#include "DirectionalDerivative.h"
#include "Fmi2Instance.h"
#include "MxcsrGuard.h"

namespace {

constexpr fmi2String kFunctionName = "fmi2GetDirectionalDerivative";

// Every value reference is checked before any result is written.
bool checkReferences(Fmi2Instance& instance, const fmi2ValueReference* vr, std::size_t count,
                     bool (*fits)(const ModelDefinition&, ValueReference), fmi2String role) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!fits(modelDefinition, vr[i])) {
            refuse(instance, "%s: Value reference %u is no %s.", kFunctionName, vr[i], role);
            return false;
        }
    }
    return true;
}

bool checkArrays(Fmi2Instance& instance, std::size_t count, const void* references,
                 fmi2String referencesName, const void* values, fmi2String valuesName) {
    return count == 0 || (checkNotNull(instance, kFunctionName, referencesName, references) &&
                          checkNotNull(instance, kFunctionName, valuesName, values));
}

}  // namespace

extern "C" {

SLAVE_API fmi2Status fmi2GetDirectionalDerivative(fmi2Component c,
                                                  const fmi2ValueReference vUnknown_ref[],
                                                  std::size_t nUnknown,
                                                  const fmi2ValueReference vKnown_ref[],
                                                  std::size_t nKnown, const fmi2Real dvKnown[],
                                                  fmi2Real dvUnknown[]) {
    Fmi2Instance* const instance = acceptCall(c, kFunctionName, kValuesReadable);
    if (instance == nullptr) {
        return fmi2Error;
    }
    logCall(*instance, "%s: nUnknown = %u, nKnown = %u", kFunctionName,
            static_cast<unsigned>(nUnknown), static_cast<unsigned>(nKnown));
    if (!checkArrays(*instance, nUnknown, vUnknown_ref, "vUnknown_ref[]", dvUnknown,
                     "dvUnknown[]") ||
        !checkArrays(*instance, nKnown, vKnown_ref, "vKnown_ref[]", dvKnown, "dvKnown[]") ||
        !checkReferences(*instance, vUnknown_ref, nUnknown, isDerivativeUnknown, "output") ||
        !checkReferences(*instance, vKnown_ref, nKnown, isDerivativeKnown, "parameter or input")) {
        return fmi2Error;
    }
    if (modelDefinition.partialDerivative == nullptr) {
        refuse(*instance, "%s: Model %s states no partial derivatives.", kFunctionName,
               modelDefinition.modelIdentifier);
        return fmi2Error;
    }
    const MxcsrGuard floatingPoint(instance->data.flushToZeroBits);
    for (std::size_t i = 0; i < nUnknown; ++i) {
        directionalDerivative(modelDefinition, instance->data.realValues, vUnknown_ref[i],
                              vKnown_ref, nKnown, dvKnown, &dvUnknown[i]);
    }
    return fmi2OK;
}

}  // extern "C"
