// The travel stop: its force bit for bit through real steps, its start values
// and reset, the substep taken as step * 0.1, and the flush-to-zero setup that
// loading the library leaves in the loading thread. gtest runs every test in
// that thread, so the test's own arithmetic runs under the same control bits as
// the slave's.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "SlaveTest.h"

namespace {

constexpr const char* kGuid = "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}";

enum : fmiValueReference {
    kLowerLimit,
    kLowerRate,
    kUpperLimit,
    kUpperRate,
    kDisplacement,
    kForce,
    kRealCount,
};

// R[0] to R[3]: lower limit, lower rate, upper limit, upper rate.
using Parameters = std::array<fmiReal, 4>;

constexpr Parameters kStart = {-0.055, 50000.0, 0.09, 50000.0};

constexpr fmiReal kInfinity = std::numeric_limits<fmiReal>::infinity();
constexpr fmiReal kNaN = std::numeric_limits<fmiReal>::quiet_NaN();

// A signalling NaN: no arithmetic result is one, so a force still holding it
// after a step was never computed.
constexpr std::uint64_t kNotComputedBits = 0x7FF400000000BEEFULL;

// The times of the ten substeps: successive rounded additions, never start + k * h.
std::vector<fmiReal> substepTimes(fmiReal start, fmiReal substep) {
    std::vector<fmiReal> times;
    fmiReal t = start;
    for (int i = 0; i < 10; ++i) {
        t += substep;
        times.push_back(t);
    }
    return times;
}

std::string describe(const std::vector<fmiReal>& values) {
    static const char* const names[] = {"lower limit", "lower rate", "upper limit", "upper rate",
                                        "displacement"};
    std::ostringstream out;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        out << (i == 0 ? "" : ", ") << names[i] << " " << testing::PrintToString(values[i])
            << " (0x" << std::hex << bitsOf(values[i]) << std::dec << ")";
    }
    return out.str();
}

// Reproducible draws from the classes of doubles where the force's arithmetic
// can go wrong. Only the engine's raw output is used, a sequence that the
// standard fixes, so the cases are the same with every standard library.
class ValueDrawer {
  public:
    explicit ValueDrawer(std::uint64_t seed) : engine_(seed) {}

    // Fills R[0] to R[4]: parameters drawn or left at their start values, and
    // a displacement that half the time lies within three units in the last
    // place of a limit, the band's edges being where the comparisons decide.
    void draw(std::vector<fmiReal>& r) {
        if (below(8) == 0) {
            std::copy(kStart.begin(), kStart.end(), r.begin());
        } else {
            for (const fmiValueReference vr : {kLowerLimit, kLowerRate, kUpperLimit, kUpperRate}) {
                store(r[vr], bits());
            }
        }
        if (below(2) == 0) {
            fmiReal x = r[below(2) == 0 ? kLowerLimit : kUpperLimit];
            const int ulps = static_cast<int>(below(7)) - 3;
            for (int i = 0; i < std::abs(ulps); ++i) {
                x = std::nextafter(x, ulps > 0 ? kInfinity : -kInfinity);
            }
            r[kDisplacement] = x;
        } else {
            store(r[kDisplacement], bits());
        }
    }

  private:
    static constexpr std::uint64_t kMantissa = (std::uint64_t{1} << 52) - 1;
    static constexpr std::uint64_t kExponent = std::uint64_t{0x7FF} << 52;

    std::uint64_t below(std::uint64_t n) {
        return engine_() % n;
    }

    std::uint64_t bits() {
        const std::uint64_t sign = below(2) << 63;
        switch (below(8)) {
            case 0:
                return sign;  // zero
            case 1:
                return sign | (1 + below(kMantissa));  // subnormal
            case 2:
                return sign | kExponent;  // infinity
            case 3:
                return sign | kExponent | (1 + below(kMantissa));  // NaN, quiet or signalling
            case 4:
                return sign | normal(1, 4);  // tiny: differences and products underflow
            case 5:
                return sign | normal(2043, 4);  // huge: products overflow
            case 6:
                return sign | normal(1013, 20);  // ordinary magnitudes, 2^-10 to 2^10
            default:
                return sign | normal(1, 2046);  // any normal
        }
    }

    // A normal number with a biased exponent from first to first + count - 1.
    std::uint64_t normal(std::uint64_t first, std::uint64_t count) {
        return (first + below(count)) << 52 | (engine_() & kMantissa);
    }

