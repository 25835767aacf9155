// Two independent anti-roll bars in one slave; no variable of one bar enters
// the other's equations.
#include "DemonstrationInputs.h"
#include "ModelDefinition.h"

namespace {

enum VariableIndex : ValueReference {
    kFirstBarRate = 0,
    kSecondBarRate = 1,
    kFirstBarFirstEnd = 2,
    kFirstBarSecondEnd = 3,
    kSecondBarFirstEnd = 4,
    kSecondBarSecondEnd = 5,
    kFirstBarFirstForce = 6,
    kFirstBarSecondForce = 7,
    kSecondBarFirstForce = 8,
    kSecondBarSecondForce = 9,
};

constexpr ValueReferenceSet kFirstBarOperands =
    referenceSet({kFirstBarRate, kFirstBarFirstEnd, kFirstBarSecondEnd});
constexpr ValueReferenceSet kSecondBarOperands =
    referenceSet({kSecondBarRate, kSecondBarFirstEnd, kSecondBarSecondEnd});

constexpr RealVariable kVariables[] = {
    {"rate1", "Rate of the first bar", Causality::Parameter, "N/m", true, 15000.0},
    {"rate2", "Rate of the second bar", Causality::Parameter, "N/m", true, 15000.0},
    {"bar1_displacement1", "First bar: displacement of its first end", Causality::Input, "m", false,
     0.0},
    {"bar1_displacement2", "First bar: displacement of its second end", Causality::Input, "m",
     false, 0.0},
    {"bar2_displacement1", "Second bar: displacement of its first end", Causality::Input, "m",
     false, 0.0},
    {"bar2_displacement2", "Second bar: displacement of its second end", Causality::Input, "m",
     false, 0.0},
    {"bar1_force1", "First bar: rate1 times (bar1_displacement2 - bar1_displacement1)",
     Causality::Output, "N", false, 0.0, kFirstBarOperands},
    {"bar1_force2", "First bar: bar1_force1 negated", Causality::Output, "N", false, 0.0,
     kFirstBarOperands},
    {"bar2_force1", "Second bar: rate2 times (bar2_displacement2 - bar2_displacement1)",
     Causality::Output, "N", false, 0.0, kSecondBarOperands},
    {"bar2_force2", "Second bar: bar2_force1 negated", Causality::Output, "N", false, 0.0,
     kSecondBarOperands},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

void updateForces(Real* r) {
    // Every operand is read before any force is written.
    const Real firstRate = r[kFirstBarRate];
    const Real secondRate = r[kSecondBarRate];
    const Real firstBarFirstEnd = r[kFirstBarFirstEnd];
    const Real firstBarSecondEnd = r[kFirstBarSecondEnd];
    const Real secondBarFirstEnd = r[kSecondBarFirstEnd];
    const Real secondBarSecondEnd = r[kSecondBarSecondEnd];

    const Real firstForce = (firstBarSecondEnd - firstBarFirstEnd) * firstRate;
    const Real secondForce = (secondBarSecondEnd - secondBarFirstEnd) * secondRate;

    r[kFirstBarFirstForce] = firstForce;
    r[kFirstBarSecondForce] = negated(firstForce);
    r[kSecondBarFirstForce] = secondForce;
    r[kSecondBarSecondForce] = negated(secondForce);
}

// The exact partial derivatives of the forces: each bar's first force is
// linear in its own rate and end displacements and independent of the other
// bar; each second force is the negation of its first.
void derivativeOfForces(const Real* r, ValueReference unknown, ValueReference known,
                        Real* derivative) {
    const bool firstBar = unknown == kFirstBarFirstForce || unknown == kFirstBarSecondForce;
    const ValueReference rate = firstBar ? kFirstBarRate : kSecondBarRate;
    const ValueReference firstEnd = firstBar ? kFirstBarFirstEnd : kSecondBarFirstEnd;
    const ValueReference secondEnd = firstBar ? kFirstBarSecondEnd : kSecondBarSecondEnd;
    Real firstForceDerivative = 0.0;
    if (known == rate) {
        firstForceDerivative = r[secondEnd] - r[firstEnd];
    } else if (known == firstEnd) {
        firstForceDerivative = negated(r[rate]);
    } else if (known == secondEnd) {
        firstForceDerivative = r[rate];
    }
    const bool secondForce = unknown == kFirstBarSecondForce || unknown == kSecondBarSecondForce;
    *derivative = secondForce ? negated(firstForceDerivative) : firstForceDerivative;
}

// Front and rear bars in one roll manoeuvre; the rear axle follows the front
// one a tenth of a second later and rolls less.
void rollManoeuvre(Real time, Real* inputs) {
    const Real front = 0.05 * demonstration::roll(time, 0.5, 2.0);
    const Real rear = 0.04 * demonstration::roll(time, 0.6, 2.0);
    inputs[0] = front;
    inputs[1] = 0.0 - front;
    inputs[2] = rear;
    inputs[3] = 0.0 - rear;
}

[[maybe_unused]] constexpr Demonstration kDemonstration{"roll manoeuvre", rollManoeuvre, 0,
                                                        nullptr};

}  // namespace

extern const ModelDefinition modelDefinition{
    "Corvessa",
    "{1a52f68c-d976-4fba-9cb9-51e50b2bb078}",
    "DualAntiRollBar",
    "Two independent anti-roll bars, each with two opposite forces proportional to the difference "
    "of the displacements of its two ends",
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
