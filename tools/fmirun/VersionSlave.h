// The shape the wrappers of every FMI version share, so that each keeps only
// what its version differs in: the library loaded in the slave's own
// floating-point controls, each call made in those controls, its status
// settled, and the calls of a step. `Version` is the wrapper itself, a final
// class that provides the calls themselves, made in the controls in force
// (setRealHere, getRealHere, doStepHere), and names its statuses
// (statusName); a run that knows its slave's class calls its step directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "CoSimulationSlave.h"
#include "Console.h"
#include "Failure.h"
#include "FloatingPoint.h"
#include "ModelDescription.h"
#include "SlaveSupport.h"

template <typename Version>
class VersionSlave : public CoSimulationSlave {
  public:
    ~VersionSlave() override {
        if (ownsLibrary_) {
            unloadLibrary(library_, controls_);
        }
    }
    VersionSlave(const VersionSlave&) = delete;
    VersionSlave& operator=(const VersionSlave&) = delete;

    std::unique_ptr<CoSimulationSlave> another() const final {
        return std::unique_ptr<CoSimulationSlave>(
            new Version(static_cast<const Version&>(*this), AnotherInstance{}));
    }

    void checkAgainstDescription() final {
        checkStartValues(*this, model_);
    }
    void setReal(const fmiValueReference* references, std::size_t count,
                 const fmiReal* values) final {
        const InSlaveControls inSlave(controls_);
        version().setRealHere(references, count, values);
    }
    void getReal(const fmiValueReference* references, std::size_t count, fmiReal* values) final {
        const InSlaveControls inSlave(controls_);
        version().getRealHere(references, count, values);
    }
    void doStep(fmiReal communicationPoint, fmiReal stepSize) final {
        const InSlaveControls inSlave(controls_);
        version().doStepHere(communicationPoint, stepSize);
    }
    void prepareSteps(const fmiValueReference* inputReferences, const fmiReal* inputs,
                      std::size_t inputCount, const fmiValueReference* outputReferences,
                      fmiReal* outputs, std::size_t outputCount) final {
        stepArrays_ = {inputReferences, inputs, inputCount, outputReferences, outputs, outputCount};
    }
    // Defined here, so that a run that knows its slave's class calls it
    // directly and has it inlined into its loop.
    void evaluateAt(fmiReal time) final {
        if constexpr (Version::kHasModelExchange) {
            const InSlaveControls inSlave(controls_);
            const StepArrays& arrays = stepArrays_;
            version().setTimeHere(time);
            if (arrays.inputCount > 0) {
                version().setRealHere(arrays.inputReferences, arrays.inputCount, arrays.inputs);
            }
            if (arrays.outputCount > 0) {
                version().getRealHere(arrays.outputReferences, arrays.outputCount, arrays.outputs);
            }
            if (version().completeIntegratorStepHere(time) && arrays.outputCount > 0) {
                version().getRealHere(arrays.outputReferences, arrays.outputCount, arrays.outputs);
            }
        }
    }
    std::string saveState() final {
        if constexpr (Version::kHasFmuState) {
            return version().saveStateHere();
        } else {
            throw Failure(kExitUsage, "an FMI 1.0 slave has no FMU state to save");
        }
    }
    void restoreState(const std::string& bytes) final {
        if constexpr (Version::kHasFmuState) {
            version().restoreStateHere(bytes);
        } else {
            throw Failure(kExitUsage, "an FMI 1.0 slave has no FMU state to restore");
        }
    }
    void step(fmiReal communicationPoint, fmiReal stepSize) final {
        const InSlaveControls inSlave(controls_);
        const StepArrays& arrays = stepArrays_;
        if (arrays.inputCount > 0) {
            version().setRealHere(arrays.inputReferences, arrays.inputCount, arrays.inputs);
        }
        version().doStepHere(communicationPoint, stepSize);
        if (arrays.outputCount > 0) {
            version().getRealHere(arrays.outputReferences, arrays.outputCount, arrays.outputs);
        }
    }

