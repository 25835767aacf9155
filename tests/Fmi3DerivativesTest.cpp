// FMI 3.0: directional and adjoint derivatives equal to the model's exact
// partial derivatives, their refusals, and the dependencies of the outputs
// as the model structure states them.
#include <string>

#include "Fmi3SlaveTest.h"

namespace {

class Fmi3Derivatives : public Fmi3SlaveTest {
  protected:
    std::vector<fmi3ValueReference> outputs() const {
        std::vector<fmi3ValueReference> vr;
        for (fmi3ValueReference i = model().firstOutput; i < model().realCount(); ++i) {
            vr.push_back(i);
        }
        return vr;
    }
    std::vector<fmi3ValueReference> knowns() const {
        std::vector<fmi3ValueReference> vr;
        for (fmi3ValueReference i = 0; i < model().firstOutput; ++i) {
            vr.push_back(i);
        }
        return vr;
    }

    // The knowns an output's equation reads, found by moving each known on
    // its own and watching the output, at values on both sides of any limit.
    std::vector<fmi3ValueReference> knownsRead(fmi3ValueReference output) const {
        std::vector<fmi3ValueReference> read;
        for (const fmi3ValueReference known : knowns()) {
            bool moves = false;
            for (unsigned seed = 0; seed < 40 && !moves; ++seed) {
                std::vector<fmi3Float64> values = randomKnowns(1000 + seed);
                const std::vector<fmi3Float64> before = withForces(values);
                values[known] = values[known] * 1.5 + 0.25;
                moves = withForces(values)[output] != before[output];
            }
            if (moves) {
                read.push_back(known);
            }
        }
        return read;
    }
    bool isParameter(fmi3ValueReference vr) const {
        return model().startValues[vr].has_value();
    }
};

}  // namespace

TEST_F(Fmi3Derivatives, DirectionalAndAdjointAreTheExactPartials) {
    if (!model().partial) {
        GTEST_SKIP() << "the model states no partial derivatives";
    }
    const std::vector<fmi3ValueReference> unknowns = outputs();
    const std::vector<fmi3ValueReference> known = knowns();
    for (unsigned seed = 0; seed < 20; ++seed) {
        const std::vector<fmi3Float64> values = randomKnowns(200 + seed);
        // Either interface, on alternate seeds.
        const fmi3Instance instance = seed % 2 == 0 ? stepMode(values) : eventMode(values, true);
        // One known with a unit seed: the column of the Jacobian, every
        // partial exactly, the sign of a zero included.
        const fmi3Float64 unit = 1.0;
        for (const fmi3ValueReference k : known) {
            std::vector<fmi3Float64> column(unknowns.size());
            ASSERT_EQ(
                fmi3().getDirectionalDerivative(instance, unknowns.data(), unknowns.size(), &k, 1,
                                                &unit, 1, column.data(), column.size()),
                fmi3OK);
            for (std::size_t i = 0; i < unknowns.size(); ++i) {
                EXPECT_TRUE(sameValues({partialOf(values, unknowns[i], k)}, {column[i]}))
                    << "d" << unknowns[i] << "/d" << k;
            }
        }
        // One unknown with a unit seed: the row of the Jacobian.
        for (const fmi3ValueReference u : unknowns) {
            std::vector<fmi3Float64> row(known.size());
            ASSERT_EQ(fmi3().getAdjointDerivative(instance, &u, 1, known.data(), known.size(),
                                                  &unit, 1, row.data(), row.size()),
                      fmi3OK);
            for (std::size_t j = 0; j < known.size(); ++j) {
                EXPECT_TRUE(sameValues({partialOf(values, u, known[j])}, {row[j]}))
                    << "d" << u << "/d" << known[j];
            }
        }
        fmi3().freeInstance(instance);
    }
}

