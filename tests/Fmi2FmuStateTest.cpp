// FMI 2.0: FMU states taken, restored, serialized and read back, within an
// interface and across them; bytes of another model, another FMI version or
// damaged bytes refused; directional derivatives against the equations.
#include <cstring>

#include "Fmi2SlaveTest.h"
#include "MxcsrGuard.h"
#include "SerializedFmuState.h"

namespace {

class Fmi2FmuState : public Fmi2SlaveTest {
  protected:
    std::vector<char> serialized(fmi2Component c, fmi2FMUstate state) {
        std::size_t size = 0;
        EXPECT_EQ(fmi2().serializedFMUstateSize(c, state, &size), fmi2OK);
        std::vector<char> bytes(size);
        EXPECT_EQ(fmi2().serializeFMUstate(c, state, bytes.data(), size), fmi2OK);
        return bytes;
    }

    // The model's definition as serialized bytes know it, under any identity.
    ModelDefinition identity(const char* identifier, const char* guid) const {
        return {identifier,
                guid,
                "",
                "",
                model().realCount(),
                0,
                0,
                0,
                0,
                nullptr,
                SubstepRule::DivideByTen,
                FloatingPointMode::Inherited,
                nullptr,
                nullptr,
                nullptr};
    }

    // Bytes in the library's format written for another identity.
    std::vector<char> bytesOf(const char* identifier, const char* guid, const char* fmiVersion,
                              std::uint32_t machineState = 4) {
        std::vector<fmi2Real> values = model().freshValues();
        const ModelDefinition other = identity(identifier, guid);
        std::vector<char> bytes(serializedFmuStateSize(other, fmiVersion));
        serializeFmuState(other, fmiVersion, {machineState, 0.0, values.data()},
                          reinterpret_cast<unsigned char*>(bytes.data()));
        return bytes;
    }

    // The machine state, time and values that serialized bytes hold.
    FmuStateContent contentOf(const std::vector<char>& bytes, std::vector<fmi2Real>& values) {
        values.assign(model().realCount(), 0.0);
        FmuStateContent content{0, 0.0, values.data()};
        EXPECT_EQ(deserializeFmuState(
                      identity(model().identifier.c_str(), model().guid.c_str()), "2.0", ~0U,
                      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), content)
                      .problem,
                  FmuStateProblem::None);
        return content;
    }

    // The bytes of an FMU state taken now.
    std::vector<char> taken(fmi2Component c) {
        fmi2FMUstate state = nullptr;
        EXPECT_EQ(fmi2().getFMUstate(c, &state), fmi2OK);
        std::vector<char> bytes = serialized(c, state);
        EXPECT_EQ(fmi2().freeFMUstate(c, &state), fmi2OK);
        return bytes;
    }

    void expectRefused(const std::vector<char>& bytes, const std::string& format) {
        const fmi2Component c = stepComplete();
        clearLogs();
        fmi2FMUstate state = nullptr;
        EXPECT_EQ(fmi2().deSerializeFMUstate(c, bytes.data(), bytes.size(), &state), fmi2Error);
        EXPECT_EQ(state, nullptr);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].format, format);
        EXPECT_EQ(logs()[0].status, fmiError);
        fmi2().freeInstance(c);
    }
};

class Fmi2DirectionalDerivative : public Fmi2SlaveTest {};

}  // namespace

