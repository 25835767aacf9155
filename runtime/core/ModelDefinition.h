// The contract between the slave runtime and a model. Each library is the
// runtime of one FMI version built together with exactly one model, and that
// model provides the one `modelDefinition` below; everything that differs
// between models is data in it. Nothing here belongs to an FMI version: every
// version's front-end reads the same definition.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "ModelTypes.h"
#include "SubstepLoop.h"

// How a step is split into its ten substeps. The two rules differ in the
// last bit for some step sizes (1.6 / 10 is 0.16, while 1.6 * 0.1 is
// 0.16000000000000003), so a model keeps the one it was validated with.
enum class SubstepRule : std::uint8_t {
    DivideByTen,
    MultiplyByOneTenth,
};

// The floating-point environment a model's arithmetic was validated in.
// FlushToZero: subnormal results are flushed to zero, and subnormal operands
// read as zero where the processor supports that.
enum class FloatingPointMode : std::uint8_t {
    Inherited,
    FlushToZero,
};

enum class Causality : std::uint8_t {
    Parameter,
    Input,
    Output,
};

// A set of value references, one bit each: a model has at most 32 reals.
using ValueReferenceSet = std::uint32_t;

constexpr ValueReferenceSet referenceSet(std::initializer_list<ValueReference> references) {
    ValueReferenceSet set = 0;
    for (const ValueReference vr : references) {
        set |= ValueReferenceSet{1} << vr;
    }
    return set;
}

constexpr bool contains(ValueReferenceSet set, ValueReference vr) {
    return vr < 32 && ((set >> vr) & 1U) != 0;
}

// One real variable; its value reference is its index in the model's table.
// The table is the one source of the start values and of what a model
// description tells a master about the variable.
struct RealVariable {
    const char* name;
    const char* description;
    Causality causality;
    // The unit symbol as model descriptions write it ("m", "N", "N/m",
    // "N.s/m", "m/s"); empty for a number without a unit.
    const char* unit;
    bool hasStartValue;
    Real startValue;
    // For an output: the parameters and inputs its equation reads, which the
    // model's partial derivatives can be non-zero for.
    ValueReferenceSet dependsOn = 0;
};

// What a model's update at a time event asks of the runtime.
enum class UpdateOutcome : std::uint8_t {
    Continue,
    RequestTermination,
};

using EventUpdate = UpdateOutcome (*)(Real* realValues);

// Writes the partial derivative of output `unknown` with respect to the
// parameter or input `known`, at the real values given: exactly the
// derivative of the branch that the model's equations take there. Written
// through a pointer, not returned: on 32-bit x86 a double returned across a
// real call travels through the x87 unit, which these libraries never use.
using PartialDerivative = void (*)(const Real* realValues, ValueReference unknown,
                                   ValueReference known, Real* derivative);

// How the model is demonstrated: the inputs that the command-line master
// drives it with when given none, which the archives carry as a table for
// any master (documentation/demonstration.csv). Inputs are in the order of
// the variable table. Either a formula of time, sampled at every
// communication point of the default experiment, or a table of breakpoints
// between which a master interpolates linearly.
struct Demonstration {
    const char* title;  // what the inputs do, e.g. "roll manoeuvre"
    // Writes every input at a time; written through a pointer for the reason
    // given at PartialDerivative. Null for a table of breakpoints.
    void (*inputsAt)(Real time, Real* inputs);
    // breakpointCount rows, each a time and then every input's value.
    std::uint32_t breakpointCount;
    const Real* breakpoints;
};

// Only the build-time generator reads a demonstration: a slave library is
// built with a null one, so that nothing in it refers to the model's
// demonstration and an optimizing build (every preset's) leaves its code and
// data out. A model names its demonstration through this.
#ifdef SLAVE_DESCRIBE_MODEL
#define MODEL_DEMONSTRATION(demonstration) (&(demonstration))
#else
#define MODEL_DEMONSTRATION(demonstration) nullptr
#endif

struct ModelDefinition {
    const char* modelIdentifier;
    const char* modelGuid;
    // What a model description tells a user about the model as a whole; the
    // runtime never reads these two.
    const char* modelName;
    const char* description;
    std::uint32_t realCount;
    std::uint32_t integerCount;
    std::uint32_t booleanCount;
    std::uint32_t stringCount;
    std::uint32_t auxFlagCount;
    const RealVariable* realVariables;  // realCount entries
    SubstepRule substepRule;
    FloatingPointMode floatingPoint;
    // Recomputes the outputs from parameters and inputs at a time event.
    EventUpdate updateAtEvent;
    // For a model whose update touches nothing but the real values and never
    // asks for termination: the quiet loop compiled with that update,
    // quietSubsteps<update>. Null for any other model.
    QuietSubsteps quietSubsteps;
    // Null for a model that states no derivatives.
    PartialDerivative partialDerivative;
    // Null in the slave libraries (MODEL_DEMONSTRATION), and for a model
    // without one.
    const Demonstration* demonstration = nullptr;
};

extern const ModelDefinition modelDefinition;

// The update of a model that never asks for termination, as an EventUpdate.
template <RealValuesUpdate update>
UpdateOutcome updateOnly(Real* realValues) {
    update(realValues);
    return UpdateOutcome::Continue;
}

// Writes the start value of every variable that has one, in table order, and
// leaves every other variable as it stands.
inline void writeStartValues(Real* realValues, const ModelDefinition& model) {
    for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
        if (model.realVariables[vr].hasStartValue) {
            realValues[vr] = model.realVariables[vr].startValue;
        }
    }
}

// Always inlined: on 32-bit x86 a double returned across a real call travels
// through the x87 unit, which these libraries must never use.
[[gnu::always_inline]] inline Real substepSizeOf(const ModelDefinition& model,
                                                 Real communicationStepSize) {
    return model.substepRule == SubstepRule::MultiplyByOneTenth
               ? product(communicationStepSize, 0.1)
               : communicationStepSize / 10.0;
}

// Negation by flipping the sign bit, never 0 - x: -(+0.0) is -0.0 and a NaN
// keeps its payload.
[[gnu::always_inline]] inline Real negated(Real x) {
    return -x;
}
