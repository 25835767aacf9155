// One scenario per model, the same on every platform: steps with values drawn
// from the classes of doubles where arithmetic can differ between compilers
// and targets (signed zeros, subnormals, infinities, NaN payloads, products
// that overflow or underflow) and step sizes where the substep rule and the
// time events decide. Every value after every step is compared bit for bit
// with one reference per model, kept with the tests; since each platform's
// binary must match the same reference, the platforms agree with each other.
// Each run also leaves its values in the build directory for diffing. A new
// model's reference is written by one run of the host build, then every
// platform must match it:
//   SLAVE_WRITE_IDENTITY=1 build/host/tests/slave_tests build/host/<Id>.so
//       --gtest_filter=CrossPlatform.*
// The scenario takes the number of values and the start values from the
// model's definition, so it needs nothing per model.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "SlaveTest.h"

#ifndef SLAVE_TEST_SOURCE_DIR
#error "SLAVE_TEST_SOURCE_DIR must name the tests' source directory"
#endif
#ifndef SLAVE_TEST_BINARY_DIR
#error "SLAVE_TEST_BINARY_DIR must name the build directory"
#endif

namespace {

constexpr int kSteps = 120;

// Only the engine's raw output is used, a sequence that the standard fixes,
// so every standard library draws the same values.
class Drawer {
  public:
    explicit Drawer(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t below(std::uint64_t n) {
        return engine_() % n;
    }

    fmiReal value() {
        const std::uint64_t sign = below(2) << 63;
        switch (below(10)) {
            case 0:
                return fromBits(sign);  // zero
            case 1:
                return fromBits(sign | (1 + below(kMantissa)));  // subnormal
            case 2:
                return fromBits(sign | kExponent);  // infinity
            case 3:
                return fromBits(sign | kExponent | (1 + below(kMantissa)));  // any NaN
            case 4:
                return fromBits(sign | normal(1, 4));  // tiny
            case 5:
                return fromBits(sign | normal(2043, 4));  // huge
            case 6:
            case 7:
                return fromBits(sign | normal(1013, 20));  // 2^-10 to 2^10
            case 8:
                // Two decimal digits, as a master's inputs often are.
                return static_cast<fmiReal>(static_cast<int>(below(2001)) - 1000) / 100.0;
            default:
                return fromBits(sign | normal(1, 2046));  // any normal
        }
    }

  private:
    static constexpr std::uint64_t kMantissa = (std::uint64_t{1} << 52) - 1;
    static constexpr std::uint64_t kExponent = std::uint64_t{0x7FF} << 52;

    std::uint64_t normal(std::uint64_t first, std::uint64_t count) {
        return (first + below(count)) << 52 | (engine_() & kMantissa);
    }

    std::mt19937_64 engine_;
};

struct Step {
    fmiReal communicationPoint;
    fmiReal stepSize;
};

// Step sizes where the rule for the substep, the strict event test at -1.0,
// the zero step and flushed substeps decide what happens.
const Step kFixedSteps[] = {
    {0.0, 1.0},  {-2.6, 1.6}, {-2.0, 1.0}, {0.0, 0.1},       {-1.5, 5.0},    {-6.0, 5.0},
    {-7.0, 5.0}, {1.0, 0.0},  {1.0, -0.0}, {0.0, 0x1p-1020}, {1e300, 1e300}, {-0.5, -0.3},
};

std::string hex(fmiReal value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bitsOf(value)));
    return text;
}

// A NaN result is written without its payload and sign: where two NaNs meet
// in one operation, which of them comes out depends on the order in which the
// compiler placed the operands of a commutative operation, not on the model.
std::string resultText(fmiReal value) {
    return std::isnan(value) ? std::string("nan") : hex(value);
}

class CrossPlatform : public SlaveTest {};

}  // namespace

TEST_F(CrossPlatform, SameValuesAsTheReference) {
    const std::string& identifier = model().identifier;
    const std::uint32_t count = model().realCount();
    Drawer drawer(0xC0551DE17172ULL + count);
    std::vector<fmiValueReference> vr(count);
    for (fmiValueReference i = 0; i < count; ++i) {
        vr[i] = i;
    }
    const std::vector<fmiReal> start = model().freshValues();

    std::ostringstream actual;
    actual << "# " << identifier
           << ": per step the communication point, step size, the values set (every value "
              "reference) | the values read after the step, as binary64 bits\n";
    const fmiComponent c = initialized();
    for (int n = 0; n < kSteps; ++n) {
        Step step{};
        if (drawer.below(2) == 0) {
            step = kFixedSteps[drawer.below(std::size(kFixedSteps))];
        } else {
            step = {drawer.value(), drawer.value()};
        }
        // A quarter of the steps keep the start parameters, where the
        // models are meant to run.
        std::vector<fmiReal> given(count);
        const bool keepStart = drawer.below(4) == 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            given[i] = keepStart && model().startValues[i].has_value() ? start[i] : drawer.value();
        }
        ASSERT_EQ(fmi().setReal(c, vr.data(), count, given.data()), fmiOK);
        ASSERT_EQ(fmi().doStep(c, step.communicationPoint, step.stepSize, fmiTrue), fmiOK);
        std::vector<fmiReal> result(count);
        ASSERT_EQ(fmi().getReal(c, vr.data(), count, result.data()), fmiOK);

        actual << hex(step.communicationPoint) << ' ' << hex(step.stepSize);
        for (const fmiReal value : given) {
            actual << ' ' << hex(value);
        }
        actual << " |";
        for (const fmiReal value : result) {
            actual << ' ' << resultText(value);
        }
        actual << '\n';
    }
    terminateAndFree(c);

    const std::string written =
        std::string(SLAVE_TEST_BINARY_DIR) + "/identity/" + identifier + ".txt";
    const std::string reference =
        std::string(SLAVE_TEST_SOURCE_DIR) + "/identity/" + identifier + ".txt";
    std::ofstream(written, std::ios::binary) << actual.str();
    std::ifstream in(reference, std::ios::binary);
    // A new model's reference: SLAVE_WRITE_IDENTITY=1 writes this run's values
    // where none is kept yet, never over one that is.
    const char* const write = std::getenv("SLAVE_WRITE_IDENTITY");
    if (!in && write != nullptr && std::string(write) == "1") {
        ASSERT_TRUE(std::ofstream(reference, std::ios::binary) << actual.str())
            << "cannot write " << reference;
        std::printf("wrote the reference %s\n", reference.c_str());
        return;
    }
    ASSERT_TRUE(in) << "no reference " << reference << "; this run's values are in " << written
                    << ": check them, or write them there with SLAVE_WRITE_IDENTITY=1";
    const std::string expected{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    if (expected != actual.str()) {
        std::istringstream expectedLines(expected);
        std::istringstream actualLines(actual.str());
        std::string expectedLine;
        std::string actualLine;
        int line = 0;
        for (;;) {
            const bool moreExpected = static_cast<bool>(std::getline(expectedLines, expectedLine));
            const bool moreActual = static_cast<bool>(std::getline(actualLines, actualLine));
            if (!moreExpected && !moreActual) {
                break;
            }
            ++line;
            if (!moreExpected || !moreActual || expectedLine != actualLine) {
                break;
            }
        }
        ADD_FAILURE() << written << " differs from " << reference << " first at line " << line
                      << ":\n  reference: " << expectedLine << "\n  this run:  " << actualLine;
    }
}