// The adjoint derivative with a seed over all outputs sums the products in
// the order of the outputs, as the directional one does over the knowns. The
// first output comes three times, first with seeds that cancel exactly only
// in that order: summed in any other, the rounding shows.
TEST_F(Fmi3Derivatives, SeedsAreSummedInOrder) {
    if (!model().partial) {
        GTEST_SKIP() << "the model states no partial derivatives";
    }
    std::vector<fmi3ValueReference> unknowns = outputs();
    unknowns.insert(unknowns.begin(), 2, unknowns.front());
    const std::vector<fmi3ValueReference> known = knowns();
    const std::vector<fmi3Float64> values = randomKnowns(300);
    for (const bool modelExchange : {false, true}) {
        const fmi3Instance instance = modelExchange ? eventMode(values) : stepMode(values);
        std::vector<fmi3Float64> seed(unknowns.size());
        for (std::size_t i = 0; i < seed.size(); ++i) {
            seed[i] = 0.5 + static_cast<double>(i);
        }
        seed[0] = 0x1p60;
        seed[1] = -0x1p60;
        std::vector<fmi3Float64> sensitivity(known.size());
        ASSERT_EQ(fmi3().getAdjointDerivative(instance, unknowns.data(), unknowns.size(),
                                              known.data(), known.size(), seed.data(), seed.size(),
                                              sensitivity.data(), sensitivity.size()),
                  fmi3OK);
        const std::vector<fmi3Float64> expected = inModelEnvironment([&]() {
            std::vector<fmi3Float64> sums(known.size());
            for (std::size_t j = 0; j < known.size(); ++j) {
                for (std::size_t i = 0; i < unknowns.size(); ++i) {
                    const fmi3Float64 product =
                        model().partial(values, unknowns[i], known[j]) * seed[i];
                    sums[j] = i == 0 ? product : sums[j] + product;
                }
            }
            return sums;
        });
        EXPECT_TRUE(sameValues(expected, sensitivity));
        fmi3().freeInstance(instance);
    }
}

TEST_F(Fmi3Derivatives, WrongCountsNullsAndNonOutputsAreRefused) {
    const fmi3ValueReference output = model().firstOutput;
    const fmi3ValueReference input = model().firstOutput - 1;
    const fmi3Float64 seed[2] = {1.0, 1.0};
    fmi3Float64 result[2] = {};
    const std::string o = std::to_string(output);
    const std::string k = std::to_string(input);
    struct Case {
        std::function<fmi3Status(const Fmi3Functions&, fmi3Instance)> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getDirectionalDerivative(i, &output, 1, &input, 1, seed, 2, result, 1);
         },
         "fmi3GetDirectionalDerivative: nSeed = 2, but the 1 knowns name 1 scalar variables."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getAdjointDerivative(i, &output, 1, &input, 1, seed, 1, result, 2);
         },
         "fmi3GetAdjointDerivative: nSensitivity = 2, but the 1 knowns name 1 scalar variables."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getDirectionalDerivative(i, &output, 1, &input, 1, nullptr, 1, result, 1);
         },
         "fmi3GetDirectionalDerivative: Invalid argument seed[] = NULL."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getDirectionalDerivative(i, nullptr, 1, &input, 1, seed, 1, result, 1);
         },
         "fmi3GetDirectionalDerivative: Invalid argument unknowns[] = NULL."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getAdjointDerivative(i, &output, 1, nullptr, 1, seed, 1, result, 1);
         },
         "fmi3GetAdjointDerivative: Invalid argument knowns[] = NULL."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getAdjointDerivative(i, &output, 1, &input, 1, seed, 1, nullptr, 1);
         },
         "fmi3GetAdjointDerivative: Invalid argument sensitivity[] = NULL."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getAdjointDerivative(i, &input, 1, &input, 1, seed, 1, result, 1);
         },
         "fmi3GetAdjointDerivative: Value reference " + k + " is no output."},
        {[&](const Fmi3Functions& f, fmi3Instance i) {
             return f.getDirectionalDerivative(i, &output, 1, &output, 1, seed, 1, result, 1);
         },
         "fmi3GetDirectionalDerivative: Value reference " + o + " is no parameter or input."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(test.call(fmi3(), instance), fmi3Error);
        EXPECT_TRUE(refusedWith(test.message));
        fmi3().freeInstance(instance);
    }
}

