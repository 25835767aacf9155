// FMI 3.0: forces at the end of initialization and after every step whatever
// its time, the results of a step, refused steps, the master's floating-point
// environment, the forces of the 1.0 references, and the forces Model
// Exchange reads at once.
#include "Fmi3SlaveTest.h"

namespace {

class Fmi3Stepping : public Fmi3SlaveTest {};

}  // namespace

TEST_F(Fmi3Stepping, ForcesAtTheStartTimeFromInitialization) {
    const std::vector<fmi3Float64> knowns = randomKnowns(2);
    const fmi3Instance instance = stepMode(knowns);
    EXPECT_TRUE(sameValues(withForces(knowns), values3(instance)));
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3Stepping, EveryStepComputesAndReportsTheFullStepAsLastSuccessfulTime) {
    const fmi3Instance instance = stepMode({}, -3.0);
    fmi3Float64 time = -3.0;
    const fmi3Float64 steps[] = {0.1, 0.25, 1e-3, 0.5, 2.0, 0.125};
    for (unsigned n = 0; n < 30; ++n) {
        const std::vector<fmi3Float64> knowns = randomKnowns(100 + n);
        setKnowns(instance, knowns);
        const std::vector<fmi3Float64> before = values3(instance);
        const fmi3Float64 step = steps[n % 6];
        fmi3Float64 reached = 0.0;
        ASSERT_EQ(doStep(instance, time, step, &reached), fmi3OK);
        EXPECT_TRUE(sameValues(afterStep(before), values3(instance)))
            << "step " << n << " at " << time;
        EXPECT_TRUE(sameBits(stepEnd(time, step), reached));
        time = reached;
    }
    EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3Stepping, StepsWithoutAFinitePositiveSizeOrFiniteTimeAreRefused) {
    for (const auto& [point, size] : refusedSteps()) {
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(doStep(instance, point, size), fmi3Error);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].status, fmiError);
        EXPECT_EQ(logs()[0].text.rfind("fmi3DoStep: A step needs a finite communication point", 0),
                  0U);
        EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3Error);
        fmi3().freeInstance(instance);
    }
}

// The directional derivative too leaves the master's MXCSR as it is.
TEST_F(Fmi3Stepping, TheMastersFloatingPointEnvironmentIsTheMasters) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    fmi3Instance instance = nullptr;
    const auto derivative = [&]() {
        const fmi3ValueReference output = model().firstOutput;
        const fmi3ValueReference known = 0;
        const fmi3Float64 seed = 0x1p-1060;
        fmi3Float64 result = 0.0;
        EXPECT_EQ(
            fmi3().getDirectionalDerivative(instance, &output, 1, &known, 1, &seed, 1, &result, 1),
            fmi3OK);
    };
    expectTheMastersFloatingPointEnvironmentKept(
        {[&](const std::vector<fmi3Float64>& knowns) { instance = stepMode(knowns); },
         {[&]() { EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3OK); }, derivative},
         [&]() {
             EXPECT_EQ(doStep(instance, 0.1, 0.1), fmi3OK);
             return values3(instance);
         },
         [&]() { return values3(instance); }});
    fmi3().freeInstance(instance);
}

// The 3.0 library computes as the 1.0 library does at every step of the
// scenario that both compute; the 2.0 library is held to the same
// references, so the three agree.
TEST_F(Fmi3Stepping, SameValuesAsTheFmi1ReferenceAfterEveryComputedStep) {
    if (model().mayRequestTermination) {
        GTEST_SKIP() << "the cross-platform scenario drives no model that may ask to terminate";
    }
    const std::vector<ReferenceStep> steps = computedReferenceSteps();
    EXPECT_GT(steps.size(), 40U);
    const fmi3Instance instance = stepMode();
    for (const ReferenceStep& step : steps) {
        setKnowns(instance, step.given);
        ASSERT_EQ(doStep(instance, step.point, step.size), fmi3OK) << "line " << step.line;
        EXPECT_TRUE(sameValues(step.expected, values3(instance))) << "line " << step.line;
    }
    fmi3().freeInstance(instance);
}

// Model Exchange reads the forces at the values just set, bit for bit those a
// step computes from the same values, each time any of them changed.
TEST_F(Fmi3Stepping, ModelExchangeOutputsFollowEveryChangeAsAStepComputesThem) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    const fmi3Instance stepping = stepMode();
    const fmi3Instance exchange = eventMode();
    for (unsigned n = 0; n < 30; ++n) {
        const std::vector<fmi3Float64> knowns = randomKnowns(400 + n);
        setKnowns(stepping, knowns);
        ASSERT_EQ(doStep(stepping, 0.1 * n, 0.1), fmi3OK);
        setKnowns(exchange, knowns);
        const std::vector<fmi3Float64> read = values3(exchange);
        EXPECT_TRUE(sameBits(values3(stepping), read)) << "draw " << n;
        EXPECT_TRUE(sameBits(read, values3(exchange)));
    }
    fmi3().freeInstance(stepping);
    fmi3().freeInstance(exchange);
}

// The travel stop's flush-to-zero inside the call, from whichever thread the
// read that computes comes, and the master's MXCSR handed back.
TEST_F(Fmi3Stepping, TheMastersFloatingPointEnvironmentInModelExchange) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    fmi3Instance instance = nullptr;
    std::vector<fmi3Float64> given;
    expectTheMastersFloatingPointEnvironmentKept({[&](const std::vector<fmi3Float64>& knowns) {
                                                      given = knowns;
                                                      instance = eventMode(knowns);
                                                  },
                                                  {[&]() { values3(instance); }},
                                                  [&]() {
                                                      setKnowns(instance, given);
                                                      return values3(instance);
                                                  },
                                                  [&]() { return values3(instance); }});
    fmi3().freeInstance(instance);
}