TEST_F(Fmi2FmuState, RestoredStateContinuesAsTheFirstTime) {
    const fmi2Component c = stepComplete(randomKnowns(4));
    ASSERT_EQ(fmi2().doStep(c, 0.0, 0.1, fmi2False), fmi2OK);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(fmi2().getFMUstate(c, &state), fmi2OK);
    const std::vector<fmi2Real> saved = values2(c);
    setKnowns(c, randomKnowns(5));
    ASSERT_EQ(fmi2().doStep(c, 0.1, 0.2, fmi2False), fmi2OK);
    const std::vector<fmi2Real> first = values2(c);
    ASSERT_EQ(fmi2().setFMUstate(c, state), fmi2OK);
    EXPECT_TRUE(sameBits(saved, values2(c)));
    // The time comes back with the values.
    fmi2Real time = 0.0;
    EXPECT_EQ(fmi2().getRealStatus(c, fmi2LastSuccessfulTime, &time), fmi2OK);
    EXPECT_TRUE(sameBits(0.1, time));
    setKnowns(c, randomKnowns(5));
    ASSERT_EQ(fmi2().doStep(c, 0.1, 0.2, fmi2False), fmi2OK);
    EXPECT_TRUE(sameBits(first, values2(c)));
    // Overwritten in place, then freed; one left for fmi2FreeInstance.
    ASSERT_EQ(fmi2().getFMUstate(c, &state), fmi2OK);
    fmi2FMUstate second = nullptr;
    ASSERT_EQ(fmi2().getFMUstate(c, &second), fmi2OK);
    ASSERT_EQ(fmi2().freeFMUstate(c, &state), fmi2OK);
    EXPECT_EQ(state, nullptr);
    fmi2().freeInstance(c);
}

TEST_F(Fmi2FmuState, SerializedStateRestoresEveryBitAndTheTimeAndRescuesFromError) {
    const fmi2Component c = stepComplete(randomKnowns(6));
    ASSERT_EQ(fmi2().doStep(c, 1.0, 0.3, fmi2False), fmi2OK);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(fmi2().getFMUstate(c, &state), fmi2OK);
    const std::vector<char> bytes = serialized(c, state);
    const std::vector<fmi2Real> saved = values2(c);
    fmi2Real savedTime = 0.0;
    ASSERT_EQ(fmi2().getRealStatus(c, fmi2LastSuccessfulTime, &savedTime), fmi2OK);
    ASSERT_EQ(fmi2().freeFMUstate(c, &state), fmi2OK);
    EXPECT_EQ(fmi2().doStep(c, 0.0, -1.0, fmi2False), fmi2Error);

    fmi2FMUstate restored = nullptr;
    ASSERT_EQ(fmi2().deSerializeFMUstate(c, bytes.data(), bytes.size(), &restored), fmi2OK);
    ASSERT_EQ(fmi2().setFMUstate(c, restored), fmi2OK);
    EXPECT_TRUE(sameBits(saved, values2(c)));
    fmi2Real time = 0.0;
    EXPECT_EQ(fmi2().getRealStatus(c, fmi2LastSuccessfulTime, &time), fmi2OK);
    EXPECT_TRUE(sameBits(savedTime, time));
    EXPECT_EQ(fmi2().doStep(c, time, 0.1, fmi2False), fmi2OK);
    EXPECT_EQ(serialized(c, restored), bytes);
    fmi2().freeInstance(c);
}

