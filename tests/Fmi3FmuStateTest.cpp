// FMI 3.0: FMU states taken, restored, freed and serialized, and the
// serialized bytes the FMU refuses: another model's, another FMI version's,
// another format version's, damaged, cut short, or no FMU state at all.
#include <cstring>
#include <string>

#include "Fmi3SlaveTest.h"
#include "SerializedFmuState.h"

namespace {

class Fmi3FmuStates : public Fmi3SlaveTest {
  protected:
    std::vector<fmi3Byte> serialized(fmi3Instance instance, fmi3FMUState state) {
        std::size_t size = 0;
        EXPECT_EQ(fmi3().serializedFMUStateSize(instance, state, &size), fmi3OK);
        std::vector<fmi3Byte> bytes(size);
        EXPECT_EQ(fmi3().serializeFMUState(instance, state, bytes.data(), bytes.size()), fmi3OK);
        return bytes;
    }

    // Bytes in the library's own format, written here with the names given.
    std::vector<fmi3Byte> bytesOf(const char* identifier, const char* guid,
                                  const char* fmiVersion) {
        ModelDefinition other{};
        other.modelIdentifier = identifier;
        other.modelGuid = guid;
        other.realCount = model().realCount();
        std::vector<Real> values = model().freshValues();
        const FmuStateContent content{4, 0.0, values.data()};
        std::vector<fmi3Byte> bytes(serializedFmuStateSize(other, fmiVersion));
        serializeFmuState(other, fmiVersion, content, bytes.data());
        return bytes;
    }

    fmi3Float64 timeOf(fmi3Instance instance) {
        const fmi3ValueReference time = model().realCount();
        fmi3Float64 value = -1.0;
        EXPECT_EQ(fmi3().getFloat64(instance, &time, 1, &value, 1), fmi3OK);
        return value;
    }

    // Deserializing must fail with exactly this message, and create nothing.
    void expectRefused(const std::vector<fmi3Byte>& bytes, const std::string& message) {
        const fmi3Instance instance = stepMode();
        clearLogs();
        fmi3FMUState state = nullptr;
        EXPECT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), bytes.size(), &state),
                  fmi3Error);
        EXPECT_EQ(state, nullptr);
        EXPECT_TRUE(refusedWith("fmi3DeserializeFMUState: " + message));
        fmi3().freeInstance(instance);
    }
};

constexpr const char* kDamaged =
    "The serialized FMU state is damaged: its checksum, length or contents do not match.";

}  // namespace

TEST_F(Fmi3FmuStates, RestoringGoesBackToTheValuesTimeAndState) {
    const fmi3Instance instance = stepMode(randomKnowns(7));
    ASSERT_EQ(doStep(instance, 0.0, 0.5), fmi3OK);
    const std::vector<fmi3Float64> saved = values3(instance);
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    ASSERT_NE(state, nullptr);
    setKnowns(instance, randomKnowns(8));
    ASSERT_EQ(doStep(instance, 0.5, 0.5), fmi3OK);
    ASSERT_EQ(fmi3().terminate(instance), fmi3OK);
    ASSERT_EQ(fmi3().setFMUState(instance, state), fmi3OK);
    EXPECT_TRUE(sameBits(saved, values3(instance)));
    EXPECT_TRUE(sameBits(stepEnd(0.0, 0.5), timeOf(instance)));
    // Step mode again, at the time the state was taken.
    fmi3Float64 reached = 0.0;
    EXPECT_EQ(doStep(instance, 0.5, 0.5, &reached), fmi3OK);
    EXPECT_TRUE(sameBits(stepEnd(0.5, 0.5), reached));
    // Taken again into the same FMU state, then freed.
    EXPECT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    EXPECT_EQ(fmi3().freeFMUState(instance, &state), fmi3OK);
    EXPECT_EQ(state, nullptr);
    fmi3().freeInstance(instance);
}

// Model Exchange: values, time and state come back, and the outputs read
// after the restore are the forces at the restored values.
TEST_F(Fmi3FmuStates, ModelExchangeRestoresValuesTimeAndState) {
    const std::vector<fmi3Float64> knowns = randomKnowns(17);
    const fmi3Instance instance = eventMode(knowns, true);
    ASSERT_EQ(fmi3().setTime(instance, 2.0), fmi3OK);
    const std::vector<fmi3Float64> saved = values3(instance);
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    ASSERT_EQ(fmi3().setTime(instance, 3.0), fmi3OK);
    ASSERT_EQ(fmi3().enterEventMode(instance), fmi3OK);
    setKnowns(instance, randomKnowns(18));
    values3(instance);
    ASSERT_EQ(fmi3().setFMUState(instance, state), fmi3OK);
    EXPECT_TRUE(sameValues(withForces(saved), values3(instance)));
    EXPECT_TRUE(sameBits(2.0, timeOf(instance)));
    // Continuous-time mode again.
    EXPECT_EQ(fmi3().setTime(instance, 2.5), fmi3OK);
    fmi3().freeInstance(instance);
}

