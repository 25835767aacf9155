// One FMI 3.0 co-simulation slave of a loaded library, without event mode
// and without early return. Every call's status is checked as for 1.0
// (Slave.h): fmi3Error, fmi3Fatal and fmi3Discard end the run (Failure with
// kExitSlaveFailed) after the slave's messages of that call have been shown,
// and so does a step that asks to terminate the simulation. The slave runs in
// floating-point controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>

#include "CoSimulationSlave.h"
#include "FloatingPoint.h"
#include "Fmi3Types.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"

class Fmi3Slave final : public CoSimulationSlave {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them or is not an FMI 2.0 library of the "default" types platform.
    Fmi3Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Fmi3Slave() override;
    Fmi3Slave(const Fmi3Slave&) = delete;
    Fmi3Slave& operator=(const Fmi3Slave&) = delete;

    // `fmuLocation`: the absolute path of the unpacked archive's resources
    // folder, with a trailing separator.
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
    void step(fmiReal communicationPoint, fmiReal stepSize) override;
    void terminate() override;
    void freeInstance() override;

    // Called by the logger callback for each message of this slave.
    void receive(fmi3Status status, const char* category, const char* text);

  private:
    struct Functions;

    void setRealHere(const fmiValueReference* references, std::size_t count, const fmiReal* values);
    void getRealHere(const fmiValueReference* references, std::size_t count, fmiReal* values);
    void doStepHere(fmiReal communicationPoint, fmiReal stepSize);

    bool needsSettling(fmi3Status status) const {
        static_assert(fmi3OK == 0 && fmi3Warning == 1 && fmi3Discard == 2);
        return messages_.needsSettling(static_cast<unsigned>(status));
    }
    // A step also needs it when the slave asks to end the simulation, or
    // returned early although the master does not allow it.
    bool stepNeedsSettling(fmi3Status status) const {
        return needsSettling(status) || stepResults_.terminateSimulation ||
               stepResults_.earlyReturn;
    }
    [[gnu::cold, gnu::noinline]] void settleSetReal(fmi3Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleGetReal(fmi3Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleDoStep(fmi3Status status, fmiReal communicationPoint,
                                                   fmiReal stepSize);
    void settle(fmi3Status status, const std::string& call, const std::string& results = {});
    // A call without arguments but the instance.
    void callPlain(fmi3Status (*function)(fmi3Instance), const char* name);

    const ModelDescription& model_;
    SlaveOptions options_;
    FloatingPointControls controls_;
    void* library_ = nullptr;
    std::unique_ptr<Functions> functions_;
    struct StepResults {
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminateSimulation = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        fmi3Float64 lastSuccessfulTime = 0.0;
    } stepResults_;
    fmi3Instance component_ = nullptr;
    SlaveMessages messages_;
    struct StepArrays {
        const fmiValueReference* inputReferences = nullptr;
        const fmiReal* inputs = nullptr;
        std::size_t inputCount = 0;
        const fmiValueReference* outputReferences = nullptr;
        fmiReal* outputs = nullptr;
        std::size_t outputCount = 0;
    } stepArrays_;
};
