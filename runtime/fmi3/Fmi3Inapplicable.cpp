// The functions every FMI 3.0 binary exports that do not apply to a
// co-simulation FMU without event mode, clocks, structural parameters or
// model exchange: each answers fmi3Error with the reason, which tells a
// master what the model description already says.
#include "Fmi3Instance.h"

namespace {

constexpr fmi3String kNoEventMode = "This FMU has no event mode (hasEventMode=\"false\").";
constexpr fmi3String kNoStructuralParameters =
    "This FMU has no structural parameters and no configuration mode.";
constexpr fmi3String kNoClocks = "This FMU has no clocks.";
constexpr fmi3String kNoModelExchange =
    "This FMU is a co-simulation FMU; it has no model exchange interface.";
constexpr fmi3String kNoScheduledExecution =
    "This FMU is a co-simulation FMU; it has no scheduled execution interface.";
constexpr fmi3String kNoDiscreteStateEvaluation =
    "This FMU has no clocks and does not evaluate discrete states "
    "(providesEvaluateDiscreteStates=\"false\").";

}  // namespace

extern "C" {

SLAVE_API fmi3Status fmi3EnterEventMode(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3EnterEventMode", kNoEventMode);
}

SLAVE_API fmi3Status fmi3EnterStepMode(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3EnterStepMode", kNoEventMode);
}

SLAVE_API fmi3Status fmi3UpdateDiscreteStates(fmi3Instance instance,
                                              fmi3Boolean* /*discreteStatesNeedUpdate*/,
                                              fmi3Boolean* /*terminateSimulation*/,
                                              fmi3Boolean* /*nominalsOfContinuousStatesChanged*/,
                                              fmi3Boolean* /*valuesOfContinuousStatesChanged*/,
                                              fmi3Boolean* /*nextEventTimeDefined*/,
                                              fmi3Float64* /*nextEventTime*/) {
    return refuseInapplicable(instance, "fmi3UpdateDiscreteStates", kNoEventMode);
}

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

SLAVE_API fmi3Status fmi3EnterContinuousTimeMode(fmi3Instance instance) {
    return refuseInapplicable(instance, "fmi3EnterContinuousTimeMode", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3CompletedIntegratorStep(fmi3Instance instance,
                                                 fmi3Boolean /*noSetFMUStatePriorToCurrentPoint*/,
                                                 fmi3Boolean* /*enterEventMode*/,
                                                 fmi3Boolean* /*terminateSimulation*/) {
    return refuseInapplicable(instance, "fmi3CompletedIntegratorStep", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3SetTime(fmi3Instance instance, fmi3Float64 /*time*/) {
    return refuseInapplicable(instance, "fmi3SetTime", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3SetContinuousStates(fmi3Instance instance,
                                             const fmi3Float64 /*continuousStates*/[],
                                             std::size_t /*nContinuousStates*/) {
    return refuseInapplicable(instance, "fmi3SetContinuousStates", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetContinuousStateDerivatives(fmi3Instance instance,
                                                       fmi3Float64 /*derivatives*/[],
                                                       std::size_t /*nContinuousStates*/) {
    return refuseInapplicable(instance, "fmi3GetContinuousStateDerivatives", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetEventIndicators(fmi3Instance instance,
                                            fmi3Float64 /*eventIndicators*/[],
                                            std::size_t /*nEventIndicators*/) {
    return refuseInapplicable(instance, "fmi3GetEventIndicators", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetContinuousStates(fmi3Instance instance,
                                             fmi3Float64 /*continuousStates*/[],
                                             std::size_t /*nContinuousStates*/) {
    return refuseInapplicable(instance, "fmi3GetContinuousStates", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetNominalsOfContinuousStates(fmi3Instance instance,
                                                       fmi3Float64 /*nominals*/[],
                                                       std::size_t /*nContinuousStates*/) {
    return refuseInapplicable(instance, "fmi3GetNominalsOfContinuousStates", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetNumberOfEventIndicators(fmi3Instance instance,
                                                    std::size_t* /*nEventIndicators*/) {
    return refuseInapplicable(instance, "fmi3GetNumberOfEventIndicators", kNoModelExchange);
}

SLAVE_API fmi3Status fmi3GetNumberOfContinuousStates(fmi3Instance instance,
                                                     std::size_t* /*nContinuousStates*/) {
    return refuseInapplicable(instance, "fmi3GetNumberOfContinuousStates", kNoModelExchange);
}

}  // extern "C"
