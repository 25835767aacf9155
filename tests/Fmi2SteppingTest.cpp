// FMI 2.0: forces at the start time and after every step whatever its time,
// tunable parameters and varying steps, refused steps, the master's
// floating-point environment, and the forces of the 1.0 references; in
// Model Exchange, forces that follow the inputs at once, as a step computes
// them.
#include <functional>

#include "Fmi2SlaveTest.h"

namespace {

class Fmi2Stepping : public Fmi2SlaveTest {
  protected:
    // Sets the inputs alone (the variables before the outputs without a
    // start value), as continuous-time mode allows.
    void setInputs(fmi2Component c, const std::vector<fmi2Real>& values) {
        for (fmi2ValueReference vr = 0; vr < model().firstOutput; ++vr) {
            if (!model().startValues[vr].has_value()) {
                EXPECT_EQ(fmi2().setReal(c, &vr, 1, &values[vr]), fmi2OK);
            }
        }
    }
};

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
        const std::vector<fmi2Real> before = values2(c);
        const fmi2Real step = steps[n % 6];
        ASSERT_EQ(fmi2().doStep(c, time, step, fmi2True), fmi2OK);
        EXPECT_TRUE(sameValues(afterStep(before), values2(c))) << "step " << n << " at " << time;
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
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
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
    if (model().mayRequestTermination) {
        GTEST_SKIP() << "the cross-platform scenario drives no model that may ask to terminate";
    }
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

// Parameters change at events, inputs in continuous-time mode; every read
// gives the forces at the values as they stand, bit for bit those of a
// co-simulation step from the same values, subnormals flushed included.
TEST_F(Fmi2Stepping, ModelExchangeOutputsFollowTheValuesAtOnceAsAStepComputesThem) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    const fmi2Component me = inState2(ContinuousTimeMode, fmi2ModelExchange);
    const fmi2Component cs = stepComplete();
    for (unsigned n = 0; n < 30; ++n) {
        const fmi2Real time = 0.1 * n;
        std::vector<fmi2Real> knowns = randomKnowns(200 + n);
        ASSERT_EQ(fmi2().enterEventMode(me), fmi2OK);
        fmi2EventInfo info = {fmi2True, fmi2True, fmi2True, fmi2True, fmi2True, -1.0};
        ASSERT_EQ(fmi2().newDiscreteStates(me, &info), fmi2OK);
        EXPECT_EQ(info.newDiscreteStatesNeeded | info.terminateSimulation |
                      info.nominalsOfContinuousStatesChanged |
                      info.valuesOfContinuousStatesChanged | info.nextEventTimeDefined,
                  fmi2False);
        setKnowns(me, knowns);
        ASSERT_EQ(fmi2().enterContinuousTimeMode(me), fmi2OK);
        setKnowns(cs, knowns);
        ASSERT_EQ(fmi2().doStep(cs, time, 0.1, fmi2True), fmi2OK);
        EXPECT_TRUE(sameBits(values2(cs), values2(me))) << "event " << n;
        EXPECT_TRUE(sameValues(withForces(knowns), values2(me))) << "event " << n;

        const std::vector<fmi2Real> inputs = randomKnowns(300 + n);
        ASSERT_EQ(fmi2().setTime(me, time + 0.05), fmi2OK);
        setInputs(me, inputs);
        setInputs(cs, inputs);
        ASSERT_EQ(fmi2().doStep(cs, time + 0.1, 0.1, fmi2True), fmi2OK);
        EXPECT_TRUE(sameBits(values2(cs), values2(me))) << "inputs " << n;
        fmi2Boolean enterEventMode = fmi2True;
        fmi2Boolean terminateSimulation = fmi2True;
        ASSERT_EQ(
            fmi2().completedIntegratorStep(me, fmi2True, &enterEventMode, &terminateSimulation),
            fmi2OK);
        EXPECT_EQ(enterEventMode | terminateSimulation, fmi2False);
    }
    EXPECT_EQ(fmi2().terminate(me), fmi2OK);
    EXPECT_TRUE(sameBits(values2(cs), values2(me)));
    fmi2().freeInstance(me);
    fmi2().freeInstance(cs);
}

TEST_F(Fmi2Stepping, ModelExchangeKeepsTheMastersFloatingPointEnvironment) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    fmi2Component c = nullptr;
    std::vector<fmi2Real> given;
    fmi2Boolean flag = fmi2False;
    fmi2EventInfo info{};
    expectTheMastersFloatingPointEnvironmentKept(
        {[&](const std::vector<fmi2Real>& knowns) {
             given = knowns;
             c = inState2(ContinuousTimeMode, fmi2ModelExchange, knowns);
         },
         {[&]() { values2(c); }, [&]() { EXPECT_EQ(fmi2().setTime(c, 0.5), fmi2OK); },
          [&]() { EXPECT_EQ(fmi2().completedIntegratorStep(c, fmi2False, &flag, &flag), fmi2OK); },
          [&]() { EXPECT_EQ(fmi2().enterEventMode(c), fmi2OK); },
          [&]() { EXPECT_EQ(fmi2().newDiscreteStates(c, &info), fmi2OK); },
          [&]() { EXPECT_EQ(fmi2().enterContinuousTimeMode(c), fmi2OK); }},
         [&]() {
             // Written again, so that this thread's read computes them.
             setInputs(c, given);
             return values2(c);
         },
         [&]() { return values2(c); }});
    fmi2().freeInstance(c);
}
