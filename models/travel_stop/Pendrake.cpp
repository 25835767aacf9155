// A travel stop on one displacement: no force inside the free band between
// the two limits (both included), a linear spring back toward the band
// beyond either limit.
#include "ModelDefinition.h"

namespace {

enum VariableIndex : ValueReference {
    kLowerLimit = 0,
    kLowerRate = 1,
    kUpperLimit = 2,
    kUpperRate = 3,
    kDisplacement = 4,
    kForce = 5,
};

constexpr RealVariable kVariables[] = {
    {"lower_limit", "Lower limit of the free band", Causality::Parameter, "m", true, -0.055},
    {"lower_rate", "Rate below the lower limit", Causality::Parameter, "N/m", true, 50000.0},
    {"upper_limit", "Upper limit of the free band", Causality::Parameter, "m", true, 0.09},
    {"upper_rate", "Rate above the upper limit", Causality::Parameter, "N/m", true, 50000.0},
    {"displacement", "Displacement", Causality::Input, "m", false, 0.0},
    {"force", "Force of the stop, toward the free band", Causality::Output, "N", false, 0.0,
     referenceSet({kLowerLimit, kLowerRate, kUpperLimit, kUpperRate, kDisplacement})},
};

constexpr auto kRealCount = static_cast<std::uint32_t>(sizeof kVariables / sizeof kVariables[0]);

// Both comparisons are strict and ordered: a displacement on a limit is inside
// the band, and a NaN on either side of a comparison makes it false, so a NaN
// displacement gives no force. The lower side is tested first, which settles
// inverted limits.
void updateForces(Real* r) {
    r[kForce] = +0.0;
    if (r[kDisplacement] < r[kLowerLimit]) {
        r[kForce] = product(r[kLowerLimit] - r[kDisplacement], r[kLowerRate]);
    } else if (r[kDisplacement] > r[kUpperLimit]) {
        r[kForce] = product(r[kUpperLimit] - r[kDisplacement], r[kUpperRate]);
    }
}

// The exact partial derivatives of the force in the branch that the equation
// takes at these values: those of the active spring beyond a limit, zero in
// the free band (its limits included) and for a NaN displacement.
void derivativeOfForce(const Real* r, ValueReference /*unknown*/, ValueReference known,
                       Real* derivative) {
    *derivative = 0.0;
    if (r[kDisplacement] < r[kLowerLimit]) {
        if (known == kLowerLimit) {
            *derivative = r[kLowerRate];
        } else if (known == kLowerRate) {
            *derivative = r[kLowerLimit] - r[kDisplacement];
        } else if (known == kDisplacement) {
            *derivative = negated(r[kLowerRate]);
        }
    } else if (r[kDisplacement] > r[kUpperLimit]) {
        if (known == kUpperLimit) {
            *derivative = r[kUpperRate];
        } else if (known == kUpperRate) {
            *derivative = r[kUpperLimit] - r[kDisplacement];
        } else if (known == kDisplacement) {
            *derivative = negated(r[kUpperRate]);
        }
    }
}

// Down through the lower limit to -100 mm, up through the upper limit to
// 150 mm, and back to rest: time and displacement at each breakpoint.
constexpr Real kSweepThroughBothLimits[] = {
    0.0, 0.0,   //
    1.0, -0.1,  //
    3.0, 0.15,  //
    4.0, 0.0,   //
};

[[maybe_unused]] constexpr Demonstration kDemonstration{"sweep through both limits", nullptr, 4,
                                                        kSweepThroughBothLimits};

}  // namespace

extern const ModelDefinition modelDefinition{
    "Pendrake",
    "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}",
    "TravelStop",
    "A travel stop: no force inside a free band between two limits, a linear spring force back "
    "toward the band beyond either limit",
    kRealCount,
    0,
    0,
    0,
    0,
    kVariables,
    SubstepRule::MultiplyByOneTenth,
    // Validated under flush-to-zero and denormals-are-zero.
    FloatingPointMode::FlushToZero,
    updateOnly<updateForces>,
    quietSubsteps<updateForces>,
    derivativeOfForce,
    MODEL_DEMONSTRATION(kDemonstration),
};
