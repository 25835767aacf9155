// FMI 2.0: forces at the start time and after every step whatever its time,
// tunable parameters and varying steps, refused steps, the master's
// floating-point environment, and the forces of the 1.0 references.
#include "Fmi2SlaveTest.h"

namespace {

class Fmi2Stepping : public Fmi2SlaveTest {};

}  // namespace

TEST_F(Fmi2Stepping, ForcesAtTheStartTimeFromInitialization) {
    const std::vector<fmi2Real> knowns = randomKnowns(2);
    const fmi2Component c = stepComplete(knowns);
    EXPECT_TRUE(sameValues(withForces(knowns), values2(c)));
    fmi2().freeInstance(c);
}

TEST_F(Fmi2Stepping, EveryStepComputesWhateverItsTimeAndParametersAreTunable) {
    const fmi2Component c = instantiate2();
    ASSERT_EQ(fmi2().setupExperiment(c, fmi2True, 1e-6, -3.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi2().enterInitializationMode(c), fmi2OK);
    ASSERT_EQ(fmi2().exitInitializationMode(c), fmi2OK);
    fmi2Real time = -3.0;
    const fmi2Real steps[] = {0.1, 0.25, 1e-3, 0.5, 2.0, 0.125};
    for (unsigned n = 0; n < 30; ++n) {
        const std::vector<fmi2Real> knowns = randomKnowns(100 + n);
        setKnowns(c, knowns);
        const fmi2Real step = steps[n % 6];
        ASSERT_EQ(fmi2().doStep(c, time, step, fmi2True), fmi2OK);
        EXPECT_TRUE(sameValues(withForces(knowns), values2(c))) << "step " << n << " at " << time;
        fmi2Real reached = 0.0;
        EXPECT_EQ(fmi2().getRealStatus(c, fmi2LastSuccessfulTime, &reached), fmi2OK);
        EXPECT_TRUE(sameBits(time + step, reached));
        time = reached;
    }
    EXPECT_EQ(fmi2().terminate(c), fmi2OK);
    fmi2().freeInstance(c);
}

TEST_F(Fmi2Stepping, StepsWithoutAFinitePositiveSizeOrFiniteTimeAreRefused) {
    for (const auto& [point, size] : refusedSteps()) {
        const fmi2Component c = stepComplete();
        clearLogs();
        EXPECT_EQ(fmi2().doStep(c, point, size, fmi2True), fmi2Error);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].status, fmiError);
        EXPECT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2True), fmi2Error);
        fmi2().freeInstance(c);
    }
}

TEST_F(Fmi2Stepping, TheMastersFloatingPointEnvironmentIsTheMasters) {
    fmi2Component c = nullptr;
    expectTheMastersFloatingPointEnvironmentKept(
        {[&](const std::vector<fmi2Real>& knowns) { c = stepComplete(knowns); },
         {[&]() { EXPECT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2True), fmi2OK); }},
         [&]() {
             EXPECT_EQ(fmi2().doStep(c, 0.1, 0.1, fmi2True), fmi2OK);
             return values2(c);
         },
         [&]() { return values2(c); }});
    fmi2().freeInstance(c);
}

// The 2.0 library computes as the 1.0 library does at every step of the
// scenario that both compute.
TEST_F(Fmi2Stepping, SameValuesAsTheFmi1ReferenceAfterEveryComputedStep) {
    const std::vector<ReferenceStep> steps = computedReferenceSteps();
    EXPECT_GT(steps.size(), 40U);
    const fmi2Component c = stepComplete();
    for (const ReferenceStep& step : steps) {
        setKnowns(c, step.given);
        ASSERT_EQ(fmi2().doStep(c, step.point, step.size, fmi2True), fmi2OK)
            << "line " << step.line;
        EXPECT_TRUE(sameValues(step.expected, values2(c))) << "line " << step.line;
    }
    fmi2().freeInstance(c);
}