// Values and time mean the same in both interfaces: a state both have
// restores in either, with its time; a state of one only is refused in the
// other. Model Exchange computes the outputs of what it restores.
TEST_F(Fmi2FmuState, StatesOfBothInterfacesRestoreInEitherTheOthersAreRefused) {
    const std::pair<fmi2Type, MachineState> taken[] = {{fmi2CoSimulation, Instantiated},
                                                       {fmi2CoSimulation, InitializationMode},
                                                       {fmi2CoSimulation, Stepping},
                                                       {fmi2CoSimulation, Terminated},
                                                       {fmi2CoSimulation, Error},
                                                       {fmi2ModelExchange, Instantiated},
                                                       {fmi2ModelExchange, InitializationMode},
                                                       {fmi2ModelExchange, EventMode},
                                                       {fmi2ModelExchange, ContinuousTimeMode},
                                                       {fmi2ModelExchange, Terminated},
                                                       {fmi2ModelExchange, Error}};
    const std::vector<fmi2Real> knowns = randomKnowns(7);
    for (const auto& [from, state] : taken) {
        const fmi2Component c = inState2(state, from, knowns);
        if (state == EventMode || state == ContinuousTimeMode) {
            ASSERT_EQ(fmi2().setTime(c, 2.5), fmi2OK);
        } else if (state == Stepping) {
            ASSERT_EQ(fmi2().doStep(c, 2.0, 0.5, fmi2True), fmi2OK);
        }
        const std::vector<char> bytes = this->taken(c);
        std::vector<fmi2Real> savedValues;
        const FmuStateContent saved = contentOf(bytes, savedValues);
        for (const fmi2Type to : {fmi2CoSimulation, fmi2ModelExchange}) {
            SCOPED_TRACE(std::to_string(state) + " from " + std::to_string(from) + " to " +
                         std::to_string(to));
            // Its outputs read, so that only the restore can outdate them.
            const fmi2Component other = inState2(InitializationMode, to);
            values2(other);
            fmi2FMUstate restored = nullptr;
            clearLogs();
            const fmi2Status status =
                fmi2().deSerializeFMUstate(other, bytes.data(), bytes.size(), &restored);
            const bool onlyTheOther =
                from != to && (state & (Stepping | EventMode | ContinuousTimeMode)) != 0;
            if (onlyTheOther) {
                EXPECT_EQ(status, fmi2Error);
                EXPECT_EQ(restored, nullptr);
                ASSERT_EQ(logs().size(), 1U);
                EXPECT_EQ(logs()[0].format,
                          "%s: The serialized FMU state was taken in %s, a state of %s instances "
                          "only; %s is a %s instance.");
                fmi2().freeInstance(other);
                continue;
            }
            ASSERT_EQ(status, fmi2OK);
            ASSERT_EQ(fmi2().setFMUstate(other, restored), fmi2OK);
            std::vector<fmi2Real> values;
            const FmuStateContent content = contentOf(this->taken(other), values);
            EXPECT_EQ(content.machineState, saved.machineState);
            EXPECT_TRUE(sameBits(saved.time, content.time));
            if (state != Instantiated) {
                EXPECT_TRUE(
                    sameBits(to == fmi2ModelExchange ? withForces(savedValues) : savedValues,
                             values2(other)));
            }
            fmi2().freeInstance(other);
        }
        fmi2().freeInstance(c);
    }
}

