// One FMI 2.0 slave of a loaded library, a co-simulation one or, with
// SlaveOptions::modelExchange, a Model Exchange one without continuous
// states or event indicators. Every call's status is
// checked as for 1.0 (Slave.h): fmi2Error, fmi2Fatal, fmi2Discard and
// fmi2Pending end the run (Failure with kExitSlaveFailed) after the slave's
// messages of that call have been shown. The slave runs in floating-point
// controls of its own (FloatingPoint.h).
#pragma once

#include <memory>
#include <string>

#include "Fmi2Types.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"
#include "VersionSlave.h"

class Fmi2Slave final : public VersionSlave<Fmi2Slave> {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them or is not an FMI 2.0 library of the "default" types platform.
    Fmi2Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Fmi2Slave() override;

    // `fmuLocation`: the file URL of the unpacked archive's resources folder.
    void instantiate(const std::string& fmuLocation) override;
    void enterInitialization(fmiReal startTime, fmiReal stopTime) override;
    void exitInitialization() override;
    void terminate() override;
    void freeInstance() override;

    // Called by the logger callback for each message of this slave.
    void receive(fmi2Status status, const char* instanceName, const char* category,
                 const std::string& text);

  private:
    friend class VersionSlave<Fmi2Slave>;
    struct Functions;

    Fmi2Slave(const Fmi2Slave& loaded, AnotherInstance another);

    static const char* statusName(fmi2Status status);
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
    // In event mode: fmi2NewDiscreteStates until the slave needs no more,
    // then into continuous-time mode.
    void iterateEvents();

    [[gnu::cold, gnu::noinline]] void settleSetReal(fmi2Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleGetReal(fmi2Status status,
                                                    const fmiValueReference* references,
                                                    std::size_t count, const fmiReal* values);
    [[gnu::cold, gnu::noinline]] void settleDoStep(fmi2Status status, fmiReal communicationPoint,
                                                   fmiReal stepSize);

    std::unique_ptr<Functions> functions_;
    fmi2CallbackFunctions callbacks_{};
    bool nextEventTimeDefined_ = false;
    fmiReal nextEventTime_ = 0.0;
};
