// FMI 2.0: forces at the start time and after every step whatever its time,
// tunable parameters and varying steps, refused steps, the master's
// floating-point environment, and the forces of the 1.0 references.
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "Fmi2SlaveTest.h"

namespace {

class Fmi2Stepping : public Fmi2SlaveTest {};

// MXCSR without its six status flags.
unsigned mxcsrControl() {
    return _mm_getcsr() & ~0x3Fu;
}

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
    const fmi2Real infinity = INFINITY;
    const std::pair<fmi2Real, fmi2Real> steps[] = {{0.0, 0.0},      {0.0, -0.0},     {0.0, -0.1},
                                                   {0.0, NAN},      {0.0, infinity}, {NAN, 0.1},
                                                   {-infinity, 0.1}};
    for (const auto& [point, size] : steps) {
        const fmi2Component c = stepComplete();
        clearLogs();
        EXPECT_EQ(fmi2().doStep(c, point, size, fmi2True), fmi2Error);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].status, fmiError);
        EXPECT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2True), fmi2Error);
        fmi2().freeInstance(c);
    }
}

// The library leaves the master's MXCSR as it finds it, at load and in
// every call, while a model validated under flush-to-zero computes under it
// in whatever thread the master calls from.
TEST_F(Fmi2Stepping, TheMastersFloatingPointEnvironmentIsTheMasters) {
    EXPECT_EQ(testContext().mxcsrAfterLoad, testContext().mxcsrBeforeLoad);
    const unsigned saved = _mm_getcsr();
    constexpr unsigned kRoundTowardZero = 0x6000;
    _mm_setcsr((saved & ~kFlushToZeroBits) | kRoundTowardZero);
    const unsigned master = mxcsrControl();
    std::vector<fmi2Real> knowns = randomKnowns(3);
    // Beyond a limit by a subnormal amount at a subnormal rate for the
    // travel stop; a subnormal difference for the bars.
    knowns.assign(knowns.size(), 0x1p-1060);
    const fmi2Component c = stepComplete(knowns);
    EXPECT_EQ(mxcsrControl(), master);
    ASSERT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2True), fmi2OK);
    EXPECT_EQ(mxcsrControl(), master);
    std::vector<fmi2Real> fromOtherThread;
    std::thread([&]() {
        _mm_setcsr(_mm_getcsr() & ~kFlushToZeroBits);
        EXPECT_EQ(fmi2().doStep(c, 0.1, 0.1, fmi2True), fmi2OK);
        fromOtherThread = values2(c);
        EXPECT_EQ(_mm_getcsr() & kFlushToZeroBits, 0U);
    }).join();
    _mm_setcsr(saved);
    EXPECT_TRUE(sameValues(withForces(knowns), values2(c)));
    EXPECT_TRUE(sameValues(withForces(knowns), fromOtherThread));
    fmi2().freeInstance(c);
}

// The 1.0 library's values after every step of the cross-platform scenario
// (tests/identity/) that the 1.0 library computes and the 2.0 library
// accepts: the parameters and inputs set, the step taken, every value read.
TEST_F(Fmi2Stepping, SameValuesAsTheFmi1ReferenceAfterEveryComputedStep) {
    std::ifstream reference(std::string(SLAVE_TEST_SOURCE_DIR) + "/identity/" + model().identifier +
                            ".txt");
    ASSERT_TRUE(reference);
    const std::uint32_t count = model().realCount();
    const fmi2Component c = stepComplete();
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
        const fmi2Real point = real();
        const fmi2Real size = real();
        std::vector<fmi2Real> given(count);
        for (auto& value : given) {
            value = real();
        }
        std::string bar;
        fields >> bar;
        std::vector<fmi2Real> expected(count);
        for (auto& value : expected) {
            value = real();
        }
        // The 1.0 library computes at the substeps after -1.0 of a step that
        // is not zero, both in the model's floating-point environment (where
        // a subnormal step can read as zero).
        const unsigned saved = _mm_getcsr();
        if (model().flushesToZero) {
            _mm_setcsr(saved | kFlushToZeroBits);
        }
        // Passed through after the switch, so the compiler cannot compute
        // with them before it.
        fmi2Real readPoint = point;
        fmi2Real readSize = size;
        __asm__ volatile("" : "+x"(readPoint), "+x"(readSize));
        fmi2Real time = readPoint;
        bool computed = false;
        const bool zeroStep = readSize == 0.0;
        const fmi2Real substep = model().substep(readSize);
        for (int n = 0; n < 10; ++n) {
            time += substep;
            computed = computed || time > -1.0;
        }
        bool notComputed = zeroStep || !computed;
        __asm__ volatile("" : "+r"(notComputed));
        _mm_setcsr(saved);
        const bool accepted = size > 0.0 && std::isfinite(size) && std::isfinite(point);
        if (notComputed || !accepted) {
            continue;
        }
        setKnowns(c, given);
        ASSERT_EQ(fmi2().doStep(c, point, size, fmi2True), fmi2OK) << "line " << lineNumber;
        EXPECT_TRUE(sameValues(expected, values2(c))) << "line " << lineNumber;
        ++compared;
    }
    EXPECT_GT(compared, 40);
    fmi2().freeInstance(c);
}