TEST_F(Fmi2FmuState, BytesOfAnotherModelVersionOrDamagedAreRefused) {
    const std::string identifier = model().identifier;
    const std::string guid = model().guid;
    expectRefused(bytesOf("Elsewhere", guid.c_str(), "2.0"),
                  "%s: The serialized FMU state is of model %s, not %s.");
    expectRefused(bytesOf(identifier.c_str(), "{other}", "2.0"),
                  "%s: The serialized FMU state is of GUID %s, not %s.");
    expectRefused(bytesOf(identifier.c_str(), guid.c_str(), "3.0"),
                  "%s: The serialized FMU state is of FMI version %s, not %s.");
    std::vector<char> damaged = bytesOf(identifier.c_str(), guid.c_str(), "2.0");
    damaged[damaged.size() / 2] ^= 1;
    expectRefused(damaged,
                  "%s: The serialized FMU state is damaged: its checksum, length or contents do "
                  "not match.");
    std::vector<char> truncated = bytesOf(identifier.c_str(), guid.c_str(), "2.0");
    truncated.pop_back();
    expectRefused(truncated,
                  "%s: The serialized FMU state is damaged: its checksum, length or contents do "
                  "not match.");
    // Checksums right, contents cut short or in no state.
    const auto summed = [](std::string body) {
        const std::uint64_t sum = fmuStateFormat_detail::checksumOf(
            reinterpret_cast<const unsigned char*>(body.data()), body.size());
        for (int i = 0; i < 8; ++i) {
            body.push_back(static_cast<char>(sum >> (8 * i)));
        }
        return std::vector<char>(body.begin(), body.end());
    };
    const std::string name(fmuStateFormat::kName, sizeof fmuStateFormat::kName);
    const std::string damagedFormat =
        "%s: The serialized FMU state is damaged: its checksum, length or contents do not match.";
    expectRefused(summed(name + "\x01"), damagedFormat);
    expectRefused(summed(name + std::string("\x01\0\0\0", 4) + "2.0"), damagedFormat);
    expectRefused(summed(name + std::string("\x01\0\0\0", 4)), damagedFormat);
    expectRefused(summed(name + std::string("\x02\0\0\0", 4)),
                  "%s: The serialized FMU state is in format version %u; this library reads "
                  "version %u.");
    for (const std::uint32_t noState : {32U, 3U}) {
        expectRefused(bytesOf(identifier.c_str(), guid.c_str(), "2.0", noState), damagedFormat);
    }
    // The body of good bytes cut in the machine state, with another count of
    // reals, and one byte longer.
    const std::vector<char> good = bytesOf(identifier.c_str(), guid.c_str(), "2.0");
    const std::string body(good.begin(), good.end() - 8);
    const std::size_t counted = body.size() - 8 * model().realCount() - 4;
    expectRefused(summed(body.substr(0, counted - 10)), damagedFormat);
    std::string recounted = body;
    recounted[counted] = static_cast<char>(recounted[counted] + 1);
    expectRefused(summed(recounted), damagedFormat);
    expectRefused(summed(body + "x"), damagedFormat);
    // Refused into an FMU state the master names, which stays as it was.
    const fmi2Component c = stepComplete();
    fmi2FMUstate named = nullptr;
    ASSERT_EQ(fmi2().getFMUstate(c, &named), fmi2OK);
    const fmi2FMUstate before = named;
    EXPECT_EQ(fmi2().deSerializeFMUstate(c, recounted.data(), recounted.size(), &named), fmi2Error);
    EXPECT_EQ(named, before);
    fmi2().freeInstance(c);
    expectRefused(std::vector<char>(64, 'x'),
                  "%s: The bytes are no serialized FMU state of this library (%s).");
    expectRefused(std::vector<char>(3, 'x'),
                  "%s: The bytes are no serialized FMU state of this library (%s).");
}

TEST_F(Fmi2FmuState, FMUstatesOfAnotherInstanceAndNullsAreRefused) {
    const fmi2Component first = stepComplete();
    const fmi2Component second = stepComplete();
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(fmi2().getFMUstate(first, &state), fmi2OK);
    clearLogs();
    EXPECT_EQ(fmi2().setFMUstate(second, state), fmi2Error);
    ASSERT_EQ(logs().size(), 1U);
    EXPECT_EQ(logs()[0].format,
              "%s: FMUstate %p is no FMU state of this instance, or it was freed.");
    const fmi2Component third = stepComplete();
    EXPECT_EQ(fmi2().getFMUstate(third, nullptr), fmi2Error);
    const fmi2Component fourth = stepComplete();
    EXPECT_EQ(fmi2().setFMUstate(fourth, nullptr), fmi2Error);
    std::size_t size = 0;
    EXPECT_EQ(fmi2().serializedFMUstateSize(first, state, &size), fmi2OK);
    std::vector<char> small(size - 1);
    EXPECT_EQ(fmi2().serializeFMUstate(first, state, small.data(), small.size()), fmi2Error);
    EXPECT_EQ(fmi2().serializedFMUstateSize(first, state, nullptr), fmi2Error);
    EXPECT_EQ(fmi2().serializeFMUstate(first, state, nullptr, size), fmi2Error);
    EXPECT_EQ(fmi2().deSerializeFMUstate(first, nullptr, size, &state), fmi2Error);
    EXPECT_EQ(fmi2().deSerializeFMUstate(first, small.data(), small.size(), nullptr), fmi2Error);
    EXPECT_EQ(fmi2().serializedFMUstateSize(first, nullptr, &size), fmi2Error);
    EXPECT_EQ(fmi2().serializeFMUstate(first, nullptr, small.data(), small.size()), fmi2Error);
    EXPECT_EQ(fmi2().freeFMUstate(first, nullptr), fmi2Error);
    EXPECT_EQ(fmi2().freeFMUstate(second, &state), fmi2Error);
    for (const fmi2Component c : {first, second, third, fourth}) {
        fmi2().freeInstance(c);
    }
}

