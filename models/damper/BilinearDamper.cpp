// A bilinear damper: a force against the velocity, with one coefficient in
// bound (compression, velocity positive) and another, usually larger, in
// rebound.
#include "DemonstrationInputs.h"
#include "ModelDefinition.h"

namespace {

enum VariableIndex : ValueReference {
    kBoundCoefficient = 0,
    kReboundCoefficient = 1,
    kVelocity = 2,
    kForce = 3,
};

constexpr RealVariable kVariables[] = {
    {"bound_coefficient", "Damping coefficient in bound (velocity positive)", Causality::Parameter,
     "N.s/m", true, 2500.0},
    {"rebound_coefficient", "Damping coefficient in rebound (velocity negative)",
     Causality::Parameter, "N.s/m", true, 7500.0},
    {"velocity", "Velocity of the damper, positive in compression", Causality::Input, "m/s", false,
     0.0},
    {"force", "Damping force, against the velocity", Causality::Output, "N", false, 0.0,
     referenceSet({kBoundCoefficient, kReboundCoefficient, kVelocity})},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

// The comparisons are strict and ordered, as the travel stop's: a velocity of
// zero, of either sign, or a NaN velocity gives no force.
void updateForce(Real* r) {
    r[kForce] = +0.0;
    if (r[kVelocity] > 0.0) {
        r[kForce] = negated(r[kBoundCoefficient] * r[kVelocity]);
    } else if (r[kVelocity] < 0.0) {
        r[kForce] = negated(r[kReboundCoefficient] * r[kVelocity]);
    }
}

// The exact partial derivatives of the branch the force takes: none where
// the velocity gives no force.
void derivativeOfForce(const Real* r, ValueReference, ValueReference known, Real* derivative) {
    const bool bound = r[kVelocity] > 0.0;
    const bool rebound = r[kVelocity] < 0.0;
    const ValueReference coefficient = bound ? kBoundCoefficient : kReboundCoefficient;
    Real partial = 0.0;
    if ((bound || rebound) && known == coefficient) {
        partial = negated(r[kVelocity]);
    } else if ((bound || rebound) && known == kVelocity) {
        partial = negated(r[coefficient]);
    }
    *derivative = partial;
}

// Two periods of a velocity sine, 0.5 m/s at 1 Hz, from 0.5 s to 2.5 s:
// bound and rebound in turn.
void velocitySine(Real time, Real* inputs) {
    inputs[0] = 0.5 * (demonstration::roll(time, 0.5, 1.0) + demonstration::roll(time, 1.5, 1.0));
}

[[maybe_unused]] constexpr Demonstration kDemonstration{"velocity sine", velocitySine, 0, nullptr};

}  // namespace

extern const ModelDefinition modelDefinition{
    "BilinearDamper",
    "{6bb6fd3d-c86f-4bff-aa4f-f0a47103905b}",
    "BilinearDamper",
    "A damper whose force opposes the velocity, with one coefficient in bound and another in "
    "rebound",
    kRealCount,
    0,
    0,
    0,
    0,
    kVariables,
    SubstepRule::DivideByTen,
    FloatingPointMode::Inherited,
    updateOnly<updateForce>,
    quietSubsteps<updateForce>,
    derivativeOfForce,
    MODEL_DEMONSTRATION(kDemonstration),
};
