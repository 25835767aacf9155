// One anti-roll bar: two opposite forces proportional to the difference of
// the displacements of its two ends.
#include "DemonstrationInputs.h"
#include "ModelDefinition.h"

namespace {

enum VariableIndex : ValueReference {
    kRate = 0,
    kFirstEndDisplacement = 1,
    kSecondEndDisplacement = 2,
    kFirstForce = 3,
    kSecondForce = 4,
};

constexpr ValueReferenceSet kForceOperands =
    referenceSet({kRate, kFirstEndDisplacement, kSecondEndDisplacement});

constexpr RealVariable kVariables[] = {
    {"rate", "Bar rate: force per unit of displacement difference", Causality::Parameter, "N/m",
     true, 15000.0},
    {"displacement1", "Displacement of the first end", Causality::Input, "m", false, 0.0},
    {"displacement2", "Displacement of the second end", Causality::Input, "m", false, 0.0},
    {"force1", "First force: rate times (displacement2 - displacement1)", Causality::Output, "N",
     false, 0.0, kForceOperands},
    {"force2", "Second force: the first force negated", Causality::Output, "N", false, 0.0,
     kForceOperands},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

void updateForces(Real* r) {
    const Real force = (r[kSecondEndDisplacement] - r[kFirstEndDisplacement]) * r[kRate];
    r[kFirstForce] = force;
    r[kSecondForce] = negated(force);
}

// The exact partial derivatives of the forces: the first force is linear in
// each known when the other two are held, the second is its negation.
void derivativeOfForces(const Real* r, ValueReference unknown, ValueReference known,
                        Real* derivative) {
    Real firstForceDerivative = 0.0;
    if (known == kRate) {
        firstForceDerivative = r[kSecondEndDisplacement] - r[kFirstEndDisplacement];
    } else if (known == kFirstEndDisplacement) {
        firstForceDerivative = negated(r[kRate]);
    } else if (known == kSecondEndDisplacement) {
        firstForceDerivative = r[kRate];
    }
    *derivative = unknown == kFirstForce ? firstForceDerivative : negated(firstForceDerivative);
}

// The body rolls one way and back the other: the bar's ends move in opposite
// directions by up to 50 mm.
void rollManoeuvre(Real time, Real* inputs) {
    const Real travel = 0.05 * demonstration::roll(time, 0.5, 2.0);
    inputs[0] = travel;
    inputs[1] = 0.0 - travel;
}

[[maybe_unused]] constexpr Demonstration kDemonstration{"roll manoeuvre", rollManoeuvre, 0,
                                                        nullptr};

}  // namespace

extern const ModelDefinition modelDefinition{
    "Halvorn",
    "{df6d0958-156a-469d-81e9-7eeddeec2de4}",
    "AntiRollBar",
    "One anti-roll bar: two opposite forces proportional to the difference of the displacements of "
    "its two ends",
    kRealCount,
    0,
    0,
    0,
    0,
    kVariables,
    SubstepRule::DivideByTen,
    FloatingPointMode::Inherited,
    updateOnly<updateForces>,
    quietSubsteps<updateForces>,
    derivativeOfForces,
    MODEL_DEMONSTRATION(kDemonstration),
};
