// The fixture of the FMI 3.0 suites: the 3.0 functions of the library under
// test and short forms of the calls a 3.0 master makes. The end-of-test
// checks of SlaveTest apply unchanged; the master's allocator must see no
// request at all, since a 3.0 FMU's memory is its own.
#pragma once

#include <vector>

#include "SlaveTest.h"

class Fmi3SlaveTest : public SlaveTest {
  protected:
    void TearDown() override {
        EXPECT_EQ(recordingAllocator().requestCount(), 0U);
        // Every message reaches the master finished: no conversion left in it.
        for (const LogRecord& record : logs()) {
            EXPECT_EQ(record.text.find('%'), std::string::npos) << record.text;
        }
        SlaveTest::TearDown();
    }

    const Fmi3Functions& fmi3() const {
        return testContext().fmi3;
    }

    fmi3Instance instantiate3(fmi3Boolean loggingOn = fmi3False, fmi3String name = kName) {
        const fmi3Instance instance = fmi3().instantiateCoSimulation(
            name, model().guid.c_str(), nullptr, fmi3False, loggingOn, fmi3False, fmi3False,
            nullptr, 0, &fmi3Environment, recordingLogMessage, nullptr);
        EXPECT_NE(instance, nullptr);
        return instance;
    }

    fmi3Instance instantiateModelExchange(fmi3Boolean loggingOn = fmi3False) {
        const fmi3Instance instance =
            fmi3().instantiateModelExchange(kName, model().guid.c_str(), nullptr, fmi3False,
                                            loggingOn, &fmi3Environment, recordingLogMessage);
        EXPECT_NE(instance, nullptr);
        return instance;
    }

    // A Model Exchange instance through initialization, as stepMode(), into
    // event mode, or on into continuous-time mode.
    fmi3Instance eventMode(const std::vector<fmi3Float64>& values = {},
                           bool continuousTime = false) {
        const fmi3Instance instance = instantiateModelExchange();
        EXPECT_EQ(fmi3().enterInitializationMode(instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
                  fmi3OK);
        if (!values.empty()) {
            setKnowns(instance, values);
        }
        EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
        if (continuousTime) {
            EXPECT_EQ(fmi3().enterContinuousTimeMode(instance), fmi3OK);
        }
        return instance;
    }

    // Through initialization with the values given for the parameters and
    // inputs (all start values and zeros by default).
    fmi3Instance stepMode(const std::vector<fmi3Float64>& values = {},
                          fmi3Float64 startTime = 0.0) {
        const fmi3Instance instance = instantiate3();
        EXPECT_EQ(
            fmi3().enterInitializationMode(instance, fmi3False, 0.0, startTime, fmi3False, 0.0),
            fmi3OK);
        if (!values.empty()) {
            setKnowns(instance, values);
        }
        EXPECT_EQ(fmi3().exitInitializationMode(instance), fmi3OK);
        return instance;
    }

    std::vector<fmi3Float64> values3(fmi3Instance instance) {
        std::vector<fmi3ValueReference> vr(model().realCount());
        for (fmi3ValueReference i = 0; i < vr.size(); ++i) {
            vr[i] = i;
        }
        std::vector<fmi3Float64> values(vr.size());
        EXPECT_EQ(fmi3().getFloat64(instance, vr.data(), vr.size(), values.data(), values.size()),
                  fmi3OK);
        return values;
    }

    // Sets every parameter and input to its entry in values.
    void setKnowns(fmi3Instance instance, const std::vector<fmi3Float64>& values) {
        for (fmi3ValueReference vr = 0; vr < model().firstOutput; ++vr) {
            EXPECT_EQ(fmi3().setFloat64(instance, &vr, 1, &values[vr], 1), fmi3OK);
        }
    }

    // A step whose results must say: no event, no termination, no early
    // return. Yields the status and writes the last successful time.
    fmi3Status doStep(fmi3Instance instance, fmi3Float64 point, fmi3Float64 size,
                      fmi3Float64* lastSuccessfulTime = nullptr) {
        fmi3Boolean eventHandlingNeeded = fmi3True;
        fmi3Boolean terminateSimulation = fmi3True;
        fmi3Boolean earlyReturn = fmi3True;
        fmi3Float64 reached = -1.0;
        const fmi3Status status =
            fmi3().doStep(instance, point, size, fmi3True, &eventHandlingNeeded,
                          &terminateSimulation, &earlyReturn, &reached);
        if (status == fmi3OK) {
            EXPECT_FALSE(eventHandlingNeeded);
            EXPECT_FALSE(terminateSimulation);
            EXPECT_FALSE(earlyReturn);
        }
        if (lastSuccessfulTime != nullptr) {
            *lastSuccessfulTime = reached;
        }
        return status;
    }

    // The time a completed step reaches: the full step, in the model's
    // floating-point environment.
    fmi3Float64 stepEnd(fmi3Float64 point, fmi3Float64 size) const {
        return inModelEnvironment([&]() {
            volatile fmi3Float64 time = point + size;
            return static_cast<fmi3Float64>(time);
        });
    }

    // The model's partial derivative times a unit seed, computed in the
    // floating-point environment the model was validated in.
    fmi3Float64 partialOf(const std::vector<fmi3Float64>& values, fmi3ValueReference unknown,
                          fmi3ValueReference known) const {
        return inModelEnvironment([&]() {
            volatile fmi3Float64 unit = 1.0;
            volatile fmi3Float64 partial = model().partial(values, unknown, known) * unit;
            return static_cast<fmi3Float64>(partial);
        });
    }

    // The single message logged since the last clearLogs(), expected to be a
    // refusal.
    ::testing::AssertionResult refusedWith(const std::string& text) const;
};
