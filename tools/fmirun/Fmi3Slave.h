// One FMI 3.0 co-simulation slave of a loaded library, without event mode
// and without early return; or, with SlaveOptions::modelExchange, a Model
// Exchange one without continuous states or event indicators. Every call's status is checked as
// for 1.0 (Slave.h): fmi3Error, fmi3Fatal and fmi3Discard end the run (Failure with
// kExitSlaveFailed) after the slave's messages of that call have been shown,
// and so does a step that asks to terminate the simulation. The slave runs in
// floating-point controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>

#include "Fmi3Types.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"
#include "VersionSlave.h"

class Fmi3Slave final : public VersionSlave<Fmi3Slave> {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them or is not an FMI 3.0 library.
    Fmi3Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Fmi3Slave() override;

    // `fmuLocation`: the absolute path of the unpacked archive's resources
    // folder, with a trailing separator.
    void instantiate(const std::string& fmuLocation) override;
    void enterInitialization(fmiReal startTime, fmiReal stopTime) override;
    void exitInitialization() override;
    void terminate() override;
    void freeInstance() override;

    // Called by the logger callback for each message of this slave.
    void receive(fmi3Status status, const char* category, const char* text);

  private:
    friend class VersionSlave<Fmi3Slave>;
    struct Functions;

    Fmi3Slave(const Fmi3Slave& loaded, AnotherInstance another);

    static const char* statusName(fmi3Status status);
    void setRealHere(const fmiValueReference* references, std::size_t count, const fmiReal* values);
    void getRealHere(const fmiValueReference* references, std::size_t count, fmiReal* values);
    void doStepHere(fmiReal communicationPoint, fmiReal stepSize);
    static constexpr bool kHasModelExchange = true;
    static constexpr bool kHasFmuState = true;
    std::string saveStateHere();
    void restoreStateHere(const std::string& bytes);
    void setTimeHere(fmiReal time);
    // Whether an event iteration followed the completed step.
    bool completeIntegratorStepHere(fmiReal time);
    // In event mode: fmi3UpdateDiscreteStates until the slave needs no more,
    // then into continuous-time mode.
    void iterateEvents();

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

    std::unique_ptr<Functions> functions_;
    struct StepResults {
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminateSimulation = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        fmi3Float64 lastSuccessfulTime = 0.0;
    } stepResults_;
    bool nextEventTimeDefined_ = false;
    fmiReal nextEventTime_ = 0.0;
};
