#include "SlaveTest.h"

#include <cinttypes>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

TestContext& testContext() {
    static TestContext context;
    return context;
}

namespace {

// Formatted here: the assertion result formats each item in a fresh stream,
// so a std::hex handed to it would not stick.
std::string hexBits(fmiReal value) {
    std::ostringstream out;
    out << "0x" << std::hex << bitsOf(value);
    return out.str();
}

}  // namespace

::testing::AssertionResult sameBits(fmiReal expected, fmiReal actual) {
    if (bitsOf(expected) == bitsOf(actual)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "expected " << testing::PrintToString(expected) << " (" << hexBits(expected)
           << "), got " << testing::PrintToString(actual) << " (" << hexBits(actual) << ")";
}

::testing::AssertionResult sameBits(const std::vector<fmiReal>& expected,
                                    const std::vector<fmiReal>& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "expected " << expected.size() << " values, got " << actual.size();
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (auto result = sameBits(expected[i], actual[i]); !result) {
            return ::testing::AssertionFailure() << "value " << i << ": " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameValues(const std::vector<fmiReal>& expected,
                                      const std::vector<fmiReal>& actual) {
    if (expected.size() != actual.size()) {
        return sameBits(expected, actual);
    }
    std::vector<fmiReal> comparable = actual;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i]) && std::isnan(actual[i])) {
            comparable[i] = expected[i];
        }
    }
    return sameBits(expected, comparable);
}

namespace {

std::string describe(const LogRecord& r) {
    std::ostringstream out;
    out << "{component " << r.component << ", instance "
        << (r.instanceNameIsNull ? "(null)" : "\"" + r.instanceName + "\"") << ", status "
        << r.status << ", category \"" << r.category << "\", format \"" << r.format << "\", text \""
        << r.text << "\"}";
    return out.str();
}

::testing::AssertionResult argumentMatches(const Expected& expected, const LogArgument& actual) {
    switch (expected.kind) {
        case Expected::Kind::Integer: {
            const bool isUnsigned = actual.conversion == 'u' || actual.conversion == 'x';
            const long long value =
                isUnsigned ? static_cast<long long>(actual.unsignedInteger) : actual.integer;
            if (value == expected.integer) {
                return ::testing::AssertionSuccess();
            }
            return ::testing::AssertionFailure()
                   << "integer " << value << " instead of " << expected.integer;
        }
        case Expected::Kind::Real:
            return sameBits(expected.real, actual.real);
        case Expected::Kind::Text:
            if (!actual.isNullString && actual.text == expected.text) {
                return ::testing::AssertionSuccess();
            }
            return ::testing::AssertionFailure()
                   << "text \"" << (actual.isNullString ? "(null)" : actual.text)
                   << "\" instead of \"" << expected.text << "\"";
    }
    return ::testing::AssertionFailure();
}

}  // namespace

