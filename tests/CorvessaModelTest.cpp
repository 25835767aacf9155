// The dual anti-roll bar through real fmiDoStep calls: the example forces,
// the independence of the two bars, the edges of value access, what stands
// between time events, the exact GUID, a differential run over random
// operands, and the floating-point control left to the caller.
#include <array>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "SlaveTest.h"

namespace {

constexpr const char* kGuid = "{1a52f68c-d976-4fba-9cb9-51e50b2bb078}";

constexpr std::uint64_t kSignBit = 0x8000000000000000U;
constexpr std::uint64_t kMantissaBits = 0x000FFFFFFFFFFFFFU;
constexpr std::uint64_t kExponentBits = 0x7FF0000000000000U;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kSignallingNaN = fromBits(0x7FF0000000000001U);

// The two rates and the four displacements, references 0 to 5.
using Operands = std::array<fmiReal, 6>;
constexpr std::array<fmiValueReference, 6> kOperandReferences = {0, 1, 2, 3, 4, 5};
constexpr std::size_t kFirstForce = 6;

std::string describe(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (0x%016" PRIx64 ")", value, bitsOf(value));
    return text;
}

std::string describe(const Operands& operands) {
    std::string text;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        text += "\n  R" + std::to_string(i) + " = " + describe(operands[i]);
    }
    return text;
}

std::vector<fmiReal> forcesIn(const std::vector<fmiReal>& values) {
    return {values.begin() + kFirstForce, values.end()};
}

// The two forces of one bar among all ten values: bar 0 has R6 and R7, bar 1
// has R8 and R9.
std::vector<fmiReal> forcesOfBar(const std::vector<fmiReal>& values, std::size_t bar) {
    const auto first = values.begin() + kFirstForce + 2 * bar;
    return {first, first + 2};
}

// Operands spread over every kind of double: signed zeros, subnormals,
// infinities, NaNs with any payload (signalling ones included), the largest
// and smallest normals and ordinary magnitudes; the two ends of a bar are
// sometimes equal or a few units in the last place apart, where the
// difference cancels.
class OperandSource {
  public:
    explicit OperandSource(std::uint64_t seed) : random_(seed) {}

    Operands next() {
        Operands operands;
        for (fmiReal& operand : operands) {
            operand = nextValue();
        }
        closeTogether(operands[3], operands[2]);
        closeTogether(operands[5], operands[4]);
        return operands;
    }

  private:
    std::uint64_t below(std::uint64_t n) {
        return random_() % n;
    }

    std::uint64_t withExponent(std::uint64_t exponent) {
        return (random_() & kSignBit) | exponent << 52 | (random_() & kMantissaBits);
    }

    fmiReal nextValue() {
        static const std::array<double, 17> specials = {
            +0.0,    -0.0,           kInfinity,    -kInfinity,    kNaN,
            -kNaN,   kSignallingNaN, DBL_TRUE_MIN, -DBL_TRUE_MIN, fromBits(kMantissaBits),
            DBL_MIN, DBL_MAX,        -DBL_MAX,     1.0,           -1.0,
            15000.0, DBL_EPSILON,
        };
        switch (below(8)) {
            case 0:
                return specials[below(specials.size())];
            case 1:  // subnormal
                return fromBits((random_() & kSignBit) | (random_() & kMantissaBits) | 1U);
            case 2:  // large normal
                return fromBits(withExponent(2046 - below(60)));
            case 3:  // tiny normal
                return fromBits(withExponent(1 + below(60)));
            case 4:  // NaN with a random sign and payload
                return fromBits((random_() & kSignBit) | kExponentBits |
                                (random_() & kMantissaBits) | 1U);
            case 5:  // any bit pattern
                return fromBits(random_());
            default:  // ordinary magnitudes, as rates and displacements have
                return fromBits(withExponent(1023 - 20 + below(40)));
        }
    }

    void closeTogether(fmiReal& secondEnd, fmiReal firstEnd) {
        switch (below(8)) {
            case 0:
                secondEnd = firstEnd;
                break;
            case 1:
                secondEnd = fromBits(bitsOf(firstEnd) + below(9) - 4);
                break;
            default:
                break;
        }
    }

    std::mt19937_64 random_;
};

class CorvessaModel : public SlaveTest {
  protected:
    void setOperands(fmiComponent c, const Operands& operands) {
        EXPECT_EQ(fmi().setReal(c, kOperandReferences.data(), operands.size(), operands.data()),
                  fmiOK);
    }

    // One step with time events at all ten substeps.
    void step(fmiComponent c) {
        EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
    }

    // The refusal of an illegal value reference, logged whatever the flag.
    static ExpectedLog illegalReference(fmiComponent c, const char* function,
                                        fmiValueReference vr) {
        return {c,
                kName,
                fmiError,
                "error",
                "%s: Illegal value reference %u.",
                {arg(function), arg(vr)}};
    }

