// The contract between the slave runtime and a model. Each deliverable is the
// runtime built together with exactly one model, and that model provides the
// one `modelDefinition` below; everything that differs between deliverables
// is data in it.
#pragma once

#include <cstdint>

#include "FmiTypes.h"
#include "SlaveInstance.h"
#include "SubstepLoop.h"

// How fmiDoStep splits a communication step into its ten substeps. The two
// rules differ in the last bit for some step sizes (1.6 / 10 is 0.16, while
// 1.6 * 0.1 is 0.16000000000000003), so a model keeps the one it was
// validated with.
enum class SubstepRule : std::uint8_t {
    DivideByTen,
    MultiplyByOneTenth,
};

enum class Causality : std::uint8_t {
    Parameter,
    Input,
    Output,
};

// One real variable; its value reference is its index in the model's table.
// The table is the one source of the start values and of what a model
// description tells a master about the variable.
struct RealVariable {
    fmiString name;
    fmiString description;
    Causality causality;
    bool hasStartValue;
    fmiReal startValue;
};

struct ModelDefinition {
    fmiString modelIdentifier;
    fmiString modelGuid;
    // What a model description tells a user about the model as a whole; the
    // runtime never reads these two.
    fmiString modelName;
    fmiString description;
    std::uint32_t realCount;
    std::uint32_t integerCount;
    std::uint32_t booleanCount;
    std::uint32_t stringCount;
    std::uint32_t auxFlagCount;
    const RealVariable* realVariables;  // realCount entries
    SubstepRule substepRule;
    // Writes the start values; called last in a successful instantiation and
    // by every reset.
    ModelHook applyStartValues;
    // Recomputes the outputs from parameters and inputs at a time event.
    ModelHook updateAtEvent;
    // For a model whose update touches nothing but the real values: the quiet
    // loop compiled with that update, quietSubsteps<update>, where
    // updateAtEvent applies the same update to the instance's real values.
    // Null for any other model: every step then runs the general loop.
    QuietSubsteps quietSubsteps;
};

extern const ModelDefinition modelDefinition;

// Writes the start value of every variable that has one, in table order, and
// leaves every other variable as it stands.
inline void writeStartValues(SlaveInstance& instance, const RealVariable* variables,
                             std::uint32_t count) {
    for (std::uint32_t vr = 0; vr < count; ++vr) {
        if (variables[vr].hasStartValue) {
            instance.realValues[vr] = variables[vr].startValue;
        }
    }
}

// Negation by flipping the sign bit, never 0 - x: -(+0.0) is -0.0 and a NaN
// keeps its payload.
[[gnu::always_inline]] inline fmiReal negated(fmiReal x) {
    return -x;
}