::testing::AssertionResult matches(const ExpectedLog& expected, const LogRecord& actual) {
    auto failure = [&]() { return ::testing::AssertionFailure() << describe(actual) << ": "; };
    if (actual.component != expected.component) {
        return failure() << "component " << actual.component << " instead of "
                         << expected.component;
    }
    const bool nameMatches =
        expected.instanceName == nullptr
            ? actual.instanceNameIsNull
            : !actual.instanceNameIsNull && actual.instanceName == expected.instanceName;
    if (!nameMatches) {
        return failure() << "wrong instance name, expected "
                         << (expected.instanceName ? expected.instanceName : "null");
    }
    if (actual.status != expected.status) {
        return failure() << "status " << actual.status << " instead of " << expected.status;
    }
    if (actual.category != expected.category) {
        return failure() << "category instead of \"" << expected.category << "\"";
    }
    if (actual.format != expected.format) {
        return failure() << "format instead of \"" << expected.format << "\"";
    }
    if (actual.arguments.size() != expected.arguments.size()) {
        return failure() << actual.arguments.size() << " arguments instead of "
                         << expected.arguments.size();
    }
    for (std::size_t i = 0; i < expected.arguments.size(); ++i) {
        if (auto result = argumentMatches(expected.arguments[i], actual.arguments[i]); !result) {
            return failure() << "argument " << i << ": " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult matchAll(const std::vector<ExpectedLog>& expected,
                                    const std::vector<LogRecord>& actual) {
    for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
        if (auto result = matches(expected[i], actual[i]); !result) {
            return ::testing::AssertionFailure() << "logger call " << i << ": " << result.message();
        }
    }
    if (expected.size() != actual.size()) {
        auto failure = ::testing::AssertionFailure()
                       << actual.size() << " logger calls instead of " << expected.size();
        for (const auto& record : actual) {
            failure << "\n  " << describe(record);
        }
        return failure;
    }
    return ::testing::AssertionSuccess();
}

void SlaveTest::SetUp() {
    logRecorder().clear();
    logRecorder().setHook(nullptr);
    recordingAllocator().reset();
    resetStepFinishedCalls();
    instanceRequests_.clear();
}

void SlaveTest::TearDown() {
    logRecorder().setHook(nullptr);
    for (const auto& record : logRecorder().records()) {
        for (const auto& argument : record.arguments) {
            EXPECT_FALSE(argument.isNullString) << "null handed to %s: " << describe(record);
        }
        EXPECT_TRUE(record.formatProblem.empty()) << record.formatProblem;
    }
    for (const auto& problem : recordingAllocator().endOfTestReport()) {
        ADD_FAILURE() << problem;
    }
    EXPECT_EQ(stepFinishedCalls(), 0) << "stepFinished is never to be called";
}

fmiComponent SlaveTest::instantiateRaw(fmiString name, fmiString guid,
                                       const fmiCallbackFunctions& functions,
                                       fmiBoolean loggingOn) {
    const std::size_t before = recordingAllocator().requestCount();
    const fmiComponent c = fmi().instantiateSlave(name, guid, "file:///unused", "", 0.0, fmiFalse,
                                                  fmiFalse, functions, loggingOn);
    if (c != nullptr) {
        instanceRequests_[c] = {before, recordingAllocator().requestCount()};
    }
    return c;
}

fmiComponent SlaveTest::instantiate(fmiBoolean loggingOn, fmiString name) {
    const fmiComponent c =
        instantiateRaw(name, model().guid.c_str(), recordingCallbacks(), loggingOn);
    EXPECT_NE(c, nullptr);
    return c;
}

fmiComponent SlaveTest::initialized(fmiBoolean loggingOn, fmiString name) {
    const fmiComponent c = instantiate(loggingOn, name);
    EXPECT_EQ(fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    return c;
}

void SlaveTest::leaveInError(fmiComponent c) {
    const auto found = instanceRequests_.find(c);
    ASSERT_NE(found, instanceRequests_.end());
    recordingAllocator().abandonRequestsBetween(found->second.first, found->second.second);
}

void SlaveTest::terminateAndFree(fmiComponent c) {
    EXPECT_EQ(fmi().terminateSlave(c), fmiOK);
    fmi().freeSlaveInstance(c);
}

std::vector<fmiReal> SlaveTest::realValues(fmiComponent c) {
    std::vector<fmiValueReference> vr(model().realCount());
    for (std::size_t i = 0; i < vr.size(); ++i) {
        vr[i] = static_cast<fmiValueReference>(i);
    }
    std::vector<fmiReal> values(vr.size());
    EXPECT_EQ(fmi().getReal(c, vr.data(), vr.size(), values.data()), fmiOK);
    return values;
}

void SlaveTest::setReal(fmiComponent c, fmiValueReference vr, fmiReal value) {
    EXPECT_EQ(fmi().setReal(c, &vr, 1, &value), fmiOK);
}

void SlaveTest::setReals(fmiComponent c, const std::vector<fmiReal>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        setReal(c, static_cast<fmiValueReference>(i), values[i]);
    }
}

std::vector<fmiReal> SlaveTest::randomKnowns(unsigned seed) const {
    std::mt19937_64 random(seed);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(random() >> 11) * 0x1p-53;
    };
    std::vector<fmiReal> values = model().freshValues();
    for (fmiValueReference vr = 0; vr < model().firstOutput; ++vr) {
        const auto& start = model().startValues[vr];
        values[vr] = random() % 8 == 0 ? 0x1p-1070 * static_cast<double>(random() % 64)
                     : start           ? *start * uniform(0.5, 1.5)
                                       : uniform(-0.2, 0.2);
    }
    // Values where the update would end the simulation leave the inputs at
    // zero, so that every suite can drive a model that may ask to terminate.
    if (model().requestsTermination(values)) {
        for (fmiValueReference vr = 0; vr < model().firstOutput; ++vr) {
            values[vr] = model().startValues[vr] ? values[vr] : 0.0;
        }
    }
    return values;
}

std::vector<fmiReal> SlaveTest::withForces(std::vector<fmiReal> values) const {
    return inModelEnvironment([&]() {
        model().equation(values);
        return values;
    });
}

std::vector<fmiReal> SlaveTest::afterStep(std::vector<fmiReal> values) const {
    return inModelEnvironment([&]() {
        for (int substep = 0; substep < 10; ++substep) {
            model().equation(values);
        }
        return values;
    });
}

const std::vector<std::pair<fmiReal, fmiReal>>& refusedSteps() {
    static const std::vector<std::pair<fmiReal, fmiReal>> steps = {
        {0.0, 0.0},      {0.0, -0.0}, {0.0, -0.1},     {0.0, NAN},
        {0.0, INFINITY}, {NAN, 0.1},  {-INFINITY, 0.1}};
    return steps;
}

std::vector<ReferenceStep> SlaveTest::computedReferenceSteps() const {
    std::ifstream reference(std::string(SLAVE_TEST_SOURCE_DIR) + "/identity/" + model().identifier +
                            ".txt");
    EXPECT_TRUE(reference);
    std::vector<ReferenceStep> steps;
    std::string line;
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
        ReferenceStep step{lineNumber, real(), real(), {}, {}};
        step.given.resize(model().realCount());
        for (auto& value : step.given) {
            value = real();
        }
        std::string bar;
        fields >> bar;
        step.expected.resize(model().realCount());
        for (auto& value : step.expected) {
            value = real();
        }
        // The 1.0 library computes at the substeps after -1.0, in the
        // model's floating-point environment; a step that ends after -1.0
        // computes at its last substep at least. A step size that reads as
        // zero there is a zero step, which the 1.0 library ends at once.
        const bool computed = inModelEnvironment([&]() {
            // Volatile both ways, so that the arithmetic stays between the
            // two changes of MXCSR.
            volatile fmiReal size = step.size;
            volatile fmiReal time = step.point;
            const fmiReal substep = model().substep(size);
            for (int n = 0; n < 10; ++n) {
                time = time + substep;
            }
            volatile bool result = time > -1.0 && size != 0.0;
            return static_cast<bool>(result);
        });
        const bool accepted =
            step.size > 0.0 && std::isfinite(step.size) && std::isfinite(step.point);
        if (computed && accepted) {
            steps.push_back(std::move(step));
        }
    }
    return steps;
}