// Values and time mean the same in both interfaces: a state both have
// restores in either; step mode, event mode and continuous-time mode only in
// the interface that has them.
TEST_F(Fmi3FmuStates, BytesRestoreAcrossTheInterfacesInTheStatesBothHave) {
    if (!model().outputsFollowFromKnowns) {
        GTEST_SKIP() << "an output carries its own value on from update to update";
    }
    const std::vector<fmi3Float64> knowns = randomKnowns(19);
    const auto bytesIn = [&](fmi3Instance instance) {
        fmi3FMUState state = nullptr;
        EXPECT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
        const std::vector<fmi3Byte> bytes = serialized(instance, state);
        fmi3().freeInstance(instance);
        return bytes;
    };
    const auto terminated = [&](fmi3Instance instance) {
        EXPECT_EQ(fmi3().terminate(instance), fmi3OK);
        return instance;
    };
    struct Case {
        std::vector<fmi3Byte> bytes;
        bool modelExchangeInstance;
        std::string refusal;
    };
    const std::string cs = "co-simulation";
    const std::string me = "Model Exchange";
    const auto refusal = [](const std::string& state, const std::string& has,
                            const std::string& is) {
        return "fmi3SetFMUState: The FMU state was taken in " + state + ", which only a " + has +
               " instance has; this is a " + is + " instance.";
    };
    const std::vector<Case> cases = {
        {bytesIn(terminated(stepMode(knowns))), true, ""},
        {bytesIn(terminated(eventMode(knowns))), false, ""},
        {bytesIn(stepMode(knowns)), true, refusal("step mode", cs, me)},
        {bytesIn(eventMode(knowns)), false, refusal("event mode", me, cs)},
        {bytesIn(eventMode(knowns, true)), false, refusal("continuous-time mode", me, cs)},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.refusal);
        const fmi3Instance instance =
            test.modelExchangeInstance ? instantiateModelExchange() : instantiate3();
        fmi3FMUState state = nullptr;
        ASSERT_EQ(
            fmi3().deserializeFMUState(instance, test.bytes.data(), test.bytes.size(), &state),
            fmi3OK);
        clearLogs();
        if (test.refusal.empty()) {
            EXPECT_EQ(fmi3().setFMUState(instance, state), fmi3OK);
            EXPECT_TRUE(sameValues(withForces(knowns), values3(instance)));
        } else {
            EXPECT_EQ(fmi3().setFMUState(instance, state), fmi3Error);
            EXPECT_TRUE(refusedWith(test.refusal));
        }
        fmi3().freeInstance(instance);
    }
}

TEST_F(Fmi3FmuStates, AStateRestoresAfterAnErrorAndFreeInstanceFreesWhatIsLeft) {
    const fmi3Instance instance = stepMode(randomKnowns(9));
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    fmi3FMUState another = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &another), fmi3OK);
    EXPECT_EQ(doStep(instance, 0.0, -1.0), fmi3Error);
    ASSERT_EQ(fmi3().setFMUState(instance, state), fmi3OK);
    EXPECT_EQ(doStep(instance, 0.0, 1.0), fmi3OK);
    // Both states go with the instance: the sanitizer builds see any leak.
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3FmuStates, SerializedBytesRoundTripAndNameVersionThree) {
    const fmi3Instance instance = stepMode(randomKnowns(10));
    ASSERT_EQ(doStep(instance, 0.0, 0.25), fmi3OK);
    const std::vector<fmi3Float64> saved = values3(instance);
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(instance, &state), fmi3OK);
    const std::vector<fmi3Byte> bytes = serialized(instance, state);
    ASSERT_EQ(fmi3().freeFMUState(instance, &state), fmi3OK);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(std::string("3.0\0", 4) + model().identifier), std::string::npos);
    ASSERT_EQ(fmi3().reset(instance), fmi3OK);
    fmi3FMUState restored = nullptr;
    ASSERT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), bytes.size(), &restored), fmi3OK);
    ASSERT_EQ(fmi3().setFMUState(instance, restored), fmi3OK);
    EXPECT_TRUE(sameBits(saved, values3(instance)));
    EXPECT_TRUE(serialized(instance, restored) == bytes);
    // Into an FMU state the master already has.
    ASSERT_EQ(fmi3().deserializeFMUState(instance, bytes.data(), bytes.size(), &restored), fmi3OK);
    EXPECT_EQ(fmi3().freeFMUState(instance, &restored), fmi3OK);
    fmi3().freeInstance(instance);
}