    // Byte copies keep signalling NaNs signalling on 32-bit x86, where a
    // double passed by value may travel through the x87 unit.
    static void store(fmiReal& target, std::uint64_t value) {
        std::memcpy(&target, &value, sizeof target);
    }

    std::mt19937_64 engine_;
};

class PendrakeTest : public SlaveTest {
  protected:
    // Sets all six values in one call, the force to the not-computed marker,
    // runs one step whose ten substeps are all time events, and reads them all.
    std::vector<fmiReal> stepWith(fmiComponent c, const std::vector<fmiReal>& values) {
        std::vector<fmiValueReference> vr(kRealCount);
        for (fmiValueReference i = 0; i < kRealCount; ++i) {
            vr[i] = i;
        }
        std::vector<fmiReal> given = values;
        given.resize(kRealCount);
        std::memcpy(&given[kForce], &kNotComputedBits, sizeof(fmiReal));
        EXPECT_EQ(fmi().setReal(c, vr.data(), vr.size(), given.data()), fmiOK);
        EXPECT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
        std::vector<fmiReal> result(kRealCount);
        EXPECT_EQ(fmi().getReal(c, vr.data(), vr.size(), result.data()), fmiOK);
        return result;
    }

    fmiReal forceAfterStep(fmiComponent c, const Parameters& p, fmiReal displacement) {
        return stepWith(c, {p[0], p[1], p[2], p[3], displacement})[kForce];
    }

    ExpectedLog callTrace(fmiComponent c, fmiReal point, fmiReal step) const {
        return {c,
                kName,
                fmiOK,
                "log",
                "fmiDoStep: currentCommunicationPoint = %g, communicationStepSize = %g, "
                "newStep = fmi%s",
                {arg(point), arg(step), arg("True")}};
    }

    ExpectedLog eventTrace(fmiComponent c, fmiReal time) const {
        return {c, kName, fmiOK, "log", "fmiDoStep: time event detected at %g", {arg(time)}};
    }
};

using PendrakeModel = PendrakeTest;
using PendrakeSubstep = PendrakeTest;
using PendrakeFloatingPoint = PendrakeTest;

}  // namespace

TEST_F(PendrakeModel, ForceOfEachDisplacement) {
    const Parameters inverted = {1.0, 2.0, -1.0, 50000.0};
    const Parameters nanLower = {kNaN, 50000.0, 0.09, 50000.0};
    const Parameters nanUpper = {-0.055, 50000.0, kNaN, 50000.0};
    const Parameters noUpperRate = {-0.055, 50000.0, 0.09, 0.0};
    const Parameters infiniteRates = {-0.055, kInfinity, 0.09, kInfinity};
    struct Case {
        const char* what;
        Parameters parameters;
        fmiReal displacement;
        fmiReal force;
    };
    const std::vector<Case> cases = {
        {"far below the band", kStart, -1.0, 47250.0},
        {"below the band", kStart, -0.125, 3500.0000000000005},
        {"just below the band", kStart, -0.065, 500.0000000000001},
        {"one ulp below the lower limit", kStart, std::nextafter(-0.055, -1.0),
         3.469446951953614e-13},
        {"on the lower limit", kStart, -0.055, +0.0},
        {"inside the band", kStart, 0.0, +0.0},
        {"negative zero inside the band", kStart, -0.0, +0.0},
        {"on the upper limit", kStart, 0.09, +0.0},
        {"one ulp above the upper limit", kStart, 0.09000000000000001, -6.938893903907228e-13},
        {"just above the band", kStart, 0.1, -500.00000000000045},
        {"above the band", kStart, 0.25, -8000.0},
        {"far above the band", kStart, 1.0, -45500.0},
        {"NaN", kStart, kNaN, +0.0},
        {"minus infinity", kStart, -kInfinity, kInfinity},
        {"plus infinity", kStart, kInfinity, -kInfinity},
        // The product is formed even with a zero rate, so its sign survives.
        {"zero rate above the band", noUpperRate, 1.0, -0.0},
        // On a limit no product is formed; with an infinite rate it would be NaN.
        {"on the lower limit, infinite rate", infiniteRates, -0.055, +0.0},
        {"on the upper limit, infinite rate", infiniteRates, 0.09, +0.0},
        // Inverted limits: the lower side is tested first.
        {"inverted, between the limits", inverted, 0.0, 2.0},
        {"inverted, below both", inverted, -2.0, 6.0},
        {"inverted, on the lower limit", inverted, 1.0, -100000.0},
        {"inverted, above both", inverted, 1.5, -125000.0},
        // A NaN limit disables its own side only.
        {"NaN lower limit, below", nanLower, -1.0, +0.0},
        {"NaN lower limit, above", nanLower, 1.0, -45500.0},
        {"NaN upper limit, above", nanUpper, 1.0, +0.0},
        {"NaN upper limit, below", nanUpper, -1.0, 47250.0},
    };
    ASSERT_TRUE(sameBits(std::nextafter(0.09, 1.0), 0.09000000000000001));
    const fmiComponent c = initialized();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_TRUE(sameBits(test.force, forceAfterStep(c, test.parameters, test.displacement)));
    }
    terminateAndFree(c);
}