    // All ten values after a time event with these operands (the outputs
    // evaluated here, under the calling thread's floating-point control).
    std::vector<fmiReal> predicted(const Operands& operands) const {
        std::vector<fmiReal> values(model().realCount());
        std::copy(operands.begin(), operands.end(), values.begin());
        model().equation(values);
        return values;
    }
};

// The example forces, NaNs compared as NaNs whatever their payload; the
// second force of each bar must be the first with only its sign bit flipped.
::testing::AssertionResult forcesAre(const std::array<fmiReal, 4>& expected,
                                     const std::vector<fmiReal>& forces) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bool nanAsExpected = std::isnan(expected[i]) && std::isnan(forces[i]);
        if (auto same = sameBits(expected[i], forces[i]); !nanAsExpected && !same) {
            return ::testing::AssertionFailure() << "force " << i << ": " << same.message();
        }
    }
    for (std::size_t first : {0U, 2U}) {
        if (bitsOf(forces[first + 1]) != (bitsOf(forces[first]) ^ kSignBit)) {
            return ::testing::AssertionFailure()
                   << "force " << first + 1 << " " << describe(forces[first + 1])
                   << " is not force " << first << " " << describe(forces[first]) << " negated";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(CorvessaModel, RatesStartAtFifteenThousandAndTheRestAtZero) {
    const std::vector<fmiReal> fresh = {15000.0, 15000.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    const fmiComponent c = instantiate();
    EXPECT_TRUE(sameBits(fresh, realValues(c)));
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    EXPECT_TRUE(sameBits(fresh, realValues(c)));
    terminateAndFree(c);
}

TEST_F(CorvessaModel, ExampleForcesBitForBit) {
    struct Case {
        const char* what;
        Operands operands;
        std::array<fmiReal, 4> forces;
    };
    const std::vector<Case> cases = {
        {"first bar stretched, second bar's ends level",
         {15000.0, 15000.0, 0.25, 0.5, 0.1, 0.1},
         {3750.0, -3750.0, +0.0, -0.0}},
        {"difference rounded before the product",
         {15000.0, 15000.0, 0.01, 0.03, 0.0, 0.0},
         {299.99999999999994, -299.99999999999994, +0.0, -0.0}},
        {"infinite first rate, ends level",
         {kInfinity, 15000.0, 0.5, 0.5, 0.25, 0.5},
         {kNaN, kNaN, 3750.0, -3750.0}},
        {"infinite second rate, ends level",
         {15000.0, kInfinity, 0.25, 0.5, 0.1, 0.1},
         {3750.0, -3750.0, kNaN, kNaN}},
    };
    const fmiComponent c = initialized();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        setOperands(c, test.operands);
        step(c);
        EXPECT_TRUE(forcesAre(test.forces, forcesIn(realValues(c))));
    }
    terminateAndFree(c);
}

TEST_F(CorvessaModel, EachBarIgnoresTheOtherBarsOperands) {
    const Operands unperturbed = {15000.0, 12000.0, 0.01, 0.03, -0.02, 0.05};
    struct Perturbation {
        fmiValueReference vr;
        fmiReal value;
        std::size_t affectedBar;  // 0 for the first bar (R6, R7), 1 for the second (R8, R9)
    };
    const std::vector<Perturbation> perturbations = {
        {0, 20000.0, 0},    {1, 20000.0, 1},   {2, 0.02, 0}, {3, -0.03, 0}, {4, 0.04, 1},
        {5, -0.05, 1},      {0, kNaN, 0},      {1, kNaN, 1}, {2, kNaN, 0},  {3, kNaN, 0},
        {4, kNaN, 1},       {5, kNaN, 1},      {0, 0.0, 0},  {1, -0.0, 1},  {2, kInfinity, 0},
        {5, -kInfinity, 1}, {0, kInfinity, 0}, {4, 0.05, 1},
    };
    const fmiComponent c = initialized();
    setOperands(c, unperturbed);
    step(c);
    const std::vector<fmiReal> before = realValues(c);
    ASSERT_TRUE(sameBits(predicted(unperturbed), before));
    for (const Perturbation& p : perturbations) {
        SCOPED_TRACE("R" + std::to_string(p.vr) + " = " + describe(p.value));
        Operands operands = unperturbed;
        operands[p.vr] = p.value;
        setOperands(c, operands);
        step(c);
        const std::vector<fmiReal> after = realValues(c);
        const std::size_t other = 1 - p.affectedBar;
        EXPECT_TRUE(sameBits(forcesOfBar(predicted(operands), p.affectedBar),
                             forcesOfBar(after, p.affectedBar)));
        EXPECT_FALSE(
            sameBits(forcesOfBar(before, p.affectedBar), forcesOfBar(after, p.affectedBar)))
            << "the perturbation changed nothing";
        EXPECT_TRUE(sameBits(forcesOfBar(before, other), forcesOfBar(after, other)))
            << "the other bar's forces changed";
    }
    terminateAndFree(c);
}

TEST_F(CorvessaModel, SetRealStoresTheElementsBeforeAnIllegalReference) {
    const fmiComponent c = initialized(fmiTrue);
    setReal(c, 4, 7.0);
    clearLogs();
    // The logger hears of the illegal reference before the instance enters
    // Error, so it can still read what the call has stored so far.
    std::vector<fmiReal> seenByLogger(2, -1.0);
    logRecorder().setHook([&](const LogRecord& record) {
        if (record.category == "error") {
            const fmiValueReference vr[] = {3, 4};
            EXPECT_EQ(fmi().getReal(c, vr, 2, seenByLogger.data()), fmiOK);
        }
    });
    const fmiValueReference vr[] = {3, 10, 4};
    const fmiReal values[] = {0.5, 1.5, 2.5};
    EXPECT_EQ(fmi().setReal(c, vr, 3, values), fmiError);
    logRecorder().setHook(nullptr);
    EXPECT_TRUE(sameBits({0.5, 7.0}, seenByLogger));

    fmiReal value = -1.0;
    EXPECT_EQ(fmi().getReal(c, vr, 1, &value), fmiError);
    EXPECT_TRUE(sameBits(-1.0, value));
    // Only the first element is traced, so only it was stored.
    EXPECT_TRUE(matchAll(
        {
            {c, kName, fmiOK, "log", "fmiSetReal: nvr = %d", {arg(3)}},
            {c, kName, fmiOK, "log", "fmiSetReal: #r%d# = %.16g", {arg(3), arg(0.5)}},
            illegalReference(c, "fmiSetReal", 10),
            {c, kName, fmiOK, "log", "fmiGetReal: #r%u# = %.16g", {arg(3U), arg(0.5)}},
            {c, kName, fmiOK, "log", "fmiGetReal: #r%u# = %.16g", {arg(4U), arg(7.0)}},
            {c, kName, fmiError, "error", "%s: Illegal call sequence.", {arg("fmiGetReal")}},
        },
        logs()));
    leaveInError(c);
}

// The generic suites refuse every other spelling of the definition's GUID.
TEST_F(CorvessaModel, GuidIsTheDeliverables) {
    EXPECT_EQ(model().guid, kGuid);
}

TEST_F(CorvessaModel, ForcesMatchTheEquationsOverRandomOperands) {
    constexpr int kCases = 20000;
    OperandSource source(0x5EED0C0FFEEULL);
    const fmiComponent c = initialized();
    for (int k = 0; k < kCases; ++k) {
        const Operands operands = source.next();
        setOperands(c, operands);
        step(c);
        if (auto same = sameValues(predicted(operands), realValues(c)); !same) {
            ADD_FAILURE() << "case " << k << ", operands:" << describe(operands) << "\n"
                          << same.message();
            break;
        }
    }
    terminateAndFree(c);
    EXPECT_TRUE(logs().empty());
}

TEST_F(CorvessaModel, LeavesTheFloatingPointControlAsTheCallerSetIt) {
    EXPECT_EQ(testContext().mxcsrBeforeLoad, testContext().mxcsrAfterLoad);
    // The status flags are sticky exception flags that the arithmetic itself
    // raises; the rest is the control: rounding, flush, denormals-are-zero and
    // the exception masks.
    constexpr std::uint32_t kControl = ~kStatusFlags;
    const std::uint32_t original = floatingPointControl();
    const std::uint32_t callers = original & kControl;
    struct Case {
        const char* what;
        std::uint32_t mxcsr;
    };
    const std::vector<Case> cases = {
        {"as the thread has it", callers},
        {"upward", (callers & ~kRoundingBits) | kRoundUpward},
        {"toward zero, flushing and reading subnormals as zero",
         (callers & ~kRoundingBits) | kRoundTowardZero | kFlushToZeroBits},
    };
    // Inexact differences and a subnormal displacement, so that every setting
    // gives other forces.
    const Operands operands = {15000.0, 4.0, 0.01, 0.03, 0.0, 0x1p-1060};
    std::vector<fmiReal> underCallers;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        setFloatingPointControl(test.mxcsr);
        const std::uint32_t before = floatingPointControl();
        const fmiComponent c = instantiate();
        EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
        setOperands(c, operands);
        step(c);
        const std::vector<fmiReal> values = realValues(c);
        terminateAndFree(c);
        const std::uint32_t after = floatingPointControl();
        const std::vector<fmiReal> expected = predicted(operands);
        setFloatingPointControl(original);

        EXPECT_EQ(before & kControl, after & kControl);
        EXPECT_TRUE(sameBits(expected, values));
        if (underCallers.empty()) {
            underCallers = forcesIn(values);
        } else {
            EXPECT_FALSE(sameBits(underCallers, forcesIn(values))) << "the setting made no mark";
        }
    }
}