TEST_F(Fmi3FmuStates, BytesOfAnotherModelOrVersionAreRefused) {
    const std::string guid = model().guid;
    const std::string identifier = model().identifier;
    // Another model of the registry (the test model is always one).
    std::string otherModel;
    for (const ModelFacts& facts : allModelFacts()) {
        otherModel =
            facts.identifier != identifier && otherModel.empty() ? facts.identifier : otherModel;
    }
    const char* const other = otherModel.c_str();
    expectRefused(bytesOf(identifier.c_str(), guid.c_str(), "2.0"),
                  "The serialized FMU state is of FMI version 2.0, not 3.0.");
    expectRefused(
        bytesOf(other, guid.c_str(), "3.0"),
        "The serialized FMU state is of model " + std::string(other) + ", not " + identifier + ".");
    const char* const otherGuid = "{00000000-0000-0000-0000-000000000000}";
    expectRefused(
        bytesOf(identifier.c_str(), otherGuid, "3.0"),
        "The serialized FMU state is of GUID " + std::string(otherGuid) + ", not " + guid + ".");
    // The same bytes as the library's own but for the format version.
    std::vector<fmi3Byte> bytes = bytesOf(identifier.c_str(), guid.c_str(), "3.0");
    bytes[sizeof fmuStateFormat::kName] = 2;
    const std::size_t body = bytes.size() - 8;
    const std::uint64_t sum = fmuStateFormat_detail::checksumOf(bytes.data(), body);
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[body + i] = static_cast<fmi3Byte>(sum >> (8 * i));
    }
    expectRefused(bytes,
                  "The serialized FMU state is in format version 2; this library reads version "
                  "1.");
}

TEST_F(Fmi3FmuStates, DamagedShortAndForeignBytesAreRefused) {
    const std::vector<fmi3Byte> good =
        bytesOf(model().identifier.c_str(), model().guid.c_str(), "3.0");
    for (std::size_t i = sizeof fmuStateFormat::kName; i < good.size(); i += 7) {
        SCOPED_TRACE(i);
        std::vector<fmi3Byte> flipped = good;
        flipped[i] ^= 0x10;
        expectRefused(flipped, kDamaged);
    }
    expectRefused(std::vector<fmi3Byte>(good.begin(), good.end() - 1), kDamaged);
    expectRefused(std::vector<fmi3Byte>(good.begin(), good.begin() + 4),
                  "The bytes are no serialized FMU state of this library (Chassis force slave "
                  "FMU state).");
    expectRefused(std::vector<fmi3Byte>(64, 0x5A),
                  "The bytes are no serialized FMU state of this library (Chassis force slave "
                  "FMU state).");
}

TEST_F(Fmi3FmuStates, ForeignAndFreedStatesAndNullsAreRefused) {
    const fmi3Instance first = stepMode();
    const fmi3Instance second = stepMode();
    fmi3FMUState state = nullptr;
    ASSERT_EQ(fmi3().getFMUState(first, &state), fmi3OK);
    clearLogs();
    EXPECT_EQ(fmi3().setFMUState(second, state), fmi3Error);
    ASSERT_EQ(logs().size(), 1U);
    EXPECT_NE(logs()[0].text.find("is no FMU state of this instance, or it was freed."),
              std::string::npos);
    fmi3FMUState copy = state;
    ASSERT_EQ(fmi3().freeFMUState(first, &state), fmi3OK);
    clearLogs();
    EXPECT_EQ(fmi3().setFMUState(first, copy), fmi3Error);
    EXPECT_EQ(logs().size(), 1U);
    const fmi3Instance third = stepMode();
    clearLogs();
    EXPECT_EQ(fmi3().getFMUState(third, nullptr), fmi3Error);
    EXPECT_TRUE(refusedWith("fmi3GetFMUState: Invalid argument FMUState = NULL."));
    fmi3().freeInstance(first);
    fmi3().freeInstance(second);
    fmi3().freeInstance(third);
}
