// One anti-roll bar: two opposite forces proportional to the difference of
// the displacements of its two ends.
#include "ModelDefinition.h"

namespace {

enum ValueReference : fmiValueReference {
    kRate = 0,
    kFirstEndDisplacement = 1,
    kSecondEndDisplacement = 2,
    kFirstForce = 3,
    kSecondForce = 4,
};

constexpr RealVariable kVariables[] = {
    {"rate", "Bar rate: force per unit of displacement difference", Causality::Parameter, true,
     15000.0},
    {"displacement1", "Displacement of the first end", Causality::Input, false, 0.0},
    {"displacement2", "Displacement of the second end", Causality::Input, false, 0.0},
    {"force1", "First force: rate times (displacement2 - displacement1)", Causality::Output, false,
     0.0},
    {"force2", "Second force: the first force negated", Causality::Output, false, 0.0},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

void applyStartValues(SlaveInstance& instance) {
    writeStartValues(instance, kVariables, kRealCount);
}

void updateForces(fmiReal* r) {
    const fmiReal force = (r[kSecondEndDisplacement] - r[kFirstEndDisplacement]) * r[kRate];
    r[kFirstForce] = force;
    r[kSecondForce] = negated(force);
}

void updateAtEvent(SlaveInstance& instance) {
    updateForces(instance.realValues);
}

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
    applyStartValues,
    updateAtEvent,
    quietSubsteps<updateForces>,
};