TEST_F(Fmi2DirectionalDerivative, ExactPartialDerivativesSummedInTheOrderOfTheKnowns) {
    if (!model().partial) {
        GTEST_SKIP() << "the model states no partial derivatives";
    }
    std::vector<fmi2ValueReference> knowns;
    for (fmi2ValueReference vr = 0; vr < model().firstOutput; ++vr) {
        knowns.push_back(vr);
    }
    for (unsigned seed = 10; seed < 40; ++seed) {
        const std::vector<fmi2Real> values = randomKnowns(seed);
        // Alike in both interfaces.
        const fmi2Component c = seed % 2 == 0
                                    ? stepComplete(values)
                                    : inState2(ContinuousTimeMode, fmi2ModelExchange, values);
        std::vector<fmi2Real> seeds(knowns.size());
        for (std::size_t j = 0; j < seeds.size(); ++j) {
            seeds[j] = 0.25 * static_cast<double>(j + seed % 3) - 0.5;
        }
        for (fmi2ValueReference unknown = model().firstOutput; unknown < model().realCount();
             ++unknown) {
            // Each partial times a seed of one, as the library computes it
            // for a single known.
            std::vector<fmi2Real> partials;
            const fmi2Real expected = inModelEnvironment([&]() {
                fmi2Real sum = 0.0;
                const volatile fmi2Real unit = 1.0;
                for (std::size_t j = 0; j < knowns.size(); ++j) {
                    const fmi2Real partial = model().partial(values, unknown, knowns[j]);
                    partials.push_back(partial * unit);
                    const fmi2Real product = partial * seeds[j];
                    sum = j == 0 ? product : sum + product;
                }
                return insideGuard(sum);
            });
            fmi2Real derivative = 0.0;
            ASSERT_EQ(fmi2().getDirectionalDerivative(c, &unknown, 1, knowns.data(), knowns.size(),
                                                      seeds.data(), &derivative),
                      fmi2OK);
            EXPECT_TRUE(sameBits(expected, derivative)) << "output " << unknown;
            for (std::size_t j = 0; j < knowns.size(); ++j) {
                const fmi2Real one = 1.0;
                ASSERT_EQ(fmi2().getDirectionalDerivative(c, &unknown, 1, &knowns[j], 1, &one,
                                                          &derivative),
                          fmi2OK);
                EXPECT_TRUE(sameBits(partials[j], derivative))
                    << "d " << unknown << " / d " << knowns[j];
            }
        }
        fmi2().freeInstance(c);
    }
}

TEST_F(Fmi2DirectionalDerivative, OnlyOutputsByParametersAndInputs) {
    const fmi2ValueReference output = model().firstOutput;
    const fmi2ValueReference parameter = 0;
    const fmi2Real one = 1.0;
    fmi2Real result = 0.0;
    const std::pair<fmi2ValueReference, fmi2ValueReference> wrong[] = {
        {parameter, parameter},
        {output, output},
        {output, model().realCount()},
        {model().realCount(), parameter}};
    for (const auto& [unknown, known] : wrong) {
        const fmi2Component c = stepComplete();
        clearLogs();
        EXPECT_EQ(fmi2().getDirectionalDerivative(c, &unknown, 1, &known, 1, &one, &result),
                  fmi2Error);
        ASSERT_EQ(logs().size(), 1U);
        EXPECT_EQ(logs()[0].format, "%s: Value reference %u is no %s.");
        fmi2().freeInstance(c);
    }
    const fmi2Component c = stepComplete();
    EXPECT_EQ(fmi2().getDirectionalDerivative(c, &output, 1, &parameter, 1, nullptr, &result),
              fmi2Error);
    fmi2().freeInstance(c);
}
