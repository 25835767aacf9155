// FMI 3.0: the FMU's memory is its own. One block from the C runtime per
// instance, one per FMU state and nothing else, none of the master's; a
// request the C runtime refuses yields no instance, or a refused call, with a
// message, never a crash.
#include "Fmi3SlaveTest.h"
#include "RuntimeCalloc.h"

namespace {

class Fmi3Memory : public Fmi3SlaveTest {
  protected:
    void SetUp() override {
        Fmi3SlaveTest::SetUp();
        std::string error;
        ASSERT_TRUE(rebindRuntimeCalloc(testContext().library, error)) << error;
        resetRuntimeCalloc();
    }
    void TearDown() override {
        resetRuntimeCalloc();
        Fmi3SlaveTest::TearDown();
    }
};

}  // namespace

TEST_F(Fmi3Memory, InstantiationWithoutMemoryYieldsNoInstanceAndSaysSo) {
    failRuntimeCallocFrom(1);
    EXPECT_EQ(fmi3().instantiateCoSimulation(kName, model().guid.c_str(), nullptr, fmi3False,
                                             fmi3False, fmi3False, fmi3False, nullptr, 0,
                                             &fmi3Environment, recordingLogMessage, nullptr),
              nullptr);
    EXPECT_EQ(runtimeCallocRequests(), 1U);
    EXPECT_TRUE(refusedWith("fmi3InstantiateCoSimulation: Out of memory."));
    // Memory again, an instance again.
    failRuntimeCallocFrom(0);
    const fmi3Instance instance = stepMode();
    EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3OK);
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3Memory, OneBlockPerInstanceAndOnePerFmuState) {
    const fmi3Instance instance = stepMode(randomKnowns(1));
    EXPECT_EQ(runtimeCallocRequests(), 1U);
    for (int step = 0; step < 5; ++step) {
        EXPECT_EQ(doStep(instance, 0.1 * step, 0.1), fmi3OK);
        values3(instance);
        setKnowns(instance, randomKnowns(2 + step));
    }
    std::size_t count = 0;
    fmi3().getNumberOfVariableDependencies(instance, model().firstOutput, &count);
    EXPECT_EQ(runtimeCallocRequests(), 1U);
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    EXPECT_EQ(runtimeCallocRequests(), 2U);
    // Taken again into the FMU state the master holds: no new block.
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    std::size_t size = 0;
    ASSERT_EQ(fmi3().serializedFMUStateSize(instance, state, &size), fmi3OK);
    std::vector<fmi3Byte> bytes(size);
    ASSERT_EQ(fmi3().serializeFMUState(instance, state, bytes.data(), size), fmi3OK);
    ASSERT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), size, &state), fmi3OK);
    EXPECT_EQ(runtimeCallocRequests(), 2U);
    fmi3FMUState another = nullptr;
    ASSERT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), size, &another), fmi3OK);
    EXPECT_EQ(runtimeCallocRequests(), 3U);
    EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
    fmi3().freeInstance(instance);
    EXPECT_EQ(runtimeCallocRequests(), 3U);
}

TEST_F(Fmi3Memory, AnFmuStateWithoutMemoryIsRefusedAndAnEarlierOneRescues) {
    const std::vector<fmi3Float64> knowns = randomKnowns(3);
    const fmi3Instance instance = stepMode(knowns);
    const std::vector<fmi3Float64> savedValues = values3(instance);
    fmi3FMUState saved = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &saved), fmi3OK);
    failRuntimeCallocFrom(runtimeCallocRequests() + 1);
    fmi3FMUState state = nullptr;
    clearLogs();
    EXPECT_EQ(fmi3().getFMUState(instance, &state), fmi3Error);
    EXPECT_EQ(state, nullptr);
    EXPECT_TRUE(refusedWith("fmi3GetFMUState: Out of memory."));
    EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3Error);
    ASSERT_EQ(fmi3().setFMUState(instance, saved), fmi3OK);
    EXPECT_EQ(doStep(instance, 0.0, 0.1), fmi3OK);
    EXPECT_TRUE(sameValues(afterStep(savedValues), values3(instance)));
    std::size_t size = 0;
    ASSERT_EQ(fmi3().serializedFMUStateSize(instance, saved, &size), fmi3OK);
    std::vector<fmi3Byte> bytes(size);
    ASSERT_EQ(fmi3().serializeFMUState(instance, saved, bytes.data(), size), fmi3OK);
    clearLogs();
    EXPECT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), size, &state), fmi3Error);
    EXPECT_EQ(state, nullptr);
    EXPECT_TRUE(refusedWith("fmi3DeserializeFMUState: Out of memory."));
    fmi3().freeInstance(instance);
}