// Before the end of initialization an output depends on the parameters and
// inputs its equation reads (its InitialUnknown), afterwards on those inputs
// alone (its Output); every dependency is of the general kind. Asked when
// instantiated, in initialization mode and after it, in either interface.
TEST_F(Fmi3Derivatives, DependenciesAgreeWithTheModelStructure) {
    for (const bool modelExchange : {false, true}) {
        const fmi3Instance instance = modelExchange ? instantiateModelExchange() : instantiate3();
        for (const int phase : {0, 1, 2}) {
            const bool initialization = phase < 2;
            if (phase == 1) {
                ASSERT_EQ(
                    fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                    fmi3OK);
            }
            if (phase == 2) {
                ASSERT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
            }
            for (const fmi3ValueReference output : outputs()) {
                SCOPED_TRACE(std::to_string(output) + (initialization ? " initial" : " output"));
                std::vector<fmi3ValueReference> expected;
                for (const fmi3ValueReference known : knownsRead(output)) {
                    if (initialization || !isParameter(known)) {
                        expected.push_back(known);
                    }
                }
                std::size_t count = 99;
                ASSERT_EQ(fmi3().getNumberOfVariableDependencies(instance, output, &count), fmi3OK);
                ASSERT_EQ(count, expected.size());
                std::vector<std::size_t> dependentElements(count, 9);
                std::vector<fmi3ValueReference> independents(count);
                std::vector<std::size_t> independentElements(count, 9);
                std::vector<fmi3DependencyKind> kinds(count, fmi3Constant);
                ASSERT_EQ(fmi3().getVariableDependencies(
                              instance, output, dependentElements.data(), independents.data(),
                              independentElements.data(), kinds.data(), count),
                          fmi3OK);
                EXPECT_EQ(independents, expected);
                for (std::size_t i = 0; i < count; ++i) {
                    EXPECT_EQ(dependentElements[i], 0U);
                    EXPECT_EQ(independentElements[i], 0U);
                    EXPECT_EQ(kinds[i], fmi3Dependent);
                }
            }
        }
        fmi3().freeInstance(instance);
    }
}

TEST_F(Fmi3Derivatives, DependenciesOfNonOutputsAndWrongCountsAreRefused) {
    const fmi3ValueReference output = model().firstOutput;
    const fmi3ValueReference time = model().realCount();
    std::size_t count = 0;
    {
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(fmi3().getNumberOfVariableDependencies(instance, 0, &count), fmi3Error);
        EXPECT_TRUE(
            refusedWith("fmi3GetNumberOfVariableDependencies: Variable 0 is no output; "
                        "only outputs have dependencies in the model structure."));
        fmi3().freeInstance(instance);
    }
    {
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(fmi3().getNumberOfVariableDependencies(instance, time + 1, &count), fmi3Error);
        EXPECT_TRUE(refusedWith("fmi3GetNumberOfVariableDependencies: Illegal value reference " +
                                std::to_string(time + 1) + "."));
        fmi3().freeInstance(instance);
    }
    {
        const fmi3Instance instance = stepMode();
        ASSERT_EQ(fmi3().getNumberOfVariableDependencies(instance, output, &count), fmi3OK);
        clearLogs();
        EXPECT_EQ(fmi3().getVariableDependencies(instance, output, nullptr, nullptr, nullptr,
                                                 nullptr, count + 1),
                  fmi3Error);
        EXPECT_TRUE(refusedWith(
            "fmi3GetVariableDependencies: nDependencies = " + std::to_string(count + 1) +
            ", but variable " + std::to_string(output) + " has " + std::to_string(count) +
            " dependencies here."));
        fmi3().freeInstance(instance);
    }
    // Each array needs its place once there is a dependency.
    const char* const arrays[] = {"elementIndicesOfDependent[]", "independents[]",
                                  "elementIndicesOfIndependents[]", "dependencyKinds[]"};
    for (int n = 0; n < 4 && count > 0; ++n) {
        const fmi3Instance instance = stepMode();
        std::vector<std::size_t> elements(count);
        std::vector<fmi3ValueReference> independents(count);
        std::vector<fmi3DependencyKind> kinds(count);
        clearLogs();
        EXPECT_EQ(fmi3().getVariableDependencies(
                      instance, output, n == 0 ? nullptr : elements.data(),
                      n == 1 ? nullptr : independents.data(), n == 2 ? nullptr : elements.data(),
                      n == 3 ? nullptr : kinds.data(), count),
                  fmi3Error);
        EXPECT_TRUE(refusedWith("fmi3GetVariableDependencies: Invalid argument " +
                                std::string(arrays[n]) + " = NULL."));
        fmi3().freeInstance(instance);
    }
    {
        const fmi3Instance instance = stepMode();
        clearLogs();
        EXPECT_EQ(fmi3().getNumberOfVariableDependencies(instance, output, nullptr), fmi3Error);
        EXPECT_TRUE(refusedWith(
            "fmi3GetNumberOfVariableDependencies: Invalid argument nDependencies = NULL."));
        fmi3().freeInstance(instance);
    }
}
