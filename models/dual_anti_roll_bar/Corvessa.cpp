// Two independent anti-roll bars in one slave; no variable of one bar enters
// the other's equations.
#include "ModelDefinition.h"

namespace {

enum ValueReference : fmiValueReference {
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

constexpr RealVariable kVariables[] = {
    {"rate1", "Rate of the first bar", Causality::Parameter, true, 15000.0},
    {"rate2", "Rate of the second bar", Causality::Parameter, true, 15000.0},
    {"bar1_displacement1", "First bar: displacement of its first end", Causality::Input, false,
     0.0},
    {"bar1_displacement2", "First bar: displacement of its second end", Causality::Input, false,
     0.0},
    {"bar2_displacement1", "Second bar: displacement of its first end", Causality::Input, false,
     0.0},
    {"bar2_displacement2", "Second bar: displacement of its second end", Causality::Input, false,
     0.0},
    {"bar1_force1", "First bar: rate1 times (bar1_displacement2 - bar1_displacement1)",
     Causality::Output, false, 0.0},
    {"bar1_force2", "First bar: bar1_force1 negated", Causality::Output, false, 0.0},
    {"bar2_force1", "Second bar: rate2 times (bar2_displacement2 - bar2_displacement1)",
     Causality::Output, false, 0.0},
    {"bar2_force2", "Second bar: bar2_force1 negated", Causality::Output, false, 0.0},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

void applyStartValues(SlaveInstance& instance) {
    writeStartValues(instance, kVariables, kRealCount);
}

void updateForces(fmiReal* r) {
    // Every operand is read before any force is written.
    const fmiReal firstRate = r[kFirstBarRate];
    const fmiReal secondRate = r[kSecondBarRate];
    const fmiReal firstBarFirstEnd = r[kFirstBarFirstEnd];
    const fmiReal firstBarSecondEnd = r[kFirstBarSecondEnd];
    const fmiReal secondBarFirstEnd = r[kSecondBarFirstEnd];
    const fmiReal secondBarSecondEnd = r[kSecondBarSecondEnd];

    const fmiReal firstForce = (firstBarSecondEnd - firstBarFirstEnd) * firstRate;
    const fmiReal secondForce = (secondBarSecondEnd - secondBarFirstEnd) * secondRate;

    r[kFirstBarFirstForce] = firstForce;
    r[kFirstBarSecondForce] = negated(firstForce);
    r[kSecondBarFirstForce] = secondForce;
    r[kSecondBarSecondForce] = negated(secondForce);
}

void updateAtEvent(SlaveInstance& instance) {
    updateForces(instance.realValues);
}

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
    applyStartValues,
    updateAtEvent,
    quietSubsteps<updateForces>,
};
