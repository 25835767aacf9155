// What a run needs of a slave, whatever the FMI version of its library: the
// calls of a run from instantiation to release, each of which checks the
// status the slave returns. A 2.0 or 3.0 slave may be instantiated for Model
// Exchange instead (SlaveOptions::modelExchange): it is then evaluated at
// each communication point (evaluateAt) rather than stepped. One implementation per FMI version
// (Slave.h: FMI 1.0, Fmi2Slave.h, Fmi3Slave.h) keeps its own function names,
// types and logging.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "FmiTypes.h"

class Slave;

class CoSimulationSlave {
  public:
    virtual ~CoSimulationSlave() = default;

    // Throws Failure (kExitModel) when the slave refuses: for this master's
    // callbacks and instance name that means the GUID is not the library's.
    virtual void instantiate(const std::string& fmuLocation) = 0;
    // Checks that every variable of the description is one of the library's
    // and that the library starts where the description says. Throws Failure
    // (kExitModel) otherwise. Called right after enterInitialization(), where
    // every version lets its variables be read.
    virtual void checkAgainstDescription() = 0;

    // These throw Failure (kExitSlaveFailed) when the slave fails, after its
    // messages of that call have been shown.
    virtual void setReal(const fmiValueReference* references, std::size_t count,
                         const fmiReal* values) = 0;
    virtual void getReal(const fmiValueReference* references, std::size_t count,
                         fmiReal* values) = 0;
    // Initialization in two halves, so that the start values are set between
    // them: 2.0 and 3.0 take them in initialization mode and compute their
    // outputs when it ends; 1.0 does everything in its one call at the end.
    virtual void enterInitialization(fmiReal startTime, fmiReal stopTime) = 0;
    virtual void exitInitialization() = 0;
    virtual void doStep(fmiReal communicationPoint, fmiReal stepSize) = 0;
    // Where each step() takes its inputs from and puts its outputs: arrays
    // that outlive the steps, given once so that a step passes only times.
    virtual void prepareSteps(const fmiValueReference* inputReferences, const fmiReal* inputs,
                              std::size_t inputCount, const fmiValueReference* outputReferences,
                              fmiReal* outputs, std::size_t outputCount) = 0;
    // The calls of one communication step, made together so that the master
    // switches to the slave's floating-point controls once for them: the
    // inputs set (unless there are none), the step, the outputs read.
    virtual void step(fmiReal communicationPoint, fmiReal stepSize) = 0;
    // Model Exchange, in continuous-time mode: the outputs at `time` from
    // the inputs there (the arrays of prepareSteps): the time set, the inputs
    // set, the outputs read and the integrator step completed, with an event
    // iteration, and the outputs read again, when the slave asks for one or
    // its next time event has come. Throws Failure (kExitSlaveFailed) when
    // the slave fails or asks to terminate.
    virtual void evaluateAt(fmiReal time) = 0;
    bool isModelExchange() const {
        return modelExchange_;
    }
    // The slave's state as the bytes of its serialized FMU state, and the
    // state set from such bytes (2.0 and 3.0; a 1.0 slave has none and
    // throws Failure kExitUsage). Throw Failure (kExitSlaveFailed) when the
    // slave fails, as when it refuses the bytes.
    virtual std::string saveState() = 0;
    virtual void restoreState(const std::string& bytes) = 0;
    virtual void terminate() = 0;
    virtual void freeInstance() = 0;

    // A slave of its own of the same library, for a run in any thread: the
    // library is not loaded again (its file may be gone by then), and the
    // slave starts from the floating-point controls the library left when it
    // was loaded, as this one did, whatever the controls of the thread that
    // runs it. This one keeps the library loaded, so it must outlive the
    // other.
    virtual std::unique_ptr<CoSimulationSlave> another() const = 0;

    // The slave as an FMI 1.0 one, whose step a run calls directly, or null.
    Slave* fmi1Slave() const {
        return fmi1_;
    }

  protected:
    Slave* fmi1_ = nullptr;  // set by that wrapper alone
    bool modelExchange_ = false;
};