void SlaveTest::expectTheMastersFloatingPointEnvironmentKept(const Driver& driver) {
    EXPECT_EQ(testContext().mxcsrAfterLoad, testContext().mxcsrBeforeLoad);
    const unsigned saved = floatingPointControl();
    setFloatingPointControl((saved & ~kFlushToZeroBits) | kRoundTowardZero);
    const unsigned master = mxcsrControl();
    // Beyond a limit by a subnormal amount at a subnormal rate for the
    // travel stop; a subnormal difference for the bars.
    const std::vector<fmiReal> knowns(model().realCount(), 0x1p-1060);
    driver.initialize(knowns);
    EXPECT_EQ(mxcsrControl(), master);
    for (const auto& call : driver.calls) {
        call();
        EXPECT_EQ(mxcsrControl(), master);
    }
    std::vector<fmiReal> fromOtherThread;
    std::thread([&]() {
        setFloatingPointControl(floatingPointControl() & ~kFlushToZeroBits);
        fromOtherThread = driver.stepAndRead();
        EXPECT_EQ(floatingPointControl() & kFlushToZeroBits, 0U);
    }).join();
    setFloatingPointControl(saved);
    EXPECT_TRUE(sameValues(withForces(knowns), driver.read()));
    EXPECT_TRUE(sameValues(withForces(knowns), fromOtherThread));
}