TEST_F(PendrakeModel, StartValuesAfterInstantiationAndInitialization) {
    const std::vector<fmiReal> start = {-0.055, 50000.0, 0.09, 50000.0, +0.0, +0.0};
    const std::vector<fmiReal> startBits = {fromBits(0xBFAC28F5C28F5C29ULL),
                                            fromBits(0x40E86A0000000000ULL),
                                            fromBits(0x3FB70A3D70A3D70AULL),
                                            fromBits(0x40E86A0000000000ULL),
                                            fromBits(0),
                                            fromBits(0)};
    const fmiComponent c = instantiate();
    EXPECT_TRUE(sameBits(start, realValues(c)));
    EXPECT_TRUE(sameBits(startBits, realValues(c)));
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    EXPECT_TRUE(sameBits(start, realValues(c)));
    terminateAndFree(c);
}

TEST_F(PendrakeModel, ResetRestoresTheParametersOnly) {
    const fmiComponent c = initialized();
    const std::vector<fmiReal> stepped = stepWith(c, {-0.5, 2.0, 0.5, 4.0, 1.0});
    ASSERT_TRUE(sameBits({-0.5, 2.0, 0.5, 4.0, 1.0, -2.0}, stepped));
    ASSERT_EQ(fmi().resetSlave(c), fmiOK);
    EXPECT_TRUE(sameBits({-0.055, 50000.0, 0.09, 50000.0, 1.0, -2.0}, realValues(c)));
    // The restored parameters are the ones that the next step uses.
    ASSERT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    ASSERT_EQ(fmi().doStep(c, 0.0, 1.0, fmiTrue), fmiOK);
    EXPECT_TRUE(sameBits(-45500.0, realValues(c)[kForce]));
    terminateAndFree(c);
}

// The generic suites refuse every other spelling of the definition's GUID.
TEST_F(PendrakeModel, GuidIsTheDeliverables) {
    EXPECT_EQ(model().guid, kGuid);
}

// 1.6 * 0.1 is 0.16000000000000003 where 1.6 / 10 is 0.16, and that last bit
// decides whether the tenth substep from -2.6 lies beyond the time event at -1.0.
TEST_F(PendrakeSubstep, OneBitDecidesTheLastTimeEvent) {
    ASSERT_TRUE(sameBits(-0.9999999999999988, substepTimes(-2.6, 1.6 * 0.1).back()));
    ASSERT_TRUE(sameBits(-1.0000000000000002, substepTimes(-2.6, 1.6 / 10.0).back()));
    const fmiComponent c = initialized(fmiTrue);
    setReal(c, kDisplacement, 1.0);
    clearLogs();
    EXPECT_EQ(fmi().doStep(c, -2.6, 1.6, fmiTrue), fmiOK);
    EXPECT_TRUE(matchAll({callTrace(c, -2.6, 1.6), eventTrace(c, -0.9999999999999988)}, logs()));
    EXPECT_TRUE(sameBits(-45500.0, realValues(c)[kForce]));
    terminateAndFree(c);
}

TEST_F(PendrakeSubstep, StepOfOneTenthEndsAboveOneTenth) {
    const std::vector<fmiReal> times = substepTimes(0.0, 0.1 * 0.1);
    ASSERT_TRUE(sameBits(0.10000000000000003, times.back()));
    ASSERT_TRUE(sameBits(0.09999999999999999, substepTimes(0.0, 0.1 / 10.0).back()));
    const fmiComponent c = initialized(fmiTrue);
    clearLogs();
    EXPECT_EQ(fmi().doStep(c, 0.0, 0.1, fmiTrue), fmiOK);
    std::vector<ExpectedLog> expected = {callTrace(c, 0.0, 0.1)};
    for (const fmiReal t : times) {
        expected.push_back(eventTrace(c, t));
    }
    EXPECT_TRUE(matchAll(expected, logs()));
    terminateAndFree(c);
}

