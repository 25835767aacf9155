// One FMI 1.0 co-simulation slave of a loaded library, driven through the
// functions resolved by the model identifier. Every call's status is checked:
// fmiError, fmiFatal, fmiDiscard and fmiPending end the run (Failure with
// kExitSlaveFailed) after the slave's messages of that call have been shown.
// The slave runs in floating-point controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>

#include "FmiTypes.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"
#include "VersionSlave.h"

// The functions of a step, kept by the slave itself so that a step calls
// them without a further lookup.
extern "C" {
using Fmi1SetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t,
                                  const fmiReal*);
using Fmi1GetReal = fmiStatus (*)(fmiComponent, const fmiValueReference*, std::size_t, fmiReal*);
using Fmi1DoStep = fmiStatus (*)(fmiComponent, fmiReal, fmiReal, fmiBoolean);
}

class Slave final : public VersionSlave<Slave> {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them (its identifier is not the description's) or is not an FMI 1.0
    // "standard32" library.
    Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Slave() override;

    void instantiate(const std::string& fmuLocation) override;
    void enterInitialization(fmiReal startTime, fmiReal stopTime) override;
    void exitInitialization() override;
    void terminate() override;
    void freeInstance() override;

    // Called by the logger callback for each message of this slave.
    void receive(fmiStatus status, const char* instanceName, const char* category,
                 const std::string& text);

  private:
    friend class VersionSlave<Slave>;
    struct Functions;

    Slave(const Slave& loaded, AnotherInstance another);

    static const char* statusName(fmiStatus status);
    // FMI 1.0 Model Exchange is a library of another kind.
    static constexpr bool kHasModelExchange = false;
    static constexpr bool kHasFmuState = false;
    // The calls themselves, in the controls in force, defined here so that
    // they are inlined into a run's loop.
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

    std::unique_ptr<Functions> functions_;
    Fmi1SetReal setReal_ = nullptr;
    Fmi1GetReal getReal_ = nullptr;
    Fmi1DoStep doStep_ = nullptr;
    std::string prefix_;
    fmiReal startTime_ = 0.0;
    fmiReal stopTime_ = 0.0;
};
