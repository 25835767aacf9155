// The bilinear damper: its force law written again, example values bit for
// bit, so that a wrong model file is caught.
#include <limits>

#include "SlaveTest.h"

namespace {

constexpr fmiValueReference kBoundCoefficient = 0;
constexpr fmiValueReference kReboundCoefficient = 1;
constexpr fmiValueReference kVelocity = 2;
constexpr fmiValueReference kForce = 3;

constexpr fmiReal kInfinity = std::numeric_limits<fmiReal>::infinity();
constexpr fmiReal kNaN = std::numeric_limits<fmiReal>::quiet_NaN();

}  // namespace

using BilinearDamperModel = SlaveTest;

TEST_F(BilinearDamperModel, ForcesOfTheExamples) {
    struct Case {
        fmiReal bound;
        fmiReal rebound;
        fmiReal velocity;
        fmiReal force;
    };
    const std::vector<Case> cases = {
        // Bound takes the bound coefficient, rebound the rebound one; the
        // force opposes the velocity.
        {2500.0, 7500.0, 0.5, -1250.0},
        {2500.0, 7500.0, -0.5, 3750.0},
        {2500.0, 7500.0, 0.1, -250.0},
        {2500.0, 7500.0, -0.3, 2250.0},
        // The product is rounded once, then its sign flipped.
        {2500.0, 7500.0, 0.17, -425.00000000000006},
        // No velocity, of either sign, and a NaN velocity: no force, +0.
        {2500.0, 7500.0, 0.0, +0.0},
        {2500.0, 7500.0, -0.0, +0.0},
        {2500.0, 7500.0, kNaN, +0.0},
        {2500.0, 7500.0, kInfinity, -kInfinity},
        {2500.0, 7500.0, -kInfinity, kInfinity},
        {0.0, 7500.0, 0.5, -0.0},
        {kNaN, 7500.0, -0.5, 3750.0},
        {2500.0, 7500.0, 4.9406564584124654e-324, -1.235e-320},
    };
    const fmiComponent c = initialized();
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.velocity));
        setReal(c, kBoundCoefficient, test.bound);
        setReal(c, kReboundCoefficient, test.rebound);
        setReal(c, kVelocity, test.velocity);
        ASSERT_EQ(fmi().doStep(c, 0.0, 0.01, fmiTrue), fmiOK);
        EXPECT_TRUE(sameBits(test.force, realValues(c)[kForce]));
    }
    terminateAndFree(c);
}

TEST_F(BilinearDamperModel, GuidIsItsOwn) {
    EXPECT_EQ(model().guid, "{6bb6fd3d-c86f-4bff-aa4f-f0a47103905b}");
}
