// The functions every FMI 3.0 binary exports that do not apply to an FMU
// without clocks, structural parameters or scheduled execution: each answers fmi3Error with the
// reason, which tells a master what the model description already says.
#include "Fmi3Instance.h"

namespace {

constexpr fmi3String kNoStructuralParameters =
    "This FMU has no structural parameters and no configuration mode.";
constexpr fmi3String kNoClocks = "This FMU has no clocks.";
constexpr fmi3String kNoScheduledExecution = "This FMU has no scheduled execution interface.";
constexpr fmi3String kNoDiscreteStateEvaluation =
    "This FMU has no clocks and does not evaluate discrete states "
    "(providesEvaluateDiscreteStates=\"false\").";

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3EvaluateDiscreteStates(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3EvaluateDiscreteStates", kNoDiscreteStateEvaluation);
}

SLAVE_API fmi3Status fmi3EnterConfigurationMode(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3EnterConfigurationMode", kNoStructuralParameters);
}

SLAVE_API fmi3Status fmi3ExitConfigurationMode(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3ExitConfigurationMode", kNoStructuralParameters);
}

SLAVE_API fmi3Status fmi3GetIntervalDecimal(fmi3Instance instance,
                                            const fmi3ValueReference /*valueReferences*/[],
                                            std::size_t /*nValueReferences*/,
                                            fmi3Float64 /*intervals*/[],
                                            fmi3IntervalQualifier /*qualifiers*/[]) {
    return refuseInapplicable(instance, "fmi3GetIntervalDecimal", kNoClocks);
}

SLAVE_API fmi3Status fmi3GetIntervalFraction(fmi3Instance instance,
                                             const fmi3ValueReference /*valueReferences*/[],
                                             std::size_t /*nValueReferences*/,
                                             fmi3UInt64 /*counters*/[],
                                             fmi3UInt64 /*resolutions*/[],
                                             fmi3IntervalQualifier /*qualifiers*/[]) {
    return refuseInapplicable(instance, "fmi3GetIntervalFraction", kNoClocks);
}

SLAVE_API fmi3Status fmi3GetShiftDecimal(fmi3Instance instance,
                                         const fmi3ValueReference /*valueReferences*/[],
                                         std::size_t /*nValueReferences*/,
                                         fmi3Float64 /*shifts*/[]) {
    return refuseInapplicable(instance, "fmi3GetShiftDecimal", kNoClocks);
}

SLAVE_API fmi3Status fmi3GetShiftFraction(fmi3Instance instance,
                                          const fmi3ValueReference /*valueReferences*/[],
                                          std::size_t /*nValueReferences*/,
                                          fmi3UInt64 /*counters*/[], fmi3UInt64 /*resolutions*/[]) {
    return refuseInapplicable(instance, "fmi3GetShiftFraction", kNoClocks);
}

SLAVE_API fmi3Status fmi3SetIntervalDecimal(fmi3Instance instance,
                                            const fmi3ValueReference /*valueReferences*/[],
                                            std::size_t /*nValueReferences*/,
                                            const fmi3Float64 /*intervals*/[]) {
    return refuseInapplicable(instance, "fmi3SetIntervalDecimal", kNoClocks);
}

SLAVE_API fmi3Status fmi3SetIntervalFraction(fmi3Instance instance,
                                             const fmi3ValueReference /*valueReferences*/[],
                                             std::size_t /*nValueReferences*/,
                                             const fmi3UInt64 /*counters*/[],
                                             const fmi3UInt64 /*resolutions*/[]) {
    return refuseInapplicable(instance, "fmi3SetIntervalFraction", kNoClocks);
}

SLAVE_API fmi3Status fmi3SetShiftDecimal(fmi3Instance instance,
                                         const fmi3ValueReference /*valueReferences*/[],
                                         std::size_t /*nValueReferences*/,
                                         const fmi3Float64 /*shifts*/[]) {
    return refuseInapplicable(instance, "fmi3SetShiftDecimal", kNoClocks);
}

SLAVE_API fmi3Status fmi3SetShiftFraction(fmi3Instance instance,
                                          const fmi3ValueReference /*valueReferences*/[],
                                          std::size_t /*nValueReferences*/,
                                          const fmi3UInt64 /*counters*/[],
                                          const fmi3UInt64 /*resolutions*/[]) {
    return refuseInapplicable(instance, "fmi3SetShiftFraction", kNoClocks);
}

SLAVE_API fmi3Status fmi3ActivateModelPartition(fmi3Instance instance,
                                                fmi3ValueReference /*clockReference*/,
                                                fmi3Float64 /*activationTime*/) {
    return refuseInapplicable(instance, "fmi3ActivateModelPartition", kNoScheduledExecution);
}

}  // extern "C"
