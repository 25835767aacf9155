// FMI 3.0: forces at the end of initialization and after every step whatever
// its time, the results of a step, refused steps, the master's floating-point
// environment, and the forces of the 1.0 references.
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "Fmi3SlaveTest.h"

namespace {

class Fmi3Stepping : public Fmi3SlaveTest {};

// MXCSR without its six status flags.
unsigned mxcsrControl() {
    return _mm_getcsr() & ~0x3Fu;
}

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
        const fmi3Float64 step = steps[n % 6];
        fmi3Float64 reached = 0.0;
        ASSERT_EQ(doStep(instance, time, step, &reached), fmi3OK);
        EXPECT_TRUE(sameValues(withForces(knowns), values3(instance)))
            << "step " << n << " at " << time;
        EXPECT_TRUE(sameBits(stepEnd(time, step), reached));
        time = reached;
    }
    EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3Stepping, StepsWithoutAFinitePositiveSizeOrFiniteTimeAreRefused) {
    const fmi3Float64 infinity = INFINITY;
    const std::pair<fmi3Float64, fmi3Float64> steps[] = {
        {0.0, 0.0},      {0.0, -0.0}, {0.0, -0.1},     {0.0, NAN},
        {0.0, infinity}, {NAN, 0.1},  {-infinity, 0.1}};
    for (const auto& [point, size] : steps) {
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

// The library leaves the master's MXCSR as it finds it, at load and in
// every call, while a model validated under flush-to-zero computes under it
// in whatever thread the master calls from.
TEST_F(Fmi3Stepping, TheMastersFloatingPointEnvironmentIsTheMasters) {
    EXPECT_EQ(testContext().mxcsrAfterLoad, testContext().mxcsrBeforeLoad);
    const unsigned saved = _mm_getcsr();
    constexpr unsigned kRoundTowardZero = 0x6000;
    _mm_setcsr((saved & ~kFlushToZeroBits) | kRoundTowardZero);
    const unsigned master = mxcsrControl();
    std::vector<fmi3Float64> knowns = randomKnowns(3);
    // Beyond a limit by a subnormal amount at a subnormal rate for the
    // travel stop; a subnormal difference for the bars.
    knowns.assign(knowns.size(), 0x1p-1060);
    const fmi3Instance instance = stepMode(knowns);
    EXPECT_EQ(mxcsrControl(), master);
    ASSERT_EQ(doStep(instance, 0.0, 0.1), fmi3OK);
    EXPECT_EQ(mxcsrControl(), master);
    std::vector<fmi3Float64> derivative(1);
    const fmi3ValueReference output = model().firstOutput;
    const fmi3ValueReference known = 0;
    const fmi3Float64 seed = 0x1p-1060;
    EXPECT_EQ(fmi3().getDirectionalDerivative(instance, &output, 1, &known, 1, &seed, 1,
                                              derivative.data(), 1),
              fmi3OK);
    EXPECT_EQ(mxcsrControl(), master);
    std::vector<fmi3Float64> fromOtherThread;
    std::thread([&]() {
        _mm_setcsr(_mm_getcsr() & ~kFlushToZeroBits);
        EXPECT_EQ(doStep(instance, 0.1, 0.1), fmi3OK);
        fromOtherThread = values3(instance);
        EXPECT_EQ(_mm_getcsr() & kFlushToZeroBits, 0U);
    }).join();
    _mm_setcsr(saved);
    EXPECT_TRUE(sameValues(withForces(knowns), values3(instance)));
    EXPECT_TRUE(sameValues(withForces(knowns), fromOtherThread));
    fmi3().freeInstance(instance);
}

// The 1.0 library's values after every step of the cross-platform scenario
// (tests/identity/) that the 1.0 library computes and the 3.0 library
// accepts: the parameters and inputs set, the step taken, every value read.
// The 2.0 library is held to the same references, so the three agree.
TEST_F(Fmi3Stepping, SameValuesAsTheFmi1ReferenceAfterEveryComputedStep) {
    std::ifstream reference(std::string(SLAVE_TEST_SOURCE_DIR) + "/identity/" + model().identifier +
                            ".txt");
    ASSERT_TRUE(reference);
    const std::uint32_t count = model().realCount();
    const fmi3Instance instance = stepMode();
    std::string line;
    int compared = 0;
    int lineNumber = 0;
    while (std::getline(reference, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        const auto real = [&]() {
            std::string hex;
            fields >> hex;
            return hex == "nan" ? NAN : fromBits(std::stoull(hex, nullptr, 16));
        };
        const fmi3Float64 point = real();
        const fmi3Float64 size = real();
        std::vector<fmi3Float64> given(count);
        for (auto& value : given) {
            value = real();
        }
        std::string bar;
        fields >> bar;
        std::vector<fmi3Float64> expected(count);
        for (auto& value : expected) {
            value = real();
        }
        // The 1.0 library computes at the substeps after -1.0, in the
        // model's floating-point environment; a step that ends after -1.0
        // computes at its last substep at least. A step size that reads as
        // zero there is a zero step, which the 1.0 library ends at once.
        const bool computed = lastSubstepTime(point, size) > -1.0 && !readsAsZero(size);
        const bool accepted = size > 0.0 && std::isfinite(size) && std::isfinite(point);
        if (!computed || !accepted) {
            continue;
        }
        setKnowns(instance, given);
        ASSERT_EQ(doStep(instance, point, size), fmi3OK) << "line " << lineNumber;
        EXPECT_TRUE(sameValues(expected, values3(instance))) << "line " << lineNumber;
        ++compared;
    }
    EXPECT_GT(compared, 40);
    fmi3().freeInstance(instance);
}
