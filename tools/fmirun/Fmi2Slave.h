// One FMI 2.0 co-simulation slave of a loaded library. Every call's status is
// checked as for 1.0 (Slave.h): fmi2Error, fmi2Fatal, fmi2Discard and
// fmi2Pending end the run (Failure with kExitSlaveFailed) after the slave's
// messages of that call have been shown. The slave runs in floating-point
// controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>

#include "CoSimulationSlave.h"
#include "FloatingPoint.h"
#include "Fmi2Types.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"

class Fmi2Slave final : public CoSimulationSlave {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them or is not an FMI 2.0 library of the "default" types platform.
    Fmi2Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Fmi2Slave() override;
    Fmi2Slave(const Fmi2Slave&) = delete;
    Fmi2Slave& operator=(const Fmi2Slave&) = delete;

    // `fmuLocation`: the file URL of the unpacked archive's resources folder.
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
    void receive(fmi2Status status, const char* instanceName, const char* category,
                 const std::string& text);

  private:
    struct Functions;

    void setRealHere(const fmiValueReference* references, std::size_t count, const fmiReal* values);
    void getRealHere(const fmiValueReference* references, std::size_t count, fmiReal* values);
    void doStepHere(fmiReal communicationPoint, fmiReal stepSize);

    bool needsSettling(fmi2Status status) const {
        static_assert(fmi2OK == 0 && fmi2Warning == 1 && fmi2Discard == 2);
        return messages_.needsSettling(static_cast<unsigned>(status));
    }
    [[gnu::cold, gnu::noinline]] void settleSetReal(fmi2Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleGetReal(fmi2Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleDoStep(fmi2Status status, fmiReal communicationPoint,
                                                   fmiReal stepSize);
    void settle(fmi2Status status, const std::string& call, const std::string& results = {});
    // A call without arguments but the instance.
    void callPlain(fmi2Status (*function)(fmi2Component), const char* name);

    const ModelDescription& model_;
    SlaveOptions options_;
    FloatingPointControls controls_;
    void* library_ = nullptr;
    std::unique_ptr<Functions> functions_;
    fmi2CallbackFunctions callbacks_{};
    fmi2Component component_ = nullptr;
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
