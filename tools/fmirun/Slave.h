// One FMI 1.0 co-simulation slave of a loaded library, driven through the
// functions resolved by the model identifier. Every call's status is checked:
// fmiError, fmiFatal, fmiDiscard and fmiPending end the run (Failure with
// kExitSlaveFailed) after the slave's messages of that call have been shown.
// The slave runs in floating-point controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CoSimulationSlave.h"
#include "FloatingPoint.h"
#include "FmiTypes.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"

// The functions of a step, kept by the slave itself so that a step calls
// them without a further lookup.
extern "C" {
using Fmi1SetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t,
                                  const fmiReal*);
using Fmi1GetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t, fmiReal*);
using Fmi1DoStep = fmiStatus (*)(fmiComponent, fmiReal, fmiReal, fmiBoolean);
}

class Slave final : public CoSimulationSlave {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them (its identifier is not the description's) or is not an FMI 1.0
    // "standard32" library.
    Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Slave() override;
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    void instantiate(const std::string& fmuLocation) override;
    void checkAgainstDescription() override;

    void setReal(const fmiValueReference* references, std::size_t count,
                 const fmiReal* values) override;
    void getReal(const fmiValueReference* references, std::size_t count, fmiReal* values) override;
    void enterInitialization(fmiReal startTime, fmiReal stopTime) override;
    void exitInitialization() override;
    void doStep(fmiReal communicationPoint, fmiReal stepSize) override;
    void prepareSteps(const fmiValueReference* inputReferences, const fmiReal* inputs,
                      std::size_t inputCount, const fmiValueReference* outputReferences,
                      fmiReal* outputs, std::size_t outputCount) override;
    // Defined here, so that a run that knows its slave is this one (the class
    // is final) calls it directly and has it inlined into its loop.
    void step(fmiReal communicationPoint, fmiReal stepSize) override {
        const InSlaveControls inSlave(controls_);
        const StepArrays& arrays = stepArrays_;
        if (arrays.inputCount > 0) {
            setRealHere(arrays.inputReferences, arrays.inputCount, arrays.inputs);
        }
        doStepHere(communicationPoint, stepSize);
        if (arrays.outputCount > 0) {
            getRealHere(arrays.outputReferences, arrays.outputCount, arrays.outputs);
        }
    }
    void terminate() override;
    void freeInstance() override;

    // Called by the logger callback for each message of this slave.
    void receive(fmiStatus status, const char* instanceName, const char* category,
                 const std::string& text);

  private:
    struct Functions;

    // The calls themselves, in the controls in force.
    void setRealHere(const fmiValueReference* references, std::size_t count,
                     const fmiReal* values) {
        const fmiStatus status = setReal_(component_, references, count, values);
        if (needsSettling(status)) {
            settleSetReal(status, references, count, values);
        }
    }
    void getRealHere(const fmiValueReference* references, std::size_t count, fmiReal* values) {
        const fmiStatus status = getReal_(component_, references, count, values);
        if (needsSettling(status)) {
            settleGetReal(status, references, count, values);
        }
    }
    void doStepHere(fmiReal communicationPoint, fmiReal stepSize) {
        const fmiStatus status = doStep_(component_, communicationPoint, stepSize, fmiTrue);
        if (needsSettling(status)) {
            settleDoStep(status, communicationPoint, stepSize);
        }
    }

    // A call needs more than its status checked when it failed, when calls
    // are printed, or when it left messages; only then is its text built.
    bool needsSettling(fmiStatus status) const {
        static_assert(fmiOK == 0 && fmiWarning == 1 && fmiDiscard == 2);
        return messages_.needsSettling(static_cast<unsigned>(status));
    }
    // The slow side of each call, out of line so that the call itself stays
    // small: the call's text built, printed, its failure reported.
    [[gnu::cold, gnu::noinline]] void settleSetReal(fmiStatus status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleGetReal(fmiStatus status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleDoStep(fmiStatus status, fmiReal communicationPoint,
                                                   fmiReal stepSize);
    // `results` follows the status when calls are printed.
    void settle(fmiStatus status, const std::string& call, const std::string& results = {});

    const ModelDescription& model_;
    SlaveOptions options_;
    FloatingPointControls controls_;
    void* library_ = nullptr;
    std::unique_ptr<Functions> functions_;
    Fmi1SetReal setReal_ = nullptr;
    Fmi1GetReal getReal_ = nullptr;
    Fmi1DoStep doStep_ = nullptr;
    fmiComponent component_ = nullptr;
    std::string prefix_;
    SlaveMessages messages_;
    fmiReal startTime_ = 0.0;
    fmiReal stopTime_ = 0.0;
    struct StepArrays {
        const fmiValueReference* inputReferences = nullptr;
        const fmiReal* inputs = nullptr;
        std::size_t inputCount = 0;
        const fmiValueReference* outputReferences = nullptr;
        fmiReal* outputs = nullptr;
        std::size_t outputCount = 0;
    } stepArrays_;
};