TEST_F(PendrakeFloatingPoint, LoadingSetsFlushToZeroAndSupportedDenormalsAreZero) {
    const std::uint32_t before = testContext().mxcsrBeforeLoad;
    const std::uint32_t after = testContext().mxcsrAfterLoad;
    const bool daz = processorSupportsDaz();
    EXPECT_NE(after & kFlushToZeroBit, 0U);
    EXPECT_EQ((after & kDenormalsAreZeroBit) != 0, daz);
    const std::uint32_t others = ~(kFlushToZeroBit | kDenormalsAreZeroBit);
    EXPECT_EQ(before & others, after & others)
        << std::hex << "MXCSR before load 0x" << before << ", after 0x" << after;
    // Nothing undoes the setup: the thread keeps its control bits.
    EXPECT_EQ(floatingPointControl() & ~kStatusFlags, after & ~kStatusFlags);
}

TEST_F(PendrakeFloatingPoint, ForceFlushesToZeroInTheLoadingThread) {
    ASSERT_NE(floatingPointControl() & kFlushToZeroBit, 0U)
        << "not the thread that loaded the library";
    const bool daz = processorSupportsDaz();
    struct Case {
        const char* what;
        Parameters parameters;
        fmiReal displacement;
        fmiReal force;
    };
    const std::vector<Case> cases = {
        // The exact products, about 1e-310, are subnormal; the zero keeps their sign.
        {"below", {0.0, 1.0e-10, 0.09, 50000.0}, -1.0e-300, +0.0},
        {"above", {-0.055, 50000.0, 0.0, 1.0e-10}, 1.0e-300, -0.0},
        // A subnormal rate reads as zero under denormals-are-zero; else 2^100 * 2^-1060.
        {"subnormal rate", {0.0, 0x1p-1060, 0.09, 50000.0}, -0x1p100, daz ? +0.0 : 0x1p-960},
        // (1 + 2^-52)(1 - 2^-52) 2^-1022 lies just below the smallest normal and
        // rounds up to it: not tiny after rounding, as x86 sees it, on AArch64 too.
        {"rounding up to the smallest normal",
         {0.0, 0x1.ffffffffffffep-423, 0.09, 50000.0},
         -0x1.0000000000001p-600,
         0x1p-1022},
    };
    const fmiComponent c = initialized();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_TRUE(sameBits(test.force, forceAfterStep(c, test.parameters, test.displacement)));
    }
    terminateAndFree(c);
}

// The stepping loop's arithmetic flushes too: 2^-1020 * 0.1 is subnormal, so
// the substep is zero and time stands still.
TEST_F(PendrakeFloatingPoint, SubstepFlushesToZero) {
    ASSERT_NE(floatingPointControl() & kFlushToZeroBit, 0U)
        << "not the thread that loaded the library";
    const fmiComponent c = initialized(fmiTrue);
    clearLogs();
    EXPECT_EQ(fmi().doStep(c, 0.0, 0x1p-1020, fmiTrue), fmiOK);
    std::vector<ExpectedLog> expected = {callTrace(c, 0.0, 0x1p-1020)};
    for (int i = 0; i < 10; ++i) {
        expected.push_back(eventTrace(c, +0.0));
    }
    EXPECT_TRUE(matchAll(expected, logs()));
    terminateAndFree(c);
}

TEST_F(PendrakeFloatingPoint, ForceMatchesTheEquationOverRandomInputs) {
    ASSERT_NE(floatingPointControl() & kFlushToZeroBit, 0U)
        << "not the thread that loaded the library";
    constexpr int kCases = 20000;
    ValueDrawer drawer(0x7E4D4A4BULL);
    const fmiComponent c = initialized();
    std::vector<fmiReal> inputs(kRealCount);
    for (int n = 0; n < kCases; ++n) {
        drawer.draw(inputs);
        const std::vector<fmiReal> actual = stepWith(c, inputs);
        std::vector<fmiReal> expected = inputs;
        model().equation(expected);
        if (auto same = sameBits(expected, actual); !same) {
            ADD_FAILURE() << "case " << n << ": " << describe(inputs) << ": " << same.message();
            break;
        }
    }
    terminateAndFree(c);
}
