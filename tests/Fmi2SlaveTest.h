// The fixture of the FMI 2.0 suites: the 2.0 functions of the library under
// test and short forms of the calls a 2.0 master makes. The end-of-test
// checks of SlaveTest (leaks, frees, nulls handed to "%s") apply unchanged.
#pragma once

#include <vector>

#include "MachineStates.h"
#include "SlaveTest.h"

class Fmi2SlaveTest : public SlaveTest {
  protected:
    const Fmi2Functions& fmi2() const {
        return testContext().fmi2;
    }

    fmi2Component instantiate2(fmi2Boolean loggingOn = fmi2False,
                               fmi2Type type = fmi2CoSimulation) {
        const fmi2CallbackFunctions callbacks = recordingCallbacks2();
        const fmi2Component c = fmi2().instantiate(kName, type, model().guid.c_str(), nullptr,
                                                   &callbacks, fmi2False, loggingOn);
        EXPECT_NE(c, nullptr);
        return c;
    }

    // Through initialization with the values given for the parameters and
    // inputs (all start values and zeros by default).
    fmi2Component stepComplete(const std::vector<fmi2Real>& values = {}) {
        const fmi2Component c = instantiate2();
        EXPECT_EQ(fmi2().enterInitializationMode(c), fmi2OK);
        if (!values.empty()) {
            setKnowns(c, values);
        }
        EXPECT_EQ(fmi2().exitInitializationMode(c), fmi2OK);
        return c;
    }

    // A Model Exchange instance through initialization and event mode.
    fmi2Component continuousTimeMode(const std::vector<fmi2Real>& values = {}) {
        const fmi2Component c = instantiate2(fmi2False, fmi2ModelExchange);
        EXPECT_EQ(fmi2().enterInitializationMode(c), fmi2OK);
        if (!values.empty()) {
            setKnowns(c, values);
        }
        EXPECT_EQ(fmi2().exitInitializationMode(c), fmi2OK);
        EXPECT_EQ(fmi2().enterContinuousTimeMode(c), fmi2OK);
        return c;
    }

    // An instance of either interface in one of its states, with the values
    // given for the parameters and inputs; Error after a refused call.
    fmi2Component inState2(MachineState state, fmi2Type type = fmi2CoSimulation,
                           const std::vector<fmi2Real>& values = {}) {
        const fmi2Component c = instantiate2(fmi2False, type);
        if (!values.empty()) {
            setKnowns(c, values);
        }
        if (state == Error) {
            EXPECT_EQ(fmi2().terminate(c), fmi2Error);
            return c;
        }
        if (state != Instantiated) {
            EXPECT_EQ(fmi2().enterInitializationMode(c), fmi2OK);
        }
        if (state != Instantiated && state != InitializationMode) {
            EXPECT_EQ(fmi2().exitInitializationMode(c), fmi2OK);
        }
        if (state == ContinuousTimeMode) {
            EXPECT_EQ(fmi2().enterContinuousTimeMode(c), fmi2OK);
        }
        if (state == Terminated) {
            EXPECT_EQ(fmi2().terminate(c), fmi2OK);
        }
        return c;
    }

    std::vector<fmi2Real> values2(fmi2Component c) {
        std::vector<fmi2ValueReference> vr(model().realCount());
        for (fmi2ValueReference i = 0; i < vr.size(); ++i) {
            vr[i] = i;
        }
        std::vector<fmi2Real> values(vr.size());
        EXPECT_EQ(fmi2().getReal(c, vr.data(), vr.size(), values.data()), fmi2OK);
        return values;
    }

    // Sets every parameter and input to its entry in values.
    void setKnowns(fmi2Component c, const std::vector<fmi2Real>& values) {
        for (fmi2ValueReference vr = 0; vr < model().firstOutput; ++vr) {
            EXPECT_EQ(fmi2().setReal(c, &vr, 1, &values[vr]), fmi2OK);
        }
    }
};
