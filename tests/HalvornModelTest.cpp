// The anti-roll bar: its example values bit for bit, and a whole
// co-simulation driven through the loaded library.
#include <cmath>
#include <limits>

#include "SlaveTest.h"

namespace {

constexpr fmiValueReference kRate = 0;
constexpr fmiValueReference kFirstEnd = 1;
constexpr fmiValueReference kSecondEnd = 2;
constexpr fmiValueReference kFirstForce = 3;
constexpr fmiValueReference kSecondForce = 4;

constexpr fmiReal kInfinity = std::numeric_limits<fmiReal>::infinity();
constexpr fmiReal kNaN = std::numeric_limits<fmiReal>::quiet_NaN();

}  // namespace

using HalvornModel = SlaveTest;

TEST_F(HalvornModel, ForcesOfTheExamples) {
    struct Case {
        fmiReal rate;
        fmiReal firstEnd;
        fmiReal secondEnd;
        fmiReal firstForce;
        fmiReal secondForce;
    };
    const std::vector<Case> cases = {
        {15000.0, 0.25, 0.5, 3750.0, -3750.0},
        {15000.0, 0.5, 0.25, -3750.0, 3750.0},
        // The difference is rounded before it is multiplied.
        {15000.0, 0.01, 0.03, 299.99999999999994, -299.99999999999994},
        {15000.0, 0.125, 0.125, +0.0, -0.0},
        {15000.0, kNaN, 0.5, kNaN, -kNaN},
        {15000.0, 0.5, kNaN, kNaN, -kNaN},
        {kNaN, 0.25, 0.5, kNaN, -kNaN},
        {15000.0, 0.0, kInfinity, kInfinity, -kInfinity},
        {15000.0, kInfinity, kInfinity, -(kInfinity - kInfinity), kInfinity - kInfinity},
        {kInfinity, 0.5, 0.5, -(0.0 * kInfinity), 0.0 * kInfinity},
        {20000.0, -0.1, 0.05, 3000.0000000000005, -3000.0000000000005},
    };
    const fmiComponent c = initialized();
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.firstEnd) + " " + std::to_string(test.secondEnd));
        setReal(c, kRate, test.rate);
        setReal(c, kFirstEnd, test.firstEnd);
        setReal(c, kSecondEnd, test.secondEnd);
        ASSERT_EQ(fmi().doStep(c, 0.0, 0.01, fmiTrue), fmiOK);
        const auto values = realValues(c);
        if (std::isnan(test.firstForce)) {
            EXPECT_TRUE(std::isnan(values[kFirstForce]) && std::isnan(values[kSecondForce]));
            // The second force is the first with its sign bit flipped.
            EXPECT_EQ(bitsOf(values[kFirstForce]) ^ bitsOf(values[kSecondForce]),
                      0x8000000000000000U);
        } else {
            EXPECT_TRUE(sameBits(test.firstForce, values[kFirstForce]));
            EXPECT_TRUE(sameBits(test.secondForce, values[kSecondForce]));
        }
    }
    terminateAndFree(c);
}

TEST_F(HalvornModel, OutputsChangeOnlyAtTimeEvents) {
    const fmiComponent c = instantiate();
    EXPECT_TRUE(sameBits({15000.0, 0.0, 0.0, 0.0, 0.0}, realValues(c)));
    setReal(c, kFirstEnd, 0.25);
    setReal(c, kSecondEnd, 0.5);
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    EXPECT_TRUE(sameBits({15000.0, 0.25, 0.5, 0.0, 0.0}, realValues(c)));
    // A rate set after initialization counts from the next step on.
    setReal(c, kRate, 20000.0);
    EXPECT_EQ(realValues(c)[kFirstForce], 0.0);
    ASSERT_EQ(fmi().doStep(c, 0.0, 0.1, fmiTrue), fmiOK);
    EXPECT_TRUE(sameBits({20000.0, 0.25, 0.5, 5000.0, -5000.0}, realValues(c)));
    // A value written into an output stands until the next event.
    setReal(c, kFirstForce, 1.5);
    EXPECT_TRUE(sameBits(1.5, realValues(c)[kFirstForce]));
    ASSERT_EQ(fmi().doStep(c, 0.1, 0.1, fmiTrue), fmiOK);
    EXPECT_TRUE(sameBits(5000.0, realValues(c)[kFirstForce]));
    // Reset brings back the rate only.
    ASSERT_EQ(fmi().resetSlave(c), fmiOK);
    EXPECT_TRUE(sameBits({15000.0, 0.25, 0.5, 5000.0, -5000.0}, realValues(c)));
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    terminateAndFree(c);
}

TEST_F(HalvornModel, WholeCoSimulationThroughTheLoadedLibrary) {
    const fmiComponent c = instantiate(fmiFalse, "front_anti_roll_bar");
    const std::size_t requestsAtInstantiation = recordingAllocator().requestCount();
    const fmiReal rate = 23500.0;
    setReal(c, kRate, rate);
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiTrue, 10.0), fmiOK);

    const fmiValueReference inputs[] = {kFirstEnd, kSecondEnd};
    const fmiValueReference outputs[] = {kFirstForce, kSecondForce};
    const fmiReal stepSize = 0.001;
    fmiReal time = 0.0;
    fmiReal forces[2] = {};
    for (int step = 0; step < 10000; ++step) {
        // A roll manoeuvre: the two ends move in opposite directions.
        const fmiReal roll = 0.04 * std::sin(0.7 * time) + 1e-3 * std::sin(13.0 * time);
        const fmiReal ends[2] = {roll, -0.5 * roll + 1e-5 * step};
        ASSERT_EQ(fmi().setReal(c, inputs, 2, ends), fmiOK);
        ASSERT_EQ(fmi().doStep(c, time, stepSize, fmiTrue), fmiOK);
        ASSERT_EQ(fmi().getReal(c, outputs, 2, forces), fmiOK);
        const fmiReal expected = (ends[1] - ends[0]) * rate;
        ASSERT_TRUE(sameBits(expected, forces[0])) << "step " << step;
        ASSERT_TRUE(sameBits(-expected, forces[1])) << "step " << step;
        time += stepSize;
    }
    ASSERT_EQ(fmi().terminateSlave(c), fmiOK);
    fmiReal finalForces[2] = {};
    ASSERT_EQ(fmi().getReal(c, outputs, 2, finalForces), fmiOK);
    EXPECT_TRUE(sameBits({forces[0], forces[1]}, {finalForces[0], finalForces[1]}));
    EXPECT_EQ(recordingAllocator().requestCount(), requestsAtInstantiation);
    fmi().freeSlaveInstance(c);
    EXPECT_EQ(recordingAllocator().frees().size(), 7U);
    EXPECT_TRUE(logs().empty());
}

// The generic suites refuse every other spelling of the definition's GUID.
TEST_F(HalvornModel, GuidIsTheDeliverables) {
    EXPECT_EQ(model().guid, "{df6d0958-156a-469d-81e9-7eeddeec2de4}");
}

TEST_F(HalvornModel, ExportsOnlyPrefixedNames) {
    const SlaveLibrary& library = testContext().library;
    EXPECT_NE(library.symbol("vrStates"), nullptr);
    EXPECT_NE(library.symbol("Halvorn_fmiDoStep"), nullptr);
    EXPECT_EQ(library.symbol("fmiDoStep"), nullptr);
    EXPECT_EQ(library.symbol("modelDefinition"), nullptr);
}