  protected:
    VersionSlave(const std::string& libraryPath, const ModelDescription& model,
                 SlaveOptions options)
        : model_(model),
          options_(options),
          // A slave starts from the master's controls and keeps what it sets.
          controls_(currentFloatingPointControls()),
          library_(loadLibrary(libraryPath, controls_)),
          loadedControls_(controls_),
          messages_(options) {
        requireVersionOfDescription(library_, model_, libraryPath);
        modelExchange_ = options.modelExchange;
    }

    // Another slave of the library that `loaded` holds (another()); each
    // version's constructor of this kind copies the functions it resolved.
    struct AnotherInstance {};
    VersionSlave(const VersionSlave& loaded, AnotherInstance)
        : model_(loaded.model_),
          options_(loaded.options_),
          controls_(loaded.loadedControls_),
          library_(loaded.library_),
          loadedControls_(loaded.loadedControls_),
          ownsLibrary_(false),
          messages_(loaded.options_) {
        modelExchange_ = loaded.modelExchange_;
    }

    // Whether this slave loaded the library: the one that outlives the others.
    bool ownsLibrary() const {
        return ownsLibrary_;
    }

    // One function of the library called in the slave's controls.
    template <typename Result, typename... Parameters, typename... Arguments>
    Result inSlave(Result (*function)(Parameters...), Arguments... arguments) {
        const InSlaveControls inSlave(controls_);
        return function(arguments...);
    }

    // In every version 0 is OK, 1 a warning and above that a failure.
    template <typename Status>
    static bool answered(Status status) {
        return static_cast<unsigned>(status) <= 1;
    }
    // A call needs more than its status checked when it failed, when calls
    // are printed, or when it left messages; only then is its text built.
    template <typename Status>
    bool needsSettling(Status status) const {
        return messages_.needsSettling(static_cast<unsigned>(status));
    }
    // `results` follows the status when calls are printed.
    template <typename Status>
    void settle(Status status, const std::string& call, const std::string& results = {}) {
        messages_.settle(!answered(status), Version::statusName(status), call, results);
    }
    // A call of the instance alone, `call` its text: settled when it needs it,
    // or `always`.
    template <typename Status>
    void callInstance(Status (*function)(void*), const std::string& call, bool always = false) {
        const Status status = inSlave(function, component_);
        if (always || needsSettling(status)) {
            settle(status, call);
        }
    }
    // After instantiation: a slave that gave no instance has its messages
    // shown and the run refused; for this master's callbacks and instance
    // name that means the model description's `token` is not the library's.
    void requireInstance(const char* token) {
        if (component_ == nullptr) {
            messages_.show();
            throw Failure(kExitModel,
                          std::string("the library refused to instantiate the slave of the model "
                                      "description (") +
                              token + " " + model_.guid + ")");
        }
        messages_.clear();
    }
    void freeInstanceWith(void (*function)(void*), const std::string& call) {
        inSlave(function, component_);
        component_ = nullptr;
        if (options_.logCalls) {
            console::fmiCall("fmi: " + call);
        }
        messages_.clear();
    }

    const ModelDescription& model_;
    SlaveOptions options_;
    FloatingPointControls controls_;
    void* library_ = nullptr;
    FloatingPointControls loadedControls_;  // as the library left them when loaded
    bool ownsLibrary_ = true;
    void* component_ = nullptr;
    SlaveMessages messages_;
    // The event iteration of Model Exchange can go on only so long: a slave
    // that keeps asking for another is refused.
    static constexpr int kMostEventIterations = 1000;

    struct StepArrays {
        const fmiValueReference* inputReferences = nullptr;
        const fmiReal* inputs = nullptr;
        std::size_t inputCount = 0;
        const fmiValueReference* outputReferences = nullptr;
        fmiReal* outputs = nullptr;
        std::size_t outputCount = 0;
    } stepArrays_;

  private:
    Version& version() {
        return static_cast<Version&>(*this);
    }
};
