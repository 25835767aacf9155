// One co-simulation slave of a loaded library, driven through the FMI 1.0
// functions resolved by the model identifier. Every call's status is checked:
// fmiError, fmiFatal, fmiDiscard and fmiPending end the run (Failure with
// kExitSlaveFailed) after the slave's messages of that call have been shown.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FmiTypes.h"
#include "ModelDescription.h"

struct SlaveOptions {
    bool showAllMessages = false;  // debug logging on, every message shown
    bool logCalls = false;         // every FMI call printed with its arguments
};

class Slave {
  public:
    // Loads the library and resolves the functions the master calls. Throws
    // Failure (kExitModel) when the library cannot be loaded, lacks one of
    // them (its identifier is not the description's) or is not an FMI 1.0
    // "standard32" library.
    Slave(const std::string& libraryPath, const ModelDescription& model, SlaveOptions options);
    ~Slave();
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    // Throws Failure (kExitModel) when the slave refuses: for this master's
    // callbacks and instance name that means the GUID is not the library's.
    void instantiate(const std::string& fmuLocation);
    void setReal(const std::vector<fmiValueReference>& references,
                 const std::vector<fmiReal>& values);
    std::vector<fmiReal> getReal(const std::vector<fmiValueReference>& references);
    void initialize(fmiReal startTime, fmiReal stopTime);
    void doStep(fmiReal communicationPoint, fmiReal stepSize);
    void terminate();
    void freeInstance();

    // Checks that every variable of the description is one of the library's
    // and that the library starts where the description says. Throws Failure
    // (kExitModel) otherwise. Call right after instantiate().
    void checkAgainstDescription();

    // Called by the logger callback for each message of this slave.
    void receive(fmiStatus status, const char* instanceName, const char* category,
                 const std::string& text);

  private:
    struct Functions;

    // `results` follows the status when calls are printed.
    void check(fmiStatus status, const std::string& call, const std::string& results = {});
    std::string variableName(char type, fmiValueReference reference) const;

    const ModelDescription& model_;
    SlaveOptions options_;
    void* library_ = nullptr;
    std::unique_ptr<Functions> functions_;
    fmiComponent component_ = nullptr;
    std::string prefix_;
    std::vector<std::string> messages_;  // of the current call, when not shown at once
    bool messageNeedsShowing_ = false;
};
