// The fixture that every test of a loaded slave library derives from: the
// library under test, the recording callbacks, and short forms of the calls
// a master makes. At the end of each test it reports leaks, double frees and
// frees of unknown pointers, and any null handed to a "%s" of the logger.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Callbacks.h"
#include "FloatingPointBits.h"
#include "Fmi2Functions.h"
#include "Fmi3Functions.h"
#include "FmiTypes.h"
#include "ModelFacts.h"
#include "RecordingAllocator.h"
#include "RecordingLogger.h"
#include "SlaveLibrary.h"

struct TestContext {
    SlaveLibrary library;
    Fmi2Functions fmi2;  // resolved for an FMI 2.0 library only
    Fmi3Functions fmi3;  // resolved for an FMI 3.0 library only
    const ModelFacts* facts = nullptr;
    std::uint32_t mxcsrBeforeLoad = 0;
    std::uint32_t mxcsrAfterLoad = 0;
};

TestContext& testContext();

inline std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Doubles compared bit for bit: +0.0 and -0.0 differ, a NaN equals its own bits.
::testing::AssertionResult sameBits(const std::vector<fmiReal>& expected,
                                    const std::vector<fmiReal>& actual);
::testing::AssertionResult sameBits(fmiReal expected, fmiReal actual);
// As sameBits, but any NaN matches any NaN: where two NaNs meet in one
// operation, which payload comes out depends on the order in which the
// compiler placed the operands of a commutative operation.
::testing::AssertionResult sameValues(const std::vector<fmiReal>& expected,
                                      const std::vector<fmiReal>& actual);

// One argument that a logger call is expected to carry.
struct Expected {
    enum class Kind { Integer, Real, Text } kind;
    long long integer = 0;
    double real = 0.0;
    std::string text;

    static Expected integerArgument(long long value) {
        return {Kind::Integer, value, 0.0, {}};
    }
    static Expected realArgument(double value) {
        return {Kind::Real, 0, value, {}};
    }
    static Expected textArgument(std::string value) {
        return {Kind::Text, 0, 0.0, std::move(value)};
    }
};

// A whole logger call: component, instance name, status, category, format and
// the typed arguments (reals bit for bit).
struct ExpectedLog {
    fmiComponent component;
    const char* instanceName;  // null when the logger must receive a null name
    fmiStatus status;
    std::string category;
    std::string format;
    std::vector<Expected> arguments;
};

::testing::AssertionResult matches(const ExpectedLog& expected, const LogRecord& actual);
::testing::AssertionResult matchAll(const std::vector<ExpectedLog>& expected,
                                    const std::vector<LogRecord>& actual);

inline Expected arg(int value) {
    return Expected::integerArgument(value);
}
inline Expected arg(unsigned value) {
    return Expected::integerArgument(value);
}
inline Expected arg(double value) {
    return Expected::realArgument(value);
}
inline Expected arg(const char* value) {
    return Expected::textArgument(value);
}

// The control bits alone, without the status flags.
inline unsigned mxcsrControl() {
    return floatingPointControl() & ~kStatusFlags;
}

// A step of the cross-platform scenario (tests/identity/) with the 1.0
// library's values after it: the parameters and inputs set, the step taken,
// every value read.
struct ReferenceStep {
    int line;
    fmiReal point;
    fmiReal size;
    std::vector<fmiReal> given;
    std::vector<fmiReal> expected;
};

// Communication points and step sizes that no step may have: no finite
// positive size or no finite time.
const std::vector<std::pair<fmiReal, fmiReal>>& refusedSteps();

class SlaveTest : public ::testing::Test {
  protected:
    static constexpr const char* kName = "slave";

    void SetUp() override;
    void TearDown() override;

    const FmiFunctions& fmi() const {
        return testContext().library.fmi();
    }
    const ModelFacts& model() const {
        return *testContext().facts;
    }

    // fmiInstantiateSlave exactly as given, with the model's GUID by default.
    fmiComponent instantiateRaw(fmiString name, fmiString guid,
                                const fmiCallbackFunctions& functions, fmiBoolean loggingOn);
    fmiComponent instantiate(fmiBoolean loggingOn = fmiFalse, fmiString name = kName);
    fmiComponent initialized(fmiBoolean loggingOn = fmiFalse, fmiString name = kName);

    // The instance is deliberately left in Error and can never be freed: its
    // blocks are not reported as a leak.
    void leaveInError(fmiComponent c);
    // Terminates (from Initialized) and frees an instance, expecting success.
    void terminateAndFree(fmiComponent c);

    std::vector<fmiReal> realValues(fmiComponent c);
    void setReal(fmiComponent c, fmiValueReference vr, fmiReal value);
    void setReals(fmiComponent c, const std::vector<fmiReal>& values);  // every reference

    std::vector<LogRecord> logs() const {
        return logRecorder().records();
    }
    void clearLogs() {
        logRecorder().clear();
    }

    // What the FMI 2.0 and 3.0 fixtures share: the model's values and the
    // floating-point environment it was validated in.

    // Parameters around their start values, inputs displacement-sized,
    // outputs 0; one draw in eight a subnormal, so that flush-to-zero shows.
    std::vector<fmiReal> randomKnowns(unsigned seed) const;

    // The result of compute() run in the model's floating-point environment.
    template <typename Compute>
    auto inModelEnvironment(Compute compute) const {
        const unsigned saved = floatingPointControl();
        if (model().flushesToZero) {
            setFloatingPointControl(saved | kFlushToZeroBits);
        }
        const auto result = compute();
        setFloatingPointControl(saved);
        return result;
    }

    // The values with the outputs of the model's equation, computed in the
    // floating-point environment the model was validated in.
    std::vector<fmiReal> withForces(std::vector<fmiReal> values) const;
    // The values after the ten substeps of a step from these, as they stand
    // before it: the same as withForces for a model whose outputs follow from
    // its knowns alone, ten updates on for one that carries them on.
    std::vector<fmiReal> afterStep(std::vector<fmiReal> values) const;

    // The steps of the scenario that the 1.0 library computes (at substeps
    // after -1.0) and that a 2.0 or 3.0 library accepts.
    std::vector<ReferenceStep> computedReferenceSteps() const;

    // How an FMI 2.0 or 3.0 instance is driven by the version-independent
    // checks below.
    struct Driver {
        std::function<void(const std::vector<fmiReal>& knowns)> initialize;
        std::vector<std::function<void()>> calls;  // after initialization
        std::function<std::vector<fmiReal>()> stepAndRead;
        std::function<std::vector<fmiReal>()> read;
    };
    // The library leaves the master's MXCSR as it finds it, at load and in
    // every call, while a model validated under flush-to-zero computes under
    // it in whatever thread the master calls from.
    void expectTheMastersFloatingPointEnvironmentKept(const Driver& driver);

  private:
    std::map<fmiComponent, std::pair<std::size_t, std::size_t>> instanceRequests_;
};
